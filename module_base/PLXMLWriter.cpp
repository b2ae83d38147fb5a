// The XML writer.
#include "module_base/PLXMLWriter.h"

#include <kdtrace/stream.h>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "platform/Text.h"

PL_REGISTER_CLASS(CPLXMLWriter, CLSID_PLXMLWriter);

namespace {
// Recorded as "Core Services", "Utility Functions", "CPLXMLWriter::Method".
#define PL_XMLWRITER_SITE \
    (::PLGuardSite{"Core Services", __PRETTY_FUNCTION__, "Utility Functions", ::PLGuardNaming::QualifiedMethod})
}  // namespace

HRESULT CPLXMLWriter::Write(const WCHAR* text) {
    return PLGuard(PL_XMLWRITER_SITE, [&](HRESULT&) {
        if (text == nullptr) PL_THROW_ERROR(E_POINTER, "Invalid string pointer", 1);
        PLCallOut([&] { m_text.Append(text, static_cast<int32_t>(kd::platform::Utf16Length(text))); });
    });
}

HRESULT CPLXMLWriter::GetStream(IPLStream** stream) {
    if (stream == nullptr) return E_POINTER;
    return PLGuard(PL_XMLWRITER_SITE, [&](HRESULT& hr) {
        *stream = nullptr;
        PLComPtr<IPLByteStream> created;
        hr = PLCreateInstance(CLSID_PLByteStream, created);
        PL_THROW_ERROR(hr, "Failed to create byte stream.", 1);
        static const BYTE kNothing = 0;
        const BYTE* bytes = m_text.IsEmpty() ? &kNothing : reinterpret_cast<const BYTE*>(m_text.c_str());
        hr = created->Initialize(bytes, m_text.GetLength() * static_cast<LONG>(sizeof(WCHAR)));
        PL_THROW_ERROR(hr, "Failed to initialize byte stream.", 0);
        PLComPtr<IPLStream> result;
        hr = created->QueryInterface(IID_IPLStream, result.PutVoid());
        PL_THROW_ERROR(hr, "Failed to create byte stream.", 1);
        *stream = result.Detach();
    });
}

HRESULT CPLXMLWriter::GetSize(LONG* size) {
    return PLStoreOut(PL_XMLWRITER_SITE, size, static_cast<LONG>(m_text.GetLength()));
}

HRESULT CPLXMLWriter::GetBuffer(const WCHAR** buffer) {
    return PLStoreOut(PL_XMLWRITER_SITE, buffer, m_text.c_str());
}

HRESULT CPLXMLWriter::GetXML(BSTR* text) {
    if (text == nullptr) return E_POINTER;
    return PLGuard(PL_XMLWRITER_SITE, [&](HRESULT& hr) {
        BSTR copy = SysAllocStringLen(m_text.c_str(), static_cast<uint32_t>(m_text.GetLength()));
        if (copy == nullptr) {
            hr = E_OUTOFMEMORY;
            PL_THROW_ERROR(hr, "Memory allocation failed", 1);
        }
        *text = copy;
    });
}
