// Arbitrary well-formed XML (UTF-8), whatever its shape, read into bags by both readers. A bag
// either reader filled writes in the property form, and that text restores to a bag that writes
// the same text.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <kdtrace/exports.h>
#include <kdtrace/propertybag.h>

#include "fuzz/FuzzThread.h"
#include "module_base/PLComObject.h"
#include "module_base/PLPropertyBagFunctions.h"
#include "module_base/PLString.h"
#include "module_base/PLXMLFunctions.h"
#include "platform/XmlDocument.h"

namespace {
PLString Written(IPLPropertyBag* bag) {
    PLComPtr<IPLVariant> xml;
    PLString text;
    if (CreateXMLFromPropertyBag(bag, xml.Put(), u"Root") < 0 || GetPLStringFromVariant(xml.Get(), &text) < 0)
        std::abort();
    return text;
}
void CheckRoundTrip(IPLPropertyBag* bag) {
    const PLString first = Written(bag);
    PLComPtr<IPLPropertyBag> back;
    if (RestorePropertyBagFromXML(first.c_str(), back.Put()) < 0 || Written(back.Get()) != first) std::abort();
}
}  // namespace

KD_FUZZ_TARGET(data, size) {
    const PLString text = PLString::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    kd::platform::XmlDocument document;
    kd::platform::XmlParseError error;
    if (!document.Parse(text.view(), error)) return 0;
    PLComPtr<IPLPropertyBag> bag, light;
    if (PLCreatePropertyBag(bag.Put()) < 0 || PLCreatePropertyBag(light.Put()) < 0) return 0;
    (void)GetPropertyBagValuesFromXMLDOM(document.Root(), bag.Get(), nullptr);
    (void)GetPropertyBagValuesFromLightXMLDOM(document.Root(), light.Get(), nullptr);
    CheckRoundTrip(bag.Get());
    CheckRoundTrip(light.Get());
    PLClearThreadErrors();
    return 0;
}
