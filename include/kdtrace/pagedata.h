// Page data: the content of one document page (bytes in memory, in a global memory block or
// behind a stream) with its property bag; loading and saving it by file name, through global
// memory blocks, byte buffers and streams; writing a text page as UTF-8; the page-data
// collection.
//
// Sizes and counts are signed 32-bit values: a negative one is refused with E_INVALIDARG, and
// content of 2 GiB or more is refused with an error rather than held with a wrapped size.
#ifndef KDTRACE_PAGEDATA_H
#define KDTRACE_PAGEDATA_H

#include <kdtrace/collection.h>
#include <kdtrace/stream.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

struct IPLPropertyBag;

// A global memory block: a size, its bytes and a lock count. The page data that takes one over
// frees it; a block handed out by IPLPersistMemory::Save belongs to the caller.
struct PLGlobalBlock;
typedef PLGlobalBlock* HGLOBAL;

// clang-format off
inline constexpr GUID IID_IPLPersistFile = {0x7A009A1A, 0x86C6, 0x46DE, {0xAF, 0x44, 0x98, 0xD4, 0xE1, 0x48, 0xE2, 0x9A}};
inline constexpr GUID IID_IPLPersistMemory = {0x762FABAA, 0xDE70, 0x4BD8, {0xA1, 0xA5, 0x34, 0x3D, 0xA9, 0x0E, 0xE7, 0x0F}};
inline constexpr GUID IID_IPLPersistStream = {0xCE9FBFEF, 0x4941, 0x41E2, {0x9F, 0xB2, 0x49, 0x50, 0x3F, 0x5A, 0x51, 0x9C}};
inline constexpr GUID IID_IPLPageData = {0x1FBC2AEE, 0x327D, 0x4EE4, {0x90, 0xC0, 0xE0, 0xD0, 0x73, 0xC5, 0x08, 0x2B}};
inline constexpr GUID IID_IPLPageDataPriv = {0xB52E7817, 0xAAF0, 0x4D36, {0x82, 0x95, 0xAB, 0x87, 0xAF, 0x80, 0xC3, 0x84}};
inline constexpr GUID IID_IPLPageDataCollection = {0x9B052D17, 0x21E1, 0x4273, {0xA7, 0x6A, 0x6E, 0x08, 0xBA, 0xC6, 0xFF, 0xD7}};
inline constexpr GUID CLSID_PLPageData = {0x2482687E, 0x874B, 0x4010, {0xBA, 0x8C, 0x58, 0x33, 0x3E, 0xF0, 0x74, 0xC0}};
inline constexpr GUID CLSID_PLPageDataCollection = {0xE3585297, 0x5883, 0x451F, {0x8E, 0xF3, 0x60, 0x3C, 0x80, 0xB5, 0x80, 0xC3}};
// clang-format on

// Text encodings of page content: Windows code page numbers.
enum PLTextEncoding : LONG {
    PLTextEncodingNone = 0,  // no byte-order mark; as a source encoding, the system's narrow text (UTF-8)
    PLTextEncodingUtf16LE = 1200,
    PLTextEncodingUtf16BE = 1201,
    PLTextEncodingUtf32LE = 12000,
    PLTextEncodingUtf32BE = 12001,
    PLTextEncodingUtf7 = 65000,
    PLTextEncodingUtf8 = 65001,
};

// IPLPersistFile::Load flag: record the path without reading the file.
inline constexpr DWORD PL_PERSIST_FILE_NO_READ = 2;

// Loading and saving an object by file name.
struct IPLPersistFile : IUnknown {
    // slot 3: the file last loaded, copied whole (terminated) into `size` characters; a buffer
    // too small gives E_INVALIDARG and the empty string.
    virtual HRESULT GetCurrentFile(WCHAR* buffer, LONG size) = 0;
    // slot 4: writes the object to `path`, opened with the save mode ("wb" unless set). With a
    // mode that empties the file the new content replaces the file whole once it is written (as
    // IPLPageData::SaveToFile does), so a failed save leaves the file as it was.
    virtual HRESULT Save(const WCHAR* path) = 0;
    // slot 5: reads the object from `path` (unless PL_PERSIST_FILE_NO_READ is set in `flags`)
    // and records the path as the current file.
    virtual HRESULT Load(const WCHAR* path, DWORD flags) = 0;
    virtual HRESULT SetFileFlags(const WCHAR* mode) = 0;  // slot 6: the save mode (fopen modes)
};

// Loading and saving an object through global memory blocks and byte buffers.
struct IPLPersistMemory : IUnknown {
    // slot 3: copies the whole block; the caller keeps it. A null block clears and gives S_FALSE.
    virtual HRESULT Load(HGLOBAL block) = 0;
    // slot 4: a new block with the content, which the caller frees; S_FALSE and null without
    // content.
    virtual HRESULT Save(DWORD allocationFlags, HGLOBAL* block) = 0;
    // slot 5: copies up to *size bytes and sets *size to the number copied (S_FALSE when the
    // content did not fit); a null buffer asks for the content's length.
    virtual HRESULT SaveToBytes(BYTE* buffer, LONG* size) = 0;
    virtual HRESULT LoadFromBytes(const BYTE* bytes, LONG count) = 0;  // slot 6: a copy
};

// Loading an object from a stream.
struct IPLPersistStream : IUnknown {
    // slot 3: reads the stream from its current position to its end.
    virtual HRESULT Load(IPLStream* stream) = 0;
    virtual HRESULT Save(IPLStream* stream) = 0;  // slot 4: E_NOTIMPL
};

// The content of one document page and its properties.
struct IPLPageData : IUnknown {
    virtual HRESULT GetDataLength(LONG* length) = 0;  // slot 3: the stream's size when one is held
    // slot 4: a stream over the content from its start: the held stream, reopened, or a new
    // byte stream that keeps the bytes it reads alive (an empty one for a page without content).
    virtual HRESULT GetStream(IPLStream** stream) = 0;
    virtual HRESULT GetHGLOBAL(HGLOBAL* block) = 0;  // slot 5: the held block (not a copy), or null
    // slot 6: the page's own bag (not a copy), made empty on first use when none is held.
    virtual HRESULT GetProperties(IPLPropertyBag** bag) = 0;
    virtual HRESULT LoadFromBytes(const BYTE* bytes, LONG count) = 0;  // slot 7: a copy
    // slot 8: the whole file (a regular file only: a FIFO or device is refused at once); the bag's
    // "originalFilePath" becomes `path`.
    virtual HRESULT LoadFromFile(const WCHAR* path) = 0;
    // slot 9: replaces the file's content once it is all written, keeping the file's mode, owner
    // and links; where no new file can be made beside it, or it is a device, it is written in
    // place.
    virtual HRESULT SaveToFile(const WCHAR* path) = 0;
    // slot 10: writes the content, encoded as `encoding` (a code page number) says, as UTF-8
    // text with a byte-order mark, as SaveToFile writes. Every invalid sequence becomes U+FFFD; a
    // byte-order mark in the content is dropped when it is the encoding's own, and is text
    // otherwise. An encoding that cannot be converted fails and leaves an existing file as it
    // was.
    virtual HRESULT SaveToFileAsUTF8(const WCHAR* path, LONGLONG encoding) = 0;
};

// The library's own view of page data.
struct IPLPageDataPriv : IPLPageData {
    virtual HRESULT Append(const BYTE* bytes, LONG count) = 0;  // slot 11
    // slot 12: holds `bag`, carrying over "qualityReduced" when the previous bag has it.
    virtual HRESULT SetProperties(IPLPropertyBag* bag) = 0;
    virtual HRESULT ReserveBufferSpace(LONG count) = 0;  // slot 13: room for `count` more bytes
    // slot 14: holds `stream` (null: none), which then answers every query and save until a load
    // releases it; the memory content is left untouched.
    virtual HRESULT SetStream(IPLStream* stream) = 0;
    // slot 15: takes over *block (freed by the page data) and holds its first `length` bytes as
    // the content; a length beyond the block's size is refused.
    virtual HRESULT SetHGLOBAL(HGLOBAL* block, LONG length) = 0;
};

// Orders two page data for IPLPageDataCollection::Sort: a result above 0 puts `first` after
// `second`.
typedef HRESULT (*PLPageDataCompareFunction)(IPLPageData* first, IPLPageData* second, LONG* result);

// An ordered list of page data holding one reference per entry. Page data have no identifier,
// name or comparison: searches by identifier or name find nothing and duplicate searches fail.
struct IPLPageDataCollection : IUnknown {
    virtual LONG GetCount() = 0;                                // slot 3
    virtual HRESULT GetAt(LONG index, IPLPageData** item) = 0;  // slot 4
    virtual HRESULT RemoveAll() = 0;                            // slot 5
    virtual HRESULT ReservedA(void* unused) = 0;                // slot 6: E_NOTIMPL
    virtual HRESULT Insert(IPLPageData* item) = 0;              // slot 7: E_FAIL while read-only
    virtual HRESULT ReservedB(void* unused) = 0;                // slot 8: S_OK
    // slot 9: places the item by a PLInsertPosition code (whatever the read-only flag).
    virtual HRESULT InsertAt(IPLPageData* item, LONG position, LONG index) = 0;
    virtual HRESULT FindByID(ULONG id, IPLPageData** item) = 0;             // slot 10
    virtual HRESULT CheckExistsByID(ULONG id, BOOL* exists) = 0;            // slot 11
    virtual HRESULT FindByName(const WCHAR* name, IPLPageData** item) = 0;  // slot 12
    virtual HRESULT Remove(IPLPageData* item) = 0;                          // slot 13
    virtual HRESULT ReservedC(void* unused) = 0;                            // slot 14: S_OK
    virtual HRESULT Sort(PLPageDataCompareFunction compare) = 0;            // slot 15: stable
    virtual HRESULT SetReadOnly(BOOL readOnly) = 0;                         // slot 16
    virtual HRESULT GetReadOnly(BOOL* readOnly) = 0;                        // slot 17
    virtual HRESULT ReservedD(void* unused) = 0;                            // slot 18: S_OK
    virtual HRESULT ReservedE(void* unused) = 0;                            // slot 19: S_OK
    virtual HRESULT ReservedF(void* unused) = 0;                            // slot 20: S_OK
    virtual HRESULT FindDuplicates(IPLPageData* item, PLItemArray<IPLPageData>* duplicates, LONG start) = 0;  // slot 21
    virtual HRESULT PurgeDuplicates() = 0;                                                                    // slot 22
    virtual HRESULT FindAllDuplicates(PLItemArray<IPLPageData>* duplicates, BYTE sorted) = 0;                 // slot 23
    virtual HRESULT CheckExistsByName(const WCHAR* name, BOOL* exists) = 0;                                   // slot 24
};

#endif  // KDTRACE_PAGEDATA_H
