/// \file
/// Variants: one tagged value of one of ten kinds, with a text form, conversion between kinds
/// through that text form, a three-way comparison, and a date format mask that travels with
/// date values. Variant collections hold variants in order; their enumerator walks one in
/// batches.
///
/// The text form (GetValueString) of each kind: a String its text; Long and LongLong decimal;
/// Double with six decimals whatever the locale ("3.500000"; 10^14 and more without decimals;
/// at most 18 characters); Boolean "true" or "false"; Empty the empty text; DateTime and
/// DateTimeOfDay the date formatted with the variant's mask (default "%m-%d-%y", and
/// "%m-%d-%y %h:%M:%S %p" with the time of day). Undefined, IUnknown and Collection have none.
#ifndef KDTRACE_VARIANT_H
#define KDTRACE_VARIANT_H

#include <kdtrace/bstr.h>
#include <kdtrace/collection.h>
#include <kdtrace/datetime.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

/// The kind of a variant's value (IPLVariant::GetType, IPLVariant::Convert).
enum PLVariantType : LONG {
    PLVariantEmpty = -1,         ///< nothing; converts to the empty text
    PLVariantUndefined = 0,      ///< nothing; the state of a new variant
    PLVariantString = 1,         ///< an owned UTF-16 text
    PLVariantLong = 2,           ///< a signed 32-bit integer
    PLVariantDouble = 3,         ///< an IEEE 754 double
    PLVariantBoolean = 4,        ///< false or true
    PLVariantDateTime = 6,       ///< an owned copy of a date
    PLVariantIUnknown = 7,       ///< a counted reference to any object
    PLVariantCollection = 8,     ///< a variant collection (copied deeply in and out)
    PLVariantDateTimeOfDay = 9,  ///< an owned copy of a date meant with its time of day
    PLVariantLongLong = 10,      ///< a signed 64-bit integer
};

// clang-format off
/// Identifier of IPLVariant.
inline constexpr GUID IID_IPLVariant = {0x643BC05A, 0x00A3, 0x4007, {0x87, 0xB0, 0x0A, 0x35, 0x1A, 0x44, 0xD1, 0xB1}};
/// Identifier of IPLVariantPriv.
inline constexpr GUID IID_IPLVariantPriv = {0xACD7DF24, 0x33AA, 0x44A8, {0x95, 0x3F, 0x3D, 0xF4, 0xCE, 0x5B, 0x3C, 0xAD}};
/// Identifier of IPLVariantCollection.
inline constexpr GUID IID_IPLVariantCollection = {0x8F60ED88, 0x1567, 0x41C3, {0xBB, 0x44, 0xBE, 0x4F, 0xCA, 0x45, 0xEF, 0x94}};
/// Identifier of IPLEnumVariant.
inline constexpr GUID IID_IPLEnumVariant = {0x17F25598, 0x598E, 0x441D, {0x95, 0x7E, 0x4C, 0xBC, 0x32, 0x13, 0xBD, 0x54}};
/// Class of a variant (IPLVariant, IPLVariantPriv).
inline constexpr GUID CLSID_PLVariant = {0xABAD61CB, 0x8AAB, 0x499A, {0xA9, 0x00, 0x10, 0x64, 0x0F, 0x81, 0x59, 0xCB}};
/// Class of a variant collection (IPLVariantCollection).
inline constexpr GUID CLSID_PLVariantCollection = {0x3A6E6282, 0xD873, 0x453E, {0xA9, 0x2F, 0x86, 0x65, 0x4E, 0x24, 0xFC, 0x1E}};
/// Class of a variant collection's enumerator (IPLEnumVariant). One made through
/// PLCreateInstance has no collection to walk.
inline constexpr GUID CLSID_PLVariantCollectionEnumerator = {0x2B05A61D, 0x836B, 0x4A56, {0x86, 0xF6, 0xA8, 0x3E, 0x20, 0xEC, 0xEB, 0x70}};
// clang-format on

struct IPLDateTime;
struct IPLVariantCollection;

/// A tagged value (CLSID_PLVariant). A new variant is Undefined. Every setter releases the old
/// value first. Failures are E_FAIL with the reason in the thread's error list unless stated;
/// a null required pointer gives E_POINTER, a buffer size below 1 E_INVALIDARG. Not
/// synchronised.
struct IPLVariant : IUnknown {
    /// Slot 3: stores a copy of the text; kind String.
    /// \param text  the text
    /// \return S_OK; E_POINTER for null (nothing changes).
    virtual HRESULT SetValueString(const WCHAR* text) = 0;
    /// Slot 4: the text form of the value (see the file's description).
    /// \param buffer  receives the text, terminated
    /// \param size    the buffer's size in characters: at least the text's length + 1
    ///                (GetValueStringLength)
    /// \return S_OK; E_FAIL for a buffer too small ("Buffer size (%ld) is too small") or a kind
    ///         without a text form ("Variant value cannot be converted to string"); E_POINTER;
    ///         E_INVALIDARG.
    virtual HRESULT GetValueString(WCHAR* buffer, LONG size) = 0;
    /// Slot 5: the size GetValueString needs: the text form's length plus one for the
    /// terminator (an Empty variant gives 1).
    /// \param length  receives it
    /// \return S_OK; E_FAIL for a kind without a text form; E_POINTER.
    virtual HRESULT GetValueStringLength(LONG* length) = 0;
    /// Slot 6: a String's text as a new BSTR.
    /// \param text  receives it; the caller frees it with SysFreeString
    /// \return S_OK; E_FAIL for any other kind ("Type cannot be converted."); E_POINTER.
    virtual HRESULT AllocSysString(BSTR* text) = 0;
    /// Slot 7: stores a 32-bit integer; kind Long.
    /// \param value  the number
    /// \return S_OK.
    virtual HRESULT SetValueLong(LONG value) = 0;
    /// Slot 8: the value as a 32-bit integer: a Long; a LongLong in range; a String's leading
    /// decimal number (blanks, a sign and digits up to the first other character, so " 12abc"
    /// gives 12 and "abc" 0).
    /// \param value  receives it
    /// \return S_OK; E_FAIL for another kind or a number out of range; E_POINTER.
    virtual HRESULT GetValueLong(LONG* value) = 0;
    /// Slot 9: stores a 64-bit integer; kind LongLong.
    /// \param value  the number
    /// \return S_OK.
    virtual HRESULT SetValueLongLong(LONGLONG value) = 0;
    /// Slot 10: the value as a 64-bit integer: a Long, a LongLong, or a String's leading number.
    /// \param value  receives it
    /// \return S_OK; E_FAIL for another kind; E_POINTER.
    virtual HRESULT GetValueLongLong(LONGLONG* value) = 0;
    /// Slot 11: stores a double; kind Double. Its text form keeps 6 decimals ("19.950000").
    /// \param value  the number
    /// \return S_OK.
    virtual HRESULT SetValueDouble(double value) = 0;
    /// Slot 12: a Double's number (no other kind is read as a double; Convert first).
    /// \param value  receives it
    /// \return S_OK; E_FAIL for another kind; E_POINTER.
    virtual HRESULT GetValueDouble(double* value) = 0;
    /// Slot 13: stores a truth value; kind Boolean.
    /// \param value  the value
    /// \return S_OK.
    virtual HRESULT SetValueBoolean(bool value) = 0;
    /// Slot 14: the value as a truth value: a Boolean; a Long or LongLong other than 0; a String
    /// "true"/"1" or "false"/"0" (letters in any case).
    /// \param value  receives it
    /// \return S_OK; E_FAIL for another kind or text; E_POINTER.
    virtual HRESULT GetValueBoolean(bool* value) = 0;
    /// Slot 15: makes this variant a copy of another (dates get their own date object and keep
    /// the other's mask; collections are copied deeply; objects are shared).
    /// \param source  the variant to copy
    /// \return S_OK; E_FAIL for an Undefined source ("Source variant is of undefined type");
    ///         E_POINTER.
    virtual HRESULT SetValueVariant(IPLVariant* source) = 0;
    /// Slot 16: a new variant holding a copy of this one's value (without the date mask).
    /// \param copy  receives it, with one reference
    /// \return S_OK; E_FAIL for an Undefined variant ("Variant is undefined"); E_POINTER.
    virtual HRESULT GetValueVariant(IPLVariant** copy) = 0;
    /// Slot 17: stores a copy of a date; kind DateTime. Later changes to `date` do not reach it.
    /// \param date  the date
    /// \return S_OK; E_POINTER.
    virtual HRESULT SetValueDateTime(IPLDateTime* date) = 0;
    /// Slot 18: stores a copy of a date meant with its time of day; kind DateTimeOfDay.
    /// \param date  the date
    /// \return S_OK; E_POINTER.
    virtual HRESULT SetValueDateTimeOfDay(IPLDateTime* date) = 0;
    /// Slot 19: the date of a DateTime or DateTimeOfDay: the variant's own object (not a copy),
    /// with a reference added.
    /// \param date  receives it
    /// \return S_OK; E_FAIL for another kind; E_POINTER.
    virtual HRESULT GetValueDateTime(IPLDateTime** date) = 0;
    /// Slot 20: the date of a DateTimeOfDay (the variant's own object).
    /// \param date  receives it
    /// \return S_OK; E_FAIL for another kind; E_POINTER.
    virtual HRESULT GetValueDateTimeOfDay(IPLDateTime** date) = 0;
    /// Slot 21: the date mask used for the date kinds' text form and for Convert to a date. It
    /// survives changes of kind. "%m-%d-%y" and "%m-%d-%y %h:%M:%S %p" (the defaults) clear it.
    /// \param mask  the mask (see IPLDateTime::Format)
    /// \return S_OK; E_POINTER.
    virtual HRESULT SetDateTimeFormatString(const WCHAR* mask) = 0;
    /// Slot 22: the date mask: the one set, else the kind's default for the date kinds; for
    /// other kinds without a mask the buffer is left as it is.
    /// \param buffer  receives the mask, cut to fit
    /// \param size    the buffer's size in characters
    /// \return S_OK; E_POINTER; E_INVALIDARG.
    virtual HRESULT GetDateTimeFormatString(WCHAR* buffer, LONG size) = 0;
    /// Slot 23: stores a reference to any object (shared, not copied); kind IUnknown.
    /// \param object  the object
    /// \return S_OK; E_POINTER.
    virtual HRESULT SetValueIUnknown(IUnknown* object) = 0;
    /// Slot 24: an IUnknown variant's object, with a reference added.
    /// \param object  receives it
    /// \return S_OK; E_FAIL for another kind (without an error record); E_POINTER.
    virtual HRESULT GetValueIUnknown(IUnknown** object) = 0;
    /// Slot 25: stores a deep copy of a collection (every item copied, nested collections too);
    /// kind Collection.
    /// \param items  the collection
    /// \return S_OK; E_POINTER.
    virtual HRESULT SetValueCollection(IPLVariantCollection* items) = 0;
    /// Slot 26: a new deep copy of a Collection variant's items.
    /// \param items  receives it, with one reference
    /// \return S_OK; E_FAIL for another kind (without an error record); E_POINTER.
    virtual HRESULT GetValueCollection(IPLVariantCollection** items) = 0;
    /// Slot 27: the kind.
    /// \param type  receives a PLVariantType
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetType(LONG* type) = 0;
    /// Slot 28: compares with a variant of the same kind (Strings by code unit, or ignoring the
    /// case; numbers by value; dates by date and time); Empty sorts before any other kind.
    /// \param other       the other variant
    /// \param ignoreCase  compare Strings without regard to case
    /// \param result      receives a negative, zero or positive value as this sorts before,
    ///                    with or after `other`
    /// \return S_OK; E_NOTIMPL for different kinds (neither Empty) or kinds that do not compare
    ///         (Undefined, IUnknown, Collection, LongLong); E_POINTER.
    virtual HRESULT CompareEx(IPLVariant* other, bool ignoreCase, LONG* result) = 0;
    /// Slot 29: converts the value to another kind through its text form: to Long and LongLong
    /// only whole decimal text ("42", "-7"; not " 12" or "1.5"); to Double decimal text with
    /// optional "," group separators; to Boolean only "true" or "false" in any case (not "1");
    /// to a date the text read with the variant's mask. Converting to the current kind, to
    /// Undefined or to 5 changes nothing.
    /// \param type  the PLVariantType wanted
    /// \return S_OK; E_FAIL when the text does not read as the kind, or either kind is
    ///         IUnknown or Collection, or an Empty variant to anything but String; E_INVALIDARG
    ///         for an unknown kind. A failure leaves the variant unchanged.
    virtual HRESULT Convert(LONG type) = 0;
    /// Slot 30: releases the value; kind Empty.
    /// \return S_OK.
    virtual HRESULT SetEmpty() = 0;
};

/// Direct access to a variant's value slot, for sibling code that reads another variant without
/// a copy. Both operations always succeed.
struct IPLVariantPriv : IUnknown {
    /// Slot 3: the slot's first machine word (the text pointer of a String, the number of a
    /// Long).
    /// \param word  receives it
    /// \return S_OK.
    virtual HRESULT GetDataPointer(void** word) = 0;
    /// Slot 4: the slot's address.
    /// \param slot  receives it
    /// \return S_OK.
    virtual HRESULT GetDataPointerPointer(void** slot) = 0;
};

/// Orders two variants for IPLVariantCollection::Sort.
/// \param a       an item placed already
/// \param b       the item being placed
/// \param result  receives a value above 0 to put `b` before `a`
/// \return S_OK; a failure ends the sort with that code.
typedef HRESULT (*PLVariantCompareFunction)(IPLVariant* a, IPLVariant* b, LONG* result);

/// An ordered list of variants (CLSID_PLVariantCollection): the value of a Collection variant,
/// written to XML as a "VariantCollection" property. Items are shared, not copied: GetAt hands
/// out the held variant and Insert stores the given one. Variants have neither identifier nor
/// name nor equality, so the searches find nothing and the duplicate searches succeed only for
/// entries holding the same pointer. The operations are those of IPLTraceContextCollection in
/// another slot order, plus AppendValue.
struct IPLVariantCollection : IUnknown {
    /// The number of items.
    /// \return the count (not an HRESULT).
    virtual LONG GetCount() = 0;
    /// \copydoc IPLTraceContextCollection::GetAt
    virtual HRESULT GetAt(LONG index, IPLVariant** item) = 0;
    /// \copydoc IPLTraceContextCollection::RemoveAll
    virtual HRESULT RemoveAll() = 0;
    /// \copydoc IPLTraceContextCollection::ReservedA
    virtual HRESULT ReservedA(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::Insert
    virtual HRESULT Insert(IPLVariant* item) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedB
    virtual HRESULT ReservedB(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::InsertAt
    virtual HRESULT InsertAt(IPLVariant* item, LONG position, LONG index) = 0;
    /// Finds nothing: the items of this collection have no identifier.
    /// \param id    not matched
    /// \param item  receives null
    /// \return E_FAIL (with the thread's error list left empty); E_POINTER for a null `item`.
    virtual HRESULT FindByID(ULONG id, IPLVariant** item) = 0;
    /// Finds nothing: the items of this collection have no name.
    /// \param name  not matched
    /// \param item  receives null
    /// \return E_FAIL (with the thread's error list left empty); E_POINTER for a null argument.
    virtual HRESULT FindByName(const WCHAR* name, IPLVariant** item) = 0;
    /// \copydoc IPLTraceContextCollection::Remove
    virtual HRESULT Remove(IPLVariant* item) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedC
    virtual HRESULT ReservedC(void* unused) = 0;
    /// Appends a new variant made from a raw value.
    /// \param type   the PLVariantType of the value: Empty, String, Long, Double, Boolean,
    ///               DateTime, IUnknown, Collection or DateTimeOfDay
    /// \param value  by kind: a `const WCHAR*` text; a pointer to a LONG, a double or a one-byte
    ///               bool; an IPLDateTime*, IUnknown* or IPLVariantCollection* (copied as the
    ///               setters copy); for Empty any non-null pointer (not read)
    /// \return S_OK; E_FAIL for another kind ("Invalid type"), the collection unchanged;
    ///         E_POINTER for a null `value`.
    virtual HRESULT AppendValue(LONG type, const void* value) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedD
    virtual HRESULT ReservedD(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::Sort
    virtual HRESULT Sort(PLVariantCompareFunction compare) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedE
    virtual HRESULT ReservedE(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedF
    virtual HRESULT ReservedF(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::FindDuplicates
    virtual HRESULT FindDuplicates(IPLVariant* item, PLItemArray<IPLVariant>* duplicates, LONG start) = 0;
    /// \copydoc IPLTraceContextCollection::PurgeDuplicates
    virtual HRESULT PurgeDuplicates() = 0;
    /// \copydoc IPLTraceContextCollection::FindAllDuplicates
    virtual HRESULT FindAllDuplicates(PLItemArray<IPLVariant>* duplicates, BYTE sorted) = 0;
    /// Never found: the items of this collection have no identifier.
    /// \param id      not matched
    /// \param exists  receives 0
    /// \return S_OK; E_POINTER for a null `exists`.
    virtual HRESULT CheckExistsByID(ULONG id, BOOL* exists) = 0;
    /// Never found: the items of this collection have no name.
    /// \param name    not matched
    /// \param exists  receives 0
    /// \return S_OK; E_POINTER for a null argument.
    virtual HRESULT CheckExistsByName(const WCHAR* name, BOOL* exists) = 0;
    /// \copydoc IPLTraceContextCollection::SetReadOnly
    virtual HRESULT SetReadOnly(BOOL readOnly) = 0;
    /// \copydoc IPLTraceContextCollection::GetReadOnly
    virtual HRESULT GetReadOnly(BOOL* readOnly) = 0;
};

/// Walks a variant collection in batches. The collection's count is read afresh on every call,
/// so items appended during a walk are reached.
struct IPLEnumVariant : IUnknown {
    /// Slot 3: the next items.
    /// \param count    how many to take at most
    /// \param items    receives a new collection of up to `count` items from the position on
    ///                 (the walked collection's own variants), with one reference
    /// \param fetched  receives how many it holds (0 at the end)
    /// \return S_OK, also when fewer were left; E_POINTER for a null out pointer.
    virtual HRESULT Next(LONG count, IPLVariantCollection** items, LONG* fetched) = 0;
    /// Slot 4: moves the position on.
    /// \param count  how many items to pass
    /// \return S_OK (reaching exactly the end is allowed); S_FALSE past the end, the position
    ///         unchanged.
    virtual HRESULT Skip(LONG count) = 0;
    /// Slot 5: not supported.
    /// \param copy  not written
    /// \return E_NOTIMPL.
    virtual HRESULT Clone(IPLEnumVariant** copy) = 0;
    /// Slot 6: back to the first item.
    /// \return S_OK.
    virtual HRESULT Reset() = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_VARIANT_H
