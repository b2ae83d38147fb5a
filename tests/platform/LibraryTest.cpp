#include "platform/Library.h"

#include <gtest/gtest.h>

namespace {

using namespace kd::platform;

// (Opening libraries from a path or the loader's path and finding their exports are exercised
// through the library cache in PLVersionTest and PLResourceStringTest, and by every host test.)
TEST(LibraryTest, NameRule) {
    EXPECT_EQ(LibraryFileName("kderror"), "libkderror.so");
    EXPECT_EQ(LibraryFileName("kddbghlp.dll"), "libkddbghlp.so");
    EXPECT_EQ(LibraryFileName("KDLOCALE.DLL"), "libKDLOCALE.so");
    EXPECT_EQ(LibraryFileName("libkdlocale"), "libkdlocale.so");
    EXPECT_EQ(LibraryFileName("libm.so.6"), "libm.so.6");
    EXPECT_EQ(LibraryFileName("/opt/x/hook"), "/opt/x/libhook.so");
}

}  // namespace
