#include "module_base/PLThreadErrorStore.h"

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLComObject.h"

#include <kdtrace/error.h>

#include "platform/Thread.h"
#include "platform/Unload.h"

namespace {

CPLThreadErrorStore* g_store = nullptr;

// Empties the store when the library unloads or the process exits; the store object itself
// stays until the library is unloaded, so that a late caller (another static object's
// destructor) gets E_FAIL instead of touching freed memory.
struct StoreShutdown {
    ~StoreShutdown() {
        if (g_store != nullptr) g_store->Shutdown();
    }
} g_storeShutdown;

void ReleaseStore() noexcept {
    delete g_store;
    g_store = nullptr;
}

// Forgets the thread's entries when it ends. The operating system reuses thread identifiers, so
// a list left behind would otherwise be handed to an unrelated later thread. The watch is armed
// again by every entry made, so an error recorded late in a thread's end (by a thread_local
// object's destructor) is forgotten too.
void ForgetEndedThread(std::uint32_t thread) noexcept {
    if (g_store != nullptr) g_store->ForgetThread(thread);
}
kd::platform::ThreadExitWatch g_exitWatch(&ForgetEndedThread);

}  // namespace

CPLThreadErrorStore& CPLThreadErrorStore::Instance() noexcept {
    static CPLThreadErrorStore* store = [] {
        g_store = new CPLThreadErrorStore();
        kd::platform::ReleaseAtUnload(&ReleaseStore);
        return g_store;
    }();
    return *store;
}

void CPLThreadErrorStore::WatchThreadExit(DWORD) noexcept {
    g_exitWatch.Watch();
}

HRESULT CPLThreadErrorStore::GetThreadError(DWORD thread, IPLErrorInfo** errorInfo) noexcept {
    if (errorInfo == nullptr) return E_POINTER;
    *errorInfo = nullptr;
    try {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_shutDown) return E_FAIL;
            auto it = m_lists.find(thread);
            if (it != m_lists.end()) {
                return it->second.CopyTo(errorInfo);
            }
        }
        // Only this thread adds its own entry, so creating the list outside the lock cannot race
        // with another creation for the same key. The lookup does not record: the store must
        // not call back into recording while it is being asked for the list to record into.
        CPLClassFactoryMap* map = PLGetClassFactoryMap();
        PLCreatorFunction creator = map != nullptr ? map->FindClassFactory(CLSID_PLErrorInfo) : nullptr;
        if (creator == nullptr) return E_FAIL;
        PLComPtr<IPLErrorInfo> list;
        const HRESULT hr = creator(IID_IPLErrorInfo, nullptr, list.PutVoid());
        if (hr < 0 || !list) return hr < 0 ? hr : E_FAIL;
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_shutDown) return E_FAIL;
        auto inserted = m_lists.emplace(thread, list);  // the map's reference
        if (inserted.second) {
            WatchThreadExit(thread);
            if (m_callback != nullptr) list->RegisterErrorEvent(m_context, m_callback);
        }
        inserted.first->second.CopyTo(errorInfo);
        return hr;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CPLThreadErrorStore::GetSuspensionState(DWORD thread, BOOL* state) noexcept {
    if (state == nullptr) return E_POINTER;
    try {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_shutDown) return E_FAIL;
        auto it = m_suspension.find(thread);
        if (it != m_suspension.end()) {
            *state = it->second;
            return S_OK;
        }
        m_suspension.emplace(thread, FALSE);
        WatchThreadExit(thread);
        *state = FALSE;
        return S_FALSE;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CPLThreadErrorStore::SetSuspensionState(DWORD thread, BOOL state) noexcept {
    try {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_shutDown) return E_FAIL;
        m_suspension[thread] = state;
        WatchThreadExit(thread);
        return S_OK;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CPLThreadErrorStore::RemoveThread(DWORD thread) noexcept {
    PLComPtr<IPLErrorInfo> list;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_lists.find(thread);
        if (it != m_lists.end()) {
            list = std::move(it->second);
            m_lists.erase(it);
        }
    }
    // Released outside the lock (with `list`): destroying a list releases items, which may call
    // back in.
    return S_OK;
}

HRESULT CPLThreadErrorStore::ClearThreadErrors(DWORD thread) noexcept {
    PLComPtr<IPLErrorInfo> list;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_lists.find(thread);
        if (it != m_lists.end()) list = it->second;
    }
    if (list) list->Clear();
    return S_OK;
}

HRESULT CPLThreadErrorStore::SetErrorEventCallback(uintptr_t context, PLErrorEventCallback callback) noexcept {
    std::lock_guard<std::mutex> guard(m_lock);
    m_context = context;
    m_callback = callback;
    return S_OK;
}

void CPLThreadErrorStore::Shutdown() noexcept {
    std::map<DWORD, PLComPtr<IPLErrorInfo>> lists;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_shutDown = true;
        lists.swap(m_lists);
        m_suspension.clear();
    }
    // Released outside the lock, with `lists`.
}

void CPLThreadErrorStore::ForgetThread(DWORD thread) noexcept {
    RemoveThread(thread);
    std::lock_guard<std::mutex> guard(m_lock);
    m_suspension.erase(thread);
}
