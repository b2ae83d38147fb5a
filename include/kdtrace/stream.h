// Read-only streams over memory and over segments of files, and the reference file that names a
// file on disk for them.
//
// IPLStream is the one reading interface of both kinds: a byte stream reads a block of memory
// (its own copy, or bytes an owner object keeps alive), a file stream reads a segment (start
// offset and length) of a file named by a reference file. Offsets, sizes and counts are signed
// 32-bit values; a negative count or size is refused with E_INVALIDARG.
#ifndef KDTRACE_STREAM_H
#define KDTRACE_STREAM_H

#include <stdio.h>

#include <kdtrace/object.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

// clang-format off
inline constexpr GUID IID_IPLStream = {0xEC1E19C1, 0x7E5D, 0x43F9, {0xA5, 0xA1, 0xA1, 0x11, 0x8D, 0xBF, 0x43, 0x9A}};
inline constexpr GUID IID_IPLByteStream = {0xDC65C2ED, 0x64D5, 0x41E4, {0xBB, 0x99, 0x59, 0x9D, 0xE4, 0x37, 0xD1, 0x4D}};
inline constexpr GUID IID_IPLRefFile = {0xE1B0ED9C, 0xC3DE, 0x4B10, {0x9D, 0xAF, 0xA8, 0xC2, 0x3C, 0x3A, 0xF9, 0xBE}};
inline constexpr GUID IID_IPLRefFilePriv = {0x59529140, 0xF94A, 0x4EDF, {0xAB, 0x04, 0xFC, 0xCB, 0x68, 0xF0, 0x09, 0x98}};
inline constexpr GUID IID_IPLFileStreamPriv = {0x93E604BA, 0x9060, 0x4BCF, {0xA9, 0xF7, 0xD4, 0x1B, 0x9B, 0xDB, 0x31, 0x80}};
inline constexpr GUID IID_IPLFilePage = {0x73839866, 0x19AA, 0x4CBF, {0x92, 0x11, 0xD9, 0xD1, 0xBD, 0x96, 0x09, 0x81}};
inline constexpr GUID CLSID_PLByteStream = {0xD5457AF0, 0x596B, 0x40DA, {0x9A, 0x97, 0x2E, 0x85, 0x38, 0xA0, 0x1C, 0xA2}};
inline constexpr GUID CLSID_PLFileStream = {0x83F636DF, 0x5BEC, 0x4515, {0x93, 0xE5, 0xB4, 0x16, 0x9E, 0x9D, 0xEF, 0x62}};
inline constexpr GUID CLSID_PLRefFile = {0x9E087140, 0x1481, 0x4E14, {0x8B, 0x18, 0x61, 0xE3, 0x91, 0x30, 0x7E, 0xDE}};
// clang-format on

// File-stream codes.
inline constexpr HRESULT PL_E_INVALID_START_OFFSET = static_cast<HRESULT>(0x80040042u);
inline constexpr HRESULT PL_E_STREAM_ALREADY_OPEN = static_cast<HRESULT>(0x80040043u);
inline constexpr HRESULT PL_E_FILE_NOT_OPEN = static_cast<HRESULT>(0x80040044u);

// Seek origins.
enum PLStreamSeekFlag : LONG {
    PLStreamSeekFromStart = 0,
    PLStreamSeekFromEnd = 1,
    PLStreamSeekFromCurrent = 2,
};

// A read-only stream.
struct IPLStream : IUnknown {
    virtual HRESULT GetSize(LONG* size) = 0;  // slot 3
    virtual HRESULT Close() = 0;              // slot 4
    // slot 5: copies up to `count` bytes from the position and advances it; `read` = bytes copied
    // (0 at the end, with S_OK).
    virtual HRESULT Read(BYTE* buffer, LONG count, LONG* read) = 0;
    // slot 6: one line of 8-bit characters, the line feed kept, zero-terminated (file streams).
    virtual HRESULT ReadString(char* buffer, LONG size, LONG* read) = 0;
    virtual HRESULT Write(const BYTE* buffer, LONG count, LONG* written) = 0;  // slot 7: E_NOTIMPL
    virtual HRESULT GetMode(LONG* mode) = 0;                                   // slot 8: E_NOTIMPL
    virtual HRESULT Open() = 0;                                                // slot 9
    virtual HRESULT Skip(LONG count) = 0;                                      // slot 10
    virtual HRESULT Seek(LONG offset, LONG flag) = 0;                          // slot 11: flag is a PLStreamSeekFlag
    virtual HRESULT GetPosition(LONG* position) = 0;                           // slot 12
    // slot 13: a new, open stream over `length` bytes from `offset`, sharing this stream's data.
    virtual HRESULT GetSubstream(LONG offset, LONG length, IPLStream** stream) = 0;
};

// A stream over memory. Initialize copies the bytes and opens the stream.
struct IPLByteStream : IPLStream {
    virtual HRESULT Initialize(const BYTE* bytes, LONG size) = 0;  // slot 14
};

// An open file: a file descriptor; PL_INVALID_FILE_HANDLE is none.
typedef int32_t PLFileHandle;
inline constexpr PLFileHandle PL_INVALID_FILE_HANDLE = -1;

// OpenHandle's access bits and creation dispositions.
inline constexpr DWORD PL_GENERIC_READ = 0x80000000u;
inline constexpr DWORD PL_GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD PL_CREATE_NEW = 1;
inline constexpr DWORD PL_CREATE_ALWAYS = 2;
inline constexpr DWORD PL_OPEN_EXISTING = 3;
inline constexpr DWORD PL_OPEN_ALWAYS = 4;
inline constexpr DWORD PL_TRUNCATE_EXISTING = 5;

// A page of a document file, as a reference file measures it: the second operation gives the
// page's offset in the file.
struct IPLFilePage : IUnknown {
    virtual HRESULT GetPageNumber(LONG* number) = 0;  // slot 3
    virtual HRESULT GetFileOffset(LONG* offset) = 0;  // slot 4
};

// A file on disk. The path is copied whole into the caller's buffer of `size` characters
// (terminated); a buffer too small for it gives E_INVALIDARG and the empty string.
struct IPLRefFile : IUnknown {
    virtual HRESULT GetLocalPath(WCHAR* buffer, LONG size) = 0;  // slot 3
};

// The library's own view of a reference file. Every handle or C runtime file opened through it
// is counted until it is closed through it.
struct IPLRefFilePriv : IPLRefFile {
    // slot 4: once only; with deleteOnRelease the file is removed when the object goes.
    virtual HRESULT Initialize(const WCHAR* path, BOOL deleteOnRelease) = 0;
    virtual HRESULT OpenStdHandle(const WCHAR* mode, FILE** file) = 0;  // slot 5: fopen modes
    // slot 6: access is PL_GENERIC_READ and/or PL_GENERIC_WRITE, the disposition one of the
    // PL_CREATE_* / PL_OPEN_* values; the share mode and attributes are accepted and ignored.
    // `inheritable` is ignored too: it has no safe meaning on Linux, where a descriptor left open
    // across exec reaches every program any thread of the process starts, so every descriptor
    // is opened close-on-exec. Only a regular file opens (a FIFO or device is refused at once).
    virtual HRESULT OpenHandle(DWORD access, DWORD shareMode, BOOL inheritable, DWORD creationDisposition,
                               DWORD flagsAndAttributes, PLFileHandle* handle) = 0;
    virtual HRESULT CloseStdHandle(FILE* file) = 0;                      // slot 7
    virtual HRESULT CloseHandle(PLFileHandle handle) = 0;                // slot 8
    virtual HRESULT SetBaseOffset(LONG offset) = 0;                      // slot 9
    virtual HRESULT GetPageOffset(IPLFilePage* page, LONG* offset) = 0;  // slot 10: translated
    // slot 11: offset minus the base offset.
    virtual HRESULT TranslateOffset(LONG offset, LONG* result) = 0;
};

// A stream over a segment of a reference file. Offsets passed to Seek are relative to the
// segment; GetPosition answers the absolute file offset.
struct IPLFileStreamPriv : IPLStream {
    virtual HRESULT ResetStart(LONG start) = 0;  // slot 14
    virtual HRESULT ResetSize(LONG size) = 0;    // slot 15
    // slot 16: a negative size means the rest of the file from `start`.
    virtual HRESULT Initialize(const WCHAR* path, BOOL deleteOnRelease, LONG start, LONG size) = 0;
    virtual HRESULT InitializeFromRefFile(IUnknown* refFile, LONG start, LONG size) = 0;  // slot 17
};

#endif  // KDTRACE_STREAM_H
