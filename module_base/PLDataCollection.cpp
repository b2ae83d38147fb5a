// The parts of the data collection template that do not depend on its arguments.
#include "module_base/PLDataCollection.h"

#include <cstdint>
#include <cstring>

std::string PLTemplateArgumentText(const char* pretty) {
    if (pretty == nullptr) return std::string();
    // GCC: "... [with T = X]"  Clang: "... [T = X]". The argument runs from the first " = "
    // after the opening bracket to the closing bracket.
    const char* open = std::strrchr(pretty, '[');
    // A type such as "int[4]" holds brackets too: take the bracket that starts the list.
    if (const char* with = std::strstr(pretty, "[with "))
        open = with;
    else if (const char* clang = std::strstr(pretty, "() ["))
        open = clang + 3;
    if (open == nullptr) return std::string();
    const char* start = std::strstr(open, " = ");
    if (start == nullptr) return std::string();
    start += 3;
    std::string text(start);
    if (!text.empty() && text.back() == ']') text.pop_back();
    // A pointer argument: GCC writes "(& name)", Clang "&name".
    if (text.size() > 4 && text.compare(0, 3, "(& ") == 0 && text.back() == ')') {
        std::string pointer("&");
        pointer.append(text, 3, text.size() - 4);
        return pointer;
    }
    return text;
}

bool PLEqualIgnoringAsciiCase(const WCHAR* a, const WCHAR* b) {
    auto fold = [](WCHAR c) -> WCHAR { return c >= u'A' && c <= u'Z' ? static_cast<WCHAR>(c + 32) : c; };
    for (;; ++a, ++b) {
        if (fold(*a) != fold(*b)) return false;
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
