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
    return PL_GUARD_AS(kGroup, kClass, [&](HRESULT& hr) {
        PL_THROW_IF_FAILED(text == nullptr || bag == nullptr ? E_POINTER : S_OK);
        const PLString copy(text);
        if (verifyAt != nullptr) {
            hr = VerifySignedPropertyString(copy.c_str(), verifyAt);
            PL_THROW_ERROR(hr, "Failed to Verify SignedPropertyString", 0);
        }
        for (const PLStyleProperty& pair : PLParseStyleString(copy.view())) {
            PLComPtr<IPLVariant> value;
            hr = PLCreateVariant(value.Put());
            if (hr >= 0) hr = value->SetValueString(pair.value.c_str());
            if (hr >= 0) hr = bag->SetProperty(pair.name.c_str(), value.Get());
            PL_THROW_ERROR_FORMAT(hr, 0, "Failed to add property:value %s:%s to property bag", pair.name.c_str(),
                                  pair.value.c_str());
        }
    });
}
