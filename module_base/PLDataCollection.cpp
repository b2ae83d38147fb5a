// The parts of the data collection template that do not depend on its arguments.
#include "module_base/PLDataCollection.h"

#include <cstdint>
#include <cstring>

#include "module_base/PLFunctionLabel.h"
#include "platform/Text.h"

std::string PLTemplateArgumentText(const char* pretty) {
    const std::string_view argument = PLTemplateArgument(pretty);
    // A pointer argument: GCC writes "(& name)", Clang "&name".
    if (argument.size() > 4 && argument.substr(0, 3) == "(& " && argument.back() == ')') {
        std::string pointer("&");
        pointer.append(argument.data() + 3, argument.size() - 4);
        return pointer;
    }
    return std::string(argument);
}

bool PLEqualIgnoringAsciiCase(const WCHAR* a, const WCHAR* b) {
    for (;; ++a, ++b) {
        if (kd::platform::FoldAsciiLetter(*a) != kd::platform::FoldAsciiLetter(*b)) return false;
        if (*a == 0) return true;
    }
}

HRESULT PLItemArrayReserve(void** items, LONG* count, LONG* capacity, std::size_t extra, std::size_t itemSize) {
    if (*count < 0 || *capacity < *count || (*capacity > 0 && *items == nullptr)) return E_INVALIDARG;
    const std::size_t needed = static_cast<std::size_t>(*count) + extra;
    if (needed <= static_cast<std::size_t>(*capacity)) return S_OK;
    if (needed > static_cast<std::size_t>(INT32_MAX)) return E_OUTOFMEMORY;
    std::size_t grown = static_cast<std::size_t>(*capacity) * 2;
    if (grown < needed) grown = needed;
    if (grown < 4) grown = 4;
    if (grown > static_cast<std::size_t>(INT32_MAX)) grown = needed;
    void* block = std::realloc(*items, grown * itemSize);
    if (block == nullptr) return E_OUTOFMEMORY;
    *items = block;
    *capacity = static_cast<LONG>(grown);
    return S_OK;
}
