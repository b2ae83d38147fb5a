// Currency formatting of arbitrary number text in arbitrary formats. The first six bytes choose
// the format, the rest is the number text. Whatever formats must also format in the plain form
// ("-" and digits, "." and exactly the decimal places), and that text must be the number rounded.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzThread.h"
#include "platform/CurrencyFormat.h"
#include "platform/Text.h"

using kd::platform::CurrencyFormat;
using kd::platform::CurrencyFormatStatus;

KD_FUZZ_TARGET(data, size) {
    if (size < 6) return 0;
    CurrencyFormat format;
    format.digits = data[0] % 11u;  // 10 is out of range
    format.leadingZero = data[1] % 3u;
    format.grouping = (data[2] | (data[3] << 8)) % 1000u;
    format.negativeOrder = data[4] % 17u;
    format.positiveOrder = data[5] % 5u;
    format.thousandSeparator = u"\u202F";
    format.currencySymbol = u"\u20AC";
    std::u16string number;
    for (size_t i = 6; i < size; ++i) number += static_cast<char16_t>(data[i]);

    std::u16string out = u"stale";
    const CurrencyFormatStatus status = kd::platform::FormatCurrency(number, format, out);
    if (status != CurrencyFormatStatus::kOk) {
        if (!out.empty()) std::abort();
        return 0;
    }
    if (out.find_first_of(u"0123456789") == std::u16string::npos) std::abort();

    CurrencyFormat plain;
    plain.digits = format.digits;
    plain.leadingZero = 1;
    plain.grouping = 0;
    plain.thousandSeparator.clear();
    plain.currencySymbol.clear();
    plain.negativeOrder = 1;  // "-N" with no symbol
    std::u16string text;
    if (kd::platform::FormatCurrency(number, plain, text) != CurrencyFormatStatus::kOk) std::abort();
    const std::size_t point = text.find(u'.');
    if ((point == std::u16string::npos) != (plain.digits == 0)) std::abort();
    if (point != std::u16string::npos && text.size() - point - 1 != plain.digits) std::abort();
    const std::string narrow = kd::platform::Utf16ToUtf8(text);
    const std::string input = kd::platform::Utf16ToUtf8(number);
    const double written = std::strtod(narrow.c_str(), nullptr);
    const double given = std::strtod(input.c_str(), nullptr);
    if (std::isfinite(given) && std::isfinite(written) &&
        std::fabs(written - given) >
            0.5 * std::pow(10.0, -static_cast<double>(plain.digits)) + std::fabs(given) * 1e-12) {
        std::abort();
    }
    return 0;
}
