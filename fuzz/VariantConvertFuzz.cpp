// Conversion of arbitrary text to every kind. The first byte chooses the text encoding, whether
// a date format mask is set (the mask is the text up to a 0 byte, the value the rest), the
// target kind and the process locale.
// A conversion that fails must leave the variant as it was; one that succeeds must give a
// variant of the target kind with a text form that converts back to an equal value, dates
// (without a fuzzed mask) to the same text, whatever the locale's separators.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <kdtrace/variant.h>

#include "fuzz/FuzzThread.h"
#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "module_base/PLVariant.h"

namespace {

std::u16string Decode(const uint8_t* data, size_t size, bool wide) {
    std::u16string out;
    if (!wide) {
        for (size_t i = 0; i < size; ++i) out += static_cast<char16_t>(data[i]);
    } else {
        for (size_t i = 0; i + 1 < size; i += 2) out += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    return out.substr(0, out.find(u'\0'));
}

std::u16string TextOf(IPLVariant* v) {
    LONG length = 0;
    if (v->GetValueStringLength(&length) != S_OK || length < 1) std::abort();
    std::u16string buffer(static_cast<size_t>(length), u'#');
    if (v->GetValueString(buffer.data(), length) != S_OK) std::abort();
    if (buffer[static_cast<size_t>(length) - 1] != 0) std::abort();
    buffer.resize(static_cast<size_t>(length) - 1);
    return buffer;
}

LONG TypeOf(IPLVariant* v) {
    LONG type = 0;
    if (v->GetType(&type) != S_OK) std::abort();
    return type;
}

}  // namespace

KD_FUZZ_TARGET(data, size) {
    if (size < 1) return 0;
    const uint8_t settings = data[0];
    const bool wide = (settings & 1) != 0;
    size_t split = 1;
    while (split < size && data[split] != 0) ++split;
    const std::u16string first = Decode(data + 1, split - 1, wide);
    const std::u16string rest = split < size ? Decode(data + split + 1, size - split - 1, wide) : u"";
    const bool withMask = (settings & 2) != 0 && split < size;
    const std::u16string& text = withMask ? rest : first;

    static constexpr LONG kKinds[] = {PLVariantEmpty,
                                      PLVariantUndefined,
                                      PLVariantString,
                                      PLVariantLong,
                                      PLVariantDouble,
                                      PLVariantBoolean,
                                      5,
                                      PLVariantDateTime,
                                      PLVariantIUnknown,
                                      PLVariantCollection,
                                      PLVariantDateTimeOfDay,
                                      PLVariantLongLong};
    static constexpr const char* kLocales[] = {"en_US.UTF-8", "fi_FI.UTF-8", "da_DK.UTF-8",
                                               "id_ID.UTF-8", "th_TH.UTF-8", "de_DE.UTF-8"};
    ::setenv("LC_ALL", kLocales[(settings >> 2) / 12 % 6], 1);
    const CPLThreadErrorSuspender quiet;
    {
        const LONG kind = kKinds[(settings >> 2) % 12];
        PLComPtr<IPLVariant> v;
        if (PLCreateVariant(v.Put()) != S_OK) std::abort();
        if (v->SetValueString(text.c_str()) != S_OK) std::abort();
        if (withMask && v->SetDateTimeFormatString(first.c_str()) != S_OK) std::abort();
        const HRESULT hr = v->Convert(kind);
        if (hr < 0) {
            if (TypeOf(v.Get()) != PLVariantString || TextOf(v.Get()) != text) std::abort();
            return 0;
        }
        const LONG type = TypeOf(v.Get());
        if (kind == PLVariantUndefined || kind == 5) {
            if (type != PLVariantString) std::abort();
            return 0;
        }
        if (type != kind) std::abort();
        // The text form of what was read converts back to the same value. (A date written
        // through a fuzzed mask need not read back: such a mask may drop fields.)
        if (withMask && (kind == PLVariantDateTime || kind == PLVariantDateTimeOfDay)) return 0;
        const std::u16string written = TextOf(v.Get());
        PLComPtr<IPLVariant> again;
        if (PLCreateVariant(again.Put()) != S_OK) std::abort();
        if (again->SetValueString(written.c_str()) != S_OK) std::abort();
        if (withMask && again->SetDateTimeFormatString(first.c_str()) != S_OK) std::abort();
        if (again->Convert(kind) != S_OK) std::abort();
        if (kind == PLVariantString || kind == PLVariantLong || kind == PLVariantBoolean || kind == PLVariantLongLong) {
            LONG order = 1;
            if (v->CompareEx(again.Get(), false, &order) == S_OK && order != 0) std::abort();
            if (TextOf(again.Get()) != written) std::abort();
        }
        if ((kind == PLVariantDateTime || kind == PLVariantDateTimeOfDay) && TextOf(again.Get()) != written)
            std::abort();
    }
    return 0;
}
