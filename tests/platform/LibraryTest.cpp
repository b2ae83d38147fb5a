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
    EXPECT_EQ(LibraryFileName("/opt/x/libhook.so"), "/opt/x/libhook.so");
}

TEST(LibraryTest, LoadsFromTheLoaderPathAndReportsFailures) {
    std::string error;
    LibraryHandle m = OpenLibrary("libm.so.6", &error);
    ASSERT_NE(m, nullptr) << error;
    EXPECT_NE(FindExport(m, "cos"), nullptr);
    EXPECT_EQ(FindExport(m, "no_such_symbol_here"), nullptr);
    EXPECT_NE(LibraryPath(m).find("libm.so.6"), std::string::npos);
    CloseLibrary(m);

    EXPECT_EQ(OpenLibrary("kdtrace_no_such_library", &error), nullptr);
    EXPECT_NE(error.find("libkdtrace_no_such_library.so"), std::string::npos);
    EXPECT_EQ(OpenLibrary("", &error), nullptr);
    EXPECT_EQ(FindExport(nullptr, "cos"), nullptr);
}

TEST(LibraryTest, KnowsWhereItsOwnCodeLives) {
    const std::string path = ModulePathOf(reinterpret_cast<const void*>(&OwnModuleDirectory));
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(path.substr(0, path.rfind('/')), OwnModuleDirectory());
}

}  // namespace
