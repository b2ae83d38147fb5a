// Arbitrary text (UTF-8) restored into a bag. A bag that was restored must write again, and its
// written text must restore again.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <kdtrace/exports.h>
#include <kdtrace/propertybag.h>
#include <kdtrace/variant.h>

#include "fuzz/FuzzThread.h"
#include "module_base/PLComObject.h"
#include "module_base/PLString.h"

KD_FUZZ_TARGET(data, size) {
    const PLString text = PLString::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    PLComPtr<IPLPropertyBag> bag;
    if (RestorePropertyBagFromXML(text.c_str(), bag.Put()) < 0) {
        if (bag) std::abort();  // no bag on failure
        return 0;
    }
    PLComPtr<IPLVariant> xml;
    if (CreateXMLFromPropertyBag(bag.Get(), xml.Put(), u"Root") < 0) std::abort();
    LONG length = 0;
    xml->GetValueStringLength(&length);
    std::u16string buffer(static_cast<size_t>(length > 0 ? length : 1), u'\0');
    xml->GetValueString(buffer.data(), length);
    PLComPtr<IPLPropertyBag> back;
    (void)RestorePropertyBagFromXML(buffer.c_str(), back.Put());
    PLClearThreadErrors();
    return 0;
}
