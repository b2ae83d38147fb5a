// GUID text forms and creation.
#ifndef KD_PLATFORM_GUID_H
#define KD_PLATFORM_GUID_H

#include <cstddef>
#include <string>
#include <string_view>

#include <kdtrace/types.h>

namespace kd::platform {

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX": 36 upper-case hexadecimal digits and hyphens, no
// braces. Writes at most `size` units including the terminator; returns false (writing an empty
// string when size >= 1) when the buffer cannot hold 37 units.
bool GuidToText(const GUID& guid, char16_t* buffer, std::size_t size) noexcept;
std::u16string GuidToString(const GUID& guid);
std::string GuidToNarrowString(const GUID& guid);
// Parses the 36-character form, with or without surrounding braces, in either letter case.
bool GuidFromText(std::u16string_view text, GUID* guid) noexcept;
// A new random GUID (version 4).
GUID CreateGuid() noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_GUID_H
