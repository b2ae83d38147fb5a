// CPLPageDataCollection: an ordered, reference-counting list of page data. Page data have no
// identifier, name or comparison, so searches find nothing and duplicate searches fail.
#ifndef KD_PLPAGEDATACOLLECTION_H
#define KD_PLPAGEDATACOLLECTION_H

#include <kdtrace/pagedata.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDataCollection.h"
#include "module_base/PLInterfaceId.h"

using CPLPageDataCollectionBase = CPLDataCollection<IPLPageData, IPLPageDataCollection, &CLSID_PLPageData,
                                                    PLVectorStorage, NoImplAccessor<IPLPageData>>;

class CPLPageDataCollection : public CPLComObject<CPLReleaseModel>, public CPLPageDataCollectionBase {
    PL_BEGIN_INTERFACE_MAP(CPLPageDataCollection, IPLPageDataCollection)
    PL_INTERFACE_ENTRY(IPLPageDataCollection)
    PL_END_INTERFACE_MAP()

protected:
    ~CPLPageDataCollection() override = default;
};

#endif  // KD_PLPAGEDATACOLLECTION_H
