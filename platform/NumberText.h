// Numbers to text without allocation, locale or library calls: usable in signal handlers.
#ifndef KD_PLATFORM_NUMBER_TEXT_H
#define KD_PLATFORM_NUMBER_TEXT_H

#include <cstddef>
#include <cstdint>

namespace kd::platform {

// Writes the decimal digits of `value`, most significant first, without a terminator; `out`
// must hold 20 characters. Returns the number written.
template <class Char>
std::size_t DecimalDigits(std::uint64_t value, Char* out) noexcept {
    Char reversed[20];
    std::size_t n = 0;
    do {
        reversed[n++] = static_cast<Char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (std::size_t i = 0; i < n; ++i) out[i] = reversed[n - 1 - i];
    return n;
}

// Writes the low `digits` hexadecimal digits of `value` (upper case, zero-filled), without a
// terminator.
template <class Char>
void HexDigits(std::uint64_t value, int digits, Char* out) noexcept {
    for (int i = digits - 1; i >= 0; --i, value >>= 4) out[i] = static_cast<Char>("0123456789ABCDEF"[value & 0xF]);
}

}  // namespace kd::platform

#endif  // KD_PLATFORM_NUMBER_TEXT_H
