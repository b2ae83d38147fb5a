// CPLTraceContextCollection: an ordered, reference-counting list of trace contexts that callers
// create by class identifier and fill themselves. Contexts are found by identifier; they have no
// name lookup or comparison in a collection.
#ifndef KD_PLTRACECONTEXTCOLLECTION_H
#define KD_PLTRACECONTEXTCOLLECTION_H

#include <kdtrace/trace.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDataCollection.h"

using CPLTraceContextCollectionBase =
    CPLDataCollection<IPLTraceContext, IPLTraceContextCollection, &CLSID_PLTraceContext, PLVectorStorage,
                      StdAccessor<IPLTraceContext>>;

class CPLTraceContextCollection : public CPLComObject<CPLReleaseModel>, public CPLTraceContextCollectionBase {
    // Collection listeners cannot be registered from outside: IPLEventSource is not answered.
    PL_BEGIN_INTERFACE_MAP(CPLTraceContextCollection, IPLTraceContextCollection)
    PL_INTERFACE_ENTRY(IPLTraceContextCollection)
    PL_END_INTERFACE_MAP()

protected:
    ~CPLTraceContextCollection() override = default;
};

#endif  // KD_PLTRACECONTEXTCOLLECTION_H
