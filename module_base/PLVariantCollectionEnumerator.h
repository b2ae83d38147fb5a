// CPLVariantCollectionEnumerator: walks a variant collection in batches. Each batch is a new
// collection holding the walked collection's own variants. The walked collection's count is read
// afresh on every call, so items appended during a walk are reached.
#ifndef KD_PLVARIANTCOLLECTIONENUMERATOR_H
#define KD_PLVARIANTCOLLECTIONENUMERATOR_H

#include <cstdint>

#include <kdtrace/variant.h>

#include "module_base/PLComObject.h"

class CPLVariantCollectionEnumerator : public CPLComObject<CPLReleaseModel>, public IPLEnumVariant {
    PL_BEGIN_INTERFACE_MAP(CPLVariantCollectionEnumerator, IPLEnumVariant)
    PL_INTERFACE_ENTRY(IPLEnumVariant)
    PL_END_INTERFACE_MAP()

public:
    CPLVariantCollectionEnumerator() noexcept = default;

    // Without a collection (as made by its class factory) Next and Skip give E_UNEXPECTED.
    HRESULT Next(LONG count, IPLVariantCollection** items, LONG* fetched) override;
    // S_FALSE, position kept, when the step would leave the collection at either end.
    HRESULT Skip(LONG count) override;
    HRESULT Clone(IPLEnumVariant** copy) override;
    HRESULT Reset() override;

    // Starts a walk over `collection` from its first item.
    void Attach(IPLVariantCollection* collection) noexcept;

protected:
    ~CPLVariantCollectionEnumerator() override = default;

private:
    PLComPtr<IPLVariantCollection> m_collection;
    int32_t m_position = 0;
};

// Makes an enumerator over `collection` (which it holds a reference to), at its first item.
HRESULT PLCreateVariantCollectionEnumerator(IPLVariantCollection* collection, IPLEnumVariant** enumerator);

#endif  // KD_PLVARIANTCOLLECTIONENUMERATOR_H
