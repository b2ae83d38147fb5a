#include "platform/diag_channel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>

#include "platform/local_time.h"
#include "support/diag_receiver.h"

namespace {

using kd::platform::DiagChannelListener;
using kd::platform::DiagChannelTarget;
using kdtest::ScopedEnv;
using kdtest::TempDir;

TEST(DiagChannelTest, PathComesFromTheEnvironment) {
    ScopedEnv explicitPath("KDTRACE_DIAG_SOCKET", "/run/custom/socket");
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(kd::platform::DiagChannelPath(), "/run/custom/socket");
    {
        ScopedEnv unset("KDTRACE_DIAG_SOCKET", "");
        EXPECT_EQ(kd::platform::DiagChannelPath(), "/run/user/1000/kdtrace/diagInfo");
        ScopedEnv relative("XDG_RUNTIME_DIR", "relative/dir");
        EXPECT_EQ(kd::platform::DiagChannelPath(), "/tmp/kdtrace-" + std::to_string(::geteuid()) + "/diagInfo");
        ScopedEnv none("XDG_RUNTIME_DIR", nullptr);
        EXPECT_EQ(kd::platform::DiagChannelPath(), "/tmp/kdtrace-" + std::to_string(::geteuid()) + "/diagInfo");
        // The buffer form refuses what does not fit rather than cutting it.
        char small[20];
        EXPECT_EQ(kd::platform::DiagChannelPath(small, sizeof small), 0u);
        char exact[sizeof "/tmp/kdtrace-"];
        EXPECT_EQ(kd::platform::DiagChannelPath(exact, sizeof exact), 0u);
    }
    EXPECT_EQ(kd::platform::SignalSafeThreadId(), static_cast<uint32_t>(::gettid()));
}

TEST(DiagChannelTest, TargetOpensOnlyAListeningSocketOfThisUser) {
    TempDir dir;
    DiagChannelTarget target;
    EXPECT_FALSE(target.Open((dir / "absent").c_str()));
    EXPECT_FALSE(target.Open(""));
    EXPECT_FALSE(target.Open(nullptr));
    EXPECT_FALSE(target.Open((dir.path() + "/" + std::string(150, 'x')).c_str()));
    std::ofstream(dir / "file") << "x";
    EXPECT_FALSE(target.Open((dir / "file").c_str()));
    EXPECT_FALSE(target.IsOpen());
    EXPECT_EQ(target.Send("x", 1), DiagChannelTarget::SendResult::NoListener);

    kdtest::DiagReceiver receiver(dir / "sock");
    ASSERT_TRUE(receiver.ok());
    ASSERT_TRUE(target.Open(receiver.path().c_str()));
    EXPECT_EQ(target.Send("abcd", 4), DiagChannelTarget::SendResult::Sent);
    const auto got = receiver.Receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(std::string(got->begin(), got->end()), "abcd");

    // A relative path names a socket in the current directory.
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    EXPECT_TRUE(target.Open("sock"));
    EXPECT_EQ(target.Send("rel", 3), DiagChannelTarget::SendResult::Sent);
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(receiver.Receive());
}

TEST(DiagChannelTest, ListenerOwnsItsPathAndFiltersSenders) {
    TempDir dir;
    const std::string path = dir / "sub/deeper/diagInfo";
    DiagChannelListener console;
    std::string error;
    ASSERT_TRUE(console.Open(path, &error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat((dir / "sub/deeper").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));

    // One console per path.
    DiagChannelListener second;
    EXPECT_FALSE(second.Open(path, &error));
    EXPECT_NE(error.find("another console is already listening"), std::string::npos) << error;

    // A writer's datagram arrives with the sender's credentials.
    DiagChannelTarget target;
    ASSERT_TRUE(target.Open(path.c_str()));
    EXPECT_EQ(target.Send("hello", 5), DiagChannelTarget::SendResult::Sent);
    std::vector<char> datagram;
    kd::platform::DiagSender sender;
    bool truncated = true;
    ASSERT_EQ(console.Receive(datagram, &sender, &truncated, 2000), DiagChannelListener::ReceiveStatus::Record);
    EXPECT_EQ(std::string(datagram.begin(), datagram.end()), "hello");
    EXPECT_EQ(sender.pid, ::getpid());
    EXPECT_EQ(sender.uid, ::geteuid());
    EXPECT_FALSE(truncated);
    EXPECT_EQ(console.Receive(datagram, &sender, nullptr, 50), DiagChannelListener::ReceiveStatus::Timeout);

    // Datagrams of another user are dropped (with the directories opened up, so that the
    // stranger's datagram gets as far as the console).
    if (::geteuid() == 0) {
        int status = 0;
        for (const std::string& d : {dir.path(), dir / "sub", dir / "sub/deeper"}) ::chmod(d.c_str(), 0755);
        ::chmod(path.c_str(), 0666);
        const pid_t sender2 = ::fork();
        if (sender2 == 0) {
            if (::setuid(54321) != 0) ::_exit(2);
            const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
            const bool sent = ::sendto(fd, "evil", 4, 0, reinterpret_cast<sockaddr*>(&address), sizeof address) == 4;
            ::_exit(sent ? 0 : 3);
        }
        ::waitpid(sender2, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(console.Receive(datagram, &sender, nullptr, 300), DiagChannelListener::ReceiveStatus::Timeout);
        EXPECT_EQ(console.ForeignDatagramsDropped(), 1u);
    }

    // Closing removes the socket and frees the path for the next console.
    console.Close();
    EXPECT_NE(::lstat(path.c_str(), &st), 0);
    EXPECT_FALSE(target.Open(path.c_str()));
    ASSERT_TRUE(second.Open(path, &error)) << error;
}

TEST(DiagChannelTest, ListenerReplacesStaleSocketsButNothingElse) {
    TempDir dir;
    const std::string path = dir / "diagInfo";
    {
        // A console that died leaves its socket file.
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    DiagChannelListener console;
    std::string error;
    ASSERT_TRUE(console.Open(path, &error)) << error;
    console.Close();

    std::ofstream(path) << "precious";
    EXPECT_FALSE(console.Open(path, &error));
    EXPECT_NE(error.find("is not a socket"), std::string::npos) << error;
    std::string content;
    std::getline(std::ifstream(path), content);
    EXPECT_EQ(content, "precious");

    EXPECT_FALSE(console.Open(dir.path() + "/" + std::string(120, 'l'), &error));
    EXPECT_NE(error.find("longer than a socket path"), std::string::npos) << error;
    std::ofstream(dir / "plainfile") << "x";
    EXPECT_FALSE(console.Open(dir / "plainfile/diagInfo", &error));

    if (::geteuid() == 0) {
        const std::string foreign = dir / "foreign";
        ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
        ASSERT_EQ(::chown(foreign.c_str(), 54321, 54321), 0);
        EXPECT_FALSE(console.Open(foreign + "/diagInfo", &error));
        EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
    }
}

TEST(LocalTimeTest, CivilFieldsAndTheSignalSafeClock) {
    const auto check = [](int64_t seconds, int32_t y, int32_t mo, int32_t d, int32_t h, int32_t mi, int32_t s) {
        const auto f = kd::platform::CivilTimeFromSeconds(seconds);
        EXPECT_EQ(f.year, y);
        EXPECT_EQ(f.month, mo);
        EXPECT_EQ(f.day, d);
        EXPECT_EQ(f.hour, h);
        EXPECT_EQ(f.minute, mi);
        EXPECT_EQ(f.second, s);
    };
    check(0, 1970, 1, 1, 0, 0, 0);
    check(951782400, 2000, 2, 29, 0, 0, 0);  // a leap day of a century divisible by 400
    check(1741352822, 2025, 3, 7, 13, 7, 2);
    check(4107542399, 2100, 2, 28, 23, 59, 59);  // 2100 is not a leap year
    check(4107542400, 2100, 3, 1, 0, 0, 0);
    check(-1, 1969, 12, 31, 23, 59, 59);
    check(-2208988800, 1900, 1, 1, 0, 0, 0);

    // The signal-safe clock applies the offset the ordinary clock saw (a zone of UTC+5:30 here,
    // which needs no zone database).
    ScopedEnv zone("TZ", "XYZ-05:30");
    ::tzset();
    struct ResetZone {
        ~ResetZone() { ::tzset(); }
    } resetAfterwards;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const auto ordinary = kd::platform::LocalTimeNow();
        const auto safe = kd::platform::LocalTimeNowSignalSafe();
        if (ordinary.second != safe.second) continue;  // a second boundary fell between them
        EXPECT_EQ(ordinary.year, safe.year);
        EXPECT_EQ(ordinary.month, safe.month);
        EXPECT_EQ(ordinary.day, safe.day);
        EXPECT_EQ(ordinary.hour, safe.hour);
        EXPECT_EQ(ordinary.minute, safe.minute);
        const auto utc = kd::platform::CivilTimeFromSeconds(::time(nullptr));
        EXPECT_EQ((ordinary.minute - utc.minute + 60) % 60, 30);
        return;
    }
    ADD_FAILURE() << "the two clocks never agreed";
}

}  // namespace
