// UTF-8 / UTF-16 conversion and case mapping of UTF-16 text.
//
// Narrow text of the system is UTF-8. Decoding never fails: malformed UTF-8 becomes U+FFFD.
// Encoding never fails either: an unpaired surrogate becomes "?". Where that would change data
// that must come back as it went (XML, say), FindUnpairedSurrogate finds it first.
#ifndef KD_PLATFORM_TEXT_H
#define KD_PLATFORM_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kd::platform {

std::u16string Utf8ToUtf16(std::string_view text);
void AppendUtf8AsUtf16(std::u16string& out, std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
void AppendUtf16AsUtf8(std::string& out, std::u16string_view text);

// The index of the first surrogate in `text` that is not half of a pair, or npos.
std::size_t FindUnpairedSurrogate(std::u16string_view text) noexcept;

// Length of a zero-terminated UTF-16 string, counting at most `limit` units; null counts as 0.
std::size_t Utf16Length(const char16_t* text, std::size_t limit = SIZE_MAX);

// Simple (one-to-one) case mapping per code point, so the length never changes. Surrogate pairs
// are mapped as one code point; a mapping that would change the number of units is not applied.
void ToUpperInPlace(char16_t* text, std::size_t length);
void ToLowerInPlace(char16_t* text, std::size_t length);
char16_t ToUpper(char16_t c);
char16_t ToLower(char16_t c);

// Compares after mapping both sides to lower case, code point by code point: <0, 0 or >0.
int CompareNoCase(std::u16string_view a, std::u16string_view b);

// The letters A to Z folded to lower case, every other unit unchanged: the folding of names that
// compare "without regard to the case of the letters A to Z".
constexpr char16_t FoldAsciiLetter(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}
// Compares with only the letters A to Z folded, unit by unit; a text sorts before every longer
// text it begins: <0, 0 or >0.
int CompareFoldingAsciiLetters(std::u16string_view a, std::u16string_view b);

// True when `c` is white space (as iswspace does for the characters a string trims).
bool IsSpace(char16_t c);

// True when `c` is a letter of any script (as iswalpha classifies wide characters).
bool IsAlpha(char16_t c);

}  // namespace kd::platform

#endif  // KD_PLATFORM_TEXT_H
