#include "module_base/PLStyleString.h"

#include <kdtrace/variant.h>

#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "module_base/PLSignedPropertyString.h"
#include "module_base/PLVariant.h"
#include "platform/Text.h"

namespace {

constexpr const char* kGroup = "Core Services";
constexpr const char* kClass = "Utility Functions";

std::u16string_view Trimmed(std::u16string_view text) {
    while (!text.empty() && kd::platform::IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && kd::platform::IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

std::vector<PLStyleProperty> PLParseStyleString(std::u16string_view text, std::size_t limit) {
    std::vector<PLStyleProperty> pairs;
    std::size_t start = 0;
    while (start < text.size() && pairs.size() < limit) {
        std::size_t end = text.find(u';', start);
        if (end == std::u16string_view::npos) end = text.size();
        const std::u16string_view pair = text.substr(start, end - start);
        start = end + 1;
        const std::size_t colon = pair.find(u':');
        const std::u16string_view name = Trimmed(pair.substr(0, colon));
        if (name.empty()) continue;
        std::u16string_view value;
        if (colon != std::u16string_view::npos) {
            value = pair.substr(colon + 1);
            value = Trimmed(value.substr(0, value.find(u':')));
        }
        pairs.push_back({PLString(name), PLString(value)});
    }
    return pairs;
}

HRESULT PLStyleStringToPropertyBag(const WCHAR* text, IPLPropertyBag* bag, IPLDateTime* verifyAt) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        PL_THROW_IF_FAILED(text == nullptr || bag == nullptr ? E_POINTER : S_OK);
        const PLString copy(text);
        if (verifyAt != nullptr) {
            hr = VerifySignedPropertyString(copy.c_str(), verifyAt);
            PL_THROW_ERROR(hr, "Failed to Verify SignedPropertyString", 0);
        }
        for (const PLStyleProperty& pair : PLParseStyleString(copy.view())) {
            hr = AddStringToPropertyBag(bag, pair.name.c_str(), pair.value.c_str());
            PL_THROW_ERROR_FORMAT(hr, 0, "Failed to add property:value %s:%s to property bag", pair.name.c_str(),
                                  pair.value.c_str());
        }
    });
}

HRESULT PLStyleStringToPropertyCollection(const WCHAR* text, IPLPropertyCollection* collection) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        PL_THROW_IF_FAILED(text == nullptr || collection == nullptr ? E_POINTER : S_OK);
        const PLString copy(text);
        for (const PLStyleProperty& pair : PLParseStyleString(copy.view())) {
            PLComPtr<IPLVariant> value = PLNewVariant();
            hr = value->SetValueString(pair.value.c_str());
            PL_THROW_IF_FAILED(hr);
            PLComPtr<IPLProperty> property;
            hr = PLCreateInstance(CLSID_PLProperty, property);
            PL_THROW_IF_FAILED(hr);
            hr = property->Initialize(pair.name.c_str(), value.Get());
            PL_THROW_IF_FAILED(hr);
            hr = collection->Insert(property.Get());
            PL_THROW_IF_FAILED(hr);
        }
    });
}

HRESULT GetPageSectionExtentsFromStyleString(const WCHAR* text, PLPageSectionExtents* extents) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        PL_THROW_IF_FAILED(text == nullptr || extents == nullptr ? E_POINTER : S_OK);
        PLComPtr<IPLPropertyBag> bag;
        hr = PLCreateInstance(CLSID_PLPropertyBag, bag);
        PL_THROW_ERROR(hr, "Failed to create property bag", 0);
        hr = PLStyleStringToPropertyBag(text, bag.Get(), nullptr);
        PL_THROW_ERROR(hr, "Failed to convert style string to property bag.", 0);
        hr = GetPageSectionExtentsFromPropertyBag(bag.Get(), extents);
        PL_THROW_ERROR(hr, "Failed to get page section extents from property bag.", 0);
    });
}
