// The thread every fuzz target runs its input on. Hosts call the library on threads with small
// stacks (256 KB is common, some use less), so code that recurses per input character must fail
// here rather than in a host: each input runs on a worker thread with a 256 KB stack, and the
// caller waits for it.
//
// A target is written as
//
//   KD_FUZZ_TARGET(data, size) {
//       ...  // the code under test
//       return 0;
//   }
//
// in place of `extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)`. A target
// that needs another stack for part of its work (a reference implementation that recurses, say)
// calls kd::fuzz::RunOnStack itself.
#ifndef KD_FUZZ_FUZZTHREAD_H
#define KD_FUZZ_FUZZTHREAD_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace kd::fuzz {

inline constexpr std::size_t kFuzzStackBytes = 256 * 1024;

// Runs `body(context)` on a worker thread whose stack is `stackBytes` (at least the system's
// minimum) and returns when it has finished. One worker per stack size, kept for the process, so
// its thread-local state lives on from one input to the next as a host thread's would. A job may
// run work on another stack size, not on its own (it would wait for itself).
void RunOnStack(std::size_t stackBytes, void (*body)(void*), void* context);

template <class F>
void RunOnStack(std::size_t stackBytes, F&& f) {
    using Fn = std::remove_reference_t<F>;
    RunOnStack(
        stackBytes, [](void* p) { (*static_cast<Fn*>(p))(); }, static_cast<void*>(&f));
}

}  // namespace kd::fuzz

#define KD_FUZZ_TARGET(data, size)                                                                           \
    static int KdFuzzTargetBody(const uint8_t* data, size_t size);                                           \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {                                \
        int result = 0;                                                                                      \
        ::kd::fuzz::RunOnStack(::kd::fuzz::kFuzzStackBytes, [&] { result = KdFuzzTargetBody(data, size); }); \
        return result;                                                                                       \
    }                                                                                                        \
    static int KdFuzzTargetBody(const uint8_t* data, size_t size)

#endif  // KD_FUZZ_FUZZTHREAD_H
