#include "dll_kdtrace/PLTraceContext.h"

#include <algorithm>
#include <new>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "platform/Mutex.h"
#include "platform/Probes.h"
#include "platform/Text.h"

PL_REGISTER_CLASS(CPLTraceContext, CLSID_PLTraceContext);

namespace {
constexpr const char* kGroup = "Trace Services";
}  // namespace

CPLTraceContext::~CPLTraceContext() {
    if (KD_PROBE_ENABLED(context_destroyed)) ProbeDestroyed();
}

void CPLTraceContext::ProbeDestroyed() {
    kd::platform::LockGuard guard(m_fieldLock);
    KD_PROBE_CONTEXT_DESTROYED(m_nameUtf8.c_str(), m_id.load(std::memory_order_relaxed));
}

void CPLTraceContext::ProbeFire(LONG first, LONG second, std::size_t called) {
    // The name is read where it lies, under the lock, while the probe takes its arguments.
    kd::platform::LockGuard guard(m_fieldLock);
    KD_PROBE_FIRE(m_nameUtf8.c_str(), m_id.load(std::memory_order_relaxed), first, second, called);
}

HRESULT CPLTraceContext::GetID(ULONG* id) {
    if (id == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { *id = m_id.load(std::memory_order_relaxed); });
}

HRESULT CPLTraceContext::SetID(ULONG id) {
    m_id.store(id, std::memory_order_relaxed);
    return S_OK;
}

HRESULT CPLTraceContext::GetName(WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        // A copy taken under the lock: the caller's buffer is written outside it.
        PLString name;
        {
            kd::platform::LockGuard guard(m_fieldLock);
            name = m_name;
        }
        PLCopyTextToBuffer(buffer, size, name.c_str(), name.GetLength(), PLTruncation::ZeroFill);
    });
}

HRESULT CPLTraceContext::SetName(const WCHAR* name) {
    if (name == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        // Both forms made outside the lock.
        PLString copy(name);
        std::string utf8 = kd::platform::Utf16ToUtf8(std::u16string_view(copy.c_str(), copy.GetLength()));
        kd::platform::LockGuard guard(m_fieldLock);
        m_name = std::move(copy);
        m_nameUtf8 = std::move(utf8);
    });
}

HRESULT CPLTraceContext::GetProperties(IPLPropertyBag** bag) {
    if (bag == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        PLComPtr<IPLPropertyBag> held;
        {
            kd::platform::LockGuard guard(m_fieldLock);
            held = m_properties;
        }
        *bag = held.Get();  // stored before the reference passes: an unwritable `bag` leaks none
        held.Detach();
    });
}

HRESULT CPLTraceContext::SetProperties(IPLPropertyBag* bag) {
    if (bag == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        // The caller's object is touched outside PLComPtr's noexcept members, so that an
        // unreadable one arrives at the edge as a translated fault.
        bag->AddRef();
        PLComPtr<IPLPropertyBag> held = PLComPtr<IPLPropertyBag>::Adopt(bag);
        {
            kd::platform::LockGuard guard(m_fieldLock);
            held.Swap(m_properties);
        }
        // The previous bag goes with `held`, outside the lock: its end may call back into this
        // context.
    });
}

// One delivery of a message: the snapshot of its listeners, and, once they have been called (or
// the delivery ended early), the fire probe with the number of listeners whose call returned.
class CPLTraceContext::Delivery : public CPLEventSource::QueriedSnapshot {
public:
    Delivery(CPLTraceContext* context, LONG first, LONG second) noexcept
        : m_context(context), m_first(first), m_second(second) {}
    ~Delivery() {
        if (KD_PROBE_ENABLED(fire)) m_context->ProbeFire(m_first, m_second, delivered());
    }
    Delivery(const Delivery&) = delete;
    Delivery& operator=(const Delivery&) = delete;

private:
    CPLTraceContext* const m_context;
    const LONG m_first;
    const LONG m_second;
};

HRESULT CPLTraceContext::FireMessage(LONG first, LONG second) {
    // Without listeners there is nothing that could fail or fault. The delivery is a frame of its
    // own, so that this test (and the probe's) is all a context nobody listens to costs.
    if (!HasListeners()) {
        if (KD_PROBE_ENABLED(fire)) ProbeFire(first, second, 0);
        return S_OK;
    }
    static constexpr PLGuardSite kSite = PL_GUARD_SITE(kGroup);
    // The snapshot lives in the guard's frame, outside its recovery point: after a fault in a
    // listener it gives back the references not yet released, and ends the delivery.
    return PLGuardCallOutWith<Delivery>(
        kSite,
        [this, first, second](Delivery& delivery, HRESULT& hr) {
            hr = DeliverEvent<IPLTraceListener>(
                IID_IPLTraceListener, delivery,
                [first, second](IPLTraceListener* listener) { listener->OnTraceMessage(first, second); });
        },
        this, first, second);
}

HRESULT CPLTraceContext::AddListener(IUnknown* listener, void** cookie) {
    return ::PLGuard(PL_GUARD_SITE(kGroup),
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
    if (KD_PROBE_ENABLED(listener_added)) KD_PROBE_LISTENER_ADDED(m_id.load(std::memory_order_relaxed), listener);
    return S_OK;
}

HRESULT CPLTraceContext::RemoveListener(void* cookie) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        hr = CPLEventSource::RemoveListener(cookie);
        if (hr >= 0 && KD_PROBE_ENABLED(listener_removed))
            KD_PROBE_LISTENER_REMOVED(m_id.load(std::memory_order_relaxed), cookie);
    });
}
