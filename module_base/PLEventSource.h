// CPLEventSource: a listener list with the firing rule shared by every object that notifies.
//
// A registration keeps the pointer the object returned for the listener interface (which is
// also the cookie), the object itself and the interface identifier; it holds no reference.
// Firing takes a snapshot of the matching registrations under a short lock, querying each
// registered object for the listener interface as it goes (no heap allocation for up to eight
// listeners), then, outside the lock and in registration order, calls each listener and
// releases the reference its query added. That reference keeps a listener that another thread
// removes and releases during the delivery alive until its call returns; a listener removed
// before the snapshot is taken is never called. Listeners may add and remove listeners, on
// this or any other source, and fire again from inside a call.
//
// The queries run under the list's lock (a recursive one, so a QueryInterface that comes back
// to this source does not deadlock): querying there gives the snapshot its references for free,
// where holding a reference of the snapshot's own on each object besides would double the
// atomic operations of every delivery. A listener's QueryInterface must therefore not wait for
// another thread, as COM rules already ask of it.
#ifndef KD_PLEVENTSOURCE_H
#define KD_PLEVENTSOURCE_H

#include <vector>

#include <kdtrace/object.h>
#include <kdtrace/types.h>

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
        QueriedSnapshot snapshot;
        HRESULT status = S_OK;
        PLCallOut([&] {
            status = QueryListeners(iid, snapshot);
            void* const* entries = snapshot.m_listeners.data();
            const std::size_t count = snapshot.m_listeners.size();
            for (std::size_t i = 0; i < count; ++i) {
                Listener* listener = static_cast<Listener*>(entries[i]);
                call(listener);
                // Counted before the release: if the call throws or faults, the snapshot gives
                // back this reference and the rest.
                snapshot.m_delivered = i + 1;
                listener->Release();
            }
        });
        return status;
    }

private:
    using Lock = kd::platform::RecursiveMutex;
    mutable Lock m_lock;
    std::vector<ListenerRecord> m_listeners GUARDED_BY(m_lock);
};

#endif  // KD_PLEVENTSOURCE_H
