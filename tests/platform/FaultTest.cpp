#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "platform/Fault.h"

namespace {

using namespace kd::platform;

TEST(FrameChainTest, FollowsAnUpwardChainAndStopsAfterTheCurrentReturnAddressWhenItTurnsBad) {
    // Frames laid out as the processor leaves them, [saved frame pointer, return address], in the
    // first of two pages.
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    auto* base = static_cast<std::uint64_t*>(
        ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(base, MAP_FAILED);
    const std::uint64_t secondPage = reinterpret_cast<std::uint64_t>(base) + page;
    const auto frame = [&](std::size_t index) { return reinterpret_cast<std::uint64_t>(base + index * 4); };
    const auto link = [&](std::size_t index, std::uint64_t savedFrame, std::uint64_t returnAddress) {
        base[index * 4] = savedFrame;
        base[index * 4 + 1] = returnAddress;
    };
    const auto walk = [](std::uint64_t fp) {
        std::vector<std::uint64_t> out(64);
        out.resize(WalkFrameChain(0xAAAA, fp, out.data(), out.size()));
        return out;
    };
    link(0, frame(1), 0x1111);
    link(1, frame(2), 0x2222);
    link(2, 0, 0x3333);
    EXPECT_EQ(walk(frame(0)), (std::vector<std::uint64_t>{0xAAAA, 0x1111, 0x2222, 0x3333}));
    // Pointing downwards, to itself, to an unaligned address, or into memory that is not mapped.
    ASSERT_EQ(::munmap(reinterpret_cast<void*>(secondPage), page), 0);
    for (std::uint64_t bad : {frame(0), frame(1), frame(2) + 3, secondPage + 64}) {
        link(1, bad, 0x2222);
        EXPECT_EQ(walk(frame(0)), (std::vector<std::uint64_t>{0xAAAA, 0x1111, 0x2222})) << std::hex << bad;
    }
    // A frame pointer that is null or unreadable gives the instruction pointer alone.
    EXPECT_EQ(walk(0), (std::vector<std::uint64_t>{0xAAAA}));
    EXPECT_EQ(walk(secondPage), (std::vector<std::uint64_t>{0xAAAA}));
    ::munmap(base, page);
}

}  // namespace
