// CPLXMLWriter: accumulates the compact element form that properties and bags write of
// themselves.
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

    // The text written so far (for the library's own callers).
    const PLString& Text() const noexcept { return m_text; }

protected:
    ~CPLXMLWriter() override = default;

private:
    PLString m_text;
};

#endif  // KD_PLXMLWRITER_H
