// The variant collection.
#include "module_base/PLVariantCollection.h"

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "module_base/PLVariant.h"

PL_REGISTER_CLASS(CPLVariantCollection, CLSID_PLVariantCollection);

HRESULT CPLVariantCollection::AppendValue(LONG type, const void* value) {
    if (value == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_QUALIFIED("Core"), [&](HRESULT& hr) {
        PLComPtr<IPLVariant> variant = PLNewVariant();
        switch (type) {
            case PLVariantEmpty:
                hr = variant->SetEmpty();
                PL_THROW_ERROR(hr, "Failed to set variant to empty.h", 0);
                break;
            case PLVariantString:
                hr = variant->SetValueString(static_cast<const WCHAR*>(value));
                break;
            case PLVariantLong:
                hr = variant->SetValueLong(*static_cast<const LONG*>(value));
                break;
            case PLVariantDouble:
                hr = variant->SetValueDouble(*static_cast<const double*>(value));
                break;
            case PLVariantBoolean:
                // Any non-zero byte is true.
                hr = variant->SetValueBoolean(*static_cast<const unsigned char*>(value) != 0);
                break;
            case PLVariantDateTime:
                hr = variant->SetValueDateTime(static_cast<IPLDateTime*>(const_cast<void*>(value)));
                break;
            case PLVariantDateTimeOfDay:
                hr = variant->SetValueDateTimeOfDay(static_cast<IPLDateTime*>(const_cast<void*>(value)));
                break;
            case PLVariantIUnknown:
                hr = variant->SetValueIUnknown(static_cast<IUnknown*>(const_cast<void*>(value)));
                break;
            case PLVariantCollection:
                hr = variant->SetValueCollection(static_cast<IPLVariantCollection*>(const_cast<void*>(value)));
                break;
            default:
                hr = E_FAIL;
                PL_THROW_ERROR(hr, "Invalid type", 1);
        }
        PL_THROW_ERROR(hr, "Failed to set value on variant", 0);
        hr = Insert(variant.Get());
        PL_THROW_ERROR(hr, "Failed to insert variant into collection", 0);
    });
}
