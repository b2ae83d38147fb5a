// The variant collection enumerator.
#include "module_base/PLVariantCollectionEnumerator.h"

#include <algorithm>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"

PL_REGISTER_CLASS(CPLVariantCollectionEnumerator, CLSID_PLVariantCollectionEnumerator);

void CPLVariantCollectionEnumerator::Attach(IPLVariantCollection* collection) noexcept {
    m_collection = PLComPtr<IPLVariantCollection>(collection);
    m_position = 0;
}

HRESULT CPLVariantCollectionEnumerator::Next(LONG count, IPLVariantCollection** items, LONG* fetched) {
    if (items == nullptr || fetched == nullptr) return E_POINTER;
    if (!m_collection) return E_UNEXPECTED;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED("Core"), [&](HRESULT& hr) {
        PLComPtr<IPLVariantCollection> batch;
        hr = PLCreateInstance(CLSID_PLVariantCollection, batch);
        PL_THROW_ERROR(hr, "Failed to create variant collection.", 1);
        // In 64 bits: a position near the top plus a large count must not wrap.
        const int64_t end = int64_t{m_position} + std::max<LONG>(count, 0);
        for (int64_t i = m_position; i < m_collection->GetCount() && i < end; ++i) {
            PLComPtr<IPLVariant> item;
            hr = m_collection->GetAt(static_cast<LONG>(i), item.Put());
            PL_THROW_IF_FAILED(hr);
            hr = batch->Insert(item.Get());
            PL_THROW_IF_FAILED(hr);
        }
        const LONG taken = batch->GetCount();
        m_position += taken;
        *fetched = taken;
        *items = batch.Detach();
    });
}

HRESULT CPLVariantCollectionEnumerator::Skip(LONG count) {
    if (!m_collection) return E_UNEXPECTED;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED("Core"), [&](HRESULT& hr) {
        const int64_t target = int64_t{m_position} + count;
        if (target > m_collection->GetCount() || target < 0) {
            hr = S_FALSE;
            return;
        }
        m_position = static_cast<int32_t>(target);
    });
}

HRESULT CPLVariantCollectionEnumerator::Clone(IPLEnumVariant**) {
    return E_NOTIMPL;
}

HRESULT CPLVariantCollectionEnumerator::Reset() {
    m_position = 0;
    return S_OK;
}

HRESULT PLCreateVariantCollectionEnumerator(IPLVariantCollection* collection, IPLEnumVariant** enumerator) {
    if (collection == nullptr || enumerator == nullptr) return E_POINTER;
    *enumerator = nullptr;
    PLComPtr<IPLEnumVariant> made;
    const HRESULT hr = PLCreateObject<CPLVariantCollectionEnumerator>(IID_IPLEnumVariant, nullptr, made.PutVoid());
    if (hr < 0) return hr;
    static_cast<CPLVariantCollectionEnumerator*>(made.Get())->Attach(collection);
    *enumerator = made.Detach();
    return S_OK;
}
