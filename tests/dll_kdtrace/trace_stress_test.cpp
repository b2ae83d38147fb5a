// Many threads share one module object and its contexts: they get default, named and global
// contexts, fire, add and remove listeners (some of which call back into the library), and read
// and change the shared contexts' fields, while another thread makes and drops module objects.
// Run under the tsan preset it must be free of data races; everywhere it must deliver every
// message to every listener registered for its whole length.
#include <gtest/gtest.h>

#include <thread>

#include <kdtrace/kdtrace.h>

#include "trace_fakes.h"

namespace {

IPLTraceModule* NewModule() {
    IPLModule* module = nullptr;
    EXPECT_EQ(GetPLModule(GUID_NULL, &module), S_OK);
    IPLTraceModule* trace = nullptr;
    module->QueryInterface(IID_IPLTraceModule, reinterpret_cast<void**>(&trace));
    module->Release();
    return trace;
}

TEST(TraceStress, SharedContextsUnderConcurrentUse) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 300;
    const char16_t* const kNames[] = {u"alpha", u"beta", u"gamma"};
    IPLTraceModule* trace = NewModule();
    std::atomic<int> failures{0};
    std::atomic<bool> stop{false};
    // Listeners and bags outlive the threads: another thread's delivery may still be calling a
    // listener when its own thread has removed it.
    kdtest::Listener listeners[kThreads], reentrants[kThreads];
    kdtest::PropertyBag bags[kThreads];
    static kdtest::PropertyBag s_lastBag;  // left in the global context, which lives on

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            kdtest::Listener& mine = listeners[t];
            kdtest::Listener& reentrant = reentrants[t];
            kdtest::PropertyBag& bag = bags[t];
            IPLTraceContext* global = nullptr;
            IPLTraceContext* own = nullptr;
            trace->GetGlobalContext(&global);
            trace->GetDefaultContext(&own);
            void* ownCookie = nullptr;
            own->AddListener(&reentrant, &ownCookie);
            // Called while another context fires: fires, adds and removes on shared contexts.
            reentrant.onMessage = [&] {
                void* cookie = nullptr;
                global->AddListener(&mine, &cookie);
                global->FireMessage(t, -1);
                global->RemoveListener(cookie);
            };
            for (int round = 0; round < kRounds; ++round) {
                IPLTraceContext* named = nullptr;
                if (trace->GetNamedContext(kNames[round % 3], &named) != S_OK) {
                    ++failures;
                    continue;
                }
                void* cookie = nullptr;
                named->AddListener(&mine, &cookie);
                const int before = mine.calls;
                named->FireMessage(t, round);
                if (mine.calls < before + 1) ++failures;  // its own message must reach it
                named->RemoveListener(cookie);
                named->Release();
                own->FireMessage(t, round);
                WCHAR name[16];
                global->GetName(name, 16);
                global->SetProperties(&bag);
                IPLPropertyBag* seen = nullptr;
                global->GetProperties(&seen);
                if (seen != nullptr) seen->Release();
                IPLTraceContext* again = nullptr;
                trace->GetDefaultContext(&again);
                if (again != own) ++failures;
                again->Release();
            }
            own->RemoveListener(ownCookie);
            own->Release();
            global->Release();
        });
    // Module objects come and go beside the shared one; each sees only its own contexts.
    threads.emplace_back([&] {
        IPLTraceContext* sharedNamed = nullptr;
        trace->GetNamedContext(u"alpha", &sharedNamed);
        while (!stop) {
            IPLTraceModule* other = NewModule();
            IPLTraceContext* named = nullptr;
            other->GetNamedContext(u"alpha", &named);
            if (named == sharedNamed) ++failures;
            named->Release();
            other->Release();
        }
        sharedNamed->Release();
    });
    for (int t = 0; t < kThreads; ++t) threads[static_cast<std::size_t>(t)].join();
    stop = true;
    threads.back().join();
    EXPECT_EQ(failures, 0);
    IPLTraceContext* global = nullptr;
    trace->GetGlobalContext(&global);
    global->SetProperties(&s_lastBag);
    global->Release();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(listeners[t].refs, 1u);
        EXPECT_EQ(bags[t].refs, 1u);
    }
    trace->Release();
}

}  // namespace
