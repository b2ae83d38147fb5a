// Processor faults inside guarded methods become recorded errors with a call stack and the list of
// loaded modules; everything else about the process stays as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "inc_module_base/PLError.h"
#include "inc_module_base/PLSEHException.h"
#include "inc_module_base/plversion.h"
#include "platform/fault.h"
#include "platform/format.h"
#include "platform/module_list.h"
#include "support/diag_receiver.h"
#include "tests/lib_module_base/seh_test_support.h"

namespace {

std::string Hex16(std::uint64_t value) {
    return Narrow(kd::platform::Format(u"0x%016llX", value));
}

// The addresses of a "NAME encountered. @CALL_STACK: 0x...~0x...~" message.
std::vector<std::uint64_t> StackOf(const std::string& message, const std::string& name) {
    const std::string prefix = name + " encountered. @CALL_STACK: ";
    EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
    const std::string stack = message.substr(std::min(prefix.size(), message.size()));
    EXPECT_TRUE(std::regex_match(stack, std::regex("(0x[0-9A-F]{16}~)+"))) << stack;
    std::vector<std::uint64_t> addresses;
    for (std::size_t at = 0; at + 19 <= stack.size(); at += 19)
        addresses.push_back(std::stoull(stack.substr(at + 2, 16), nullptr, 16));
    return addresses;
}

// The thread's list holds the report (the method's code, flag 1: earlier errors are gone) and
// then one line per module loaded in the process.
std::vector<std::uint64_t> ExpectFaultReport(const char* name, const char* className, const char* method,
                                             HRESULT result = E_UNEXPECTED) {
    const std::vector<RecordedError> errors = ThreadErrorsOldestFirst();
    const auto modules = kd::platform::ListLoadedModules();
    EXPECT_EQ(errors.size(), 1 + modules.size());
    if (errors.empty()) return {};
    for (const RecordedError& e : errors) {
        EXPECT_EQ(e.result, result);
        EXPECT_EQ(Narrow(e.className), className);
        EXPECT_EQ(Narrow(e.method), method);
    }
    for (std::size_t i = 0; i < modules.size() && i + 1 < errors.size(); ++i)
        EXPECT_EQ(Narrow(errors[i + 1].message), "@@MODULE:" + modules[i].path + "[" + Hex16(modules[i].base) + "]");
    return StackOf(Narrow(errors.front().message), name);
}

std::size_t CountReports(const std::string& dir) {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().filename().string().rfind("kdtrace-crash-", 0) == 0) ++n;
    return n;
}

std::set<std::string> ReportFiles() {
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(TestDumpDirectory()))
        files.insert(entry.path().string());
    return files;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class SehTest : public ::testing::Test {
protected:
    void SetUp() override {
        PLInstallSEHTranslator();
        ASSERT_TRUE(PLIsSEHTranslatorInstalled());
        PLClearThreadErrors();
    }
};

TEST_F(SehTest, ANullReadInAGuardedMethodIsRecordedWithItsCallStackAndTheModules) {
    PLRecordErrorMessage("Core", "Earlier", "Error", E_FAIL, 0, u"an earlier error", 1);
    const HRESULT hr = PLGuard("Core", "CTestThing", "CTestThing::Read", [&](HRESULT&) { ReadThroughNull(); });
    EXPECT_EQ(hr, E_UNEXPECTED);
    const auto stack = ExpectFaultReport("ACCESS_VIOLATION", "CTestThing", "CTestThing::Read");
    ASSERT_GE(stack.size(), 3u);  // the faulting instruction and the frames above it
    // The first address is the faulting instruction, inside ReadThroughNull.
    EXPECT_GE(stack[0], ReadThroughNullAddress());
    EXPECT_LT(stack[0], ReadThroughNullAddress() + 256);
    EXPECT_EQ(Narrow(ThreadErrorsOldestFirst().front().module), "Core");
}

// The console receives the report and then the module lines: the same records as the list.
TEST_F(SehTest, TheReportAndTheModuleLinesReachTheDiagnosticsChannel) {
    kdtest::TempDir dir;
    kdtest::DiagReceiver receiver(dir / "diagInfo");
    ASSERT_TRUE(receiver.ok());
    kdtest::ScopedEnv channel("KDTRACE_DIAG_SOCKET", receiver.path());
    std::vector<std::string> records;
    std::atomic<bool> faulted{false};
    // Drain while the records arrive: the kernel queues only a few datagrams per socket.
    std::thread reader([&] {
        while (true) {
            auto datagram = receiver.Receive(faulted ? 300 : 5000);
            if (!datagram) break;
            records.push_back(kdtest::Ascii(kdtest::DatagramText(*datagram)));
        }
    });
    const HRESULT hr = PLGuard("Core", "CTestThing", "Read", [&](HRESULT&) { ReadThroughNull(); });
    faulted = true;
    reader.join();
    EXPECT_EQ(hr, E_UNEXPECTED);
    ASSERT_FALSE(records.empty());
    EXPECT_NE(records[0].find("<![CDATA[ACCESS_VIOLATION encountered. @CALL_STACK: 0x"), std::string::npos)
        << records[0];
    EXPECT_NE(records[0].find("<column name=\"Result\"><![CDATA[0x8000FFFF]]>"), std::string::npos);
    const auto modules = kd::platform::ListLoadedModules();
    std::set<std::string> expected;
    for (const auto& m : modules) expected.insert("@@MODULE:" + m.path + "[" + Hex16(m.base) + "]");
    // A burst longer than the console's queue may lose lines (the host never waits); those
    // that arrive are the process's modules, each once.
    EXPECT_GE(records.size(), std::min<std::size_t>(modules.size() + 1, 8));
    std::set<std::string> seen;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const std::size_t start = records[i].find("@@MODULE:");
        ASSERT_NE(start, std::string::npos) << records[i];
        const std::string line = records[i].substr(start, records[i].find("]]>", start) - start);
        EXPECT_TRUE(expected.count(line)) << line;
        EXPECT_TRUE(seen.insert(line).second) << line;
    }
}

TEST_F(SehTest, AnIntegerDivisionByZeroKeepsAFailureTheMethodAlreadyHad) {
    HRESULT hr = PLGuard("Core", "CTestThing", "Divide", [&](HRESULT&) { DivideBy(0); });
    EXPECT_EQ(hr, E_UNEXPECTED);
    ExpectFaultReport("INT_DIVIDE_BY_ZERO", "CTestThing", "Divide");
    hr = PLGuard("Core", "CTestThing", "Divide", [&](HRESULT& result) {
        result = E_INVALIDARG;
        DivideBy(0);
    });
    EXPECT_EQ(hr, E_INVALIDARG);
    ExpectFaultReport("INT_DIVIDE_BY_ZERO", "CTestThing", "Divide", E_INVALIDARG);
}

TEST_F(SehTest, AFaultInAListenerEndsTheDeliveryAndTheMethodReturnsUnexpected) {
    TestEventSource source;
    int firstCalls = 0, secondCalls = 0;
    ITestFaultListener* first = NewFaultListener(&firstCalls);
    ITestFaultListener* second = NewFaultListener(&secondCalls);
    void* cookie = nullptr;
    ASSERT_EQ(source.AddListener(IID_ITestFaultListener, first, &cookie), S_OK);
    ASSERT_EQ(source.AddListener(IID_ITestFaultListener, second, &cookie), S_OK);

    EXPECT_EQ(source.Fire(kEventNullRead), E_UNEXPECTED);
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 0);
    ExpectFaultReport("ACCESS_VIOLATION", "TestEventSource", "Fire");

    EXPECT_EQ(source.Fire(kEventDivideByZero), E_UNEXPECTED);
    ExpectFaultReport("INT_DIVIDE_BY_ZERO", "TestEventSource", "Fire");

    // The listeners' references taken for the delivery were given back: both are still alive
    // and reachable, and an ordinary message reaches both.
    EXPECT_EQ(source.Fire(kEventCount), S_OK);
    EXPECT_EQ(firstCalls, 3);
    EXPECT_EQ(secondCalls, 1);
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(second->Release(), 0u);
}

TEST_F(SehTest, AThreadKeepsWorkingAfterFaultingAgainAndAgain) {
    for (int i = 0; i < 200; ++i) {
        const bool divide = i % 2 == 1;
        const HRESULT hr = PLGuard("Core", "CTestThing", "Loop", [&](HRESULT&) {
            if (divide)
                DivideBy(0);
            else
                ReadThroughNull();
        });
        ASSERT_EQ(hr, E_UNEXPECTED) << i;
    }
    ExpectFaultReport("INT_DIVIDE_BY_ZERO", "CTestThing", "Loop");
    // Ordinary errors still travel as before.
    const HRESULT hr = PLGuard("Core", "CTestThing", "Plain", [&](HRESULT& result) {
        result = E_FAIL;
        PL_THROW_ERROR(result, "plain failure", 1);
    });
    EXPECT_EQ(hr, E_FAIL);
    const auto errors = ThreadErrorsOldestFirst();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(Narrow(errors[0].message), "plain failure");
    EXPECT_EQ(PLGuard("Core", "CTestThing", "Fine", [](HRESULT&) {}), S_OK);
}

TEST_F(SehTest, ThreadsFaultingAtOnceEachGetTheirOwnReport) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            PLInstallSEHTranslator();
            for (int i = 0; i < 25; ++i) {
                const HRESULT hr =
                    PLGuard("Core", "CTestThing", "Worker", [&](HRESULT&) { t % 2 ? DivideBy(0) : ReadThroughNull(); });
                const auto errors = ThreadErrorsOldestFirst();
                const char* expected = t % 2 ? "INT_DIVIDE_BY_ZERO encountered." : "ACCESS_VIOLATION encountered.";
                if (hr != E_UNEXPECTED || errors.empty() || Narrow(errors.front().message).rfind(expected, 0) != 0)
                    ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(SehTest, EachTranslatedFaultLeavesACrashReport) {
    const auto before = ReportFiles();
    EXPECT_EQ(PLGuard("Core", "CTestThing", "Read", [&](HRESULT&) { ReadThroughNull(); }), E_UNEXPECTED);
    const auto after = ReportFiles();
    ASSERT_EQ(after.size(), before.size() + 1);
    std::string added;
    for (const auto& file : after)
        if (!before.count(file)) added = file;
    const std::string report = ReadFile(added);
    EXPECT_NE(report.find("exception code 0xC0000005\n"), std::string::npos) << report;
    EXPECT_NE(report.find("fault address 0x0000000000000000\n"), std::string::npos);
    EXPECT_NE(report.find("\nmemory map\n"), std::string::npos);
}

void SomeOtherTranslator(const kd::platform::FaultInfo&) {}

TEST(SehInstallTest, LoadingALibraryInstallsTheTranslatorAndInstallingTwiceKeepsTheFirstPrevious) {
    std::thread([] {
        EXPECT_FALSE(PLIsSEHTranslatorInstalled());
        PLLoadLibrary(u"kd-no-such-library");
        EXPECT_TRUE(PLIsSEHTranslatorInstalled());
        PLRemoveSEHTranslator();
        EXPECT_FALSE(PLIsSEHTranslatorInstalled());
        EXPECT_EQ(kd::platform::GetThreadFaultTranslator(), nullptr);

        kd::platform::SetThreadFaultTranslator(&SomeOtherTranslator);
        PLInstallSEHTranslator();
        PLInstallSEHTranslator();
        EXPECT_TRUE(PLIsSEHTranslatorInstalled());
        PLRemoveSEHTranslator();
        EXPECT_EQ(kd::platform::GetThreadFaultTranslator(), &SomeOtherTranslator);
        PLRemoveSEHTranslator();  // nothing left to remove
        EXPECT_EQ(kd::platform::GetThreadFaultTranslator(), &SomeOtherTranslator);
        kd::platform::SetThreadFaultTranslator(nullptr);
    }).join();
}

TEST(SehWrapperTest, NamesAndCallStacksComeFromTheSavedRecords) {
    // A frame chain of two frames: [saved frame pointer, return address].
    std::uint64_t frames[4] = {0, 0x5678, 0, 0};
    frames[0] = reinterpret_cast<std::uint64_t>(&frames[2]);
    frames[3] = 0x9ABC;
    PLExceptionRecord record;
    record.ExceptionCode = PL_EXCEPTION_INT_DIVIDE_BY_ZERO;
    PLThreadContext context;
    context.Rip = 0x1234;
    context.Rbp = reinterpret_cast<std::uint64_t>(&frames[0]);
    const CSEHExceptionWrapper walked(record, context);
    EXPECT_EQ(Narrow(std::u16string(walked.GetExceptionName().view())), "INT_DIVIDE_BY_ZERO");
    EXPECT_EQ(Narrow(std::u16string(walked.GetCallStack().view())),
              "0x0000000000001234~0x0000000000005678~0x0000000000009ABC~");
    // A captured stack is used as it is.
    PLCallStack captured;
    captured.count = 1;
    captured.frames[0] = 0xFEDCBA9876543210u;
    record.ExceptionCode = 0xE0000001u;  // not a processor fault the table knows
    const CSEHExceptionWrapper kept(record, context, captured);
    EXPECT_TRUE(kept.GetExceptionName().IsEmpty());
    EXPECT_EQ(Narrow(std::u16string(kept.GetCallStack().view())), "0xFEDCBA9876543210~");
}

TEST(SehWrapperTest, TheStackOverflowMessageIsBuiltWithoutAllocatingAndKeepsWholeAddresses) {
    const std::uint64_t frames[] = {0x401000, 0x7F0000001234u};
    char text[kPLFatalFaultMessageCapacity];
    const std::size_t n = PLFormatFatalFaultMessage(PL_EXCEPTION_STACK_OVERFLOW, frames, 2, text, sizeof text);
    EXPECT_STREQ(text, "STACK_OVERFLOW encountered. @CALL_STACK: 0x0000000000401000~0x00007F0000001234~");
    EXPECT_EQ(n, std::strlen(text));
    char small[60];
    PLFormatFatalFaultMessage(PL_EXCEPTION_STACK_OVERFLOW, frames, 2, small, sizeof small);
    EXPECT_STREQ(small, "STACK_OVERFLOW encountered. @CALL_STACK: ");
    EXPECT_EQ(PLFormatFatalFaultMessage(PL_EXCEPTION_STACK_OVERFLOW, frames, 2, nullptr, 0), 0u);
}

// ---- what is not ours stays with the previous handler (each in a child process) ----

void ExitWith42(int) {
    ::_exit(42);
}

void InstallPreviousHandlerThenOurs() {
    struct sigaction action {};
    action.sa_handler = ExitWith42;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGSEGV, &action, nullptr);
    ::sigaction(SIGFPE, &action, nullptr);
    PLInstallSEHTranslator();
}

class SehDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(SehDeathTest, AThreadWithoutTheTranslatorIsNotAffected) {
    EXPECT_EXIT(
        {
            InstallPreviousHandlerThenOurs();
            std::thread([] { PLGuard("Core", "CTestThing", "Read", [&](HRESULT&) { ReadThroughNull(); }); }).join();
            ::_exit(0);
        },
        ::testing::ExitedWithCode(42), "");
}

TEST_F(SehDeathTest, AFaultOutsideAGuardedRegionIsNotTranslated) {
    EXPECT_EXIT(
        {
            InstallPreviousHandlerThenOurs();
            DivideBy(0);
            ::_exit(0);
        },
        ::testing::ExitedWithCode(42), "");
}

TEST_F(SehDeathTest, ASignalSentByAnotherProcessOrThreadIsNotTranslated) {
    EXPECT_EXIT(
        {
            InstallPreviousHandlerThenOurs();
            PLGuard("Core", "CTestThing", "Raise", [&](HRESULT&) { ::raise(SIGSEGV); });
            ::_exit(0);
        },
        ::testing::ExitedWithCode(42), "");
}

TEST_F(SehDeathTest, AStackOverflowIsReportedAndEndsTheProcess) {
    // The child re-runs this test from its start: only the parent binds the receiver, and the
    // child inherits the channel's path through the environment.
    const bool inChild = !GTEST_FLAG_GET(internal_run_death_test).empty();
    std::optional<kdtest::TempDir> dir;
    std::optional<kdtest::DiagReceiver> receiver;
    std::optional<kdtest::ScopedEnv> channel;
    if (!inChild) {
        dir.emplace();
        receiver.emplace(*dir / "diagInfo");
        ASSERT_TRUE(receiver->ok());
        channel.emplace("KDTRACE_DIAG_SOCKET", receiver->path());
    }
    const std::size_t before = CountReports(TestDumpDirectory());
    const auto before_files = ReportFiles();
    EXPECT_EXIT(
        {
            std::thread([] {
                PLInstallSEHTranslator();
                PLGuard("Core", "CTestThing", "Recurse", [&](HRESULT&) { OverflowStack(0); });
            }).join();
            ::_exit(0);
        },
        [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); }, "");
    ASSERT_EQ(CountReports(TestDumpDirectory()), before + 1);
    for (const auto& file : ReportFiles()) {
        if (before_files.count(file)) continue;
        const std::string report = ReadFile(file);
        EXPECT_NE(report.find("signal 11 (SIGSEGV)"), std::string::npos) << report;
        EXPECT_NE(report.find("exception code 0xC00000FD\n"), std::string::npos) << report;
        EXPECT_NE(report.find("\nstack\n"), std::string::npos);
        EXPECT_NE(report.find("\nmemory map\n"), std::string::npos);
    }
    // The report went to the diagnostics channel from the alternate signal stack.
    const auto record = receiver->Receive(2000);
    ASSERT_TRUE(record.has_value()) << "no diagnostics record from the overflowing process";
    const std::string text = kdtest::Ascii(kdtest::DatagramText(*record));
    EXPECT_NE(text.find("<![CDATA[STACK_OVERFLOW encountered. @CALL_STACK: 0x"), std::string::npos) << text;
    EXPECT_NE(text.find("<column name=\"Method\"><![CDATA[PLSEHTranslator]]>"), std::string::npos) << text;
    EXPECT_NE(text.find("<column name=\"Module\"><![CDATA[Core Services]]>"), std::string::npos) << text;
    EXPECT_NE(text.find("<column name=\"Result\"><![CDATA[0x8000FFFF]]>"), std::string::npos) << text;
}

}  // namespace
