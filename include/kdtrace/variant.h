// Variants: one tagged value of one of ten kinds, with a canonical text form, conversion between
// kinds through that text, a three-way comparison, and a date format mask that travels with
// date values. Variant collections hold variants in order; their enumerator walks one in
// batches.
#ifndef KDTRACE_VARIANT_H
#define KDTRACE_VARIANT_H

#include <kdtrace/bstr.h>
#include <kdtrace/collection.h>
#include <kdtrace/datetime.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

// The kind of a variant's value.
enum PLVariantType : LONG {
    PLVariantEmpty = -1,         // nothing; converts to the empty text
    PLVariantUndefined = 0,      // nothing; the state of a new variant
    PLVariantString = 1,         // an owned UTF-16 text
    PLVariantLong = 2,           // a signed 32-bit integer
    PLVariantDouble = 3,         // an IEEE 754 double
    PLVariantBoolean = 4,        // false or true
    PLVariantDateTime = 6,       // an owned copy of a date
    PLVariantIUnknown = 7,       // a counted reference to any object
    PLVariantCollection = 8,     // a variant collection
    PLVariantDateTimeOfDay = 9,  // an owned copy of a date meant with its time of day
    PLVariantLongLong = 10,      // a signed 64-bit integer
};

// clang-format off
inline constexpr GUID IID_IPLVariant = {0x643BC05A, 0x00A3, 0x4007, {0x87, 0xB0, 0x0A, 0x35, 0x1A, 0x44, 0xD1, 0xB1}};
inline constexpr GUID IID_IPLVariantPriv = {0xACD7DF24, 0x33AA, 0x44A8, {0x95, 0x3F, 0x3D, 0xF4, 0xCE, 0x5B, 0x3C, 0xAD}};
inline constexpr GUID IID_IPLVariantCollection = {0x8F60ED88, 0x1567, 0x41C3, {0xBB, 0x44, 0xBE, 0x4F, 0xCA, 0x45, 0xEF, 0x94}};
inline constexpr GUID IID_IPLEnumVariant = {0x17F25598, 0x598E, 0x441D, {0x95, 0x7E, 0x4C, 0xBC, 0x32, 0x13, 0xBD, 0x54}};
inline constexpr GUID CLSID_PLVariant = {0xABAD61CB, 0x8AAB, 0x499A, {0xA9, 0x00, 0x10, 0x64, 0x0F, 0x81, 0x59, 0xCB}};
inline constexpr GUID CLSID_PLVariantCollection = {0x3A6E6282, 0xD873, 0x453E, {0xA9, 0x2F, 0x86, 0x65, 0x4E, 0x24, 0xFC, 0x1E}};
inline constexpr GUID CLSID_PLVariantCollectionEnumerator = {0x2B05A61D, 0x836B, 0x4A56, {0x86, 0xF6, 0xA8, 0x3E, 0x20, 0xEC, 0xEB, 0x70}};
// clang-format on

struct IPLDateTime;
struct IPLVariantCollection;

struct IPLVariant : IUnknown {
    virtual HRESULT SetValueString(const WCHAR* text) = 0;                  // slot 3
    virtual HRESULT GetValueString(WCHAR* buffer, LONG size) = 0;           // slot 4: the text form
    virtual HRESULT GetValueStringLength(LONG* length) = 0;                 // slot 5: with terminator
    virtual HRESULT AllocSysString(BSTR* text) = 0;                         // slot 6
    virtual HRESULT SetValueLong(LONG value) = 0;                           // slot 7
    virtual HRESULT GetValueLong(LONG* value) = 0;                          // slot 8
    virtual HRESULT SetValueLongLong(LONGLONG value) = 0;                   // slot 9
    virtual HRESULT GetValueLongLong(LONGLONG* value) = 0;                  // slot 10
    virtual HRESULT SetValueDouble(double value) = 0;                       // slot 11
    virtual HRESULT GetValueDouble(double* value) = 0;                      // slot 12
    virtual HRESULT SetValueBoolean(bool value) = 0;                        // slot 13
    virtual HRESULT GetValueBoolean(bool* value) = 0;                       // slot 14
    virtual HRESULT SetValueVariant(IPLVariant* source) = 0;                // slot 15: a copy
    virtual HRESULT GetValueVariant(IPLVariant** copy) = 0;                 // slot 16: a new copy
    virtual HRESULT SetValueDateTime(IPLDateTime* date) = 0;                // slot 17: a copy
    virtual HRESULT SetValueDateTimeOfDay(IPLDateTime* date) = 0;           // slot 18: a copy
    virtual HRESULT GetValueDateTime(IPLDateTime** date) = 0;               // slot 19: the held object
    virtual HRESULT GetValueDateTimeOfDay(IPLDateTime** date) = 0;          // slot 20: the held object
    virtual HRESULT SetDateTimeFormatString(const WCHAR* mask) = 0;         // slot 21
    virtual HRESULT GetDateTimeFormatString(WCHAR* buffer, LONG size) = 0;  // slot 22
    virtual HRESULT SetValueIUnknown(IUnknown* object) = 0;                 // slot 23: shared
    virtual HRESULT GetValueIUnknown(IUnknown** object) = 0;                // slot 24
    virtual HRESULT SetValueCollection(IPLVariantCollection* items) = 0;    // slot 25: a deep copy
    virtual HRESULT GetValueCollection(IPLVariantCollection** items) = 0;   // slot 26: a deep copy
    virtual HRESULT GetType(LONG* type) = 0;                                // slot 27: a PLVariantType
    // slot 28: negative, zero or positive as this sorts before, with or after `other`.
    virtual HRESULT CompareEx(IPLVariant* other, bool ignoreCase, LONG* result) = 0;
    virtual HRESULT Convert(LONG type) = 0;  // slot 29: through the text form
    virtual HRESULT SetEmpty() = 0;          // slot 30
};

// Direct access to a variant's value slot, for sibling code that reads another variant without
// a copy. Both operations always succeed.
struct IPLVariantPriv : IUnknown {
    // slot 3: the slot's first machine word (the text pointer of a String, the number of a Long).
    virtual HRESULT GetDataPointer(void** word) = 0;
    virtual HRESULT GetDataPointerPointer(void** slot) = 0;  // slot 4: the slot's address
};

// Sort function of a variant collection: *result above 0 when `a` sorts after `b`.
typedef HRESULT (*PLVariantCompareFunction)(IPLVariant* a, IPLVariant* b, LONG* result);

// An ordered list of variants. Items are shared, not copied: GetAt hands out the held variant and
// Insert stores the given one.
struct IPLVariantCollection : IUnknown {
    virtual LONG GetCount() = 0;                               // slot 3
    virtual HRESULT GetAt(LONG index, IPLVariant** item) = 0;  // slot 4
    virtual HRESULT RemoveAll() = 0;                           // slot 5
    virtual HRESULT ReservedA(void* unused) = 0;               // slot 6: E_NOTIMPL
    // slot 7: appends; E_FAIL while the collection is read-only.
    virtual HRESULT Insert(IPLVariant* item) = 0;
    virtual HRESULT ReservedB(void* unused) = 0;  // slot 8: S_OK
    // slot 9: places the item by a PLInsertPosition code (whatever the read-only flag).
    virtual HRESULT InsertAt(IPLVariant* item, LONG position, LONG index) = 0;
    // slots 10 and 11: variants have neither identifier nor name: E_FAIL, no item, no record.
    virtual HRESULT FindByID(ULONG id, IPLVariant** item) = 0;
    virtual HRESULT FindByName(const WCHAR* name, IPLVariant** item) = 0;
    virtual HRESULT Remove(IPLVariant* item) = 0;  // slot 12
    virtual HRESULT ReservedC(void* unused) = 0;   // slot 13: S_OK
    // slot 14: appends a new variant of kind `type` made from the value `value` points to.
    virtual HRESULT AppendValue(LONG type, const void* value) = 0;
    virtual HRESULT ReservedD(void* unused) = 0;                 // slot 15: S_OK
    virtual HRESULT Sort(PLVariantCompareFunction compare) = 0;  // slot 16: stable
    virtual HRESULT ReservedE(void* unused) = 0;                 // slot 17: S_OK
    virtual HRESULT ReservedF(void* unused) = 0;                 // slot 18: S_OK
    virtual HRESULT FindDuplicates(IPLVariant* item, PLItemArray<IPLVariant>* duplicates, LONG start) = 0;  // slot 19
    virtual HRESULT PurgeDuplicates() = 0;                                                                  // slot 20
    virtual HRESULT FindAllDuplicates(PLItemArray<IPLVariant>* duplicates, BYTE sorted) = 0;                // slot 21
    virtual HRESULT CheckExistsByID(ULONG id, BOOL* exists) = 0;                                            // slot 22
    virtual HRESULT CheckExistsByName(const WCHAR* name, BOOL* exists) = 0;                                 // slot 23
    virtual HRESULT SetReadOnly(BOOL readOnly) = 0;                                                         // slot 24
    virtual HRESULT GetReadOnly(BOOL* readOnly) = 0;                                                        // slot 25
};

// Walks a variant collection in batches. The collection's count is read afresh on every call.
struct IPLEnumVariant : IUnknown {
    // slot 3: a new collection of up to `count` items from the position on; the items are the
    // walked collection's own variants.
    virtual HRESULT Next(LONG count, IPLVariantCollection** items, LONG* fetched) = 0;
    virtual HRESULT Skip(LONG count) = 0;              // slot 4: S_FALSE past the end
    virtual HRESULT Clone(IPLEnumVariant** copy) = 0;  // slot 5: E_NOTIMPL
    virtual HRESULT Reset() = 0;                       // slot 6: back to the first item
};

KDTRACE_END_DECLS

#endif  // KDTRACE_VARIANT_H
