#include "platform/crash_report.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/fault.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CrashReportTest, WritesTheFaultRegistersStackAndMemoryMap) {
    char dirTemplate[] = "/tmp/kd-crash-test-XXXXXX";
    ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    ::setenv("KDTRACE_DUMP_DIR", (dir + "///").c_str(), 1);
    kd::platform::PrepareCrashReports();
    EXPECT_EQ(std::string(kd::platform::CrashReportDirectory()), dir);

    std::uint64_t stack[8] = {0x1111, 0x2222, 0x3333};
    std::uint64_t gregs[23] = {};
    gregs[16] = 0xDEADBEEF;  // the instruction pointer's slot on x86-64
    kd::platform::CrashReportInput input;
    input.signal = SIGSEGV;
    input.signalCode = SEGV_MAPERR;
    input.code = kd::platform::kFaultAccessViolation;
    input.faultAddress = 0x10;
    input.ip = 0x401000;
    input.sp = reinterpret_cast<std::uint64_t>(stack);
    input.gregs = gregs;
    char path[512];
    ASSERT_TRUE(kd::platform::WriteCrashReport(input, path, sizeof path));
    EXPECT_EQ(std::filesystem::path(path).parent_path(), dir);
    const std::string report = ReadFile(path);
    EXPECT_NE(report.find("signal 11 (SIGSEGV) code 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("exception code 0xC0000005\n"), std::string::npos);
    EXPECT_NE(report.find("fault address 0x0000000000000010\n"), std::string::npos);
    EXPECT_NE(report.find("instruction pointer 0x0000000000401000\n"), std::string::npos);
    EXPECT_NE(report.find("0x0000000000002222\n"), std::string::npos);  // a stack word
    EXPECT_NE(report.find("0x00000000DEADBEEF\n"), std::string::npos);  // a register
    EXPECT_NE(report.find("\nmemory map\n"), std::string::npos);
    EXPECT_NE(report.find("[stack]"), std::string::npos);
    // A second report does not overwrite the first.
    char second[512];
    ASSERT_TRUE(kd::platform::WriteCrashReport(input, second, sizeof second));
    EXPECT_STRNE(path, second);
    // An unreadable stack is reported as such; a directory that does not exist fails cleanly.
    input.sp = 8;
    ASSERT_TRUE(kd::platform::WriteCrashReport(input, path, sizeof path));
    EXPECT_NE(ReadFile(path).find("0x0000000000000008 unreadable\n"), std::string::npos);
    std::filesystem::remove_all(dir);
    EXPECT_FALSE(kd::platform::WriteCrashReport(input));
    ::unsetenv("KDTRACE_DUMP_DIR");
    kd::platform::PrepareCrashReports();
}

}  // namespace
