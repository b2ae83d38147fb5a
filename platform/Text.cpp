#include "platform/Text.h"

#include <unicode/uchar.h>

namespace kd::platform {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void AppendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

template <class Map>
void MapInPlace(char16_t* text, std::size_t length, Map map) {
    for (std::size_t i = 0; i < length; ++i) {
        const char16_t c = text[i];
        if (IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(text[i + 1])) {
            const UChar32 cp = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            const UChar32 mapped = map(cp);
            if (mapped >= 0x10000) {
                text[i] = static_cast<char16_t>(0xD800 + ((mapped - 0x10000) >> 10));
                text[i + 1] = static_cast<char16_t>(0xDC00 + ((mapped - 0x10000) & 0x3FF));
            }
            ++i;
        } else {
            const UChar32 mapped = map(c);
            if (mapped < 0x10000) text[i] = static_cast<char16_t>(mapped);
        }
    }
}

}  // namespace

void AppendUtf8AsUtf16(std::u16string& out, std::string_view text) {
    out.reserve(out.size() + text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            // A run of ASCII goes over in one step.
            std::size_t end = i + 1;
            while (end < n && s[end] < 0x80) ++end;
            const std::size_t at = out.size();
            out.resize(at + (end - i));
            char16_t* to = out.data() + at;
            for (; i < end; ++i) *to++ = s[i];
            continue;
        }
        int extra;
        char32_t cp;
        char32_t min;
        if ((b & 0xE0) == 0xC0) {
            extra = 1, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, cp = b & 0x07, min = 0x10000;
        } else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        int k = 0;
        for (; k < extra && j < n && (s[j] & 0xC0) == 0x80; ++k, ++j) cp = (cp << 6) | (s[j] & 0x3F);
        if (k < extra || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            // A truncated or over-long sequence, or an encoded surrogate: one replacement for
            // the bytes examined, then resynchronise at the first byte that broke the sequence.
            out.push_back(kReplacement);
            i = (k < extra) ? j : i + 1 + extra;
            continue;
        }
        AppendCodePoint(out, cp);
        i = j;
    }
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    AppendUtf8AsUtf16(out, text);
    return out;
}

void AppendUtf16AsUtf8(std::string& out, std::u16string_view text) {
    out.reserve(out.size() + text.size());
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        char32_t cp = text[i];
        if (cp < 0x80) {
            // A run of ASCII goes over in one step.
            std::size_t end = i + 1;
            while (end < n && text[end] < 0x80) ++end;
            const std::size_t at = out.size();
            out.resize(at + (end - i));
            char* to = out.data() + at;
            for (; i < end; ++i) *to++ = static_cast<char>(text[i]);
            --i;
            continue;
        }
        if (IsHighSurrogate(static_cast<char16_t>(cp))) {
            if (i + 1 < n && IsLowSurrogate(text[i + 1])) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else {
                out.push_back('?');
                continue;
            }
        } else if (IsLowSurrogate(static_cast<char16_t>(cp))) {
            out.push_back('?');
            continue;
        }
        if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    AppendUtf16AsUtf8(out, text);
    return out;
}

std::size_t FindUnpairedSurrogate(std::u16string_view text) noexcept {
    const char16_t* const begin = text.data();
    const char16_t* const end = begin + text.size();
    for (const char16_t* p = begin; p < end; ++p) {
        if (*p < 0xD800 || *p > 0xDFFF) continue;
        if (IsHighSurrogate(*p) && p + 1 < end && IsLowSurrogate(p[1])) {
            ++p;
            continue;
        }
        return static_cast<std::size_t>(p - begin);
    }
    return std::u16string_view::npos;
}

std::size_t Utf16Length(const char16_t* text, std::size_t limit) {
    if (text == nullptr) return 0;
    std::size_t n = 0;
    while (n < limit && text[n] != 0) ++n;
    return n;
}

void ToUpperInPlace(char16_t* text, std::size_t length) {
    MapInPlace(text, length, [](UChar32 c) { return u_toupper(c); });
}

void ToLowerInPlace(char16_t* text, std::size_t length) {
    MapInPlace(text, length, [](UChar32 c) { return u_tolower(c); });
}

char16_t ToUpper(char16_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? static_cast<char16_t>(c - 32) : c;
    const UChar32 m = u_toupper(c);
    return m < 0x10000 ? static_cast<char16_t>(m) : c;
}

char16_t ToLower(char16_t c) {
    if (c < 0x80) return FoldAsciiLetter(c);
    const UChar32 m = u_tolower(c);
    return m < 0x10000 ? static_cast<char16_t>(m) : c;
}

int CompareFoldingAsciiLetters(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = FoldAsciiLetter(a[i]);
        const char16_t y = FoldAsciiLetter(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = ToLower(a[i]);
        const char16_t y = ToLower(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool IsSpace(char16_t c) {
    if (c == ' ' || (c >= 0x09 && c <= 0x0D)) return true;
    return c >= 0x80 && u_isUWhiteSpace(c);
}

bool IsAlpha(char16_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return u_isalpha(c) != 0;
}

}  // namespace kd::platform
