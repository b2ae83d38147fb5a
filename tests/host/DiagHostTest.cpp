// The diagnostics channel seen from a host: the kddiag console run against a host whose loaded
// module fails. (The records' bytes are checked where they are written.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/DiagReceiver.h"

namespace {

using namespace kdtest;

// A child process with its standard output on a pipe.
struct Child {
    pid_t pid = -1;
    int out = -1;

    static Child Start(const std::vector<std::string>& args, const std::string& env = "") {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return {};
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            if (!env.empty()) ::putenv(const_cast<char*>(env.c_str()));
            std::vector<char*> argv;
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        return {pid, fds[0]};
    }

    // Waits for it to end: its exit status (or 128 + signal) and what it wrote.
    std::pair<int, std::string> Wait() {
        char buffer[4096];
        std::string output;
        for (ssize_t n; (n = ::read(out, buffer, sizeof buffer)) > 0;) output.append(buffer, n);
        ::close(out);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), output};
    }
};

TEST(KddiagTest, ShowsTheErrorOfAHostThatFailsOnceAndEndsWithItsExitCodes) {
    TempDir dir;
    const std::string socket = dir / "diag/diagInfo";
    Child console = Child::Start({KDDIAG_PATH, "--count", "1", "--json", "--timeout", "30", "--socket", socket});
    struct stat st {};
    for (int waited = 0; waited < 10000 && !(::stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)); waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(S_ISSOCK(st.st_mode)) << "the console never bound its socket";
    // A second console on the same path is refused.
    EXPECT_EQ(Child::Start({KDDIAG_PATH, "--socket", socket, "--timeout", "5"}).Wait().first, 3);

    Child host = Child::Start({KD_DIAG_FAIL_HOST_PATH}, "KDTRACE_DIAG_SOCKET=" + socket);
    EXPECT_EQ(host.Wait(), std::pair(0, std::string("PLCreateInstance: E_FAIL (0x80004005)\n")));
    const auto [status, output] = console.Wait();
    EXPECT_EQ(status, 0);
    // One JSON object on one line (its form is checked in the console's own tests), with the
    // sender's process and the time of receipt: RFC 3339 with milliseconds and the UTC offset.
    EXPECT_EQ(output.find('\n'), output.size() - 1) << output;
    EXPECT_TRUE(std::regex_search(
        output, std::regex(R"("received":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d","profile":)")))
        << output;
    EXPECT_NE(output.find("\"profile\":\"error\",\"pid\":" + std::to_string(host.pid) + ","), std::string::npos)
        << output;
    EXPECT_NE(output.find("\"Method\":\"PLCreateInstance\""), std::string::npos) << output;
    // The console removed its socket when it ended.
    EXPECT_NE(::lstat(socket.c_str(), &st), 0);

    // Exit codes: a timeout before --count records arrived is a failure; bad arguments. (A path
    // that cannot be a socket ends it as a second console does.)
    EXPECT_EQ(Child::Start({KDDIAG_PATH, "--socket", socket, "--count", "2", "--timeout", "0.2"}).Wait().first, 1);
    EXPECT_EQ(Child::Start({KDDIAG_PATH, "--count", "0"}).Wait().first, 2);
}

}  // namespace
