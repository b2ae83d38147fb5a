// Processor faults inside guarded methods become recorded errors with a call stack and the list of
// loaded modules; everything else about the process stays as it was.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "module_base/PLError.h"
#include "module_base/PLSEHException.h"
#include "module_base/PLVersion.h"
#include "platform/Fault.h"
#include "platform/ModuleList.h"
#include "platform/Text.h"
#include "support/DiagReceiver.h"
#include "support/DumpDir.h"
#include "support/ErrorList.h"
#include "support/HResult.h"
#include "support/Process.h"

// Code that faults on purpose (tests/support/FaultingCode.cpp).
int ReadThroughNull();
int DivideBy(int divisor);
int OverflowStack(int depth);

namespace {

kdtest::DumpDirectory g_dumps;

const auto Narrow = [](const std::u16string& text) { return kd::platform::Utf16ToUtf8(text); };
const auto Errors = [] { return kdtest::ReadThreadErrors(&GetThreadError); };

// Checks the thread's list: the report (flag 1: earlier errors are gone), then one line per
// loaded module (flag 0), all with the method's code. Returns the report's message.
std::string ExpectFaultReport(const char* method, HRESULT result = E_UNEXPECTED) {
    const auto errors = Errors();
    const auto modules = kd::platform::ListLoadedModules();
    EXPECT_EQ(errors.size(), 1 + modules.size());
    for (std::size_t i = 0; i < errors.size(); ++i) {
        EXPECT_HR(errors[i].result, result);
        EXPECT_EQ(Narrow(errors[i].module + u"/" + errors[i].className + u"/" + errors[i].method),
                  std::string("Core/CTestThing/") + method);
    }
    for (std::size_t i = 1; i < errors.size() && i <= modules.size(); ++i)
        EXPECT_EQ(Narrow(errors[i].message).rfind("@@MODULE:" + modules[i - 1].path + "[0x", 0), 0u);
    return errors.empty() ? "" : Narrow(errors[0].message);
}

// The text of the one crash report written since `before` (empty, and a failure, unless there is one).
std::string NewReport(const std::set<std::string>& before) {
    const auto added = g_dumps.ReportsSince(before);
    EXPECT_EQ(added.size(), 1u);
    return added.size() == 1 ? kdtest::ReadText(added[0]) : "";
}

// A guarded method that faults, its result set to `result` before.
HRESULT Fault(bool divide, HRESULT result = S_OK) {
    return PLGuardNamed("Core", "CTestThing", "Fault", [&](HRESULT& hr) {
        hr = result;
        divide ? DivideBy(0) : ReadThroughNull();
    });
}

TEST(SehTest, ANullReadAndADivisionByZeroGiveUnexpectedTheirReportAndACrashReport) {
    PLInstallSEHTranslator();
    const std::tuple<bool, const char*, const char*, std::uint64_t> cases[] = {
        // ..., the faulting function
        {false, "ACCESS_VIOLATION", "0xC0000005", reinterpret_cast<std::uint64_t>(&ReadThroughNull)},
        {true, "INT_DIVIDE_BY_ZERO", "0xC0000094", reinterpret_cast<std::uint64_t>(&DivideBy)}};
    for (const auto& [divide, name, code, start] : cases) {
        PLRecordErrorMessage("Core", "Earlier", "Error", E_FAIL, 0, u"an earlier error", 1);
        const auto before = g_dumps.Reports();
        EXPECT_HR(Fault(divide), E_UNEXPECTED);
        // The faulting instruction, then the frames above it.
        const std::string message = ExpectFaultReport("Fault");
        std::smatch match;
        ASSERT_TRUE(std::regex_match(
            message, match,
            std::regex(std::string(name) + " encountered\\. @CALL_STACK: 0x([0-9A-F]{16})~(0x[0-9A-F]{16}~){2,}")))
            << message;
        const std::uint64_t faultAt = std::stoull(match[1].str(), nullptr, 16);
        EXPECT_LT(faultAt - start, 256u) << "at " << faultAt << ", the function at " << start;  // not before it
        const std::string report = NewReport(before);
        EXPECT_NE(report.find(std::string("exception code ") + code + "\n"), std::string::npos) << report;
    }
    // A failure the method already had is kept, in the report and in every module line.
    EXPECT_HR(Fault(true, E_INVALIDARG), E_INVALIDARG);
    EXPECT_EQ(ExpectFaultReport("Fault", E_INVALIDARG).rfind("INT_DIVIDE_BY_ZERO encountered. @CALL_STACK: 0x", 0), 0u);
}

TEST(SehTest, ThreadsKeepWorkingAfterFaultingAgainAndAgain) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&failures] {
            PLInstallSEHTranslator();
            for (int i = 0; i < 100; ++i) {
                const bool divide = i % 2 == 1;
                const HRESULT hr = Fault(divide);
                const auto errors = Errors();
                const char* name = divide ? "INT_DIVIDE_BY_ZERO encountered." : "ACCESS_VIOLATION encountered.";
                if (hr != E_UNEXPECTED || errors.empty() || Narrow(errors[0].message).rfind(name, 0) != 0) ++failures;
            }
            // Ordinary calls still return as before.
            if (PLGuardNamed("Core", "CTestThing", "Fine", [](HRESULT&) {}) != S_OK) ++failures;
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

// A translator of the thread's own, in force before ours.
void OtherTranslator(const kd::platform::FaultInfo&) {
    throw PL_ERROR(E_NOTIMPL, 0, PLString(), PLString());
}

TEST(SehInstallTest, LoadingALibraryInstallsTheTranslatorAndRemovingItRestoresTheOneBefore) {
    std::thread([] {
        ASSERT_TRUE(kd::platform::InstallFaultHandlers());
        kd::platform::SetThreadFaultTranslator(&OtherTranslator);
        EXPECT_HR(Fault(false), E_NOTIMPL);
        PLLoadLibrary(u"kd-no-such-library");  // installs ours
        EXPECT_HR(Fault(false), E_UNEXPECTED);
        PLInstallSEHTranslator();  // again: the translator before ours stays the one to restore
        PLRemoveSEHTranslator();
        EXPECT_HR(Fault(true), E_NOTIMPL);
        PLRemoveSEHTranslator();  // nothing left to remove
        EXPECT_HR(Fault(false), E_NOTIMPL);
        kd::platform::SetThreadFaultTranslator(nullptr);
    }).join();
}

// A host's thread_local object made before the thread first installed the translator is
// destroyed after the library's own thread-end work; a translator it installs then must be
// forgotten with the thread, or a later thread that the system gives the same identifier (chosen
// here in a namespace of the test's own) finds it registered and is left without one.
struct LateInstall {
    bool armed = false;
    ~LateInstall() {
        if (armed) PLInstallSEHTranslator();
    }
};
thread_local LateInstall t_lateInstall;

TEST(SehInstallTest, ATranslatorInstalledAsAThreadEndsIsNotInheritedByALaterThread) {
    const int result = kdtest::InOwnPidNamespace([] {
        DWORD first = 0;
        std::thread([&] {
            first = kdtest::Gettid();
            t_lateInstall.armed = true;
            PLInstallSEHTranslator();
            PLRemoveSEHTranslator();
        }).join();
        return kdtest::OnThreadWithId(first, [] {
            PLInstallSEHTranslator();
            return static_cast<int>(Fault(false) != E_UNEXPECTED);  // without a translator the child dies here
        });
    });
    if (result == kdtest::kUnsupported) GTEST_SKIP() << "no process-identifier namespace for this user";
    EXPECT_EQ(result, 0);
}

// ---- what is not ours stays with the previous handler (each in a child process) ----

TEST(SehDeathTest, AThreadWithoutTheTranslatorAFaultOutsideAGuardAndASentSignalAreNotTranslated) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (void (*body)() : {+[] { std::thread([] { Fault(false); }).join(); }, +[] { DivideBy(0); },
                           +[] { PLGuardNamed("Core", "CTestThing", "Raise", [](HRESULT&) { ::raise(SIGSEGV); }); }}) {
        EXPECT_EXIT(
            {
                struct sigaction action {};
                action.sa_handler = [](int) { ::_exit(42); };
                ::sigaction(SIGSEGV, &action, nullptr);
                ::sigaction(SIGFPE, &action, nullptr);
                PLInstallSEHTranslator();
                body();
                ::_exit(0);
            },
            ::testing::ExitedWithCode(42), "");
    }
}

TEST(SehDeathTest, AStackOverflowIsReportedAndEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child re-runs this test from its start: only the parent binds the receiver, and the
    // child inherits the channel's path through the environment.
    std::optional<kdtest::TempDir> dir;
    std::optional<kdtest::DiagReceiver> receiver;
    std::optional<kdtest::ScopedEnv> channel;
    if (GTEST_FLAG_GET(internal_run_death_test).empty()) {
        dir.emplace();
        receiver.emplace(*dir / "diagInfo");
        ASSERT_TRUE(receiver->ok());
        channel.emplace("KDTRACE_DIAG_SOCKET", receiver->path());
    }
    const auto before = g_dumps.Reports();
    EXPECT_EXIT(
        {
            std::thread([] {
                PLInstallSEHTranslator();
                PLGuardNamed("Core", "CTestThing", "Recurse", [](HRESULT&) { OverflowStack(0); });
            }).join();
            ::_exit(0);
        },
        [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); }, "");
    const std::string report = NewReport(before);
    for (const char* part : {"signal 11 (SIGSEGV)", "exception code 0xC00000FD\n", "\nstack\n", "\nmemory map\n"})
        EXPECT_NE(report.find(part), std::string::npos) << report;
    // The report went to the diagnostics channel from the alternate signal stack.
    const auto record = receiver->Receive(2000);
    ASSERT_TRUE(record.has_value()) << "no diagnostics record from the overflowing process";
    const std::string text = kdtest::Ascii(kdtest::DatagramText(*record));
    for (const char* part : {"<![CDATA[STACK_OVERFLOW encountered. @CALL_STACK: 0x", "[CDATA[0x8000FFFF]]>"})
        EXPECT_NE(text.find(part), std::string::npos) << text;
}

}  // namespace
