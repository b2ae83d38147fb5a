#include "module_base/PLCurrencyText.h"

#include <algorithm>
#include <string>

// The text is read in a few passes over a copy on the stack, each linear in its length: no
// recursion, no allocation beyond the decoded symbols, the same time for hostile text as for an
// ordinary amount.

namespace {

constexpr std::size_t kMaxWholeDigits = 18;
// More places than this cannot be written.
constexpr int32_t kMaxDecimalPlaces = 99;
constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// Locale data writes U+00A0 and U+202F as group separators and before the currency symbol, and
// every Unicode space reads as a blank; U+2212 reads as "-". The direction marks that right-to-
// left locales write around signs and symbols (U+200E, U+200F, U+061C) read as nothing.
bool IsUnicodeSpace(char32_t c) noexcept {
    return c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

bool IsDirectionMark(char32_t c) noexcept {
    return c == 0x200E || c == 0x200F || c == 0x061C;
}

// Calls `put` with each character of `text` as it is read: code points (a lone surrogate stays
// itself), blanks and minus signs mapped, direction marks dropped.
template <class Put>
void Decode(std::u16string_view text, Put&& put) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (IsDirectionMark(c)) continue;
        if (IsUnicodeSpace(c))
            c = U' ';
        else if (c == 0x2212)
            c = U'-';
        put(c);
    }
}

std::u32string Decoded(std::u16string_view text) {
    std::u32string out;
    Decode(text, [&](char32_t c) { out.push_back(c); });
    return out;
}

// A blank: the ASCII white space characters (after the mapping above, every Unicode space).
bool IsBlank(char32_t c) noexcept {
    return c == U' ' || (c >= U'\t' && c <= U'\r');
}

bool IsDigit(char32_t c) noexcept {
    return c >= U'0' && c <= U'9';
}

bool IsLineBreak(char32_t c) noexcept {
    return c == U'\n' || c == U'\r';
}

// Symbols match without regard to the case of the letters A to Z.
char32_t Fold(char32_t c) noexcept {
    return c >= U'A' && c <= U'Z' ? c + (U'a' - U'A') : c;
}

bool MatchesAt(const char32_t* text, std::size_t size, std::size_t at, const std::u32string& symbol) noexcept {
    if (symbol.size() > size - at) return false;
    for (std::size_t k = 0; k < symbol.size(); ++k) {
        if (Fold(text[at + k]) != Fold(symbol[k])) return false;
    }
    return true;
}

// Removes every occurrence of `symbol`, leftmost first, in place; returns the new size.
std::size_t RemoveAll(char32_t* text, std::size_t size, const std::u32string& symbol) noexcept {
    if (symbol.empty()) return size;
    std::size_t out = 0;
    for (std::size_t in = 0; in < size;) {
        if (MatchesAt(text, size, in, symbol)) {
            in += symbol.size();
        } else {
            text[out++] = text[in++];
        }
    }
    return out;
}

bool HasLineBreak(const char32_t* text, std::size_t from, std::size_t to) noexcept {
    return std::any_of(text + from, text + to, IsLineBreak);
}

// Parentheses around the amount, a minus before the first digit, or a minus after a digit. Text
// after the first digit, or inside the parentheses, must be one line.
bool LooksNegative(const char32_t* text, std::size_t size) noexcept {
    std::size_t first = kNotFound;
    std::size_t last = kNotFound;
    bool minus = false;
    for (std::size_t i = 0; i < size; ++i) {
        if (IsDigit(text[i])) {
            if (first == kNotFound) first = i;
            last = i;
        } else if (text[i] == U'-') {
            minus = true;
        }
    }
    if (first == kNotFound) {
        // No digits: a "(" followed by a ")" on the same line.
        bool open = false;
        for (std::size_t i = 0; i < size; ++i) {
            if (IsLineBreak(text[i]))
                open = false;
            else if (text[i] == U'(')
                open = true;
            else if (text[i] == U')' && open)
                return true;
        }
        return false;
    }
    if (minus && !HasLineBreak(text, first + 1, size)) return true;
    // The innermost "(" before the first digit and ")" after the last, on one line.
    std::size_t open = kNotFound;
    for (std::size_t i = 0; i < first; ++i) {
        if (text[i] == U'(') open = i;
    }
    std::size_t close = kNotFound;
    for (std::size_t i = last + 1; i < size && close == kNotFound; ++i) {
        if (text[i] == U')') close = i;
    }
    return open != kNotFound && close != kNotFound && !HasLineBreak(text, open + 1, close);
}

// Finds the amount between the signs, parentheses, currency symbols and blanks at the text's
// ends: [start, end). At the front each is taken as it comes (a sign or parenthesis before the
// symbol, the symbol before a blank); at the back the longest run of them that ends the text.
void TrimEdges(const char32_t* text, std::size_t size, const std::u32string& currency, std::size_t& start,
               std::size_t& end) noexcept {
    start = 0;
    while (start < size) {
        const char32_t c = text[start];
        if (c == U'-' || c == U'(' || c == U')') {
            ++start;
        } else if (!currency.empty() && MatchesAt(text, size, start, currency)) {
            start += currency.size();
        } else if (IsBlank(c)) {
            ++start;
        } else {
            break;
        }
    }
    // edge[i]: text[i, size) is made of edge characters and symbols only.
    bool edge[kPLCurrencyTextLimit + 1];
    edge[size] = true;
    for (std::size_t i = size; i-- > start;) {
        const char32_t c = text[i];
        const bool single = c == U'-' || c == U'(' || c == U')' || IsBlank(c);
        edge[i] = (single && edge[i + 1]) || (!currency.empty() && currency.size() <= size - i &&
                                              edge[i + currency.size()] && MatchesAt(text, size, i, currency));
    }
    end = start;
    while (!edge[end]) ++end;
}

}  // namespace

PLCurrencyTextStatus PLParseCurrencyText(std::u16string_view text, const PLCurrencyTextSettings& settings,
                                         PLCurrencyAmount& amount) {
    if (text.empty()) {
        amount = PLCurrencyAmount{};
        return PLCurrencyTextStatus::kOk;
    }
    if (text.size() > kPLCurrencyTextLimit) return PLCurrencyTextStatus::kInvalid;
    if (settings.decimalPlaces < 0 || settings.decimalPlaces > kMaxDecimalPlaces) return PLCurrencyTextStatus::kInvalid;
    const auto places = static_cast<std::size_t>(settings.decimalPlaces);

    char32_t chars[kPLCurrencyTextLimit];
    std::size_t size = 0;
    Decode(text, [&](char32_t c) { chars[size++] = c; });

    const bool negative = LooksNegative(chars, size);
    const char32_t* const begin = chars;
    const char32_t* const end = chars + size;
    const char32_t* open = std::find(begin, end, U'(');
    const char32_t* close = std::find(begin, end, U')');
    if (open != end ? (close == end || close < open) : close != end)
        return PLCurrencyTextStatus::kInvalidNegativeSymbol;

    // Group symbols go wherever they stand, in the currency symbol too.
    const std::u32string group = Decoded(settings.groupSymbol);
    const std::u32string decimal = Decoded(settings.decimalSymbol);
    std::u32string currency = Decoded(settings.currencySymbol);
    currency.resize(RemoveAll(currency.data(), currency.size(), group));
    size = RemoveAll(chars, size, group);

    std::size_t first = 0;
    std::size_t last = 0;
    TrimEdges(chars, size, currency, first, last);
    const char32_t* number = chars + first;
    const std::size_t length = last - first;

    // The number: up to 18 whole digits, then the decimal symbol and up to `places` digits.
    std::size_t run = 0;
    while (run < length && IsDigit(number[run])) ++run;
    std::size_t wholeDigits = length;
    std::size_t fractionAt = length;
    if (run == length && length <= kMaxWholeDigits) {
        // Digits alone.
    } else if (decimal.empty()) {
        return PLCurrencyTextStatus::kInvalid;
    } else {
        // The digits that end the text start at `tail`. The most whole digits are tried first,
        // and fewer only where the decimal symbol itself begins with a digit.
        std::size_t tail = length;
        while (tail > 0 && IsDigit(number[tail - 1])) --tail;
        bool found = false;
        for (std::size_t j = std::min(run, kMaxWholeDigits) + 1; j-- > 0 && !found;) {
            if (!MatchesAt(number, length, j, decimal)) continue;
            const std::size_t after = j + decimal.size();
            if (after >= tail && length - after <= places) {
                wholeDigits = j;
                fractionAt = after;
                found = true;
            }
        }
        if (!found) return PLCurrencyTextStatus::kInvalid;
    }

    // Without a decimal symbol the last `places` digits are the fraction: "5" is 0.05. Otherwise
    // the fraction's digits are completed with zeros on the right: "5" is 0.50.
    const char32_t* fraction = number + fractionAt;
    std::size_t fractionDigits = length - fractionAt;
    std::size_t leadingZeros = 0;
    if (decimal.empty() && places > 0) {
        fractionDigits = std::min(places, wholeDigits);
        wholeDigits -= fractionDigits;
        fraction = number + wholeDigits;
        leadingZeros = places - fractionDigits;
    }
    auto fractionDigit = [&](std::size_t i) -> int32_t {
        if (i < leadingZeros) return 0;
        i -= leadingZeros;
        return i < fractionDigits ? static_cast<int32_t>(fraction[i] - U'0') : 0;
    };
    uint64_t units = 0;
    for (std::size_t i = 0; i < wholeDigits; ++i) units = units * 10 + static_cast<uint64_t>(number[i] - U'0');
    amount = PLCurrencyAmount{negative, units, fractionDigit(0) * 10 + fractionDigit(1)};
    return PLCurrencyTextStatus::kOk;
}
