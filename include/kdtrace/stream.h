/// \file
/// Read-only streams over memory and over segments of files, and the reference file that names a
/// file on disk for them.
///
/// IPLStream is the one reading interface of both kinds: a byte stream reads a block of memory
/// (its own copy, or bytes an owner object keeps alive), a file stream reads a segment (start
/// offset and length) of a file named by a reference file. Offsets, sizes and counts are signed
/// 32-bit values; a negative count or size is refused with E_INVALIDARG. Paths are UTF-16 and
/// are converted to UTF-8 for the system. Streams are not synchronised.
#ifndef KDTRACE_STREAM_H
#define KDTRACE_STREAM_H

#include <stdio.h>

#include <kdtrace/object.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

// clang-format off
/// Identifier of IPLStream.
inline constexpr GUID IID_IPLStream = {0xEC1E19C1, 0x7E5D, 0x43F9, {0xA5, 0xA1, 0xA1, 0x11, 0x8D, 0xBF, 0x43, 0x9A}};
/// Identifier of IPLByteStream.
inline constexpr GUID IID_IPLByteStream = {0xDC65C2ED, 0x64D5, 0x41E4, {0xBB, 0x99, 0x59, 0x9D, 0xE4, 0x37, 0xD1, 0x4D}};
/// Identifier of IPLRefFile.
inline constexpr GUID IID_IPLRefFile = {0xE1B0ED9C, 0xC3DE, 0x4B10, {0x9D, 0xAF, 0xA8, 0xC2, 0x3C, 0x3A, 0xF9, 0xBE}};
/// Identifier of IPLRefFilePriv.
inline constexpr GUID IID_IPLRefFilePriv = {0x59529140, 0xF94A, 0x4EDF, {0xAB, 0x04, 0xFC, 0xCB, 0x68, 0xF0, 0x09, 0x98}};
/// Identifier of IPLFileStreamPriv.
inline constexpr GUID IID_IPLFileStreamPriv = {0x93E604BA, 0x9060, 0x4BCF, {0xA9, 0xF7, 0xD4, 0x1B, 0x9B, 0xDB, 0x31, 0x80}};
/// Identifier of IPLFilePage.
inline constexpr GUID IID_IPLFilePage = {0x73839866, 0x19AA, 0x4CBF, {0x92, 0x11, 0xD9, 0xD1, 0xBD, 0x96, 0x09, 0x81}};
/// Class of a byte stream (IPLByteStream, IPLStream).
inline constexpr GUID CLSID_PLByteStream = {0xD5457AF0, 0x596B, 0x40DA, {0x9A, 0x97, 0x2E, 0x85, 0x38, 0xA0, 0x1C, 0xA2}};
/// Class of a file stream (IPLFileStreamPriv, IPLStream, IPLCloneable).
inline constexpr GUID CLSID_PLFileStream = {0x83F636DF, 0x5BEC, 0x4515, {0x93, 0xE5, 0xB4, 0x16, 0x9E, 0x9D, 0xEF, 0x62}};
/// Class of a reference file (IPLRefFile, IPLRefFilePriv).
inline constexpr GUID CLSID_PLRefFile = {0x9E087140, 0x1481, 0x4E14, {0x8B, 0x18, 0x61, 0xE3, 0x91, 0x30, 0x7E, 0xDE}};
// clang-format on

/// A file stream's start offset lies beyond its file.
inline constexpr HRESULT PL_E_INVALID_START_OFFSET = static_cast<HRESULT>(0x80040042u);
/// Open on a file stream that is open already.
inline constexpr HRESULT PL_E_STREAM_ALREADY_OPEN = static_cast<HRESULT>(0x80040043u);
/// ReadString on a file stream that is not open.
inline constexpr HRESULT PL_E_FILE_NOT_OPEN = static_cast<HRESULT>(0x80040044u);

/// Seek origins.
enum PLStreamSeekFlag : LONG {
    PLStreamSeekFromStart = 0,    ///< from the start (of the file stream's segment)
    PLStreamSeekFromEnd = 1,      ///< from the end
    PLStreamSeekFromCurrent = 2,  ///< from the current position
};

/// A read-only stream: a byte stream (PLCreateStreamOnBytes, CLSID_PLByteStream) or a file
/// stream (CLSID_PLFileStream). Failures are E_FAIL with the reason in the thread's error list
/// unless stated; a null pointer gives E_POINTER.
struct IPLStream : IUnknown {
    /// Slot 3: the size in bytes (a file stream's segment size).
    /// \param size  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetSize(LONG* size) = 0;
    /// Slot 4: closes the stream; Open starts it again from the beginning.
    /// \return S_OK; E_FAIL for a byte stream that is not open ("Invalid state.  Stream
    ///         already closed.").
    virtual HRESULT Close() = 0;
    /// Slot 5: copies up to `count` bytes from the position and advances it. A closed file
    /// stream is opened first.
    /// \param buffer  receives the bytes
    /// \param count   how many to read
    /// \param read    receives how many were copied (0 at the end)
    /// \return S_OK, also at the end; E_INVALIDARG for a negative count (a file stream: below
    ///         1); E_POINTER.
    virtual HRESULT Read(BYTE* buffer, LONG count, LONG* read) = 0;
    /// Slot 6: one line of 8-bit text (file streams): bytes up to and including a line feed,
    /// cut at `size` - 1 bytes and at the segment end, then a zero byte.
    /// \param buffer  receives the line
    /// \param size    the buffer's size in bytes
    /// \param read    receives the number of bytes stored (0 at the end)
    /// \return S_OK; PL_E_FILE_NOT_OPEN for a file stream that is not open; E_NOTIMPL for a
    ///         byte stream; E_INVALIDARG for a size below 1; E_POINTER.
    virtual HRESULT ReadString(char* buffer, LONG size, LONG* read) = 0;
    /// Slot 7: the streams are read-only.
    /// \param buffer   not read
    /// \param count    not read
    /// \param written  not written
    /// \return E_NOTIMPL.
    virtual HRESULT Write(const BYTE* buffer, LONG count, LONG* written) = 0;
    /// Slot 8: not implemented.
    /// \param mode  not written
    /// \return E_NOTIMPL.
    virtual HRESULT GetMode(LONG* mode) = 0;
    /// Slot 9: opens the stream at its beginning.
    /// \return S_OK; E_FAIL for a byte stream that is open ("Invalid state.  Stream cannot be
    ///         opened."); PL_E_STREAM_ALREADY_OPEN for an open file stream; E_FAIL when the
    ///         file cannot be opened.
    virtual HRESULT Open() = 0;
    /// Slot 10: moves the position by a signed count.
    /// \param count  bytes to move
    /// \return S_OK; E_FAIL for a stream not open, or (byte stream) past either end.
    virtual HRESULT Skip(LONG count) = 0;
    /// Slot 11: sets the position.
    /// \param offset  the offset from the origin
    /// \param flag    a PLStreamSeekFlag
    /// \return S_OK; E_FAIL for a stream not open, an unknown flag, or (byte stream) a position
    ///         before the start or past the end.
    virtual HRESULT Seek(LONG offset, LONG flag) = 0;
    /// Slot 12: the position: from the start of a byte stream; the absolute file offset of a
    /// file stream.
    /// \param position  receives it
    /// \return S_OK; E_FAIL for a file stream not open; E_POINTER.
    virtual HRESULT GetPosition(LONG* position) = 0;
    /// Slot 13: a new, open stream over part of this one's data, sharing it.
    /// \param offset  where the part starts, from this stream's start
    /// \param length  its length, cut at this stream's end
    /// \param stream  receives it, with one reference
    /// \return S_OK; E_INVALIDARG for a part outside the stream; E_POINTER.
    virtual HRESULT GetSubstream(LONG offset, LONG length, IPLStream** stream) = 0;
};

/// A stream over memory (CLSID_PLByteStream).
struct IPLByteStream : IPLStream {
    /// Slot 14: copies the bytes and opens the stream at position 0.
    /// \param bytes  the bytes
    /// \param size   their number
    /// \return S_OK; E_INVALIDARG for a negative size; E_FAIL when memory cannot be had;
    ///         E_POINTER.
    virtual HRESULT Initialize(const BYTE* bytes, LONG size) = 0;
};

/// An open file: a file descriptor; PL_INVALID_FILE_HANDLE is none.
typedef int32_t PLFileHandle;
/// No file.
inline constexpr PLFileHandle PL_INVALID_FILE_HANDLE = -1;

/// OpenHandle access bit: read.
inline constexpr DWORD PL_GENERIC_READ = 0x80000000u;
/// OpenHandle access bit: write.
inline constexpr DWORD PL_GENERIC_WRITE = 0x40000000u;
/// OpenHandle disposition: create a file that must not exist.
inline constexpr DWORD PL_CREATE_NEW = 1;
/// OpenHandle disposition: create, or empty an existing file.
inline constexpr DWORD PL_CREATE_ALWAYS = 2;
/// OpenHandle disposition: open a file that must exist.
inline constexpr DWORD PL_OPEN_EXISTING = 3;
/// OpenHandle disposition: open, or create when missing.
inline constexpr DWORD PL_OPEN_ALWAYS = 4;
/// OpenHandle disposition: open a file that must exist and empty it.
inline constexpr DWORD PL_TRUNCATE_EXISTING = 5;

/// A page of a document file, implemented by the caller for IPLRefFilePriv::GetPageOffset.
struct IPLFilePage : IUnknown {
    /// Slot 3: the page's number.
    /// \param number  receives it
    /// \return S_OK, or a failure.
    virtual HRESULT GetPageNumber(LONG* number) = 0;
    /// Slot 4: the page's offset in the file.
    /// \param offset  receives it
    /// \return S_OK, or a failure that GetPageOffset passes on.
    virtual HRESULT GetFileOffset(LONG* offset) = 0;
};

/// A file on disk (CLSID_PLRefFile).
struct IPLRefFile : IUnknown {
    /// Slot 3: the file's path, whole.
    /// \param buffer  receives the path, terminated
    /// \param size    the buffer's size in characters
    /// \return S_OK; E_INVALIDARG (and the empty string) for a buffer too small for the whole
    ///         path; E_POINTER.
    virtual HRESULT GetLocalPath(WCHAR* buffer, LONG size) = 0;
};

/// The library's own view of a reference file. Every handle or C runtime file opened through it
/// is counted until it is closed through it.
struct IPLRefFilePriv : IPLRefFile {
    /// Slot 4: names the file; once only.
    /// \param path             the path
    /// \param deleteOnRelease  nonzero: the file is removed when the object goes
    /// \return S_OK; E_FAIL when already initialised; E_POINTER.
    virtual HRESULT Initialize(const WCHAR* path, BOOL deleteOnRelease) = 0;
    /// Slot 5: opens the file with the C runtime (close-on-exec; only a regular file opens, a
    /// FIFO or device is refused at once).
    /// \param mode  an fopen mode ("rb", "wb", ...)
    /// \param file  receives the open file; close it with CloseStdHandle
    /// \return S_OK; E_FAIL when it cannot be opened; E_POINTER.
    virtual HRESULT OpenStdHandle(const WCHAR* mode, FILE** file) = 0;
    /// Slot 6: opens the file as a descriptor. Only a regular file opens (a FIFO or device is
    /// refused at once).
    /// \param access               PL_GENERIC_READ and/or PL_GENERIC_WRITE
    /// \param shareMode            accepted and ignored
    /// \param inheritable          ignored: it has no safe meaning on Linux, where a descriptor
    ///                             left open across exec reaches every program any thread of the
    ///                             process starts, so every descriptor is opened close-on-exec
    /// \param creationDisposition  one of the PL_CREATE_* / PL_OPEN_* values
    /// \param flagsAndAttributes   accepted and ignored
    /// \param handle               receives the descriptor; close it with CloseHandle
    /// \return S_OK; E_FAIL when it cannot be opened ("Failed to open file (last error: %ld)");
    ///         E_INVALIDARG for an unknown disposition; E_POINTER.
    virtual HRESULT OpenHandle(DWORD access, DWORD shareMode, BOOL inheritable, DWORD creationDisposition,
                               DWORD flagsAndAttributes, PLFileHandle* handle) = 0;
    /// Slot 7: closes a file OpenStdHandle opened.
    /// \param file  the file
    /// \return S_OK; E_POINTER.
    virtual HRESULT CloseStdHandle(FILE* file) = 0;
    /// Slot 8: closes a descriptor OpenHandle opened.
    /// \param handle  the descriptor
    /// \return S_OK; E_INVALIDARG for PL_INVALID_FILE_HANDLE.
    virtual HRESULT CloseHandle(PLFileHandle handle) = 0;
    /// Slot 9: the offset that page offsets are measured against.
    /// \param offset  the base offset
    /// \return S_OK.
    virtual HRESULT SetBaseOffset(LONG offset) = 0;
    /// Slot 10: a page's offset, translated (TranslateOffset).
    /// \param page    the page
    /// \param offset  receives the translated offset
    /// \return S_OK; the page's failure; E_POINTER.
    virtual HRESULT GetPageOffset(IPLFilePage* page, LONG* offset) = 0;
    /// Slot 11: an offset minus the base offset.
    /// \param offset  the offset
    /// \param result  receives the difference
    /// \return S_OK.
    virtual HRESULT TranslateOffset(LONG offset, LONG* result) = 0;
};

/// A stream over a segment of a reference file (CLSID_PLFileStream). Offsets given to Seek are
/// relative to the segment; GetPosition answers the absolute file offset.
struct IPLFileStreamPriv : IPLStream {
    /// Slot 14: sets the segment's start (neither reopens nor moves the position).
    /// \param start  the file offset
    /// \return S_OK.
    virtual HRESULT ResetStart(LONG start) = 0;
    /// Slot 15: sets the segment's size (neither reopens nor moves the position).
    /// \param size  the size in bytes
    /// \return S_OK.
    virtual HRESULT ResetSize(LONG size) = 0;
    /// Slot 16: opens a segment of a file by path.
    /// \param path             the file
    /// \param deleteOnRelease  nonzero: the file is removed when the last object using it goes
    /// \param start            the segment's file offset
    /// \param size             its size in bytes; negative for the rest of the file
    /// \return S_OK; E_FAIL when the file cannot be opened ("Failed to open file for
    ///         stream."); PL_E_INVALID_START_OFFSET for a start the file cannot seek to;
    ///         E_POINTER.
    virtual HRESULT Initialize(const WCHAR* path, BOOL deleteOnRelease, LONG start, LONG size) = 0;
    /// Slot 17: opens a segment of the file a reference file names.
    /// \param refFile  an object that answers IPLRefFilePriv
    /// \param start    the segment's offset (translated by the reference file's base offset)
    /// \param size     its size in bytes; negative for the rest of the file
    /// \return as Initialize; E_NOINTERFACE when `refFile` is no reference file.
    virtual HRESULT InitializeFromRefFile(IUnknown* refFile, LONG start, LONG size) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_STREAM_H
