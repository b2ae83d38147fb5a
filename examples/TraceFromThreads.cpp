// Traces a named context from several threads: every thread fires messages on the context
// "example.orders", and one listener receives each of them on the thread that fired it. Each
// thread also has a default context of its own, whose identifier is its thread identifier.
//
//   example_trace_from_threads [MODULE]     (MODULE: the module to load; see Module::DefaultPath)
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <kdtrace/host.h>
#include <kdtrace/kdtrace.h>

using kdtrace::host::ComPtr;

namespace {

// A listener the host implements: it answers IUnknown and IPLTraceListener. It lives on the
// stack of main, and the context keeps no reference to it, so it is removed before it goes.
class OrderListener : public IPLTraceListener {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid != IID_IUnknown && iid != IID_IPLTraceListener) return E_NOINTERFACE;
        *object = static_cast<IPLTraceListener*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override { return --m_refs; }

    // Called on the firing thread, before FireMessage returns: (order number, quantity).
    HRESULT OnTraceMessage(LONG order, LONG quantity) override {
        ++messages;
        units += quantity;
        if (order % 1000 == 0) {
            std::lock_guard<std::mutex> lock(m_print);
            std::printf("  order %d: %d units\n", order, quantity);
        }
        return S_OK;
    }

    std::atomic<int> messages{0};
    std::atomic<long long> units{0};

private:
    std::atomic<ULONG> m_refs{1};
    std::mutex m_print;
};

}  // namespace

int main(int argc, char** argv) {
    kdtrace::host::Module module;
#ifdef KDTRACE_EXAMPLE_LINKED
    module = kdtrace::host::Module::Linked();  // this build links the module (kdtrace::kdtrace)
#else
    if (!module.Load(argc > 1 ? argv[1] : "")) {
        std::fprintf(stderr, "%s\n", module.Error().c_str());
        return 1;
    }
#endif
    (void)argc, (void)argv;

    HRESULT hr = S_OK;
    ComPtr<IPLTraceModule> trace = module.OpenTraceModule(&hr);
    if (!trace) {
        std::fprintf(stderr, "no trace services: %s\n", kdtrace::host::HResultText(hr).c_str());
        return 1;
    }
    ComPtr<IPLTraceContext> orders;
    if (FAILED(trace->GetNamedContext(u"example.orders", orders.Put()))) {
        std::fprintf(stderr, "%s", module.TakeErrorText().c_str());
        return 1;
    }

    OrderListener listener;
    void* cookie = nullptr;
    orders->AddListener(&listener, &cookie);

    constexpr int kThreads = 4, kOrders = 2500;
    std::atomic<int> ownIds{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            // The thread's own context: made on its first request, named by nothing, identified
            // by the thread.
            ComPtr<IPLTraceContext> own;
            ULONG id = 0;
            if (SUCCEEDED(trace->GetDefaultContext(own.Put())) && SUCCEEDED(own->GetID(&id)) && id != 0) ++ownIds;
            for (int i = 1; i <= kOrders; ++i) orders->FireMessage(t * kOrders + i, 2);
        });
    for (std::thread& thread : threads) thread.join();

    orders->RemoveListener(cookie);
    orders->FireMessage(0, 1000);  // nobody listens any more

    WCHAR name[64];
    orders->GetName(name, 64);
    std::printf("context \"%s\": %d messages, %lld units, from %d threads with contexts of their own\n",
                kdtrace::host::ToUtf8(name).c_str(), listener.messages.load(), listener.units.load(), ownIds.load());
    const bool ok =
        listener.messages == kThreads * kOrders && listener.units == 2LL * kThreads * kOrders && ownIds == kThreads;
    std::puts(ok ? "ok" : "MISMATCH");
    return ok ? 0 : 1;
}
