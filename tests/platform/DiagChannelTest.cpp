#include "platform/DiagChannel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "support/DiagReceiver.h"
#include "support/DumpDir.h"
#include "support/Process.h"

namespace {

using namespace kd::platform;
using kdtest::ScopedEnv;

TEST(DiagChannelTest, PathComesFromTheEnvironment) {
    ScopedEnv explicitPath("KDTRACE_DIAG_SOCKET", "/run/custom/socket");
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(kd::platform::DiagChannelPath(), "/run/custom/socket");
    ScopedEnv unset("KDTRACE_DIAG_SOCKET", "");
    EXPECT_EQ(kd::platform::DiagChannelPath(), "/run/user/1000/kdtrace/diagInfo");
    for (const char* dir : {"relative/dir", static_cast<const char*>(nullptr)}) {
        ScopedEnv runtimeDir("XDG_RUNTIME_DIR", dir);
        EXPECT_EQ(kd::platform::DiagChannelPath(), "/tmp/kdtrace-" + std::to_string(::geteuid()) + "/diagInfo");
    }
    // The buffer form refuses what does not fit rather than cutting it.
    char exact[sizeof "/run/user/1000/kdtrace/diagInfo"];
    EXPECT_EQ(kd::platform::DiagChannelPath(exact, sizeof exact), sizeof exact - 1);
    EXPECT_EQ(kd::platform::DiagChannelPath(exact, sizeof exact - 1), 0u);
}

TEST(DiagChannelTest, ListenerOwnsItsPathAndReplacesStaleSocketsButNothingElse) {
    kdtest::TempDir dir;
    const std::string path = dir / "sub/deeper/diagInfo";
    DiagChannelListener console, second;
    std::string error;
    ASSERT_TRUE(console.Open(path, &error)) << error;
    struct stat st {};
    ASSERT_EQ(::stat((dir / "sub/deeper").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(second.Open(path, &error));  // one console per path
    // Closing removes the socket; a socket that a console that died left behind is replaced.
    console.Close();
    EXPECT_NE(::lstat(path.c_str(), &st), 0);
    ASSERT_EQ(kdtest::BindDatagramSocket(path, true), -1);
    ASSERT_TRUE(second.Open(path, &error)) << error;
    second.Close();

    std::ofstream(path) << "precious";
    std::ofstream(dir / "plainfile") << "x";
    for (const std::string& bad : {path, dir.path() + "/" + std::string(120, 'l'), dir / "plainfile/diagInfo"})
        EXPECT_FALSE(console.Open(bad, &error)) << bad;
    EXPECT_EQ(kdtest::ReadText(path), "precious");
}

// A socket given to another user: this user's writer refuses it, and the console drops that
// user's datagram.
TEST(DiagChannelTest, OtherUsersAreShutOut) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    kdtest::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string path = dir / "diagInfo";
    DiagChannelListener console;
    std::string error;
    ASSERT_TRUE(console.Open(path, &error)) << error;
    DiagChannelTarget target;
    EXPECT_TRUE(target.Open(path.c_str()));
    ASSERT_EQ(::chown(path.c_str(), 54321, 54321), 0);
    EXPECT_FALSE(target.Open(path.c_str()));
    EXPECT_EQ(kdtest::InChild([&] {
                  DiagChannelTarget theirs;
                  const bool sent = ::setuid(54321) == 0 && theirs.Open(path.c_str()) &&
                                    theirs.Send("evil", 4) == DiagChannelTarget::SendResult::Sent;
                  return sent ? 0 : 3;
              }),
              0);
    std::vector<char> datagram;
    EXPECT_EQ(console.Receive(datagram, nullptr, nullptr, 300), DiagChannelListener::ReceiveStatus::Timeout);
    EXPECT_EQ(console.ForeignDatagramsDropped(), 1u);
}

}  // namespace
