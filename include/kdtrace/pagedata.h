/// \file
/// Page data: the content of one document page (bytes in memory, in a global memory block or
/// behind a stream) with its property bag; loading and saving it by file name, through global
/// memory blocks, byte buffers and streams; writing a text page as UTF-8; the page-data
/// collection.
///
/// Sizes and counts are signed 32-bit values: a negative one is refused with E_INVALIDARG, and
/// content of 2 GiB or more is refused with an error rather than held with a wrapped size.
#ifndef KDTRACE_PAGEDATA_H
#define KDTRACE_PAGEDATA_H

#include <kdtrace/collection.h>
#include <kdtrace/stream.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

struct IPLPropertyBag;

/// A global memory block: a size, its bytes and a lock count. The page data that takes one over
/// (SetHGLOBAL) frees it; a block handed out by IPLPersistMemory::Save belongs to the caller.
struct PLGlobalBlock;
/// A handle of a global memory block.
typedef PLGlobalBlock* HGLOBAL;

// clang-format off
/// Identifier of IPLPersistFile.
inline constexpr GUID IID_IPLPersistFile = {0x7A009A1A, 0x86C6, 0x46DE, {0xAF, 0x44, 0x98, 0xD4, 0xE1, 0x48, 0xE2, 0x9A}};
/// Identifier of IPLPersistMemory.
inline constexpr GUID IID_IPLPersistMemory = {0x762FABAA, 0xDE70, 0x4BD8, {0xA1, 0xA5, 0x34, 0x3D, 0xA9, 0x0E, 0xE7, 0x0F}};
/// Identifier of IPLPersistStream.
inline constexpr GUID IID_IPLPersistStream = {0xCE9FBFEF, 0x4941, 0x41E2, {0x9F, 0xB2, 0x49, 0x50, 0x3F, 0x5A, 0x51, 0x9C}};
/// Identifier of IPLPageData.
inline constexpr GUID IID_IPLPageData = {0x1FBC2AEE, 0x327D, 0x4EE4, {0x90, 0xC0, 0xE0, 0xD0, 0x73, 0xC5, 0x08, 0x2B}};
/// Identifier of IPLPageDataPriv.
inline constexpr GUID IID_IPLPageDataPriv = {0xB52E7817, 0xAAF0, 0x4D36, {0x82, 0x95, 0xAB, 0x87, 0xAF, 0x80, 0xC3, 0x84}};
/// Identifier of IPLPageDataCollection.
inline constexpr GUID IID_IPLPageDataCollection = {0x9B052D17, 0x21E1, 0x4273, {0xA7, 0x6A, 0x6E, 0x08, 0xBA, 0xC6, 0xFF, 0xD7}};
/// Class of page data (IPLPageData, IPLPageDataPriv, IPLPersistFile, IPLPersistMemory,
/// IPLPersistStream).
inline constexpr GUID CLSID_PLPageData = {0x2482687E, 0x874B, 0x4010, {0xBA, 0x8C, 0x58, 0x33, 0x3E, 0xF0, 0x74, 0xC0}};
/// Class of a page-data collection (IPLPageDataCollection).
inline constexpr GUID CLSID_PLPageDataCollection = {0xE3585297, 0x5883, 0x451F, {0x8E, 0xF3, 0x60, 0x3C, 0x80, 0xB5, 0x80, 0xC3}};
// clang-format on

/// Text encodings of page content: Windows code page numbers (any other code page number
/// works too, e.g. 1252 for Western European, 932 for Japanese).
enum PLTextEncoding : LONG {
    PLTextEncodingNone = 0,         ///< no byte-order mark; as a source encoding, UTF-8
    PLTextEncodingUtf16LE = 1200,   ///< UTF-16 little-endian
    PLTextEncodingUtf16BE = 1201,   ///< UTF-16 big-endian
    PLTextEncodingUtf32LE = 12000,  ///< UTF-32 little-endian
    PLTextEncodingUtf32BE = 12001,  ///< UTF-32 big-endian
    PLTextEncodingUtf7 = 65000,     ///< UTF-7
    PLTextEncodingUtf8 = 65001,     ///< UTF-8
};

/// IPLPersistFile::Load flag: record the path without reading the file.
inline constexpr DWORD PL_PERSIST_FILE_NO_READ = 2;

/// Loading and saving an object by file name.
struct IPLPersistFile : IUnknown {
    /// Slot 3: the file last loaded.
    /// \param buffer  receives the path, whole and terminated
    /// \param size    the buffer's size in characters
    /// \return S_OK; E_INVALIDARG (and the empty string) for a buffer too small; E_POINTER.
    virtual HRESULT GetCurrentFile(WCHAR* buffer, LONG size) = 0;
    /// Slot 4: writes the object's content to a file, opened with the save mode ("wb" unless
    /// set); the current file does not change. With a mode that empties the file the new content
    /// replaces the file whole once it is written (as IPLPageData::SaveToFile does), so a failed
    /// save leaves the file as it was.
    /// \param path  the file
    /// \return S_OK; S_FALSE without content; E_FAIL when the file cannot be opened or
    ///         written; E_POINTER.
    virtual HRESULT Save(const WCHAR* path) = 0;
    /// Slot 5: reads the object from a file and records the path as the current file.
    /// \param path   the file
    /// \param flags  PL_PERSIST_FILE_NO_READ: record the path only
    /// \return S_OK; E_FAIL when the file cannot be opened or read; E_POINTER.
    virtual HRESULT Load(const WCHAR* path, DWORD flags) = 0;
    /// Slot 6: sets the mode Save opens files with.
    /// \param mode  an fopen mode ("wb", "ab", ...)
    /// \return S_OK; E_POINTER.
    virtual HRESULT SetFileFlags(const WCHAR* mode) = 0;
};

/// Loading and saving an object through global memory blocks and byte buffers.
struct IPLPersistMemory : IUnknown {
    /// Slot 3: replaces the content with a copy of a whole block; the caller keeps the block.
    /// \param block  the block, or null to empty the content
    /// \return S_OK; S_FALSE for a null block (content emptied).
    virtual HRESULT Load(HGLOBAL block) = 0;
    /// Slot 4: a new block holding the content, which the caller frees.
    /// \param allocationFlags  the block's allocation flags
    /// \param block            receives the block, or null without content
    /// \return S_OK; S_FALSE without content; E_OUTOFMEMORY; E_POINTER.
    virtual HRESULT Save(DWORD allocationFlags, HGLOBAL* block) = 0;
    /// Slot 5: copies the content into a buffer.
    /// \param buffer  receives up to *size bytes; null asks for the content's length
    /// \param size    in: the buffer's size; out: the bytes copied (or the length)
    /// \return S_OK; S_FALSE when the content did not fit (or there is none); E_POINTER for a
    ///         null `size`.
    virtual HRESULT SaveToBytes(BYTE* buffer, LONG* size) = 0;
    /// Slot 6: replaces the content with a copy of bytes.
    /// \param bytes  the bytes
    /// \param count  their number
    /// \return S_OK; E_INVALIDARG for a negative count; E_OUTOFMEMORY; E_POINTER.
    virtual HRESULT LoadFromBytes(const BYTE* bytes, LONG count) = 0;
};

/// Loading an object from a stream.
struct IPLPersistStream : IUnknown {
    /// Slot 3: reads the stream from its current position to its end into the content.
    /// \param stream  the stream
    /// \return S_OK; E_FAIL when it cannot be read whole; E_POINTER.
    virtual HRESULT Load(IPLStream* stream) = 0;
    /// Slot 4: not implemented.
    /// \param stream  not used
    /// \return E_NOTIMPL.
    virtual HRESULT Save(IPLStream* stream) = 0;
};

/// The content of one document page and its properties (CLSID_PLPageData). Failures are E_FAIL
/// with the reason in the thread's error list unless stated; a null pointer gives E_POINTER.
struct IPLPageData : IUnknown {
    /// Slot 3: the content's length: a held stream's size, else the bytes held.
    /// \param length  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetDataLength(LONG* length) = 0;
    /// Slot 4: a stream over the content from its start: the held stream, reopened, or a new
    /// byte stream over the bytes that keeps the page data alive while it reads (an empty one
    /// for a page without content).
    /// \param stream  receives it, with one reference
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetStream(IPLStream** stream) = 0;
    /// Slot 5: the held global block (not a copy), or null.
    /// \param block  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetHGLOBAL(HGLOBAL* block) = 0;
    /// Slot 6: the page's own property bag (not a copy; the same one on every call).
    /// \param bag  receives it with a reference added
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetProperties(IPLPropertyBag** bag) = 0;
    /// Slot 7: replaces the content with a copy of bytes.
    /// \param bytes  the bytes
    /// \param count  their number
    /// \return S_OK; E_INVALIDARG for a negative count; E_OUTOFMEMORY; E_POINTER.
    virtual HRESULT LoadFromBytes(const BYTE* bytes, LONG count) = 0;
    /// Slot 8: replaces the content with a whole file; the bag's "originalFilePath" becomes the
    /// path. Only a regular file is read: a FIFO or device is refused at once.
    /// \param path  the file
    /// \return S_OK; E_FAIL when the file cannot be opened ("Failed to open image file
    ///         (erc=%ld).", the system's error number), is not a regular file, or cannot be read
    ///         whole; E_POINTER.
    virtual HRESULT LoadFromFile(const WCHAR* path) = 0;
    /// Slot 9: writes the content to a file, replacing its content once it is all written and
    /// keeping the file's mode, owner and links; where no new file can be made beside it, or it
    /// is a device, it is written in place.
    /// \param path  the file
    /// \return S_OK; E_FAIL when it cannot be written; E_POINTER.
    virtual HRESULT SaveToFile(const WCHAR* path) = 0;
    /// Slot 10: writes text content as UTF-8 with a byte-order mark, whatever its encoding, as
    /// SaveToFile writes. Every invalid sequence becomes U+FFFD; a byte-order mark in the content
    /// is dropped when it is the encoding's own, and is text otherwise.
    /// \param path      the file (an existing file is left as it was on failure)
    /// \param encoding  how the content is encoded: a code page number (PLTextEncoding, 1252,
    ///                  ...)
    /// \return S_OK; E_FAIL for UTF-16 big-endian, UTF-32 and UTF-7 content ("Unsupported
    ///         encoding detected"), a code page that cannot be converted, or a file that cannot
    ///         be written; E_POINTER.
    virtual HRESULT SaveToFileAsUTF8(const WCHAR* path, LONGLONG encoding) = 0;
};

/// The library's own view of page data.
struct IPLPageDataPriv : IPLPageData {
    /// Slot 11: appends bytes to the content.
    /// \param bytes  the bytes
    /// \param count  their number
    /// \return S_OK; E_INVALIDARG for a negative count; E_OUTOFMEMORY (the content is then
    ///         emptied); E_POINTER.
    virtual HRESULT Append(const BYTE* bytes, LONG count) = 0;
    /// Slot 12: holds another property bag, carrying over "qualityReduced" when the previous bag
    /// has it.
    /// \param bag  the bag
    /// \return S_OK; E_POINTER.
    virtual HRESULT SetProperties(IPLPropertyBag* bag) = 0;
    /// Slot 13: makes room for `count` more bytes (at least doubling the room, or in steps of
    /// 32 KiB when that is more).
    /// \param count  the bytes to make room for
    /// \return S_OK; E_INVALIDARG for a negative count; E_OUTOFMEMORY (the content is then
    ///         emptied).
    virtual HRESULT ReserveBufferSpace(LONG count) = 0;
    /// Slot 14: holds a stream (null: none), which then answers every query and save until a
    /// load releases it; the bytes in memory are left as they are.
    /// \param stream  the stream
    /// \return S_OK.
    virtual HRESULT SetStream(IPLStream* stream) = 0;
    /// Slot 15: takes over a global block and holds its first `length` bytes as the content;
    /// the page data frees the block.
    /// \param block   the block; set to null when taken over
    /// \param length  the content's length, at most the block's size
    /// \return S_OK; E_INVALIDARG for a length beyond the block's size; E_POINTER.
    virtual HRESULT SetHGLOBAL(HGLOBAL* block, LONG length) = 0;
};

/// Orders two page data for IPLPageDataCollection::Sort.
/// \param first   an item placed already
/// \param second  the item being placed
/// \param result  receives a value above 0 to put `second` before `first`
/// \return S_OK; a failure ends the sort with that code.
typedef HRESULT (*PLPageDataCompareFunction)(IPLPageData* first, IPLPageData* second, LONG* result);

/// An ordered list of page data holding one reference per entry (CLSID_PLPageDataCollection),
/// with the operations of IPLPropertyCollection. Page data have no identifier, name or
/// comparison: searches by identifier or name find nothing and duplicate searches succeed only
/// for entries holding the same pointer.
struct IPLPageDataCollection : IUnknown {
    /// \copydoc IPLTraceContextCollection::GetCount
    virtual LONG GetCount() = 0;
    /// \copydoc IPLTraceContextCollection::GetAt
    virtual HRESULT GetAt(LONG index, IPLPageData** item) = 0;
    /// \copydoc IPLTraceContextCollection::RemoveAll
    virtual HRESULT RemoveAll() = 0;
    /// \copydoc IPLTraceContextCollection::ReservedA
    virtual HRESULT ReservedA(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::Insert
    virtual HRESULT Insert(IPLPageData* item) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedB
    virtual HRESULT ReservedB(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::InsertAt
    virtual HRESULT InsertAt(IPLPageData* item, LONG position, LONG index) = 0;
    /// \copydoc IPLVariantCollection::FindByID
    virtual HRESULT FindByID(ULONG id, IPLPageData** item) = 0;
    /// \copydoc IPLVariantCollection::CheckExistsByID
    virtual HRESULT CheckExistsByID(ULONG id, BOOL* exists) = 0;
    /// \copydoc IPLVariantCollection::FindByName
    virtual HRESULT FindByName(const WCHAR* name, IPLPageData** item) = 0;
    /// \copydoc IPLTraceContextCollection::Remove
    virtual HRESULT Remove(IPLPageData* item) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedC
    virtual HRESULT ReservedC(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::Sort
    virtual HRESULT Sort(PLPageDataCompareFunction compare) = 0;
    /// \copydoc IPLTraceContextCollection::SetReadOnly
    virtual HRESULT SetReadOnly(BOOL readOnly) = 0;
    /// \copydoc IPLTraceContextCollection::GetReadOnly
    virtual HRESULT GetReadOnly(BOOL* readOnly) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedD
    virtual HRESULT ReservedD(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedE
    virtual HRESULT ReservedE(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::ReservedF
    virtual HRESULT ReservedF(void* unused) = 0;
    /// \copydoc IPLTraceContextCollection::FindDuplicates
    virtual HRESULT FindDuplicates(IPLPageData* item, PLItemArray<IPLPageData>* duplicates, LONG start) = 0;
    /// \copydoc IPLTraceContextCollection::PurgeDuplicates
    virtual HRESULT PurgeDuplicates() = 0;
    /// \copydoc IPLTraceContextCollection::FindAllDuplicates
    virtual HRESULT FindAllDuplicates(PLItemArray<IPLPageData>* duplicates, BYTE sorted) = 0;
    /// \copydoc IPLVariantCollection::CheckExistsByName
    virtual HRESULT CheckExistsByName(const WCHAR* name, BOOL* exists) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_PAGEDATA_H
