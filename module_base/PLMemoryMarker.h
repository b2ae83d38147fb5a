// The memory marker that value objects carry: a block that says who made the object and when.
#ifndef KD_PLMEMORYMARKER_H
#define KD_PLMEMORYMARKER_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include <kdtrace/types.h>

#include "module_base/PLProcessSwitches.h"

// Gives the tracked classes allocation through the C heap.
class CMemoryMarkerAllocator {
public:
    static void* operator new(std::size_t size) {
        if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
        throw std::bad_alloc();
    }
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
        return std::malloc(size == 0 ? 1 : size);
    }
    static void operator delete(void* p) noexcept { std::free(p); }
    static void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

protected:
    ~CMemoryMarkerAllocator() = default;
};

// The tracking block, on 64-bit targets (pointers and return addresses take 8 bytes):
//   offset   0  signature        8 bytes  35 37 39 FF 01 00 00 00
//   offset   8  owner            8 bytes  address of the marker itself
//   offset  16  creation time    8 bytes  seconds since 1970-01-01 UTC, or -1
//   offset  24  object size      4 bytes  sizeof the tracked class
//   offset  28  reserved         4 bytes  zero
//   offset  32  call stack      96 bytes  12 return addresses, unused entries zero
//   offset 128  type name       40 bytes  the class name, cut to 39 characters, zero-terminated
//   offset 168  reserved         8 bytes  zero
// 176 bytes in all; the whole block is zero unless tracking was on when the object was made.
struct PLMemoryMarkerBlock {
    uint8_t signature[8];
    uint64_t owner;
    int64_t creationTime;
    uint32_t objectSize;
    uint32_t reserved1;
    uint64_t callStack[12];
    char typeName[40];
    uint8_t reserved2[8];
};
static_assert(sizeof(PLMemoryMarkerBlock) == 176, "memory marker block layout");

void PLFillMemoryMarker(PLMemoryMarkerBlock& block, const void* owner, std::size_t objectSize,
                        const char* typeName) noexcept;
// The class name cut out of a compiler's "[with T = Name]" / "[T = Name]" function text.
struct PLTypeNameBuffer {
    explicit PLTypeNameBuffer(const char* prettyFunction) noexcept;
    char text[40];
};
// The undecorated class name of a type, for the marker (e.g. "CPLVariant").
template <class T>
const char* PLTypeName() noexcept {
    static const PLTypeNameBuffer name(__PRETTY_FUNCTION__);
    return name.text;
}

template <class T>
class CMemoryMarker : public virtual CMemoryMarkerAllocator {
public:
    CMemoryMarker() noexcept : m_block{} {
        if (PLGetMemoryTracking()) PLFillMemoryMarker(m_block, this, sizeof(T), PLTypeName<T>());
    }
    CMemoryMarker(const CMemoryMarker&) noexcept : CMemoryMarker() {}
    CMemoryMarker& operator=(const CMemoryMarker&) noexcept { return *this; }
    ~CMemoryMarker() {
        if (PLGetMemoryTracking()) m_block = PLMemoryMarkerBlock{};
    }
    const PLMemoryMarkerBlock& GetMarkerBlock() const noexcept { return m_block; }

private:
    PLMemoryMarkerBlock m_block;
};

#endif  // KD_PLMEMORYMARKER_H
