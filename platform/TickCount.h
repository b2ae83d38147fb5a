// A millisecond tick count for measuring elapsed time.
#ifndef KD_PLATFORM_TICK_COUNT_H
#define KD_PLATFORM_TICK_COUNT_H

#include <cstdint>

namespace kd::platform {

// Milliseconds of a monotonic clock (it never jumps when the wall clock is set).
std::uint64_t TickCount64() noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_TICK_COUNT_H
