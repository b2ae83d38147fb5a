// The XML writer: a text accumulator into which properties and property bags write their compact
// element form (one element per property, named after it, its value inside CDATA).
#ifndef KDTRACE_XMLWRITER_H
#define KDTRACE_XMLWRITER_H

#include <kdtrace/bstr.h>
#include <kdtrace/stream.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

// clang-format off
inline constexpr GUID IID_IPLXMLWriter = {0xBA055175, 0x7549, 0x4668, {0xB9, 0x97, 0x4A, 0x25, 0x3C, 0xC3, 0x82, 0xAF}};
inline constexpr GUID CLSID_PLXMLWriter = {0xC5158D31, 0xA937, 0x423C, {0xAE, 0x06, 0x64, 0xF9, 0x9A, 0xDA, 0x3D, 0xF4}};
// clang-format on

struct IPLXMLWriter : IUnknown {
    virtual HRESULT Write(const WCHAR* text) = 0;  // slot 3: appends the text
    // slot 4: a byte stream over a copy of the whole text as UTF-16 bytes.
    virtual HRESULT GetStream(IPLStream** stream) = 0;
    virtual HRESULT GetSize(LONG* size) = 0;  // slot 5: the text length in characters
    // slot 6: the writer's own zero-terminated text, valid until the next Write.
    virtual HRESULT GetBuffer(const WCHAR** buffer) = 0;
    virtual HRESULT GetXML(BSTR* text) = 0;  // slot 7: a new BSTR of the whole text
};

KDTRACE_END_DECLS

#endif  // KDTRACE_XMLWRITER_H
