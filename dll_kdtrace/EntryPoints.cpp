// The library's entry points: the module table and the two functions hosts look up.
#include <kdtrace/exports.h>

#include "module_base/PLModule.h"

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
