// The event source: listeners registered by interface, with snapshots for firing.
#include <algorithm>
#include <cstring>

#include "module_base/PLEventSource.h"

HRESULT CPLEventSource::RemoveListener(void* cookie) {
    std::lock_guard<Lock> guard(m_lock);
    auto it = std::find_if(m_listeners.begin(), m_listeners.end(),
                           [cookie](const ListenerRecord& r) { return r.listener == cookie; });
    if (it == m_listeners.end()) return E_FAIL;
    m_listeners.erase(it);
    return S_OK;
}

void CPLEventSource::AppendListenerRecord(IUnknown* listener, IUnknown* object, REFIID iid) {
    std::lock_guard<Lock> guard(m_lock);
    m_listeners.push_back(ListenerRecord{listener, object, iid});
}

void CPLEventSource::GetListeners(REFIID iid, Snapshot& snapshot) const {
    std::lock_guard<Lock> guard(m_lock);
    snapshot.m_objects.reserve(m_listeners.size());
    for (const ListenerRecord& record : m_listeners) {
        if (record.iid == iid) {
            record.object->AddRef();
            snapshot.m_objects.push_back(record.object);
        }
    }
}

HRESULT CPLEventSource::QueryListeners(REFIID iid, QueriedSnapshot& snapshot) const {
    std::lock_guard<Lock> guard(m_lock);
    snapshot.m_listeners.reserve(m_listeners.size());
    HRESULT status = S_OK;
    // By index, with a copy of each record: a query that comes back to this source may change
    // the list.
    for (std::size_t i = 0; i < m_listeners.size(); ++i) {
        const ListenerRecord record = m_listeners[i];
        if (record.iid != iid) continue;
        void* listener = nullptr;
        status = record.object->QueryInterface(iid, &listener);
        if (status < 0 || listener == nullptr) continue;
        try {
            snapshot.m_listeners.push_back(listener);
        } catch (...) {
            static_cast<IUnknown*>(listener)->Release();
            throw;
        }
    }
    return status;
}

std::vector<CPLEventSource::ListenerRecord> CPLEventSource::GetListenerRecords() const {
    std::lock_guard<Lock> guard(m_lock);
    return m_listeners;
}
