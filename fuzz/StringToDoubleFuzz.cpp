// Number text of arbitrary bytes (pairs of bytes as UTF-16 code units when the first byte is
// odd). Text that reads must give a finite number that agrees with the C library's reading of
// the same digits, and the variant text form of that number must read back to within its six
// fraction digits. Text of the accepted form is refused only when its value exceeds the double
// range.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzThread.h"
#include "module_base/PLError.h"
#include "module_base/PLNumberFunctions.h"
#include "module_base/PLVariant.h"

KD_FUZZ_TARGET(data, size) {
    if (size < 1) return 0;
    std::u16string text;
    if (data[0] & 1) {
        for (size_t i = 1; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    } else {
        for (size_t i = 1; i < size; ++i) text += static_cast<char16_t>(data[i]);
    }
    text = text.substr(0, text.find(u'\0'));

    const CPLThreadErrorSuspender quiet;
    std::string digits;
    for (char16_t c : text)
        if (c != u',') digits += static_cast<char>(c);
    if (!digits.empty() && (digits.back() == '-' || digits.back() == '+')) digits += '0';
    double value = 0;
    if (StringToDouble(text.c_str(), &value) != S_OK) {
        // An optional sign, digits and group separators, and a fraction of digits after ".".
        const std::size_t body = !text.empty() && (text[0] == u'-' || text[0] == u'+') ? 1 : 0;
        const std::size_t point = text.find(u'.', body);
        const bool wellFormed =
            text.find_first_not_of(u"0123456789,", body) == point &&
            (point == std::u16string::npos || text.find_first_not_of(u"0123456789", point + 1) == std::u16string::npos);
        if (wellFormed && !std::isinf(std::strtod(digits.c_str(), nullptr))) std::abort();
        return 0;
    }
    if (!std::isfinite(value)) std::abort();
    if (std::strtod(digits.c_str(), nullptr) != value) std::abort();

    PLString written;
    if (!PLDoubleToVariantText(value, written)) std::abort();
    if (written.GetLength() > 400) std::abort();
    double back = 0;
    if (StringToDouble(written.c_str(), &back) != S_OK) std::abort();
    // Below 10^10 the text keeps all six fraction digits, rounded half up on the seventh.
    if (std::fabs(value) < 1e10 && std::fabs(back - value) > 0.5e-6 + 1e-9) std::abort();
    return 0;
}
