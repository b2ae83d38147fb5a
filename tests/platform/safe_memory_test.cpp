#include "platform/safe_memory.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using kd::platform::SafeRead;
using kd::platform::SafeReadThroughPipe;

// Two pages: the first readable, the second unmapped (or made unreadable).
class TwoPages : public ::testing::Test {
protected:
    void SetUp() override {
        m_page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        m_base = static_cast<unsigned char*>(
            ::mmap(nullptr, 2 * m_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ASSERT_NE(m_base, MAP_FAILED);
        for (std::size_t i = 0; i < m_page; ++i) m_base[i] = static_cast<unsigned char>(i * 7);
    }
    void TearDown() override { ::munmap(m_base, 2 * m_page); }
    std::uintptr_t At(std::size_t offset) const { return reinterpret_cast<std::uintptr_t>(m_base) + offset; }

    std::size_t m_page = 0;
    unsigned char* m_base = nullptr;
};

TEST_F(TwoPages, ReadsMappedMemoryAndRefusesUnmappedMemoryWithoutFaulting) {
    for (auto read : {&SafeRead, &SafeReadThroughPipe}) {
        ASSERT_EQ(::munmap(m_base + m_page, m_page), 0);
        std::vector<unsigned char> out(m_page);
        ASSERT_TRUE(read(At(0), out.data(), m_page));
        EXPECT_EQ(std::memcmp(out.data(), m_base, m_page), 0);
        // Wholly unmapped, and straddling the end of the mapping: nothing is claimed as read.
        EXPECT_FALSE(read(At(m_page), out.data(), 8));
        EXPECT_FALSE(read(At(m_page - 4), out.data(), 8));
        // Mapped again but unreadable.
        ASSERT_NE(::mmap(m_base + m_page, m_page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0),
                  MAP_FAILED);
        EXPECT_FALSE(read(At(m_page), out.data(), 8));
    }
}

TEST(SafeReadTest, RejectsNullAndWrappingRanges) {
    std::uint64_t out = 0;
    EXPECT_FALSE(SafeRead(0, &out, sizeof out));
    EXPECT_FALSE(SafeRead(UINTPTR_MAX - 3, &out, sizeof out));
    const std::uint64_t value = 0x1122334455667788u;
    EXPECT_FALSE(SafeRead(reinterpret_cast<std::uintptr_t>(&value), nullptr, sizeof value));
    EXPECT_TRUE(SafeRead(reinterpret_cast<std::uintptr_t>(&value), &out, 0));
    // Larger than a pipe's buffer: the fallback moves it in pieces.
    std::vector<unsigned char> big(256 * 1024), copy(big.size());
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i ^ (i >> 8));
    ASSERT_TRUE(SafeReadThroughPipe(reinterpret_cast<std::uintptr_t>(big.data()), copy.data(), big.size()));
    EXPECT_EQ(copy, big);
}

}  // namespace
