#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include <kdtrace/kdtrace.h>

#include "module_base/PLClassFactoryMap.h"
#include "support/TraceFakes.h"

namespace {

using kdtest::IdOf;

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

ULONG ThreadId() {
    return static_cast<ULONG>(::syscall(SYS_gettid));
}

TEST(TraceModule, SeverityLevelIsProcessWide) {
    IPLTraceModule *trace = kdtest::NewTraceModule(&GetPLModule), *second = kdtest::NewTraceModule(&GetPLModule);
    LONG level = 99;
    EXPECT_EQ(trace->GetSeverityLevel(&level), S_OK);
    EXPECT_EQ(level, 0);  // before any SetSeverityLevel in this process
    EXPECT_EQ(trace->SetSeverityLevel(-5), S_OK);
    second->GetSeverityLevel(&level);
    EXPECT_EQ(level, -5);  // process-wide
    second->SetSeverityLevel(0);
    second->Release();

    void* p = nullptr;
    EXPECT_EQ(trace->QueryInterface(IID_IPLFactoryLoader, &p), E_NOINTERFACE);
    trace->Release();
}

TEST(TraceModule, ContextsPerThreadPerNameAndPerModuleObject) {
    g_realCreator = PLGetClassFactoryMap()->FindClassFactory(CLSID_PLTraceContext);
    UseCreator(&CountingCreator);
    IPLTraceModule* trace = kdtest::NewTraceModule(&GetPLModule);
    // A failed creation is reported and stores nothing: the next request creates the context.
    g_failWith = E_OUTOFMEMORY;
    IPLTraceContext *mine = nullptr, *again = nullptr;
    EXPECT_EQ(trace->GetNamedContext(u"Printing", &mine), E_OUTOFMEMORY);
    EXPECT_EQ(kdtest::ThreadErrors(&GetThreadError).back(),
              u"Trace Services|CPLTraceModule|GetNamedContext|Failed to create trace context");
    EXPECT_EQ(trace->GetDefaultContext(&mine), E_OUTOFMEMORY);
    g_failWith = S_OK;

    // Threads asking at once get one context by name, and each its own default context, which
    // carries its thread's identifier.
    constexpr int kThreads = 4;
    IPLTraceContext *named[kThreads] = {}, *own[kThreads] = {};
    ULONG tids[kThreads] = {};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (++ready; ready < kThreads;) std::this_thread::yield();
            trace->GetNamedContext(u"Printing", &named[t]);
            trace->GetDefaultContext(&own[t]);
            tids[t] = ThreadId();
        });
    for (auto& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(named[t], named[0]);
        EXPECT_EQ(IdOf(own[t]), tids[t]);
        for (int u = 0; u < t; ++u) EXPECT_NE(own[u], own[t]);
    }
    trace->GetDefaultContext(&mine);
    trace->GetDefaultContext(&again);
    EXPECT_EQ(mine, again);
    EXPECT_EQ(IdOf(mine), ThreadId());

    // Names are case-sensitive and whole.
    IPLTraceContext *upper = nullptr, *prefix = nullptr;
    trace->GetNamedContext(u"PRINTING", &upper);
    trace->GetNamedContext(u"Print", &prefix);
    EXPECT_NE(named[0], upper);
    EXPECT_NE(named[0], prefix);
    WCHAR name[16];
    named[0]->GetName(name, 16);
    EXPECT_EQ(std::u16string(name), u"Printing");
    EXPECT_EQ(g_created, kThreads + 4);
    IPLTraceContext* untouched = nullptr;
    EXPECT_EQ(trace->GetNamedContext(nullptr, &untouched), E_POINTER);
    EXPECT_EQ(trace->GetGlobalContext(nullptr), E_POINTER);
    EXPECT_EQ(g_created, kThreads + 4);

    // A later module object (which may even reuse the first one's memory) shares only the
    // global context; the first one's contexts live on with their callers' references.
    IPLTraceContext *global1 = nullptr, *global2 = nullptr, *mine2 = nullptr, *named2 = nullptr;
    trace->GetGlobalContext(&global1);
    trace->Release();
    trace = kdtest::NewTraceModule(&GetPLModule);
    trace->GetGlobalContext(&global2);
    trace->GetDefaultContext(&mine2);
    trace->GetNamedContext(u"Printing", &named2);
    EXPECT_EQ(global1, global2);
    EXPECT_EQ(IdOf(global1), 0u);
    EXPECT_NE(mine2, mine);
    EXPECT_NE(named2, named[0]);
    EXPECT_EQ(IdOf(own[0]), tids[0]);
    for (IPLTraceContext* c : {mine, again, upper, prefix, global1, global2, mine2, named2}) c->Release();
    for (int t = 0; t < kThreads; ++t) named[t]->Release(), own[t]->Release();
    trace->Release();
    UseCreator(g_realCreator);
}

}  // namespace
