// Global memory blocks: a handle to a size, its bytes and a lock count.
//
// A block is made with AllocGlobalBlock and ends with FreeGlobalBlock; its bytes are reached
// between LockGlobalBlock and UnlockGlobalBlock. The handle type is the one the page-data
// interfaces pass (HGLOBAL). A block is not synchronised: one owner uses it at a time.
#ifndef KD_PLATFORM_GLOBALMEMORY_H
#define KD_PLATFORM_GLOBALMEMORY_H

#include <cstddef>
#include <cstdint>

#include <kdtrace/pagedata.h>

struct PLGlobalBlock {
    std::size_t size;
    unsigned char* bytes;  // null for an empty block
    int32_t lockCount;
};

namespace kd::platform {

// Allocation flag: the bytes start zeroed.
inline constexpr uint32_t kGlobalZeroInit = 0x40;

// A new block of `size` bytes (uninitialised unless kGlobalZeroInit is set); null when the
// memory cannot be had.
HGLOBAL AllocGlobalBlock(uint32_t flags, std::size_t size) noexcept;
// Frees the block and its bytes; null is ignored.
void FreeGlobalBlock(HGLOBAL block) noexcept;
// The block's bytes (null for an empty or null block); counts one lock.
unsigned char* LockGlobalBlock(HGLOBAL block) noexcept;
// Drops one lock; false when the block was not locked.
bool UnlockGlobalBlock(HGLOBAL block) noexcept;
// The block's size in bytes; 0 for null.
std::size_t GlobalBlockSize(HGLOBAL block) noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_GLOBALMEMORY_H
