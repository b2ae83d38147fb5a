// A read-only stream over a segment of a file.
#include "module_base/PLFileStream.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "module_base/PLRefFile.h"
#include "platform/File.h"

PL_REGISTER_CLASS(CPLFileStream, CLSID_PLFileStream);

namespace {
constexpr const char* kGroup = "Core";
// Room for any Linux path.
constexpr LONG kPathCapacity = 4096;
// ReadString reads a line in blocks of this many bytes at most.
constexpr int64_t kLineBlock = 4096;

bool IsStreamOffset(int64_t offset) noexcept {
    return offset >= 0 && offset <= INT32_MAX;
}
}  // namespace

CPLFileStream::~CPLFileStream() {
    CloseDescriptor();
}

void CPLFileStream::CloseDescriptor() noexcept {
    if (m_fd >= 0) kd::platform::CloseFile(m_fd);
    m_fd = -1;
}

void CPLFileStream::RequireOpen() const {
    if (m_fd < 0) PL_THROW_ERROR(E_FAIL, "Stream not open.", 1);
}

void CPLFileStream::OpenSegment(int64_t start, LONG size) {
    // The reference file may be a caller's object: called under a recovery point.
    WCHAR path[kPathCapacity];
    HRESULT hr = S_OK;
    PLCallOut([&] { hr = m_refFile->GetLocalPath(path, kPathCapacity); });
    PL_THROW_ERROR(hr, "Failed to get local path from file ref", 0);

    int fd = -1;
    if (kd::platform::OpenFile(kd::platform::NativePath(path), {}, &fd) != 0)
        PL_THROW_ERROR(E_FAIL, "Failed to open file for stream.", 1);
    int64_t fileSize = 0;
    if (kd::platform::GetFileSize(fd, &fileSize) != 0) {
        kd::platform::CloseFile(fd);
        PL_THROW_ERROR(E_FAIL, "Failed to open file for stream.", 1);
    }
    // A start before the file or past its end names no bytes of it.
    if (start < 0 || start > fileSize) {
        kd::platform::CloseFile(fd);
        PL_THROW_ERROR(PL_E_INVALID_START_OFFSET, "Invalid start offset", 1);
    }
    const int64_t length = size < 0 ? fileSize - start : size;
    if (!IsStreamOffset(start + length)) {
        kd::platform::CloseFile(fd);
        PL_THROW_ERROR(E_FAIL, "Segment ends beyond 2 GiB: file too large for a stream", 1);
    }
    CloseDescriptor();
    m_fd = fd;
    m_start = static_cast<LONG>(start);
    m_size = static_cast<LONG>(length);
    m_position = static_cast<LONG>(start);
}

HRESULT CPLFileStream::GetSize(LONG* size) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), size, m_size);
}

HRESULT CPLFileStream::Close() {
    CloseDescriptor();
    return S_OK;
}

HRESULT CPLFileStream::Write(const BYTE*, LONG, LONG*) {
    return E_NOTIMPL;
}

HRESULT CPLFileStream::GetMode(LONG*) {
    return E_NOTIMPL;
}

HRESULT CPLFileStream::Open() {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        if (m_fd >= 0) {
            hr = PL_E_STREAM_ALREADY_OPEN;
            PL_THROW_ERROR(hr, "Stream alread open", 1);
        }
        if (!m_refFile) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Could not open stream.  Ref file not set.", 1);
        }
        OpenSegment(m_start, m_size);
    });
}

HRESULT CPLFileStream::Read(BYTE* buffer, LONG count, LONG* read) {
    if (buffer == nullptr || read == nullptr) return E_POINTER;
    if (count < 1) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        if (m_fd < 0) {
            hr = Open();
            PL_THROW_ERROR(hr, "Failed to open stream", 0);
        }
        const int64_t left = End() - m_position;
        std::size_t got = 0;
        if (left > 0) {
            // Never past the segment: the caller's buffer receives only the bytes reported.
            const std::size_t want = static_cast<std::size_t>(count < left ? count : left);
            if (kd::platform::ReadFileAt(m_fd, buffer, want, m_position, &got) != 0) {
                hr = E_FAIL;
                PL_THROW_ERROR(hr, "Readfile failed", 1);
            }
            m_position += static_cast<LONG>(got);
        }
        *read = static_cast<LONG>(got);
    });
}

HRESULT CPLFileStream::ReadString(char* buffer, LONG size, LONG* read) {
    if (buffer == nullptr || read == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        if (m_fd < 0) {
            hr = PL_E_FILE_NOT_OPEN;
            PL_THROW_ERROR(hr, "File not open", 1);
        }
        // One line, the line feed kept, cut at the buffer (size - 1 bytes) and at the segment end.
        const int64_t left = End() - m_position;
        const int64_t want = left < size - 1 ? left : size - 1;
        int64_t stored = 0;
        while (stored < want) {
            const int64_t block = want - stored < kLineBlock ? want - stored : kLineBlock;
            std::size_t got = 0;
            if (kd::platform::ReadFileAt(m_fd, buffer + stored, static_cast<std::size_t>(block), m_position + stored,
                                         &got) != 0) {
                hr = E_FAIL;
                PL_THROW_ERROR(hr, "Error reading file", 1);
            }
            if (got == 0) break;
            if (const void* feed = std::memchr(buffer + stored, '\n', got); feed != nullptr) {
                stored = static_cast<const char*>(feed) - buffer + 1;
                break;
            }
            stored += static_cast<int64_t>(got);
            if (static_cast<int64_t>(got) < block) break;  // the file ended inside the segment
        }
        if (stored < 0) stored = 0;
        buffer[stored] = 0;
        m_position += static_cast<LONG>(stored);
        *read = static_cast<LONG>(stored);
    });
}

HRESULT CPLFileStream::Skip(LONG count) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        RequireOpen();
        const int64_t target = int64_t{m_position} + count;
        if (!IsStreamOffset(target)) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Could not skip to position.", 1);
        }
        m_position = static_cast<LONG>(target);
    });
}

HRESULT CPLFileStream::Seek(LONG offset, LONG flag) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        RequireOpen();
        int64_t target = 0;
        switch (flag) {
            case PLStreamSeekFromStart:
                target = int64_t{m_start} + offset;
                break;
            case PLStreamSeekFromEnd:
                target = End() - (offset < 0 ? -int64_t{offset} : int64_t{offset});
                break;
            case PLStreamSeekFromCurrent:
                target = int64_t{m_position} + offset;
                break;
            default:
                hr = E_FAIL;
                return;
        }
        if (!IsStreamOffset(target)) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Failed to seek to file postion", 1);
        }
        m_position = static_cast<LONG>(target);
    });
}

HRESULT CPLFileStream::GetPosition(LONG* position) {
    if (position == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        RequireOpen();
        *position = m_position;
    });
}

HRESULT CPLFileStream::GetSubstream(LONG offset, LONG length, IPLStream** stream) {
    if (stream == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        *stream = nullptr;
        if (offset < 0 || length < 0 || offset > m_size) {
            hr = E_INVALIDARG;
            PL_THROW_ERROR(hr, "Sub stream outside the stream", 1);
        }
        if (!m_refFile) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Could not open stream.  Ref file not set.", 1);
        }
        PLComPtr<IPLFileStreamPriv> created;
        hr = PLCreateObject<CPLFileStream>(IID_IPLFileStreamPriv, nullptr, created.PutVoid());
        PL_THROW_ERROR(hr, "Failed to create sub stream", 1);
        auto* sub = static_cast<CPLFileStream*>(created.Get());
        sub->m_refFile = m_refFile;
        try {
            sub->OpenSegment(int64_t{m_start} + offset, length < m_size - offset ? length : m_size - offset);
        } catch (PL_ERROR& error) {
            PL_THROW_ERROR(error.result, "Failed to open stream", 1);
        }
        *stream = created.Detach();
    });
}

HRESULT CPLFileStream::ResetStart(LONG start) {
    m_start = start;
    return S_OK;
}

HRESULT CPLFileStream::ResetSize(LONG size) {
    m_size = size;
    return S_OK;
}

HRESULT CPLFileStream::Initialize(const WCHAR* path, BOOL deleteOnRelease, LONG start, LONG size) {
    if (path == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        PLComPtr<IPLRefFilePriv> refFile;
        hr = PLCreateRefFile(path, deleteOnRelease, refFile.Put());
        PL_THROW_ERROR(hr, "Error creating ref file.", 0);
        hr = InitializeFromRefFile(refFile.Get(), start, size);
        PL_THROW_IF_FAILED(hr);
    });
}

HRESULT CPLFileStream::InitializeFromRefFile(IUnknown* refFile, LONG start, LONG size) {
    if (refFile == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        PLComPtr<IPLRefFilePriv> priv;
        PLCallOut([&] { hr = refFile->QueryInterface(IID_IPLRefFilePriv, priv.PutVoid()); });
        PL_THROW_IF_FAILED(hr);
        LONG translated = 0;
        PLCallOut([&] { hr = priv->TranslateOffset(start, &translated); });
        if (hr < 0) PL_THROW_ERROR(PL_E_INVALID_START_OFFSET, "Invalid start offset", 0);
        CloseDescriptor();
        m_refFile = std::move(priv);
        OpenSegment(translated, size);
    });
}

HRESULT CPLFileStream::Clone(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        *object = nullptr;
        PLComPtr<IPLFileStreamPriv> created;
        hr = PLCreateObject<CPLFileStream>(IID_IPLFileStreamPriv, nullptr, created.PutVoid());
        PL_THROW_ERROR(hr, "Failed to create stream", 1);
        auto* clone = static_cast<CPLFileStream*>(created.Get());
        clone->m_refFile = m_refFile;
        if (m_fd >= 0) clone->OpenSegment(m_start, m_size);
        clone->m_start = m_start;
        clone->m_size = m_size;
        clone->m_position = m_position;
        hr = created->QueryInterface(iid, object);
        PL_THROW_IF_FAILED(hr);
    });
}

HRESULT PLCreateStreamOnRefFile(IUnknown* refFile, LONG start, LONG size, IPLStream** stream) {
    if (stream == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS("Core Services", "Utility Functions"), [&](HRESULT& hr) {
        *stream = nullptr;
        PLComPtr<IPLFileStreamPriv> created;
        hr = PLCreateObject<CPLFileStream>(IID_IPLFileStreamPriv, nullptr, created.PutVoid());
        PL_THROW_ERROR(hr, "Failed to create stream", 1);
        hr = created->InitializeFromRefFile(refFile, start, size);
        PL_THROW_ERROR(hr, "Failed to initialize stream", 0);
        *stream = created.Detach();
    });
}
