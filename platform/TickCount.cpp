#include "platform/TickCount.h"

#include <time.h>

namespace kd::platform {

std::uint64_t TickCount64() noexcept {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace kd::platform
