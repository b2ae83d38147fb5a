#include "platform/Thread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace kd::platform {

std::uint32_t CurrentThreadId() noexcept {
    thread_local const std::uint32_t id = static_cast<std::uint32_t>(::syscall(SYS_gettid));
    return id;
}

}  // namespace kd::platform
