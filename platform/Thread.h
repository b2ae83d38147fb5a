// The operating system's identifier of the calling thread.
#ifndef KD_PLATFORM_THREAD_H
#define KD_PLATFORM_THREAD_H

#include <cstdint>

namespace kd::platform {

// The kernel thread identifier (gettid), read once per thread.
std::uint32_t CurrentThreadId() noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_THREAD_H
