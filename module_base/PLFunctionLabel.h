// Reading the function labels the compiler writes for __PRETTY_FUNCTION__: the "Class::Method"
// part that names a thrower or a guarded method, the class and method apart, and the argument of
// a one-parameter function template ("[with T = Name]" / "[T = Name]").
//
// The labels are the compiler's own text, never a caller's: the parsers are noexcept and never
// allocate, so that naming a failure cannot fail.
#ifndef KD_PLFUNCTIONLABEL_H
#define KD_PLFUNCTIONLABEL_H

#include <cstddef>
#include <string_view>

// "Class::Method" (or the free function's name) inside a label: the return type, "virtual", the
// parameter list and the template argument list after it are left out.
std::string_view PLFunctionName(const char* prettyFunction) noexcept;

// The class (the scope right before the method, its template arguments left out; empty for a
// free function) and the method of a "Class::Method" name.
struct PLMethodName {
    std::string_view className;
    std::string_view method;
};
PLMethodName PLSplitFunctionName(std::string_view name) noexcept;

// The argument of a one-parameter function template's label: from "T = " to the ";" or "]" that
// ends it. Empty when the label has none.
std::string_view PLTemplateArgument(const char* prettyFunction) noexcept;

// PLFunctionName copied into a fixed buffer, terminated.
class PLFunctionLabel {
public:
    explicit PLFunctionLabel(const char* prettyFunction) noexcept;
    const char* c_str() const noexcept { return m_text; }

private:
    char m_text[256];
};

// Copies `text` cut to `size - 1` characters into `buffer`, terminated.
void PLCopyLabelText(std::string_view text, char* buffer, std::size_t size) noexcept;

#endif  // KD_PLFUNCTIONLABEL_H
