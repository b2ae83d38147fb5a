// Properties and property bags: named variant values, and name-to-variant maps whose names
// compare without regard to the case of the letters A to Z (and only those). Bags copy values in
// and out; properties share the value object they are given.
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
inline constexpr GUID IID_IPLPropertyBag = {0x056C549C, 0xE7FD, 0x4F21, {0xAA, 0x0E, 0x8C, 0xF6, 0xC0, 0xA5, 0xB7, 0x10}};
inline constexpr GUID IID_IPLPersistPropertyBag = {0xE5E8A47A, 0x5E4B, 0x4D95, {0xB3, 0x8B, 0xD2, 0x0B, 0xB0, 0x75, 0x98, 0xC9}};
inline constexpr GUID IID_IPLSerializeXML = {0xC2E95A60, 0xEBD5, 0x4B72, {0x9F, 0xA1, 0xCB, 0x50, 0xF2, 0x85, 0xB4, 0xC9}};
inline constexpr GUID IID_IPLPropertyBagListener = {0x815BD8DE, 0xD116, 0x4DD3, {0xB3, 0x78, 0xE9, 0x25, 0x38, 0xDD, 0x2F, 0x71}};
inline constexpr GUID IID_IPLProperty = {0x2A5A22CE, 0x250D, 0x47DA, {0xA6, 0x84, 0x2F, 0xBC, 0xA8, 0x67, 0x4B, 0x8C}};
inline constexpr GUID IID_IPLPropertyCollection = {0x29FACFF4, 0x2B02, 0x486D, {0x91, 0x09, 0xEC, 0xA8, 0x95, 0xEC, 0x5E, 0x5F}};
inline constexpr GUID IID_IPLPropertyBagCollection = {0xDA53B73C, 0xE5AD, 0x463C, {0xB2, 0xE4, 0xC0, 0x78, 0x9D, 0xB7, 0x0F, 0xA8}};
// The general-purpose bag.
inline constexpr GUID CLSID_PLPropertyBag = {0x469C1485, 0x69CC, 0x4073, {0xB3, 0x3D, 0xA2, 0x8A, 0xEA, 0x3A, 0xBD, 0xCF}};
inline constexpr GUID CLSID_PLProperty = {0xF621F703, 0xFC7B, 0x40E6, {0xBD, 0x9F, 0x68, 0x13, 0x4B, 0xE4, 0xC3, 0x57}};
inline constexpr GUID CLSID_PLPropertyCollection = {0x23DADC3F, 0x612F, 0x4E5B, {0x9F, 0x3C, 0xE5, 0x5D, 0xC2, 0xEA, 0x00, 0xE7}};
inline constexpr GUID CLSID_PLPropertyBagCollection = {0x4D4E29DE, 0x8954, 0x492A, {0xB5, 0xF3, 0x02, 0x43, 0x79, 0x32, 0x89, 0x52}};
// clang-format on

struct IPLPropertyBag : IUnknown {
    // slot 3: stores a copy of `value` under `name`. A value that cannot be copied fails and
    // leaves the bag unchanged.
    virtual HRESULT SetProperty(const WCHAR* name, IPLVariant* value) = 0;
    // slot 4: a new copy of the stored value; S_FALSE (out untouched) when the name is absent.
    virtual HRESULT GetProperty(const WCHAR* name, IPLVariant** value) = 0;
    // slot 5: a new collection of every entry, in name order; its properties share the bag's
    // value objects.
    virtual HRESULT GetProperties(IPLPropertyCollection** collection) = 0;
    // slot 6: S_OK and 1 when present, S_FALSE and 0 when not.
    virtual HRESULT ContainsKey(const WCHAR* name, BOOL* contains) = 0;
    // slot 7: S_OK when removed, S_FALSE when absent (a constrained bag removes nothing).
    virtual HRESULT DeleteProperty(const WCHAR* name) = 0;
};

struct IPLPersistPropertyBag : IUnknown {
    virtual HRESULT Save(IPLPropertyBag* bag) = 0;  // slot 3: sets every entry in `bag`
    virtual HRESULT Load(IPLPropertyBag* bag) = 0;  // slot 4: reads from `bag`
};

// Objects that write themselves in the compact element form.
struct IPLSerializeXML : IUnknown {
    // slot 3: bit 0 of `flags` makes a bag enclose its entries in a PropertyBag element.
    virtual HRESULT WriteXML(IPLXMLWriter* writer, LONG flags) = 0;
};

// Told of every successful SetProperty of a general-purpose bag, with the caller's value object.
// Registered through the bag's IPLEventSource under IID_IPLPropertyBagListener. The result is
// ignored.
struct IPLPropertyBagListener : IUnknown {
    virtual HRESULT PropertySet(const WCHAR* name, IPLVariant* value) = 0;  // slot 3
};

// A named value: the name (at most 254 characters; longer ones are cut) and a shared value object.
struct IPLProperty : IUnknown {
    virtual HRESULT Initialize(const WCHAR* name, IPLVariant* value) = 0;  // slot 3
    // slot 4: the name cut to size - 1 characters.
    virtual HRESULT GetName(WCHAR* buffer, LONG size) = 0;
    virtual HRESULT GetValue(IPLVariant** value) = 0;  // slot 5: the held object itself
};

typedef HRESULT (*PLPropertyCompareFunction)(IPLProperty* a, IPLProperty* b, LONG* result);
typedef HRESULT (*PLPropertyBagCompareFunction)(IPLPropertyBag* a, IPLPropertyBag* b, LONG* result);

// An ordered list of properties. Items have no identifier or name lookup in the collection:
// FindByID and FindByName always fail; walk the items with GetName instead.
struct IPLPropertyCollection : IUnknown {
    virtual LONG GetCount() = 0;                                // slot 3
    virtual HRESULT GetAt(LONG index, IPLProperty** item) = 0;  // slot 4
    virtual HRESULT RemoveAll() = 0;                            // slot 5
    virtual HRESULT ReservedA(void* unused) = 0;                // slot 6: E_NOTIMPL
    virtual HRESULT Insert(IPLProperty* item) = 0;              // slot 7: E_FAIL while read-only
    virtual HRESULT ReservedB(void* unused) = 0;                // slot 8: S_OK
    // slot 9: places the item by a PLInsertPosition code (whatever the read-only flag).
    virtual HRESULT InsertAt(IPLProperty* item, LONG position, LONG index) = 0;
    virtual HRESULT FindByID(ULONG id, IPLProperty** item) = 0;             // slot 10
    virtual HRESULT CheckExistsByID(ULONG id, BOOL* exists) = 0;            // slot 11
    virtual HRESULT FindByName(const WCHAR* name, IPLProperty** item) = 0;  // slot 12
    virtual HRESULT Remove(IPLProperty* item) = 0;                          // slot 13
    virtual HRESULT ReservedC(void* unused) = 0;                            // slot 14: S_OK
    virtual HRESULT Sort(PLPropertyCompareFunction compare) = 0;            // slot 15: stable
    virtual HRESULT SetReadOnly(BOOL readOnly) = 0;                         // slot 16
    virtual HRESULT GetReadOnly(BOOL* readOnly) = 0;                        // slot 17
    virtual HRESULT ReservedD(void* unused) = 0;                            // slot 18: S_OK
    virtual HRESULT ReservedE(void* unused) = 0;                            // slot 19: S_OK
    virtual HRESULT ReservedF(void* unused) = 0;                            // slot 20: S_OK
    virtual HRESULT FindDuplicates(IPLProperty* item, PLItemArray<IPLProperty>* duplicates, LONG start) = 0;  // 21
    virtual HRESULT PurgeDuplicates() = 0;                                                                    // 22
    virtual HRESULT FindAllDuplicates(PLItemArray<IPLProperty>* duplicates, BYTE sorted) = 0;                 // 23
    virtual HRESULT CheckExistsByName(const WCHAR* name, BOOL* exists) = 0;                                   // 24
};

// An ordered list of property bags, with the same operations.
struct IPLPropertyBagCollection : IUnknown {
    virtual LONG GetCount() = 0;                                                    // slot 3
    virtual HRESULT GetAt(LONG index, IPLPropertyBag** item) = 0;                   // slot 4
    virtual HRESULT RemoveAll() = 0;                                                // slot 5
    virtual HRESULT ReservedA(void* unused) = 0;                                    // slot 6: E_NOTIMPL
    virtual HRESULT Insert(IPLPropertyBag* item) = 0;                               // slot 7: E_FAIL while read-only
    virtual HRESULT ReservedB(void* unused) = 0;                                    // slot 8: S_OK
    virtual HRESULT InsertAt(IPLPropertyBag* item, LONG position, LONG index) = 0;  // slot 9
    virtual HRESULT FindByID(ULONG id, IPLPropertyBag** item) = 0;                  // slot 10
    virtual HRESULT CheckExistsByID(ULONG id, BOOL* exists) = 0;                    // slot 11
    virtual HRESULT FindByName(const WCHAR* name, IPLPropertyBag** item) = 0;       // slot 12
    virtual HRESULT Remove(IPLPropertyBag* item) = 0;                               // slot 13
    virtual HRESULT ReservedC(void* unused) = 0;                                    // slot 14: S_OK
    virtual HRESULT Sort(PLPropertyBagCompareFunction compare) = 0;                 // slot 15: stable
    virtual HRESULT SetReadOnly(BOOL readOnly) = 0;                                 // slot 16
    virtual HRESULT GetReadOnly(BOOL* readOnly) = 0;                                // slot 17
    virtual HRESULT ReservedD(void* unused) = 0;                                    // slot 18: S_OK
    virtual HRESULT ReservedE(void* unused) = 0;                                    // slot 19: S_OK
    virtual HRESULT ReservedF(void* unused) = 0;                                    // slot 20: S_OK
    virtual HRESULT FindDuplicates(IPLPropertyBag* item, PLItemArray<IPLPropertyBag>* duplicates, LONG start) = 0;
    virtual HRESULT PurgeDuplicates() = 0;                                                        // slot 22
    virtual HRESULT FindAllDuplicates(PLItemArray<IPLPropertyBag>* duplicates, BYTE sorted) = 0;  // slot 23
    virtual HRESULT CheckExistsByName(const WCHAR* name, BOOL* exists) = 0;                       // slot 24
};

KDTRACE_END_DECLS

#endif  // KDTRACE_PROPERTYBAG_H
