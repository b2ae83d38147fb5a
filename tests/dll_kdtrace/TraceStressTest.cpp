// Threads share one module object and its contexts: they get default, named and global contexts,
// fire, add and remove listeners (one of which fires, adds and removes from inside its call) and
// change the shared global context's bag, while another thread makes and drops module objects.
// Under the tsan preset it must be free of data races; everywhere, every message reaches every
// listener registered for its whole length.
#include <gtest/gtest.h>

#include <thread>

#include <kdtrace/kdtrace.h>

#include "module_base/PLComObject.h"
#include "support/PropertyBagOf.h"
#include "support/TraceFakes.h"

namespace {

TEST(TraceStress, SharedContextsUnderConcurrentUse) {
    constexpr int kThreads = 4;
    const char16_t* const kNames[] = {u"alpha", u"beta", u"gamma"};
    IPLTraceModule* trace = kdtest::NewTraceModule(&GetPLModule);
    std::atomic<int> failures{0};
    std::atomic<bool> stop{false};
    // Listeners outlive the threads: another thread's delivery may still be calling a listener
    // whose own thread has removed it.
    kdtest::Listener listeners[kThreads], reentrants[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            IPLTraceContext *global = kdtest::GlobalContext(trace), *own = kdtest::DefaultContext(trace);
            void* ownCookie = nullptr;
            own->AddListener(&reentrants[t], &ownCookie);
            reentrants[t].onMessage = [&] {
                void* cookie = nullptr;
                global->AddListener(&listeners[t], &cookie);
                global->FireMessage(t, -1);
                global->RemoveListener(cookie);
            };
            for (int round = 0; round < 300; ++round) {
                IPLTraceContext* named = kdtest::NamedContext(trace, kNames[round % 3]);
                void* cookie = nullptr;
                named->AddListener(&listeners[t], &cookie);
                const int before = listeners[t].calls;
                named->FireMessage(t, round);
                failures += listeners[t].calls < before + 1;  // its own message reached it
                named->RemoveListener(cookie);
                named->Release();
                own->FireMessage(t, round);
                // Each thread's bag replaces (and so may end) another's while others read it.
                global->SetProperties(kdtest::BagOf({}).Get());
                PLComPtr<IPLPropertyBag> current;
                global->GetProperties(current.Put());
                BOOL contains = TRUE;
                failures += !current || current->ContainsKey(u"x", &contains) != S_FALSE;
            }
            own->RemoveListener(ownCookie);
            for (IPLTraceContext* c : {own, global}) c->Release();
        });
    threads.emplace_back([&] {  // module objects that come and go see only their own contexts
        IPLTraceContext* shared = kdtest::NamedContext(trace, u"alpha");
        while (!stop) {
            IPLTraceModule* other = kdtest::NewTraceModule(&GetPLModule);
            IPLTraceContext* named = kdtest::NamedContext(other, u"alpha");
            failures += named == shared;
            named->Release();
            other->Release();
        }
        shared->Release();
    });
    for (int t = 0; t < kThreads; ++t) threads[static_cast<std::size_t>(t)].join();
    stop = true;
    threads.back().join();
    EXPECT_EQ(failures, 0);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(listeners[t].refs, 1u);
    trace->Release();
}

}  // namespace
