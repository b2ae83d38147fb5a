#include "platform/Futex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <ctime>

namespace kd::platform {
namespace {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));

void Futex(const std::atomic<std::uint32_t>& word, int operation, std::uint32_t value,
           const timespec* timeout = nullptr) noexcept {
    ::syscall(SYS_futex, reinterpret_cast<const std::uint32_t*>(&word), operation | FUTEX_PRIVATE_FLAG, value, timeout,
              nullptr, 0);
}

}  // namespace

void FutexWait(const std::atomic<std::uint32_t>& word, std::uint32_t expected) noexcept {
    Futex(word, FUTEX_WAIT, expected);
}

void FutexWaitFor(const std::atomic<std::uint32_t>& word, std::uint32_t expected, long nanoseconds) noexcept {
    const timespec timeout{nanoseconds / 1000000000, nanoseconds % 1000000000};
    Futex(word, FUTEX_WAIT, expected, &timeout);
}

void FutexWakeOne(const std::atomic<std::uint32_t>& word) noexcept {
    Futex(word, FUTEX_WAKE, 1);
}

void FutexWakeAll(const std::atomic<std::uint32_t>& word) noexcept {
    Futex(word, FUTEX_WAKE, INT_MAX);
}

}  // namespace kd::platform
