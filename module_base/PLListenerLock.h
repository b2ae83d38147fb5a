// CPLListenerLock: the recursive lock of a listener list, free of atomic read-modify-write
// operations while one thread is the only one to take it.
//
// A listener list is nearly always used from one thread: the thread that registers the
// listeners fires to them. The lock is therefore biased to the first thread that takes it:
// that thread enters by announcing itself in a plain store and checking, after a compiler
// barrier, that the bias still stands. The first other thread that wants the lock revokes the
// bias for good: it withdraws it, runs a heavy fence (every running thread of the process
// executes a full barrier) so that the biased thread either sees the withdrawal or is seen
// inside, and waits for it to leave. From then on every thread takes the lock with one atomic
// compare-and-exchange. Where the kernel offers no heavy fence, or has refused one since, locks
// start revoked.
//
// Every wait (for the biased thread to leave, for a revocation to end, for the holder to give
// the lock back) spins briefly and then sleeps in the kernel until it is woken. A waiter never
// spins for long: under real-time scheduling a spinning waiter of higher priority would keep the
// holder it waits for from running.
//
// Threads are named by the address of their fault state, unique to each live thread.
#ifndef KD_PLLISTENERLOCK_H
#define KD_PLLISTENERLOCK_H

#include <atomic>
#include <cstdint>

#include "platform/AsymmetricFence.h"
#include "platform/Fault.h"
#include "platform/Mutex.h"

class CAPABILITY("mutex") CPLListenerLock {
public:
    CPLListenerLock() noexcept;
    CPLListenerLock(const CPLListenerLock&) = delete;
    CPLListenerLock& operator=(const CPLListenerLock&) = delete;

    void lock() noexcept ACQUIRE() {
        const void* self = &kd::platform::g_faultThreadState;
        if (m_owner.load(std::memory_order_relaxed) == self) {
            ++m_depth;
            return;
        }
        if (m_biasedInside.load(std::memory_order_relaxed) == self) {
            ++m_biasedDepth;
            return;
        }
        if (m_bias.load(std::memory_order_relaxed) == self && TryEnterBiased(self)) return;
        LockSlow(self);
    }

    void unlock() noexcept RELEASE() {
        const void* self = &kd::platform::g_faultThreadState;
        if (m_owner.load(std::memory_order_relaxed) == self) {
            if (--m_depth == 0) {
                m_owner.store(nullptr, std::memory_order_relaxed);
                if (m_state.exchange(kFree, std::memory_order_release) == kContended) WakeWaiter();
            }
            return;
        }
        if (--m_biasedDepth == 0) {
            m_biasedInside.store(nullptr, std::memory_order_release);
            kd::platform::LightFence();
            // A revoker may be waiting for this thread to leave (after its heavy fence this load
            // sees the withdrawal).
            if (m_bias.load(std::memory_order_relaxed) != self) WakeAll();
        }
    }

private:
    // Bias states besides a thread's address.
    static inline const void* const kUnbiased = nullptr;                           // not yet taken
    static inline const void* const kRevoking = reinterpret_cast<const void*>(1);  // being withdrawn
    static inline const void* const kRevoked = reinterpret_cast<const void*>(2);   // withdrawn
    // States of the lock once revoked.
    static constexpr std::uint32_t kFree = 0;
    static constexpr std::uint32_t kLocked = 1;
    static constexpr std::uint32_t kContended = 2;  // locked, and a thread may be asleep waiting

    // Enters through the bias: announces the thread, then checks that the bias still stands.
    bool TryEnterBiased(const void* self) noexcept {
        m_biasedInside.store(self, std::memory_order_relaxed);
        kd::platform::LightFence();
        if (m_bias.load(std::memory_order_relaxed) == self) {
            m_biasedDepth = 1;
            return true;
        }
        LeaveWithdrawnBias();
        return false;
    }
    void LeaveWithdrawnBias() noexcept;
    void LockSlow(const void* self) noexcept;
    void Revoke(const void* biased) noexcept;
    void WaitWhileRevoking() noexcept;
    void AcquireRevoked(const void* self) noexcept;
    void WakeWaiter() noexcept;
    void WakeAll() noexcept;

    // The thread the lock is biased to, or one of the states above.
    std::atomic<const void*> m_bias;
    // The biased thread while it holds the lock through its bias, else null.
    std::atomic<const void*> m_biasedInside{nullptr};
    std::uint32_t m_biasedDepth = 0;  // touched by the biased thread inside only
    // Once revoked: the lock itself (kFree, kLocked, kContended) and the thread holding it.
    std::atomic<std::uint32_t> m_state{kFree};
    std::atomic<const void*> m_owner{nullptr};
    std::uint32_t m_depth = 0;  // touched by the owner only
    // Changed, and its sleepers woken, when the biased thread leaves during a revocation and
    // when a revocation ends.
    std::atomic<std::uint32_t> m_wake{0};
};

#endif  // KD_PLLISTENERLOCK_H
