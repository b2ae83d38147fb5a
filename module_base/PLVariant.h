// CPLVariant: the library's tagged value. One object holds one value of one kind (text, 32- and
// 64-bit integers, double, boolean, date, date with time of day, a shared foreign object, a
// collection of variants, or empty), with a canonical text form of every scalar kind, conversion
// between kinds through that text, a three-way comparison, and a date format mask that travels
// with date values (it survives changes of kind).
//
// Ownership by kind: a String owns its text (kept in the object itself when it is short, else in a
// block that remembers its capacity, so that a new text that fits reuses it), the date kinds own a
// date-time object of their own,
// IUnknown and Collection hold a counted reference (a collection set or got is a deep copy). Every
// setter builds the new value completely before it lets go of the old one, so a failed setter
// leaves the variant as it was and a variant may be set from itself.
//
// A variant has no lock: use one from one thread at a time.
#ifndef KD_PLVARIANT_H
#define KD_PLVARIANT_H

#include <cstdint>

#include <kdtrace/variant.h>

#include "module_base/PLComObject.h"
#include "module_base/PLOwnObject.h"
#include "module_base/PLString.h"

class CPLVariant : public CPLComObject<CPLReleaseModel>, public IPLVariant, public IPLVariantPriv {
    PL_BEGIN_INTERFACE_MAP(CPLVariant, IPLVariant)
    PL_INTERFACE_ENTRY(IPLVariant)
    PL_INTERFACE_ENTRY(IPLVariantPriv)
    PL_OWN_OBJECT_ENTRY(IPLVariant)
    PL_END_INTERFACE_MAP()

public:
    PL_DECLARE_OWN_OBJECT(IPLVariant, {0xB50CA9F8, 0xA2A5, 0x4E37, {0xB6, 0xE3, 0x7B, 0x8D, 0xE1, 0xCE, 0x58, 0x3A}});
    friend bool PLCopyIntoSoleVariant(IPLVariant* held, IPLVariant* source, HRESULT& hr);

    CPLVariant() noexcept = default;

    // IPLVariant
    HRESULT SetValueString(const WCHAR* text) override;
    HRESULT GetValueString(WCHAR* buffer, LONG size) override;
    HRESULT GetValueStringLength(LONG* length) override;
    HRESULT AllocSysString(BSTR* text) override;
    HRESULT SetValueLong(LONG value) override;
    HRESULT GetValueLong(LONG* value) override;
    HRESULT SetValueLongLong(LONGLONG value) override;
    HRESULT GetValueLongLong(LONGLONG* value) override;
    HRESULT SetValueDouble(double value) override;
    HRESULT GetValueDouble(double* value) override;
    HRESULT SetValueBoolean(bool value) override;
    HRESULT GetValueBoolean(bool* value) override;
    HRESULT SetValueVariant(IPLVariant* source) override;
    HRESULT GetValueVariant(IPLVariant** copy) override;
    HRESULT SetValueDateTime(IPLDateTime* date) override;
    HRESULT SetValueDateTimeOfDay(IPLDateTime* date) override;
    HRESULT GetValueDateTime(IPLDateTime** date) override;
    HRESULT GetValueDateTimeOfDay(IPLDateTime** date) override;
    HRESULT SetDateTimeFormatString(const WCHAR* mask) override;
    HRESULT GetDateTimeFormatString(WCHAR* buffer, LONG size) override;
    HRESULT SetValueIUnknown(IUnknown* object) override;
    HRESULT GetValueIUnknown(IUnknown** object) override;
    HRESULT SetValueCollection(IPLVariantCollection* items) override;
    HRESULT GetValueCollection(IPLVariantCollection** items) override;
    HRESULT GetType(LONG* type) override;
    HRESULT CompareEx(IPLVariant* other, bool ignoreCase, LONG* result) override;
    HRESULT Convert(LONG type) override;
    HRESULT SetEmpty() override;

    // IPLVariantPriv
    HRESULT GetDataPointer(void** word) override;
    HRESULT GetDataPointerPointer(void** slot) override;

protected:
    ~CPLVariant() override;

private:
    // The value slot: one machine word, read by kind.
    union Value {
        WCHAR* text;  // String: owned, from NewText
        int32_t number;
        int64_t bigNumber;
        double real;
        bool flag;
        IUnknown* object;                  // IUnknown: counted
        IPLDateTime* date;                 // DateTime, DateTimeOfDay: counted, our own copy
        IPLVariantCollection* collection;  // Collection: counted, our own copy
        void* word;
    };
    static_assert(sizeof(Value) == 8, "the value slot is one 8-byte word");

    // Installs a value that is already complete (its ownership passes to the variant), then
    // releases the old one. Never fails. A String's text must not be another variant's inline
    // text.
    void Assign(LONG type, Value value) noexcept;
    void ReleaseValue(LONG type, Value& value) const noexcept;

    // Makes the value the String `text` (`length` characters, which may lie in the held text):
    // into the held text's room when it has enough, else into the inline room or a new block.
    // Throws (the variant unchanged) only when memory runs out.
    void StoreText(const WCHAR* text, int32_t length);
    // Room in characters, terminator included, of a String's text held by this variant.
    int32_t TextCapacity(const WCHAR* text) const noexcept;
    // The length of the String held.
    int32_t HeldTextLength() const noexcept;

    // The text form of a number, a Boolean or Empty into `out` (room for 32 characters); its
    // length, or -1 for every other kind, whose form the getters build.
    int32_t ScalarText(WCHAR* out) const noexcept;
    // The text form of every kind but String (whose text is its own); throws for kinds without
    // one.
    PLString TextForm() const;
    PLString DateText(const WCHAR* defaultMask) const;
    const WCHAR* EffectiveMask(const WCHAR* defaultMask) const noexcept;
    // A String's text read as a Boolean; sets `hr` and throws when it is no Boolean text.
    [[gnu::noinline]] bool TextAsBoolean(HRESULT& hr) const;
    // The text form of a date or a Double, read through the getters for Convert.
    [[gnu::noinline]] PLString TextThroughGetters(HRESULT& hr);

    // Texts of up to this many characters with the terminator stay in the object: any Long,
    // "true" and "false", most names and short values.
    static constexpr int32_t kInlineTextCapacity = 16;

    LONG m_type = PLVariantUndefined;
    Value m_value{nullptr};
    PLString m_mask;  // empty: none, the default mask of the kind applies
    WCHAR m_inlineText[kInlineTextCapacity];
};

// Room for the text form of any kind but String, with its terminator.
inline constexpr LONG kPLVariantTextFormCapacity = 512;

// Makes a new, undefined variant (for library code that needs one without a class lookup).
HRESULT PLCreateVariant(IPLVariant** variant);
// The same inside a guarded region: throws "Failed to create variant" on failure.
PLComPtr<IPLVariant> PLNewVariant();

// For the holder of a variant: when `held` is one of ours that nobody else holds (the caller's is
// its only reference) and carries no date mask, copies `source` into it with SetValueVariant,
// leaving it as a new variant's copy would be, puts the result in `hr` and returns true. Returns
// false, with nothing done, for any other variant.
bool PLCopyIntoSoleVariant(IPLVariant* held, IPLVariant* source, HRESULT& hr);

// Builds a deep copy of a variant collection: a new collection with a new variant per item, each
// a copy of the item (nested collections copied the same way). Throws with the messages of the
// variant's collection copy.
PLComPtr<IPLVariantCollection> PLCopyVariantCollection(IPLVariantCollection* source);

// A variant's whole date mask (GetDateTimeFormatString cuts a mask to the caller's buffer without
// saying so); empty for a variant without one. Throws the getter's failure.
PLString PLDateTimeFormatOf(IPLVariant* variant);

// The double text form: six fraction digits rounded half up on the seventh, "." as separator,
// at most 18 characters with only fraction digits cut, whole numbers from 10^14 and values
// outside the 64-bit range written without fraction. False for NaN and infinities.
bool PLDoubleToVariantText(double value, PLString& text);

#endif  // KD_PLVARIANT_H
