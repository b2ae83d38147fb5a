// CPLEventSource: a listener list with the firing rule shared by every object that notifies.
//
// A registration keeps the pointer the object returned for the listener interface (which is
// also the cookie), the object itself and the interface identifier; it holds no reference.
// Firing takes a snapshot of the matching registrations under a short lock, querying each
// registered object for the listener interface as it goes (no heap allocation for up to eight
// listeners), then, outside the lock and in registration order, calls each listener and gives
// back the reference its query added. Those references keep a listener that another thread
// removes and releases during the delivery alive until its call returns; a listener removed
// before the snapshot is taken is never called. Listeners may add and remove listeners, on
// this or any other source, and fire again from inside a call.
//
// The queries run under the list's lock, a recursive one (a QueryInterface that comes back to
// this source does not deadlock): querying there gives the snapshot its references for free,
// where holding a reference of the snapshot's own on each object besides would double the
// atomic operations of every delivery. The lock (CPLListenerLock) costs no atomic operation
// while one thread uses the list and one per acquisition once several do; its waiters yield
// rather than sleep, so a listener's QueryInterface must not wait for another thread, as COM
// rules already ask of it.
#ifndef KD_PLEVENTSOURCE_H
#define KD_PLEVENTSOURCE_H

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include <kdtrace/object.h>
#include <kdtrace/types.h>

#include "module_base/PLListenerLock.h"
#include "module_base/PLSEHException.h"
#include "module_base/PLSmallVector.h"
#include "platform/Mutex.h"

class CPLEventSource : public IPLEventSource {
public:
    struct ListenerRecord {
        IUnknown* listener;  // the queried listener pointer; doubles as the cookie
        IUnknown* object;    // the object passed to AddListener
        IID iid;
    };
    // Objects registered for one interface, each holding a reference until the snapshot dies.
    class Snapshot {
    public:
        Snapshot() = default;
        Snapshot(const Snapshot&) = delete;
        Snapshot& operator=(const Snapshot&) = delete;
        ~Snapshot() {
            for (IUnknown* object : m_objects) object->Release();
        }
        std::size_t size() const noexcept { return m_objects.size(); }
        IUnknown* const* begin() const noexcept { return m_objects.begin(); }
        IUnknown* const* end() const noexcept { return m_objects.end(); }

    private:
        friend class CPLEventSource;
        PLSmallVector<IUnknown*, 8> m_objects;
    };

    // Listener pointers queried from the registered objects, each holding the reference its
    // query added until it is released (after its call, or when the snapshot dies).
    class QueriedSnapshot {
    public:
        QueriedSnapshot() = default;
        QueriedSnapshot(const QueriedSnapshot&) = delete;
        QueriedSnapshot& operator=(const QueriedSnapshot&) = delete;
        ~QueriedSnapshot() {
            // Those not yet delivered, when a delivery ended early.
            for (std::size_t i = m_delivered; i < m_listeners.size(); ++i)
                static_cast<IUnknown*>(m_listeners[i])->Release();
        }
        std::size_t size() const noexcept { return m_listeners.size(); }
        bool on_heap() const noexcept { return m_listeners.on_heap(); }

    private:
        friend class CPLEventSource;
        PLSmallVector<void*, 8> m_listeners;
        std::size_t m_delivered = 0;  // entries whose reference is already given back
    };

    CPLEventSource() = default;
    CPLEventSource(const CPLEventSource&) = delete;
    CPLEventSource& operator=(const CPLEventSource&) = delete;
    virtual ~CPLEventSource() = default;

    // Removes the first registration whose listener pointer equals the cookie: S_OK, or E_FAIL.
    HRESULT RemoveListener(void* cookie) override;

    // Appends a registration. The deriving class's AddListener checks the identifier and queries
    // the object first.
    void AppendListenerRecord(IUnknown* listener, IUnknown* object, REFIID iid);
    // The snapshot of the objects registered for `iid`, in registration order.
    void GetListeners(REFIID iid, Snapshot& snapshot) const;
    // Queries each object registered for `iid`, in registration order and under the list's lock,
    // into the snapshot. Returns the result of the last query (S_OK without listeners); a
    // failing query leaves no entry.
    HRESULT QueryListeners(REFIID iid, QueriedSnapshot& snapshot) const;
    // Copies of all registrations (for inspection).
    std::vector<ListenerRecord> GetListenerRecords() const;

    // Calls `call(listener)` for each registration for `iid`, with the listener interface queried
    // from the registered object and released afterwards. Returns the result of the last query
    // (S_OK without listeners); a failing query skips its registration.
    // The listeners' code runs under one recovery point (PLCallOut): a processor fault in it
    // ends the delivery as a translated fault, whether or not the host can unwind it.
    template <class Listener, class Call>
    HRESULT FireEvent(REFIID iid, Call&& call) const {
        // Nothing registered (a registration racing with this call may or may not be told).
        if (m_registered.load(std::memory_order_acquire) == 0) return S_OK;
        QueriedSnapshot snapshot;
        HRESULT status = S_OK;
        PLCallOut([&] { status = DeliverEvent<Listener>(iid, snapshot, call); });
        return status;
    }

    // FireEvent for a caller that sets the recovery point itself (PLGuardCallOut) and keeps the
    // snapshot outside it, so that a fault gives back the references not yet released.
    template <class Listener, class Call>
    HRESULT DeliverEvent(REFIID iid, QueriedSnapshot& snapshot, Call&& call) const {
        const HRESULT status = QueryListenersInline(iid, snapshot);
        void* const* entries = snapshot.m_listeners.data();
        const std::size_t count = snapshot.m_listeners.size();
        // Each listener's reference goes back as soon as its call returns, as a caller holding
        // the listener itself would do it.
        for (std::size_t i = 0; i < count; ++i) {
            Listener* listener = static_cast<Listener*>(entries[i]);
            call(listener);
            snapshot.m_delivered = i + 1;
            listener->Release();
        }
        return status;
    }

private:
    using Lock = CPLListenerLock;

    // QueryListeners, inline for the deliveries.
    HRESULT QueryListenersInline(REFIID iid, QueriedSnapshot& snapshot) const {
        LockGuardWithRecovery guard(m_lock);
        HRESULT status = S_OK;
        // The identifier as two words, compared with each record's.
        std::uint64_t wanted[2];
        std::memcpy(wanted, &iid, sizeof wanted);
        // By index, reading the record before the query: a query that comes back to this source
        // may change the list.
        for (std::size_t i = 0; i < m_listeners.size(); ++i) {
            const ListenerRecord& record = m_listeners[i];
            std::uint64_t recorded[2];
            std::memcpy(recorded, &record.iid, sizeof recorded);
            if (((recorded[0] ^ wanted[0]) | (recorded[1] ^ wanted[1])) != 0) continue;
            void* listener = nullptr;
            status = record.object->QueryInterface(iid, &listener);
            if (status < 0 || listener == nullptr) continue;
            if (snapshot.m_listeners.size() == snapshot.m_listeners.capacity()) GrowSnapshot(snapshot, listener);
            snapshot.m_listeners.push_back(listener);
        }
        return status;
    }
    // Makes room for one more entry; releases `listener` and rethrows when there is none.
    static void GrowSnapshot(QueriedSnapshot& snapshot, void* listener);

    // Holds the list's lock for its scope, and gives it back also when a listener's
    // QueryInterface faults where it cannot be unwound (its frame is then left without its
    // destructors, on the way to the recovery point).
    class SCOPED_CAPABILITY LockGuardWithRecovery {
    public:
        explicit LockGuardWithRecovery(Lock& lock) ACQUIRE(lock)
            : m_lock(lock), m_cleanup((lock.lock(), &Unlock), &lock) {}
        ~LockGuardWithRecovery() RELEASE() { m_lock.unlock(); }
        LockGuardWithRecovery(const LockGuardWithRecovery&) = delete;
        LockGuardWithRecovery& operator=(const LockGuardWithRecovery&) = delete;

    private:
        static void Unlock(void* lock) NO_THREAD_SAFETY_ANALYSIS { static_cast<Lock*>(lock)->unlock(); }
        Lock& m_lock;
        const kd::platform::FaultRecoveryCleanup m_cleanup;
    };

    mutable Lock m_lock;
    std::vector<ListenerRecord> m_listeners GUARDED_BY(m_lock);
    std::atomic<std::size_t> m_registered{0};  // m_listeners.size(), for a look without the lock
};

#endif  // KD_PLEVENTSOURCE_H
