#include "dll_kdtrace/PLTraceContextCollection.h"

#include "module_base/PLClassFactoryMap.h"

PL_REGISTER_CLASS(CPLTraceContextCollection, CLSID_PLTraceContextCollection);
