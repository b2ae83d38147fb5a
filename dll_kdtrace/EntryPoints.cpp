// The library's entry points: the module table and the two functions hosts look up, and the
// exported helpers that need no unit of their own (a property bag, global memory blocks).
#include <kdtrace/exports.h>

#include "module_base/PLModule.h"
#include "platform/GlobalMemory.h"

namespace {

// The modules this library implements: the trace module, a new object per request.
constexpr PLModuleTableRow kModuleTable[] = {
    {&MODULEID_PLTraceServices, &CLSID_PLTraceModule, nullptr},
};
constexpr int kModuleCount = static_cast<int>(sizeof kModuleTable / sizeof kModuleTable[0]);

}  // namespace

HRESULT GetPLModule(REFGUID moduleId, IPLModule** module) {
    return PLGetModuleFromTable(PL_GUARD_SITE(""), kModuleTable, kModuleCount, moduleId, module);
}

HRESULT GetImplementedModules(IPLModuleInfoFactory* factory, IPLModuleInfoCollection** collection) {
    return PLGetImplementedModulesFromTable(PL_GUARD_SITE(""), kModuleTable, kModuleCount, factory, collection);
}

HRESULT PLCreatePropertyBag(IPLPropertyBag** bag) {
    if (bag == nullptr) return E_POINTER;
    return PLCreateInstance(CLSID_PLPropertyBag, IID_IPLPropertyBag, reinterpret_cast<void**>(bag));
}

HRESULT PLGlobalLock(HGLOBAL block, BYTE** bytes) {
    if (bytes == nullptr) return E_POINTER;
    *bytes = nullptr;
    if (block == nullptr) return E_INVALIDARG;
    *bytes = kd::platform::LockGlobalBlock(block);
    return S_OK;
}

HRESULT PLGlobalUnlock(HGLOBAL block) {
    if (block == nullptr) return E_INVALIDARG;
    return kd::platform::UnlockGlobalBlock(block) ? S_OK : S_FALSE;
}

HRESULT PLGlobalSize(HGLOBAL block, ULONGLONG* size) {
    if (size == nullptr) return E_POINTER;
    *size = 0;
    if (block == nullptr) return E_INVALIDARG;
    *size = kd::platform::GlobalBlockSize(block);
    return S_OK;
}

HRESULT PLGlobalFree(HGLOBAL block) {
    if (block == nullptr) return S_FALSE;
    kd::platform::FreeGlobalBlock(block);
    return S_OK;
}
