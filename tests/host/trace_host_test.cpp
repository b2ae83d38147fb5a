// The trace services as a host sees them: the module loaded with dlopen, only the exported
// functions and the interfaces of the public headers.
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "host_objects.h"
#include "trace_fakes.h"

namespace {

kdhost::ModuleApi& Api() {
    static kdhost::ModuleApi api;
    static const bool loaded = [] {
        std::string error;
        return api.Load(KDTRACE_MODULE_PATH, error);
    }();
    EXPECT_TRUE(loaded);
    return api;
}

IPLTraceModule* TraceModule() {
    IPLModule* module = nullptr;
    EXPECT_EQ(Api().GetPLModule(MODULEID_PLTraceServices, &module), S_OK);
    EXPECT_EQ(module->InitModule(), S_OK);
    IPLTraceModule* trace = nullptr;
    EXPECT_EQ(module->QueryInterface(IID_IPLTraceModule, reinterpret_cast<void**>(&trace)), S_OK);
    module->Release();
    return trace;
}

// First in this process: threads race for the global context while it does not exist yet.
TEST(TraceHost, ThreadsShareContextsAndReceiveEveryMessage) {
    constexpr int kThreads = 4;
    constexpr int kMessages = 250;
    IPLTraceModule* trace = TraceModule();
    kdtest::Log log;
    kdtest::Listener listener(&log, "L");
    IPLTraceContext* shared = nullptr;
    ASSERT_EQ(trace->GetNamedContext(u"host", &shared), S_OK);
    void* cookie = nullptr;
    ASSERT_EQ(shared->AddListener(&listener, &cookie), S_OK);

    IPLTraceContext* globals[kThreads] = {};
    ULONG ids[kThreads] = {}, tids[kThreads] = {};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            ++ready;
            while (ready < kThreads) std::this_thread::yield();
            trace->GetGlobalContext(&globals[t]);
            IPLTraceContext* own = nullptr;
            trace->GetDefaultContext(&own);
            own->GetID(&ids[t]);
            tids[t] = static_cast<ULONG>(::syscall(SYS_gettid));
            IPLTraceContext* named = nullptr;
            trace->GetNamedContext(u"host", &named);
            for (int m = 0; m < kMessages; ++m) {
                EXPECT_EQ(named->FireMessage(t, m), S_OK);
            }
            named->Release();
            own->Release();
        });
    for (auto& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(globals[t], globals[0]);
        EXPECT_EQ(ids[t], tids[t]);
        globals[t]->Release();
    }
    // Each thread's messages arrive whole, unchanged and in the order it fired them.
    ASSERT_EQ(log.lines.size(), static_cast<std::size_t>(kThreads * kMessages));
    int next[kThreads] = {};
    for (const std::string& line : log.lines) {
        int t = -1, m = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "L:%d,%d", &t, &m), 2);
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(m, next[t]++);
    }
    EXPECT_EQ(shared->RemoveListener(cookie), S_OK);
    EXPECT_EQ(listener.refs, 1u);
    shared->Release();

    // Severity: stored and read back through any module object.
    IPLTraceModule* second = TraceModule();
    EXPECT_EQ(trace->SetSeverityLevel(3), S_OK);
    LONG level = 0;
    EXPECT_EQ(second->GetSeverityLevel(&level), S_OK);
    EXPECT_EQ(level, 3);
    second->Release();
    trace->Release();
}

IPLTraceContext* ContextWithId(ULONG id) {
    IPLTraceContextPriv* context = nullptr;
    EXPECT_EQ(Api().PLCreateInstance(CLSID_PLTraceContext, IID_IPLTraceContextPriv,
                                     reinterpret_cast<void**>(&context)),
              S_OK);
    context->SetID(id);
    return context;
}

TEST(TraceHost, ContextCollectionFindsByIdOnly) {
    IPLTraceContextCollection* list = nullptr;
    ASSERT_EQ(Api().PLCreateInstance(CLSID_PLTraceContextCollection, IID_IPLTraceContextCollection,
                                     reinterpret_cast<void**>(&list)),
              S_OK);
    void* p = nullptr;
    EXPECT_EQ(list->QueryInterface(IID_IPLEventSource, &p), E_NOINTERFACE);
    IPLComObject* object = nullptr;
    ASSERT_EQ(list->QueryInterface(IID_IPLComObject, reinterpret_cast<void**>(&object)), S_OK);
    GUID id{};
    EXPECT_EQ(object->GetInterfaceID(&id), S_OK);
    EXPECT_EQ(id, CLSID_PLTraceContextCollection);
    EXPECT_EQ(object->GetClassID(&id), S_OK);
    EXPECT_EQ(id, CLSID_PLTraceContextCollection);
    object->Release();

    IPLTraceContext* five = ContextWithId(5);
    IPLTraceContext* seven = ContextWithId(7);
    list->Insert(five);
    list->Insert(seven);
    IPLTraceContext* found = nullptr;
    ASSERT_EQ(list->FindByID(7, &found), S_OK);
    EXPECT_EQ(found, seven);
    found->Release();
    EXPECT_EQ(list->FindByID(9, &found), E_FAIL);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(list->FindByName(u"", &found), E_FAIL);

    // Duplicates need no comparison only while every entry is the same context.
    IPLTraceContextCollection* twice = nullptr;
    Api().PLCreateInstance(CLSID_PLTraceContextCollection, IID_IPLTraceContextCollection,
                           reinterpret_cast<void**>(&twice));
    twice->Insert(five);
    twice->Insert(five);
    PLItemArray<IPLTraceContext> duplicates = {};
    EXPECT_EQ(twice->FindDuplicates(five, &duplicates, 0), S_OK);
    ASSERT_EQ(duplicates.count, 1);
    EXPECT_EQ(duplicates.items[0], five);
    twice->Insert(seven);
    EXPECT_EQ(twice->FindDuplicates(five, &duplicates, 0), E_FAIL);
    PLItemArrayClear(&duplicates);

    // Purging compares, which contexts cannot: one error per comparison, nothing removed.
    Api().PLClearThreadErrors();
    EXPECT_EQ(twice->PurgeDuplicates(), S_OK);
    EXPECT_EQ(twice->GetCount(), 3);
    EXPECT_EQ(kdtest::ThreadErrors(Api().GetThreadError).size(), 3u);
    twice->Release();
    list->Release();
    EXPECT_EQ(five->Release(), 0u);
    EXPECT_EQ(seven->Release(), 0u);
}

}  // namespace
