// The debugging companion through its exported functions.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include <kdtrace/dbghlp.h>

#include "platform/ModuleList.h"
#include "platform/Text.h"
#include "support/HResult.h"

namespace {

TEST(DebugHelperTest, TheModuleSetListsEveryLoadedModuleByIndex) {
    void* library = ::dlopen(KDTRACE_LIB_DIR "/libkddbghlp.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    const auto getModuleSet = reinterpret_cast<PFN_PLDBGHLP_GetModuleSet>(::dlsym(library, "PLDBGHLP_GetModuleSet"));
    ASSERT_NE(getModuleSet, nullptr);
    EXPECT_HR(getModuleSet(nullptr), E_POINTER);
    IPLModuleSet* set = nullptr;
    ASSERT_HR(getModuleSet(&set), S_OK);
    const auto modules = kd::platform::ListLoadedModules();
    ULONG count = 0;
    ASSERT_HR(set->GetCount(&count), S_OK);
    ASSERT_EQ(count, modules.size());
    bool sawCompanion = false;
    for (ULONG i = 0; i < count; ++i) {
        WCHAR path[4096];
        ULONGLONG base = 0;
        ASSERT_HR(set->GetModulePath(i, path, 4096), S_OK);
        ASSERT_HR(set->GetBaseAddress(i, &base), S_OK);
        EXPECT_EQ(kd::platform::Utf16ToUtf8(path), modules[i].path);
        EXPECT_EQ(base, modules[i].base);
        sawCompanion = sawCompanion || modules[i].path.ends_with("/libkddbghlp.so");
    }
    EXPECT_TRUE(sawCompanion);
    // A short buffer gets the path cut and S_FALSE; bad indexes and pointers are refused.
    WCHAR small[4];
    EXPECT_HR(set->GetModulePath(0, small, 4), S_FALSE);
    EXPECT_EQ(std::char_traits<char16_t>::length(small), 3u);
    ULONGLONG base = 0;
    EXPECT_HR(set->GetModulePath(count, small, 4), E_INVALIDARG);
    EXPECT_EQ(small[0], 0);
    EXPECT_HR(set->GetBaseAddress(count, &base), E_INVALIDARG);
    EXPECT_HR(set->GetModulePath(0, nullptr, 4), E_POINTER);
    EXPECT_HR(set->GetModulePath(0, small, 0), E_INVALIDARG);
    EXPECT_EQ(set->Release(), 0u);
    ::dlclose(library);
}

}  // namespace
