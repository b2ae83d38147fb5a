// CPLXMLWriter: accumulates the compact element form of properties and bags; and the two rules
// that keep that form well formed (names must be XML names, values go into CDATA sections that
// never contain their own end marker).
#ifndef KD_PLXMLWRITER_H
#define KD_PLXMLWRITER_H

#include <kdtrace/xmlwriter.h>

#include "module_base/PLComObject.h"
#include "module_base/PLInterfaceId.h"
#include "module_base/PLString.h"

class CPLXMLWriter : public CPLComObject<CPLReleaseModel>, public IPLXMLWriter {
    PL_BEGIN_INTERFACE_MAP(CPLXMLWriter, IPLXMLWriter)
    PL_INTERFACE_ENTRY(IPLXMLWriter)
    PL_END_INTERFACE_MAP()

public:
    CPLXMLWriter() noexcept = default;

    HRESULT Write(const WCHAR* text) override;
    HRESULT GetStream(IPLStream** stream) override;
    HRESULT GetSize(LONG* size) override;
    HRESULT GetBuffer(const WCHAR** buffer) override;
    HRESULT GetXML(BSTR* text) override;

    // How deep bags may nest in one writer: a bag that holds itself (directly or through a
    // collection) is refused at this depth instead of recursing without end.
    static constexpr int kMaxBagNesting = 64;

    // The text written so far (for the library's own callers).
    const PLString& Text() const noexcept { return m_text; }

protected:
    ~CPLXMLWriter() override = default;

private:
    PLString m_text;
    int m_bagNesting = 0;  // "<PropertyBag>" elements open
};

// Whether `name` may name an element or attribute.
bool PLIsXMLName(const WCHAR* name);

// Appends `value` to `out` as CDATA that reads back as exactly `value`: every "]]>" inside it
// ends one section after "]]" and starts the next with ">".
void PLAppendCData(PLString& out, const PLString& value);

#endif  // KD_PLXMLWRITER_H
