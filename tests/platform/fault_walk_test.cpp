#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "platform/fault.h"

namespace {

using namespace kd::platform;

// Frames laid out as the processor leaves them: [saved frame pointer, return address].
class FrameChain : public ::testing::Test {
protected:
    void SetUp() override {
        m_page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        m_base = static_cast<std::uint64_t*>(
            ::mmap(nullptr, 2 * m_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ASSERT_NE(m_base, MAP_FAILED);
    }
    void TearDown() override { ::munmap(m_base, 2 * m_page); }

    std::uint64_t Frame(std::size_t index) const { return reinterpret_cast<std::uint64_t>(m_base + index * 4); }
    void Link(std::size_t index, std::uint64_t savedFrame, std::uint64_t returnAddress) {
        m_base[index * 4] = savedFrame;
        m_base[index * 4 + 1] = returnAddress;
    }
    std::vector<std::uint64_t> Walk(std::uint64_t fp, std::size_t capacity = 64) {
        std::vector<std::uint64_t> out(capacity);
        out.resize(WalkFrameChain(0xAAAA, fp, out.data(), capacity));
        return out;
    }

    std::size_t m_page = 0;
    std::uint64_t* m_base = nullptr;
};

TEST_F(FrameChain, FollowsAnUpwardChainToItsEnd) {
    Link(0, Frame(1), 0x1111);
    Link(1, Frame(2), 0x2222);
    Link(2, 0, 0x3333);
    EXPECT_EQ(Walk(Frame(0)), (std::vector<std::uint64_t>{0xAAAA, 0x1111, 0x2222, 0x3333}));
    // The capacity bounds the walk.
    EXPECT_EQ(Walk(Frame(0), 2), (std::vector<std::uint64_t>{0xAAAA, 0x1111}));
}

TEST_F(FrameChain, StopsAfterTheCurrentReturnAddressWhenTheChainTurnsBad) {
    // Pointing downwards, to itself, or to an unaligned address.
    for (std::uint64_t bad : {Frame(0), Frame(1), Frame(2) + 3}) {
        Link(0, Frame(1), 0x1111);
        Link(1, bad, 0x2222);
        EXPECT_EQ(Walk(Frame(0)), (std::vector<std::uint64_t>{0xAAAA, 0x1111, 0x2222}));
    }
    // Pointing into memory that is not mapped.
    ASSERT_EQ(::munmap(reinterpret_cast<char*>(m_base) + m_page, m_page), 0);
    Link(0, Frame(1), 0x1111);
    Link(1, reinterpret_cast<std::uint64_t>(m_base) + m_page + 64, 0x2222);
    EXPECT_EQ(Walk(Frame(0)), (std::vector<std::uint64_t>{0xAAAA, 0x1111, 0x2222}));
    // A frame pointer that is null or unreadable gives the instruction pointer alone.
    EXPECT_EQ(Walk(0), (std::vector<std::uint64_t>{0xAAAA}));
    EXPECT_EQ(Walk(reinterpret_cast<std::uint64_t>(m_base) + m_page), (std::vector<std::uint64_t>{0xAAAA}));
}

TEST(FaultCodeTest, SignalsMapToTheSystemsCodes) {
    EXPECT_EQ(FaultCodeForSignal(SIGSEGV, SEGV_MAPERR), kFaultAccessViolation);
    EXPECT_EQ(FaultCodeForSignal(SIGSEGV, SEGV_ACCERR), kFaultAccessViolation);
    EXPECT_EQ(FaultCodeForSignal(SIGFPE, FPE_INTDIV), kFaultIntDivideByZero);
    EXPECT_EQ(FaultCodeForSignal(SIGFPE, FPE_INTOVF), kFaultIntOverflow);
    EXPECT_EQ(FaultCodeForSignal(SIGFPE, FPE_FLTDIV), kFaultFltDivideByZero);
    EXPECT_EQ(FaultCodeForSignal(SIGFPE, FPE_FLTINV), kFaultFltInvalidOperation);
    EXPECT_EQ(FaultCodeForSignal(SIGBUS, BUS_ADRALN), kFaultDatatypeMisalignment);
    EXPECT_EQ(FaultCodeForSignal(SIGBUS, BUS_ADRERR), kFaultInPageError);
    EXPECT_EQ(FaultCodeForSignal(SIGILL, ILL_ILLOPC), kFaultIllegalInstruction);
    EXPECT_EQ(FaultCodeForSignal(SIGILL, ILL_PRVOPC), kFaultPrivInstruction);
    EXPECT_EQ(FaultCodeForSignal(SIGTERM, 0), 0u);
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
        // The thread got an alternate signal stack for the report.
        stack_t current{};
        ASSERT_EQ(::sigaltstack(nullptr, &current), 0);
        EXPECT_EQ(current.ss_flags & SS_DISABLE, 0);
        EXPECT_EQ(SetThreadFaultTranslator(nullptr), &NoTranslation);
    }).join();
}

}  // namespace
