/// \file
/// Properties and property bags: named variant values, and name-to-variant maps whose names
/// compare without regard to the case of the letters A to Z (and only those: "Width" and
/// "WIDTH" are one name, "Ä" and "ä" two). Bags copy values in and out; properties share the
/// value object they are given.
///
/// A bag has two XML forms. The property form (CreateXMLFromPropertyBag and
/// RestorePropertyBagFromXML in <kdtrace/exports.h>) writes one PROPERTY element per entry with
/// its kind and, for dates, its mask, and reads it back. The compact form (IPLSerializeXML into
/// an IPLXMLWriter) writes one element per entry named after it, its value in CDATA, and is
/// written only.
#ifndef KDTRACE_PROPERTYBAG_H
#define KDTRACE_PROPERTYBAG_H

#include <kdtrace/collection.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

struct IPLVariant;
struct IPLXMLWriter;
struct IPLPropertyCollection;

// clang-format off
/// Identifier of IPLPropertyBag.
inline constexpr GUID IID_IPLPropertyBag = {0x056C549C, 0xE7FD, 0x4F21, {0xAA, 0x0E, 0x8C, 0xF6, 0xC0, 0xA5, 0xB7, 0x10}};
/// Identifier of IPLPersistPropertyBag.
inline constexpr GUID IID_IPLPersistPropertyBag = {0xE5E8A47A, 0x5E4B, 0x4D95, {0xB3, 0x8B, 0xD2, 0x0B, 0xB0, 0x75, 0x98, 0xC9}};
/// Identifier of IPLSerializeXML.
inline constexpr GUID IID_IPLSerializeXML = {0xC2E95A60, 0xEBD5, 0x4B72, {0x9F, 0xA1, 0xCB, 0x50, 0xF2, 0x85, 0xB4, 0xC9}};
/// Identifier of IPLPropertyBagListener.
inline constexpr GUID IID_IPLPropertyBagListener = {0x815BD8DE, 0xD116, 0x4DD3, {0xB3, 0x78, 0xE9, 0x25, 0x38, 0xDD, 0x2F, 0x71}};
/// Identifier of IPLProperty.
inline constexpr GUID IID_IPLProperty = {0x2A5A22CE, 0x250D, 0x47DA, {0xA6, 0x84, 0x2F, 0xBC, 0xA8, 0x67, 0x4B, 0x8C}};
/// Identifier of IPLPropertyCollection.
inline constexpr GUID IID_IPLPropertyCollection = {0x29FACFF4, 0x2B02, 0x486D, {0x91, 0x09, 0xEC, 0xA8, 0x95, 0xEC, 0x5E, 0x5F}};
/// Identifier of IPLPropertyBagCollection.
inline constexpr GUID IID_IPLPropertyBagCollection = {0xDA53B73C, 0xE5AD, 0x463C, {0xB2, 0xE4, 0xC0, 0x78, 0x9D, 0xB7, 0x0F, 0xA8}};
/// Class of the general-purpose bag (IPLPropertyBag, IPLPersistPropertyBag, IPLSerializeXML,
/// IPLEventSource for IPLPropertyBagListener); PLCreatePropertyBag makes one too.
inline constexpr GUID CLSID_PLPropertyBag = {0x469C1485, 0x69CC, 0x4073, {0xB3, 0x3D, 0xA2, 0x8A, 0xEA, 0x3A, 0xBD, 0xCF}};
/// Class of a property (IPLProperty, IPLSerializeXML).
inline constexpr GUID CLSID_PLProperty = {0xF621F703, 0xFC7B, 0x40E6, {0xBD, 0x9F, 0x68, 0x13, 0x4B, 0xE4, 0xC3, 0x57}};
/// Class of a property collection (IPLPropertyCollection, IPLEventSource).
inline constexpr GUID CLSID_PLPropertyCollection = {0x23DADC3F, 0x612F, 0x4E5B, {0x9F, 0x3C, 0xE5, 0x5D, 0xC2, 0xEA, 0x00, 0xE7}};
/// Class of a property-bag collection (IPLPropertyBagCollection, IPLEventSource).
inline constexpr GUID CLSID_PLPropertyBagCollection = {0x4D4E29DE, 0x8954, 0x492A, {0xB5, 0xF3, 0x02, 0x43, 0x79, 0x32, 0x89, 0x52}};
// clang-format on

/// A name-to-variant map. Values are copied in (SetProperty) and out (GetProperty). Not
/// synchronised: a bag shared between threads needs the caller's lock. Failures are E_FAIL with
/// the reason in the thread's error list unless stated; a null pointer gives E_POINTER.
struct IPLPropertyBag : IUnknown {
    /// Slot 3: stores a copy of `value` under `name`, replacing a value stored under the name
    /// (the name keeps the spelling it was first stored with). Listeners of a general-purpose
    /// bag are then told, with the caller's value object.
    /// \param name   the name
    /// \param value  the value (copied: later changes to it do not reach the bag)
    /// \return S_OK; E_FAIL when a constrained bag does not allow the name or the value cannot
    ///         be copied (the bag unchanged); E_POINTER.
    virtual HRESULT SetProperty(const WCHAR* name, IPLVariant* value) = 0;
    /// Slot 4: a new copy of the value stored under `name`.
    /// \param name   the name (A-Z in any case)
    /// \param value  receives the copy, with one reference; untouched when the name is absent
    /// \return S_OK; **S_FALSE when the name is absent** (test for S_OK, not SUCCEEDED);
    ///         E_FAIL when a constrained bag does not allow the name; E_POINTER.
    virtual HRESULT GetProperty(const WCHAR* name, IPLVariant** value) = 0;
    /// Slot 5: every entry, in name order, as a new collection of properties; the properties
    /// share the bag's value objects (changing one changes the bag).
    /// \param collection  receives it, with one reference
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetProperties(IPLPropertyCollection** collection) = 0;
    /// Slot 6: whether a name is present.
    /// \param name      the name
    /// \param contains  receives 1 or 0
    /// \return S_OK when present, S_FALSE when not; E_POINTER.
    virtual HRESULT ContainsKey(const WCHAR* name, BOOL* contains) = 0;
    /// Slot 7: removes an entry.
    /// \param name  the name
    /// \return S_OK when removed; S_FALSE when absent (a constrained bag, such as an error
    ///         item, removes nothing); E_POINTER.
    virtual HRESULT DeleteProperty(const WCHAR* name) = 0;
};

/// Copying between bags.
struct IPLPersistPropertyBag : IUnknown {
    /// Slot 3: sets every entry of this bag in `bag` (SetProperty, results not checked).
    /// \param bag  the bag to fill
    /// \return S_OK; E_POINTER.
    virtual HRESULT Save(IPLPropertyBag* bag) = 0;
    /// Slot 4: reads this object's fields from `bag`: an error item its Module, Class, Method,
    /// Message, Result, Type and ID.
    /// \param bag  the bag to read
    /// \return S_OK; E_NOTIMPL for a general-purpose bag; E_POINTER.
    virtual HRESULT Load(IPLPropertyBag* bag) = 0;
};

/// Objects that write themselves in the compact element form into an IPLXMLWriter: a property
/// as `<Name><![CDATA[value text]]></Name>`, a bag as its properties in name order.
struct IPLSerializeXML : IUnknown {
    /// Slot 3: appends the object's XML to the writer.
    /// \param writer  the writer
    /// \param flags   bit 0: a bag encloses its entries in `<PropertyBag>` ... `</PropertyBag>`
    /// \return S_OK; E_FAIL for a value whose text form does not fit 255 characters, or an
    ///         object value that cannot write itself; E_POINTER.
    virtual HRESULT WriteXML(IPLXMLWriter* writer, LONG flags) = 0;
};

/// Told of every successful SetProperty of a general-purpose bag. Registered through the bag's
/// IPLEventSource under IID_IPLPropertyBagListener.
struct IPLPropertyBagListener : IUnknown {
    /// Slot 3: one property set, on the thread that set it.
    /// \param name   the name as given to SetProperty
    /// \param value  the caller's value object (not the bag's copy)
    /// \return ignored.
    virtual HRESULT PropertySet(const WCHAR* name, IPLVariant* value) = 0;
};

/// A named value: the name and a shared value object (CLSID_PLProperty; bags hand them out in
/// GetProperties).
struct IPLProperty : IUnknown {
    /// Slot 3: sets name and value.
    /// \param name   the name; at most 254 characters are kept (longer ones are cut)
    /// \param value  the value object, held by reference (not copied)
    /// \return S_OK; E_POINTER for a null `name`.
    virtual HRESULT Initialize(const WCHAR* name, IPLVariant* value) = 0;
    /// Slot 4: the name.
    /// \param buffer  receives it, cut to `size` - 1 characters
    /// \param size    the buffer's size in characters
    /// \return S_OK; E_POINTER; E_INVALIDARG for a size below 1.
    virtual HRESULT GetName(WCHAR* buffer, LONG size) = 0;
    /// Slot 5: the value object itself (changing it changes the property, and the bag it came
    /// from).
    /// \param value  receives it with a reference added (null before Initialize)
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetValue(IPLVariant** value) = 0;
};

/// Orders two properties for IPLPropertyCollection::Sort.
/// \param a       an item placed already
/// \param b       the item being placed
/// \param result  receives a value above 0 to put `b` before `a`
/// \return S_OK; a failure ends the sort with that code.
typedef HRESULT (*PLPropertyCompareFunction)(IPLProperty* a, IPLProperty* b, LONG* result);
/// Orders two bags for IPLPropertyBagCollection::Sort.
/// \param a       an item placed already
/// \param b       the item being placed
/// \param result  receives a value above 0 to put `b` before `a`
/// \return S_OK; a failure ends the sort with that code.
typedef HRESULT (*PLPropertyBagCompareFunction)(IPLPropertyBag* a, IPLPropertyBag* b, LONG* result);

/// An ordered list of properties (CLSID_PLPropertyCollection; IPLPropertyBag::GetProperties).
/// The operations are those of IPLTraceContextCollection. Properties have no identifier, name
/// lookup or equality in the collection: FindByID and FindByName always fail, and the duplicate
/// searches succeed only for entries holding the same pointer; walk the items with
/// IPLProperty::GetName instead.
struct IPLPropertyCollection : IUnknown {
    /// \copydoc IPLTraceContextCollection::GetCount
    virtual LONG GetCount() = 0;
    /// \copydoc IPLTraceContextCollection::GetAt
    virtual HRESULT GetAt(LONG index, IPLProperty** item) = 0;
    /// \copydoc IPLTraceContextCollection::RemoveAll
    virtual HRESULT RemoveAll() = 0;
    /// \copydoc IPLTraceContextCollection::ReservedA
    virtual HRESULT ReservedA(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::Insert
    virtual HRESULT Insert(IPLProperty* item) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedB
    virtual HRESULT ReservedB(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::InsertAt
    virtual HRESULT InsertAt(IPLProperty* item, LONG position, LONG index) = 0;
    /// \copydoc IPLVariantCollection::FindByID
    virtual HRESULT FindByID(ULONG id, IPLProperty** item) = 0;
    /// \copydoc IPLVariantCollection::CheckExistsByID
    virtual HRESULT CheckExistsByID(ULONG id, BOOL* exists) = 0;
    /// \copydoc IPLVariantCollection::FindByName
    virtual HRESULT FindByName(const WCHAR* name, IPLProperty** item) = 0;
    /// \copydoc IPLTraceContextCollection::Remove
    virtual HRESULT Remove(IPLProperty* item) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedC
    virtual HRESULT ReservedC(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::Sort
    virtual HRESULT Sort(PLPropertyCompareFunction compare) = 0;
    /// \copydoc IPLTraceContextCollection::SetReadOnly
    virtual HRESULT SetReadOnly(BOOL readOnly) = 0;
    /// \copydoc IPLTraceContextCollection::GetReadOnly
    virtual HRESULT GetReadOnly(BOOL* readOnly) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedD
    virtual HRESULT ReservedD(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedE
    virtual HRESULT ReservedE(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedF
    virtual HRESULT ReservedF(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::FindDuplicates
    virtual HRESULT FindDuplicates(IPLProperty* item, PLItemArray<IPLProperty>* duplicates, LONG start) = 0;
    /// \copydoc IPLTraceContextCollection::PurgeDuplicates
    virtual HRESULT PurgeDuplicates() = 0;
    /// \copydoc IPLTraceContextCollection::FindAllDuplicates
    virtual HRESULT FindAllDuplicates(PLItemArray<IPLProperty>* duplicates, BYTE sorted) = 0;
    /// \copydoc IPLVariantCollection::CheckExistsByName
    virtual HRESULT CheckExistsByName(const WCHAR* name, BOOL* exists) = 0;
};

/// An ordered list of property bags (CLSID_PLPropertyBagCollection), with the operations of
/// IPLPropertyCollection.
struct IPLPropertyBagCollection : IUnknown {
    /// \copydoc IPLTraceContextCollection::GetCount
    virtual LONG GetCount() = 0;
    /// \copydoc IPLTraceContextCollection::GetAt
    virtual HRESULT GetAt(LONG index, IPLPropertyBag** item) = 0;
    /// \copydoc IPLTraceContextCollection::RemoveAll
    virtual HRESULT RemoveAll() = 0;
    /// \copydoc IPLTraceContextCollection::ReservedA
    virtual HRESULT ReservedA(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::Insert
    virtual HRESULT Insert(IPLPropertyBag* item) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedB
    virtual HRESULT ReservedB(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::InsertAt
    virtual HRESULT InsertAt(IPLPropertyBag* item, LONG position, LONG index) = 0;
    /// \copydoc IPLVariantCollection::FindByID
    virtual HRESULT FindByID(ULONG id, IPLPropertyBag** item) = 0;
    /// \copydoc IPLVariantCollection::CheckExistsByID
    virtual HRESULT CheckExistsByID(ULONG id, BOOL* exists) = 0;
    /// \copydoc IPLVariantCollection::FindByName
    virtual HRESULT FindByName(const WCHAR* name, IPLPropertyBag** item) = 0;
    /// \copydoc IPLTraceContextCollection::Remove
    virtual HRESULT Remove(IPLPropertyBag* item) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedC
    virtual HRESULT ReservedC(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::Sort
    virtual HRESULT Sort(PLPropertyBagCompareFunction compare) = 0;
    /// \copydoc IPLTraceContextCollection::SetReadOnly
    virtual HRESULT SetReadOnly(BOOL readOnly) = 0;
    /// \copydoc IPLTraceContextCollection::GetReadOnly
    virtual HRESULT GetReadOnly(BOOL* readOnly) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedD
    virtual HRESULT ReservedD(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedE
    virtual HRESULT ReservedE(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedF
    virtual HRESULT ReservedF(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::FindDuplicates
    virtual HRESULT FindDuplicates(IPLPropertyBag* item, PLItemArray<IPLPropertyBag>* duplicates, LONG start) = 0;
    /// \copydoc IPLTraceContextCollection::PurgeDuplicates
    virtual HRESULT PurgeDuplicates() = 0;
    /// \copydoc IPLTraceContextCollection::FindAllDuplicates
    virtual HRESULT FindAllDuplicates(PLItemArray<IPLPropertyBag>* duplicates, BYTE sorted) = 0;
    /// \copydoc IPLVariantCollection::CheckExistsByName
    virtual HRESULT CheckExistsByName(const WCHAR* name, BOOL* exists) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_PROPERTYBAG_H
