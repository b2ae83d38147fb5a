// Host-side fakes for the trace tests (public headers only, so the tests that load the module
// with dlopen can use them too): a recording listener, a bag that only counts references, and
// a reader of the calling thread's error list.
#ifndef KDTRACE_TESTS_TRACE_FAKES_H
#define KDTRACE_TESTS_TRACE_FAKES_H

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <kdtrace/kdtrace.h>

namespace kdtest {

// Answers IUnknown and, while `answers` is set, its interface. Lives on the test's stack: the
// count is only watched, never acted on.
template <class Interface>
class Fake : public Interface {
public:
    explicit Fake(const IID& iid) : m_iid(iid) {}
    virtual ~Fake() = default;
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid != IID_IUnknown && (iid != m_iid || !answers)) return E_NOINTERFACE;
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
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
    std::function<void()> onMessage;

private:
    Log* m_log;
    std::string m_tag;
};

class PropertyBag : public Fake<IPLPropertyBag> {
public:
    PropertyBag() : Fake(IID_IPLPropertyBag) {}
    HRESULT SetProperty(const WCHAR*, IPLVariant*) override { return E_NOTIMPL; }
    HRESULT GetProperty(const WCHAR*, IPLVariant**) override { return E_NOTIMPL; }
    HRESULT GetProperties(IPLPropertyCollection**) override { return E_NOTIMPL; }
    HRESULT ContainsKey(const WCHAR*, BOOL*) override { return E_NOTIMPL; }
    HRESULT DeleteProperty(const WCHAR*) override { return E_NOTIMPL; }
};

// The calling thread's error list, newest first, as "module|class|method|message".
inline std::vector<std::u16string> ThreadErrors(HRESULT (*getThreadError)(IPLErrorInfo**)) {
    std::vector<std::u16string> records;
    IPLErrorInfo* info = nullptr;
    if (getThreadError(&info) < 0 || info == nullptr) return records;
    LONG count = 0;
    info->GetCount(&count);
    for (LONG i = 0; i < count; ++i) {
        IPLErrorItem* item = nullptr;
        if (info->GetItem(i, &item) < 0) continue;
        WCHAR module[64], className[64], method[128], message[256];
        item->GetModuleName(module, 64), item->GetClassName(className, 64);
        item->GetMethodName(method, 128), item->GetMessage(message, 256);
        records.push_back(std::u16string(module) + u"|" + className + u"|" + method + u"|" + message);
        item->Release();
    }
    info->Release();
    return records;
}

}  // namespace kdtest

#endif  // KDTRACE_TESTS_TRACE_FAKES_H
