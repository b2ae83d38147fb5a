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

class TraceModule : public ::testing::Test {
protected:
    void SetUp() override {
        CPLClassFactoryMap* map = PLGetClassFactoryMap();
        g_realCreator = map->FindClassFactory(CLSID_PLTraceContext);
        map->UnregisterClassFactory(CLSID_PLTraceContext);
        map->RegisterClassFactory(CLSID_PLTraceContext, &CountingCreator);
        g_created = 0;
        trace = NewModule();
    }
    void TearDown() override {
        trace->Release();
        CPLClassFactoryMap* map = PLGetClassFactoryMap();
        map->UnregisterClassFactory(CLSID_PLTraceContext);
        map->RegisterClassFactory(CLSID_PLTraceContext, g_realCreator);
        g_failWith = S_OK;
    }
    static IPLTraceModule* NewModule() {
        IPLModule* module = nullptr;
        EXPECT_EQ(GetPLModule(GUID_NULL, &module), S_OK);
        IPLTraceModule* trace = nullptr;
        EXPECT_EQ(module->QueryInterface(IID_IPLTraceModule, reinterpret_cast<void**>(&trace)),
                  S_OK);
        module->Release();
        return trace;
    }
    static ULONG IdOf(IPLTraceContext* context) {
        ULONG id = 12345;
        context->GetID(&id);
        return id;
    }
    static std::u16string NameOf(IPLTraceContext* context) {
        WCHAR name[64];
        context->GetName(name, 64);
        return name;
    }
    IPLTraceModule* trace = nullptr;
};

TEST_F(TraceModule, SeverityLevelIsProcessWideAndUnfiltered) {
    LONG level = 99;
    EXPECT_EQ(trace->GetSeverityLevel(&level), S_OK);
    EXPECT_EQ(level, 0);  // before any SetSeverityLevel in this process
    EXPECT_EQ(trace->SetSeverityLevel(-5), S_OK);
    IPLTraceModule* second = NewModule();
    EXPECT_EQ(second->GetSeverityLevel(&level), S_OK);
    EXPECT_EQ(level, -5);
    EXPECT_EQ(second->GetSeverityLevel(nullptr), E_POINTER);
    second->SetSeverityLevel(0);
    second->Release();
}

TEST_F(TraceModule, AnswersItsInterfacesAndIdentifiers) {
    void* p = nullptr;
    ASSERT_EQ(trace->QueryInterface(IID_IUnknown, &p), S_OK);
    EXPECT_EQ(p, static_cast<void*>(trace));
    trace->Release();
    for (const IID* iid : {&IID_IPLModule, &IID_IPLComObject, &IID_IPLSupportRichErrorInfo}) {
        ASSERT_EQ(trace->QueryInterface(*iid, &p), S_OK);
        static_cast<IUnknown*>(p)->Release();
    }
    p = nullptr;
    EXPECT_EQ(trace->QueryInterface(IID_IPLFactoryLoader, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    IPLComObject* object = nullptr;
    trace->QueryInterface(IID_IPLComObject, reinterpret_cast<void**>(&object));
    GUID id{};
    EXPECT_EQ(object->GetInterfaceID(&id), S_OK);
    EXPECT_EQ(id, IID_IPLTraceModule);
    EXPECT_EQ(object->GetClassID(&id), S_OK);
    EXPECT_EQ(id, CLSID_PLTraceModule);
    object->Release();
}

TEST_F(TraceModule, DefaultContextsArePerThreadAndCarryTheThreadId) {
    IPLTraceContext *a = nullptr, *b = nullptr, *other = nullptr;
    ASSERT_EQ(trace->GetDefaultContext(&a), S_OK);
    ASSERT_EQ(trace->GetDefaultContext(&b), S_OK);
    EXPECT_EQ(a, b);
    EXPECT_EQ(IdOf(a), static_cast<ULONG>(::syscall(SYS_gettid)));
    ULONG otherThread = 0;
    std::thread([&] {
        otherThread = static_cast<ULONG>(::syscall(SYS_gettid));
        ASSERT_EQ(trace->GetDefaultContext(&other), S_OK);
    }).join();
    EXPECT_NE(other, a);
    EXPECT_EQ(IdOf(other), otherThread);  // and it outlives its thread
    EXPECT_EQ(g_created, 2);
    EXPECT_EQ(trace->GetDefaultContext(nullptr), E_POINTER);
    for (IPLTraceContext* c : {a, b, other}) c->Release();
}

TEST_F(TraceModule, NamedContextsAreOnePerExactName) {
    IPLTraceContext *lower = nullptr, *upper = nullptr, *again = nullptr;
    ASSERT_EQ(trace->GetNamedContext(u"Printing", &lower), S_OK);
    ASSERT_EQ(trace->GetNamedContext(u"PRINTING", &upper), S_OK);
    ASSERT_EQ(trace->GetNamedContext(u"Printing", &again), S_OK);
    EXPECT_NE(lower, upper);
    EXPECT_EQ(lower, again);
    EXPECT_EQ(NameOf(lower), u"Printing");
    EXPECT_EQ(IdOf(lower), 0u);
    // A name that shares a prefix with a cached one is a different name.
    IPLTraceContext* prefix = nullptr;
    ASSERT_EQ(trace->GetNamedContext(u"Print", &prefix), S_OK);
    EXPECT_NE(prefix, lower);
    EXPECT_EQ(g_created, 3);

    IPLTraceContext* untouched = reinterpret_cast<IPLTraceContext*>(0x10);
    EXPECT_EQ(trace->GetNamedContext(nullptr, &untouched), E_POINTER);
    EXPECT_EQ(trace->GetNamedContext(u"x", nullptr), E_POINTER);
    EXPECT_EQ(trace->GetGlobalContext(nullptr), E_POINTER);
    EXPECT_EQ(untouched, reinterpret_cast<IPLTraceContext*>(0x10));
    EXPECT_EQ(g_created, 3);
    for (IPLTraceContext* c : {lower, upper, again, prefix}) c->Release();
}

TEST_F(TraceModule, ModuleObjectsShareOnlyTheGlobalContext) {
    IPLTraceContext *global1 = nullptr, *global2 = nullptr, *default1 = nullptr, *named1 = nullptr;
    trace->GetGlobalContext(&global1);
    trace->GetDefaultContext(&default1);
    trace->GetNamedContext(u"shared", &named1);
    EXPECT_EQ(IdOf(global1), 0u);
    EXPECT_EQ(NameOf(global1), u"");

    // A second module object, made after the first is gone (it may even reuse its memory),
    // must not hand out the first one's contexts.
    trace->Release();
    trace = NewModule();
    IPLTraceContext *default2 = nullptr, *named2 = nullptr;
    trace->GetGlobalContext(&global2);
    trace->GetDefaultContext(&default2);
    trace->GetNamedContext(u"shared", &named2);
    EXPECT_EQ(global1, global2);
    EXPECT_NE(default1, default2);
    EXPECT_NE(named1, named2);
    EXPECT_EQ(NameOf(named1), u"shared");  // still alive on the caller's reference
    for (IPLTraceContext* c : {global1, global2, default1, default2, named1, named2}) c->Release();
}

TEST_F(TraceModule, AFailedCreationIsReportedAndNothingIsStored) {
    PLClearThreadErrors();
    g_failWith = E_OUTOFMEMORY;
    IPLTraceContext* context = nullptr;
    EXPECT_EQ(trace->GetNamedContext(u"late", &context), E_OUTOFMEMORY);
    auto errors = kdtest::ThreadErrors(&GetThreadError);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors[0].module, u"Trace Services");
    EXPECT_EQ(errors[0].className, u"CPLTraceModule");
    EXPECT_EQ(errors[0].method, u"GetNamedContext");
    EXPECT_EQ(errors[0].message, u"Failed to create trace context");
    EXPECT_EQ(errors[0].result, E_OUTOFMEMORY);
    EXPECT_EQ(trace->GetDefaultContext(&context), E_OUTOFMEMORY);
    EXPECT_EQ(kdtest::ThreadErrors(&GetThreadError)[0].method, u"GetDefaultContext");

    g_failWith = S_OK;
    ASSERT_EQ(trace->GetNamedContext(u"late", &context), S_OK);
    EXPECT_EQ(NameOf(context), u"late");
    context->Release();
    ASSERT_EQ(trace->GetDefaultContext(&context), S_OK);
    context->Release();
    EXPECT_EQ(g_created, 2);
}

TEST_F(TraceModule, ThreadsAskingAtOnceGetOneContext) {
    IPLTraceContext* warm = nullptr;  // the global context may be this process's first
    trace->GetGlobalContext(&warm);
    warm->Release();
    g_created = 0;
    constexpr int kThreads = 4;
    IPLTraceContext* named[kThreads] = {};
    IPLTraceContext* global[kThreads] = {};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            ++ready;
            while (ready < kThreads) std::this_thread::yield();
            trace->GetNamedContext(u"contended", &named[t]);
            trace->GetGlobalContext(&global[t]);
        });
    for (auto& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(named[t], named[0]);
        EXPECT_EQ(global[t], global[0]);
        named[t]->Release();
        global[t]->Release();
    }
    EXPECT_EQ(g_created, 1);
}

}  // namespace
