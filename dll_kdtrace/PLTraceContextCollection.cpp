#include "dll_kdtrace/PLTraceContextCollection.h"

#include "module_base/PLClassFactoryMap.h"

PL_REGISTER_CLASS(CPLTraceContextCollection, CLSID_PLTraceContextCollection);

HRESULT CPLTraceContextCollection::GetInterfaceID(GUID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = IID_IPLTraceContextCollection;
    return S_OK;
}

HRESULT CPLTraceContextCollection::GetClassID(GUID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_PLTraceContextCollection;
    return S_OK;
}
