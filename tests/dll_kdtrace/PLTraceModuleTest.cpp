#include <gtest/gtest.h>

#include <thread>

#include <kdtrace/kdtrace.h>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "support/DiagReceiver.h"
#include "support/HResult.h"
#include "support/Process.h"
#include "support/TraceFakes.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

using kdtest::DefaultContext, kdtest::GlobalContext, kdtest::IdOf, kdtest::NamedContext;

// Wraps the trace-context creator to count creations and to fail them on demand.
PLCreatorFunction g_realCreator = nullptr;
std::atomic<int> g_created{0};
std::atomic<HRESULT> g_failWith{S_OK};

HRESULT CountingCreator(REFIID iid, void* argument, void** object) {
    if (g_failWith != S_OK) return g_failWith;
    ++g_created;
    return g_realCreator(iid, argument, object);
}

void UseCreator(PLCreatorFunction creator) {
    PLGetClassFactoryMap()->UnregisterClassFactory(CLSID_PLTraceContext);
    PLGetClassFactoryMap()->RegisterClassFactory(CLSID_PLTraceContext, creator);
}

// The trace context's creator replaced by the counting one for the test's length.
class TraceModuleCreation : public ::testing::Test {
protected:
    void SetUp() override {
        g_realCreator = PLGetClassFactoryMap()->FindClassFactory(CLSID_PLTraceContext);
        UseCreator(&CountingCreator);
        g_created = 0;
    }
    void TearDown() override {
        g_failWith = S_OK;
        trace->Release();
        UseCreator(g_realCreator);
    }
    IPLTraceModule* trace = kdtest::NewTraceModule(&GetPLModule);
};

// The severity level is process-wide. A failed creation is reported and stores nothing: the next
// request creates the context.
TEST_F(TraceModuleCreation, SeverityLevelIsProcessWideAndAFailedCreationStoresNothing) {
    IPLTraceModule* second = kdtest::NewTraceModule(&GetPLModule);
    EXPECT_HR(trace->SetSeverityLevel(-5), S_OK);
    EXPECT_EQ(kdtest::LongOf(second, &IPLTraceModule::GetSeverityLevel), -5);
    second->SetSeverityLevel(0);
    second->Release();
    IPLTraceContext* mine = nullptr;
    for (const HRESULT hr :
         {trace->GetSeverityLevel(nullptr), trace->GetGlobalContext(nullptr), trace->GetDefaultContext(nullptr),
          trace->GetNamedContext(u"x", nullptr), trace->GetNamedContext(nullptr, &mine)})
        EXPECT_HR(hr, E_POINTER);

    g_failWith = E_OUTOFMEMORY;
    EXPECT_HR(trace->GetNamedContext(u"Printing", &mine), E_OUTOFMEMORY);
    EXPECT_HR(trace->GetDefaultContext(&mine), E_OUTOFMEMORY);
    g_failWith = S_OK;
    ASSERT_HR(trace->GetNamedContext(u"Printing", &mine), S_OK);
    EXPECT_EQ(g_created, 1);
    mine->Release();
}

TEST_F(TraceModuleCreation, ContextsPerThreadPerNameAndPerModuleObject) {
    // Threads asking at once get one context by name, one global context (which does not exist
    // yet), and each its own default context, which carries its thread's identifier.
    constexpr int kThreads = 4;
    IPLTraceContext *named[kThreads] = {}, *own[kThreads] = {}, *globals[kThreads] = {};
    ULONG tids[kThreads] = {};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (++ready; ready < kThreads;) std::this_thread::yield();
            globals[t] = GlobalContext(trace);
            named[t] = NamedContext(trace, u"Printing");
            own[t] = DefaultContext(trace);
            tids[t] = kdtest::Gettid();
        });
    for (auto& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(named[t], named[0]);
        EXPECT_EQ(globals[t], globals[0]);
        EXPECT_EQ(IdOf(own[t]), tids[t]);
        for (int u = 0; u < t; ++u) EXPECT_NE(own[u], own[t]);
    }
    IPLTraceContext *mine = DefaultContext(trace), *again = DefaultContext(trace);
    EXPECT_EQ(mine, again);

    // Names are case-sensitive.
    IPLTraceContext* upper = NamedContext(trace, u"PRINTING");
    EXPECT_NE(named[0], upper);
    // One each: the global, "Printing", the threads' and this thread's default, "PRINTING".
    EXPECT_EQ(g_created, kThreads + 4);

    // A later module object (which may even reuse the first one's memory) shares only the
    // global context; the first one's contexts live on with their callers' references.
    trace->Release();
    trace = kdtest::NewTraceModule(&GetPLModule);
    IPLTraceContext *global2 = GlobalContext(trace), *mine2 = DefaultContext(trace);
    IPLTraceContext* named2 = NamedContext(trace, u"Printing");
    EXPECT_EQ(std::pair(global2, IdOf(global2)), std::pair(globals[0], ULONG{0}));
    EXPECT_NE(mine2, mine);
    EXPECT_NE(named2, named[0]);
    EXPECT_EQ(IdOf(own[0]), tids[0]);
    for (IPLTraceContext* c : {mine, again, upper, global2, mine2, named2}) c->Release();
    for (int t = 0; t < kThreads; ++t) named[t]->Release(), own[t]->Release(), globals[t]->Release();
}

// ---- thread and process life ----

TEST(TraceModuleLife, AForkedChildActsAsItsOwnThread) {
    IPLTraceModule* trace = kdtest::NewTraceModule(&GetPLModule);
    IPLTraceContext* parent = DefaultContext(trace);
    kdtest::TempDir dir;
    kdtest::ScopedEnv socket("KDTRACE_DIAG_SOCKET", dir / "diagInfo");
    kdtest::DiagReceiver receiver(dir / "diagInfo");
    ASSERT_TRUE(receiver.ok());
    // Each wrong answer in the child sets a bit: 1 default context, 2 error item, 4 record.
    const int wrong = kdtest::InChild([&] {
        const DWORD self = kdtest::Gettid();
        int bits = 0;
        IPLTraceContext* own = nullptr;
        ULONG id = 0;
        if (trace->GetDefaultContext(&own) != S_OK || own == parent || own->GetID(&id) != S_OK || id != self) bits |= 1;
        PLGuardNamed("Core", "Child", "Fail", [](HRESULT& hr) { PL_THROW_ERROR(hr = E_FAIL, "in the child", 1); });
        const auto errors = kdtest::TakeThreadErrors();
        if (errors.size() != 1 || errors[0].threadId != self) bits |= 2;
        const auto datagram = receiver.Receive(2000);
        if (!datagram ||
            kdtest::ColumnValue(kdtest::DatagramText(*datagram), u"ThreadID") != kdtest::Wide(kdtest::Hex8(self)))
            bits |= 4;
        return bits;
    });
    EXPECT_EQ(wrong, 0);
    for (IUnknown* object : std::initializer_list<IUnknown*>{parent, trace}) object->Release();
}

TEST(TraceModuleLife, EndedThreadsLeaveNoDefaultContextBehind) {
    IPLTraceModule* trace = kdtest::NewTraceModule(&GetPLModule);
    const auto churn = [trace](int threads) {
        for (int i = 0; i < threads; ++i) std::thread([trace] { DefaultContext(trace)->Release(); }).join();
    };
    churn(100);
    const std::size_t before = kdtest::HeapInUse();
    churn(2000);  // kept contexts would take about 400 KB
    EXPECT_LT(static_cast<long long>(kdtest::HeapInUse()) - static_cast<long long>(before), 32 * 1024);

    // A reference held past its thread's end stays usable, listeners and all.
    std::atomic<int> calls{0};
    auto* listener = new kdtest::HeapListener(&calls);
    IPLTraceContext* kept = nullptr;
    void* cookie = nullptr;
    DWORD tid = 0;
    std::thread([&] {
        tid = kdtest::Gettid();
        kept = DefaultContext(trace);
        kept->AddListener(listener, &cookie);
    }).join();
    EXPECT_EQ(IdOf(kept), tid);
    EXPECT_HR(kept->FireMessage(1, 2), S_OK);
    EXPECT_EQ(calls, 1);
    EXPECT_HR(kept->RemoveListener(cookie), S_OK);
    EXPECT_EQ(kept->Release(), 0u);
    listener->Release();
    trace->Release();
}

// The system hands an ended thread's identifier to a later thread: in a namespace of its own
// the test chooses the later thread's identifier.
TEST(TraceModuleLife, AThreadGivenAnEndedThreadsIdentifierGetsAFreshContext) {
    const int result = kdtest::InOwnPidNamespace([] {
        IPLTraceModule* trace = kdtest::NewTraceModule(&GetPLModule);
        std::atomic<int> calls{0};
        auto* listener = new kdtest::HeapListener(&calls);
        DWORD first = 0;
        std::thread([&] {
            first = kdtest::Gettid();
            IPLTraceContext* context = DefaultContext(trace);
            void* cookie = nullptr;
            context->AddListener(listener, &cookie);
            context->Release();
        }).join();
        const int wrong = kdtest::OnThreadWithId(first, [&] {
            IPLTraceContext* context = DefaultContext(trace);
            ULONG id = 0;
            context->FireMessage(1, 2);
            const bool fresh = calls == 0 && context->GetID(&id) == S_OK && id == first;
            context->Release();
            return fresh ? 0 : 1;
        });
        listener->Release();
        trace->Release();
        return wrong;
    });
    if (result == kdtest::kUnsupported) GTEST_SKIP() << "no process-identifier namespace for this user";
    EXPECT_EQ(result, 0);
}

}  // namespace
