// Bytes to and from hex text: two upper-case digits per byte, high nibble first.
//
// The exported functions (kdtrace/exports.h) work on caller buffers and record their failures
// under "Core Services", "Utility Functions":
//   PLConvertDataToHex(bytes, count, buffer, size): E_POINTER for a null pointer, E_INVALIDARG for
//     a count or size below 1, E_FAIL "Insufficent buffer size passed for hex string." when the
//     buffer cannot hold 2 * count digits and a terminator.
//   PLConvertHexToData(hex, bytes, count): on return *count is the number of bytes written.
//     E_INVALIDARG for an odd number of digits, for a character that is not a hex digit and for
//     a buffer (*count bytes) below half the text's length; nothing is written then.
#ifndef KD_PLHEX_H
#define KD_PLHEX_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <kdtrace/exports.h>

#include "module_base/PLString.h"

inline constexpr const char* kPLHexBufferTooSmall = "Insufficent buffer size passed for hex string.";
inline constexpr const char* kPLHexOddLength = "The hex string must contain an even number of bytes.";
inline constexpr const char* kPLHexNotADigit = "The hex string contains a character that is not a hex digit.";
inline constexpr const char* kPLHexDataTooSmall = "The buffer isn't large enough to receive the result.";

// The value of a hex digit (0-9, A-F, a-f), or -1.
constexpr int PLHexDigitValue(char16_t c) noexcept {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

// The library's own forms, for text it holds: the hex text of `size` bytes, and the bytes of a
// hex text (false, `out` empty, for an odd length or a character that is not a hex digit).
PLString PLHexFromBytes(const uint8_t* bytes, std::size_t size);
bool PLBytesFromHex(std::u16string_view hex, std::vector<uint8_t>& out);

#endif  // KD_PLHEX_H
