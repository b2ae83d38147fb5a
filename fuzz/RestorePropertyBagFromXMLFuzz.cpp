// Arbitrary text (UTF-8) restored into a bag. A bag that was restored must write again, and what
// it writes must restore to a bag that writes the same text: what the writer writes, the reader
// reads back.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <kdtrace/exports.h>
#include <kdtrace/propertybag.h>
#include <kdtrace/variant.h>

#include "fuzz/FuzzThread.h"
#include "module_base/PLComObject.h"
#include "module_base/PLPropertyBagFunctions.h"
#include "module_base/PLString.h"

namespace {
PLString Written(IPLPropertyBag* bag) {
    PLComPtr<IPLVariant> xml;
    PLString text;
    if (CreateXMLFromPropertyBag(bag, xml.Put(), u"Root") < 0 || GetPLStringFromVariant(xml.Get(), &text) < 0)
        std::abort();
    return text;
}
}  // namespace

KD_FUZZ_TARGET(data, size) {
    const PLString text = PLString::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    PLComPtr<IPLPropertyBag> bag;
    if (RestorePropertyBagFromXML(text.c_str(), bag.Put()) < 0) {
        if (bag) std::abort();  // no bag on failure
        return 0;
    }
    const PLString first = Written(bag.Get());
    PLComPtr<IPLPropertyBag> back;
    if (RestorePropertyBagFromXML(first.c_str(), back.Put()) < 0 || Written(back.Get()) != first) std::abort();
    PLClearThreadErrors();
    return 0;
}
