#include "platform/GlobalMemory.h"

#include <cstdlib>
#include <new>

namespace kd::platform {

HGLOBAL AllocGlobalBlock(uint32_t flags, std::size_t size) noexcept {
    auto* block = new (std::nothrow) PLGlobalBlock{size, nullptr, 0};
    if (block == nullptr) return nullptr;
    if (size != 0) {
        void* bytes = (flags & kGlobalZeroInit) != 0 ? std::calloc(size, 1) : std::malloc(size);
        if (bytes == nullptr) {
            delete block;
            return nullptr;
        }
        block->bytes = static_cast<unsigned char*>(bytes);
    }
    return block;
}

void FreeGlobalBlock(HGLOBAL block) noexcept {
    if (block == nullptr) return;
    std::free(block->bytes);
    delete block;
}

unsigned char* LockGlobalBlock(HGLOBAL block) noexcept {
    if (block == nullptr) return nullptr;
    ++block->lockCount;
    return block->bytes;
}

bool UnlockGlobalBlock(HGLOBAL block) noexcept {
    if (block == nullptr || block->lockCount == 0) return false;
    --block->lockCount;
    return true;
}

std::size_t GlobalBlockSize(HGLOBAL block) noexcept {
    return block == nullptr ? 0 : block->size;
}

}  // namespace kd::platform
