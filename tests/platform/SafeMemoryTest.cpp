#include "platform/SafeMemory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace kd::platform;

TEST(SafeReadTest, ReadsMappedMemoryAndRefusesUnmappedNullAndWrappingRangesWithoutFaulting) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    for (auto read : {&SafeRead, &SafeReadThroughPipe}) {
        // Two pages: the first readable, the second unmapped, then mapped again but unreadable.
        auto* base = static_cast<unsigned char*>(
            ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ASSERT_NE(base, MAP_FAILED);
        for (std::size_t i = 0; i < page; ++i) base[i] = static_cast<unsigned char>(i * 7);
        const auto at = [&](std::size_t offset) { return reinterpret_cast<std::uintptr_t>(base) + offset; };
        ASSERT_EQ(::munmap(base + page, page), 0);
        std::vector<unsigned char> out(page);
        ASSERT_TRUE(read(at(0), out.data(), page));
        EXPECT_EQ(std::memcmp(out.data(), base, page), 0);
        // Wholly unmapped, and straddling the end of the mapping: nothing is claimed as read.
        EXPECT_FALSE(read(at(page), out.data(), 8) || read(at(page - 4), out.data(), 8));
        ASSERT_NE(::mmap(base + page, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0), MAP_FAILED);
        EXPECT_FALSE(read(at(page), out.data(), 8));
        ::munmap(base, 2 * page);
    }
    // Null and wrapping ranges are refused.
    std::uint64_t out = 0;
    EXPECT_FALSE(SafeRead(0, &out, sizeof out) || SafeRead(UINTPTR_MAX - 3, &out, sizeof out));
    // Larger than a pipe's buffer: the fallback moves it in pieces.
    std::vector<unsigned char> big(256 * 1024), copy(big.size());
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i ^ (i >> 8));
    ASSERT_TRUE(SafeReadThroughPipe(reinterpret_cast<std::uintptr_t>(big.data()), copy.data(), big.size()));
    EXPECT_EQ(copy, big);
}

}  // namespace
