#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "module_base/PLListenerLock.h"

namespace {

// Taken and given back by hand, in the patterns under test (recursion included), out of the
// compiler's lock analysis.
void Acquire(CPLListenerLock& lock) NO_THREAD_SAFETY_ANALYSIS {
    lock.lock();
}
void Release(CPLListenerLock& lock) NO_THREAD_SAFETY_ANALYSIS {
    lock.unlock();
}

// Two threads count under one lock: the first takes it through its bias, the second arrives
// at a varying moment and must revoke the bias while the first may be inside. A lock that
// lets both in loses increments (and ThreadSanitizer sees the race).
TEST(PLListenerLockTest, ExcludesTheBiasedThreadAndTheRevoker) {
    constexpr int kRounds = 300;
    constexpr int kCount = 2000;
    for (int round = 0; round < kRounds; ++round) {
        auto lock = std::make_unique<CPLListenerLock>();
        std::int64_t counter = 0;
        std::atomic<bool> biased{false};
        auto count = [&](bool first) {
            for (int i = 0; i < kCount; ++i) {
                Acquire(*lock);
                if (first) biased.store(true, std::memory_order_relaxed);
                const std::int64_t seen = counter;
                for (int spin = round % 7; spin > 0; --spin) std::atomic_signal_fence(std::memory_order_seq_cst);
                counter = seen + 1;
                Release(*lock);
            }
        };
        std::thread first(count, true);
        while (!biased.load(std::memory_order_relaxed)) std::this_thread::yield();
        std::thread second(count, false);
        first.join();
        second.join();
        ASSERT_EQ(counter, std::int64_t{2} * kCount) << "round " << round;
    }
}

// Recursion through the bias and through the exchange, and a second thread kept out of both.
TEST(PLListenerLockTest, IsRecursiveOnBothPathsAndKeepsOthersOut) {
    CPLListenerLock lock;
    for (int path = 0; path < 2; ++path) {
        // Path 0: this thread holds the bias. Path 1: the bias is gone (the other thread revoked
        // it on path 0), so this thread takes the lock by exchange.
        for (int depth = 0; depth < 3; ++depth) Acquire(lock);
        std::atomic<bool> entered{false};
        std::thread other([&] {
            Acquire(lock);
            entered = true;
            Release(lock);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_FALSE(entered) << "path " << path;
        for (int depth = 0; depth < 2; ++depth) Release(lock);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_FALSE(entered) << "path " << path;
        Release(lock);
        other.join();
        EXPECT_TRUE(entered);
    }
}

}  // namespace
