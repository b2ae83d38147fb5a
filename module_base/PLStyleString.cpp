#include "module_base/PLStyleString.h"

#include "platform/Text.h"

namespace {

std::u16string_view Trimmed(std::u16string_view text) {
    while (!text.empty() && kd::platform::IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && kd::platform::IsSpace(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

std::vector<PLStyleProperty> PLParseStyleString(std::u16string_view text) {
    std::vector<PLStyleProperty> pairs;
    std::size_t start = 0;
    while (start < text.size()) {
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
