// CPLByteStream: a read-only stream over a block of memory.
//
// The bytes are either the stream's own copy (Initialize) or bytes that an owner object keeps
// alive (InitializeWithOwner, which holds a reference on the owner for the stream's life). Own
// copies are shared, not copied again, with the sub-streams a stream hands out, so a sub-stream
// stays readable after its parent is re-initialized or released. A stream is not synchronised:
// use it from one thread at a time.
#ifndef KD_PLBYTESTREAM_H
#define KD_PLBYTESTREAM_H

#include <atomic>
#include <memory>

#include <kdtrace/stream.h>

#include "module_base/PLComObject.h"
#include "module_base/PLInterfaceId.h"

class CPLByteStream : public CPLComObject<CPLReleaseModel>, public IPLByteStream {
    PL_BEGIN_INTERFACE_MAP(CPLByteStream, IPLByteStream)
    PL_INTERFACE_ENTRY(IPLByteStream)
    PL_INTERFACE_ENTRY_IID(IID_IPLStream, IPLByteStream)
    PL_END_INTERFACE_MAP()

public:
    // States.
    static constexpr LONG kNew = 0;
    static constexpr LONG kInitialized = 1;
    static constexpr LONG kOpen = 2;
    static constexpr LONG kClosed = 3;

    CPLByteStream() noexcept = default;

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
    // A byte stream over `length` bytes from `offset` (cut at this stream's end), sharing the
    // bytes: an own copy is shared, an owner gets one more reference.
    HRESULT GetSubstream(LONG offset, LONG length, IPLStream** stream) override;

    // IPLByteStream
    HRESULT Initialize(const BYTE* bytes, LONG size) override;

    // Reads `bytes` in place; `owner` keeps them alive and is held until the stream goes or is
    // initialized again. Without an owner the stream takes the bytes over (they must come from
    // malloc) and frees them when it no longer needs them.
    HRESULT InitializeWithOwner(const BYTE* bytes, LONG size, IUnknown* owner);

protected:
    ~CPLByteStream() override = default;

private:
    void OpenStream();
    void SkipBy(LONG count);

    std::shared_ptr<const BYTE> m_block;  // an own copy (or taken-over bytes); empty with an owner
    PLComPtr<IUnknown> m_owner;
    const BYTE* m_data = nullptr;
    LONG m_size = 0;
    // Atomic only so that racing Reads (a misuse) stay defined; the stream is not synchronised.
    std::atomic<LONG> m_position{0};
    LONG m_state = kNew;
};

#endif  // KD_PLBYTESTREAM_H
