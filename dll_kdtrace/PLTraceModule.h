// CPLTraceModule: the module object of the trace services library.
#ifndef KD_PLTRACEMODULE_H
#define KD_PLTRACEMODULE_H

#include <kdtrace/module.h>

#include "inc_module_base/PLComObject.h"
#include "inc_module_base/plmodule.h"

class CPLTraceModule : public CPLComObject<CPLReleaseModel>, public CPLModule {
    PL_BEGIN_INTERFACE_MAP(CPLTraceModule, IPLModule)
    PL_INTERFACE_ENTRY(IPLModule)
    PL_END_INTERFACE_MAP()

public:
    HRESULT GetInterfaceID(GUID* iid) override;
    HRESULT GetClassID(GUID* clsid) override;
    HRESULT __Init() override;
};

#endif  // KD_PLTRACEMODULE_H
