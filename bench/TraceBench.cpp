// Trace services against their floors:
//   FireMessage with 1 and 8 listeners, beside a loop that does the same essential work
//   directly (for each listener: QueryInterface for the listener interface, the call, Release);
//   with 1 listener also from 2 threads at once on one context (the list's lock then taken by
//   exchange), beside the same loop on each thread. A counting operator new shows the heap
//   allocations per FireMessage.
//   FireMessage without listeners, beside a call through an object's table to an empty method.
//   GetDefaultContext and GetNamedContext on a hit, from 1 and from 2 threads at once, beside a
//   floor that only hands out and drops a reference on a context. With 2 threads the
//   items_per_second figure is the sum over both threads.
//
//   GetNamedContext rotating over 10, 1,000 and 100,000 names (a host with many parts), beside
//   a floor that looks the same names up in an unordered_map under a mutex and hands out and
//   drops a reference on the context found.
//
//   build/release/bin/bench_trace
#include <benchmark/benchmark.h>

#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <kdtrace/kdtrace.h>

#include "CountingAllocator.h"

// The floor of FireMessage without listeners: a call through the table to a method that does
// nothing but return (the pointer hidden from the compiler on every round and the method kept
// out of interprocedural analysis, so that the call is neither devirtualised, inlined nor
// hoisted out of the loop, as the library's own method cannot be). The classes have external
// linkage and are not final, so that the compiler cannot know every implementation.
struct TraceBenchEmpty {
    virtual HRESULT Call(LONG, LONG) = 0;
};
struct TraceBenchEmptyImpl : TraceBenchEmpty {
    __attribute__((noipa)) HRESULT Call(LONG, LONG) override { return S_OK; }
};
static void BM_EmptyCallFloor(benchmark::State& state) {
    TraceBenchEmptyImpl impl;
    TraceBenchEmpty* object = &impl;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(object->Call(1, 2));
    }
}

namespace {

// A listener as a host writes one: atomic reference count, answers IUnknown and the listener.
// Its methods are called, never inlined into the caller's loop: the compiler would otherwise
// devirtualise and inline them into the floor (the class is final and local), which the library,
// calling the host's code through its table, can never do.
class Listener final : public IPLTraceListener {
public:
    __attribute__((noinline)) HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IPLTraceListener || iid == IID_IUnknown) {
            *object = static_cast<IPLTraceListener*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
    __attribute__((noinline)) ULONG Release() override { return m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1; }
    __attribute__((noinline)) HRESULT OnTraceMessage(LONG first, LONG second) override {
        m_sum += first + second;
        return S_OK;
    }

private:
    std::atomic<ULONG> m_refs{1};
    LONG m_sum = 0;
};

IPLTraceContext* NewContext() {
    IPLTraceContext* context = nullptr;
    PLCreateInstance(CLSID_PLTraceContext, IID_IPLTraceContext, reinterpret_cast<void**>(&context));
    return context;
}

void BM_FireMessage(benchmark::State& state) {
    std::vector<Listener> listeners(static_cast<std::size_t>(state.range(0)));
    IPLTraceContext* context = NewContext();
    std::vector<void*> cookies;
    for (Listener& l : listeners) {
        void* cookie = nullptr;
        context->AddListener(&l, &cookie);
        cookies.push_back(cookie);
    }
    const uint64_t before = AllocationCount();
    for (auto _ : state) benchmark::DoNotOptimize(context->FireMessage(1, 2));
    state.counters["allocs/iter"] =
        benchmark::Counter(static_cast<double>(AllocationCount() - before) / static_cast<double>(state.iterations()));
    for (void* cookie : cookies) context->RemoveListener(cookie);
    context->Release();
}

void BM_FireMessageFloor(benchmark::State& state) {
    std::vector<Listener> listeners(static_cast<std::size_t>(state.range(0)));
    std::vector<IUnknown*> objects;
    for (Listener& l : listeners) objects.push_back(&l);
    benchmark::DoNotOptimize(objects.data());
    for (auto _ : state) {
        for (IUnknown* object : objects) {
            IPLTraceListener* listener = nullptr;
            if (object->QueryInterface(IID_IPLTraceListener, reinterpret_cast<void**>(&listener)) >= 0) {
                listener->OnTraceMessage(1, 2);
                listener->Release();
            }
        }
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_FireMessage)->Arg(0)->Arg(1)->Arg(8);
BENCHMARK(BM_FireMessageFloor)->Arg(1)->Arg(8);

// One context shared by the threads, each with its own listener registered.
void BM_FireMessageShared(benchmark::State& state) {
    static IPLTraceContext* shared = NewContext();
    Listener listener;
    void* cookie = nullptr;
    shared->AddListener(&listener, &cookie);
    for (auto _ : state) benchmark::DoNotOptimize(shared->FireMessage(1, 2));
    shared->RemoveListener(cookie);
    state.SetItemsProcessed(state.iterations());
}
void BM_FireMessageSharedFloor(benchmark::State& state) {
    Listener listener;
    IUnknown* object = &listener;
    benchmark::DoNotOptimize(object);
    for (auto _ : state) {
        IPLTraceListener* l = nullptr;
        if (object->QueryInterface(IID_IPLTraceListener, reinterpret_cast<void**>(&l)) >= 0) {
            l->OnTraceMessage(1, 2);
            l->Release();
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FireMessageShared)->Threads(2)->UseRealTime();
BENCHMARK(BM_FireMessageSharedFloor)->Threads(2)->UseRealTime();

BENCHMARK(BM_EmptyCallFloor);

// ---- context lookups on a hit ----

IPLTraceModule* SharedModule() {
    static IPLTraceModule* trace = [] {
        IPLModule* module = nullptr;
        GetPLModule(GUID_NULL, &module);
        IPLTraceModule* t = nullptr;
        module->QueryInterface(IID_IPLTraceModule, reinterpret_cast<void**>(&t));
        module->Release();
        return t;
    }();
    return trace;
}

void BM_GetDefaultContext(benchmark::State& state) {
    IPLTraceModule* trace = SharedModule();
    IPLTraceContext* warm = nullptr;
    trace->GetDefaultContext(&warm);
    warm->Release();
    for (auto _ : state) {
        IPLTraceContext* context = nullptr;
        trace->GetDefaultContext(&context);
        context->Release();
    }
    state.SetItemsProcessed(state.iterations());
}

// Each thread asks for its own name, as separate parts of a host would.
void BM_GetNamedContext(benchmark::State& state) {
    IPLTraceModule* trace = SharedModule();
    const WCHAR* name = state.thread_index() == 0 ? u"printing.spooler" : u"printing.renderer";
    for (auto _ : state) {
        IPLTraceContext* context = nullptr;
        trace->GetNamedContext(name, &context);
        context->Release();
    }
    state.SetItemsProcessed(state.iterations());
}

// All threads ask for one name: every call adds and drops a reference on one shared object.
void BM_GetNamedContextSameName(benchmark::State& state) {
    IPLTraceModule* trace = SharedModule();
    for (auto _ : state) {
        IPLTraceContext* context = nullptr;
        trace->GetNamedContext(u"printing.spooler", &context);
        context->Release();
    }
    state.SetItemsProcessed(state.iterations());
}

// The floor of a lookup on a hit: hand out a reference to a per-thread context and drop it.
void BM_LookupFloor(benchmark::State& state) {
    static thread_local IPLTraceContext* own = NewContext();
    IPLTraceContext* context = own;
    benchmark::DoNotOptimize(context);
    for (auto _ : state) {
        context->AddRef();
        benchmark::DoNotOptimize(context);
        context->Release();
    }
    state.SetItemsProcessed(state.iterations());
}

// ---- many names ----

std::vector<std::u16string> Names(std::size_t count) {
    std::vector<std::u16string> names;
    names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string text = "printing.part." + std::to_string(i * 7919 % 1000003);
        names.emplace_back(text.begin(), text.end());
    }
    return names;
}

void BM_GetNamedContextRotating(benchmark::State& state) {
    IPLTraceModule* trace = SharedModule();
    const auto names = Names(static_cast<std::size_t>(state.range(0)));
    for (const auto& name : names) {  // made once: the loop measures hits
        IPLTraceContext* context = nullptr;
        trace->GetNamedContext(name.c_str(), &context);
        context->Release();
    }
    std::size_t i = 0;
    for (auto _ : state) {
        IPLTraceContext* context = nullptr;
        trace->GetNamedContext(names[i].c_str(), &context);
        context->Release();
        if (++i == names.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

struct ViewHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view text) const noexcept { return std::hash<std::u16string_view>{}(text); }
};
struct ViewEqual {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept { return a == b; }
};

void BM_GetNamedContextRotatingFloor(benchmark::State& state) {
    const auto names = Names(static_cast<std::size_t>(state.range(0)));
    std::unordered_map<std::u16string, IPLTraceContext*, ViewHash, ViewEqual> map;
    IPLTraceContext* shared = NewContext();
    for (const auto& name : names) map.emplace(name, shared);
    std::mutex lock;
    std::size_t i = 0;
    for (auto _ : state) {
        const WCHAR* name = names[i].c_str();
        IPLTraceContext* context = nullptr;
        {
            std::lock_guard<std::mutex> guard(lock);
            auto it = map.find(std::u16string_view(name));
            context = it->second;
            context->AddRef();
        }
        benchmark::DoNotOptimize(context);
        context->Release();
        if (++i == names.size()) i = 0;
    }
    shared->Release();
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_GetNamedContextRotating)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(BM_GetNamedContextRotatingFloor)->Arg(10)->Arg(1000)->Arg(100000);

BENCHMARK(BM_GetDefaultContext)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_GetNamedContext)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_GetNamedContextSameName)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_LookupFloor)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
