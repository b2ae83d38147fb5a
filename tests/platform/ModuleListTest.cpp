#include "platform/ModuleList.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

TEST(ModuleListTest, ListsTheProgramFirstAndEveryLibraryAtItsBase) {
    const auto modules = kd::platform::ListLoadedModules();
    ASSERT_GE(modules.size(), 3u);
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    EXPECT_EQ(modules.front().path, std::string(exe, static_cast<std::size_t>(n)));
    // The C library is listed at the base the loader reports for it.
    Dl_info info{};
    ASSERT_NE(::dladdr(reinterpret_cast<void*>(&std::fopen), &info), 0);
    bool found = false;
    for (const auto& module : modules) {
        EXPECT_FALSE(module.path.empty());
        if (module.path == info.dli_fname) {
            found = true;
            EXPECT_EQ(module.base, reinterpret_cast<std::uint64_t>(info.dli_fbase));
        }
    }
    EXPECT_TRUE(found) << info.dli_fname;
}

}  // namespace
