// The lock interface of lockable objects and a scope lock over it.
#ifndef KD_PLWAITOBJECT_H
#define KD_PLWAITOBJECT_H

#include <cstdint>

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

#include "module_base/PLComObject.h"

// clang-format off
inline constexpr GUID IID_IPLLockable = {0x8B369C0D, 0xD245, 0x4425, {0x92, 0xB7, 0x67, 0xEE, 0xDB, 0xE5, 0x80, 0x72}};
// clang-format on

// An object that can be locked for the length of an operation.
struct IPLLockable : IUnknown {
    virtual HRESULT Lock() = 0;    // slot 3
    virtual HRESULT Unlock() = 0;  // slot 4
};

// Holds the lock of an object that answers IPLLockable for a scope.
class CWaitObject {
public:
    explicit CWaitObject(IUnknown* object);
    ~CWaitObject();
    CWaitObject(const CWaitObject&) = delete;
    CWaitObject& operator=(const CWaitObject&) = delete;

    // Takes the lock (once; later calls only count). E_FAIL without a lockable object.
    HRESULT Lock();
    int32_t GetLockCount() const noexcept { return m_lockCount; }

private:
    int32_t m_lockCount = 0;
    PLComPtr<IPLLockable> m_lockable;
};

#endif  // KD_PLWAITOBJECT_H
