#include <gtest/gtest.h>

#include <thread>

#include <kdtrace/kdtrace.h>

#include "trace_fakes.h"

namespace {

using kdtest::Listener;
using kdtest::Log;

IPLTraceContextPriv* NewContext() {
    IPLTraceContextPriv* context = nullptr;
    EXPECT_EQ(PLCreateInstance(CLSID_PLTraceContext, IID_IPLTraceContextPriv, reinterpret_cast<void**>(&context)),
              S_OK);
    return context;
}

TEST(TraceContext, KeepsIdNameAndBag) {
    IPLTraceContextPriv* context = NewContext();
    ULONG id = 99;
    WCHAR name[8] = {u'x'};
    IPLPropertyBag* bag = nullptr;
    EXPECT_EQ(context->GetID(&id), S_OK);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(context->GetName(name, 8), S_OK);
    EXPECT_EQ(name[0], 0);
    EXPECT_EQ(context->GetProperties(&bag), S_OK);
    EXPECT_EQ(bag, nullptr);

    context->SetID(4711);
    EXPECT_EQ(context->SetName(u"abcde"), S_OK);
    context->GetID(&id);
    EXPECT_EQ(id, 4711u);
    EXPECT_EQ(context->GetName(name, 4), S_OK);  // cut to size - 1 and terminated
    EXPECT_EQ(std::u16string(name), u"abc");
    EXPECT_EQ(context->GetName(name, 1), S_OK);
    EXPECT_EQ(name[0], 0);
    // Bad arguments change nothing.
    EXPECT_EQ(context->GetName(name, 0), E_INVALIDARG);
    EXPECT_EQ(context->SetName(nullptr), E_POINTER);
    EXPECT_EQ(context->SetProperties(nullptr), E_POINTER);
    context->GetName(name, 8);
    EXPECT_EQ(std::u16string(name), u"abcde");

    // One reference on the bag, also when given the same bag twice; dropped for a new bag and
    // at destruction.
    kdtest::PropertyBag first, second;
    context->SetProperties(&first);
    context->SetProperties(&first);
    EXPECT_EQ(first.refs, 2u);
    EXPECT_EQ(context->GetProperties(&bag), S_OK);
    EXPECT_EQ(bag, &first);
    bag->Release();
    context->SetProperties(&second);
    EXPECT_EQ(first.refs, 1u);

    void* p = nullptr;
    for (const IID* iid : {&IID_IUnknown, &IID_IPLTraceContext, &IID_IPLTraceContextPriv}) {
        ASSERT_EQ(context->QueryInterface(*iid, &p), S_OK);
        EXPECT_EQ(p, static_cast<void*>(context));  // all three by the same part
        context->Release();
    }
    IPLComObject* object = nullptr;
    ASSERT_EQ(context->QueryInterface(IID_IPLComObject, reinterpret_cast<void**>(&object)), S_OK);
    GUID guid{};
    object->GetInterfaceID(&guid);
    EXPECT_EQ(guid, IID_IPLTraceContext);
    object->GetClassID(&guid);
    EXPECT_EQ(guid, CLSID_PLTraceContext);
    object->Release();
    EXPECT_EQ(context->Release(), 0u);
    EXPECT_EQ(second.refs, 1u);
}

TEST(TraceContext, FiresInOrderAndReportsTheLastQuery) {
    IPLTraceContextPriv* context = NewContext();
    EXPECT_EQ(context->FireMessage(1, 2), S_OK);  // nobody listens
    Log log;
    Listener a(&log, "A"), b(&log, "B"), mute;
    void *cookieA = nullptr, *cookieB = nullptr, *cookie = nullptr;
    mute.answers = false;
    EXPECT_EQ(context->AddListener(&mute, &cookie), E_INVALIDARG);
    EXPECT_EQ(context->AddListener(nullptr, &cookie), E_POINTER);
    ASSERT_EQ(context->AddListener(&a, &cookieA), S_OK);
    // Through the event-source interface only the trace listener identifier is accepted.
    IPLEventSource* source = nullptr;
    ASSERT_EQ(context->QueryInterface(IID_IPLEventSource, reinterpret_cast<void**>(&source)), S_OK);
    EXPECT_EQ(source->AddListener(IID_IPLCollectionListener, &b, &cookieB), E_NOINTERFACE);
    ASSERT_EQ(source->AddListener(IID_IPLTraceListener, &b, &cookieB), S_OK);
    source->Release();
    EXPECT_EQ(a.refs, 1u);  // the list keeps no reference
    EXPECT_EQ(context->FireMessage(-7, 0x7FFFFFFF), S_OK);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"A:-7,2147483647", "B:-7,2147483647"}));

    // A listener that no longer answers is skipped; only the last query's result is returned.
    b.answers = false;
    EXPECT_EQ(context->FireMessage(5, 6), E_NOINTERFACE);
    b.answers = true;
    a.answers = false;
    EXPECT_EQ(context->FireMessage(5, 6), S_OK);
    a.answers = true;
    EXPECT_EQ(a.calls + b.calls, 4);
    EXPECT_EQ(mute.calls, 0);

    EXPECT_EQ(context->RemoveListener(cookieA), S_OK);
    EXPECT_EQ(context->RemoveListener(cookieA), E_FAIL);
    context->FireMessage(7, 8);
    EXPECT_EQ(a.calls, 2);
    EXPECT_EQ(b.calls, 3);
    context->RemoveListener(cookieB);
    EXPECT_EQ(a.refs + b.refs + mute.refs, 3u);
    context->Release();
}

// Listener queries run under the list's lock, calls outside it: neither may deadlock when it
// comes back to the library.
class QueryingListener : public Listener {
public:
    using Listener::Listener;
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (onQuery) onQuery();
        return Listener::QueryInterface(iid, object);
    }
    std::function<void()> onQuery;
};

TEST(TraceContext, ListenersMayCallBackIntoTheLibrary) {
    IPLTraceContextPriv* context = NewContext();
    IPLTraceContextPriv* other = NewContext();
    Log log;
    QueryingListener first(&log, "first");
    Listener late(&log, "late"), inner(&log, "inner");
    void *firstCookie = nullptr, *lateCookie = nullptr, *innerCookie = nullptr;
    other->AddListener(&inner, &innerCookie);
    context->AddListener(&first, &firstCookie);
    first.onQuery = [&] { EXPECT_EQ(context->RemoveListener(nullptr), E_FAIL); };
    bool once = false;
    first.onMessage = [&] {
        // Fire another context and this one again, add a listener and remove itself; the
        // running delivery keeps its snapshot.
        if (std::exchange(once, true)) return;
        other->FireMessage(10, 20);
        context->AddListener(&late, &lateCookie);
        context->RemoveListener(firstCookie);
        context->FireMessage(30, 40);
    };
    EXPECT_EQ(context->FireMessage(1, 2), S_OK);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"first:1,2", "inner:10,20", "late:30,40"}));
    context->RemoveListener(lateCookie);
    other->RemoveListener(innerCookie);
    EXPECT_EQ(first.refs + late.refs + inner.refs, 3u);
    other->Release();
    context->Release();
}

TEST(TraceContext, AListenerRemovedBeforeFiringIsNeverCalled) {
    // Threads fire while this one adds and removes a listener: a FireMessage that starts after
    // RemoveListener returned must not call it.
    IPLTraceContextPriv* context = NewContext();
    Listener toggled;
    std::atomic<bool> removed{false}, stop{false};
    std::atomic<int> lateCalls{0};
    static thread_local bool t_firedAfterRemoval = false;
    toggled.onMessage = [&] { lateCalls += t_firedAfterRemoval ? 1 : 0; };
    std::vector<std::thread> firers;
    for (int t = 0; t < 2; ++t)
        firers.emplace_back([&] {
            while (!stop) {
                t_firedAfterRemoval = removed.load();
                context->FireMessage(1, 2);
            }
        });
    for (int round = 0; round < 200; ++round) {
        void* cookie = nullptr;
        context->AddListener(&toggled, &cookie);
        std::this_thread::yield();
        context->RemoveListener(cookie);
    }
    removed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop = true;
    for (auto& t : firers) t.join();
    EXPECT_EQ(lateCalls, 0);
    EXPECT_EQ(toggled.refs, 1u);
    context->Release();
}

}  // namespace
