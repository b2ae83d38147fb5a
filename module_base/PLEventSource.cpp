// The event source: listeners registered by interface, with snapshots for firing.
#include <algorithm>
#include <cstring>

#include "module_base/PLEventSource.h"
#include "platform/Mutex.h"

HRESULT CPLEventSource::RemoveListener(void* cookie) {
    kd::platform::LockGuard guard(m_lock);
    auto it = std::find_if(m_listeners.begin(), m_listeners.end(),
                           [cookie](const ListenerRecord& r) { return r.listener == cookie; });
    if (it == m_listeners.end()) return E_FAIL;
    m_listeners.erase(it);
    return S_OK;
}

void CPLEventSource::AppendListenerRecord(IUnknown* listener, IUnknown* object, REFIID iid) {
    kd::platform::LockGuard guard(m_lock);
    m_listeners.push_back(ListenerRecord{listener, object, iid});
}

void CPLEventSource::GetListeners(REFIID iid, Snapshot& snapshot) const {
    kd::platform::LockGuard guard(m_lock);
    snapshot.m_objects.reserve(m_listeners.size());
    for (const ListenerRecord& record : m_listeners) {
        if (record.iid == iid) {
            record.object->AddRef();
            snapshot.m_objects.push_back(record.object);
        }
    }
}

namespace {

// Gives the list's lock back on the way to a recovery point: the frame that holds it is
// abandoned there, so the compiler cannot see the lock held here.
void UnlockAfterFault(void* lock) NO_THREAD_SAFETY_ANALYSIS {
    static_cast<kd::platform::RecursiveMutex*>(lock)->unlock();
}

}  // namespace

HRESULT CPLEventSource::QueryListeners(REFIID iid, QueriedSnapshot& snapshot) const {
    kd::platform::LockGuard guard(m_lock);
    // A listener's QueryInterface that faults where it cannot be unwound leaves this frame
    // without its destructors: the lock is given back on the way to the recovery point.
    const kd::platform::FaultRecoveryCleanup unlockOnFault(&UnlockAfterFault, &m_lock);
    snapshot.m_listeners.reserve(m_listeners.size());
    HRESULT status = S_OK;
    // The identifier as two words, compared with each record's (this loop is the hot part of
    // every delivery).
    std::uint64_t wanted[2];
    std::memcpy(wanted, &iid, sizeof wanted);
    // By index, reading the record before the query: a query that comes back to this source
    // may change the list.
    for (std::size_t i = 0; i < m_listeners.size(); ++i) {
        const ListenerRecord& record = m_listeners[i];
        std::uint64_t recorded[2];
        std::memcpy(recorded, &record.iid, sizeof recorded);
        if (((recorded[0] ^ wanted[0]) | (recorded[1] ^ wanted[1])) != 0) continue;
        IUnknown* const object = record.object;
        void* listener = nullptr;
        status = object->QueryInterface(iid, &listener);
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
    kd::platform::LockGuard guard(m_lock);
    return m_listeners;
}
