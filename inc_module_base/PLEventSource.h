// CPLEventSource: a listener list with the firing rule shared by every object that notifies.
//
// A registration keeps the pointer the object returned for the listener interface (which is
// also the cookie), the object itself and the interface identifier; it holds no reference.
// Firing takes a snapshot of the matching registrations under a short lock (no heap allocation
// for up to eight listeners), then, outside the lock and in registration order, queries each
// object for the listener interface and calls it. The snapshot holds a reference on each object
// for the length of the call, so a listener removed and released by another thread while a
// message is being delivered stays alive until its call returns; a listener removed before the
// snapshot is taken is never called. Listeners may add and remove listeners, on this or any
// other source, from inside a call.
#ifndef KD_PLEVENTSOURCE_H
#define KD_PLEVENTSOURCE_H

#include <mutex>
#include <vector>

#include <kdtrace/object.h>
#include <kdtrace/types.h>

#include "inc_module_base/pl_small_vector.h"

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
    // Copies of all registrations (for inspection).
    std::vector<ListenerRecord> GetListenerRecords() const;

    // Calls `call(listener)` for each registration for `iid`, with the listener interface queried
    // from the registered object and released afterwards. Returns the result of the last query
    // (S_OK without listeners); a failing query skips its registration.
    template <class Listener, class Call>
    HRESULT FireEvent(REFIID iid, Call&& call) const {
        Snapshot snapshot;
        GetListeners(iid, snapshot);
        HRESULT status = S_OK;
        for (IUnknown* object : snapshot) {
            void* raw = nullptr;
            status = object->QueryInterface(iid, &raw);
            if (status >= 0 && raw != nullptr) {
                // The queried reference is given back however the call ends: a listener may
                // throw, or fault (a translated processor fault arrives as an exception).
                struct Release {
                    Listener* listener;
                    ~Release() { listener->Release(); }
                } const release{static_cast<Listener*>(raw)};
                call(release.listener);
            }
        }
        return status;
    }

private:
    mutable std::mutex m_lock;
    std::vector<ListenerRecord> m_listeners;
};

#endif  // KD_PLEVENTSOURCE_H
