// CPLPropertyBagCollection: an ordered, reference-counting list of property bags. Bags have no
// identifier or name lookup in the collection.
#ifndef KD_PLPROPERTYBAGCOLLECTION_H
#define KD_PLPROPERTYBAGCOLLECTION_H

#include <kdtrace/propertybag.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDataCollection.h"

using CPLPropertyBagCollectionBase = CPLDataCollection<IPLPropertyBag, IPLPropertyBagCollection, &GUID_NULL,
                                                       PLVectorStorage, NoImplAccessor<IPLPropertyBag>>;

class CPLPropertyBagCollection : public CPLComObject<CPLReleaseModel>, public CPLPropertyBagCollectionBase {
    PL_BEGIN_INTERFACE_MAP(CPLPropertyBagCollection, IPLPropertyBagCollection)
    PL_INTERFACE_ENTRY(IPLPropertyBagCollection)
    PL_INTERFACE_ENTRY(IPLEventSource)
    PL_END_INTERFACE_MAP()

protected:
    ~CPLPropertyBagCollection() override = default;
};

#endif  // KD_PLPROPERTYBAGCOLLECTION_H
