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
// compare-and-exchange; its waiters yield rather than sleep, as the lock is only ever held for
// list edits and listener queries. Where the kernel offers no heavy fence, locks start revoked.
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
            if (--m_depth == 0) m_owner.store(nullptr, std::memory_order_release);
            return;
        }
        if (--m_biasedDepth == 0) m_biasedInside.store(nullptr, std::memory_order_release);
    }

private:
    // Bias states besides a thread's address.
    static inline const void* const kUnbiased = nullptr;                           // not yet taken
    static inline const void* const kRevoking = reinterpret_cast<const void*>(1);  // being withdrawn
    static inline const void* const kRevoked = reinterpret_cast<const void*>(2);   // withdrawn

    // Enters through the bias: announces the thread, then checks that the bias still stands.
    bool TryEnterBiased(const void* self) noexcept {
        m_biasedInside.store(self, std::memory_order_relaxed);
        kd::platform::LightFence();
        if (m_bias.load(std::memory_order_relaxed) == self) {
            m_biasedDepth = 1;
            return true;
        }
        m_biasedInside.store(nullptr, std::memory_order_release);
        return false;
    }
    void LockSlow(const void* self) noexcept;
    void Revoke(const void* biased) noexcept;

    // The thread the lock is biased to, or one of the states above.
    std::atomic<const void*> m_bias;
    // The biased thread while it holds the lock through its bias, else null.
    std::atomic<const void*> m_biasedInside{nullptr};
    std::uint32_t m_biasedDepth = 0;  // touched by the biased thread inside only
    // The thread holding the lock by compare-and-exchange, else null.
    std::atomic<const void*> m_owner{nullptr};
    std::uint32_t m_depth = 0;  // touched by the owner only
};

#endif  // KD_PLLISTENERLOCK_H
