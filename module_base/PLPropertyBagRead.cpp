#include "module_base/PLPropertyBagRead.h"

#include <kdtrace/variant.h>

#include <vector>

#include "module_base/PLComObject.h"
#include "module_base/PLError.h"

namespace {

constexpr const char* kGroup = "Core Services";
constexpr const char* kClass = "Utility Functions";

// The held value of `name`, or null when the bag does not hold it.
PLComPtr<IPLVariant> BagValue(IPLPropertyBag* bag, const WCHAR* name) {
    BOOL contains = FALSE;
    HRESULT hr = bag->ContainsKey(name, &contains);
    PL_THROW_IF_FAILED(hr);
    if (contains == FALSE) return nullptr;
    PLComPtr<IPLVariant> value;
    hr = bag->GetProperty(name, value.Put());
    if (hr >= 0 && !value) hr = E_FAIL;
    PL_THROW_ERROR_FORMAT(hr, 1, "Failed to obtain property '%s' from property bag", name);
    return value;
}

}  // namespace

HRESULT PLReadBagLong(IPLPropertyBag* bag, const WCHAR* name, LONG& value, bool& present) noexcept {
    present = false;
    if (bag == nullptr || name == nullptr) return E_POINTER;
    return PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        const PLComPtr<IPLVariant> variant = BagValue(bag, name);
        if (!variant) return;
        LONG read = 0;
        PL_THROW_ERROR(variant->GetValueLong(&read), "Failed to obtain long value from variant", 0);
        value = read;
        present = true;
    });
}

HRESULT PLReadBagBool(IPLPropertyBag* bag, const WCHAR* name, bool& value, bool& present) noexcept {
    present = false;
    if (bag == nullptr || name == nullptr) return E_POINTER;
    return PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        const PLComPtr<IPLVariant> variant = BagValue(bag, name);
        if (!variant) return;
        bool read = false;
        PL_THROW_ERROR(variant->GetValueBoolean(&read), "Failed to obtain boolean value from variant", 0);
        value = read;
        present = true;
    });
}

HRESULT PLReadBagString(IPLPropertyBag* bag, const WCHAR* name, PLString& value, bool& present) noexcept {
    present = false;
    if (bag == nullptr || name == nullptr) return E_POINTER;
    return PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        const PLComPtr<IPLVariant> variant = BagValue(bag, name);
        if (!variant) return;
        LONG length = 0;
        HRESULT hr = variant->GetValueStringLength(&length);
        if (hr >= 0 && length < 1) hr = E_FAIL;
        PL_THROW_ERROR(hr, "Failed to obtain string length from variant", 0);
        std::vector<WCHAR> text(static_cast<std::size_t>(length) + 1, 0);
        PL_THROW_ERROR(variant->GetValueString(text.data(), length + 1), "Failed to obtain string value from variant",
                       0);
        value = PLString(text.data());
        present = true;
    });
}
