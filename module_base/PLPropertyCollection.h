// CPLPropertyCollection: an ordered, reference-counting list of properties. Properties have no
// identifier or name lookup in the collection; callers walk it with GetName.
#ifndef KD_PLPROPERTYCOLLECTION_H
#define KD_PLPROPERTYCOLLECTION_H

#include <kdtrace/propertybag.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDataCollection.h"

using CPLPropertyCollectionBase = CPLDataCollection<IPLProperty, IPLPropertyCollection, &CLSID_PLProperty,
                                                    PLVectorStorage, NoImplAccessor<IPLProperty>>;

class CPLPropertyCollection : public CPLComObject<CPLReleaseModel>, public CPLPropertyCollectionBase {
    PL_BEGIN_INTERFACE_MAP(CPLPropertyCollection, IPLPropertyCollection)
    PL_INTERFACE_ENTRY(IPLPropertyCollection)
    PL_INTERFACE_ENTRY(IPLEventSource)
    PL_END_INTERFACE_MAP()

protected:
    ~CPLPropertyCollection() override = default;
};

#endif  // KD_PLPROPERTYCOLLECTION_H
