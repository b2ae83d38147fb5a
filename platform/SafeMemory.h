// Reads of memory that may not be mapped, without faulting: the kernel copies the bytes and
// reports an unreadable address as an error. Async-signal-safe, so fault handlers may use them.
#ifndef KD_PLATFORM_SAFE_MEMORY_H
#define KD_PLATFORM_SAFE_MEMORY_H

#include <cstddef>
#include <cstdint>

namespace kd::platform {

// Copies `size` bytes from `address` into `out`; false (and `out` unspecified) when any of them
// cannot be read.
bool SafeRead(std::uintptr_t address, void* out, std::size_t size) noexcept;
// The same through a pipe (write() reports EFAULT for an unreadable source): what SafeRead falls
// back to where the sandbox refuses process_vm_readv.
bool SafeReadThroughPipe(std::uintptr_t address, void* out, std::size_t size) noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_SAFE_MEMORY_H
