// Arbitrary text (UTF-8) loaded as an error list. A list that loaded saves, loads back and saves
// to the same text; a text that fails leaves the list's items as they were.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <kdtrace/error.h>
#include <kdtrace/variant.h>

#include "fuzz/FuzzThread.h"
#include "module_base/PLComObject.h"
#include "module_base/PLString.h"

namespace {
PLString Saved(IPLErrorInfo* list) {
    PLComPtr<IPLVariant> xml;
    if (list->SaveToXML(xml.Put()) < 0) std::abort();
    BSTR text = nullptr;
    if (xml->AllocSysString(&text) < 0) std::abort();
    PLString out(std::u16string_view(text, SysStringLen(text)));
    SysFreeString(text);
    return out;
}
}  // namespace

KD_FUZZ_TARGET(data, size) {
    const PLString text = PLString::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    PLComPtr<IPLErrorInfo> list;
    if (PLCreateInstance(CLSID_PLErrorInfo, list) < 0) std::abort();
    list->AddError(u"M", u"C", u"F", E_FAIL, 0, u"kept", 0, u"", 0);
    if (list->LoadFromXML(text.c_str()) < 0) {
        LONG count = 0;
        list->GetCount(&count);
        if (count != 1) std::abort();
    } else {
        const PLString first = Saved(list.Get());
        PLComPtr<IPLErrorInfo> again;
        if (PLCreateInstance(CLSID_PLErrorInfo, again) < 0 || again->LoadFromXML(first.c_str()) < 0) std::abort();
        if (Saved(again.Get()) != first) std::abort();
    }
    PLClearThreadErrors();
    return 0;
}
