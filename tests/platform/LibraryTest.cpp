#include "platform/Library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

using namespace kd::platform;

// (Opening libraries from a path or the loader's path and finding their exports are exercised
// through the library cache in PLVersionTest and PLResourceStringTest, and by every host test.)
TEST(LibraryTest, NameRuleAndNothingForNoLibraryNoSymbolOrUnknownAddresses) {
    EXPECT_EQ(LibraryFileName("kderror"), "libkderror.so");
    EXPECT_EQ(LibraryFileName("kddbghlp.dll"), "libkddbghlp.so");
    EXPECT_EQ(LibraryFileName("KDLOCALE.DLL"), "libKDLOCALE.so");
    EXPECT_EQ(LibraryFileName("libkdlocale"), "libkdlocale.so");
    EXPECT_EQ(LibraryFileName("libm.so.6"), "libm.so.6");
    EXPECT_EQ(LibraryFileName("/opt/x/hook"), "/opt/x/libhook.so");
    // No library, no symbol and unknown addresses give nothing.
    static int local = 0;
    EXPECT_EQ(FindExport(nullptr, "malloc"), nullptr);
    EXPECT_EQ(FindExport(RTLD_DEFAULT, nullptr), nullptr);
    EXPECT_EQ(LibraryPath(nullptr), "");
    EXPECT_EQ(ModulePathOf(nullptr), "");
    EXPECT_EQ(ModulePathOf(&local).rfind('/', 0), 0u);  // the program's own path, whole
    CloseLibrary(nullptr);
}

}  // namespace
