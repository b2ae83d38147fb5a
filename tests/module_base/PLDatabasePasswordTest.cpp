// Database passwords from the protected configuration file: user numbers, the file's owner and
// mode, malformed and corrupt records, buffers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "module_base/PLDatabasePassword.h"
#include "support/DiagReceiver.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

namespace {

struct PLDatabasePasswordTest : ::testing::Test {
    void Write(const std::string& text, mode_t mode = 0600) {
        std::ofstream(m_path, std::ios::trunc) << text;
        ASSERT_EQ(::chmod(m_path.c_str(), mode), 0);
    }
    static std::string Record(int user, const char16_t* password) {
        return std::to_string(user) + "=" + PLSealDatabasePassword(password).ToUtf8() + "\n";
    }
    // The password of `user`, or the recorded messages joined with "|".
    static std::u16string Get(LONG user, LONG size = 64) {
        WCHAR buffer[64] = {};
        if (GetDatabasePassword(user, buffer, size) == S_OK) return buffer;
        std::u16string messages;
        for (const auto& e : kdtest::TakeThreadErrors()) messages += (messages.empty() ? u"" : u"|") + e.message;
        return messages;
    }
    const kdtest::TempDir m_dir;
    const std::string m_path = m_dir / "passwords";
    const kdtest::ScopedEnv m_env{"KDTRACE_DATABASE_PASSWORDS", m_path};
};

TEST_F(PLDatabasePasswordTest, ReadsEachUsersRecordAndCutsToTheBuffer) {
    Write("# database passwords\n\n" + Record(1, u"alpha") + "  " + Record(3, u"g\u00e4mma \U0001F511") +
          Record(9, u""));
    EXPECT_EQ((std::vector{Get(1), Get(3), Get(9), Get(1, 3)}),
              (std::vector<std::u16string>{u"alpha", u"g\u00e4mma \U0001F511", u"", u"al"}));
    for (LONG user : {0, -1, 10, 0x7FFFFFFF}) EXPECT_EQ(Get(user), u"Invalid User");
}

TEST_F(PLDatabasePasswordTest, RefusesFilesOthersCouldReachAndBadRecords) {
    const std::string good = Record(1, u"alpha");
    const std::u16string path(PLString::FromUtf8(m_path).view()), file = u"The database password file '" + path;
    for (const auto& [mode, text] : {std::pair{0640, u"0640"}, {0620, u"0620"}, {0610, u"0610"}, {0604, u"0604"}}) {
        Write(good, mode);
        EXPECT_EQ(Get(1),
                  file + u"' has mode " + text + u": it must give no access to its group or others.|Encryption Error");
    }
    Write(good, 0400);
    EXPECT_EQ(Get(1), u"alpha");
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(m_path.c_str(), 65534, 65534), 0);
        EXPECT_EQ(Get(1), file + u"' belongs to user 65534: it must belong to its user or to root.|Encryption Error");
        ASSERT_EQ(::chown(m_path.c_str(), 0, 0), 0);
    }
    Write(good + Record(1, u"again"));
    EXPECT_EQ(Get(1), file + u"' is malformed at line 2.|Encryption Error");
    Write(Record(2, u"beta"));
    EXPECT_EQ(Get(1), file + u"' holds no password for user 1.|Encryption Error");
    std::string corrupt = good;
    corrupt[3] = corrupt[3] == 'A' ? 'B' : 'A';
    Write(corrupt);
    EXPECT_EQ(Get(1), u"The stored password of user 1 does not unseal.|Encryption Error");
    ::unlink(m_path.c_str());
    EXPECT_EQ(Get(1), u"Cannot read the database password file '" + path + u"' (error 2).|Encryption Error");
}

}  // namespace
