// The debugging companion through its exported functions.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <kdtrace/dbghlp.h>

#include "platform/module_list.h"
#include "platform/text.h"

namespace {

class DebugHelperTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char dir[] = "/tmp/kd-dbghlp-test-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        s_dumpDir = dir;
        // Read by the companion when it loads.
        ::setenv("KDTRACE_DUMP_DIR", dir, 1);
        s_library = ::dlopen(KDTRACE_LIB_DIR "/libkddbghlp.so", RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(s_library, nullptr) << ::dlerror();
        ::unsetenv("KDTRACE_DUMP_DIR");
    }
    static void TearDownTestSuite() {
        if (s_library != nullptr) ::dlclose(s_library);
        std::filesystem::remove_all(s_dumpDir);
    }
    template <class F>
    static F Export(const char* name) {
        return reinterpret_cast<F>(::dlsym(s_library, name));
    }

    static inline void* s_library = nullptr;
    static inline std::string s_dumpDir;
};

TEST_F(DebugHelperTest, TheModuleSetListsEveryLoadedModuleByIndex) {
    const auto getModuleSet = Export<PFN_PLDBGHLP_GetModuleSet>("PLDBGHLP_GetModuleSet");
    ASSERT_NE(getModuleSet, nullptr);
    EXPECT_EQ(getModuleSet(nullptr), E_POINTER);
    IPLModuleSet* set = nullptr;
    ASSERT_EQ(getModuleSet(&set), S_OK);
    const auto modules = kd::platform::ListLoadedModules();
    ULONG count = 0;
    ASSERT_EQ(set->GetCount(&count), S_OK);
    ASSERT_EQ(count, modules.size());
    bool sawCompanion = false;
    for (ULONG i = 0; i < count; ++i) {
        WCHAR path[4096];
        ULONGLONG base = 0;
        ASSERT_EQ(set->GetModulePath(i, path, 4096), S_OK);
        ASSERT_EQ(set->GetBaseAddress(i, &base), S_OK);
        EXPECT_EQ(kd::platform::Utf16ToUtf8(path), modules[i].path);
        EXPECT_EQ(base, modules[i].base);
        if (kd::platform::Utf16ToUtf8(path).ends_with("/libkddbghlp.so")) sawCompanion = true;
    }
    EXPECT_TRUE(sawCompanion);
    // A short buffer gets the path cut and S_FALSE; bad indexes and pointers are refused.
    WCHAR small[4];
    EXPECT_EQ(set->GetModulePath(0, small, 4), S_FALSE);
    EXPECT_EQ(std::char_traits<char16_t>::length(small), 3u);
    ULONGLONG base = 0;
    EXPECT_EQ(set->GetModulePath(count, small, 4), E_INVALIDARG);
    EXPECT_EQ(small[0], 0);
    EXPECT_EQ(set->GetBaseAddress(count, &base), E_INVALIDARG);
    EXPECT_EQ(set->GetModulePath(0, nullptr, 4), E_POINTER);
    EXPECT_EQ(set->GetModulePath(0, small, 0), E_INVALIDARG);
    IPLModuleSet* again = nullptr;
    EXPECT_EQ(set->QueryInterface(IID_IPLModuleSet, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(again->Release(), 1u);
    EXPECT_EQ(set->QueryInterface(IID_IPLModuleSet, nullptr), E_POINTER);
    EXPECT_EQ(set->Release(), 0u);
}

TEST_F(DebugHelperTest, TheCrashReportGoesToTheDirectoryNamedWhenTheLibraryLoaded) {
    const auto dump = Export<PFN_PLDBGHLP_CreateMiniDump>("PLDBGHLP_CreateMiniDump");
    ASSERT_NE(dump, nullptr);
    EXPECT_EQ(dump(nullptr), E_POINTER);
    PLExceptionRecord record;
    record.ExceptionCode = 0xC0000094u;
    record.ExceptionAddress = 0x401234;
    PLThreadContext context;
    context.Rip = 0x401234;
    std::uint64_t stack[4] = {0xCAFE};
    context.Rsp = reinterpret_cast<std::uint64_t>(stack);
    PLExceptionPointers pointers{&record, &context, SIGFPE, FPE_INTDIV, nullptr, nullptr};
    ASSERT_EQ(dump(&pointers), S_OK);
    std::string report;
    for (const auto& entry : std::filesystem::directory_iterator(s_dumpDir)) {
        std::ifstream in(entry.path());
        std::ostringstream text;
        text << in.rdbuf();
        report = text.str();
    }
    EXPECT_NE(report.find("signal 8 (SIGFPE) code 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("exception code 0xC0000094\n"), std::string::npos);
    EXPECT_NE(report.find("fault address 0x0000000000401234\n"), std::string::npos);
    EXPECT_NE(report.find("0x000000000000CAFE\n"), std::string::npos);
    pointers.ContextRecord = nullptr;
    EXPECT_EQ(dump(&pointers), E_POINTER);
}

}  // namespace
