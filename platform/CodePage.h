// Text in Windows code pages: decoding bytes of a code page, given by its number, into UTF-16.
//
// Code page numbers map to ICU converters through an explicit table (names built from the
// number are unreliable). Code pages 0 to 3 (the system's narrow text) are UTF-8. Decoding never
// rejects input: bytes that are not valid in the code page, or have no mapping in it, become
// U+FFFD.
#ifndef KD_PLATFORM_CODEPAGE_H
#define KD_PLATFORM_CODEPAGE_H

#include <cstdint>
#include <string>
#include <string_view>

namespace kd::platform {

// The ICU converter name for `codePage`, or null when the code page is not known.
const char* CodePageConverterName(uint32_t codePage) noexcept;

// True when text in `codePage` can be decoded here.
bool IsDecodableCodePage(uint32_t codePage) noexcept;

// Decodes `bytes` in `codePage` and appends the text to `out`. Returns 0, EINVAL for an unknown
// code page, or ENOMEM.
int AppendCodePageAsUtf16(std::u16string& out, uint32_t codePage, std::string_view bytes);

// Appends `text` as UTF-8 to `out`, an unpaired surrogate as `substitute`: by default "?", as the
// system narrows text. Returns 0 or ENOMEM.
int AppendUtf16AsUtf8Bulk(std::string& out, std::u16string_view text, char32_t substitute = U'?');

}  // namespace kd::platform

#endif  // KD_PLATFORM_CODEPAGE_H
