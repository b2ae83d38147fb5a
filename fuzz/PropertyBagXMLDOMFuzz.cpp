// Arbitrary well-formed XML (UTF-8), whatever its shape, read into bags by both readers.
#include <cstdint>
#include <string_view>

#include <kdtrace/exports.h>
#include <kdtrace/propertybag.h>

#include "fuzz/FuzzThread.h"
#include "module_base/PLComObject.h"
#include "module_base/PLString.h"
#include "module_base/PLXMLFunctions.h"
#include "platform/XmlDocument.h"

KD_FUZZ_TARGET(data, size) {
    const PLString text = PLString::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    kd::platform::XmlDocument document;
    kd::platform::XmlParseError error;
    if (!document.Parse(text.view(), error)) return 0;
    PLComPtr<IPLPropertyBag> bag, light;
    if (PLCreatePropertyBag(bag.Put()) < 0 || PLCreatePropertyBag(light.Put()) < 0) return 0;
    (void)GetPropertyBagValuesFromXMLDOM(document.Root(), bag.Get(), nullptr);
    (void)GetPropertyBagValuesFromLightXMLDOM(document.Root(), light.Get(), nullptr);
    PLClearThreadErrors();
    return 0;
}
