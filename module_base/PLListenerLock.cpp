#include "module_base/PLListenerLock.h"

#include <sched.h>

CPLListenerLock::CPLListenerLock() noexcept : m_bias(kd::platform::HeavyFenceAvailable() ? kUnbiased : kRevoked) {}

void CPLListenerLock::LockSlow(const void* self) noexcept {
    for (;;) {
        const void* bias = m_bias.load(std::memory_order_acquire);
        if (bias == kRevoked) break;
        if (bias == kRevoking) {
            ::sched_yield();
            continue;
        }
        // The first taker biases the lock to itself.
        if (bias == kUnbiased && !m_bias.compare_exchange_strong(bias, self, std::memory_order_acq_rel)) continue;
        if (bias == kUnbiased || bias == self) {
            if (TryEnterBiased(self)) return;
            continue;
        }
        Revoke(bias);
    }
    const void* expected = nullptr;
    while (!m_owner.compare_exchange_weak(expected, self, std::memory_order_acquire, std::memory_order_relaxed)) {
        expected = nullptr;
        ::sched_yield();
    }
    m_depth = 1;
}

void CPLListenerLock::Revoke(const void* biased) noexcept {
    if (!m_bias.compare_exchange_strong(biased, kRevoking, std::memory_order_acq_rel)) return;
    // After the fence the biased thread either sees the withdrawal when it re-reads the bias, or
    // is seen inside here.
    kd::platform::HeavyFence();
    while (m_biasedInside.load(std::memory_order_acquire) != nullptr) ::sched_yield();
    m_bias.store(kRevoked, std::memory_order_release);
}
