// Host-side helpers for the trace tests (public headers only, so the tests that load the module
// with dlopen can use them too): a recording listener and short ways to reach the module's
// objects and the calling thread's errors.
#ifndef KDTRACE_TESTS_TRACE_FAKES_H
#define KDTRACE_TESTS_TRACE_FAKES_H

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <kdtrace/kdtrace.h>

#include "support/ErrorList.h"
#include "support/HResult.h"
#include "support/HeapObject.h"

namespace kdtest {

// Answers IUnknown and, while `answers` is set, its interface. Lives on the test's stack: the
// count is only watched, never acted on.
template <class Interface>
class Fake : public Interface {
public:
    explicit Fake(const IID& iid) : m_iid(iid) {}
    virtual ~Fake() = default;
    HRESULT QueryInterface(REFIID iid, void** object) override { return Answer(this, iid, m_iid, answers, object); }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    std::atomic<ULONG> refs{1};
    std::atomic<bool> answers{true};

private:
    IID m_iid;
};

// Appends "tag:first,second" to a shared log for every message.
struct Log {
    std::mutex lock;
    std::vector<std::string> lines;
};

class Listener : public Fake<IPLTraceListener> {
public:
    explicit Listener(Log* log = nullptr, std::string tag = "")
        : Fake(IID_IPLTraceListener), m_log(log), m_tag(std::move(tag)) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (onQuery) onQuery();
        return Fake::QueryInterface(iid, object);
    }
    HRESULT OnTraceMessage(LONG first, LONG second) override {
        ++calls;
        if (m_log != nullptr) {
            std::lock_guard<std::mutex> guard(m_log->lock);
            m_log->lines.push_back(m_tag + ":" + std::to_string(first) + "," + std::to_string(second));
        }
        if (onMessage) onMessage();
        return E_FAIL;  // ignored by the context
    }
    std::atomic<int> calls{0};
    std::function<void()> onMessage, onQuery;

private:
    Log* m_log;
    std::string m_tag;
};

using HeapTraceListener = HeapObject<IPLTraceListener, IID_IPLTraceListener>;

// A heap listener that counts its calls.
class HeapListener final : public HeapTraceListener {
public:
    explicit HeapListener(std::atomic<int>* calls) : m_calls(calls) {}
    HRESULT OnTraceMessage(LONG, LONG) override { return m_calls->fetch_add(1, std::memory_order_relaxed), S_OK; }

private:
    ~HeapListener() override = default;
    std::atomic<int>* m_calls;
};

// A new trace module object from the linked library's or a loaded module's GetPLModule.
inline IPLTraceModule* NewTraceModule(PFN_GetPLModule getModule) {
    IPLModule* module = nullptr;
    IPLTraceModule* trace = nullptr;
    EXPECT_HR(getModule(MODULEID_PLTraceServices, &module), S_OK);
    EXPECT_HR(module->QueryInterface(IID_IPLTraceModule, reinterpret_cast<void**>(&trace)), S_OK);
    module->Release();
    return trace;
}

// The module's contexts, each with a reference for the caller (null and a failed expectation
// when refused).
inline IPLTraceContext* DefaultContext(IPLTraceModule* trace) {
    IPLTraceContext* context = nullptr;
    EXPECT_HR(trace->GetDefaultContext(&context), S_OK);
    return context;
}
inline IPLTraceContext* GlobalContext(IPLTraceModule* trace) {
    IPLTraceContext* context = nullptr;
    EXPECT_HR(trace->GetGlobalContext(&context), S_OK);
    return context;
}
inline IPLTraceContext* NamedContext(IPLTraceModule* trace, const WCHAR* name) {
    IPLTraceContext* context = nullptr;
    EXPECT_HR(trace->GetNamedContext(name, &context), S_OK);
    return context;
}

inline ULONG IdOf(IPLTraceContext* context) {
    ULONG id = 12345;
    EXPECT_HR(context->GetID(&id), S_OK);
    return id;
}

// The calling thread's errors, oldest first, as "module|class|method|message".
inline ErrorLines ThreadErrors(PFN_GetThreadError getThreadError) {
    return LinesOf(ReadThreadErrors(getThreadError));
}

}  // namespace kdtest

#endif  // KDTRACE_TESTS_TRACE_FAKES_H
