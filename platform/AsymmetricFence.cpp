#include "platform/AsymmetricFence.h"

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kd::platform {
namespace {

long Membarrier(int command) noexcept {
    return ::syscall(__NR_membarrier, command, 0u, 0);
}

// Registration is per process and lasts for its life (a forked child inherits it).
bool Register() noexcept {
    const long commands = Membarrier(MEMBARRIER_CMD_QUERY);
    if (commands < 0 || (commands & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return false;
    return Membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED) == 0;
}

}  // namespace

bool HeavyFenceAvailable() noexcept {
    static const bool available = Register();
    return available;
}

void HeavyFence() noexcept {
    // Cannot fail once registered; should it, a full fence on this side alone would not do.
    if (Membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) != 0) __builtin_trap();
}

}  // namespace kd::platform
