#include "dll_kdtrace/PLTraceModule.h"

#include "inc_module_base/plfactory.h"

PL_REGISTER_CLASS(CPLTraceModule, CLSID_PLTraceModule);

namespace {

constexpr PLModuleProperties kTraceModuleProperties = {
    &MODULEID_PLTraceServices,
    u"4.0.0-001",                     // API version
    u"4.0.0-001",                     // version
    u"Pellum.TraceServices",          // module name
    u"kdtrace",                       // object name
    u"Pellum Trace Services Module",  // friendly name
    u"0.0.0-100",                     // core API version
    nullptr,                          // database version: none
};

}  // namespace

HRESULT CPLTraceModule::GetInterfaceID(GUID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = IID_IPLModule;
    return S_OK;
}

HRESULT CPLTraceModule::GetClassID(GUID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_PLTraceModule;
    return S_OK;
}

HRESULT CPLTraceModule::__Init() { return ApplyProperties(kTraceModuleProperties); }
