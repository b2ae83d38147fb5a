#include "module_base/PLCurrency.h"

#include <kdtrace/propertybag.h>

#include <cmath>
#include <string_view>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLCompareOperator.h"
#include "module_base/PLCurrencyText.h"
#include "module_base/PLError.h"
#include "module_base/PLPropertyBagFunctions.h"
#include "platform/CurrencyFormat.h"
#include "platform/LocaleInfo.h"

PL_REGISTER_CLASS(CPLCurrency, CLSID_PLCurrency);

namespace {

constexpr const char* kGroup = "Core Services";
constexpr HRESULT kInsufficientBuffer = static_cast<HRESULT>(0x8007007A);
// Amounts below this have at most 18 whole digits, so their units always fit 64 bits.
constexpr uint64_t kUnitsLimit = 1000000000000000000ULL;
constexpr std::size_t kMaxWholeDigits = 18;
// Longest configured symbols.
constexpr std::size_t kMaxCurrencySymbol = 5;
constexpr std::size_t kMaxSeparator = 3;

// Placement flags of a currency mask.
constexpr LONG kSymbolAfter = 0x2;
constexpr LONG kSpaceBetween = 0x4;
constexpr LONG kMinusSign = 0x8;
constexpr LONG kMinusAfter = 0x10;
constexpr LONG kMinusOutside = 0x20;
constexpr LONG kNegativeSymbolAfter = 0x100;
constexpr LONG kNegativeSpaceBetween = 0x200;

std::u16string_view View(const WCHAR* text) noexcept {
    return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

std::u16string LocaleTextOrThrow(LCID locale, kd::platform::LocaleItem item, const char* message) {
    auto value = kd::platform::LocaleText(locale, item);
    if (!value) PL_THROW_ERROR(E_FAIL, message, 1);
    return std::move(*value);
}

// Writes formatted text whole into a caller's buffer, or fails as the Windows formatter does.
void CopyFormatted(const std::u16string& text, WCHAR* buffer, LONG size) {
    if (text.size() + 1 > static_cast<std::size_t>(size)) PL_THROW_ERROR(kInsufficientBuffer, "Buffer too small", 1);
    PLCopyTextOut(buffer, text.data(), static_cast<int32_t>(text.size()));
}

std::u16string FormatOrThrow(const std::u16string& number, const kd::platform::CurrencyFormat& format) {
    std::u16string out;
    if (kd::platform::FormatCurrency(number, format, out) != kd::platform::CurrencyFormatStatus::kOk)
        PL_THROW_ERROR(E_INVALIDARG, "Invalid parameter", 1);
    return out;
}

}  // namespace

HRESULT PLCreateCurrency(LCID locale, IPLCurrency** currency) {
    if (currency == nullptr) return E_POINTER;
    *currency = nullptr;
    void* object = nullptr;
    const HRESULT hr = PLCreateObject<CPLCurrency>(IID_IPLCurrency, nullptr, &object);
    if (hr < 0) return hr;
    auto* created = static_cast<IPLCurrency*>(object);
    created->SetLocale(locale);
    *currency = created;
    return S_OK;
}

// ---- value ----

PLCurrencyTextSettings CPLCurrency::ParseSettings() const {
    using kd::platform::LocaleItem;
    PLCurrencyTextSettings settings;
    if (m_customFormat != FALSE) {
        settings.decimalSymbol = m_decimalSymbol;
        settings.groupSymbol = m_groupSymbol;
        settings.currencySymbol = m_currencySymbol;
        settings.decimalPlaces = m_decimalPlaces;
        return settings;
    }
    const char* decimalMessage = "Failed to get system decimal symbol.";
    settings.decimalSymbol = LocaleTextOrThrow(m_locale, LocaleItem::MonetaryDecimalSeparator, decimalMessage);
    if (settings.decimalSymbol.empty())
        settings.decimalSymbol = LocaleTextOrThrow(m_locale, LocaleItem::DecimalSeparator, decimalMessage);
    const auto digits = kd::platform::LocaleNumber(m_locale, LocaleItem::CurrencyDigits);
    if (!digits) PL_THROW_ERROR(E_FAIL, "Failed to get system number of currency decimal places.", 1);
    settings.decimalPlaces = *digits;
    settings.currencySymbol =
        LocaleTextOrThrow(m_locale, LocaleItem::CurrencySymbol, "Failed to get system currency symbol.");
    settings.groupSymbol =
        LocaleTextOrThrow(m_locale, LocaleItem::MonetaryThousandSeparator, "Failed to get system thousands symbol.");
    return settings;
}

HRESULT CPLCurrency::SetValueFromString(const WCHAR* text) {
    if (text == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        // Counted no further than the longest text read: longer text is refused unread.
        std::size_t length = 0;
        while (length <= kPLCurrencyTextLimit && text[length] != 0) ++length;
        PLCurrencyAmount amount;
        PLCurrencyTextStatus status = PLCurrencyTextStatus::kInvalid;
        if (length <= kPLCurrencyTextLimit) {
            const PLCurrencyTextSettings settings = length == 0 ? PLCurrencyTextSettings{} : ParseSettings();
            status = PLParseCurrencyText(std::u16string_view(text, length), settings, amount);
        }
        if (status == PLCurrencyTextStatus::kInvalidNegativeSymbol)
            PL_THROW_ERROR(E_FAIL, "Invalid negative symbol", 1);
        if (status != PLCurrencyTextStatus::kOk) PL_THROW_ERROR(E_FAIL, "Failed to parse currency value", 1);
        m_negative = amount.negative ? TRUE : FALSE;
        m_units = amount.units;
        m_fraction = amount.fraction;
    });
}

HRESULT CPLCurrency::SetValueFromFormattedString(const WCHAR* text, LONG, LONG, const WCHAR*,
                                                 const WCHAR* decimalSeparator) {
    if (text == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const std::u16string_view separator = View(decimalSeparator);
        bool negative = false;
        bool inFraction = false;
        std::size_t wholeDigits = 0;
        uint64_t units = 0;
        int32_t fractionDigits = 0;
        int32_t fraction = 0;
        // Compared character by character, so the text is never read past its terminator.
        auto separatorAt = [&](std::size_t i) {
            if (separator.empty()) return false;
            for (std::size_t k = 0; k < separator.size(); ++k) {
                if (text[i + k] != separator[k]) return false;
            }
            return true;
        };
        for (std::size_t i = 0; text[i] != 0;) {
            if (separatorAt(i)) {
                inFraction = true;
                i += separator.size();
                continue;
            }
            const WCHAR c = text[i++];
            if (c >= u'0' && c <= u'9') {
                const int32_t digit = c - u'0';
                if (!inFraction) {
                    if (++wholeDigits > kMaxWholeDigits) PL_THROW_ERROR(E_FAIL, "Failed to parse currency value", 1);
                    units = units * 10 + static_cast<uint64_t>(digit);
                } else if (fractionDigits < 2) {
                    fraction += fractionDigits++ == 0 ? digit * 10 : digit;
                }
            } else if (c == u'-' || c == u'(' || c == u')') {
                negative = true;
            }
        }
        m_negative = negative ? TRUE : FALSE;
        m_units = units;
        m_fraction = fraction;
    });
}

HRESULT CPLCurrency::SetValue(double value) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const double magnitude = std::fabs(value);
        if (!(magnitude < static_cast<double>(kUnitsLimit)))
            PL_THROW_ERROR(E_INVALIDARG, "Currency value out of range", 1);
        const double whole = std::trunc(magnitude);
        uint64_t units = static_cast<uint64_t>(whole);
        // Nearest hundredth: 0.29 is 29 hundredths although its double lies just below.
        auto cents = static_cast<int32_t>(std::llround((magnitude - whole) * 100.0));
        if (cents == 100) {
            ++units;
            cents = 0;
        }
        if (units >= kUnitsLimit) PL_THROW_ERROR(E_INVALIDARG, "Currency value out of range", 1);
        m_negative = value < 0 ? TRUE : FALSE;
        m_units = units;
        m_fraction = cents;
    });
}

HRESULT CPLCurrency::GetValue(LONG* units, LONG* fraction) {
    if (units == nullptr || fraction == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        hr = GetUnits(units);
        PL_THROW_IF_FAILED(hr);
        hr = GetFractionAsLong(fraction);
        PL_THROW_IF_FAILED(hr);
    });
}

HRESULT CPLCurrency::GetValue(double* value) {
    const double magnitude = static_cast<double>(m_units) + m_fraction / 100.0 + 0.00001;
    return PLStoreOut(PL_GUARD_SITE(kGroup), value, m_negative != FALSE ? -magnitude : magnitude);
}

HRESULT CPLCurrency::GetUnits(LONG* units) {
    if (units == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        if (m_units > 2147483647u) PL_THROW_ERROR(E_FAIL, "Units too large to fit into 4-byte integer", 1);
        const auto magnitude = static_cast<LONG>(m_units);
        *units = m_negative != FALSE ? -magnitude : magnitude;
    });
}

HRESULT CPLCurrency::SetUnits(LONG units) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        m_negative = units < 0 ? TRUE : FALSE;
        m_units = units < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(units)) : static_cast<uint64_t>(units);
    });
}

HRESULT CPLCurrency::GetUnits64(LONGLONG* units) {
    const auto magnitude = static_cast<LONGLONG>(m_units);
    return PLStoreOut(PL_GUARD_SITE(kGroup), units, m_negative != FALSE ? -magnitude : magnitude);
}

HRESULT CPLCurrency::GetFraction(float* fraction) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), fraction, static_cast<float>(m_fraction / 100.0 + 0.00001));
}

HRESULT CPLCurrency::SetFraction(float fraction) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const double cents = std::round(static_cast<double>(fraction) * 100.0);
        if (!(std::fabs(cents) <= 2147483647.0)) PL_THROW_ERROR(E_INVALIDARG, "Currency value out of range", 1);
        auto stored = static_cast<int32_t>(cents);
        uint64_t units = m_units;
        if (stored >= 100) {
            // Whole units carry over, as 0.999 rounds to 1.00.
            units += static_cast<uint64_t>(stored / 100);
            stored %= 100;
            if (units >= kUnitsLimit) PL_THROW_ERROR(E_INVALIDARG, "Currency value out of range", 1);
        }
        m_units = units;
        m_fraction = stored;
    });
}

HRESULT CPLCurrency::IsNegative(LONG* negative) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), negative, static_cast<LONG>(m_negative));
}

HRESULT CPLCurrency::GetFractionAsLong(LONG* fraction) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), fraction, static_cast<LONG>(m_fraction));
}

HRESULT CPLCurrency::SetFractionAsLong(LONG fraction) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { m_fraction = fraction; });
}

HRESULT CPLCurrency::GetLocale(LCID* locale) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), locale, m_locale);
}

HRESULT CPLCurrency::SetLocale(LCID locale) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { m_locale = locale; });
}

HRESULT CPLCurrency::Compare(IPLCurrency* other, LONG op, BOOL* result) {
    if (other == nullptr || result == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        if (!PLIsCompareOperator(op)) PL_THROW_ERROR_FORMAT(E_INVALIDARG, 1, "Invalid operator #(%ld) specified", op);
        LONGLONG otherUnits = 0;
        LONG otherFraction = 0;
        LONG otherNegative = 0;
        hr = other->GetUnits64(&otherUnits);
        PL_THROW_IF_FAILED(hr);
        hr = other->GetFractionAsLong(&otherFraction);
        PL_THROW_IF_FAILED(hr);
        hr = other->IsNegative(&otherNegative);
        PL_THROW_IF_FAILED(hr);
        const auto magnitude = static_cast<LONGLONG>(m_units);
        const LONGLONG units = m_negative != FALSE ? -magnitude : magnitude;
        const LONGLONG fraction = m_negative != FALSE ? -static_cast<LONGLONG>(m_fraction) : m_fraction;
        const LONGLONG theirs = otherNegative != 0 ? -static_cast<LONGLONG>(otherFraction) : otherFraction;
        int order = units < otherUnits ? -1 : (units > otherUnits ? 1 : 0);
        if (order == 0) order = fraction < theirs ? -1 : (fraction > theirs ? 1 : 0);
        *result = PLEvaluateCompareOperator(op, order) ? TRUE : FALSE;
    });
}

// ---- text ----

// The amount as number text for the formatter: "-1234.05". Hundredths of 100 and more (stored
// through SetFractionAsLong) carry into the units; negative ones count 0.
std::u16string CPLCurrency::NumberText() const {
    const int32_t fraction = m_fraction < 0 ? 0 : m_fraction;
    const uint64_t units = m_units + static_cast<uint64_t>(fraction / 100);
    const int32_t cents = fraction % 100;
    std::u16string text;
    if (m_negative != FALSE) text += u'-';
    char16_t digits[24];
    int n = 0;
    uint64_t rest = units;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    while (n > 0) text += digits[--n];
    text += u'.';
    text += static_cast<char16_t>(u'0' + cents / 10);
    text += static_cast<char16_t>(u'0' + cents % 10);
    return text;
}

HRESULT CPLCurrency::GetOrderFromFormat(LONG mask, LONG* order) {
    const bool after = (mask & kSymbolAfter) != 0;
    const bool space = (mask & kSpaceBetween) != 0;
    return PLStoreOut(PL_GUARD_SITE(kGroup), order, static_cast<LONG>(space ? (after ? 3 : 2) : (after ? 1 : 0)));
}

HRESULT CPLCurrency::GetNegativeOrderFromFormat(LONG mask, LONG* order) {
    if (order == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const bool after = (mask & kNegativeSymbolAfter) != 0;
        const bool space = (mask & kNegativeSpaceBetween) != 0;
        // Indexed by [symbol after][space between].
        static constexpr LONG kParentheses[2][2] = {{0, 14}, {4, 15}};
        static constexpr LONG kMinusBefore[2][2] = {{2, 12}, {5, 8}};
        static constexpr LONG kMinusAfterNumber[2][2] = {{3, 11}, {6, 13}};
        LONG value = 0;
        if ((mask & kMinusSign) == 0) {
            value = kParentheses[after][space];
        } else if ((mask & kMinusAfter) == 0) {
            value = (mask & kMinusOutside) != 0 ? (space ? 9 : 1) : kMinusBefore[after][space];
        } else if ((mask & kMinusOutside) == 0) {
            value = kMinusAfterNumber[after][space];
        } else {
            if (!after)
                PL_THROW_ERROR(E_INVALIDARG,
                               "Invalid mask. Symbol must be after number to be inside minus when minus is after "
                               "number",
                               1);
            value = space ? 10 : 7;
        }
        *order = value;
    });
}

std::u16string CPLCurrency::DoFormat(LONG positiveOrder, LONG negativeOrder, std::u16string currencySymbol,
                                     std::u16string groupSymbol, std::u16string decimalSymbol, LONG groupDigits,
                                     LONG decimalPlaces) {
    if (groupDigits < 0 || groupDigits > 9)
        PL_THROW_ERROR_FORMAT(E_INVALIDARG, 1, "Group digits (%ld) must be a value between 0 and 9", groupDigits);
    if (decimalSymbol.empty())
        decimalSymbol = LocaleTextOrThrow(m_locale, kd::platform::LocaleItem::DecimalSeparator,
                                          "Failed to get system decimal symbol.");
    if (decimalPlaces < 0 || positiveOrder < 0 || negativeOrder < 0)
        PL_THROW_ERROR(E_INVALIDARG, "Invalid parameter", 1);
    kd::platform::CurrencyFormat format;
    format.digits = static_cast<uint32_t>(decimalPlaces);
    format.leadingZero = 1;
    format.grouping = static_cast<uint32_t>(groupDigits);
    format.decimalSeparator = std::move(decimalSymbol);
    format.thousandSeparator = std::move(groupSymbol);
    format.positiveOrder = static_cast<uint32_t>(positiveOrder);
    format.negativeOrder = static_cast<uint32_t>(negativeOrder);
    format.currencySymbol = std::move(currencySymbol);
    format.negativeSign = kd::platform::LocaleText(m_locale, kd::platform::LocaleItem::NegativeSign).value_or(u"-");
    // The formatter rounds the hundredths half away from zero to the format's places.
    return FormatOrThrow(NumberText(), format);
}

void CPLCurrency::OrdersFromMask(LONG mask, LONG& positive, LONG& negative) {
    HRESULT hr = GetOrderFromFormat(mask, &positive);
    if (hr >= 0) hr = GetNegativeOrderFromFormat(mask, &negative);
    PL_THROW_ERROR(hr, "Failed to validate mask", 0);
}

HRESULT CPLCurrency::Format(LONG mask, const WCHAR* currencySymbol, const WCHAR* groupSymbol,
                            const WCHAR* decimalSymbol, LONG groupDigits, LONG decimalPlaces, WCHAR* buffer,
                            LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        buffer[0] = 0;
        if (groupDigits < 0 || groupDigits > 9)
            PL_THROW_ERROR_FORMAT(E_INVALIDARG, 1, "Group digits (%ld) must be a value between 0 and 9", groupDigits);
        LONG positiveOrder = 0;
        LONG negativeOrder = 0;
        OrdersFromMask(mask, positiveOrder, negativeOrder);
        const std::u16string text = DoFormat(positiveOrder, negativeOrder, std::u16string(View(currencySymbol)),
                                             std::u16string(View(groupSymbol)), std::u16string(View(decimalSymbol)),
                                             groupDigits, decimalPlaces);
        CopyFormatted(text, buffer, size);
    });
}

HRESULT CPLCurrency::GetString(WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        buffer[0] = 0;
        std::u16string text;
        if (m_customFormat != FALSE) {
            // Orders given explicitly (a mask of 0 or less) are kept; a mask gives its own.
            LONG positiveOrder = m_positiveOrder;
            LONG negativeOrder = m_negativeOrder;
            if (m_currencyMask > 0) OrdersFromMask(m_currencyMask, positiveOrder, negativeOrder);
            text = DoFormat(positiveOrder, negativeOrder, m_currencySymbol, m_groupSymbol, m_decimalSymbol,
                            m_groupDigits, m_decimalPlaces);
        } else {
            const auto format = kd::platform::LocaleCurrencyFormat(m_locale);
            if (!format) PL_THROW_ERROR(E_INVALIDARG, "Invalid parameter", 1);
            text = FormatOrThrow(NumberText(), *format);
            // Where "$" is the decimal separator it is written as ",".
            if (format->decimalSeparator == u"$") {
                const std::size_t dollar = text.find(u'$');
                if (dollar != std::u16string::npos) text[dollar] = u',';
            }
        }
        CopyFormatted(text, buffer, size);
    });
}

HRESULT CPLCurrency::GetUnformattedString(WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        buffer[0] = 0;
        // Two places, leading zero, "." and both orders 0 are the record's defaults. The object's
        // own orders are neither used nor changed.
        kd::platform::CurrencyFormat format;
        format.grouping = 0;
        format.thousandSeparator.clear();
        format.currencySymbol.clear();
        CopyFormatted(FormatOrThrow(NumberText(), format), buffer, size);
    });
}

HRESULT CPLCurrency::SetCurrencyFormatProperties(IPLPropertyBag* bag) {
    if (bag == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        // A name the bag lacks keeps the current setting; nothing changes unless every read succeeds.
        LONG groupDigits = m_groupDigits;
        LONG decimalPlaces = m_decimalPlaces;
        LONG mask = m_currencyMask;
        LONG positiveOrder = m_positiveOrder;
        LONG negativeOrder = m_negativeOrder;
        PL_THROW_IF_FAILED(GetLongFromPropertyBag(bag, u"GroupDigits", &groupDigits));
        PL_THROW_IF_FAILED(GetLongFromPropertyBag(bag, u"DecimalPlaces", &decimalPlaces));
        PL_THROW_IF_FAILED(GetLongFromPropertyBag(bag, u"CurrencyMask", &mask));
        if (mask <= 0) {
            PL_THROW_IF_FAILED(GetLongFromPropertyBag(bag, u"PositiveOrder", &positiveOrder));
            PL_THROW_IF_FAILED(GetLongFromPropertyBag(bag, u"NegativeOrder", &negativeOrder));
        } else {
            HRESULT hr = GetOrderFromFormat(mask, &positiveOrder);
            if (hr >= 0) hr = GetNegativeOrderFromFormat(mask, &negativeOrder);
            PL_THROW_ERROR(hr, "Failed to validate mask", 0);
        }
        // Read into buffers of the longest symbol and a terminator: a longer one fails.
        auto readSymbol = [&](const WCHAR* name, const std::u16string& current, std::size_t limit) {
            WCHAR buffer[kMaxCurrencySymbol + 1] = {};
            current.copy(buffer, limit);
            PL_THROW_IF_FAILED(GetStringFromPropertyBag(bag, name, buffer, static_cast<LONG>(limit + 1)));
            return std::u16string(buffer);
        };
        std::u16string currencySymbol = readSymbol(u"CurrencySymbol", m_currencySymbol, kMaxCurrencySymbol);
        std::u16string decimalSymbol = readSymbol(u"DecimalSymbol", m_decimalSymbol, kMaxSeparator);
        std::u16string groupSymbol = readSymbol(u"GroupSymbol", m_groupSymbol, kMaxSeparator);
        m_groupDigits = groupDigits;
        m_decimalPlaces = decimalPlaces;
        m_currencyMask = mask;
        m_positiveOrder = positiveOrder;
        m_negativeOrder = negativeOrder;
        m_currencySymbol = std::move(currencySymbol);
        m_decimalSymbol = std::move(decimalSymbol);
        m_groupSymbol = std::move(groupSymbol);
        m_customFormat = TRUE;
    });
}
