#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <kdtrace/kdtrace.h>

#include "support/HResult.h"
#include "support/Process.h"
#include "support/TraceFakes.h"
#include "tests/module_base/StreamTestSupport.h"

#ifdef KDTEST_ASAN
extern "C" void __asan_handle_no_return();
#endif

namespace {

using kdtest::Listener, kdtest::Log;
using Lines = std::vector<std::string>;

IPLTraceContextPriv* NewContext() {
    return kdtest::New<IPLTraceContextPriv>(CLSID_PLTraceContext).Detach();
}

// One reference on the bag, also when given the same bag twice; dropped for a new bag and at
// destruction (a reference too many or too few shows as a count that does not reach zero, or as
// a use after free).
TEST(TraceContext, KeepsOneReferenceOnItsBagAndTakesOnlyTraceListeners) {
    IPLTraceContextPriv* context = NewContext();
    IPLPropertyBag *first = nullptr, *second = nullptr, *bag = nullptr;
    ASSERT_TRUE(PLCreatePropertyBag(&first) == S_OK && PLCreatePropertyBag(&second) == S_OK);
    context->SetProperties(first);
    context->SetProperties(first);
    EXPECT_HR(context->GetProperties(&bag), S_OK);
    EXPECT_EQ(bag, first);
    EXPECT_EQ(bag->Release(), 2u);
    context->SetProperties(second);
    EXPECT_EQ(first->Release(), 0u);

    // Missing arguments and places for results are refused.
    WCHAR name[1];
    void* cookie = nullptr;
    for (const HRESULT hr : {context->GetID(nullptr), context->GetName(nullptr, 4), context->SetName(nullptr),
                             context->GetProperties(nullptr), context->SetProperties(nullptr),
                             context->AddListener(nullptr, &cookie), context->AddListener(second, nullptr)})
        EXPECT_HR(hr, E_POINTER);
    EXPECT_HR(context->GetName(name, 0), E_INVALIDARG);

    // Only trace listeners are taken, on either path, and each hears the message unchanged.
    // (Order, removal by cookie, the last query's status and the snapshot are the event source's,
    // checked in PLEventSourceTest.)
    EXPECT_HR(context->FireMessage(1, 2), S_OK);  // nobody listens
    Log log;
    Listener a(&log, "A"), mute;
    void *cookieA = nullptr, *cookieB = nullptr;
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
    for (void* cookie : {cookieA, cookieB}) context->RemoveListener(cookie);
    EXPECT_EQ(a.refs + mute.refs, 2u);
    EXPECT_EQ(context->Release(), 0u);
    EXPECT_EQ(second->Release(), 0u);
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
    for (IPLTraceContextPriv* c : {other, context}) c->Release();
}

// A host may destroy a listener as soon as RemoveListener returns, whatever its reference count
// says (a listener on the stack): threads fire while others add, fire at, remove and at once
// delete heap listeners, or give back the last reference of listeners freed at count zero (as
// hosts write them), so a late query, call or release is a use after free (AddressSanitizer,
// ThreadSanitizer). Each listener hears the message its own thread fired while it was added.
TEST(TraceContext, AListenerDestroyedRightAfterRemovalIsNeverCalledAgain) {
    IPLTraceContextPriv* context = NewContext();
    Listener resident;  // keeps every delivery busy with a call of its own
    void* residentCookie = nullptr;
    context->AddListener(&resident, &residentCookie);
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    auto fire = [&] {
        while (!stop) failures += context->FireMessage(1, 2) != S_OK;
    };
    auto churn = [&] {
        for (int round = 0; round < 300; ++round) {
            std::atomic<int> heard{0};
            Listener* plain = round % 2 == 0 ? new Listener : nullptr;
            IPLTraceListener* listener = plain;
            if (plain == nullptr) listener = new kdtest::HeapListener(&heard);
            void* cookie = nullptr;
            failures += context->AddListener(listener, &cookie) != S_OK;
            std::this_thread::yield();
            failures += context->FireMessage(3, round) != S_OK || (plain != nullptr ? plain->calls : heard) < 1;
            failures += context->RemoveListener(cookie) != S_OK;
            if (plain != nullptr)
                delete plain;
            else
                listener->Release();
        }
    };
    std::thread firers[] = {std::thread(fire), std::thread(fire)};
    std::thread churners[] = {std::thread(churn), std::thread(churn)};
    for (auto& t : churners) t.join();
    stop = true;
    for (auto& t : firers) t.join();
    EXPECT_EQ(failures, 0);
    context->RemoveListener(residentCookie);
    EXPECT_EQ(resident.refs, 1u);
    context->Release();
}

// RemoveListener from outside a delivery returns only once a delivery another thread began
// before it has given the listener back, while deliveries that begin later (on a third thread)
// do not keep it waiting. From inside a listener it does not wait: two listeners that remove
// each other on two threads at once would otherwise wait for each other for ever.
TEST(TraceContext, RemovalWaitsForEarlierDeliveriesOnlyFromOutsideAListener) {
    IPLTraceContextPriv* context = NewContext();
    Listener slow, busy;
    std::atomic<bool> inside{false}, letGo{false}, removed{false};
    slow.onMessage = [&] {
        if (inside.exchange(true)) return;
        while (!letGo) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    void *slowCookie = nullptr, *busyCookie = nullptr;
    context->AddListener(&slow, &slowCookie);
    std::thread first([&] { context->FireMessage(1, 2); });
    while (!inside) std::this_thread::yield();
    context->AddListener(&busy, &busyCookie);
    ULONG refsOnReturn = 0;
    std::thread remover([&] {
        EXPECT_HR(context->RemoveListener(slowCookie), S_OK);
        refsOnReturn = slow.refs;
        removed = true;
    });
    std::thread later([&] {
        while (!removed) context->FireMessage(3, 4);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(removed);
    letGo = true;
    for (std::thread* t : {&first, &remover, &later}) t->join();
    EXPECT_EQ(refsOnReturn, 1u);  // the delivery's reference was back before RemoveListener returned
    context->RemoveListener(busyCookie);

    // Two contexts, a listener on each that removes the other's listener while both are inside.
    IPLTraceContextPriv* other = NewContext();
    Listener a, b;
    void *cookieA = nullptr, *cookieB = nullptr;
    context->AddListener(&a, &cookieA);
    other->AddListener(&b, &cookieB);
    std::atomic<int> arrived{0};
    auto removeTheOther = [&](IPLTraceContextPriv* from, void* cookie) {
        ++arrived;
        while (arrived < 2) std::this_thread::yield();
        EXPECT_HR(from->RemoveListener(cookie), S_OK);
    };
    a.onMessage = [&] { removeTheOther(other, cookieB); };
    b.onMessage = [&] { removeTheOther(context, cookieA); };
    std::thread fireA([&] { context->FireMessage(5, 6); }), fireB([&] { other->FireMessage(7, 8); });
    for (std::thread* t : {&fireA, &fireB}) t->join();
    EXPECT_EQ(a.calls + b.calls, 2);
    for (IPLTraceContextPriv* c : {other, context}) c->Release();
}

// A listener ends its thread from inside a delivery: pthread_exit, or a cancellation it acts on,
// in its QueryInterface (under the list's lock) or its OnTraceMessage. The thread ends, its
// references go back, and the context and the process live on: others fire, add and remove.
TEST(TraceContext, AListenerMayEndTheThreadThatFires) {
    enum How { kExit, kCancel };
    for (const auto& [how, inQuery] : {std::pair{kExit, true}, {kExit, false}, {kCancel, true}, {kCancel, false}}) {
        IPLTraceContextPriv* context = NewContext();
        Listener ender, other;
        void *enderCookie = nullptr, *otherCookie = nullptr;
        context->AddListener(&other, &otherCookie);
        context->AddListener(&ender, &enderCookie);
        static thread_local bool t_ending = false;
        auto end = [how = how] {
            if (!t_ending) return;
            if (how == kExit) ::pthread_exit(nullptr);
            ::pthread_cancel(::pthread_self());
#ifdef KDTEST_ASAN
            // pthread_testcancel is not declared not to return, so the sanitizer does not clear
            // the stack's redzones before it as it does before pthread_exit; its runtime then
            // trips over them while the unwinding passes instrumented frames.
            __asan_handle_no_return();
#endif
            ::pthread_testcancel();
        };
        (inQuery ? ender.onQuery : ender.onMessage) = end;
        auto fireAndEnd = [](void* c) -> void* {
            t_ending = true;
            static_cast<IPLTraceContextPriv*>(c)->FireMessage(1, 2);
            ADD_FAILURE() << "the thread went on";
            return nullptr;
        };
        pthread_t thread{};
        ASSERT_EQ(::pthread_create(&thread, nullptr, fireAndEnd, context), 0);
        ::pthread_join(thread, nullptr);
        EXPECT_EQ(ender.refs + other.refs, 2u) << how << inQuery;
        std::thread([&] { context->FireMessage(3, 4); }).join();
        context->FireMessage(5, 6);
        EXPECT_EQ(ender.calls, inQuery ? 2 : 3) << how << inQuery;
        for (void* cookie : {enderCookie, otherCookie}) EXPECT_HR(context->RemoveListener(cookie), S_OK);
        context->Release();
    }
}

}  // namespace
