// CPLEventSource: a listener list with the firing rule shared by every object that notifies.
//
// A registration keeps the pointer the object returned for the listener interface (which is
// also the cookie), the object itself and the interface identifier; it holds no reference.
// Firing takes a snapshot of the matching registrations under a short lock, querying each
// registered object for the listener interface as it goes (no heap allocation for up to eight
// listeners), then, outside the lock and in registration order, calls each listener and gives
// back the reference its query added. A listener removed before the snapshot is taken is never
// called. Listeners may add and remove listeners, on this or any other source, and fire again
// from inside a call.
//
// Removal and deliveries on other threads. Hosts keep listeners whose life does not follow their
// reference count (on the stack, or destroyed as soon as they are removed), so RemoveListener,
// called from outside any delivery, returns only after every delivery that began before it has
// finished, the snapshot's last Release included: once it returns, nothing of this source calls
// the removed listener again. Each delivery counts itself under the list's lock, in one of two
// generations; a remover closes the current generation and sleeps until it has drained, so a
// stream of new deliveries cannot keep it waiting. Called from inside a delivery (a listener's
// call or query, on any source), RemoveListener does not wait: listeners that remove each other
// on two threads would otherwise wait for each other for ever. A listener must likewise not wait
// for a thread that is removing a listener of a source it is being called from.
//
// The queries run under the list's lock, a recursive one (a QueryInterface that comes back to
// this source does not deadlock): querying there gives the snapshot its references for free,
// where holding a reference of the snapshot's own on each object besides would double the
// atomic operations of every delivery. The lock (CPLListenerLock) costs no atomic operation
// while one thread uses the list and one per acquisition once several do; a listener's
// QueryInterface must not wait for another thread, as COM rules already ask of it.
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
#include "platform/Futex.h"
#include "platform/Mutex.h"

// Deliveries (of any event source) under way on the calling thread, queries included.
extern __thread std::uint32_t t_plDeliveryDepth __attribute__((tls_model("initial-exec")));

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
    // While it is filled and used it counts as a delivery of its source: it ends when the
    // snapshot dies, after the last reference went back. It lives in a frame that a fault in a
    // listener does not abandon, so that it ends then too.
    class QueriedSnapshot {
    public:
        QueriedSnapshot() = default;
        QueriedSnapshot(const QueriedSnapshot&) = delete;
        QueriedSnapshot& operator=(const QueriedSnapshot&) = delete;
        ~QueriedSnapshot() {
            // Those not yet delivered, when a delivery ended early.
            for (std::size_t i = m_delivered; i < m_listeners.size(); ++i)
                static_cast<IUnknown*>(m_listeners[i])->Release();
            if (m_source != nullptr) {
                m_source->EndDelivery(m_generation);
                --t_plDeliveryDepth;
            }
        }
        std::size_t size() const noexcept { return m_listeners.size(); }
        bool on_heap() const noexcept { return m_listeners.on_heap(); }
        // Listeners whose call has returned.
        std::size_t delivered() const noexcept { return m_delivered; }

    private:
        friend class CPLEventSource;
        PLSmallVector<void*, 8> m_listeners;
        std::size_t m_delivered = 0;               // entries whose reference is already given back
        const CPLEventSource* m_source = nullptr;  // set while it counts as a delivery
        std::uint32_t m_generation = 0;            // the generation it counts in
    };

    CPLEventSource() = default;
    CPLEventSource(const CPLEventSource&) = delete;
    CPLEventSource& operator=(const CPLEventSource&) = delete;
    virtual ~CPLEventSource() = default;

    // Removes the first registration whose listener pointer equals the cookie: S_OK, or E_FAIL.
    // From outside a delivery, returns once the deliveries begun before it have finished.
    HRESULT RemoveListener(void* cookie) override;

    // Whether anything is registered (a registration racing with this call may or may not be
    // seen): callers skip a delivery without listeners before they set anything up for it.
    bool HasListeners() const noexcept { return m_registered.load(std::memory_order_acquire) != 0; }

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
        if (!HasListeners()) return S_OK;
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
        // Counted before the first query: a remover must wait for whatever this snapshot holds.
        snapshot.m_generation = m_generation & 1;
        ++m_deliveries[snapshot.m_generation];
        snapshot.m_source = this;
        ++t_plDeliveryDepth;
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

    // Ends a delivery counted in `generation`, waking removers when it was the last one there.
    void EndDelivery(std::uint32_t generation) const noexcept {
        bool drained = false;
        {
            kd::platform::LockGuard<Lock> guard(m_lock);
            drained = --m_deliveries[generation] == 0 && m_removersWaiting != 0;
            if (drained) m_drained.fetch_add(1, std::memory_order_relaxed);
        }
        if (drained) kd::platform::FutexWakeAll(m_drained);
    }
    // Waits, giving the lock up while it sleeps, until the deliveries under way have finished.
    void WaitForDeliveries() REQUIRES(m_lock);

    mutable Lock m_lock;
    std::vector<ListenerRecord> m_listeners GUARDED_BY(m_lock);
    std::atomic<std::size_t> m_registered{0};  // m_listeners.size(), for a look without the lock
    // Deliveries under way, in two generations: new ones count in m_generation & 1.
    mutable std::uint32_t m_deliveries[2] GUARDED_BY(m_lock) = {};
    std::uint64_t m_generation GUARDED_BY(m_lock) = 0;
    mutable std::uint32_t m_removersWaiting GUARDED_BY(m_lock) = 0;
    // Advanced, and its sleepers woken, when a generation drains while removers wait.
    mutable std::atomic<std::uint32_t> m_drained{0};
};

#endif  // KD_PLEVENTSOURCE_H
