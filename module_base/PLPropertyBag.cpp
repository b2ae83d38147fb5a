#include "module_base/PLPropertyBag.h"

#include "platform/Text.h"

int PLComparePropertyNames(std::u16string_view a, std::u16string_view b) noexcept {
    // The terminators take part: a name sorts before every longer name it begins.
    return kd::platform::CompareFoldingAsciiLetters(a, b);
}

std::u16string_view PLPropertyNameView(const WCHAR* name) {
    std::size_t length = 0;
    while (name[length] != 0) ++length;
    return {name, length};
}

HRESULT CPLConstrainedPropertyBag::AddAllowedProperty(const WCHAR* name) {
    if (name == nullptr) return E_POINTER;
    try {
        const std::u16string_view key = PLPropertyNameView(name);
        if (!m_allowed.contains(key)) m_allowed.emplace(key);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CPLConstrainedPropertyBag::ValidateProperty(std::u16string_view name) const {
    if (m_allowed.contains(name)) return S_OK;
    // The name as far as the message's 255 characters hold it.
    PLString message;
    message.Format(u"Property '%s' is not allowed in this constrained property bag", name.substr(0, 255));
    PLRecordErrorMessage("Core Services", "CPLConstrainedPropertyBag", "ValidateProperty", E_FAIL, 0,
                         message.Left(255).c_str(), 1);
    return E_FAIL;
}
