// The trace services as a host sees them: the module loaded with dlopen, only the exported
// functions and the public interfaces.
#include <gtest/gtest.h>

#include <thread>

#include "HostObjects.h"
#include "support/HResult.h"
#include "support/HostModule.h"
#include "support/TraceFakes.h"

namespace {

using TraceHost = kdtest::HostModuleTest;

// First in this process: the threads race for a global context that does not exist yet.
TEST_F(TraceHost, ThreadsShareContextsAndReceiveEveryMessage) {
    constexpr int kThreads = 4, kMessages = 250;
    IPLTraceModule* trace = kdtest::NewTraceModule(api.GetPLModule);
    kdtest::Log log;
    kdtest::Listener listener(&log, "L");
    IPLTraceContext* shared = kdtest::NamedContext(trace, u"host");
    void* cookie = nullptr;
    ASSERT_HR(shared->AddListener(&listener, &cookie), S_OK);

    IPLTraceContext* globals[kThreads] = {};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (++ready; ready < kThreads;) std::this_thread::yield();
            globals[t] = kdtest::GlobalContext(trace);
            IPLTraceContext* named = kdtest::NamedContext(trace, u"host");
            for (int m = 0; m < kMessages; ++m) named->FireMessage(t, m);
            named->Release();
        });
    for (auto& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(globals[t], globals[0]);
    for (IPLTraceContext* global : globals) global->Release();
    // Each thread's messages arrive whole, unchanged and in the order it fired them.
    ASSERT_EQ(log.lines.size(), static_cast<std::size_t>(kThreads * kMessages));
    int next[kThreads] = {};
    for (const std::string& line : log.lines) {
        int t = -1, m = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "L:%d,%d", &t, &m), 2);
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(m, next[t]++);
    }
    shared->RemoveListener(cookie);
    shared->Release();
    trace->Release();
}

// The registered collection of contexts finds by identifier, not by name, and is no event source.
TEST_F(TraceHost, ContextCollectionFindsByIdOnly) {
    const auto withId = [&](ULONG id) {
        auto* context = Create<IPLTraceContextPriv>(CLSID_PLTraceContext, IID_IPLTraceContextPriv);
        context->SetID(id);
        return context;
    };
    auto* list = Create<IPLTraceContextCollection>(CLSID_PLTraceContextCollection, IID_IPLTraceContextCollection);
    ASSERT_NE(list, nullptr);
    void* p = nullptr;
    EXPECT_HR(list->QueryInterface(IID_IPLEventSource, &p), E_NOINTERFACE);
    IPLTraceContext *five = withId(5), *seven = withId(7), *found = nullptr;
    list->Insert(five);
    list->Insert(seven);
    ASSERT_HR(list->FindByID(7, &found), S_OK);
    EXPECT_EQ(found, seven);
    found->Release();
    EXPECT_HR(list->FindByID(9, &found), E_FAIL);
    EXPECT_EQ(found, nullptr);
    EXPECT_HR(list->FindByName(u"", &found), E_FAIL);
    list->Release();
    EXPECT_EQ(five->Release(), 0u);
    EXPECT_EQ(seven->Release(), 0u);
}

}  // namespace
