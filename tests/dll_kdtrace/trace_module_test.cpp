#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include <kdtrace/kdtrace.h>

#include "inc_module_base/plfactory.h"
#include "trace_fakes.h"

namespace {

// Wraps the trace-context creator to count creations and to fail them on demand.
PLCreatorFunction g_realCreator = nullptr;
std::atomic<int> g_created{0};
std::atomic<HRESULT> g_failWith{S_OK};

HRESULT CountingCreator(REFIID iid, void* argument, void** object) {
    if (g_failWith != S_OK) return g_failWith;
    ++g_created;
    return g_realCreator(iid, argument, object);
}

IPLTraceModule* NewModule() {
    IPLModule* module = nullptr;
    EXPECT_EQ(GetPLModule(GUID_NULL, &module), S_OK);
    IPLTraceModule* trace = nullptr;
    EXPECT_EQ(module->QueryInterface(IID_IPLTraceModule, reinterpret_cast<void**>(&trace)), S_OK);
    module->Release();
    return trace;
}

ULONG IdOf(IPLTraceContext* context) {
    ULONG id = 12345;
    context->GetID(&id);
    return id;
}

class TraceModule : public ::testing::Test {
protected:
    void SetUp() override {
        CPLClassFactoryMap* map = PLGetClassFactoryMap();
        g_realCreator = map->FindClassFactory(CLSID_PLTraceContext);
        map->UnregisterClassFactory(CLSID_PLTraceContext);
        map->RegisterClassFactory(CLSID_PLTraceContext, &CountingCreator);
        g_created = 0;
    }
    void TearDown() override {
        trace->Release();
        PLGetClassFactoryMap()->UnregisterClassFactory(CLSID_PLTraceContext);
        PLGetClassFactoryMap()->RegisterClassFactory(CLSID_PLTraceContext, g_realCreator);
        g_failWith = S_OK;
    }
    IPLTraceModule* trace = NewModule();
};

TEST_F(TraceModule, IdentityAndSeverityLevel) {
    LONG level = 99;
    EXPECT_EQ(trace->GetSeverityLevel(&level), S_OK);
    EXPECT_EQ(level, 0);  // before any SetSeverityLevel in this process
    trace->SetSeverityLevel(-5);
    IPLTraceModule* second = NewModule();
    second->GetSeverityLevel(&level);
    EXPECT_EQ(level, -5);  // process-wide
    second->SetSeverityLevel(0);
    second->Release();

    void* p = nullptr;
    ASSERT_EQ(trace->QueryInterface(IID_IUnknown, &p), S_OK);
    EXPECT_EQ(p, static_cast<void*>(trace));
    trace->Release();
    EXPECT_EQ(trace->QueryInterface(IID_IPLFactoryLoader, &p), E_NOINTERFACE);
    IPLComObject* object = nullptr;
    ASSERT_EQ(trace->QueryInterface(IID_IPLComObject, reinterpret_cast<void**>(&object)), S_OK);
    GUID id{};
    object->GetInterfaceID(&id);
    EXPECT_EQ(id, IID_IPLTraceModule);
    object->GetClassID(&id);
    EXPECT_EQ(id, CLSID_PLTraceModule);
    object->Release();
}

TEST_F(TraceModule, ContextsPerThreadPerNameAndPerModuleObject) {
    IPLTraceContext *mine = nullptr, *again = nullptr, *theirs = nullptr;
    trace->GetDefaultContext(&mine);
    trace->GetDefaultContext(&again);
    EXPECT_EQ(mine, again);
    EXPECT_EQ(IdOf(mine), static_cast<ULONG>(::syscall(SYS_gettid)));
    ULONG otherThread = 0;
    std::thread([&] {
        otherThread = static_cast<ULONG>(::syscall(SYS_gettid));
        trace->GetDefaultContext(&theirs);
    }).join();
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(IdOf(theirs), otherThread);

    IPLTraceContext *lower = nullptr, *upper = nullptr, *prefix = nullptr, *same = nullptr;
    trace->GetNamedContext(u"Printing", &lower);
    trace->GetNamedContext(u"PRINTING", &upper);
    trace->GetNamedContext(u"Print", &prefix);
    trace->GetNamedContext(u"Printing", &same);
    EXPECT_EQ(lower, same);
    EXPECT_NE(lower, upper);
    EXPECT_NE(lower, prefix);
    WCHAR name[16];
    lower->GetName(name, 16);
    EXPECT_EQ(std::u16string(name), u"Printing");
    EXPECT_EQ(g_created, 5);
    IPLTraceContext* untouched = nullptr;
    EXPECT_EQ(trace->GetNamedContext(nullptr, &untouched), E_POINTER);
    EXPECT_EQ(trace->GetGlobalContext(nullptr), E_POINTER);
    EXPECT_EQ(g_created, 5);

    // A later module object (which may even reuse the first one's memory) shares only the
    // global context; the first one's contexts live on with their callers' references.
    IPLTraceContext *global1 = nullptr, *global2 = nullptr, *mine2 = nullptr, *lower2 = nullptr;
    trace->GetGlobalContext(&global1);
    trace->Release();
    trace = NewModule();
    trace->GetGlobalContext(&global2);
    trace->GetDefaultContext(&mine2);
    trace->GetNamedContext(u"Printing", &lower2);
    EXPECT_EQ(global1, global2);
    EXPECT_EQ(IdOf(global1), 0u);
    EXPECT_NE(mine2, mine);
    EXPECT_NE(lower2, lower);
    EXPECT_EQ(IdOf(theirs), otherThread);
    for (IPLTraceContext* c : {mine, again, theirs, lower, upper, prefix, same, global1, global2, mine2, lower2})
        c->Release();
}

TEST_F(TraceModule, AFailedCreationIsReportedAndNothingIsStored) {
    g_failWith = E_OUTOFMEMORY;
    IPLTraceContext* context = nullptr;
    EXPECT_EQ(trace->GetNamedContext(u"late", &context), E_OUTOFMEMORY);
    EXPECT_EQ(kdtest::ThreadErrors(&GetThreadError)[0],
              u"Trace Services|CPLTraceModule|GetNamedContext|Failed to create trace context");
    EXPECT_EQ(trace->GetDefaultContext(&context), E_OUTOFMEMORY);
    g_failWith = S_OK;
    ASSERT_EQ(trace->GetNamedContext(u"late", &context), S_OK);
    context->Release();
    ASSERT_EQ(trace->GetDefaultContext(&context), S_OK);
    context->Release();
    EXPECT_EQ(g_created, 2);
}

TEST_F(TraceModule, ThreadsAskingAtOnceGetOneContext) {
    constexpr int kThreads = 4;
    IPLTraceContext* named[kThreads] = {};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (++ready; ready < kThreads;) std::this_thread::yield();
            trace->GetNamedContext(u"contended", &named[t]);
        });
    for (auto& t : threads) t.join();
    for (IPLTraceContext* c : named) EXPECT_EQ(c, named[0]);
    for (IPLTraceContext* c : named) c->Release();
    EXPECT_EQ(g_created, 1);
}

}  // namespace
