// Waiting on a 32-bit word: a thread that has spun long enough sleeps in the kernel until
// another thread changes the word and wakes it (Linux futexes, private to the process).
#ifndef KD_PLATFORM_FUTEX_H
#define KD_PLATFORM_FUTEX_H

#include <atomic>
#include <cstdint>

namespace kd::platform {

// Tells the processor that the thread is spinning (lets a sibling hardware thread run).
inline void CpuRelax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield" ::: "memory");
#endif
}

// Sleeps while `word` holds `expected`. May return early (a wake, a signal): callers check
// their condition again.
void FutexWait(const std::atomic<std::uint32_t>& word, std::uint32_t expected) noexcept;
// The same, sleeping at most `nanoseconds`.
void FutexWaitFor(const std::atomic<std::uint32_t>& word, std::uint32_t expected, long nanoseconds) noexcept;
// Wakes up to one thread, or every thread, sleeping on `word`.
void FutexWakeOne(const std::atomic<std::uint32_t>& word) noexcept;
void FutexWakeAll(const std::atomic<std::uint32_t>& word) noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_FUTEX_H
