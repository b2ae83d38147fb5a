#include "platform/CrashReport.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>

#include "platform/Fault.h"
#include "support/DiagReceiver.h"
#include "support/DumpDir.h"

namespace {

TEST(CrashReportTest, WritesTheFaultRegistersStackAndMemoryMap) {
    kdtest::TempDir dir;
    {
        kdtest::ScopedEnv dumps("KDTRACE_DUMP_DIR", dir.path() + "///");
        kd::platform::PrepareCrashReports();
    }
    EXPECT_EQ(std::string(kd::platform::CrashReportDirectory()), dir.path());

    std::uint64_t stack[8] = {0x1111, 0x2222, 0x3333};
    std::uint64_t gregs[23] = {};
    gregs[16] = 0xDEADBEEF;  // the instruction pointer's slot on x86-64
    kd::platform::CrashReportInput input{.signal = SIGSEGV,
                                         .signalCode = SEGV_MAPERR,
                                         .code = kd::platform::kFaultAccessViolation,
                                         .faultAddress = 0x10,
                                         .ip = 0x401000,
                                         .sp = reinterpret_cast<std::uint64_t>(stack),
                                         .gregs = gregs};
    char path[512], second[512];
    ASSERT_TRUE(kd::platform::WriteCrashReport(input, path, sizeof path));
    EXPECT_EQ(std::filesystem::path(path).parent_path(), dir.path());
    const std::string report = kdtest::ReadText(path);
    for (const char* part :
         {"signal 11 (SIGSEGV) code 1\n", "exception code 0xC0000005\n", "fault address 0x0000000000000010\n",
          "instruction pointer 0x0000000000401000\n", "0x0000000000002222\n" /* a stack word */,
          "0x00000000DEADBEEF\n" /* a register */, "\nmemory map\n", "[stack]"})
        EXPECT_NE(report.find(part), std::string::npos) << part << "\n" << report;
    // A second report does not overwrite the first.
    ASSERT_TRUE(kd::platform::WriteCrashReport(input, second, sizeof second));
    EXPECT_STRNE(path, second);
    // An unreadable stack is reported as such; a directory that does not exist fails cleanly.
    input.sp = 8;
    ASSERT_TRUE(kd::platform::WriteCrashReport(input, path, sizeof path));
    EXPECT_NE(kdtest::ReadText(path).find("0x0000000000000008 unreadable\n"), std::string::npos);
    std::filesystem::remove_all(dir.path());
    EXPECT_FALSE(kd::platform::WriteCrashReport(input));
    kd::platform::PrepareCrashReports();
}

}  // namespace
