// Host-side fakes shared by the trace tests: a recording listener, a property bag that only
// counts references, and a reader for the calling thread's error list. They use only the public
// headers, so both the unit tests and the tests that load the module with dlopen can use them.
#ifndef KDTRACE_TESTS_TRACE_FAKES_H
#define KDTRACE_TESTS_TRACE_FAKES_H

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <kdtrace/kdtrace.h>

namespace kdtest {

// A reference-counted object that answers IUnknown and, while `answers` is set, Interface.
template <class Interface>
class Fake : public Interface {
public:
    explicit Fake(const IID& iid) : m_iid(iid) {}
    virtual ~Fake() = default;
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || (iid == m_iid && answers)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }  // objects live on the test's stack
    std::atomic<ULONG> refs{1};
    std::atomic<bool> answers{true};

private:
    IID m_iid;
};

// Records every message as "tag:first,second" into a shared log.
struct Log {
    std::mutex lock;
    std::vector<std::string> lines;
    void Add(std::string line) {
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back(std::move(line));
    }
};

class Listener : public Fake<IPLTraceListener> {
public:
    Listener(Log* log = nullptr, std::string tag = "")
        : Fake(IID_IPLTraceListener), m_log(log), m_tag(tag) {}
    HRESULT OnTraceMessage(LONG first, LONG second) override {
        ++calls;
        if (m_log != nullptr)
            m_log->Add(m_tag + ":" + std::to_string(first) + "," + std::to_string(second));
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

// One recorded error, as the thread's error list holds it.
struct ErrorRecord {
    std::u16string module, className, method, message;
    HRESULT result = S_OK;
};

// The calling thread's error list, newest first, through the given GetThreadError.
inline std::vector<ErrorRecord> ThreadErrors(HRESULT (*getThreadError)(IPLErrorInfo**)) {
    std::vector<ErrorRecord> records;
    IPLErrorInfo* info = nullptr;
    if (getThreadError(&info) < 0 || info == nullptr) return records;
    LONG count = 0;
    info->GetCount(&count);
    for (LONG i = 0; i < count; ++i) {
        IPLErrorItem* item = nullptr;
        if (info->GetItem(i, &item) < 0) continue;
        WCHAR buffer[512];
        ErrorRecord r;
        item->GetModuleName(buffer, 512), r.module = buffer;
        item->GetClassName(buffer, 512), r.className = buffer;
        item->GetMethodName(buffer, 512), r.method = buffer;
        item->GetMessage(buffer, 512), r.message = buffer;
        item->GetHRESULT(&r.result);
        item->Release();
        records.push_back(r);
    }
    info->Release();
    return records;
}

}  // namespace kdtest

#endif  // KDTRACE_TESTS_TRACE_FAKES_H
