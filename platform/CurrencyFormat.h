// Money amounts written as the Windows currency formatter writes them.
//
// The amount comes as number text: ASCII digits with at most one "." and an optional "-" first
// ("-1234.5", ".5", "7."). It is rounded half away from zero to the format's number of decimal
// places, grouped, and placed with the currency symbol and sign in one of the Windows orders:
//
//   positive  0 $1.1    1 1.1$    2 $ 1.1   3 1.1 $
//   negative  0 ($1.1)  1 -$1.1   2 $-1.1   3 $1.1-   4 (1.1$)  5 -1.1$   6 1.1-$   7 1.1$-
//             8 -1.1 $  9 -$ 1.1 10 1.1 $- 11 $ 1.1- 12 $ -1.1 13 1.1- $ 14 ($ 1.1) 15 (1.1 $)
//
// The blanks of the orders are U+0020 whatever the locale's own spaces. An amount that rounds to
// zero is written as positive.
#ifndef KD_PLATFORM_CURRENCY_FORMAT_H
#define KD_PLATFORM_CURRENCY_FORMAT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kd::platform {

struct CurrencyFormat {
    std::uint32_t digits = 2;       // decimal places, 0-9
    std::uint32_t leadingZero = 1;  // 1: "0.5", 0: ".5"
    // Group sizes from the decimal separator leftwards, one decimal digit each, the last one
    // repeating: 3 gives 1,234,567; 32 gives 12,34,567; a final 0 stops the repetition: 30
    // gives 1234,567 and 320 gives 12345,67,890. 0: no grouping.
    std::uint32_t grouping = 3;
    std::u16string decimalSeparator = u".";
    std::u16string thousandSeparator = u",";
    std::uint32_t negativeOrder = 0;  // 0-15
    std::uint32_t positiveOrder = 0;  // 0-3
    std::u16string currencySymbol = u"$";
    std::u16string negativeSign = u"-";  // the locale's, where the order places a minus
};

enum class CurrencyFormatStatus {
    kOk,
    kInvalidNumber,  // the number text is not digits with at most one "." and a leading "-"
    kInvalidFormat,  // digits, leading zero or an order out of range
};

// Writes `number` in `format` to `out` (replacing its content). `out` is left empty on failure.
CurrencyFormatStatus FormatCurrency(std::u16string_view number, const CurrencyFormat& format, std::u16string& out);

// The grouping number of a locale's grouping text: "3;0" -> 3, "3;2;0" -> 32, "3" -> 30,
// "3;2" -> 320, "0" -> 0.
std::uint32_t GroupingFromText(std::u16string_view text);

// The locale's own currency format (digits, leading zero, monetary grouping and separators,
// both orders, symbol and minus sign). Empty optional when the identifier is unknown.
std::optional<CurrencyFormat> LocaleCurrencyFormat(std::uint32_t languageId);

}  // namespace kd::platform

#endif  // KD_PLATFORM_CURRENCY_FORMAT_H
