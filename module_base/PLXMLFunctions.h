// The property form of property bags: one PROPERTY element per property, with DATATYPE, FORMAT
// (dates) and NAME attributes and the value's text form as content; variant collections as
// ITEM elements. Writing builds a DOM document; reading walks one.
//
// CreateXMLFromPropertyBag and RestorePropertyBagFromXML, the whole round trip, are exported
// (<kdtrace/exports.h>).
//
// Limits: documents nest at most kd::platform::XmlDocument::kMaxDepth elements; writing through
// IUnknown handlers nests at most kPLXMLMaxNesting property collections.
#ifndef KD_PLXMLFUNCTIONS_H
#define KD_PLXMLFUNCTIONS_H

#include <kdtrace/bstr.h>
#include <kdtrace/exports.h>
#include <kdtrace/propertybag.h>
#include <kdtrace/variant.h>

#include "module_base/PLString.h"
#include "platform/XmlDocument.h"

inline constexpr int kPLXMLMaxNesting = 64;

// Writes an IUnknown (or otherwise unnamed) value of a property under `parent`.
using PLXMLUnknownWriter = HRESULT (*)(IUnknown* value, kd::platform::XmlDocument& document,
                                       kd::platform::XmlNode parent, PLString name);
// Fills `value` from a property element whose content is elements.
using PLXMLUnknownReader = HRESULT (*)(kd::platform::XmlNode element, IPLVariant* value);

// Loads `text` into `document`. When the first load fails, references to characters that XML
// forbids ("&#1;") are removed and the text loaded again; a second failure is reported with the
// parser's reason, line and position, the source line and the text.
HRESULT LoadDOMFromXMLBSTR(BSTR text, kd::platform::XmlDocument& document);
HRESULT LoadDOMFromXMLString(const WCHAR* text, kd::platform::XmlDocument& document);

// `text` without the numeric character references to characters XML forbids.
PLString PLRemoveForbiddenCharacterReferences(const PLString& text);

// Appends one property element for `name` = `value` under `parent` (collections as a collection
// element; IUnknown and unnamed kinds through `handler`, or not at all).
HRESULT AppendPropertyToXMLDOM(kd::platform::XmlDocument& document, kd::platform::XmlNode parent, const WCHAR* name,
                               IPLVariant* value, PLXMLUnknownWriter handler);
// Appends one property element per property of `properties` under `parent`.
HRESULT AppendPropertyCollectionToXMLDOM(kd::platform::XmlDocument& document, kd::platform::XmlNode parent,
                                         IPLPropertyCollection* properties, PLXMLUnknownWriter handler);
HRESULT GenerateVariantCollectionXML(IPLVariantCollection* collection, kd::platform::XmlDocument& document,
                                     kd::platform::XmlNode parent, const WCHAR* name);

// Sets a property in `bag` for each element child of `element` (other children are skipped).
HRESULT GetPropertyBagValuesFromXMLDOM(kd::platform::XmlNode element, IPLPropertyBag* bag, PLXMLUnknownReader handler);
// The same for children named after their properties.
HRESULT GetPropertyBagValuesFromLightXMLDOM(kd::platform::XmlNode element, IPLPropertyBag* bag,
                                            PLXMLUnknownReader handler);
// Sets `name` in `bag` from one property element.
HRESULT addValueFromDOMToPropertyBag(kd::platform::XmlNode element, const WCHAR* name, IPLPropertyBag* bag,
                                     PLXMLUnknownReader handler);
// Sets `value` to a new collection of the element's ITEM children.
HRESULT VariantCollectionNodeResolution(kd::platform::XmlNode element, IPLVariant* value);
// Sets `value` to the text of the first node `query` (XPath) selects from `node`.
HRESULT GetPropertyFromXMLNode(kd::platform::XmlNode node, const WCHAR* query, IPLVariant* value);

#endif  // KD_PLXMLFUNCTIONS_H
