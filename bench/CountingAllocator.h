// A replacement of the global operator new that counts allocations, so that a benchmark can show
// how many heap allocations an operation makes. Link CountingAllocator.cpp into the program.
#ifndef KDTRACE_BENCH_COUNTING_ALLOCATOR_H
#define KDTRACE_BENCH_COUNTING_ALLOCATOR_H

#include <cstdint>

// Allocations through operator new since the program started, over all threads.
std::uint64_t AllocationCount() noexcept;

#endif  // KDTRACE_BENCH_COUNTING_ALLOCATOR_H
