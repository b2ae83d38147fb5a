// The diagnostics channel seen from a host: the loaded module's records, byte for byte, and the
// kddiag console run against a host that fails.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "host_objects.h"
#include "support/diag_receiver.h"

namespace {

using kdtest::DatagramText;
using kdtest::ScopedEnv;
using kdtest::TempDir;
using kdtest::Wide;

constexpr GUID kUnknownClass = {0x0BADC0DE, 0x0000, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x02}};

kdhost::ModuleApi& Module() {
    static kdhost::ModuleApi api = [] {
        kdhost::ModuleApi a;
        std::string error;
        if (!a.Load(KDTRACE_MODULE_PATH, error)) ADD_FAILURE() << error;
        return a;
    }();
    return api;
}

std::u16string Column(std::u16string_view name, std::u16string_view value) {
    return u"<column name=\"" + std::u16string(name) + u"\"><![CDATA[" + std::u16string(value) + u"]]></column>";
}

// A child process with its standard output on a pipe.
struct Child {
    pid_t pid = -1;
    int out = -1;

    static Child Start(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return {};
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        return {pid, fds[0]};
    }

    // Everything it writes until it closes its output, waiting at most `timeoutMs`.
    std::string ReadAll(int timeoutMs = 20000) {
        std::string text;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buffer[4096];
        while (std::chrono::steady_clock::now() < end) {
            pollfd pfd{out, POLLIN, 0};
            if (::poll(&pfd, 1, 100) <= 0) continue;
            const ssize_t n = ::read(out, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    // The exit status (or 128 + signal), waiting at most `timeoutMs`; -1 if it is still running.
    int Wait(int timeoutMs = 20000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid) {
                if (out >= 0) ::close(out);
                out = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
};

bool WaitForSocket(const std::string& path, int timeoutMs = 10000) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(DiagHostTest, AFailingMethodOfTheLoadedModuleSendsItsErrorRecord) {
    kdhost::ModuleApi& api = Module();
    ASSERT_NE(api.PLCreateInstance, nullptr);
    TempDir dir;
    kdtest::DiagReceiver receiver(dir / "diagInfo");
    ASSERT_TRUE(receiver.ok());
    ScopedEnv env("KDTRACE_DIAG_SOCKET", receiver.path());

    void* object = nullptr;
    ASSERT_EQ(api.PLCreateInstance(kUnknownClass, IID_IUnknown, &object), E_FAIL);
    const auto datagram = receiver.Receive();
    ASSERT_TRUE(datagram);

    // The source position comes from the thread's error list, which got the same error.
    IPLErrorInfo* list = nullptr;
    ASSERT_GE(api.GetThreadError(&list), 0);
    IPLErrorItem* item = nullptr;
    ASSERT_GE(list->GetItem(0, &item), 0);
    WCHAR file[1024] = {};
    ULONG line = 0;
    ASSERT_GE(item->GetSourceFile(file, 1024), 0);
    ASSERT_GE(item->GetSourceLine(&line), 0);
    item->Release();
    list->Release();

    const std::u16string text = DatagramText(*datagram);
    // The time is the host's local time now: check its shape, then every other byte.
    const std::size_t timeStart = text.find(u"<time><![CDATA[");
    const std::size_t timeEnd = text.find(u"]]></time>");
    ASSERT_NE(timeStart, std::u16string::npos);
    ASSERT_NE(timeEnd, std::u16string::npos);
    const std::u16string time = text.substr(timeStart + 15, timeEnd - timeStart - 15);
    EXPECT_TRUE(std::regex_match(kdtest::Ascii(time), std::regex("(1[0-2]|[1-9])/([1-9]|[12][0-9]|3[01])/[0-9]{4} "
                                                                 "(1[0-2]|[1-9]):[0-5][0-9]:[0-6][0-9] (AM|PM)")))
        << kdtest::Ascii(time);
    const std::u16string expected =
        u"\u00FF\u00FE<diagInfo><type><![CDATA[error-profile]]></type><time><![CDATA[" + time + u"]]></time><columns>" +
        Column(u"ThreadID", Wide(kdtest::Hex8(static_cast<uint32_t>(::syscall(SYS_gettid))))) +
        Column(u"Result", u"0x80004005") + Column(u"Message", u"Could not find class factory.") +
        Column(u"Module", u"") + Column(u"Class", u"") + Column(u"Method", u"PLCreateInstance") +
        Column(u"SourceFile", file) + Column(u"SourceLine", Wide(std::to_string(line))) +
        Column(u"Severity", u"Error") + u"</columns></diagInfo>" + u'\0';
    EXPECT_EQ(*datagram, kdtest::LittleEndianBytes(expected));
    EXPECT_NE(line, 0u);
    EXPECT_TRUE(std::u16string_view(file).ends_with(u".cpp"));
}

TEST(KddiagTest, ShowsTheErrorOfAHostThatFailsOnce) {
    TempDir dir;
    const std::string socket = dir / "diag/diagInfo";
    Child console = Child::Start({KDDIAG_PATH, "--count", "1", "--json", "--timeout", "30", "--socket", socket});
    ASSERT_TRUE(WaitForSocket(socket));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "diag").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A second console on the same path is refused.
    Child second = Child::Start({KDDIAG_PATH, "--socket", socket, "--timeout", "5"});
    EXPECT_EQ(second.Wait(), 3);

    Child host = Child::Start({KD_DIAG_FAIL_HOST_PATH}, {"KDTRACE_DIAG_SOCKET=" + socket});
    EXPECT_EQ(host.ReadAll(), "PLCreateInstance: 0x80004005\n");
    EXPECT_EQ(host.Wait(), 0);

    const std::string output = console.ReadAll();
    EXPECT_EQ(console.Wait(), 0);
    // One JSON object on one line.
    ASSERT_FALSE(output.empty());
    EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
    EXPECT_EQ(output.rfind("{\"time\":\"", 0), 0u) << output;
    EXPECT_NE(output.find("\"profile\":\"error\",\"pid\":" + std::to_string(host.pid) + ","), std::string::npos)
        << output;
    EXPECT_NE(output.find("\"Result\":\"0x80004005\",\"Message\":\"Could not find class "
                          "factory.\",\"Module\":\"\","
                          "\"Class\":\"\",\"Method\":\"PLCreateInstance\",\"SourceFile\":\""),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("\"Severity\":\"Error\"}}"), std::string::npos) << output;
    // The console removed its socket when it ended.
    EXPECT_NE(::lstat(socket.c_str(), &st), 0);
}

TEST(KddiagTest, EndsCleanlyOnSignalsAndTimeouts) {
    TempDir dir;
    const std::string socket = dir / "diagInfo";
    for (const int signal : {SIGINT, SIGTERM}) {
        Child console = Child::Start({KDDIAG_PATH, "--socket", socket});
        ASSERT_TRUE(WaitForSocket(socket));
        ::kill(console.pid, signal);
        EXPECT_EQ(console.Wait(), 0);
        struct stat st {};
        EXPECT_NE(::lstat(socket.c_str(), &st), 0) << "socket left behind after signal " << signal;
    }
    // A timeout before --count records arrived is a failure; without --count it is the end.
    Child waiting = Child::Start({KDDIAG_PATH, "--socket", socket, "--count", "2", "--timeout", "0.2"});
    EXPECT_EQ(waiting.Wait(), 1);
    Child watching = Child::Start({KDDIAG_PATH, "--socket", socket, "--timeout", "0.2"});
    EXPECT_EQ(watching.Wait(), 0);

    Child help = Child::Start({KDDIAG_PATH, "--help"});
    EXPECT_NE(help.ReadAll().find("usage: kddiag"), std::string::npos);
    EXPECT_EQ(help.Wait(), 0);
    for (const auto& bad :
         std::vector<std::vector<std::string>>{{KDDIAG_PATH, "--count", "0"}, {KDDIAG_PATH, "--raw", "--json"}}) {
        Child c = Child::Start(bad);
        EXPECT_EQ(c.Wait(), 2) << bad.back();
    }
    // A path that cannot be a socket.
    Child tooLong = Child::Start({KDDIAG_PATH, "--socket", dir.path() + "/" + std::string(120, 'x'), "--timeout", "1"});
    EXPECT_EQ(tooLong.Wait(), 3);
}

TEST(KddiagTest, ReadableForm) {
    TempDir dir;
    const std::string socket = dir / "diagInfo";
    Child readable = Child::Start({KDDIAG_PATH, "--count", "2", "--timeout", "30", "--socket", socket});
    ASSERT_TRUE(WaitForSocket(socket));
    Child host = Child::Start({KD_DIAG_FAIL_HOST_PATH, "", "2"}, {"KDTRACE_DIAG_SOCKET=" + socket});
    EXPECT_EQ(host.Wait(), 0);
    const std::string text = readable.ReadAll();
    EXPECT_EQ(readable.Wait(), 0);
    EXPECT_TRUE(
        std::regex_search(text, std::regex("^[0-9]+/[0-9]+/[0-9]{4} [0-9]+:[0-9]{2}:[0-9]{2} [AP]M  error  0x80004005  "
                                           "PLCreateInstance  \\[thread 0x[0-9A-F]{8}, pid [0-9]+\\]\n"
                                           "    Could not find class factory\\.\n    at .*\\.cpp:[0-9]+\n")))
        << text;
}

}  // namespace
