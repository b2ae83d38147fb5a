#include "module_base/PLListenerLock.h"

#include "platform/Futex.h"

namespace {

// How often a waiter looks again before it sleeps: a few microseconds, about as long as a list
// edit or a listener query holds the lock.
constexpr int kSpins = 100;
// A revoker that sleeps looks again this often (nanoseconds), whether or not it was woken.
constexpr long kRevokerPoll = 10000000;

}  // namespace

CPLListenerLock::CPLListenerLock() noexcept : m_bias(kd::platform::HeavyFenceAvailable() ? kUnbiased : kRevoked) {}

void CPLListenerLock::LockSlow(const void* self) noexcept {
    for (;;) {
        const void* bias = m_bias.load(std::memory_order_acquire);
        if (bias == kRevoked) break;
        if (bias == kRevoking) {
            WaitWhileRevoking();
            continue;
        }
        if (bias == kUnbiased) {
            // The first taker biases the lock to itself, unless heavy fences are no longer to be
            // had: a bias could then only be withdrawn the slow way.
            const void* taken = kd::platform::HeavyFenceAvailable() ? self : kRevoked;
            if (!m_bias.compare_exchange_strong(bias, taken, std::memory_order_acq_rel)) continue;
            bias = taken;
            if (bias == kRevoked) break;
        }
        if (bias == self) {
            if (TryEnterBiased(self)) return;
            continue;
        }
        Revoke(bias);
    }
    AcquireRevoked(self);
}

void CPLListenerLock::AcquireRevoked(const void* self) noexcept {
    std::uint32_t state = kFree;
    bool owned = m_state.compare_exchange_strong(state, kLocked, std::memory_order_acquire, std::memory_order_relaxed);
    for (int spin = 0; !owned && spin < kSpins; ++spin) {
        kd::platform::CpuRelax();
        state = m_state.load(std::memory_order_relaxed);
        owned = state == kFree &&
                m_state.compare_exchange_weak(state, kLocked, std::memory_order_acquire, std::memory_order_relaxed);
    }
    if (!owned) {
        // Marked contended before sleeping, so that the holder's unlock wakes one sleeper; the
        // thread that gets the lock this way keeps the mark, as others may still sleep.
        while (m_state.exchange(kContended, std::memory_order_acquire) != kFree)
            kd::platform::FutexWait(m_state, kContended);
    }
    m_owner.store(self, std::memory_order_relaxed);
    m_depth = 1;
}

void CPLListenerLock::Revoke(const void* biased) noexcept {
    if (!m_bias.compare_exchange_strong(biased, kRevoking, std::memory_order_acq_rel)) return;
    // After the fence the biased thread either sees the withdrawal when it re-reads the bias, or
    // is seen inside here.
    kd::platform::HeavyFence();
    for (int spin = 0; m_biasedInside.load(std::memory_order_acquire) != nullptr; ++spin) {
        if (spin < kSpins) {
            kd::platform::CpuRelax();
            continue;
        }
        const std::uint32_t seen = m_wake.load(std::memory_order_acquire);
        if (m_biasedInside.load(std::memory_order_acquire) == nullptr) break;
        kd::platform::FutexWaitFor(m_wake, seen, kRevokerPoll);
    }
    m_bias.store(kRevoked, std::memory_order_release);
    WakeAll();
}

void CPLListenerLock::WaitWhileRevoking() noexcept {
    for (int spin = 0; spin < kSpins; ++spin) {
        if (m_bias.load(std::memory_order_acquire) != kRevoking) return;
        kd::platform::CpuRelax();
    }
    for (;;) {
        const std::uint32_t seen = m_wake.load(std::memory_order_acquire);
        if (m_bias.load(std::memory_order_acquire) != kRevoking) return;
        kd::platform::FutexWait(m_wake, seen);
    }
}

void CPLListenerLock::LeaveWithdrawnBias() noexcept {
    m_biasedInside.store(nullptr, std::memory_order_release);
    WakeAll();
}

void CPLListenerLock::WakeWaiter() noexcept {
    kd::platform::FutexWakeOne(m_state);
}

void CPLListenerLock::WakeAll() noexcept {
    m_wake.fetch_add(1, std::memory_order_release);
    kd::platform::FutexWakeAll(m_wake);
}
