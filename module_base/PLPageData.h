// CPLPageData: the content of one document page with its property bag.
//
// The content is in one place at a time in normal use: a growable memory buffer, or a stream
// (SetStream; the memory content is then left as it was). A held stream answers every query and
// every save until a load (of bytes, a file, a global block or a stream) releases it. A global memory block given to
// SetHGLOBAL is taken over and held for GetHGLOBAL, its content copied into the buffer. The
// buffer is shared with the byte streams GetStream hands out, so such a stream reads what the
// page held when it was made, whatever the page does afterwards: content in the buffer is never
// changed in place, only appended to or replaced by a new buffer. Page data is not
// synchronised: use one object from one thread at a time.
#ifndef KD_PLPAGEDATA_H
#define KD_PLPAGEDATA_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

#include <kdtrace/pagedata.h>
#include <kdtrace/propertybag.h>

#include "module_base/PLComObject.h"
#include "module_base/PLInterfaceId.h"
#include "module_base/PLPersistFile.h"

class CPLPageData : public CPLComObject<CPLReleaseModel>,
                    public CPLPersistFile<CPLPageData>,
                    public IPLPageDataPriv,
                    public IPLPersistMemory,
                    public IPLPersistStream {
    PL_BEGIN_INTERFACE_MAP(CPLPageData, IPLPageData)
    PL_INTERFACE_ENTRY(IPLPageDataPriv)
    PL_INTERFACE_ENTRY_IID(IID_IPLPageData, IPLPageDataPriv)
    PL_INTERFACE_ENTRY(IPLPersistFile)
    PL_INTERFACE_ENTRY(IPLPersistMemory)
    PL_INTERFACE_ENTRY(IPLPersistStream)
    PL_END_INTERFACE_MAP()

public:
    // Growth of the buffer, in bytes.
    static constexpr LONG kGrowthStep = 0x8000;

    CPLPageData() noexcept;

    // IPLPageData
    HRESULT GetDataLength(LONG* length) override;
    HRESULT GetStream(IPLStream** stream) override;
    HRESULT GetHGLOBAL(HGLOBAL* block) override;
    HRESULT GetProperties(IPLPropertyBag** bag) override;
    HRESULT LoadFromBytes(const BYTE* bytes, LONG count) override;  // also IPLPersistMemory's
    HRESULT LoadFromFile(const WCHAR* path) override;
    HRESULT SaveToFile(const WCHAR* path) override;
    HRESULT SaveToFileAsUTF8(const WCHAR* path, LONGLONG encoding) override;

    // IPLPageDataPriv
    HRESULT Append(const BYTE* bytes, LONG count) override;
    HRESULT SetProperties(IPLPropertyBag* bag) override;
    HRESULT ReserveBufferSpace(LONG count) override;
    HRESULT SetStream(IPLStream* stream) override;
    HRESULT SetHGLOBAL(HGLOBAL* block, LONG length) override;

    // IPLPersistMemory
    HRESULT Load(HGLOBAL block) override;
    HRESULT Save(DWORD allocationFlags, HGLOBAL* block) override;
    HRESULT SaveToBytes(BYTE* buffer, LONG* size) override;

    // IPLPersistStream
    HRESULT Load(IPLStream* stream) override;
    HRESULT Save(IPLStream* stream) override;

    // IPLPersistFile (from CPLPersistFile)
    using CPLPersistFile<CPLPageData>::Load;
    using CPLPersistFile<CPLPageData>::Save;

    // The file-level operations behind IPLPersistFile: the content to and from an open file.
    HRESULT SaveToFile(FILE* file);
    HRESULT LoadFromFile(FILE* file);

protected:
    ~CPLPageData() override;

private:
    class Bytes;

    void Clear() noexcept;
    // Clears the content and releases the held stream, as every load does first.
    void Reset() noexcept;
    // Makes room for `count` more bytes; the content is kept when that fails.
    void Reserve(int64_t count);
    // A new buffer of `capacity` bytes, holding the content's first `keep` bytes.
    void Reallocate(int64_t capacity, LONG keep);
    bool TryReallocate(int64_t capacity, LONG keep) noexcept;
    void AppendBytes(const BYTE* bytes, LONG count);
    // Reopens the held stream at its start (a stream that is already closed is fine).
    void RestartStream();
    // The content as one block of bytes: the held stream read into `scratch`, else the buffer
    // itself.
    std::span<const BYTE> Content(std::unique_ptr<BYTE[]>& scratch);
    void ReadStreamInto(BYTE* out, LONG size);
    void WriteAll(FILE* file, const BYTE* bytes, std::size_t count, const char* format);
    IPLPropertyBag* Properties();
    HRESULT SetOriginalFilePath(const PLString& path);

    std::shared_ptr<BYTE> m_buffer;  // from the C runtime heap; shared with GetStream's streams
    LONG m_length = 0;
    LONG m_capacity = 0;
    PLComPtr<IPLStream> m_stream;
    HGLOBAL m_global = nullptr;  // owned
    PLComPtr<IPLPropertyBag> m_properties;
};

#endif  // KD_PLPAGEDATA_H
