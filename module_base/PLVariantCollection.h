// CPLVariantCollection: an ordered list of variants, the value of a variant of kind Collection.
// Items are shared, not copied (a variant makes deep copies of whole collections). Besides the
// collection template's operations it builds and appends a variant from a raw value.
#ifndef KD_PLVARIANTCOLLECTION_H
#define KD_PLVARIANTCOLLECTION_H

#include <kdtrace/variant.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDataCollection.h"

using CPLVariantCollectionBase =
    CPLDataCollection<IPLVariant, IPLVariantCollection, &CLSID_PLVariant, PLVectorStorage, NoImplAccessor<IPLVariant>>;

class CPLVariantCollection : public CPLComObject<CPLReleaseModel>, public CPLVariantCollectionBase {
    PL_BEGIN_INTERFACE_MAP(CPLVariantCollection, IPLVariantCollection)
    PL_INTERFACE_ENTRY(IPLVariantCollection)
    PL_END_INTERFACE_MAP()

public:
    // Appends a new variant of kind `type` made from what `value` points to: a zero-terminated
    // text (String), a 32-bit integer (Long), a double, a one-byte boolean, an IPLDateTime (the
    // two date kinds, copied), an IUnknown (shared) or an IPLVariantCollection (deep copy);
    // for Empty the pointer is not read but must not be null. Other kinds fail with "Invalid
    // type". A failure leaves the collection unchanged.
    HRESULT AppendValue(LONG type, const void* value) override;

protected:
    ~CPLVariantCollection() override = default;
};

#endif  // KD_PLVARIANTCOLLECTION_H
