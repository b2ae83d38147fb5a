// CPLProperty: a named value, the item a property bag hands out when asked for all its entries
// and the unit in which a bag writes itself as compact XML.
//
// The name lives in a fixed buffer (at most 254 characters; longer names are cut). The value
// object is shared, not copied: GetValue hands out the very object Initialize was given.
#ifndef KD_PLPROPERTY_H
#define KD_PLPROPERTY_H

#include <kdtrace/propertybag.h>
#include <kdtrace/variant.h>
#include <kdtrace/xmlwriter.h>

#include "module_base/PLComObject.h"
#include "module_base/PLMemoryMarker.h"

class CPLProperty : public CPLComObject<CPLReleaseModel>,
                    public IPLProperty,
                    public IPLSerializeXML,
                    public CMemoryMarker<CPLProperty> {
    PL_BEGIN_INTERFACE_MAP(CPLProperty, IPLProperty)
    PL_INTERFACE_ENTRY(IPLProperty)
    PL_INTERFACE_ENTRY(IPLSerializeXML)
    PL_END_INTERFACE_MAP()

public:
    static constexpr LONG kNameSize = 256;  // the buffer; 254 characters are kept

    CPLProperty() noexcept = default;

    // IPLProperty
    HRESULT Initialize(const WCHAR* name, IPLVariant* value) override;
    HRESULT GetName(WCHAR* buffer, LONG size) override;
    HRESULT GetValue(IPLVariant** value) override;

    // IPLSerializeXML: <name><![CDATA[text]]></name> for the scalar kinds, the nested object's
    // own XML for an IUnknown value, an empty element for every other kind. A name that is not
    // an XML name is refused; a "]]>" in the text is split across two CDATA sections.
    HRESULT WriteXML(IPLXMLWriter* writer, LONG flags) override;

protected:
    ~CPLProperty() override = default;

private:
    WCHAR m_name[kNameSize] = {};
    PLComPtr<IPLVariant> m_value;
};

// Whether `name` is an XML name (a letter, "_" or ":" first, then letters, digits, ".", "-",
// "_", ":"; characters from U+0080 on count as letters where XML allows them).
bool PLIsXMLName(const WCHAR* name);

// Appends `text` as CDATA content: "<![CDATA[" text "]]>", with every "]]>" inside the text split
// so that the section reads back as exactly `text`. A carriage return (which readers would turn
// into a line feed inside a section) and each character XML cannot hold (a control other than
// tab, line feed and carriage return; U+FFFE, U+FFFF) end the section and are written as
// character references ("&#xD;", "&#x1;") before the next one; LoadDOMFromXMLBSTR's retry
// removes the latter. False (and nothing appended) for text with an unpaired surrogate, which XML
// has no form for.
bool PLAppendCData(std::u16string& out, std::u16string_view text);

// The text of a Double without a text form of its own, in both XML forms: "NaN", "INF" or "-INF",
// as XML Schema writes them; null for a finite value. PLParseNonFiniteDouble reads them back.
const char16_t* PLNonFiniteDoubleText(double value) noexcept;
bool PLParseNonFiniteDouble(std::u16string_view text, double& value) noexcept;

#endif  // KD_PLPROPERTY_H
