// CPLFileStream: a read-only stream over a segment (start offset and length) of a file named by
// a reference file.
//
// Offsets the stream reports are absolute file offsets; Seek takes offsets relative to the
// segment. The start is translated through the reference file's base offset once, when the
// stream is first opened on it; reopening (Open, a Read on a closed stream, sub-streams and
// clones) uses the translated start as it is. Segments end at or before 2 GiB - 1, the largest
// offset a stream reports. A stream is not synchronised: use it from one thread at a time.
#ifndef KD_PLFILESTREAM_H
#define KD_PLFILESTREAM_H

#include <kdtrace/object.h>
#include <kdtrace/stream.h>

#include "module_base/PLComObject.h"
#include "module_base/PLInterfaceId.h"

class CPLFileStream : public CPLComObject<CPLReleaseModel>, public IPLFileStreamPriv, public IPLCloneable {
    PL_BEGIN_INTERFACE_MAP(CPLFileStream, IPLStream)
    PL_INTERFACE_ENTRY(IPLFileStreamPriv)
    PL_INTERFACE_ENTRY_IID(IID_IPLStream, IPLFileStreamPriv)
    PL_INTERFACE_ENTRY(IPLCloneable)
    PL_END_INTERFACE_MAP()

public:
    CPLFileStream() noexcept = default;

    // IPLStream
    HRESULT GetSize(LONG* size) override;
    HRESULT Close() override;
    HRESULT Read(BYTE* buffer, LONG count, LONG* read) override;
    HRESULT ReadString(char* buffer, LONG size, LONG* read) override;
    HRESULT Write(const BYTE* buffer, LONG count, LONG* written) override;
    HRESULT GetMode(LONG* mode) override;
    HRESULT Open() override;
    HRESULT Skip(LONG count) override;
    HRESULT Seek(LONG offset, LONG flag) override;
    HRESULT GetPosition(LONG* position) override;
    HRESULT GetSubstream(LONG offset, LONG length, IPLStream** stream) override;

    // IPLFileStreamPriv
    HRESULT ResetStart(LONG start) override;
    HRESULT ResetSize(LONG size) override;
    HRESULT Initialize(const WCHAR* path, BOOL deleteOnRelease, LONG start, LONG size) override;
    HRESULT InitializeFromRefFile(IUnknown* refFile, LONG start, LONG size) override;

    // IPLCloneable: a stream on the same reference file, segment and position, with a descriptor
    // of its own when this one is open.
    HRESULT Clone(REFIID iid, void** object) override;

protected:
    ~CPLFileStream() override;

private:
    // Opens the file for the segment from the (translated) `start`, which a sub-stream computes in
    // 64 bits; a negative size is the rest of the file. Throws on failure and leaves the stream
    // closed.
    void OpenSegment(int64_t start, LONG size);
    void CloseDescriptor() noexcept;
    void RequireOpen() const;
    int64_t End() const noexcept { return int64_t{m_start} + m_size; }

    int m_fd = -1;
    LONG m_start = 0;
    LONG m_size = 0;
    LONG m_position = 0;  // absolute file offset
    PLComPtr<IPLRefFilePriv> m_refFile;
};

// A file stream over `size` bytes (negative: the rest of the file) from `start` of a reference
// file, open (errors under "Core Services", "Utility Functions").
HRESULT PLCreateStreamOnRefFile(IUnknown* refFile, LONG start, LONG size, IPLStream** stream);

#endif  // KD_PLFILESTREAM_H
