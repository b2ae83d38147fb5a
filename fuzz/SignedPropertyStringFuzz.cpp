// Verification of arbitrary text, and signing of arbitrary properties. Text the fuzzer makes must
// never verify (it cannot know the key); properties signed here must verify, and must stop
// verifying when the character the input chooses is changed.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzThread.h"
#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "module_base/PLSignedPropertyString.h"

KD_FUZZ_TARGET(data, size) {
    static IPLDateTime* const now = [] {
        PLComPtr<IPLDateTime> date;
        if (PLCreateInstance(CLSID_PLDateTime, date) < 0 || date->Initialize(6, 1, 2026, 12, 0, 0) < 0) std::abort();
        return date.Detach();
    }();
    // Failures are expected by the thousand: their recording is not what is fuzzed here.
    const CPLThreadErrorSuspender quiet;
    std::u16string text;
    for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    text = text.substr(0, text.find(u'\0'));

    if (VerifySignedPropertyString(text.c_str(), now) == S_OK) std::abort();

    PLString signedText(std::u16string_view{text});
    if (SignPropertyString(signedText, now) != S_OK) std::abort();
    if (VerifySignedPropertyString(signedText.c_str(), now) != S_OK) std::abort();
    std::u16string changed(signedText.view());
    const size_t at = size > 0 ? data[size - 1] * 7u % changed.size() : 0;
    changed[at] = static_cast<char16_t>(changed[at] == u'x' ? u'y' : u'x');
    if (VerifySignedPropertyString(changed.c_str(), now) == S_OK) std::abort();
    PLClearThreadErrors();
    return 0;
}
