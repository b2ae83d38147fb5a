// A host's view: the built module loaded with dlopen, nothing else linked.
#include <gtest/gtest.h>

#include <thread>

#include <kdtrace/kdtrace.h>

#include "HostObjects.h"
#include "support/HResult.h"
#include "support/HostModule.h"
#include "support/Process.h"
#include "support/TraceFakes.h"

namespace {

using ModuleHostTest = kdtest::HostModuleTest;

TEST_F(ModuleHostTest, ImplementedModulesUseOnlyTheHostsObjectsAndUnknownModulesAreRefused) {
    auto* factory = new kdhost::ModuleInfoFactory();
    IPLModuleInfoCollection* collection = nullptr;
    ASSERT_HR(api.GetImplementedModules(factory, &collection), S_OK);
    auto* list = static_cast<kdhost::ModuleInfoCollection*>(collection);
    ASSERT_EQ(list->items.size(), 1u);
    EXPECT_EQ(static_cast<kdhost::ModuleInfo*>(list->items[0])->fields[0], u"Pellum.TraceServices");
    // The module kept no reference: releasing ours frees everything (ASan would see a leak).
    collection->Release();
    factory->Release();
    // An unknown module is refused.
    IPLModule* none = nullptr;
    EXPECT_HR(api.GetPLModule(IID_IPLModule, &none), E_FAIL);
    EXPECT_EQ(none, nullptr);
}

// A host that loads the module, uses what it keeps for the process (library cache, fault
// translator, error store, class factories, contexts) on a thread, and unloads it again, many
// times: every cycle must give back what it took.
TEST(ModuleUnloadTest, LoadingAndUnloadingLeavesNothingBehind) {
    // Unloading needs a process in which nothing else holds the module: after another test of
    // this program (which keeps it loaded) the test runs again in a process of its own.
    if (void* held = ::dlopen(KDTRACE_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD)) {
        ::dlclose(held);
        ASSERT_FALSE(kdtest::InFreshProcess()) << "the module is loaded before any test ran";
        EXPECT_EQ(kdtest::RunTestInFreshProcess("ModuleUnloadTest.LoadingAndUnloadingLeavesNothingBehind"), 0);
        return;
    }
    // clang-format off
    constexpr GUID kNothing = {0x72750AA5, 0x3A1A, 0x4BE7, {0xA0, 0x0F, 0xE7, 0x19, 0x6B, 0x2C, 0x04, 0x41}};
    // clang-format on
    const auto cycle = [&] {
        kdhost::ModuleApi api;
        std::string error;
        ASSERT_TRUE(api.Load(KDTRACE_MODULE_PATH, error)) << error;
        std::thread([&] {
            IPLTraceModule* trace = kdtest::NewTraceModule(api.GetPLModule);
            for (IPLTraceContext* context :
                 {kdtest::GlobalContext(trace), kdtest::DefaultContext(trace), kdtest::NamedContext(trace, u"unload")})
                context->Release();
            trace->Release();
            void* out = nullptr;
            EXPECT_HR(api.PLCreateInstance(kNothing, IID_IUnknown, &out), E_FAIL);  // records an error
            api.PLClearThreadErrors();                                              // looks for the error module
        }).join();
        ASSERT_EQ(::dlclose(api.handle), 0);
        ASSERT_EQ(::dlopen(KDTRACE_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
    };
    for (int i = 0; i < 3; ++i) cycle();
    const std::size_t before = kdtest::HeapInUse();
    constexpr int kCycles = 20;
    for (int i = 0; i < kCycles; ++i) cycle();
    // What the module freed is found by the leak checker where there is one: the loader and
    // the system libraries keep some bookkeeping of their own across cycles.
    EXPECT_FALSE(kdtest::LeakCheckerFindsLeaks());
    const long long growth = static_cast<long long>(kdtest::HeapInUse()) - static_cast<long long>(before);
    EXPECT_LT(growth / kCycles, 1024) << growth << " bytes over " << kCycles << " cycles";
}

}  // namespace
