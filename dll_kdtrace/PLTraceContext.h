// CPLTraceContext: a trace context, the object to which callers hand trace messages and through
// which those messages reach the listeners registered on it.
//
// The context neither filters nor stores messages: FireMessage passes its two values, unchanged,
// to every registered listener in registration order, on the caller's thread. Contexts handed
// out by the trace module are shared between threads, so every field is safe to read and change
// from any thread: the identifier is atomic, the name and property bag sit under a small lock,
// and the listener list is the event source's (see PLEventSource.h).
#ifndef KD_PLTRACECONTEXT_H
#define KD_PLTRACECONTEXT_H

#include <atomic>
#include <string>

#include <kdtrace/trace.h>

#include "module_base/PLComObject.h"
#include "module_base/PLEventSource.h"
#include "module_base/PLString.h"
#include "platform/Mutex.h"

class CPLTraceContext : public CPLComObject<CPLReleaseModel>, public CPLEventSource, public IPLTraceContextPriv {
    PL_BEGIN_INTERFACE_MAP(CPLTraceContext, IPLTraceContext)
    PL_INTERFACE_ENTRY(IPLTraceContextPriv)
    PL_INTERFACE_ENTRY_IID(IID_IPLTraceContext, IPLTraceContextPriv)
    PL_INTERFACE_ENTRY(IPLEventSource)
    PL_END_INTERFACE_MAP()

public:
    CPLTraceContext() noexcept = default;

    // IPLTraceContext
    HRESULT GetID(ULONG* id) override;
    HRESULT GetName(WCHAR* buffer, LONG size) override;
    HRESULT GetProperties(IPLPropertyBag** bag) override;
    HRESULT SetProperties(IPLPropertyBag* bag) override;
    HRESULT FireMessage(LONG first, LONG second) override;
    HRESULT AddListener(IUnknown* listener, void** cookie) override;
    // Serves both IPLTraceContext and IPLEventSource.
    HRESULT RemoveListener(void* cookie) override;

    // IPLTraceContextPriv
    HRESULT SetID(ULONG id) override;
    HRESULT SetName(const WCHAR* name) override;

    // IPLEventSource: accepts only IPLTraceListener.
    HRESULT AddListener(REFIID iid, IUnknown* object, void** cookie) override;

protected:
    ~CPLTraceContext() override;

private:
    class Delivery;

    // The probes that name this context (fired only while a tool watches them).
    void ProbeFire(LONG first, LONG second, std::size_t called);
    void ProbeDestroyed();

    std::atomic<ULONG> m_id{0};
    kd::platform::Mutex m_fieldLock;
    PLString m_name GUARDED_BY(m_fieldLock);
    // The name as UTF-8, made when the name is set, for the probes: a message is never converted
    // on its way to the listeners.
    std::string m_nameUtf8 GUARDED_BY(m_fieldLock);
    PLComPtr<IPLPropertyBag> m_properties GUARDED_BY(m_fieldLock);
};

#endif  // KD_PLTRACECONTEXT_H
