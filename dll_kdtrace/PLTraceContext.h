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
#include <mutex>

#include <kdtrace/trace.h>

#include "module_base/PLComObject.h"
#include "module_base/PLEventSource.h"
#include "module_base/PLString.h"

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
    ~CPLTraceContext() override = default;

private:
    std::atomic<ULONG> m_id{0};
    std::mutex m_fieldLock;  // guards m_name and m_properties
    PLString m_name;
    PLComPtr<IPLPropertyBag> m_properties;
};

#endif  // KD_PLTRACECONTEXT_H
