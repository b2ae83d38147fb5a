// Style strings of arbitrary text. Every pair must have a non-empty name; neither name nor value
// may hold a separator or begin or end with white space; and the pairs, written back as a style
// string, must parse to themselves.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzThread.h"
#include "module_base/PLStyleString.h"
#include "platform/Text.h"

namespace {
bool Clean(std::u16string_view s) {
    if (s.find_first_of(u";:") != std::u16string_view::npos) return false;
    return s.empty() || (!kd::platform::IsSpace(s.front()) && !kd::platform::IsSpace(s.back()));
}
}  // namespace

KD_FUZZ_TARGET(data, size) {
    std::u16string text;
    const bool wide = size > 0 && (data[0] & 1);
    if (wide) {
        for (size_t i = 1; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    } else {
        for (size_t i = 0; i < size; ++i) text += static_cast<char16_t>(data[i]);
    }
    const auto pairs = PLParseStyleString(text);
    std::u16string written;
    for (const auto& p : pairs) {
        if (p.name.IsEmpty() || !Clean(p.name.view()) || !Clean(p.value.view())) std::abort();
        written += std::u16string(p.name.view()) + u":" + std::u16string(p.value.view()) + u";";
    }
    const auto again = PLParseStyleString(written);
    if (again.size() != pairs.size()) std::abort();
    for (size_t i = 0; i < pairs.size(); ++i)
        if (again[i].name != pairs[i].name || again[i].value != pairs[i].value) std::abort();
    return 0;
}
