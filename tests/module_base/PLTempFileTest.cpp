#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "module_base/PLTempFile.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

namespace {

// Sets (or, with nullopt, unsets) an environment variable for its scope.
struct ScopedEnv {
    const char* name;
    std::optional<std::string> old;
    ScopedEnv(const char* n, const std::optional<std::string>& value) : name(n) {
        if (const char* v = getenv(n)) old = v;
        value ? setenv(n, value->c_str(), 1) : unsetenv(n);
    }
    ~ScopedEnv() { old ? setenv(name, old->c_str(), 1) : unsetenv(name); }
};

std::string MakeName(const WCHAR* extension, const char16_t* part, HRESULT expected = S_OK) {
    PLString name(part);
    EXPECT_HR(PLMakeFileNameCommon(extension, name), expected);
    return name.ToUtf8();
}

TEST(PLTempFile, NamesFallFromPellumTempToTmpDirToTmpWithEmptyMeaningUnset) {
    const struct {
        std::optional<std::string> pellumTemp, tmpDir;
        const char* expected;
    } cases[] = {
        {"/data/pl", "/t", "/data/pl/PL_TEMPFILE_abc.pdf"},
        {"", "/t", "/t/PL_TEMPFILE_abc.pdf"},
        {"", "", "/tmp/PL_TEMPFILE_abc.pdf"},
        {std::nullopt, std::nullopt, "/tmp/PL_TEMPFILE_abc.pdf"},
    };
    for (const auto& c : cases) {
        const ScopedEnv pellum("PELLUMTEMP", c.pellumTemp), tmp("TMPDIR", c.tmpDir);
        EXPECT_EQ(MakeName(u"pdf", u"abc"), c.expected);
    }
    const ScopedEnv pellum("PELLUMTEMP", "/p"), tmp("TMPDIR", std::nullopt);
    EXPECT_EQ(MakeName(nullptr, u"x\u00e9"), "/p/PL_TEMPFILE_x\xc3\xa9.TMP");
}

TEST(PLTempFile, RefusesNamesTooLongOrLeavingTheDirectoryWithoutChangingThem) {
    const ScopedEnv pellum("PELLUMTEMP", "/" + std::string(5000, 'd'));
    kdtest::TakeThreadErrors();
    EXPECT_EQ(MakeName(u"pdf", u"abc", E_INVALIDARG), "abc");
    EXPECT_EQ(kdtest::LinesOf(kdtest::TakeThreadErrors()),
              kdtest::ErrorLines{u"Core Services|Utility Functions|PLMakeFileNameCommon|Temporary file name too long"});
    const ScopedEnv shortDir("PELLUMTEMP", "/p");
    EXPECT_EQ(MakeName(u"pdf", u"../etc/x", E_INVALIDARG), "../etc/x");
    EXPECT_EQ(MakeName(u"/x", u"abc", E_INVALIDARG), "abc");
}

TEST(PLTempFile, GetTempFileGivesNewNamesThatMakeFilesInTheDirectory) {
    char dir[] = "/tmp/pltempXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const ScopedEnv pellum("PELLUMTEMP", std::string(dir));
    PLString first, second;
    ASSERT_HR(PLGetTempFile(u"pdf", first), S_OK);
    ASSERT_HR(PLGetTempFile(u"pdf", second), S_OK);
    EXPECT_NE(first.view(), second.view());
    const std::string path = first.ToUtf8(), prefix = std::string(dir) + "/PL_TEMPFILE_{";
    EXPECT_EQ(path.substr(0, prefix.size()) + path.substr(prefix.size() + 36), prefix + "}.pdf");
    const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    EXPECT_GE(fd, 0);
    close(fd);
    unlink(path.c_str());
    rmdir(dir);
}

}  // namespace
