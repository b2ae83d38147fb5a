// The XML writer.
#include "module_base/PLXMLWriter.h"

#include <kdtrace/stream.h>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "platform/Text.h"
#include "platform/XmlDocument.h"

PL_REGISTER_CLASS(CPLXMLWriter, CLSID_PLXMLWriter);

namespace {
// Recorded as "Core Services", "Utility Functions", "CPLXMLWriter::Method".
#define PL_XMLWRITER_SITE \
    (::PLGuardSite{"Core Services", __PRETTY_FUNCTION__, "Utility Functions", ::PLGuardNaming::QualifiedMethod})
constexpr std::u16string_view kOpenBag = u"<PropertyBag>";
constexpr std::u16string_view kCloseBag = u"</PropertyBag>";
}  // namespace

HRESULT CPLXMLWriter::Write(const WCHAR* text) {
    return PLGuard(PL_XMLWRITER_SITE, [&](HRESULT&) {
        if (text == nullptr) PL_THROW_ERROR(E_POINTER, "Invalid string pointer", 1);
        int32_t length = 0;
        PLCallOut([&] { length = static_cast<int32_t>(kd::platform::Utf16Length(text)); });
        const std::u16string_view written(text, static_cast<std::size_t>(length));
        // Every nested bag opens its element with a Write of its own: counting them bounds the
        // recursion of a bag that holds itself.
        if (written == kOpenBag) {
            if (m_bagNesting >= kMaxBagNesting)
                PL_THROW_ERROR(E_FAIL, "Property bags nested more than 64 levels deep cannot be written", 1);
            ++m_bagNesting;
        } else if (written == kCloseBag && m_bagNesting > 0) {
            --m_bagNesting;
        }
        PLCallOut([&] { m_text.Append(text, length); });
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

bool PLIsXMLName(const WCHAR* name) {
    return name != nullptr && kd::platform::IsXmlName(std::u16string_view(name, kd::platform::Utf16Length(name)));
}

void PLAppendCData(PLString& out, const PLString& value) {
    static constexpr WCHAR kEnd[] = u"]]>";
    out += u"<![CDATA[";
    int32_t from = 0;
    for (int32_t at = value.Find(kEnd, 0); at >= 0; at = value.Find(kEnd, from)) {
        out.Append(value.c_str() + from, at + 2 - from);  // through "]]"
        out += u"]]><![CDATA[";
        from = at + 2;  // the ">" opens the next section
    }
    out.Append(value.c_str() + from, value.GetLength() - from);
    out += kEnd;
}
