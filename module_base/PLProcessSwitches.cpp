// Process-wide switches.
#include "module_base/PLProcessSwitches.h"

#include <atomic>

namespace {
std::atomic<bool> g_memoryTracking{false};
std::atomic<int32_t> g_twoDigitYearPivot{10};
}  // namespace

bool PLGetMemoryTracking() noexcept {
    return g_memoryTracking.load(std::memory_order_relaxed);
}
void PLSetMemoryTracking(bool on) noexcept {
    g_memoryTracking.store(on, std::memory_order_relaxed);
}
int32_t PLGetTwoDigitYearPivot() noexcept {
    return g_twoDigitYearPivot.load(std::memory_order_relaxed);
}
void PLSetTwoDigitYearPivot(int32_t pivot) noexcept {
    g_twoDigitYearPivot.store(pivot, std::memory_order_relaxed);
}
