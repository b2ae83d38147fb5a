// The event source: listeners registered by interface, with snapshots for firing.
#include <algorithm>

#include "module_base/PLEventSource.h"
#include "platform/Mutex.h"

HRESULT CPLEventSource::RemoveListener(void* cookie) {
    kd::platform::LockGuard<Lock> guard(m_lock);
    auto it = std::find_if(m_listeners.begin(), m_listeners.end(),
                           [cookie](const ListenerRecord& r) { return r.listener == cookie; });
    if (it == m_listeners.end()) return E_FAIL;
    m_listeners.erase(it);
    m_registered.store(m_listeners.size(), std::memory_order_release);
    return S_OK;
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
