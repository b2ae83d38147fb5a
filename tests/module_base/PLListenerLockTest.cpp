#include <gtest/gtest.h>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <tuple>

#include <kdtrace/kdtrace.h>

#include "module_base/PLListenerLock.h"
#include "support/Process.h"
#include "support/TraceFakes.h"

namespace {

// Taken and given back by hand, in the patterns under test (recursion included), out of the
// compiler's lock analysis.
void Acquire(CPLListenerLock& lock) NO_THREAD_SAFETY_ANALYSIS {
    lock.lock();
}
void Release(CPLListenerLock& lock) NO_THREAD_SAFETY_ANALYSIS {
    lock.unlock();
}

// Threads count under one lock, each entering it twice (recursion, through the bias and by
// exchange): the first takes it through its bias, the others arrive while it may be inside and
// must revoke the bias or wait for the revocation. In every other round the first thread sleeps inside its first entry,
// so that the revoker sleeps waiting for it to leave; now and then a holder sleeps inside, so that the others go to
// sleep waiting for the lock. A lock that lets two in loses increments (and ThreadSanitizer sees the race); one that
// misses a wake-up hangs.
void CountUnderOneLock(CPLListenerLock& lock, int round, int threads, int count) {
    std::int64_t counter = 0;
    std::atomic<bool> biased{false};
    auto work = [&](bool first) {
        for (int i = 0; i < count; ++i) {
            // The count is changed after an inner release: the lock is held until the outer one.
            Acquire(lock);
            Acquire(lock);
            Release(lock);
            if (first && i == 0) {
                biased = true;
                if (round % 2 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            const std::int64_t seen = counter;
            if (i % 256 == 255) std::this_thread::sleep_for(std::chrono::microseconds(50));
            for (int spin = round % 7; spin > 0; --spin) std::atomic_signal_fence(std::memory_order_seq_cst);
            counter = seen + 1;
            Release(lock);
        }
    };
    std::thread first(work, true);
    while (!biased) std::this_thread::yield();
    std::vector<std::thread> others;
    for (int t = 1; t < threads; ++t) others.emplace_back(work, false);
    first.join();
    for (auto& t : others) t.join();
    ASSERT_EQ(counter, std::int64_t{threads} * count) << "round " << round;
}

TEST(PLListenerLockTest, ExcludesAcrossRevocationWaitingAndRecursion) {
    for (int round = 0; round < 60; ++round) CountUnderOneLock(*std::make_unique<CPLListenerLock>(), round, 3, 1000);
}

// Makes the calling thread (and the threads it starts) get `error` from membarrier and, when
// asked, from sched_setaffinity. False where seccomp filters cannot be installed.
bool RefuseSyscalls(int error, bool affinityToo) {
    const auto refuse = static_cast<__u32>(SECCOMP_RET_ERRNO | (error & SECCOMP_RET_DATA));
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_membarrier, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, affinityToo ? __NR_sched_setaffinity : ~0u, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, refuse),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// A sandbox that starts refusing membarrier after the process used it: the bias a context's lock
// got from a first FireMessage is withdrawn another way when a second thread fires, firing goes
// on with S_OK, and locks made afterwards start without bias (so they need no heavy fence).
// Each wrong answer in the child sets a bit: 1 a failed FireMessage, 2 a lost message, 4 lost
// exclusion on a new lock, 8 heavy fences still offered.
TEST(PLListenerLockTest, ASandboxThatRefusesHeavyFencesLaterIsNotFatal) {
    if (!kd::platform::HeavyFenceAvailable()) GTEST_SKIP() << "the kernel offers no membarrier here";
    for (const auto& [error, affinityToo] : {std::tuple{ENOSYS, false}, {EPERM, false}, {EPERM, true}}) {
        const int wrong = kdtest::InChild([error = error, affinityToo = affinityToo] {
            IPLTraceContext* context = nullptr;
            PLCreateInstance(CLSID_PLTraceContext, IID_IPLTraceContext, reinterpret_cast<void**>(&context));
            kdtest::Listener listener;
            void* cookie = nullptr;
            context->AddListener(&listener, &cookie);
            std::atomic<int> bits = context->FireMessage(1, 2) != S_OK ? 1 : 0;
            if (!RefuseSyscalls(error, affinityToo)) return kdtest::kUnsupported;
            auto fire = [&](LONG second) {
                for (int i = 0; i < 100; ++i) bits |= context->FireMessage(i, second) != S_OK ? 1 : 0;
            };
            std::thread other(fire, 0);
            fire(1);
            other.join();
            if (listener.calls != 201) bits |= 2;
            CPLListenerLock fresh;
            CountUnderOneLock(fresh, 1, 2, 5000);
            if (::testing::Test::HasFatalFailure()) bits |= 4;
            if (kd::platform::HeavyFenceAvailable()) bits |= 8;
            context->RemoveListener(cookie);
            context->Release();
            return bits.load();
        });
        if (wrong == kdtest::kUnsupported) GTEST_SKIP() << "seccomp filters cannot be installed here";
        EXPECT_EQ(wrong, 0) << "errno " << error << (affinityToo ? ", affinity refused too" : "")
                            << " (-1: the child ended by a signal)";
    }
}

// Starts `body` on a SCHED_FIFO thread of `priority` pinned to `cpu`; false where refused.
bool StartRealTime(pthread_t& thread, int priority, int cpu, void* (*body)(void*), void* argument) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
    const sched_param param{priority};
    pthread_attr_setschedparam(&attr, &param);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    pthread_attr_setaffinity_np(&attr, sizeof one, &one);
    const bool started = pthread_create(&thread, &attr, body, argument) == 0;
    pthread_attr_destroy(&attr);
    return started;
}

// Two real-time threads on one processor: a priority-10 thread adds and removes listeners while
// a priority-20 thread fires every 50 microseconds. When the firing thread wakes while the other
// holds the list's lock it must sleep until the lock is given back: a waiter that kept spinning
// (or yielding, which under SCHED_FIFO never lets a lower priority run) would stall for ever.
// The child's watchdog turns such a stall into a failure.
TEST(PLListenerLockTest, RealTimeWaitersLetALowerPriorityHolderRun) {
    struct Shared {
        IPLTraceContext* context = nullptr;  // never released: the child ends with it
        kdtest::Listener fired, edited;
        std::atomic<bool> stop{false};
    };
    const int result = kdtest::InChild([] {
        ::alarm(30);
        Shared shared;
        PLCreateInstance(CLSID_PLTraceContext, IID_IPLTraceContext, reinterpret_cast<void**>(&shared.context));
        void* cookie = nullptr;
        shared.context->AddListener(&shared.fired, &cookie);
        auto edit = [](void* p) -> void* {
            auto* s = static_cast<Shared*>(p);
            while (!s->stop) {
                void* c = nullptr;
                s->context->AddListener(&s->edited, &c);
                s->context->RemoveListener(c);
            }
            return nullptr;
        };
        auto fire = [](void* p) -> void* {
            auto* s = static_cast<Shared*>(p);
            for (int i = 0; i < 2000; ++i) {
                s->context->FireMessage(i, 0);
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
            s->stop = true;
            return nullptr;
        };
        const int cpu = ::sched_getcpu();
        pthread_t low{}, high{};
        if (!StartRealTime(low, 10, cpu, edit, &shared)) return kdtest::kUnsupported;
        if (!StartRealTime(high, 20, cpu, fire, &shared)) {
            shared.stop = true;
            pthread_join(low, nullptr);
            return kdtest::kUnsupported;
        }
        pthread_join(high, nullptr);
        pthread_join(low, nullptr);
        return shared.fired.calls == 2000 ? 0 : 1;
    });
    if (result == kdtest::kUnsupported) GTEST_SKIP() << "this system refuses SCHED_FIFO threads to this user";
    EXPECT_EQ(result, 0) << "-1: the watchdog ended the child (the firing thread stalled)";
}

}  // namespace
