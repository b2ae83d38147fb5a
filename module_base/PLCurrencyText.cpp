#include "module_base/PLCurrencyText.h"

#include <array>
#include <locale>
#include <memory>
#include <regex>
#include <string>

namespace {

// The grammar's white space is ECMAScript's: every Unicode space, not only the ASCII ones that
// the standard library's wide expressions know. Locale data writes U+00A0 and U+202F as group
// separators and before the currency symbol, so they are mapped to a blank before matching, and
// the minus sign U+2212 to "-". The text is matched as UTF-32.
bool IsUnicodeSpace(char32_t c) noexcept {
    return c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

std::wstring ToMatchText(std::u16string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (IsUnicodeSpace(c))
            c = U' ';
        else if (c == 0x2212)
            c = U'-';
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

// Every ASCII character other than a letter, digit or blank is written as "\u" and four hex
// digits, so that a symbol matches itself literally whatever it holds.
std::wstring Escape(const std::wstring& text) {
    static constexpr wchar_t kHex[] = L"0123456789abcdef";
    std::wstring out;
    for (const wchar_t c : text) {
        const bool plain =
            c >= 0x80 || c == L' ' || (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
        if (plain) {
            out.push_back(c);
        } else {
            out += L"\\u00";
            out.push_back(kHex[(c >> 4) & 0xF]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    return out;
}

std::wregex Compile(const std::wstring& pattern, bool icase) {
    std::wregex expression;
    expression.imbue(std::locale::classic());
    auto flags = std::regex_constants::ECMAScript;
    if (icase) flags |= std::regex_constants::icase;
    expression.assign(pattern, flags);
    return expression;
}

// The expressions for one set of settings. Compiling them costs far more than matching, so each
// thread keeps those of the few settings it used last.
struct Grammar {
    PLCurrencyTextSettings settings;
    bool removeGroup = false;
    std::wregex group;   // the group symbol
    std::wregex clean;   // group 1: the text without signs, parentheses, symbols and blanks at its ends
    std::wregex number;  // group 1: whole digits, group 2: fraction digits
};

bool SameSettings(const PLCurrencyTextSettings& a, const PLCurrencyTextSettings& b) noexcept {
    return a.decimalPlaces == b.decimalPlaces && a.decimalSymbol == b.decimalSymbol && a.groupSymbol == b.groupSymbol &&
           a.currencySymbol == b.currencySymbol;
}

std::unique_ptr<Grammar> MakeGrammar(const PLCurrencyTextSettings& settings) {
    auto grammar = std::make_unique<Grammar>();
    grammar->settings = settings;
    const std::wstring group = ToMatchText(settings.groupSymbol);
    const std::wstring groupEscaped = Escape(group);
    // An empty symbol adds no alternative: an empty one would match everywhere.
    if (!group.empty()) {
        grammar->removeGroup = true;
        grammar->group = Compile(groupEscaped, true);
    }
    std::wstring currency = ToMatchText(settings.currencySymbol);
    if (grammar->removeGroup) currency = std::regex_replace(currency, grammar->group, L"");
    std::wstring edge = L"(?:-|\\(|\\)|";
    if (!currency.empty()) edge += Escape(currency) + L"|";
    edge += L"\\s)";
    grammar->clean = Compile(L"^" + edge + L"*([\\S\\s]*?)" + edge + L"*$", true);
    std::wstring number = L"^(\\d{0,18})";
    const std::wstring decimal = ToMatchText(settings.decimalSymbol);
    if (decimal.empty())
        number += L"()";
    else
        number += L"(?:" + Escape(decimal) + L"(\\d{0," + std::to_wstring(settings.decimalPlaces) + L"}))?";
    number += L"$";
    grammar->number = Compile(number, true);
    return grammar;
}

const Grammar& GrammarFor(const PLCurrencyTextSettings& settings) {
    // A few settings at a time: a thread that reads amounts of several locales in turn does not
    // compile on every call.
    thread_local std::array<std::unique_ptr<Grammar>, 4> recent;
    thread_local std::size_t next = 0;
    for (const auto& grammar : recent) {
        if (grammar && SameSettings(grammar->settings, settings)) return *grammar;
    }
    std::unique_ptr<Grammar>& slot = recent[next++ % recent.size()];
    slot.reset();
    slot = MakeGrammar(settings);
    return *slot;
}

// Parentheses around the amount, a minus before the first digit, or a minus after a digit.
bool LooksNegative(const std::wstring& text) {
    static const std::wregex negative =
        Compile(L"^(?:[^\\d]*\\(.*?\\)[^\\d]*|[^\\d]*-[^\\d]*\\d+.*|[^\\d]*\\d+.*?-.*)$", false);
    return std::regex_match(text, negative);
}

// More places than this cannot be written, and would only make the expression large.
constexpr int32_t kMaxDecimalPlaces = 99;

}  // namespace

PLCurrencyTextStatus PLParseCurrencyText(std::u16string_view text, const PLCurrencyTextSettings& settings,
                                         PLCurrencyAmount& amount) {
    if (text.empty()) {
        amount = PLCurrencyAmount{};
        return PLCurrencyTextStatus::kOk;
    }
    // Backtracking expressions take time and stack in proportion to the text's length, and no
    // amount is this long.
    if (text.size() > kPLCurrencyTextLimit) return PLCurrencyTextStatus::kInvalid;
    if (settings.decimalPlaces < 0 || settings.decimalPlaces > kMaxDecimalPlaces) return PLCurrencyTextStatus::kInvalid;
    try {
        const std::wstring original = ToMatchText(text);
        const bool negative = LooksNegative(original);
        const std::size_t open = original.find(L'(');
        const std::size_t close = original.find(L')');
        if (open != std::wstring::npos ? (close == std::wstring::npos || close < open) : close != std::wstring::npos)
            return PLCurrencyTextStatus::kInvalidNegativeSymbol;

        const Grammar& grammar = GrammarFor(settings);
        std::wstring clean = grammar.removeGroup ? std::regex_replace(original, grammar.group, L"") : original;
        std::wsmatch match;
        if (!std::regex_match(clean, match, grammar.clean)) return PLCurrencyTextStatus::kInvalid;
        clean = match[1].str();
        if (!std::regex_match(clean, match, grammar.number)) return PLCurrencyTextStatus::kInvalid;
        std::wstring whole = match[1].str();
        std::wstring cents = match[2].str();
        const auto places = static_cast<std::size_t>(settings.decimalPlaces);
        if (settings.decimalSymbol.empty() && places > 0) {
            // Without a decimal symbol the last digits are the fraction: "5" is 0.05.
            const std::size_t take = std::min(places, whole.size());
            cents = whole.substr(whole.size() - take);
            whole.erase(whole.size() - take);
            cents.insert(0, places - cents.size(), L'0');
        } else if (cents.size() < places) {
            cents.append(places - cents.size(), L'0');
        }
        for (const std::wstring* digits : {&whole, &cents}) {
            for (const wchar_t digit : *digits) {
                if (digit < L'0' || digit > L'9') return PLCurrencyTextStatus::kInvalid;
            }
        }
        uint64_t units = 0;
        for (const wchar_t digit : whole) units = units * 10 + static_cast<uint64_t>(digit - L'0');
        const int32_t tens = cents.size() > 0 ? cents[0] - L'0' : 0;
        const int32_t ones = cents.size() > 1 ? cents[1] - L'0' : 0;
        amount = PLCurrencyAmount{negative, units, tens * 10 + ones};
        return PLCurrencyTextStatus::kOk;
    } catch (const std::regex_error&) {
        // An expression the library cannot run (a symbol it cannot compile, or matching that
        // exceeds its limits) reads as text that is not an amount.
        return PLCurrencyTextStatus::kInvalid;
    }
}
