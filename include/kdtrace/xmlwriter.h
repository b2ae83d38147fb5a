// The XML writer: a text accumulator into which properties and property bags write their
// compact element form.
#ifndef KDTRACE_XMLWRITER_H
#define KDTRACE_XMLWRITER_H

#include <kdtrace/bstr.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

struct IPLStream;

// clang-format off
inline constexpr GUID IID_IPLXMLWriter = {0xF3B0D0A4, 0xAB5A, 0x453C, {0x9B, 0x2B, 0xCA, 0x97, 0x81, 0x77, 0xD5, 0xA0}};
inline constexpr GUID CLSID_PLXMLWriter = {0xC5158D31, 0xA937, 0x423C, {0xAE, 0x06, 0x64, 0xF9, 0x9A, 0xDA, 0x3D, 0xF4}};
// clang-format on

struct IPLXMLWriter : IUnknown {
    virtual HRESULT Write(const WCHAR* text) = 0;  // slot 3: appends
    // slot 4: a new open byte stream over a copy of the text as UTF-16 (two bytes a character).
    virtual HRESULT GetStream(IPLStream** stream) = 0;
    virtual HRESULT GetSize(LONG* size) = 0;  // slot 5: in characters
    // slot 6: the writer's own zero-terminated text, valid until the next Write or the writer's end.
    virtual HRESULT GetBuffer(const WCHAR** buffer) = 0;
    virtual HRESULT GetXML(BSTR* text) = 0;  // slot 7: a new BSTR holding the text
};

#endif  // KDTRACE_XMLWRITER_H
