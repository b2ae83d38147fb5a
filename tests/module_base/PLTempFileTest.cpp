#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "module_base/PLTempFile.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

namespace {

// Sets (or, with nullopt, unsets) an environment variable for its scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : m_name(name) {
        if (const char* old = getenv(name)) m_old = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
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
        {"/data/pl/", std::nullopt, "/data/pl/PL_TEMPFILE_abc.pdf"},
        {"", "/t", "/t/PL_TEMPFILE_abc.pdf"},
        {std::nullopt, "/t/", "/t/PL_TEMPFILE_abc.pdf"},
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
    const ScopedEnv pellum("PELLUMTEMP", "/" + std::string(5000, 'd')), tmp("TMPDIR", std::nullopt);
    kdtest::TakeThreadErrors();
    EXPECT_EQ(MakeName(u"pdf", u"abc", E_INVALIDARG), "abc");
    auto errors = kdtest::TakeThreadErrors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].message, u"Temporary file name too long");
    EXPECT_EQ(errors[0].method, u"PLMakeFileNameCommon");

    const ScopedEnv shortDir("PELLUMTEMP", "/p");
    EXPECT_EQ(MakeName(u"pdf", u"../etc/x", E_INVALIDARG), "../etc/x");
    EXPECT_EQ(MakeName(u"/x", u"abc", E_INVALIDARG), "abc");
    PLString name;
    EXPECT_HR(PLGetTempFile(u"../x", name), E_INVALIDARG);
}

TEST(PLTempFile, GetTempFileGivesNewUsableNamesInTheDirectory) {
    char dir[] = "/tmp/pltempXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const ScopedEnv pellum("PELLUMTEMP", std::string(dir));
    PLString first, second;
    ASSERT_HR(PLGetTempFile(u"pdf", first), S_OK);
    ASSERT_HR(PLGetTempFile(u"pdf", second), S_OK);
    EXPECT_NE(first.view(), second.view());
    const std::string path = first.ToUtf8();
    const std::string prefix = std::string(dir) + "/PL_TEMPFILE_{";
    ASSERT_EQ(path.size(), prefix.size() + 36 + 5);
    EXPECT_EQ(path.substr(0, prefix.size()), prefix);
    EXPECT_EQ(path.substr(prefix.size() + 36), "}.pdf");
    for (char c : path.substr(prefix.size(), 36)) EXPECT_TRUE(isxdigit(c) || c == '-') << c;
    const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    std::remove(path.c_str());
    rmdir(dir);
}

}  // namespace
