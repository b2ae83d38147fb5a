// The scope lock.
#include "module_base/PLWaitObject.h"

#include <string_view>

#include "platform/DebugOutput.h"

CWaitObject::CWaitObject(IUnknown* object) {
    if (object != nullptr && object->QueryInterface(IID_IPLLockable, m_lockable.PutVoid()) >= 0 && m_lockable) Lock();
}

CWaitObject::~CWaitObject() {
    if (m_lockable && m_lockCount >= 1) {
        m_lockable->Unlock();
        if (m_lockCount > 1) {
            constexpr const char* kBanner =
                "########################################################################################\n";
            kd::platform::DebugOutput(std::string_view(kBanner));
            kd::platform::DebugOutput(std::string_view(
                "############## Warning: ~CWaitObject() reached with multiple locks active ##############\n"));
            kd::platform::DebugOutput(std::string_view(kBanner));
        }
    }
}

HRESULT CWaitObject::Lock() {
    if (!m_lockable) return E_FAIL;
    if (m_lockCount < 1) {
        const HRESULT hr = m_lockable->Lock();
        m_lockCount = hr >= 0 ? 1 : 0;
        return hr;
    }
    ++m_lockCount;
    return S_OK;
}
