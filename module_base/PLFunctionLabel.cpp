// Parsers of compiler function labels.
#include "module_base/PLFunctionLabel.h"

#include <cstring>

namespace {

bool EndsWithOperator(const char* text, std::size_t i) noexcept {
    return i >= 8 && std::strncmp(text + i - 8, "operator", 8) == 0;
}

}  // namespace

std::string_view PLFunctionName(const char* pretty) noexcept {
    if (pretty == nullptr) return {};
    // The name ends at the first "(" outside template brackets; it starts after the last space
    // before that, outside template brackets (which drops the return type and "virtual").
    std::size_t end = 0;
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t i = 0; pretty[i] != 0; ++i) {
        const char c = pretty[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            if (depth > 0) --depth;
        } else if (depth == 0 && c == ' ') {
            // "operator()" and "operator ==" style names keep their text.
            if (EndsWithOperator(pretty, i)) continue;
            start = i + 1;
        } else if (depth == 0 && c == '(') {
            // Clang spells an unnamed namespace "(anonymous namespace)": part of the name.
            if (std::strncmp(pretty + i, "(anonymous namespace)", 21) == 0) {
                i += 20;
                continue;
            }
            if (EndsWithOperator(pretty, i) && pretty[i + 1] == ')') {
                ++i;
                continue;
            }
            end = i;
            break;
        }
    }
    if (end == 0) end = std::strlen(pretty);
    if (start > end) start = 0;
    return std::string_view(pretty + start, end - start);
}

PLMethodName PLSplitFunctionName(std::string_view name) noexcept {
    // The last "::" outside template brackets separates the method from its scope.
    std::size_t split = std::string_view::npos;
    int depth = 0;
    for (std::size_t i = 0; i + 1 < name.size(); ++i) {
        if (name[i] == '<') {
            ++depth;
        } else if (name[i] == '>') {
            if (depth > 0) --depth;
        } else if (depth == 0 && name[i] == ':' && name[i + 1] == ':') {
            split = i;
            ++i;
        }
    }
    if (split == std::string_view::npos) return {{}, name};
    std::string_view scope = name.substr(0, split);
    const std::string_view method = name.substr(split + 2);
    // The class is the innermost scope, without its template arguments.
    if (const std::size_t open = scope.find('<'); open != std::string_view::npos) scope = scope.substr(0, open);
    if (const std::size_t outer = scope.rfind("::"); outer != std::string_view::npos) scope = scope.substr(outer + 2);
    return {scope, method};
}

std::string_view PLTemplateArgument(const char* pretty) noexcept {
    if (pretty == nullptr) return {};
    // GCC writes "... [with T = Name]", Clang "... [T = Name]"; GCC adds "; type = ..." for
    // aliases it names. The argument may hold brackets itself ("int [4]"): it runs to the ";"
    // or to the last "]".
    const char* start = std::strstr(pretty, "[with ");
    if (start == nullptr) start = std::strstr(pretty, "() [");
    if (start == nullptr) start = std::strrchr(pretty, '[');
    if (start == nullptr) return {};
    start = std::strstr(start, " = ");
    if (start == nullptr) return {};
    start += 3;
    const char* end = std::strchr(start, ';');
    if (end == nullptr) end = std::strrchr(start, ']');
    if (end == nullptr) end = start + std::strlen(start);
    return std::string_view(start, static_cast<std::size_t>(end - start));
}

void PLCopyLabelText(std::string_view text, char* buffer, std::size_t size) noexcept {
    if (size == 0) return;
    const std::size_t n = text.size() < size ? text.size() : size - 1;
    if (n > 0) std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
}

PLFunctionLabel::PLFunctionLabel(const char* pretty) noexcept {
    PLCopyLabelText(PLFunctionName(pretty), m_text, sizeof m_text);
}
