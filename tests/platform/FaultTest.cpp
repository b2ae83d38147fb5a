#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <thread>
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
    const auto walk = [](std::uint64_t fp, std::size_t capacity = 64) {
        std::vector<std::uint64_t> out(capacity);
        out.resize(WalkFrameChain(0xAAAA, fp, out.data(), capacity));
        return out;
    };
    link(0, frame(1), 0x1111);
    link(1, frame(2), 0x2222);
    link(2, 0, 0x3333);
    EXPECT_EQ(walk(frame(0)), (std::vector<std::uint64_t>{0xAAAA, 0x1111, 0x2222, 0x3333}));
    // The capacity bounds the walk.
    EXPECT_EQ(walk(frame(0), 2), (std::vector<std::uint64_t>{0xAAAA, 0x1111}));
    // Pointing downwards, to itself, or to an unaligned address.
    for (std::uint64_t bad : {frame(0), frame(1), frame(2) + 3}) {
        link(0, frame(1), 0x1111);
        link(1, bad, 0x2222);
        EXPECT_EQ(walk(frame(0)), (std::vector<std::uint64_t>{0xAAAA, 0x1111, 0x2222}));
    }
    // Pointing into memory that is not mapped.
    ASSERT_EQ(::munmap(reinterpret_cast<void*>(secondPage), page), 0);
    link(0, frame(1), 0x1111);
    link(1, secondPage + 64, 0x2222);
    EXPECT_EQ(walk(frame(0)), (std::vector<std::uint64_t>{0xAAAA, 0x1111, 0x2222}));
    // A frame pointer that is null or unreadable gives the instruction pointer alone.
    EXPECT_EQ(walk(0), (std::vector<std::uint64_t>{0xAAAA}));
    EXPECT_EQ(walk(secondPage), (std::vector<std::uint64_t>{0xAAAA}));
    ::munmap(base, page);
}

void NoTranslation(const FaultInfo&) {}

TEST(StackOverflowTest, AFaultAtTheStackLimitIsAnOverflowAndANullReadIsNot) {
    std::thread([] {
        // Before the thread's stack bounds are known, only nearness to the stack pointer counts.
        int local = 0;
        const std::uint64_t sp = reinterpret_cast<std::uint64_t>(&local);
        EXPECT_TRUE(IsStackOverflowAddress(sp - 128, sp));
        EXPECT_FALSE(IsStackOverflowAddress(0x10, sp));
        EXPECT_EQ(SetThreadFaultTranslator(&NoTranslation), nullptr);
        const std::uint64_t low = g_faultThreadState.stackLow;
        ASSERT_NE(low, 0u);
        ASSERT_GT(g_faultThreadState.stackHigh, low);
        EXPECT_TRUE(IsStackOverflowAddress(low - 64, low + 32));
        EXPECT_TRUE(IsStackOverflowAddress(low + 8, low + 16));
        EXPECT_FALSE(IsStackOverflowAddress(0x10, low + 32));
        // A bad pointer into the middle of the stack is not an overflow.
        EXPECT_FALSE(IsStackOverflowAddress(low + 512 * 1024, sp));
        EXPECT_EQ(SetThreadFaultTranslator(nullptr), &NoTranslation);
    }).join();
}

}  // namespace
