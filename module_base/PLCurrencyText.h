// Reading money amounts from free-form text: with or without the currency symbol, with group
// separators, a minus sign before or after the amount, or parentheses around it. A hand-written
// scanner, linear in the text, with a bounded stack: hosts call it on threads with small stacks.
#ifndef KD_PLCURRENCYTEXT_H
#define KD_PLCURRENCYTEXT_H

#include <cstdint>
#include <string>
#include <string_view>

struct PLCurrencyTextSettings {
    std::u16string decimalSymbol;   // empty: the last `decimalPlaces` digits are the fraction
    std::u16string groupSymbol;     // removed wherever it occurs
    std::u16string currencySymbol;  // stripped with blanks, signs and parentheses at both ends
    int32_t decimalPlaces = 2;
};

struct PLCurrencyAmount {
    bool negative = false;
    uint64_t units = 0;    // below 10^18
    int32_t fraction = 0;  // hundredths, 0-99
};

enum class PLCurrencyTextStatus {
    kOk,
    kInvalidNegativeSymbol,  // unbalanced parentheses
    kInvalid,                // not an amount, more than 18 whole digits, or too long
};

// The longest text read (in UTF-16 units); longer text is refused unread.
inline constexpr std::size_t kPLCurrencyTextLimit = 255;

// Reads `text` into `amount`, which is written only on success. The empty text is zero. In the
// text and the symbols every Unicode space reads as a blank, U+2212 as "-", and the direction
// marks U+200E, U+200F and U+061C as nothing; symbols match without regard to the case of A-Z.
PLCurrencyTextStatus PLParseCurrencyText(std::u16string_view text, const PLCurrencyTextSettings& settings,
                                         PLCurrencyAmount& amount);

#endif  // KD_PLCURRENCYTEXT_H
