#include "dll_kdtrace/PLTraceContext.h"

#include <algorithm>
#include <new>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"

PL_REGISTER_CLASS(CPLTraceContext, CLSID_PLTraceContext);

namespace {
constexpr const char* kGroup = "Trace Services";
constexpr const char* kClass = "CPLTraceContext";
}  // namespace

CPLTraceContext::~CPLTraceContext() {
    if (m_properties != nullptr) m_properties->Release();
}

HRESULT CPLTraceContext::GetInterfaceID(GUID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = IID_IPLTraceContext;
    return S_OK;
}

HRESULT CPLTraceContext::GetClassID(GUID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_PLTraceContext;
    return S_OK;
}

HRESULT CPLTraceContext::GetID(ULONG* id) {
    if (id == nullptr) return E_POINTER;
    return PLGuard(kGroup, kClass, "GetID", [&](HRESULT&) { *id = m_id.load(std::memory_order_relaxed); });
}

HRESULT CPLTraceContext::SetID(ULONG id) {
    m_id.store(id, std::memory_order_relaxed);
    return S_OK;
}

HRESULT CPLTraceContext::GetName(WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return PLGuard(kGroup, kClass, "GetName", [&](HRESULT&) {
        // A copy taken under the lock: the caller's buffer is written outside it.
        PLString name;
        {
            std::lock_guard<std::mutex> guard(m_fieldLock);
            name = m_name;
        }
        // The name cut to size - 1 characters; the rest of the buffer, its last character
        // included, is zero (written with the library's own stores).
        const int32_t n = std::min<int32_t>(name.GetLength(), size - 1);
        PLCopyTextOut(buffer, name.c_str(), n);
        volatile WCHAR* rest = buffer;
        for (int32_t i = n + 1; i < size; ++i) rest[i] = 0;
    });
}

HRESULT CPLTraceContext::SetName(const WCHAR* name) {
    if (name == nullptr) return E_POINTER;
    return PLGuard(kGroup, kClass, "SetName", [&](HRESULT&) {
        PLString copy(name);  // made outside the lock
        std::lock_guard<std::mutex> guard(m_fieldLock);
        m_name = std::move(copy);
    });
}

HRESULT CPLTraceContext::GetProperties(IPLPropertyBag** bag) {
    if (bag == nullptr) return E_POINTER;
    return PLGuard(kGroup, kClass, "GetProperties", [&](HRESULT&) {
        std::lock_guard<std::mutex> guard(m_fieldLock);
        *bag = m_properties;
        if (m_properties != nullptr) m_properties->AddRef();
    });
}

HRESULT CPLTraceContext::SetProperties(IPLPropertyBag* bag) {
    if (bag == nullptr) return E_POINTER;
    return PLGuard(kGroup, kClass, "SetProperties", [&](HRESULT&) {
        bag->AddRef();
        IPLPropertyBag* previous = nullptr;
        {
            std::lock_guard<std::mutex> guard(m_fieldLock);
            previous = m_properties;
            m_properties = bag;
        }
        // Released outside the lock: the bag's destructor may call back into this context.
        if (previous != nullptr) previous->Release();
    });
}

HRESULT CPLTraceContext::FireMessage(LONG first, LONG second) {
    // The snapshot outlives the recovery point: after a fault in a listener it gives back the
    // references not yet released.
    QueriedSnapshot snapshot;
    return PLGuardCallOut(kGroup, kClass, "FireMessage", [&](HRESULT& hr) {
        hr = DeliverEvent<IPLTraceListener>(
            IID_IPLTraceListener, snapshot,
            [first, second](IPLTraceListener* listener) { listener->OnTraceMessage(first, second); });
    });
}

HRESULT CPLTraceContext::AddListener(IUnknown* listener, void** cookie) {
    return PLGuard(kGroup, kClass, "AddListener",
                   [&](HRESULT& hr) { hr = AddListener(IID_IPLTraceListener, listener, cookie); });
}

HRESULT CPLTraceContext::AddListener(REFIID iid, IUnknown* object, void** cookie) {
    if (iid != IID_IPLTraceListener) return E_NOINTERFACE;
    if (object == nullptr || cookie == nullptr) return E_POINTER;
    IUnknown* listener = nullptr;
    if (object->QueryInterface(IID_IPLTraceListener, reinterpret_cast<void**>(&listener)) < 0 || listener == nullptr)
        return E_INVALIDARG;
    // The cookie is the caller's memory: written before the registration exists, so that a fault
    // there leaves none behind.
    try {
        *cookie = listener;
        AppendListenerRecord(listener, object, iid);
    } catch (const std::bad_alloc&) {
        listener->Release();
        *cookie = nullptr;
        return E_OUTOFMEMORY;
    } catch (...) {
        listener->Release();
        throw;
    }
    // The list keeps no reference: the caller removes the listener before it goes away.
    listener->Release();
    return S_OK;
}

HRESULT CPLTraceContext::RemoveListener(void* cookie) {
    return PLGuard(kGroup, kClass, "AddListener", [&](HRESULT& hr) { hr = CPLEventSource::RemoveListener(cookie); });
}
