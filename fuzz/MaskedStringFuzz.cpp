// Editing sequences on a masked string. The first byte gives the mask's length; the mask and its
// static characters follow, then operations of three bytes (operation, index, character or end).
// After every operation: a failure leaves the value as it was; with a mask the masked string is
// as long as the mask and the value no longer than the input positions; a delete loses no
// character outside the deleted range, and a clear-only delete moves none.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <kdtrace/kdtrace.h>

#include "fuzz/FuzzThread.h"
#include "module_base/PLComObject.h"

namespace {

constexpr char16_t kMaskAlphabet[] = u"09ASXs0B";  // lower case and an unknown character too
constexpr char16_t kChars[] = u"05a-.+*x _Z/\u00E9";

WCHAR Char(uint8_t b) {
    return kChars[b % (std::size(kChars) - 1)];
}

std::u16string Text(IPLMaskedString* s, LONG form) {
    LONG length = 0;
    if (s->GetStringLength(&length, form) < 0) std::abort();
    std::u16string buffer(static_cast<std::size_t>(length) + 1, u'?');
    const HRESULT hr = s->GetString(buffer.data(), length + 1, form);
    if (hr == S_FALSE) std::abort();  // the length said it fits
    if (hr < 0) return u"<failed>";
    buffer.resize(static_cast<std::size_t>(length));
    return buffer;
}

// The characters typed into input positions, not counting blanks and the fill character.
std::u16string Typed(const std::u16string& masked, const std::u16string& mask, WCHAR fill, std::size_t skipFirst,
                     std::size_t skipLast) {
    std::u16string out;
    for (std::size_t i = 0; i < masked.size() && i < mask.size(); ++i) {
        if (mask[i] == u'S' || (i >= skipFirst && i <= skipLast)) continue;
        if (masked[i] != u' ' && masked[i] != fill) out += masked[i];
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

KD_FUZZ_TARGET(data, size) {
    if (size < 1) return 0;
    const std::size_t length = std::min<std::size_t>(data[0] % 17, (size - 1) / 2);
    std::u16string mask, statics;
    for (std::size_t i = 0; i < length; ++i) {
        mask += kMaskAlphabet[data[1 + i] % (std::size(kMaskAlphabet) - 1)];
        statics += Char(data[1 + length + i]);
    }
    PLComPtr<IPLMaskedStringPriv> s;
    if (PLCreateInstance(CLSID_PLMaskedString, IID_IPLMaskedStringPriv, s.PutVoid()) < 0) std::abort();
    if (s->SetMask(mask.c_str(), statics.c_str(), PLMaskStylePositional) < 0) std::abort();
    std::u16string upperMask = mask;
    for (char16_t& c : upperMask) c = c == u's' ? u'S' : c;
    const bool valid = upperMask.find(u'B') == std::u16string::npos;
    WCHAR fill = u' ';

    for (std::size_t at = 1 + 2 * length; at + 3 <= size; at += 3) {
        const uint8_t op = data[at] % 12;
        const LONG index = static_cast<LONG>(data[at + 1] % 24) - 2;
        const uint8_t arg = data[at + 2];
        const LONG form = arg % 3 == 0 ? 0 : 1;
        const std::u16string value = Text(s.Get(), 0);
        const std::u16string masked = Text(s.Get(), 1);
        HRESULT hr = S_OK;
        bool changes = true;
        switch (op) {
            case 0: {
                std::u16string text;
                for (LONG i = 0; i < index + 2; ++i) text += Char(static_cast<uint8_t>(arg + i * 7));
                hr = s->SetValue(text.c_str(), arg % 4 == 3 ? 2 : form);
                break;
            }
            case 1:
                hr = s->SetAt(index, Char(arg), form);
                break;
            case 2:
                hr = s->InsertAt(index, Char(arg), form);
                break;
            case 3:
            case 4: {
                const LONG end = index + static_cast<LONG>(arg % 5) - 1;
                const LONG mode = (arg / 5) % 4;  // 3 is not a mode
                hr = s->DeleteSubstring(index, end, form, mode);
                if (hr >= 0 && form == 1 && !upperMask.empty() && valid) {
                    const std::u16string after = Text(s.Get(), 1);
                    const auto first = static_cast<std::size_t>(index), last = static_cast<std::size_t>(end);
                    // Characters outside the range are kept; only where they stand may change.
                    if (Typed(after, upperMask, fill, SIZE_MAX, 0) != Typed(masked, upperMask, fill, first, last))
                        std::abort();
                    if (mode == PLMaskShiftNone) {
                        for (std::size_t i = 0; i < after.size(); ++i)
                            if ((i < first || i > last) && after[i] != masked[i]) std::abort();
                    }
                }
                break;
            }
            case 5: {
                LONG other = 0;
                changes = false;
                if (s->NormalIndexToMaskedIndex(index, &other) >= 0 && !upperMask.empty()) {
                    LONG back = -1;
                    if (other < static_cast<LONG>(upperMask.size()) &&
                        (s->MaskedIndexToNormalIndex(other, &back) < 0 || back != index))
                        std::abort();
                }
                break;
            }
            case 6: {
                BOOL ok = FALSE;
                changes = false;
                s->ValidateChar(index, Char(arg), &ok, form);
                s->ValidateString(masked.c_str(), &ok, form);
                break;
            }
            case 7:
                fill = Char(arg);
                hr = s->SetFillCharacter(fill);
                changes = false;
                break;
            case 8:
                hr = s->SetFullFieldEntry(arg & 1);
                changes = false;
                break;
            case 9:
                hr = s->Clear();
                break;
            default: {
                PLComPtr<IPLMaskedString> copy;
                PLComPtr<IPLCloneable> cloneable;
                if (s->QueryInterface(IID_IPLCloneable, cloneable.PutVoid()) < 0 ||
                    cloneable->Clone(IID_IPLMaskedString, copy.PutVoid()) < 0 || Text(copy.Get(), 1) != masked)
                    std::abort();
                changes = false;
                break;
            }
        }
        if ((hr < 0 || !changes) && Text(s.Get(), 0) != value) std::abort();
        if (!upperMask.empty() && valid) {
            LONG inputs = 0;
            for (char16_t c : upperMask) inputs += c == u'S' ? 0 : 1;
            if (Text(s.Get(), 1).size() != upperMask.size()) std::abort();
            if (static_cast<LONG>(Text(s.Get(), 0).size()) > inputs) std::abort();
        }
        PLClearThreadErrors();
    }
    return 0;
}
