#include "platform/Library.h"

#include <gtest/gtest.h>

namespace {

using namespace kd::platform;

TEST(LibraryTest, NameRule) {
    EXPECT_EQ(LibraryFileName("kderror"), "libkderror.so");
    EXPECT_EQ(LibraryFileName("kddbghlp.dll"), "libkddbghlp.so");
    EXPECT_EQ(LibraryFileName("KDLOCALE.DLL"), "libKDLOCALE.so");
    EXPECT_EQ(LibraryFileName("libkdlocale"), "libkdlocale.so");
    EXPECT_EQ(LibraryFileName("libm.so.6"), "libm.so.6");
    EXPECT_EQ(LibraryFileName("/opt/x/hook"), "/opt/x/libhook.so");
}

// (Loading by path, LibraryPath and a missing export are checked through the library cache in
// PLVersionTest and PLResourceStringTest; finding a companion beside the module through
// ErrorsHostTest.)
TEST(LibraryTest, LoadsFromTheLoaderPathAndReportsFailures) {
    std::string error;
    LibraryHandle m = OpenLibrary("libm.so.6", &error);
    ASSERT_NE(m, nullptr) << error;
    EXPECT_NE(FindExport(m, "cos"), nullptr);
    CloseLibrary(m);

    EXPECT_EQ(OpenLibrary("kdtrace_no_such_library", &error), nullptr);
    EXPECT_NE(error.find("libkdtrace_no_such_library.so"), std::string::npos);
    EXPECT_EQ(OpenLibrary("", &error), nullptr);
}

}  // namespace
