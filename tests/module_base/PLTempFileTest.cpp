#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "module_base/PLTempFile.h"
#include "support/DiagReceiver.h"
#include "support/HResult.h"

namespace {

using kdtest::ScopedEnv;

std::string MakeName(const WCHAR* extension, const char16_t* part, HRESULT expected = S_OK) {
    PLString name(part);
    EXPECT_HR(PLMakeFileNameCommon(extension, name), expected);
    return name.ToUtf8();
}

// Empty variables count as unset; names too long or leaving the directory are refused unchanged.
TEST(PLTempFile, NamesFallFromPellumTempToTmpDirToTmpAndBadNamesAreRefused) {
    // PELLUMTEMP, TMPDIR, the name made.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/data/pl", "/t", "/data/pl/PL_TEMPFILE_abc.pdf"},
        {"", "/t", "/t/PL_TEMPFILE_abc.pdf"},
        {"", "", "/tmp/PL_TEMPFILE_abc.pdf"}};
    for (const auto& [pellumTemp, tmpDir, expected] : cases) {
        const ScopedEnv pellum("PELLUMTEMP", pellumTemp), tmp("TMPDIR", tmpDir);
        EXPECT_EQ(MakeName(u"pdf", u"abc"), expected);
    }
    const ScopedEnv pellum("PELLUMTEMP", "/p"), tmp("TMPDIR", nullptr);
    EXPECT_EQ(MakeName(nullptr, u"x\u00e9"), "/p/PL_TEMPFILE_x\xc3\xa9.TMP");
    EXPECT_EQ(MakeName(u"pdf", u"../etc/x", E_INVALIDARG), "../etc/x");
    EXPECT_EQ(MakeName(u"/x", u"abc", E_INVALIDARG), "abc");
    const ScopedEnv longDir("PELLUMTEMP", "/" + std::string(5000, 'd'));
    EXPECT_EQ(MakeName(u"pdf", u"abc", E_INVALIDARG), "abc");
}

TEST(PLTempFile, GetTempFileGivesNewNamesInTheDirectory) {
    const kdtest::TempDir dir;
    const ScopedEnv pellum("PELLUMTEMP", dir.path());
    PLString first, second;
    for (PLString* name : {&first, &second}) ASSERT_HR(PLGetTempFile(u"pdf", *name), S_OK);
    EXPECT_NE(first.view(), second.view());
    const std::string path = first.ToUtf8(), prefix = dir / "PL_TEMPFILE_{";
    EXPECT_EQ(path.substr(0, prefix.size()) + path.substr(prefix.size() + 36), prefix + "}.pdf");
}

}  // namespace
