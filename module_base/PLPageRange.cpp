#include "module_base/PLPageRange.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

#include "module_base/PLError.h"

namespace {

constexpr const char* kGroup = "Core Services";
constexpr const char* kClass = "Utility Functions";

bool IsBlank(char16_t c) noexcept {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

bool IsDigit(char16_t c) noexcept {
    return c >= u'0' && c <= u'9';
}

void ReplaceAll(std::u16string& text, std::u16string_view what, char16_t with) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, what.size(), what) == 0) {
            out += with;
            i += what.size();
        } else {
            out += text[i++];
        }
    }
    text.swap(out);
}

// The text trimmed, with runs of spaces made one and the spaces beside separators removed.
std::u16string Normalize(const WCHAR* text) {
    std::u16string copy;
    for (const WCHAR* p = text; *p != 0; ++p) copy += *p;
    std::size_t first = 0, last = copy.size();
    while (first < last && IsBlank(copy[first])) ++first;
    while (last > first && IsBlank(copy[last - 1])) --last;
    std::u16string out;
    out.reserve(last - first);
    for (std::size_t i = first; i < last; ++i)
        if (copy[i] != u' ' || out.empty() || out.back() != u' ') out += copy[i];
    ReplaceAll(out, u" -", u'-');
    ReplaceAll(out, u"- ", u'-');
    ReplaceAll(out, u" ,", u',');
    ReplaceAll(out, u", ", u',');
    return out;
}

// False when a character other than digits and separators is present (the caller decides
// whether that matters); throws for a separator where none may stand, for a second dash within
// one range, and for two numbers with only a space between them, which no reading could take
// as one page.
bool CheckSeparators(const std::u16string& text) {
    bool afterDash = false, afterComma = false, dashInRange = false;
    bool plain = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (IsDigit(c)) {
            afterDash = afterComma = false;
        } else if (c == u' ' && i > 0 && IsDigit(text[i - 1]) && i + 1 < text.size() && IsDigit(text[i + 1])) {
            PL_THROW_ERROR(E_FAIL, "Invalid character in page range", 1);
        } else if (c == u',') {
            if (afterDash || afterComma) PL_THROW_ERROR(E_FAIL, "Invalid character in page range", 1);
            afterComma = true;
            afterDash = dashInRange = false;
        } else if (c == u'-') {
            if (afterDash || afterComma || i == 0 || i + 1 == text.size())
                PL_THROW_ERROR(E_FAIL, "Invalid character in page range", 1);
            if (dashInRange) PL_THROW_ERROR(E_FAIL, "Invalid dashes in page range", 1);
            afterDash = dashInRange = true;
            afterComma = false;
        } else {
            plain = false;
        }
    }
    return plain;
}

// The leading digits of `text` (none: 0), at least 1 and at most `maxPage` (below 1: the
// form's own limit, which the digits may not pass either).
template <class Int>
Int ReadPage(std::u16string_view text, Int maxPage) {
    const Int limit = maxPage >= 1 ? maxPage : std::numeric_limits<Int>::max();
    Int value = 0;
    for (std::size_t i = 0; i < text.size() && IsDigit(text[i]); ++i) {
        const Int digit = static_cast<Int>(text[i] - u'0');
        if (value > (limit - digit) / 10) PL_THROW_ERROR(E_FAIL, "Page in range greater than maximum page number.", 1);
        value = value * 10 + digit;
    }
    if (value < 1) PL_THROW_ERROR(E_FAIL, "Pages in range must be greater than 0.", 1);
    return value;
}

template <class Int, class Range>
HRESULT Parse(const WCHAR* text, std::vector<Range>& ranges, Int maxPage, bool allowInverse) {
    const std::u16string normal = Normalize(text);
    if (normal.empty()) return E_INVALIDARG;
    if (!CheckSeparators(normal) && maxPage >= 1) {
        ranges.clear();
        return S_FALSE;
    }

    // Each number with the separator after it; the last number stands alone, as before a ",".
    std::vector<std::pair<Int, char16_t>> numbers;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= normal.size(); ++i) {
        if (i < normal.size() && normal[i] != u'-' && normal[i] != u',') continue;
        const Int page = ReadPage<Int>(std::u16string_view(normal).substr(from, i - from), maxPage);
        numbers.emplace_back(page, i < normal.size() ? normal[i] : u',');
        from = i + 1;
    }

    std::vector<Range> out;
    for (std::size_t i = 0; i < numbers.size();) {
        if (numbers[i].second == u'-') {
            out.push_back({numbers[i].first, numbers[i + 1].first});
            i += 2;
        } else {
            out.push_back({numbers[i].first, numbers[i].first});
            i += 1;
        }
        if (!allowInverse && out.back().start > out.back().end) PL_THROW_ERROR(E_FAIL, "Inverse page range found.", 1);
    }

    // Two ranges share a page when the larger of their low ends is at most the smaller of their
    // high ends, whatever their directions: sorted by low end, each range must start above
    // every high end before it.
    std::vector<std::pair<Int, Int>> spans;
    spans.reserve(out.size());
    for (const Range& r : out) spans.emplace_back(std::min(r.start, r.end), std::max(r.start, r.end));
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].first <= spans[i - 1].second)
            PL_THROW_ERROR(E_FAIL, "Invalid Page Range. Repeated values found.", 1);
        spans[i].second = std::max(spans[i].second, spans[i - 1].second);
    }
    ranges.swap(out);
    return S_OK;
}

template <class Int>
void AppendNumber(std::u16string& out, Int value) {
    char16_t digits[24];
    int n = 0;
    const bool negative = value < 0;
    auto magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) out += u'-';
    while (n > 0) out += digits[--n];
}

template <class Range>
PLString Create(const std::vector<Range>& ranges) {
    std::u16string out;
    for (const Range& r : ranges) {
        if (!out.empty()) out += u',';
        AppendNumber(out, r.start);
        if (r.end != r.start) {
            out += u'-';
            AppendNumber(out, r.end);
        }
    }
    PLString text;
    text.Append(out.data(), static_cast<int32_t>(out.size()));
    return text;
}

}  // namespace

HRESULT ParsePageRangeString(const WCHAR* text, std::vector<PLPageRange>& ranges, int32_t maxPage, bool allowInverse) {
    if (text == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass),
                     [&](HRESULT& hr) { hr = Parse(text, ranges, maxPage, allowInverse); });
}

HRESULT ParsePageRangeString(const WCHAR* text, std::vector<PLPageRange64>& ranges, int64_t maxPage,
                             bool allowInverse) {
    if (text == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass),
                     [&](HRESULT& hr) { hr = Parse(text, ranges, maxPage, allowInverse); });
}

HRESULT CreatePageRangeString(const std::vector<PLPageRange>& ranges, PLString& text) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) { text = Create(ranges); });
}

HRESULT CreatePageRangeString(const std::vector<PLPageRange64>& ranges, PLString& text) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) { text = Create(ranges); });
}
