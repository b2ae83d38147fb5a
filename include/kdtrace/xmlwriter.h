/// \file
/// The XML writer: a text accumulator into which properties and property bags write their compact
/// element form (one element per property, named after it, its value inside CDATA).
#ifndef KDTRACE_XMLWRITER_H
#define KDTRACE_XMLWRITER_H

#include <kdtrace/bstr.h>
#include <kdtrace/stream.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

// clang-format off
/// Identifier of IPLXMLWriter.
inline constexpr GUID IID_IPLXMLWriter = {0xBA055175, 0x7549, 0x4668, {0xB9, 0x97, 0x4A, 0x25, 0x3C, 0xC3, 0x82, 0xAF}};
/// Class of an XML writer (IPLXMLWriter).
inline constexpr GUID CLSID_PLXMLWriter = {0xC5158D31, 0xA937, 0x423C, {0xAE, 0x06, 0x64, 0xF9, 0x9A, 0xDA, 0x3D, 0xF4}};
// clang-format on

/// Accumulates text (CLSID_PLXMLWriter): hand it to IPLSerializeXML::WriteXML, then take the
/// text. The text only grows.
struct IPLXMLWriter : IUnknown {
    /// Slot 3: appends text.
    /// \param text  the text
    /// \return S_OK; E_POINTER for null.
    virtual HRESULT Write(const WCHAR* text) = 0;
    /// Slot 4: a byte stream over a copy of the whole text as UTF-16 little-endian bytes (twice
    /// the character count).
    /// \param stream  receives it, with one reference
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetStream(IPLStream** stream) = 0;
    /// Slot 5: the text length in characters.
    /// \param size  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetSize(LONG* size) = 0;
    /// Slot 6: the writer's own zero-terminated text, valid until the next Write or the
    /// writer's release.
    /// \param buffer  receives the pointer
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetBuffer(const WCHAR** buffer) = 0;
    /// Slot 7: the whole text as a new BSTR.
    /// \param text  receives it; the caller frees it with SysFreeString
    /// \return S_OK; E_POINTER; E_OUTOFMEMORY.
    virtual HRESULT GetXML(BSTR* text) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_XMLWRITER_H
