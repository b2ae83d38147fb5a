// Errors as a host sees them when an external error module is present: the module's error lists
// are the error module's, and recording and clearing fall back to its own store when that fails.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include <kdtrace/kdtrace.h>

#include "HostObjects.h"
#include "support/DiagReceiver.h"
#include "support/HResult.h"

namespace {

// clang-format off
constexpr GUID CLSID_Nothing = {0x72750AA5, 0x3A1A, 0x4BE7, {0xA0, 0x0F, 0xE7, 0x19, 0x6B, 0x2C, 0x04, 0x40}};
// clang-format on

LONG CountOf(IPLErrorInfo* list) {
    LONG count = -1;
    list->GetCount(&count);
    return count;
}

// With "kderror" beside the module, the module's error lists are the error module's. One that is
// present but fails leaves recording and clearing to the module's own store.
TEST(ErrorModuleHostTest, TheErrorModuleIsUsedWhenPresentAndTheStoreWhenItFails) {
    for (const bool failing : {false, true}) {
        SCOPED_TRACE(failing);
        const kdtest::ScopedEnv fail("KDERROR_TEST_FAIL", failing ? "1" : nullptr);
        // A copy of the module with the error-module double beside it, in a folder of its own (one
        // per round: a copy once loaded stays loaded).
        kdtest::TempDir dir;
        std::filesystem::copy_file(KDTRACE_MODULE_PATH, dir / "libkdtrace.so");
        std::filesystem::copy_file(KDTRACE_TEST_LIB_DIR "/libkderror.so", dir / "libkderror.so");
        kdhost::ModuleApi api;
        std::string error;
        ASSERT_TRUE(api.Load(dir / "libkdtrace.so", error)) << error;
        void* out = nullptr;
        EXPECT_HR(api.PLCreateInstance(CLSID_Nothing, IID_IUnknown, &out), E_FAIL);
        // The error module's list does not hand out items; the store's does. Clearing empties it.
        IPLErrorInfo* list = nullptr;
        ASSERT_HR(api.GetThreadError(&list), S_OK);
        EXPECT_EQ(CountOf(list), 1);
        IPLErrorItem* item = nullptr;
        EXPECT_HR(list->GetItem(0, &item), failing ? S_OK : E_NOTIMPL);
        if (item != nullptr) item->Release();
        EXPECT_HR(api.PLClearThreadErrors(), S_OK);
        EXPECT_EQ(CountOf(list), 0);
        list->Release();
        if (failing) continue;
        void* kderror = ::dlopen((dir / "libkderror.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(kderror, nullptr) << "the module did not load its error module";
        const auto clears = reinterpret_cast<int (*)()>(::dlsym(kderror, "KdErrorTestClears"));
        ASSERT_NE(clears, nullptr);
        EXPECT_EQ(clears(), 1);
        ASSERT_HR(api.PLGetLastError(&list), S_OK);
        list->Release();
        EXPECT_EQ(clears(), 2);  // PLGetLastError cleared the thread in the error module
        ::dlclose(kderror);
    }
}

}  // namespace
