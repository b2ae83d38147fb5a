#include "module_base/PLPropertyBag.h"

#include <cstdint>

#include "platform/Text.h"

int PLComparePropertyNames(std::u16string_view a, std::u16string_view b) noexcept {
    // The terminators take part: a name sorts before every longer name it begins.
    return kd::platform::CompareFoldingAsciiLetters(a, b);
}

std::size_t PLPropertyNameHash::operator()(std::u16string_view name) const noexcept {
    // FNV-1a over the folded code units.
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const char16_t c : name) {
        hash ^= c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
        hash *= 0x100000001B3ull;
    }
    return static_cast<std::size_t>(hash);
}

bool PLPropertyNameEqual::operator()(std::u16string_view a, std::u16string_view b) const noexcept {
    if (a.size() != b.size()) return false;
    // Equal code units first: a hash hit is mostly the same name, written the same way.
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        const char16_t x = a[i] >= u'A' && a[i] <= u'Z' ? static_cast<char16_t>(a[i] + 32) : a[i];
        const char16_t y = b[i] >= u'A' && b[i] <= u'Z' ? static_cast<char16_t>(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return true;
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
