#include <gtest/gtest.h>

#include <thread>

#include <kdtrace/kdtrace.h>

#include "support/HResult.h"
#include "support/TraceFakes.h"

namespace {

using kdtest::Listener, kdtest::Log;
using Lines = std::vector<std::string>;

IPLTraceContextPriv* NewContext() {
    IPLTraceContextPriv* context = nullptr;
    EXPECT_HR(PLCreateInstance(CLSID_PLTraceContext, IID_IPLTraceContextPriv, reinterpret_cast<void**>(&context)),
              S_OK);
    return context;
}

IPLPropertyBag* NewBag() {
    IPLPropertyBag* bag = nullptr;
    EXPECT_HR(PLCreateInstance(CLSID_PLPropertyBag, IID_IPLPropertyBag, reinterpret_cast<void**>(&bag)), S_OK);
    return bag;
}

// One reference on the bag, also when given the same bag twice; dropped for a new bag and at
// destruction (a reference too many or too few shows as a count that does not reach zero, or as
// a use after free).
TEST(TraceContext, KeepsOneReferenceOnItsBag) {
    IPLTraceContextPriv* context = NewContext();
    IPLPropertyBag *first = NewBag(), *second = NewBag(), *bag = nullptr;
    context->SetProperties(first);
    context->SetProperties(first);
    EXPECT_HR(context->GetProperties(&bag), S_OK);
    EXPECT_EQ(bag, first);
    EXPECT_EQ(bag->Release(), 2u);
    context->SetProperties(second);
    EXPECT_EQ(first->Release(), 0u);

    EXPECT_EQ(context->Release(), 0u);
    EXPECT_EQ(second->Release(), 0u);
}

// Only trace listeners are taken, on either path, and each hears the message unchanged. (Order,
// removal by cookie, the last query's status and the snapshot are the event source's, checked in
// PLEventSourceTest.)
TEST(TraceContext, TakesOnlyTraceListenersAndPassesTheMessageOn) {
    IPLTraceContextPriv* context = NewContext();
    EXPECT_HR(context->FireMessage(1, 2), S_OK);  // nobody listens
    Log log;
    Listener a(&log, "A"), mute;
    void *cookieA = nullptr, *cookieB = nullptr, *cookie = nullptr;
    mute.answers = false;
    EXPECT_HR(context->AddListener(&mute, &cookie), E_INVALIDARG);
    ASSERT_HR(context->AddListener(&a, &cookieA), S_OK);
    IPLEventSource* source = nullptr;
    ASSERT_HR(context->QueryInterface(IID_IPLEventSource, reinterpret_cast<void**>(&source)), S_OK);
    EXPECT_HR(source->AddListener(IID_IPLCollectionListener, &a, &cookieB), E_NOINTERFACE);
    ASSERT_HR(source->AddListener(IID_IPLTraceListener, &a, &cookieB), S_OK);
    source->Release();
    EXPECT_HR(context->FireMessage(-7, 0x7FFFFFFF), S_OK);
    EXPECT_EQ(log.lines, (Lines{"A:-7,2147483647", "A:-7,2147483647"}));
    EXPECT_EQ(mute.calls, 0);
    context->RemoveListener(cookieA);
    context->RemoveListener(cookieB);
    EXPECT_EQ(a.refs + mute.refs, 2u);
    context->Release();
}

// Listener queries run under the list's lock, calls outside it: neither may deadlock when it
// comes back to the library. (Changing the list from inside a call: PLEventSourceTest.)
TEST(TraceContext, ListenersMayCallBackIntoTheLibrary) {
    IPLTraceContextPriv *context = NewContext(), *other = NewContext();
    Log log;
    Listener first(&log, "first"), inner(&log, "inner");
    void *firstCookie = nullptr, *innerCookie = nullptr;
    other->AddListener(&inner, &innerCookie);
    context->AddListener(&first, &firstCookie);
    first.onQuery = [&] { EXPECT_HR(context->RemoveListener(nullptr), E_FAIL); };
    bool once = false;
    first.onMessage = [&] {
        // Fire another context, and this one again from inside its own delivery.
        if (std::exchange(once, true)) return;
        other->FireMessage(10, 20);
        context->FireMessage(30, 40);
    };
    EXPECT_HR(context->FireMessage(1, 2), S_OK);
    EXPECT_EQ(log.lines, (Lines{"first:1,2", "inner:10,20", "first:30,40"}));
    context->RemoveListener(firstCookie);
    other->RemoveListener(innerCookie);
    EXPECT_EQ(first.refs + inner.refs, 2u);
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
    auto fire = [&] {
        while (!stop) t_firedAfterRemoval = removed.load(), context->FireMessage(1, 2);
    };
    std::thread firers[] = {std::thread(fire), std::thread(fire)};
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
