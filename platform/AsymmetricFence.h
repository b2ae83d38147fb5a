// Asymmetric fences: a cheap side that a hot path runs often (a compiler barrier) and a heavy
// side that a rare path runs (the kernel makes every running thread of the process execute a
// full memory barrier, through membarrier). Between them they order memory as a full fence on
// both sides would: when the light side stores A then loads B, and the heavy side stores B,
// runs HeavyFence() and loads A, at least one of them sees the other's store.
#ifndef KD_PLATFORM_ASYMMETRICFENCE_H
#define KD_PLATFORM_ASYMMETRICFENCE_H

#include <atomic>

namespace kd::platform {

// Whether the heavy side works here: the kernel offers private expedited membarrier, the process
// is registered for it, and it has never been refused since (a sandbox may forbid the call after
// the process started). Without it, callers keep to symmetric synchronisation; what they built on
// the light side while it was true, HeavyFence still serves.
bool HeavyFenceAvailable() noexcept;

// The heavy side, for callers that relied on HeavyFenceAvailable() being true. Always completes:
// when membarrier is refused, HeavyFenceAvailable() turns false for good and the barrier is made
// another way (this thread runs once on every processor the process may use, which makes each
// switch threads, a full barrier there; where that is refused too, a change of page protection
// that the kernel announces to every processor running the process's threads). Slow then, but
// only the callers that relied on it before the refusal come here.
void HeavyFence() noexcept;

// The light side.
inline void LightFence() noexcept {
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

}  // namespace kd::platform

#endif  // KD_PLATFORM_ASYMMETRICFENCE_H
