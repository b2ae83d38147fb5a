// Errors as a host sees them: recorded by failing calls, read back through
// IPLSupportRichErrorInfo, per thread, and kept by an external error module when one is present.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include <kdtrace/kdtrace.h>

#include "HostObjects.h"
#include "support/DiagReceiver.h"
#include "support/ErrorList.h"
#include "support/HResult.h"
#include "support/HostModule.h"
#include "support/Process.h"

namespace {

// clang-format off
constexpr GUID CLSID_Nothing = {0x72750AA5, 0x3A1A, 0x4BE7, {0xA0, 0x0F, 0xE7, 0x19, 0x6B, 0x2C, 0x04, 0x40}};
// clang-format on

using ErrorsHostTest = kdtest::HostModuleTest;

TEST_F(ErrorsHostTest, EachThreadReadsBackItsOwnErrors) {
    auto* object = Create<IPLErrorInfo>(CLSID_PLErrorInfo, IID_IPLErrorInfo);
    ASSERT_NE(object, nullptr);
    IPLSupportRichErrorInfo* rich = nullptr;
    ASSERT_HR(object->QueryInterface(IID_IPLSupportRichErrorInfo, reinterpret_cast<void**>(&rich)), S_OK);

    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const DWORD self = kdtest::Gettid();
            for (int round = 0; round < 50; ++round) {
                void* out = nullptr;
                // Each failing call starts a new chain of one error on this thread.
                if (api.PLCreateInstance(CLSID_Nothing, IID_IUnknown, &out) != E_FAIL) ++failures;
                if (t % 2 == 1) api.PLCreateInstance(CLSID_Nothing, IID_IUnknown, &out);
                IPLErrorInfo* errors = nullptr;
                if (rich->GetErrorInfo(&errors) != S_OK) {
                    ++failures;
                    continue;
                }
                const auto items = kdtest::ReadList(errors);
                errors->Release();
                if (items.size() != 1 || items[0].threadId != self || items[0].result != E_FAIL ||
                    items[0].message != u"Could not find class factory." || items[0].method != u"PLCreateInstance")
                    ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, 0);
    rich->Release();
    object->Release();
}

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
    counters(c);
    EXPECT_GE(c[0], 1);  // GetThreadError
    EXPECT_EQ(c[2], 1);  // one AddError
    EXPECT_GE(c[3], 1);  // the suspension state was asked

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
