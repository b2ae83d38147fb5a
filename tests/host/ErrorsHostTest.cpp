// Errors as a host sees them when an external error module is present: the module's error lists
// are the error module's, and recording and clearing fall back to its own store when that fails.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include <kdtrace/kdtrace.h>

#include "HostObjects.h"
#include "support/DiagReceiver.h"
#include "support/HResult.h"

namespace {

// clang-format off
constexpr GUID CLSID_Nothing = {0x72750AA5, 0x3A1A, 0x4BE7, {0xA0, 0x0F, 0xE7, 0x19, 0x6B, 0x2C, 0x04, 0x40}};
// clang-format on

// A copy of the module with the error-module double beside it, in a folder of its own.
struct ModuleWithErrorModule {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("kdtrace-kderror-" + std::to_string(::getpid()));
    kdhost::ModuleApi api;
    ModuleWithErrorModule() {
        namespace fs = std::filesystem;
        fs::create_directories(dir);
        fs::copy_file(KDTRACE_MODULE_PATH, dir / "libkdtrace.so", fs::copy_options::overwrite_existing);
        fs::copy_file(fs::path(KDTRACE_TEST_LIB_DIR) / "libkderror.so", dir / "libkderror.so",
                      fs::copy_options::overwrite_existing);
        std::string error;
        EXPECT_TRUE(api.Load((dir / "libkdtrace.so").string(), error)) << error;
    }
    ~ModuleWithErrorModule() { std::filesystem::remove_all(dir); }
    LONG CountOf(IPLErrorInfo* list) {
        LONG count = -1;
        list->GetCount(&count);
        return count;
    }
};

// With "kderror" beside the module, the module's error lists are the error module's.
TEST(ErrorModuleHostTest, TheErrorModuleIsUsedWhenPresent) {
    ModuleWithErrorModule m;
    void* out = nullptr;
    EXPECT_HR(m.api.PLCreateInstance(CLSID_Nothing, IID_IUnknown, &out), E_FAIL);

    void* kderror = ::dlopen((m.dir / "libkderror.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(kderror, nullptr) << "the module did not load its error module";
    auto counters = reinterpret_cast<void (*)(int*)>(::dlsym(kderror, "KdErrorTestCounters"));
    ASSERT_NE(counters, nullptr);
    int c[5] = {};
    // The list is the error module's own (it does not hand out items); clearing empties it.
    IPLErrorInfo* list = nullptr;
    ASSERT_HR(m.api.GetThreadError(&list), S_OK);
    EXPECT_EQ(m.CountOf(list), 1);
    IPLErrorItem* item = nullptr;
    EXPECT_HR(list->GetItem(0, &item), E_NOTIMPL);
    EXPECT_HR(m.api.PLClearThreadErrors(), S_OK);
    EXPECT_EQ(m.CountOf(list), 0);
    list->Release();
    counters(c);
    EXPECT_EQ(c[1], 1);
    ASSERT_HR(m.api.PLGetLastError(&list), S_OK);
    list->Release();
    counters(c);
    EXPECT_EQ(c[1], 2);  // PLGetLastError cleared the thread in the error module
    ::dlclose(kderror);
}

// An error module that is present but fails: recording and clearing both fall back to the
// module's own store.
TEST(ErrorModuleHostTest, AFailingErrorModuleLeavesRecordingAndClearingToTheStore) {
    kdtest::ScopedEnv failing("KDERROR_TEST_FAIL", "1");
    ModuleWithErrorModule m;
    void* out = nullptr;
    EXPECT_HR(m.api.PLCreateInstance(CLSID_Nothing, IID_IUnknown, &out), E_FAIL);
    IPLErrorInfo* list = nullptr;
    ASSERT_HR(m.api.GetThreadError(&list), S_OK);
    EXPECT_EQ(m.CountOf(list), 1);
    EXPECT_HR(m.api.PLClearThreadErrors(), S_OK);
    EXPECT_EQ(m.CountOf(list), 0);
    list->Release();
}

}  // namespace
