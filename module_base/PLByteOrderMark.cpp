#include "module_base/PLByteOrderMark.h"

#include <cstring>

namespace {

struct Mark {
    unsigned char bytes[4];
    std::size_t length;
    PLTextEncoding encoding;
};

// In the order they are tested.
constexpr Mark kMarks[] = {
    {{0xFF, 0xFE, 0x00, 0x00}, 4, PLTextEncodingUtf32LE},
    {{0x00, 0x00, 0xFE, 0xFF}, 4, PLTextEncodingUtf32BE},
    {{0xEF, 0xBB, 0xBF}, 3, PLTextEncodingUtf8},
    {{0x2B, 0x2F, 0x76}, 3, PLTextEncodingUtf7},
    {{0xFF, 0xFE}, 2, PLTextEncodingUtf16LE},
    {{0xFE, 0xFF}, 2, PLTextEncodingUtf16BE},
};

}  // namespace

PLTextEncoding PLDetectByteOrderMark(const BYTE* bytes, std::size_t length) noexcept {
    for (const Mark& mark : kMarks)
        if (length >= mark.length && std::memcmp(bytes, mark.bytes, mark.length) == 0) return mark.encoding;
    return PLTextEncodingNone;
}
