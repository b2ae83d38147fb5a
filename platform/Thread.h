// The operating system's identifier of the calling thread, and a watch on threads that end.
#ifndef KD_PLATFORM_THREAD_H
#define KD_PLATFORM_THREAD_H

#include <pthread.h>

#include <cstdint>

namespace kd::platform {

// The kernel thread identifier (gettid), read once per thread. A forked child reads its own
// again: the cached value is dropped in the child.
std::uint32_t CurrentThreadId() noexcept;

// Calls `onExit` with a thread's identifier when a thread that Watch() was called on ends.
// The call comes after the thread's C++ thread_local objects are destroyed, so state that their
// destructors create is seen; if `onExit` itself, or another library's thread-exit work, leads
// to Watch() on the ending thread again, `onExit` is called again (the system repeats its
// thread-exit pass a few times for that). Destroying the watch stops it for every thread, so a
// library that is unloaded leaves no call into its unmapped code behind. The main thread's
// end is the process's end: no call comes then.
class ThreadExitWatch {
public:
    using Callback = void (*)(std::uint32_t thread) noexcept;
    explicit ThreadExitWatch(Callback onExit) noexcept;
    ~ThreadExitWatch();
    ThreadExitWatch(const ThreadExitWatch&) = delete;
    ThreadExitWatch& operator=(const ThreadExitWatch&) = delete;

    // Arms the watch for the calling thread; cheap when it is already armed.
    void Watch() noexcept;

private:
    static void OnKeyDestroyed(void* watch) noexcept;

    Callback m_onExit;
    pthread_key_t m_key{};
    bool m_valid = false;
};

}  // namespace kd::platform

#endif  // KD_PLATFORM_THREAD_H
