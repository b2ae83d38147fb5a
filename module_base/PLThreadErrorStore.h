// CPLThreadErrorStore: the per-thread error lists and suspension states kept by this library
// when no external error module serves them.
#ifndef KD_PLTHREADERRORSTORE_H
#define KD_PLTHREADERRORSTORE_H

#include <map>
#include <mutex>

#include <kdtrace/error.h>
#include <kdtrace/types.h>

#include "module_base/PLComObject.h"

class CPLThreadErrorStore {
public:
    // The process-wide store (made on first use, emptied when the library unloads).
    static CPLThreadErrorStore& Instance() noexcept;

    // The thread's list with a new reference, created empty on first use. E_FAIL when nothing
    // could be done (after unload, or when the list cannot be created).
    HRESULT GetThreadError(DWORD thread, IPLErrorInfo** errorInfo) noexcept;
    // Copies the state: S_OK. A thread never seen gets FALSE and S_FALSE.
    HRESULT GetSuspensionState(DWORD thread, BOOL* state) noexcept;
    HRESULT SetSuspensionState(DWORD thread, BOOL state) noexcept;
    // Releases the thread's list and forgets it: S_OK.
    HRESULT RemoveThread(DWORD thread) noexcept;
    // Empties the thread's list if it has one: S_OK.
    HRESULT ClearThreadErrors(DWORD thread) noexcept;
    // Stores the callback and context given to lists created later: S_OK.
    HRESULT SetErrorEventCallback(uintptr_t context, PLErrorEventCallback callback) noexcept;
    // Releases every list and forgets every thread; later calls fail with E_FAIL.
    void Shutdown() noexcept;
    // Forgets a thread that has ended (its list and its suspension state).
    void ForgetThread(DWORD thread) noexcept;

private:
    CPLThreadErrorStore() = default;
    void WatchThreadExit(DWORD thread) noexcept;

    PLErrorEventCallback m_callback = nullptr;
    uintptr_t m_context = 0;
    std::map<DWORD, PLComPtr<IPLErrorInfo>> m_lists;
    std::map<DWORD, BOOL> m_suspension;
    mutable std::mutex m_lock;
    bool m_shutDown = false;
};

#endif  // KD_PLTHREADERRORSTORE_H
