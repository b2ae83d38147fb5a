// The debugging companion through its exported functions: how its module set treats its
// arguments. (That it lists every loaded module by index, at its base, is checked through the
// fault reports in PLSEHExceptionTest, which compare each module line with the loader's list.)
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include <kdtrace/dbghlp.h>

#include "support/HResult.h"

namespace {

TEST(DebugHelperTest, TheModuleSetCutsLongPathsAndRefusesBadArguments) {
    void* library = ::dlopen(KDTRACE_LIB_DIR "/libkddbghlp.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    const auto getModuleSet = reinterpret_cast<PFN_PLDBGHLP_GetModuleSet>(::dlsym(library, "PLDBGHLP_GetModuleSet"));
    ASSERT_NE(getModuleSet, nullptr);
    IPLModuleSet* set = nullptr;
    ASSERT_HR(getModuleSet(&set), S_OK);
    ULONG count = 0;
    ASSERT_HR(set->GetCount(&count), S_OK);
    ASSERT_GT(count, 0u);
    // A short buffer gets the path cut and S_FALSE; bad indexes and pointers are refused.
    WCHAR small[4];
    EXPECT_HR(set->GetModulePath(0, small, 4), S_FALSE);
    EXPECT_EQ(std::char_traits<char16_t>::length(small), 3u);
    EXPECT_HR(set->GetModulePath(count, small, 4), E_INVALIDARG);
    EXPECT_EQ(small[0], 0);
    EXPECT_EQ(set->Release(), 0u);
    ::dlclose(library);
}

}  // namespace
