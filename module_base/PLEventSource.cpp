// The event source: listeners registered by interface, with snapshots for firing.
#include <algorithm>

#include "module_base/PLEventSource.h"
#include "platform/Mutex.h"

__thread std::uint32_t t_plDeliveryDepth __attribute__((tls_model("initial-exec"))) = 0;

HRESULT CPLEventSource::RemoveListener(void* cookie) {
    kd::platform::LockGuard<Lock> guard(m_lock);
    auto it = std::find_if(m_listeners.begin(), m_listeners.end(),
                           [cookie](const ListenerRecord& r) { return r.listener == cookie; });
    if (it == m_listeners.end()) return E_FAIL;
    m_listeners.erase(it);
    m_registered.store(m_listeners.size(), std::memory_order_release);
    // Outside any delivery this thread holds the lock once, so it can give it up to sleep.
    if (t_plDeliveryDepth == 0) WaitForDeliveries();
    return S_OK;
}

void CPLEventSource::WaitForDeliveries() {
    if (m_deliveries[0] == 0 && m_deliveries[1] == 0) return;
    // The deliveries under way count in generation `closing` (or, begun before an earlier
    // remover closed it, in the one before, which must drain before its count can be reused).
    // Closing `closing` makes new deliveries count in the next; once it is closed, this thread
    // is done when it has drained, or when another remover has closed the next one too (which
    // needs it drained).
    const std::uint64_t closing = m_generation;
    ++m_removersWaiting;
    for (;;) {
        if (m_generation == closing) {
            if (m_deliveries[(closing + 1) & 1] == 0) {
                ++m_generation;
                continue;
            }
        } else if (m_generation > closing + 1 || m_deliveries[closing & 1] == 0) {
            break;
        }
        const std::uint32_t seen = m_drained.load(std::memory_order_relaxed);
        m_lock.unlock();
        kd::platform::FutexWait(m_drained, seen);
        m_lock.lock();
    }
    --m_removersWaiting;
}

void CPLEventSource::AppendListenerRecord(IUnknown* listener, IUnknown* object, REFIID iid) {
    kd::platform::LockGuard<Lock> guard(m_lock);
    m_listeners.push_back(ListenerRecord{listener, object, iid});
    m_registered.store(m_listeners.size(), std::memory_order_release);
}

void CPLEventSource::GetListeners(REFIID iid, Snapshot& snapshot) const {
    kd::platform::LockGuard<Lock> guard(m_lock);
    snapshot.m_objects.reserve(m_listeners.size());
    for (const ListenerRecord& record : m_listeners) {
        if (record.iid == iid) {
            record.object->AddRef();
            snapshot.m_objects.push_back(record.object);
        }
    }
}

HRESULT CPLEventSource::QueryListeners(REFIID iid, QueriedSnapshot& snapshot) const {
    return QueryListenersInline(iid, snapshot);
}

void CPLEventSource::GrowSnapshot(QueriedSnapshot& snapshot, void* listener) {
    try {
        snapshot.m_listeners.reserve(snapshot.m_listeners.size() + 1);
    } catch (...) {
        static_cast<IUnknown*>(listener)->Release();
        throw;
    }
}

std::vector<CPLEventSource::ListenerRecord> CPLEventSource::GetListenerRecords() const {
    kd::platform::LockGuard<Lock> guard(m_lock);
    return m_listeners;
}
