// The tagged value.
#include "module_base/PLVariant.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLDateTime.h"
#include "module_base/PLError.h"
#include "module_base/PLNumberFunctions.h"
#include "platform/LocaleInfo.h"

PL_REGISTER_CLASS(CPLVariant, CLSID_PLVariant);

namespace {
constexpr const char* kGroup = "Core";
constexpr const WCHAR* kDateMask = u"%m-%d-%y";
constexpr const WCHAR* kDateTimeMask = u"%m-%d-%y %h:%M:%S %p";
constexpr const WCHAR* kDateTimeMaskIso = u"%y-%2m-%2d %H:%M:%S";
// Date text is written into a work buffer of this many characters.
constexpr LONG kDateBufferSize = 256;
// Room for any text form but a String's: a double beyond the 64-bit range takes up to 310
// characters, a date up to 255.
constexpr LONG kTextFormCapacity = kPLVariantTextFormCapacity;

// The length of a caller's text, counted with the library's own loads.
int32_t TextLength(const WCHAR* text) {
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    if (n > INT32_MAX - 1) PL_THROW_ERROR(E_INVALIDARG, "Text too long", 1);
    return static_cast<int32_t>(n);
}

// A String's text too long for the variant's own room lives in a block whose first two code units
// hold the block's room (characters, terminator included); the text follows them.
constexpr std::size_t kTextBlockHeader = 2;

// Blocks hold whole groups of four characters, so that a text's length is found four at a time.
WCHAR* NewTextBlock(int32_t needed) {
    const int32_t capacity = needed <= INT32_MAX - 3 ? (needed + 3) & ~3 : needed;
    auto* block = new (std::nothrow) WCHAR[static_cast<std::size_t>(capacity) + kTextBlockHeader];
    if (block == nullptr) PL_THROW_ERROR(E_OUTOFMEMORY, "Out of memory", 1);
    std::memcpy(block, &capacity, sizeof capacity);
    return block + kTextBlockHeader;
}

int32_t TextBlockCapacity(const WCHAR* text) noexcept {
    int32_t capacity = 0;
    std::memcpy(&capacity, text - kTextBlockHeader, sizeof capacity);
    return capacity;
}

void FreeTextBlock(WCHAR* text) noexcept {
    delete[](text - kTextBlockHeader);
}

// Widens `length` ASCII characters into `out` and terminates it.
int32_t Widen(const char* text, std::size_t length, WCHAR* out) noexcept {
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<WCHAR>(text[i]);
    out[length] = 0;
    return static_cast<int32_t>(length);
}

bool IsBlank(WCHAR c) noexcept {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}
bool IsDigit(WCHAR c) noexcept {
    return c >= u'0' && c <= u'9';
}
WCHAR AsciiUpper(WCHAR c) noexcept {
    return c >= u'a' && c <= u'z' ? static_cast<WCHAR>(c - u'a' + u'A') : c;
}
WCHAR AsciiLower(WCHAR c) noexcept {
    return c >= u'A' && c <= u'Z' ? static_cast<WCHAR>(c - u'A' + u'a') : c;
}
bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

// The C runtime's reading of a 64-bit integer: leading blanks, an optional sign, the digits up
// to the first other character (none: 0). Empty when the digits exceed the 64-bit range.
std::optional<int64_t> ReadLeadingInteger(std::u16string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    // Accumulated negatively, so that the 64-bit minimum is reachable.
    int64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        if (__builtin_mul_overflow(value, 10, &value) || __builtin_sub_overflow(value, text[i] - u'0', &value))
            return std::nullopt;
    }
    if (negative) return value;
    if (value == INT64_MIN) return std::nullopt;
    return -value;
}

// The strict reading Convert uses: an optional sign, then digits only, to the end (a sign alone
// is 0). Empty for any other text and for a value outside [minimum, maximum].
std::optional<int64_t> ReadWholeInteger(std::u16string_view text, int64_t minimum, int64_t maximum) noexcept {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return std::nullopt;
        if (__builtin_mul_overflow(value, 10, &value) || __builtin_sub_overflow(value, text[i] - u'0', &value))
            return std::nullopt;
    }
    if (!negative) {
        if (value == INT64_MIN) return std::nullopt;
        value = -value;
    }
    if (value < minimum || value > maximum) return std::nullopt;
    return value;
}

PLString Decimal(int64_t value) {
    char digits[24];
    const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
    return PLString::FromUtf8(std::string_view(digits, static_cast<std::size_t>(end.ptr - digits)));
}

// Sign of the comparison: -1, 0 or +1.
template <class T>
LONG Order(T a, T b) noexcept {
    return a < b ? -1 : (b < a ? 1 : 0);
}
}  // namespace

bool PLDoubleToVariantText(double value, PLString& text) {
    if (!std::isfinite(value)) return false;
    char out[400];
    std::size_t length = 0;
    // Beyond the 64-bit range a double has no fraction: its whole decimal value is written.
    if (!(value > -9223372036854775808.0 && value < 9223372036854775808.0)) {
        const std::to_chars_result end = std::to_chars(out, out + sizeof out, value, std::chars_format::fixed, 0);
        text = PLString::FromUtf8(std::string_view(out, static_cast<std::size_t>(end.ptr - out)));
        return true;
    }
    int64_t whole = static_cast<int64_t>(value);
    const double fraction = value - static_cast<double>(whole);
    // The fraction in units of 10^-7, rounded half up to 10^-6.
    auto units = static_cast<int32_t>(std::fabs(std::trunc(fraction * 1000000.0 * 10.0)));
    if (units % 10 >= 5) {
        units += 10;
        if (units > 10000000) {
            units = 0;
            whole += value >= 0.0 ? 1 : -1;
        }
    }
    units /= 10;
    char* p = out;
    if (value < 0.0 && whole == 0) *p++ = '-';
    p = std::to_chars(p, out + sizeof out, whole).ptr;
    const std::size_t wholeLength = static_cast<std::size_t>(p - out);
    length = wholeLength;
    if (whole < 100000000000000LL) {
        *p++ = '.';
        for (int32_t scale = 100000; scale > 0; scale /= 10) *p++ = static_cast<char>('0' + units / scale % 10);
        // At most 18 characters, cut from the fraction only; a bare "." goes too.
        length = static_cast<std::size_t>(p - out);
        if (length > 18) length = wholeLength + 1 < 18 ? 18 : wholeLength;
    }
    text = PLString::FromUtf8(std::string_view(out, length));
    return true;
}

HRESULT PLCreateVariant(IPLVariant** variant) {
    if (variant == nullptr) return E_POINTER;
    return PLCreateObject<CPLVariant>(IID_IPLVariant, nullptr, reinterpret_cast<void**>(variant));
}

PLComPtr<IPLVariant> PLNewVariant() {
    PLComPtr<IPLVariant> variant;
    const HRESULT hr = PLCreateVariant(variant.Put());
    PL_THROW_ERROR(hr, "Failed to create variant", 1);
    return variant;
}

// The in-place copy is made only from a source of ours holding text, a number, a Boolean or
// Empty; any other source gives false, and the holder makes a new copy.
bool PLCopyIntoSoleVariant(IPLVariant* held, IPLVariant* source, HRESULT& hr) {
    if (held == nullptr) return false;
    void* found = nullptr;
    if (held->QueryInterface(CPLVariant::kPLOwnObjectIid, &found) < 0 || found == nullptr) return false;
    auto* own = static_cast<CPLVariant*>(static_cast<IPLVariant*>(found));
    // Back to the caller's reference, which keeps the variant: 1 left when it is the only one.
    if (own->Release() != 1 || !own->m_mask.IsEmpty()) return false;
    // Only a source of ours holding text, a number or nothing: its copy calls no code outside the
    // library, which could reach the holder and replace or remove the variant meanwhile.
    const PLComPtr<CPLVariant> from = PLAsOwnObject<CPLVariant>(source);
    if (!from) return false;
    switch (from->m_type) {
        case PLVariantEmpty:
        case PLVariantString:
        case PLVariantLong:
        case PLVariantLongLong:
        case PLVariantDouble:
        case PLVariantBoolean:
            break;
        default:
            return false;
    }
    hr = own->SetValueVariant(source);
    return true;
}

PLString PLDateTimeFormatOf(IPLVariant* variant) {
    // The buffer grows until the mask leaves it room to spare.
    std::u16string buffer(static_cast<std::size_t>(kDateBufferSize), u'\0');
    for (;;) {
        const HRESULT hr = variant->GetDateTimeFormatString(buffer.data(), static_cast<LONG>(buffer.size()));
        PL_THROW_ERROR(hr, "Failed to obtain date time format string from variant", 0);
        const std::size_t length = std::char_traits<char16_t>::length(buffer.data());
        if (length + 1 < buffer.size()) return PLString(buffer.data(), static_cast<int32_t>(length));
        if (buffer.size() > static_cast<std::size_t>(INT32_MAX / 2)) PL_THROW_ERROR(E_OUTOFMEMORY, "Out of memory", 1);
        buffer.assign(buffer.size() * 2, u'\0');
    }
}

PLComPtr<IPLVariantCollection> PLCopyVariantCollection(IPLVariantCollection* source) {
    PLComPtr<IPLVariantCollection> copy;
    HRESULT hr = PLCreateInstance(CLSID_PLVariantCollection, copy);
    PL_THROW_ERROR(hr, "Failed to create collection", 1);
    const LONG count = source->GetCount();
    for (LONG i = 0; i < count; ++i) {
        PLComPtr<IPLVariant> item;
        hr = source->GetAt(i, item.Put());
        PL_THROW_ERROR(hr, "Failed to obtain variant from collection", 0);
        PLComPtr<IPLVariant> variant = PLNewVariant();
        hr = variant->SetValueVariant(item.Get());
        PL_THROW_ERROR(hr, "Failed to set value on variant", 0);
        hr = copy->Insert(variant.Get());
        PL_THROW_ERROR(hr, "Failed to insert variant into collection", 0);
    }
    return copy;
}

CPLVariant::~CPLVariant() {
    ReleaseValue(m_type, m_value);
}

void CPLVariant::ReleaseValue(LONG type, Value& value) const noexcept {
    switch (type) {
        case PLVariantString:
            if (value.text != nullptr && value.text != m_inlineText) FreeTextBlock(value.text);
            break;
        case PLVariantDateTime:
        case PLVariantDateTimeOfDay:
            if (value.date) value.date->Release();
            break;
        case PLVariantIUnknown:
            if (value.object) value.object->Release();
            break;
        case PLVariantCollection:
            if (value.collection) value.collection->Release();
            break;
        default:
            break;
    }
    value.word = nullptr;
}

void CPLVariant::Assign(LONG type, Value value) noexcept {
    Value old = m_value;
    const LONG oldType = m_type;
    m_value = value;
    m_type = type;
    ReleaseValue(oldType, old);
}

int32_t CPLVariant::TextCapacity(const WCHAR* text) const noexcept {
    return text == m_inlineText ? kInlineTextCapacity : TextBlockCapacity(text);
}

int32_t CPLVariant::HeldTextLength() const noexcept {
    // Four characters at a time within the text's room (a whole number of groups of four), the
    // first zero found with the borrow test; the lowest flagged character is always the first zero.
    const WCHAR* text = m_value.text;
    const int32_t capacity = TextCapacity(text);
    int32_t n = 0;
    for (; n + 4 <= capacity; n += 4) {
        std::uint64_t group = 0;
        std::memcpy(&group, text + n, sizeof group);
        const std::uint64_t zeros = (group - 0x0001000100010001ull) & ~group & 0x8000800080008000ull;
        if (zeros != 0) return n + std::countr_zero(zeros) / 16;
    }
    while (n < capacity && text[n] != 0) ++n;
    return n;
}

void CPLVariant::StoreText(const WCHAR* text, int32_t length) {
    const int32_t needed = length + 1;
    WCHAR* room = nullptr;
    if (m_type == PLVariantString && m_value.text != nullptr && TextCapacity(m_value.text) >= needed) {
        // The held text's room: copied forwards, which is safe when the new text lies in it.
        room = m_value.text;
        for (int32_t i = 0; i < length; ++i) room[i] = text[i];
        room[length] = 0;
        return;
    }
    // The inline room is free here: a String held there would have had room enough.
    room = needed <= kInlineTextCapacity ? m_inlineText : NewTextBlock(needed);
    for (int32_t i = 0; i < length; ++i) room[i] = text[i];
    room[length] = 0;
    Value value{};
    value.text = room;
    Assign(PLVariantString, value);
}

int32_t CPLVariant::ScalarText(WCHAR* out) const noexcept {
    char digits[24];
    switch (m_type) {
        case PLVariantEmpty:
            out[0] = 0;
            return 0;
        case PLVariantLong:
            return Widen(
                digits,
                static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, m_value.number).ptr - digits),
                out);
        case PLVariantLongLong:
            return Widen(
                digits,
                static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, m_value.bigNumber).ptr - digits),
                out);
        case PLVariantBoolean:
            return m_value.flag ? Widen("true", 4, out) : Widen("false", 5, out);
        default:
            return -1;
    }
}

const WCHAR* CPLVariant::EffectiveMask(const WCHAR* defaultMask) const noexcept {
    return m_mask.IsEmpty() ? defaultMask : m_mask.c_str();
}

PLString CPLVariant::DateText(const WCHAR* defaultMask) const {
    if (m_value.date == nullptr) PL_THROW_ERROR(E_FAIL, "Invalid internal value", 1);
    WCHAR buffer[kDateBufferSize] = {};
    const HRESULT hr = m_value.date->Format(EffectiveMask(defaultMask), buffer, kDateBufferSize);
    PL_THROW_ERROR(hr, "Failed to format date", 0);
    buffer[kDateBufferSize - 1] = 0;
    return PLString(buffer);
}

PLString CPLVariant::TextForm() const {
    switch (m_type) {
        case PLVariantEmpty:
            return PLString();
        case PLVariantString:
            return PLString(m_value.text);
        case PLVariantLong:
            return Decimal(m_value.number);
        case PLVariantLongLong:
            return Decimal(m_value.bigNumber);
        case PLVariantBoolean:
            return PLString(m_value.flag ? u"true" : u"false");
        case PLVariantDouble: {
            PLString text;
            if (!PLDoubleToVariantText(m_value.real, text))
                PL_THROW_ERROR(E_FAIL, "Variant value cannot be converted to string", 1);
            return text;
        }
        case PLVariantDateTime:
            return DateText(kDateMask);
        case PLVariantDateTimeOfDay:
            return DateText(kDateTimeMask);
        default:
            PL_THROW_ERROR(E_FAIL, "Variant value cannot be converted to string", 1);
    }
    return PLString();
}

// ---- setters ----

HRESULT CPLVariant::SetValueString(const WCHAR* text) {
    if (text == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) { StoreText(text, TextLength(text)); });
}

HRESULT CPLVariant::SetValueLong(LONG number) {
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) {
        Value value{};
        value.number = number;
        Assign(PLVariantLong, value);
    });
}

HRESULT CPLVariant::SetValueLongLong(LONGLONG number) {
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) {
        Value value{};
        value.bigNumber = number;
        Assign(PLVariantLongLong, value);
    });
}

HRESULT CPLVariant::SetValueDouble(double number) {
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) {
        Value value{};
        value.real = number;
        Assign(PLVariantDouble, value);
    });
}

HRESULT CPLVariant::SetValueBoolean(bool flag) {
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) {
        Value value{};
        value.flag = flag;
        Assign(PLVariantBoolean, value);
    });
}

HRESULT CPLVariant::SetEmpty() {
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) { Assign(PLVariantEmpty, Value{}); });
}

HRESULT CPLVariant::SetValueIUnknown(IUnknown* object) {
    if (object == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) {
        PLCallOut([&] { object->AddRef(); });
        Value value{};
        value.object = object;
        Assign(PLVariantIUnknown, value);
    });
}

namespace {
// A date-time of the user's locale holding a copy of `date`.
PLComPtr<IPLDateTime> CopyDate(IPLDateTime* date) {
    PLComPtr<IPLDateTime> copy;
    HRESULT hr = PLCreateDateTime(kd::platform::kUserDefaultLocale, copy.Put());
    PL_THROW_ERROR(hr, "Failed to create date time object", 1);
    hr = copy->InitializeFromDateTime(date);
    PL_THROW_ERROR(hr, "Failed to initialize date time object", 0);
    return copy;
}
}  // namespace

HRESULT CPLVariant::SetValueDateTime(IPLDateTime* date) {
    if (date == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) {
        Value value{};
        value.date = CopyDate(date).Detach();
        Assign(PLVariantDateTime, value);
    });
}

HRESULT CPLVariant::SetValueDateTimeOfDay(IPLDateTime* date) {
    if (date == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) {
        Value value{};
        value.date = CopyDate(date).Detach();
        Assign(PLVariantDateTimeOfDay, value);
    });
}

HRESULT CPLVariant::SetValueCollection(IPLVariantCollection* items) {
    if (items == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) {
        Value value{};
        value.collection = PLCopyVariantCollection(items).Detach();
        Assign(PLVariantCollection, value);
    });
}

HRESULT CPLVariant::SetValueVariant(IPLVariant* source) {
    if (source == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        LONG type = 0;
        hr = source->GetType(&type);
        PL_THROW_ERROR(hr, "Failed to obtain type from variant", 0);
        // One of ours holding a plain value: copied directly (the copy is complete before this
        // variant changes, so a variant may be set from itself).
        if (const PLComPtr<CPLVariant> own = PLAsOwnObject<CPLVariant>(source)) {
            Value value = own->m_value;
            switch (own->m_type) {
                case PLVariantString:
                    StoreText(own->m_value.text, TextLength(own->m_value.text));
                    return;
                case PLVariantLong:
                case PLVariantLongLong:
                case PLVariantDouble:
                case PLVariantBoolean:
                    Assign(own->m_type, value);
                    return;
                case PLVariantDateTime:
                case PLVariantDateTimeOfDay: {
                    if (own->m_value.date == nullptr) break;
                    PLString mask = own->m_mask;  // the mask travels with the date
                    value.date = CopyDate(own->m_value.date).Detach();
                    m_mask = std::move(mask);
                    Assign(own->m_type, value);
                    return;
                }
                default:
                    break;
            }
        }
        // The new value is read whole into a scratch variant before this one changes, so that
        // a failed read leaves this variant as it was and a variant may be set from itself.
        PLComPtr<IPLVariant> made = PLNewVariant();
        auto* scratch = static_cast<CPLVariant*>(made.Get());
        PLString mask;
        bool takeMask = false;
        switch (type) {
            case PLVariantEmpty:
                hr = scratch->SetEmpty();
                PL_THROW_ERROR(hr, "Failed to set empty.", 0);
                break;
            case PLVariantUndefined:
                hr = E_FAIL;
                PL_THROW_ERROR(hr, "Source variant is of undefined type", 1);
                break;
            case PLVariantString: {
                LONG length = 0;
                hr = source->GetValueStringLength(&length);
                PL_THROW_ERROR(hr, "Failed to obtain string length from variant", 0);
                if (length < 1) length = 1;
                std::unique_ptr<WCHAR[]> buffer(new (std::nothrow) WCHAR[static_cast<std::size_t>(length)]);
                if (!buffer) PL_THROW_ERROR(E_OUTOFMEMORY, "Out of memory", 1);
                hr = source->GetValueString(buffer.get(), length);
                PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
                buffer[static_cast<std::size_t>(length) - 1] = 0;
                hr = scratch->SetValueString(buffer.get());
                PL_THROW_ERROR(hr, "Failed to set value", 0);
                break;
            }
            case PLVariantLong: {
                LONG number = 0;
                hr = source->GetValueLong(&number);
                PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
                hr = scratch->SetValueLong(number);
                PL_THROW_ERROR(hr, "Failed to set variant value", 0);
                break;
            }
            case PLVariantLongLong: {
                LONGLONG number = 0;
                hr = source->GetValueLongLong(&number);
                PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
                hr = scratch->SetValueLongLong(number);
                PL_THROW_ERROR(hr, "Failed to set variant value", 0);
                break;
            }
            case PLVariantDouble: {
                double number = 0;
                hr = source->GetValueDouble(&number);
                PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
                hr = scratch->SetValueDouble(number);
                PL_THROW_ERROR(hr, "Failed to set variant value", 0);
                break;
            }
            case PLVariantBoolean: {
                bool flag = false;
                hr = source->GetValueBoolean(&flag);
                PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
                hr = scratch->SetValueBoolean(flag);
                PL_THROW_ERROR(hr, "Failed to set variant value", 0);
                break;
            }
            case PLVariantDateTime:
            case PLVariantDateTimeOfDay: {
                PLComPtr<IPLDateTime> date;
                hr = type == PLVariantDateTime ? source->GetValueDateTime(date.Put())
                                               : source->GetValueDateTimeOfDay(date.Put());
                PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
                hr = type == PLVariantDateTime ? scratch->SetValueDateTime(date.Get())
                                               : scratch->SetValueDateTimeOfDay(date.Get());
                PL_THROW_ERROR(hr, "Failed to set value on variant", 0);
                mask = PLDateTimeFormatOf(source);
                takeMask = true;
                break;
            }
            case PLVariantIUnknown: {
                PLComPtr<IUnknown> object;
                hr = source->GetValueIUnknown(object.Put());
                PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
                hr = object ? scratch->SetValueIUnknown(object.Get()) : E_POINTER;
                PL_THROW_ERROR(hr, "Failed to set value on variant", 0);
                break;
            }
            case PLVariantCollection: {
                PLComPtr<IPLVariantCollection> items;
                hr = source->GetValueCollection(items.Put());
                PL_THROW_ERROR(hr, "Failed to obtain value from variant", 0);
                // The source already handed out a copy of its own: take that one over.
                if (!items) PL_THROW_ERROR(E_POINTER, "Failed to obtain value from variant", 1);
                Value value{};
                value.collection = items.Detach();
                scratch->Assign(PLVariantCollection, value);
                break;
            }
            default:
                hr = E_FAIL;
                PL_THROW_ERROR_FORMAT(hr, 1, "Invalid type (%ld)", type);
        }
        if (takeMask) {
            hr = scratch->SetDateTimeFormatString(mask);
            PL_THROW_ERROR(hr, "Failed to set date time format string", 0);
            m_mask = scratch->m_mask;
        }
        hr = S_OK;
        if (scratch->m_type == PLVariantString && scratch->m_value.text == scratch->m_inlineText) {
            // Text in the scratch variant's own room is copied; the scratch variant frees nothing.
            StoreText(scratch->m_value.text, TextLength(scratch->m_value.text));
            return;
        }
        Value taken = scratch->m_value;
        const LONG takenType = scratch->m_type;
        scratch->m_value.word = nullptr;
        scratch->m_type = PLVariantUndefined;
        Assign(takenType, taken);
    });
}

HRESULT CPLVariant::SetDateTimeFormatString(const WCHAR* mask) {
    if (mask == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) {
        const int32_t length = TextLength(mask);
        const std::u16string_view text(mask, static_cast<std::size_t>(length));
        if (text == kDateMask || text == kDateTimeMask)
            m_mask.Empty();
        else
            m_mask = PLString(mask, length);
    });
}

// ---- getters ----

HRESULT CPLVariant::GetValueString(WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        // A String's text is handed out whole, however long.
        PLString formed;
        WCHAR scalar[32];
        const WCHAR* text = nullptr;
        int32_t length = 0;
        if (m_type == PLVariantString) {
            text = m_value.text;
            length = HeldTextLength();
        } else if ((length = ScalarText(scalar)) >= 0) {
            text = scalar;
        } else {
            formed = TextForm();
            text = formed.c_str();
            length = formed.GetLength();
        }
        if (int64_t{length} + 1 > size) {
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(
                hr, 1,
                m_type == PLVariantDateTimeOfDay ? "Buffer (%ld) is too small" : "Buffer size (%ld) is too small",
                size);
        }
        PLCopyTextOut(buffer, text, length);
    });
}

HRESULT CPLVariant::GetValueStringLength(LONG* length) {
    if (length == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        if (m_type == PLVariantString) {
            *length = HeldTextLength() + 1;
            return;
        }
        WCHAR scalar[32];
        if (const int32_t n = ScalarText(scalar); n >= 0) {
            *length = n + 1;
            return;
        }
        WCHAR buffer[kTextFormCapacity] = {};
        hr = GetValueString(buffer, kTextFormCapacity);
        PL_THROW_ERROR_FORMAT(hr, 0, "Couldn't get value for string: %s", buffer);
        int32_t n = 0;
        while (buffer[n] != 0) ++n;
        *length = n + 1;
    });
}

HRESULT CPLVariant::AllocSysString(BSTR* text) {
    if (text == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        if (m_type != PLVariantString) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Type cannot be converted.", 1);
        }
        BSTR made = SysAllocString(m_value.text);
        if (made == nullptr) {
            hr = E_OUTOFMEMORY;
            PL_THROW_ERROR(hr, "Out of memory", 1);
        }
        *text = made;
    });
}

HRESULT CPLVariant::GetValueLong(LONG* value) {
    if (value == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        std::optional<int64_t> number;
        if (m_type == PLVariantString)
            number = ReadLeadingInteger(m_value.text);
        else if (m_type == PLVariantLong)
            number = m_value.number;
        else if (m_type == PLVariantLongLong)
            number = m_value.bigNumber;
        // A number outside the 32-bit range has no long form (rather than its low 32 bits).
        if (!number || *number < INT32_MIN || *number > INT32_MAX) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Variant does not contain value in long format", 1);
        }
        *value = static_cast<LONG>(*number);
    });
}

HRESULT CPLVariant::GetValueLongLong(LONGLONG* value) {
    if (value == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        std::optional<int64_t> number;
        if (m_type == PLVariantString)
            number = ReadLeadingInteger(m_value.text);
        else if (m_type == PLVariantLong)
            number = m_value.number;
        else if (m_type == PLVariantLongLong)
            number = m_value.bigNumber;
        if (!number) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Variant does not contain value in long long format", 1);
        }
        *value = *number;
    });
}

HRESULT CPLVariant::GetValueDouble(double* value) {
    if (value == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        if (m_type != PLVariantDouble) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Variant does not contain value in double format", 1);
        }
        *value = m_value.real;
    });
}

// Kept out of GetValueBoolean's body, so that reading a number or a Boolean stays short.
bool CPLVariant::TextAsBoolean(HRESULT& hr) const {
    const std::u16string_view text(m_value.text);
    if (EqualsIgnoringAsciiCase(text, u"true") || text == u"1") return true;
    if (EqualsIgnoringAsciiCase(text, u"false") || text == u"0") return false;
    hr = E_FAIL;
    PL_THROW_ERROR(hr, "Variant does not contain string value in boolean format", 1);
    return false;
}

HRESULT CPLVariant::GetValueBoolean(bool* value) {
    if (value == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        bool flag = false;
        switch (m_type) {
            case PLVariantString:
                flag = TextAsBoolean(hr);
                break;
            case PLVariantLong:
                flag = m_value.number != 0;
                break;
            case PLVariantLongLong:
                flag = m_value.bigNumber != 0;
                break;
            case PLVariantBoolean:
                flag = m_value.flag;
                break;
            default:
                hr = E_FAIL;
                PL_THROW_ERROR(hr, "Variant does not contain value in boolean format", 1);
        }
        *value = flag;
    });
}

HRESULT CPLVariant::GetValueVariant(IPLVariant** copy) {
    if (copy == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        if (m_type == PLVariantUndefined) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Variant is undefined", 1);
        }
        PLComPtr<IPLVariant> made = PLNewVariant();
        switch (m_type) {
            case PLVariantEmpty:
                hr = made->SetEmpty();
                break;
            case PLVariantString:
                hr = made->SetValueString(m_value.text);
                break;
            case PLVariantLong:
                hr = made->SetValueLong(m_value.number);
                break;
            case PLVariantLongLong:
                hr = made->SetValueLongLong(m_value.bigNumber);
                break;
            case PLVariantDouble:
                hr = made->SetValueDouble(m_value.real);
                break;
            case PLVariantBoolean:
                hr = made->SetValueBoolean(m_value.flag);
                break;
            case PLVariantIUnknown:
                hr = made->SetValueIUnknown(m_value.object);
                break;
            case PLVariantDateTime:
                hr = made->SetValueDateTime(m_value.date);
                break;
            case PLVariantDateTimeOfDay:
                hr = made->SetValueDateTimeOfDay(m_value.date);
                break;
            case PLVariantCollection:
                hr = made->SetValueCollection(m_value.collection);
                break;
            default:
                hr = E_FAIL;
                break;
        }
        PL_THROW_ERROR(hr, "Failed to set variant value", 0);
        *copy = made.Detach();
    });
}

HRESULT CPLVariant::GetValueDateTime(IPLDateTime** date) {
    if (date == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        if (m_type != PLVariantDateTime && m_type != PLVariantDateTimeOfDay) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Variant does not contain value in date format", 1);
        }
        m_value.date->AddRef();
        *date = m_value.date;
    });
}

HRESULT CPLVariant::GetValueDateTimeOfDay(IPLDateTime** date) {
    if (date == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        if (m_type != PLVariantDateTimeOfDay) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Variant does not contain value in date time format", 1);
        }
        m_value.date->AddRef();
        *date = m_value.date;
    });
}

HRESULT CPLVariant::GetDateTimeFormatString(WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) {
        const WCHAR* mask = nullptr;
        if (!m_mask.IsEmpty())
            mask = m_mask.c_str();
        else if (m_type == PLVariantDateTime)
            mask = kDateMask;
        else if (m_type == PLVariantDateTimeOfDay)
            mask = kDateTimeMask;
        if (mask == nullptr) return;
        int32_t length = 0;
        while (mask[length] != 0) ++length;
        PLCopyTextToBuffer(buffer, size, mask, length, PLTruncation::Silent);
    });
}

HRESULT CPLVariant::GetValueIUnknown(IUnknown** object) {
    if (object == nullptr) return E_POINTER;
    if (m_type != PLVariantIUnknown) return E_FAIL;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT&) {
        m_value.object->AddRef();
        *object = m_value.object;
    });
}

HRESULT CPLVariant::GetValueCollection(IPLVariantCollection** items) {
    if (items == nullptr) return E_POINTER;
    if (m_type != PLVariantCollection) return E_FAIL;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup),
                     [&](HRESULT&) { *items = PLCopyVariantCollection(m_value.collection).Detach(); });
}

HRESULT CPLVariant::GetType(LONG* type) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED(kGroup), type, m_type);
}

HRESULT CPLVariant::GetDataPointer(void** word) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED(kGroup), word, m_value.word);
}

HRESULT CPLVariant::GetDataPointerPointer(void** slot) {
    return PLStoreOut(PL_GUARD_SITE_QUALIFIED(kGroup), slot, static_cast<void*>(&m_value));
}

// ---- comparison and conversion ----

HRESULT CPLVariant::CompareEx(IPLVariant* other, bool ignoreCase, LONG* result) {
    if (other == nullptr || result == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        PLComPtr<IPLVariantPriv> priv;
        hr = other->QueryInterface(IID_IPLVariantPriv, priv.PutVoid());
        void* word = nullptr;
        if (hr >= 0) hr = priv->GetDataPointer(&word);
        PL_THROW_ERROR(hr, "Failed to get data pointer from compare-to variant", 0);
        LONG otherType = 0;
        hr = other->GetType(&otherType);
        PL_THROW_ERROR(hr, "Failed to get type from compare-to variant", 0);
        if (otherType != m_type) {
            if (m_type == PLVariantEmpty) {
                *result = -1;
            } else if (otherType == PLVariantEmpty) {
                *result = 1;
            } else {
                hr = E_NOTIMPL;
                PL_THROW_ERROR(hr, "Variants to compare are not of the same type.", 1);
            }
            return;
        }
        switch (m_type) {
            case PLVariantEmpty:
                *result = 0;
                break;
            case PLVariantString: {
                const auto* a = m_value.text;
                const auto* b = static_cast<const WCHAR*>(word);
                LONG order = 0;
                for (std::size_t i = 0;; ++i) {
                    const WCHAR ca = ignoreCase ? AsciiLower(a[i]) : a[i];
                    const WCHAR cb = ignoreCase ? AsciiLower(b[i]) : b[i];
                    if (ca != cb || ca == 0) {
                        order = static_cast<LONG>(ca) - static_cast<LONG>(cb);
                        break;
                    }
                }
                *result = order;
                break;
            }
            case PLVariantLong: {
                // By the comparison, not the difference, which overflows 32 bits.
                int32_t number = 0;
                std::memcpy(&number, &word, sizeof number);
                *result = Order(m_value.number, number);
                break;
            }
            case PLVariantDouble: {
                double number = 0;
                hr = other->GetValueDouble(&number);
                PL_THROW_ERROR(hr, "Failed to get compare-to double value.", 0);
                *result = Order(m_value.real, number);
                break;
            }
            case PLVariantBoolean: {
                unsigned char flag = 0;
                std::memcpy(&flag, &word, 1);
                *result = static_cast<LONG>(m_value.flag) - static_cast<LONG>(flag != 0 ? 1 : 0);
                break;
            }
            case PLVariantDateTime:
            case PLVariantDateTimeOfDay: {
                auto* date = static_cast<IPLDateTime*>(word);
                if (date == nullptr || m_value.date == nullptr) PL_THROW_ERROR(E_FAIL, "Invalid internal value", 1);
                BOOL holds = FALSE;
                hr = m_value.date->Compare(date, 0, &holds);
                PL_THROW_IF_FAILED(hr);
                if (holds) {
                    *result = 0;
                    break;
                }
                hr = m_value.date->Compare(date, 2, &holds);
                PL_THROW_IF_FAILED(hr);
                *result = holds ? 1 : -1;
                break;
            }
            default:
                hr = E_NOTIMPL;
                PL_THROW_ERROR_FORMAT(hr, 1, "Variants are of a non-comparable type type (%ld).", m_type);
        }
        hr = S_OK;
    });
}

// The text form of a kind that has no short one, through the getters (which record why a kind
// has none); out of Convert's body, which the scalar kinds pass through.
PLString CPLVariant::TextThroughGetters(HRESULT& hr) {
    LONG size = 0;
    hr = GetValueStringLength(&size);
    PL_THROW_ERROR(hr, "Failed to obtain string length", 0);
    WCHAR buffer[kTextFormCapacity] = {};
    hr = size <= kTextFormCapacity ? GetValueString(buffer, size) : E_FAIL;
    PL_THROW_ERROR(hr, "Failed to obtain string value", 0);
    return PLString(buffer);
}

HRESULT CPLVariant::Convert(LONG type) {
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED(kGroup), [&](HRESULT& hr) {
        if (type == m_type) return;
        if (type == PLVariantIUnknown || m_type == PLVariantIUnknown) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Cannot convert to or from variants of 'Interface' type", 1);
        }
        if (type == PLVariantCollection || m_type == PLVariantCollection) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Cannot convert to or from variants of 'Collection' type", 1);
        }
        if ((m_type == PLVariantEmpty && type != PLVariantString) || type == PLVariantEmpty) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Cannot convert to or from variants of 'Empty' type", 1);
        }
        // Conversion to nothing in particular leaves the value as it is.
        if (type == PLVariantUndefined || type == 5) return;
        // The text form, built once: a String's own text, whole, read in place (the old value
        // goes only after the new one is made); a scalar's into a local buffer; any other kind's
        // through the getters, which record why a kind has none.
        WCHAR scalar[32];
        PLString formed;
        const WCHAR* text = nullptr;
        int32_t length = 0;
        if (m_type == PLVariantString) {
            text = m_value.text;
            length = HeldTextLength();
        } else if ((length = ScalarText(scalar)) >= 0) {
            text = scalar;
        } else {
            formed = TextThroughGetters(hr);
            text = formed.c_str();
            length = formed.GetLength();
        }
        const std::u16string_view view(text, static_cast<std::size_t>(length));
        Value value{};
        switch (type) {
            case PLVariantString:
                StoreText(text, length);
                hr = S_OK;
                return;
            case PLVariantLong: {
                const std::optional<int64_t> number = ReadWholeInteger(view, INT32_MIN, INT32_MAX);
                if (!number) {
                    hr = E_FAIL;
                    PL_THROW_ERROR(hr, "Failed to convert string to long", 1);
                }
                value.number = static_cast<int32_t>(*number);
                break;
            }
            case PLVariantLongLong: {
                const std::optional<int64_t> number = ReadWholeInteger(view, INT64_MIN, INT64_MAX);
                if (!number) {
                    hr = E_FAIL;
                    PL_THROW_ERROR(hr, "Failed to convert string to long long", 1);
                }
                value.bigNumber = *number;
                break;
            }
            case PLVariantDouble: {
                double number = 0;
                {
                    // StringToDouble reports no error of its own: the conversion's message says it.
                    hr = StringToDouble(text, &number);
                }
                if (hr < 0) PL_THROW_ERROR(E_FAIL, "Failed to convert string to double", 1);
                value.real = number;
                break;
            }
            case PLVariantBoolean: {
                if (view.size() < 256 && EqualsIgnoringAsciiCase(view, u"TRUE")) {
                    value.flag = true;
                } else if (view.size() < 256 && EqualsIgnoringAsciiCase(view, u"FALSE")) {
                    value.flag = false;
                } else {
                    hr = E_FAIL;
                    PL_THROW_ERROR(hr, "Failed to convert string to boolean", 1);
                }
                break;
            }
            case PLVariantDateTime:
            case PLVariantDateTimeOfDay: {
                PLComPtr<IPLDateTime> date;
                hr = PLCreateDateTime(kd::platform::kUserDefaultLocale, date.Put());
                PL_THROW_ERROR(hr, "Failed to create date time object", 1);
                if (type == PLVariantDateTime || !m_mask.IsEmpty()) {
                    hr = date->InitializeFromString(text, EffectiveMask(kDateMask));
                } else {
                    // Text with a time is tried with the two time masks first, quietly. A time
                    // is told by the user's time separator or by the ":" that the text form of
                    // this kind writes whatever the locale, so that what it writes reads back.
                    const std::optional<std::u16string> separator = kd::platform::LocaleText(
                        kd::platform::kUserDefaultLocale, kd::platform::LocaleItem::TimeSeparator);
                    const WCHAR mark = separator && !separator->empty() ? (*separator)[0] : u':';
                    BOOL parsed = FALSE;
                    if (view.find(mark) != view.npos || view.find(u':') != view.npos) {
                        hr = date->InitializeFromStringEx(text, kDateTimeMask, &parsed);
                        if (hr >= 0 && !parsed) hr = date->InitializeFromStringEx(text, kDateTimeMaskIso, &parsed);
                    }
                    if (!parsed) hr = date->InitializeFromString(text, kDateMask);
                }
                PL_THROW_ERROR(hr, "Failed to initialize date", 0);
                value.date = date.Detach();
                break;
            }
            default:
                hr = E_INVALIDARG;
                PL_THROW_ERROR_FORMAT(hr, 1, "Invalid type (%ld)", type);
        }
        Assign(type, value);
        hr = S_OK;
    });
}
