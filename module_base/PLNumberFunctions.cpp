// Number conversion and decimal-separator functions.
#include "module_base/PLNumberFunctions.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include <kdtrace/propertybag.h>
#include <kdtrace/variant.h>

#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "platform/LocaleInfo.h"

namespace {
constexpr const char* kGroup = "Core Services";
constexpr const char* kClass = "Utility Functions";
constexpr int64_t kInt32Max = 2147483647;
constexpr int64_t kInt32Min = -kInt32Max - 1;
// From here on a 32-bit value is close enough to its top to deserve a warning.
constexpr int64_t kInt32WarnFrom = kInt32Max - 499999;

bool IsDigit(WCHAR c) noexcept {
    return c >= u'0' && c <= u'9';
}

// The locale's decimal symbol, as the locale API hands it out into a 5-character buffer.
PLString DecimalSymbol(LCID locale) {
    const std::optional<std::u16string> symbol =
        kd::platform::LocaleText(locale, kd::platform::LocaleItem::DecimalSeparator);
    if (!symbol || symbol->size() >= 5) PL_THROW_ERROR(E_FAIL, "Failed to get user decimal symbol.", 1);
    return symbol->empty() ? PLString(u".") : PLString(*symbol);
}
}  // namespace

HRESULT StringToDouble(const WCHAR* text, double* value) {
    if (text == nullptr || value == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        // The digits are gathered without the group separators and read in one go, so the
        // result is the double nearest the decimal value (digit-by-digit sums drift).
        std::string digits;
        const WCHAR* p = text;
        if (*p == u'-' || *p == u'+') {
            if (*p == u'-') digits += '-';
            ++p;
        }
        digits += '0';
        for (; *p != 0 && *p != u'.'; ++p) {
            if (*p == u',') continue;
            if (!IsDigit(*p)) {
                hr = E_FAIL;
                return;
            }
            digits += static_cast<char>(*p);
        }
        if (*p == u'.') {
            digits += '.';
            for (++p; *p != 0; ++p) {
                if (!IsDigit(*p)) {
                    hr = E_FAIL;
                    return;
                }
                digits += static_cast<char>(*p);
            }
        }
        double result = 0.0;
        const char* const end = digits.data() + digits.size();
        std::from_chars_result read = std::from_chars(digits.data(), end, result);
        // Out of range is either side: a whole part of hundreds of digits exceeds what a double
        // holds and is refused; a fraction below the smallest double is nearest to zero.
        if (read.ec == std::errc::result_out_of_range && read.ptr == end) {
            const std::size_t whole = digits.find_first_not_of("-0");
            if (whole != std::string::npos && digits[whole] == '.') {
                result = digits[0] == '-' ? -0.0 : 0.0;
                read.ec = std::errc();
            }
        }
        if (read.ec != std::errc() || read.ptr != end || !std::isfinite(result)) {
            hr = E_FAIL;
            return;
        }
        *value = result;
    });
}

HRESULT VerifySafeInt32(LONGLONG value) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        if (value > kInt32Max) {
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1, "The Value is larger than %Id. This operation is not supported.", kInt32Max);
        }
        if (value < kInt32Min) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Possible truncation due to value out of bounds", 1);
        }
        if (value >= kInt32WarnFrom) {
            PLRecordError(
                kGroup, kClass, "VerifySafeInt32",
                PLMakeError(S_FALSE, "The value is close to getting maxout. Highly recommended to use type Int64", 1,
                            __LINE__, "VerifySafeInt32", __FILE__));
        }
    });
}

HRESULT ConvertPLLongToLong(LONGLONG value, LONG* result) {
    if (result == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        if (value > kInt32Max) {
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1,
                                  "Unable to convert olValue (%I64d) to Int32. This operation is not supported for "
                                  "values greater than %ld.",
                                  value, kInt32Max);
        }
        if (value < kInt32Min) {
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1,
                                  "Unable to convert olValue (%I64d) to Int32. This operation is not supported for "
                                  "values less than %ld.",
                                  value, kInt32Min);
        }
        *result = static_cast<LONG>(value);
    });
}

HRESULT EstimateImageMemory(ULONG width, ULONG height, ULONG bitsPerPixel, uint64_t* bytes) {
    if (bytes == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        if (width == 0 || height == 0) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Non-zero WIDTH and HEIGHT required", 1);
        }
        // 32-bit inputs: the row fits 64 bits; every step after it is checked.
        const uint64_t row = (uint64_t{width} * bitsPerPixel + 31) / 8;
        uint64_t image = 0, doubled = 0, total = 0;
        bool wraps = __builtin_mul_overflow(row, uint64_t{height}, &image);
        if (image < 2048) image += 1024;
        wraps = wraps || __builtin_mul_overflow(image, uint64_t{2}, &doubled) ||
                __builtin_add_overflow(doubled, doubled / 40, &total);
        if (wraps) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Image dimensions too large", 1);
        }
        *bytes = total;
    });
}

HRESULT GetDecimalSeparator(IUnknown* source, PLString& separator, LCID& locale) {
    if (source == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        PLString found = u".";
        PLComPtr<IPLPropertyBag> bag;
        hr = source->QueryInterface(IID_IPLPropertyBag, bag.PutVoid());
        PL_THROW_IF_FAILED(hr);
        PLComPtr<IPLVariant> value;
        hr = bag->GetProperty(u"databaseUsesCommaDecimal", value.Put());
        PL_THROW_IF_FAILED(hr);
        if (hr == S_OK && value) {
            bool comma = false;
            hr = value->GetValueBoolean(&comma);
            PL_THROW_IF_FAILED(hr);
            if (comma) found = u",";
        }
        hr = S_OK;
        separator = found;
        locale = 1033;
    });
}

HRESULT LocalizeFloatingPointString(PLString& text, LCID locale) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        const PLString symbol = DecimalSymbol(locale);
        if (symbol != PLString(u".")) text.Replace(u".", symbol);
    });
}

HRESULT NormalizeFloatingPointString(PLString& text, LCID locale) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        const PLString symbol = DecimalSymbol(locale);
        if (symbol != PLString(u".")) text.Replace(symbol, u".");
    });
}

HRESULT CorrectPortugueseDecimalSeparator(LCID locale, PLString& text) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        const std::optional<std::u16string> symbol =
            kd::platform::LocaleText(locale, kd::platform::LocaleItem::MonetaryDecimalSeparator);
        if (!symbol || symbol->size() >= 10) PL_THROW_ERROR(E_FAIL, "Failed to get system decimal symbol.", 1);
        if (!symbol->empty() && (*symbol)[0] == u'$') {
            const int32_t at = text.Find(u'$');
            if (at >= 0) text.SetAt(at, u',');
        }
    });
}
