#include "platform/AsymmetricFence.h"

#include <linux/membarrier.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>

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

std::atomic<bool> g_refused{false};

// Runs the calling thread once on every processor the process may use. Each processor has then
// switched from whatever ran there to this thread, which the scheduler does behind a full
// barrier: a thread of the process that was running has had its stores made visible, and loads
// it makes afterwards see what this thread stored before. False when the thread may not move.
bool FenceByVisitingEveryProcessor() noexcept {
    cpu_set_t original;
    if (::sched_getaffinity(0, sizeof original, &original) != 0) return false;
    int processors = ::get_nprocs_conf();
    if (processors <= 0 || processors > CPU_SETSIZE) processors = CPU_SETSIZE;
    bool visited = false;
    bool refused = false;
    for (int cpu = 0; cpu < processors && !refused; ++cpu) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        // The call returns on that processor. EINVAL: offline, or outside the processors the
        // process may use, so none of its threads runs there.
        if (::sched_setaffinity(0, sizeof one, &one) == 0)
            visited = true;
        else if (errno != EINVAL)
            refused = true;
    }
    ::sched_setaffinity(0, sizeof original, &original);
    return visited && !refused;
}

// Lowers the protection of a page the process has written: the kernel must then flush that
// mapping from every processor that may run the process's threads, interrupting each.
bool FenceByPageProtection() noexcept {
    static const long pageSize = ::sysconf(_SC_PAGESIZE);
    static void* const page = [] {
        void* p = ::mmap(nullptr, static_cast<std::size_t>(pageSize), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return static_cast<void*>(nullptr);
        ::mlock(p, static_cast<std::size_t>(pageSize));  // kept resident, so that it stays mapped
        return p;
    }();
    if (page == nullptr) return false;
    static std::mutex serial;
    const std::lock_guard<std::mutex> guard(serial);
    const auto size = static_cast<std::size_t>(pageSize);
    if (::mprotect(page, size, PROT_READ | PROT_WRITE) != 0) return false;
    *static_cast<volatile char*>(page) = 1;
    return ::mprotect(page, size, PROT_READ) == 0;
}

}  // namespace

bool HeavyFenceAvailable() noexcept {
    static const bool registered = Register();
    return registered && !g_refused.load(std::memory_order_relaxed);
}

// Each way below enters the kernel, which orders this thread's own accesses around the call.
void HeavyFence() noexcept {
    if (!g_refused.load(std::memory_order_relaxed) && Membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return;
    g_refused.store(true, std::memory_order_relaxed);
    if (!FenceByVisitingEveryProcessor() && !FenceByPageProtection()) {
        // Nothing is left that reaches the other processors: give their store buffers, which
        // drain in far less, a millisecond.
        const timespec pause{0, 1000000};
        ::nanosleep(&pause, nullptr);
    }
}

}  // namespace kd::platform
