// Free text into the currency parser in several locales. The first byte chooses the locale, the
// rest is the text: ASCII bytes as themselves, the others as characters that locale data writes
// (no-break spaces, currency signs, the minus sign, direction marks, Arabic separators,
// surrogates). A failed parse must leave the amount as it was; a parsed amount must be in range,
// and what the locale's format writes for it must read back as the same amount.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <kdtrace/kdtrace.h>

#include "fuzz/FuzzThread.h"
#include "module_base/PLComObject.h"
#include "module_base/PLCurrency.h"
#include "platform/LocaleInfo.h"

namespace {

constexpr LCID kLocales[] = {0x0409, 0x0407, 0x040C, 0x0416, 0x0411, 0x041E, 0x0807, 0x0419, 0x040D, 0x0401};
constexpr char16_t kWide[] = {u'\u00A0', u'\u202F', u'\u2212', u'\u20AC',        u'\uFFE5',        u'\u0E3F', u'\u2019',
                              u'\u20BD', u'\u2007', u'\u3000', char16_t{0xD83D}, char16_t{0xDCB0}, u'\u0660', u'\uFF11',
                              u'\u200E', u'\u200F', u'\u061C', u'\u20AA',        u'\u066B',        u'\u066C'};

struct Amount {
    LONGLONG units = 0;
    LONG fraction = 0, negative = 0;
    bool operator==(const Amount&) const = default;
};

Amount Read(IPLCurrency* c) {
    Amount a;
    if (c->GetUnits64(&a.units) < 0 || c->GetFractionAsLong(&a.fraction) < 0 || c->IsNegative(&a.negative) < 0)
        std::abort();
    return a;
}

}  // namespace

KD_FUZZ_TARGET(data, size) {
    if (size < 1) return 0;
    const LCID locale = kLocales[data[0] % std::size(kLocales)];
    std::u16string text;
    for (size_t i = 1; i < size; ++i)
        text += data[i] < 0x80 ? static_cast<char16_t>(data[i]) : kWide[data[i] % std::size(kWide)];
    // The text ends at its first terminator, as the caller's would.
    text = text.c_str();

    PLComPtr<IPLCurrency> c;
    if (PLCreateCurrency(locale, c.Put()) < 0 || c->SetValue(-12.34) < 0) std::abort();
    const Amount before = Read(c.Get());
    if (c->SetValueFromString(text.c_str()) < 0) {
        if (!(Read(c.Get()) == before)) std::abort();
        return 0;
    }
    const Amount parsed = Read(c.Get());
    const LONGLONG magnitude = parsed.units < 0 ? -parsed.units : parsed.units;
    if ((parsed.units < 0) != (parsed.negative != 0 && magnitude != 0) || magnitude >= 1000000000000000000LL ||
        parsed.fraction < 0 || parsed.fraction > 99)
        std::abort();
    if (text.size() > 255) std::abort();
    // Amounts in whole units only read back whole where the locale writes no places.
    if (kd::platform::LocaleNumber(locale, kd::platform::LocaleItem::CurrencyDigits).value_or(2) != 2) return 0;
    WCHAR written[128];
    if (c->GetString(written, 128) < 0) std::abort();
    PLComPtr<IPLCurrency> back;
    if (PLCreateCurrency(locale, back.Put()) < 0 || back->SetValueFromString(written) < 0) std::abort();
    Amount expected = parsed;
    if (expected.units == 0 && expected.fraction == 0) expected.negative = 0;  // zero is written unsigned
    if (!(Read(back.Get()) == expected)) std::abort();
    return 0;
}
