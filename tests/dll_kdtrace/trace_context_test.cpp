#include <gtest/gtest.h>

#include <thread>

#include <kdtrace/kdtrace.h>

#include "trace_fakes.h"

namespace {

using kdtest::Listener;
using kdtest::Log;

IPLTraceContextPriv* NewContext() {
    IPLTraceContextPriv* context = nullptr;
    EXPECT_EQ(PLCreateInstance(CLSID_PLTraceContext, IID_IPLTraceContextPriv,
                               reinterpret_cast<void**>(&context)),
              S_OK);
    return context;
}

TEST(TraceContext, StartsEmptyAndKeepsIdNameAndBag) {
    IPLTraceContextPriv* context = NewContext();
    ULONG id = 99;
    WCHAR name[8] = {u'x', u'x'};
    IPLPropertyBag* bag = reinterpret_cast<IPLPropertyBag*>(1);
    EXPECT_EQ(context->GetID(&id), S_OK);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(context->GetName(name, 8), S_OK);
    EXPECT_EQ(std::u16string(name), u"");
    EXPECT_EQ(context->GetProperties(&bag), S_OK);
    EXPECT_EQ(bag, nullptr);

    EXPECT_EQ(context->SetID(4711), S_OK);
    EXPECT_EQ(context->SetName(u"abcde"), S_OK);
    context->GetID(&id);
    EXPECT_EQ(id, 4711u);
    // Cut to size - 1 characters and terminated; size 1 gives the empty string.
    EXPECT_EQ(context->GetName(name, 4), S_OK);
    EXPECT_EQ(std::u16string(name), u"abc");
    EXPECT_EQ(context->GetName(name, 1), S_OK);
    EXPECT_EQ(name[0], 0);
    EXPECT_EQ(context->GetName(name, 8), S_OK);
    EXPECT_EQ(std::u16string(name), u"abcde");

    // Bad arguments change nothing.
    EXPECT_EQ(context->GetID(nullptr), E_POINTER);
    EXPECT_EQ(context->GetName(nullptr, 8), E_POINTER);
    EXPECT_EQ(context->GetName(name, 0), E_INVALIDARG);
    EXPECT_EQ(context->GetName(name, -3), E_INVALIDARG);
    EXPECT_EQ(context->SetName(nullptr), E_POINTER);
    EXPECT_EQ(context->GetProperties(nullptr), E_POINTER);
    EXPECT_EQ(context->SetProperties(nullptr), E_POINTER);
    context->GetName(name, 8);
    EXPECT_EQ(std::u16string(name), u"abcde");

    // The context holds exactly one reference on its bag, also when given the same bag twice,
    // and drops it for a new bag and at destruction.
    kdtest::PropertyBag first, second;
    EXPECT_EQ(context->SetProperties(&first), S_OK);
    EXPECT_EQ(context->SetProperties(&first), S_OK);
    EXPECT_EQ(first.refs, 2u);
    EXPECT_EQ(context->GetProperties(&bag), S_OK);
    EXPECT_EQ(bag, &first);
    EXPECT_EQ(first.refs, 3u);
    bag->Release();
    EXPECT_EQ(context->SetProperties(&second), S_OK);
    EXPECT_EQ(first.refs, 1u);
    EXPECT_EQ(second.refs, 2u);
    EXPECT_EQ(context->Release(), 0u);
    EXPECT_EQ(second.refs, 1u);
}

TEST(TraceContext, AnswersItsInterfacesAndIdentifiers) {
    IPLTraceContextPriv* context = NewContext();
    void* p = nullptr;
    for (const IID* iid : {&IID_IUnknown, &IID_IPLTraceContext, &IID_IPLTraceContextPriv}) {
        ASSERT_EQ(context->QueryInterface(*iid, &p), S_OK);
        EXPECT_EQ(p, static_cast<void*>(context));
        context->Release();
    }
    for (const IID* iid : {&IID_IPLEventSource, &IID_IPLComObject, &IID_IPLSupportRichErrorInfo}) {
        ASSERT_EQ(context->QueryInterface(*iid, &p), S_OK);
        static_cast<IUnknown*>(p)->Release();
    }
    p = nullptr;
    EXPECT_EQ(context->QueryInterface(IID_IPLTraceModule, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    IPLComObject* object = nullptr;
    context->QueryInterface(IID_IPLComObject, reinterpret_cast<void**>(&object));
    GUID id{};
    EXPECT_EQ(object->GetInterfaceID(&id), S_OK);
    EXPECT_EQ(id, IID_IPLTraceContext);
    EXPECT_EQ(object->GetClassID(&id), S_OK);
    EXPECT_EQ(id, CLSID_PLTraceContext);
    object->Release();
    context->Release();
}

TEST(TraceContext, FiresToListenersInOrderAndReportsTheLastQuery) {
    IPLTraceContextPriv* context = NewContext();
    EXPECT_EQ(context->FireMessage(1, 2), S_OK);  // nobody listens

    Log log;
    Listener a(&log, "A"), b(&log, "B");
    void *cookieA = nullptr, *cookieB = nullptr;
    ASSERT_EQ(context->AddListener(&a, &cookieA), S_OK);
    ASSERT_EQ(context->AddListener(&b, &cookieB), S_OK);
    EXPECT_EQ(cookieA, static_cast<IPLTraceListener*>(&a));
    EXPECT_EQ(a.refs, 1u);  // the list keeps no reference
    EXPECT_EQ(context->FireMessage(-7, 0x7FFFFFFF), S_OK);
    EXPECT_EQ(context->FireMessage(3, 4), S_OK);
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"A:-7,2147483647", "B:-7,2147483647", "A:3,4", "B:3,4"}));

    // A listener that no longer answers is skipped; the result is that of the last query only.
    a.answers = false;
    EXPECT_EQ(context->FireMessage(5, 6), S_OK);
    b.answers = false;
    EXPECT_EQ(context->FireMessage(5, 6), E_NOINTERFACE);
    a.answers = true;
    EXPECT_EQ(context->FireMessage(5, 6), E_NOINTERFACE);
    EXPECT_EQ(a.calls, 3);
    EXPECT_EQ(b.calls, 3);

    // Removal stops delivery; a second removal fails and changes nothing.
    b.answers = true;
    EXPECT_EQ(context->RemoveListener(cookieA), S_OK);
    EXPECT_EQ(context->RemoveListener(cookieA), E_FAIL);
    context->FireMessage(7, 8);
    EXPECT_EQ(a.calls, 3);
    EXPECT_EQ(b.calls, 4);
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(b.refs, 1u);
    context->Release();
}

TEST(TraceContext, RejectsBadListenersAndAddsNothing) {
    IPLTraceContextPriv* context = NewContext();
    Listener mute;
    mute.answers = false;
    void* cookie = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(context->AddListener(&mute, &cookie), E_INVALIDARG);
    EXPECT_EQ(context->AddListener(nullptr, &cookie), E_POINTER);
    Listener ok;
    EXPECT_EQ(context->AddListener(&ok, nullptr), E_POINTER);
    EXPECT_EQ(cookie, reinterpret_cast<void*>(0x1234));
    // Through the event-source interface only the trace listener identifier is accepted.
    IPLEventSource* source = nullptr;
    ASSERT_EQ(context->QueryInterface(IID_IPLEventSource, reinterpret_cast<void**>(&source)), S_OK);
    EXPECT_EQ(source->AddListener(IID_IPLCollectionListener, &ok, &cookie), E_NOINTERFACE);
    EXPECT_EQ(source->RemoveListener(&ok), E_FAIL);
    mute.answers = true;
    EXPECT_EQ(context->FireMessage(1, 1), S_OK);
    EXPECT_EQ(mute.calls + ok.calls, 0);
    EXPECT_EQ(mute.refs, 1u);
    EXPECT_EQ(ok.refs, 1u);
    // Registered through either interface, removed through the other.
    ASSERT_EQ(source->AddListener(IID_IPLTraceListener, &ok, &cookie), S_OK);
    context->FireMessage(1, 1);
    EXPECT_EQ(ok.calls, 1);
    EXPECT_EQ(context->RemoveListener(cookie), S_OK);
    source->Release();
    context->Release();
}

TEST(TraceContext, ListenersMayCallBackIntoTheLibrary) {
    IPLTraceContextPriv* context = NewContext();
    IPLTraceContextPriv* other = NewContext();
    Log log;
    Listener first(&log, "first"), late(&log, "late"), inner(&log, "inner");
    void *firstCookie = nullptr, *lateCookie = nullptr, *innerCookie = nullptr;
    other->AddListener(&inner, &innerCookie);
    context->AddListener(&first, &firstCookie);
    int depth = 0;
    first.onMessage = [&] {
        // Fire another context and this one again, add a listener and remove itself: neither
        // deadlocks, and the running delivery keeps its snapshot.
        if (depth++ > 0) return;
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

// Listener queries run under the list's lock: one that comes back to the same context must not
// deadlock.
class QueryingListener : public Listener {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (onQuery) onQuery();
        return Listener::QueryInterface(iid, object);
    }
    std::function<void()> onQuery;
};

TEST(TraceContext, AListenerQueryMayComeBackToTheContext) {
    IPLTraceContextPriv* context = NewContext();
    QueryingListener listener;
    void* cookie = nullptr;
    ASSERT_EQ(context->AddListener(&listener, &cookie), S_OK);
    void* extra = nullptr;
    Listener other;
    listener.onQuery = [&] {
        EXPECT_EQ(context->RemoveListener(nullptr), E_FAIL);
        if (extra == nullptr) context->AddListener(&other, &extra);
    };
    EXPECT_EQ(context->FireMessage(1, 2), S_OK);
    EXPECT_EQ(context->FireMessage(1, 2), S_OK);
    EXPECT_EQ(listener.calls, 2);
    EXPECT_GE(other.calls, 1);
    context->RemoveListener(extra);
    context->RemoveListener(cookie);
    context->Release();
}

TEST(TraceContext, AListenerRemovedBeforeFiringIsNeverCalled) {
    // Many threads fire while another adds and removes a listener: after RemoveListener has
    // returned, no FireMessage that starts later may call it.
    IPLTraceContextPriv* context = NewContext();
    Listener steady, toggled;
    void* steadyCookie = nullptr;
    context->AddListener(&steady, &steadyCookie);
    std::atomic<bool> removed{false}, stop{false};
    std::atomic<int> lateCalls{0};
    // Set on each firing thread before it fires: whether the removal had returned by then.
    static thread_local bool t_firedAfterRemoval = false;
    toggled.onMessage = [&] {
        if (t_firedAfterRemoval) ++lateCalls;
    };
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
    EXPECT_GT(steady.calls, 0);
    EXPECT_EQ(toggled.refs, 1u);
    context->RemoveListener(steadyCookie);
    context->Release();
}

}  // namespace
