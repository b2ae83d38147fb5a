// The currency text scanner against the grammar it implements, written as ECMAScript regular
// expressions: for any settings and any text both must give the same answer (status, sign, units
// and hundredths). The expressions backtrack and recurse per character, so they run on a thread
// with a large stack and on short texts only; the scanner runs on the fuzz thread. Long texts
// are left to fuzz_currency_text and the unit tests.
//
// Input: byte 0 chooses the decimal places, byte 1 the lengths of the decimal, group and
// currency symbols, whose characters follow; the rest is the text. ASCII bytes stand for
// themselves, the others for characters that locale data writes or that fold differently.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <locale>
#include <regex>
#include <string>

#include "fuzz/FuzzThread.h"
#include "module_base/PLCurrencyText.h"

namespace {

// ---- the grammar as regular expressions ----

bool IsUnicodeSpace(char32_t c) noexcept {
    return c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000 || c == 0xFEFF;
}

// UTF-32 for the wide expressions; the same reading of blanks, minus signs and direction marks.
std::wstring ToMatchText(std::u16string_view text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c == 0x200E || c == 0x200F || c == 0x061C) continue;
        if (IsUnicodeSpace(c))
            c = U' ';
        else if (c == 0x2212)
            c = U'-';
        out.push_back(static_cast<wchar_t>(c));
    }
    return out;
}

// Every ASCII character other than a letter, digit or blank as "\u00XX".
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

PLCurrencyTextStatus ParseWithExpressions(std::u16string_view text, const PLCurrencyTextSettings& settings,
                                          PLCurrencyAmount& amount) {
    if (text.empty()) {
        amount = PLCurrencyAmount{};
        return PLCurrencyTextStatus::kOk;
    }
    if (text.size() > kPLCurrencyTextLimit) return PLCurrencyTextStatus::kInvalid;
    if (settings.decimalPlaces < 0 || settings.decimalPlaces > 99) return PLCurrencyTextStatus::kInvalid;
    const std::wstring original = ToMatchText(text);
    static const std::wregex negativeExpression =
        Compile(L"^(?:[^\\d]*\\(.*?\\)[^\\d]*|[^\\d]*-[^\\d]*\\d+.*|[^\\d]*\\d+.*?-.*)$", false);
    const bool negative = std::regex_match(original, negativeExpression);
    const std::size_t open = original.find(L'(');
    const std::size_t close = original.find(L')');
    if (open != std::wstring::npos ? (close == std::wstring::npos || close < open) : close != std::wstring::npos)
        return PLCurrencyTextStatus::kInvalidNegativeSymbol;

    const std::wstring groupText = ToMatchText(settings.groupSymbol);
    std::wregex group;
    if (!groupText.empty()) group = Compile(Escape(groupText), true);
    std::wstring currency = ToMatchText(settings.currencySymbol);
    if (!groupText.empty()) currency = std::regex_replace(currency, group, L"");
    std::wstring edge = L"(?:-|\\(|\\)|";
    if (!currency.empty()) edge += Escape(currency) + L"|";
    edge += L"\\s)";
    const std::wregex clean = Compile(L"^" + edge + L"*([\\S\\s]*?)" + edge + L"*$", true);
    const std::wstring decimal = ToMatchText(settings.decimalSymbol);
    std::wstring pattern = L"^(\\d{0,18})";
    if (decimal.empty())
        pattern += L"()";
    else
        pattern += L"(?:" + Escape(decimal) + L"(\\d{0," + std::to_wstring(settings.decimalPlaces) + L"}))?";
    const std::wregex number = Compile(pattern + L"$", true);

    std::wstring cleaned = groupText.empty() ? original : std::regex_replace(original, group, L"");
    std::wsmatch match;
    if (!std::regex_match(cleaned, match, clean)) return PLCurrencyTextStatus::kInvalid;
    cleaned = match[1].str();
    if (!std::regex_match(cleaned, match, number)) return PLCurrencyTextStatus::kInvalid;
    std::wstring whole = match[1].str();
    std::wstring cents = match[2].str();
    const auto places = static_cast<std::size_t>(settings.decimalPlaces);
    if (decimal.empty() && places > 0) {
        const std::size_t take = std::min(places, whole.size());
        cents = whole.substr(whole.size() - take);
        whole.erase(whole.size() - take);
        cents.insert(0, places - cents.size(), L'0');
    } else if (cents.size() < places) {
        cents.append(places - cents.size(), L'0');
    }
    uint64_t units = 0;
    for (const wchar_t digit : whole) units = units * 10 + static_cast<uint64_t>(digit - L'0');
    const int32_t tens = cents.size() > 0 ? cents[0] - L'0' : 0;
    const int32_t ones = cents.size() > 1 ? cents[1] - L'0' : 0;
    amount = PLCurrencyAmount{negative, units, tens * 10 + ones};
    return PLCurrencyTextStatus::kOk;
}

// ---- the input ----

constexpr std::size_t kExpressionStack = 64 * 1024 * 1024;
// The expressions take time exponential in the text's length where the currency symbol holds a
// sign, parenthesis or blank (each such character can be read two ways), polynomial otherwise.
constexpr std::size_t kLongestText = 32;
constexpr std::size_t kLongestAmbiguousText = 16;
constexpr int32_t kPlaces[] = {2, 0, 1, 3, 19, 99, -1, 100};
constexpr char16_t kWide[] = {u'\u00A0', u'\u202F', u'\u2212', u'\u200E', u'\u200F',        u'\u061C',
                              u'\u20AC', u'\u20AA', u'\u066B', u'\u066C', char16_t{0xD83D}, char16_t{0xDCB0},
                              u'\u0660', u'\uFF11', u'\u2028', u'\uFEFF', u'\u00C9',        u'\u00E9',
                              u'\u0130', u'\u212A', u'\u3000', u'\u0085'};

char16_t Char(uint8_t b) {
    return b < 0x80 ? static_cast<char16_t>(b) : kWide[b % std::size(kWide)];
}

std::u16string Take(const uint8_t*& data, const uint8_t* end, std::size_t count) {
    std::u16string out;
    while (count-- > 0 && data < end) out += Char(*data++);
    return out;
}

void Report(const char* side, PLCurrencyTextStatus status, const PLCurrencyAmount& amount) {
    std::fprintf(stderr, "%s: status %d negative %d units %llu fraction %d\n", side, static_cast<int>(status),
                 amount.negative ? 1 : 0, static_cast<unsigned long long>(amount.units), amount.fraction);
}

}  // namespace

KD_FUZZ_TARGET(data, size) {
    if (size < 2) return 0;
    const uint8_t* end = data + size;
    PLCurrencyTextSettings settings;
    settings.decimalPlaces = kPlaces[data[0] % std::size(kPlaces)];
    const uint8_t lengths = data[1];
    data += 2;
    settings.decimalSymbol = Take(data, end, lengths & 3u);
    settings.groupSymbol = Take(data, end, (lengths >> 2) & 3u);
    settings.currencySymbol = Take(data, end, (lengths >> 4) & 7u);
    const std::wstring currency = ToMatchText(settings.currencySymbol);
    const bool ambiguous = currency.find_first_of(L"-() \t\n\v\f\r") != std::wstring::npos;
    const std::u16string text = Take(data, end, ambiguous ? kLongestAmbiguousText : kLongestText);

    PLCurrencyAmount scanned{true, 77, 77};
    const PLCurrencyTextStatus scannedStatus = PLParseCurrencyText(text, settings, scanned);
    PLCurrencyAmount expected{true, 77, 77};
    PLCurrencyTextStatus expectedStatus = PLCurrencyTextStatus::kOk;
    kd::fuzz::RunOnStack(kExpressionStack, [&] { expectedStatus = ParseWithExpressions(text, settings, expected); });
    if (scannedStatus != expectedStatus || scanned.negative != expected.negative || scanned.units != expected.units ||
        scanned.fraction != expected.fraction) {
        Report("scanner", scannedStatus, scanned);
        Report("expressions", expectedStatus, expected);
        std::abort();
    }
    return 0;
}
