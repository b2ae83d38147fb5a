// A read-only stream over memory.
#include "module_base/PLByteStream.h"

#include <cstdlib>
#include <cstring>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"

PL_REGISTER_CLASS(CPLByteStream, CLSID_PLByteStream);

namespace {
constexpr const char* kGroup = "Core";

// Bytes from the C runtime heap, freed with it.
std::shared_ptr<const BYTE> TakeOver(const BYTE* bytes) {
    return std::shared_ptr<const BYTE>(bytes, [](const BYTE* p) { std::free(const_cast<BYTE*>(p)); });
}

// Copies to or from a caller's memory under a recovery point, so that an unreadable or
// unwritable block ends the call as a translated fault.
void CopyBytes(void* to, const void* from, std::size_t count) {
    if (count != 0) PLCallOut([&] { std::memcpy(to, from, count); });
}
}  // namespace

HRESULT CPLByteStream::GetSize(LONG* size) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), size, m_size);
}

HRESULT CPLByteStream::GetPosition(LONG* position) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), position, m_position.load(std::memory_order_relaxed));
}

HRESULT CPLByteStream::Write(const BYTE*, LONG, LONG*) {
    return E_NOTIMPL;
}

HRESULT CPLByteStream::GetMode(LONG*) {
    return E_NOTIMPL;
}

HRESULT CPLByteStream::ReadString(char*, LONG, LONG*) {
    return E_NOTIMPL;
}

void CPLByteStream::OpenStream() {
    if (m_state != kInitialized && m_state != kClosed)
        PL_THROW_ERROR(E_FAIL, "Invalid state.  Stream cannot be opened.", 1);
    m_position = 0;
    m_state = kOpen;
}

HRESULT CPLByteStream::Open() {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { OpenStream(); });
}

HRESULT CPLByteStream::Close() {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        if (m_state != kOpen) PL_THROW_ERROR(E_FAIL, "Invalid state.  Stream already closed.", 1);
        m_state = kClosed;
        m_position = 0;
    });
}

HRESULT CPLByteStream::Read(BYTE* buffer, LONG count, LONG* read) {
    if (buffer == nullptr || read == nullptr) return E_POINTER;
    if (count < 0) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        // Not tied to the state: a closed stream reads from where Close left it (the start). The
        // position is read once and kept within the bytes, so that Reads racing on one stream (a
        // misuse) at worst hand out the same bytes twice.
        LONG position = m_position.load(std::memory_order_relaxed);
        if (position < 0 || position > m_size) position = m_size;
        const LONG n = count < m_size - position ? count : m_size - position;
        CopyBytes(buffer, m_data + position, static_cast<std::size_t>(n));
        m_position.store(position + n, std::memory_order_relaxed);
        *read = n;
    });
}

void CPLByteStream::SkipBy(LONG count) {
    if (m_state != kOpen) PL_THROW_ERROR(E_FAIL, "Invalid state.  Stream is not open.", 1);
    const int64_t target = int64_t{m_position.load(std::memory_order_relaxed)} + count;
    if (target > m_size) PL_THROW_ERROR(E_FAIL, "Cannot skip past end of stream.", 1);
    if (target < 0) PL_THROW_ERROR(E_FAIL, "Cannot skip before beginning of stream.", 1);
    m_position = static_cast<LONG>(target);
}

HRESULT CPLByteStream::Skip(LONG count) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { SkipBy(count); });
}

HRESULT CPLByteStream::Seek(LONG offset, LONG flag) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        if (m_state != kOpen) PL_THROW_ERROR(E_FAIL, "Invalid state.  Stream is not open.", 1);
        switch (flag) {
            case PLStreamSeekFromStart:
                if (offset > m_size) PL_THROW_ERROR(E_FAIL, "Cannot seek past end of stream.", 1);
                if (offset < 0) PL_THROW_ERROR(E_FAIL, "Cannot seek before beginning of stream.", 1);
                m_position = offset;
                break;
            case PLStreamSeekFromEnd:
                if (int64_t{m_size} + offset < 0) PL_THROW_ERROR(E_FAIL, "Cannot seek before beginning of stream.", 1);
                m_position = offset > 0 ? m_size : m_size + offset;
                break;
            case PLStreamSeekFromCurrent:
                try {
                    SkipBy(offset);
                } catch (PL_ERROR& error) {
                    PL_THROW_ERROR(error.result, "Failed to seek relative to position.", 1);
                }
                break;
            default:
                PL_THROW_ERROR(E_FAIL, "Invalid seek flag", 1);
        }
    });
}

HRESULT CPLByteStream::GetSubstream(LONG offset, LONG length, IPLStream** stream) {
    if (stream == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        *stream = nullptr;
        if (offset < 0 || length < 0 || offset > m_size) {
            hr = E_INVALIDARG;
            PL_THROW_ERROR(hr, "Sub stream outside the stream", 1);
        }
        PLComPtr<IPLByteStream> created;
        hr = PLCreateObject<CPLByteStream>(IID_IPLByteStream, nullptr, created.PutVoid());
        PL_THROW_ERROR(hr, "Failed to create sub stream", 1);
        auto* sub = static_cast<CPLByteStream*>(created.Get());
        sub->m_block = m_block;
        sub->m_owner = m_owner;
        sub->m_data = m_data + offset;
        sub->m_size = length < m_size - offset ? length : m_size - offset;
        sub->m_state = kInitialized;
        hr = sub->Open();
        PL_THROW_ERROR(hr, "Failed to open stream", 0);
        *stream = created.Detach();
    });
}

HRESULT CPLByteStream::Initialize(const BYTE* bytes, LONG size) {
    if (bytes == nullptr) return E_POINTER;
    if (size < 0) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        m_owner = nullptr;
        m_position = 0;
        if (size == 0) {
            m_block.reset();
            m_data = nullptr;
            m_size = 0;
        } else {
            // A new block each time: sub-streams may still share the previous one.
            auto* copy = static_cast<BYTE*>(std::malloc(static_cast<std::size_t>(size)));
            if (copy == nullptr) {
                m_block.reset();
                m_data = nullptr;
                m_size = 0;
                m_state = kInitialized;
                hr = E_FAIL;
                PL_THROW_ERROR(hr, "Memory allocation failed", 1);
            }
            std::shared_ptr<const BYTE> block = TakeOver(copy);
            CopyBytes(copy, bytes, static_cast<std::size_t>(size));
            m_block = std::move(block);
            m_data = copy;
            m_size = size;
        }
        m_state = kInitialized;
        hr = Open();
        PL_THROW_ERROR(hr, "Failed to open stream", 0);
    });
}

HRESULT CPLByteStream::InitializeWithOwner(const BYTE* bytes, LONG size, IUnknown* owner) {
    if (bytes == nullptr) return E_POINTER;
    if (size < 0) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        // The new holder is made first: a failure leaves the stream as it was.
        std::shared_ptr<const BYTE> block = owner == nullptr ? TakeOver(bytes) : nullptr;
        m_owner = PLComPtr<IUnknown>(owner);
        m_block = std::move(block);
        m_data = bytes;
        m_size = size;
        m_position = 0;
        m_state = kInitialized;
        hr = Open();
        PL_THROW_ERROR(hr, "Failed to open stream", 0);
    });
}

namespace {
// Makes a byte stream, initializes it with `init` and hands it out (inside the caller's region).
template <class Init>
void CreateByteStream(HRESULT& hr, IPLStream** stream, Init&& init) {
    *stream = nullptr;
    PLComPtr<IPLByteStream> created;
    hr = PLCreateObject<CPLByteStream>(IID_IPLByteStream, nullptr, created.PutVoid());
    PL_THROW_ERROR(hr, "Failed to create stream", 1);
    hr = init(static_cast<CPLByteStream*>(created.Get()));
    PL_THROW_ERROR(hr, "Failed to initialize stream", 0);
    *stream = created.Detach();
}
}  // namespace

HRESULT PLCreateStreamOnBytes(const BYTE* bytes, LONG size, IPLStream** stream) {
    if (stream == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS("Core Services", "Utility Functions"), [&](HRESULT& hr) {
        CreateByteStream(hr, stream, [&](CPLByteStream* created) { return created->Initialize(bytes, size); });
    });
}

HRESULT PLCreateStreamOnOwnedBytes(const BYTE* bytes, LONG size, IUnknown* owner, IPLStream** stream) {
    if (stream == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS("Core Services", "Utility Functions"), [&](HRESULT& hr) {
        CreateByteStream(hr, stream,
                         [&](CPLByteStream* created) { return created->InitializeWithOwner(bytes, size, owner); });
    });
}
