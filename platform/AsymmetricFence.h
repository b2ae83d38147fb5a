// Asymmetric fences: a cheap side that a hot path runs often (a compiler barrier) and a heavy
// side that a rare path runs (the kernel makes every running thread of the process execute a
// full memory barrier, through membarrier). Between them they order memory as a full fence on
// both sides would: when the light side stores A then loads B, and the heavy side stores B,
// runs HeavyFence() and loads A, at least one of them sees the other's store.
#ifndef KD_PLATFORM_ASYMMETRICFENCE_H
#define KD_PLATFORM_ASYMMETRICFENCE_H

#include <atomic>

namespace kd::platform {

// Whether the heavy side works here (the kernel offers private expedited membarrier and the
// process is registered for it). Without it, callers keep to symmetric synchronisation.
bool HeavyFenceAvailable() noexcept;

// The heavy side. Only to be called when HeavyFenceAvailable() is true.
void HeavyFence() noexcept;

// The light side.
inline void LightFence() noexcept {
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

}  // namespace kd::platform

#endif  // KD_PLATFORM_ASYMMETRICFENCE_H
