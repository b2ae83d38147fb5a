// The content of one document page with its property bag.
#include "module_base/PLPageData.h"

#include <errno.h>

#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>

#include "module_base/PLByteStream.h"
#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "module_base/PLPropertyBagFunctions.h"
#include "module_base/PLSEHException.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileReplacement.h"
#include "platform/GlobalMemory.h"

PL_REGISTER_CLASS(CPLPageData, CLSID_PLPageData);

namespace {
constexpr const char* kGroup = "Core";

// Reading a file of unknown size, and a file or stream too large to read in one go.
constexpr LONG kChunk = 1024000;
// The largest file or stream read in one go by the persist loads.
constexpr int64_t kWholeReadLimit = 32767999;
// LoadFromFile reads a file of known size in one call up to this size, else in chunks of it.
constexpr int64_t kFileReadChunk = 2048000;
// Saving content held as a stream copies it in chunks of this size.
constexpr LONG kStreamCopyChunk = 262144;
// Content is a 32-bit count of bytes.
constexpr int64_t kMaxContent = INT32_MAX;

constexpr const char16_t* kQualityReduced = u"qualityReduced";
constexpr const char16_t* kOriginalFilePath = u"originalFilePath";

const char kUtf8Mark[] = {'\xEF', '\xBB', '\xBF'};

// Copies to or from a caller's memory under a recovery point, so that an unreadable or
// unwritable block ends the call as a translated fault.
void CopyBytes(void* to, const void* from, std::size_t count) {
    if (count != 0) PLCallOut([&] { std::memcpy(to, from, count); });
}

std::shared_ptr<BYTE> AllocateBuffer(int64_t capacity) {
    auto* bytes = static_cast<BYTE*>(std::malloc(static_cast<std::size_t>(capacity > 0 ? capacity : 1)));
    if (bytes == nullptr) return nullptr;
    try {
        return std::shared_ptr<BYTE>(bytes, [](BYTE* p) { std::free(p); });
    } catch (...) {
        return nullptr;  // the deleter has freed the bytes
    }
}

// A new, empty general-purpose bag for a page's properties.
HRESULT CreatePropertyBag(PLComPtr<IPLPropertyBag>& bag) {
    return PLCreateInstance(CLSID_PLPropertyBag, bag);
}

std::string ErrnoText(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace

// Keeps a page's buffer alive for the byte streams made over it.
class CPLPageData::Bytes : public CPLComObject<CPLReleaseModel> {
    PL_BEGIN_INTERFACE_MAP(Bytes, IPLComObject)
    PL_END_INTERFACE_MAP()

public:
    std::shared_ptr<BYTE> buffer;

protected:
    ~Bytes() override = default;
};
PL_UNREGISTERED_CLASS(CPLPageData::Bytes)

CPLPageData::CPLPageData() noexcept {
    // Should the bag not be made now, GetProperties tries again and reports the failure.
    try {
        CreatePropertyBag(m_properties);
    } catch (...) {
        m_properties = nullptr;
    }
}

CPLPageData::~CPLPageData() {
    Clear();
}

void CPLPageData::Clear() noexcept {
    m_buffer.reset();
    if (m_global != nullptr) {
        while (kd::platform::UnlockGlobalBlock(m_global)) {
        }
        kd::platform::FreeGlobalBlock(m_global);
        m_global = nullptr;
    }
    m_length = 0;
    m_capacity = 0;
}

void CPLPageData::Reset() noexcept {
    m_stream = nullptr;
    Clear();
}

bool CPLPageData::TryReallocate(int64_t capacity, LONG keep) noexcept {
    std::shared_ptr<BYTE> grown = AllocateBuffer(capacity);
    if (!grown) return false;
    if (keep > 0) std::memcpy(grown.get(), m_buffer.get(), static_cast<std::size_t>(keep));
    m_buffer = std::move(grown);
    m_capacity = static_cast<LONG>(capacity);
    return true;
}

void CPLPageData::Reallocate(int64_t capacity, LONG keep) {
    if (!TryReallocate(capacity, keep))
        PL_THROW_ERROR_FORMAT(E_OUTOFMEMORY, 1,
                              "Failed to allocate (%ld) bytes of memory. Current allocated bytes: %ld",
                              static_cast<LONG>(capacity), m_capacity);
}

void CPLPageData::Reserve(int64_t count) {
    const int64_t needed = int64_t{m_length} + count;
    if (needed <= m_capacity && m_buffer) return;
    if (needed > kMaxContent) PL_THROW_ERROR(E_OUTOFMEMORY, "Page data cannot hold 2 GiB or more", 1);
    // Whole growth steps, at least one more than the request needs, and at least twice the
    // capacity, so that content appended in small pieces is copied a bounded number of times;
    // never past the 32-bit limit. Should twice not be had, the steps alone are tried.
    const int64_t stepped = std::min(int64_t{m_capacity} + (count / kGrowthStep + 1) * kGrowthStep, kMaxContent);
    const int64_t doubled = std::min(int64_t{m_capacity} * 2, kMaxContent);
    if (doubled > stepped && TryReallocate(doubled, m_length)) return;
    Reallocate(stepped, m_length);
}

void CPLPageData::AppendBytes(const BYTE* bytes, LONG count) {
    Reserve(count);
    CopyBytes(m_buffer.get() + m_length, bytes, static_cast<std::size_t>(count));
    m_length += count;
}

void CPLPageData::RestartStream() {
    {
        // A stream that is already closed is what this wants: nothing to record.
        const CPLThreadErrorSuspender quiet;
        m_stream->Close();
    }
    const HRESULT hr = m_stream->Open();
    PL_THROW_ERROR(hr, "Failed to open stream", 0);
}

void CPLPageData::ReadStreamInto(BYTE* out, LONG size) {
    RestartStream();
    LONG total = 0;
    while (total < size) {
        LONG read = 0;
        const HRESULT hr = m_stream->Read(out + total, size - total, &read);
        PL_THROW_ERROR(hr, "Failed to read stream", 0);
        if (read <= 0) break;
        total += read;
    }
    {
        const CPLThreadErrorSuspender quiet;
        m_stream->Close();
    }
    if (total != size) PL_THROW_ERROR(E_FAIL, "Failed to read entire stream", 1);
}

std::span<const BYTE> CPLPageData::Content(std::unique_ptr<BYTE[]>& scratch) {
    if (m_stream) {
        LONG size = 0;
        HRESULT hr = m_stream->GetSize(&size);
        PL_THROW_ERROR(hr, "Failed to get data length.", 0);
        if (size < 0) PL_THROW_ERROR(E_FAIL, "Failed to get data length.", 1);
        scratch.reset(new (std::nothrow) BYTE[static_cast<std::size_t>(size) + 1]);
        if (!scratch) PL_THROW_ERROR_FORMAT(E_OUTOFMEMORY, 1, "Failed to allocate (%ld) bytes of memory.", size);
        ReadStreamInto(scratch.get(), size);
        return {scratch.get(), static_cast<std::size_t>(size)};
    }
    if (m_buffer) return {m_buffer.get(), static_cast<std::size_t>(m_length)};
    if (m_global != nullptr) {
        const std::size_t size = kd::platform::GlobalBlockSize(m_global);
        const std::size_t n = size < static_cast<std::size_t>(m_length) ? size : static_cast<std::size_t>(m_length);
        return {m_global->bytes, n};
    }
    return {};
}

HRESULT CPLPageData::SetOriginalFilePath(const PLString& path) {
    return AddStringToPropertyBag(Properties(), kOriginalFilePath, path.c_str());
}

IPLPropertyBag* CPLPageData::Properties() {
    if (!m_properties) {
        const HRESULT hr = CreatePropertyBag(m_properties);
        PL_THROW_ERROR(hr, "Failed to create property bag", 0);
    }
    return m_properties.Get();
}

// ---- IPLPageData ----

HRESULT CPLPageData::GetDataLength(LONG* length) {
    if (length == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        LONG value = m_length;
        if (m_stream) {
            hr = m_stream->GetSize(&value);
            PL_THROW_ERROR(hr, "Failed to get stream size", 0);
        }
        *length = value;
    });
}

HRESULT CPLPageData::GetStream(IPLStream** stream) {
    if (stream == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        *stream = nullptr;
        if (m_stream) {
            RestartStream();
            m_stream.CopyTo(stream);
            return;
        }
        if (!m_buffer) {
            static const BYTE kNothing = 0;
            hr = PLCreateStreamOnBytes(&kNothing, 0, stream);
            PL_THROW_ERROR(hr, "Failed to create stream", 0);
            return;
        }
        // The stream holds the buffer itself, not this object: it reads the same bytes after
        // the page is cleared, reloaded or grown.
        PLComPtr<IPLComObject> owner;
        hr = PLCreateObject<Bytes>(IID_IPLComObject, nullptr, owner.PutVoid());
        PL_THROW_ERROR(hr, "Failed to create stream", 1);
        static_cast<Bytes*>(owner.Get())->buffer = m_buffer;
        hr = PLCreateStreamOnOwnedBytes(m_buffer.get(), m_length, owner.Get(), stream);
        PL_THROW_ERROR(hr, "Failed to create stream", 0);
    });
}

HRESULT CPLPageData::GetHGLOBAL(HGLOBAL* block) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), block, m_global);
}

HRESULT CPLPageData::GetProperties(IPLPropertyBag** bag) {
    if (bag == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        *bag = Properties();
        (*bag)->AddRef();
    });
}

HRESULT CPLPageData::LoadFromBytes(const BYTE* bytes, LONG count) {
    if (count < 0) return E_INVALIDARG;
    if (bytes == nullptr && count > 0) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        Reset();
        Reallocate(count, 0);
        CopyBytes(m_buffer.get(), bytes, static_cast<std::size_t>(count));
        m_length = count;
    });
}

HRESULT CPLPageData::LoadFromFile(const WCHAR* path) {
    if (path == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        const PLString name(path);
        Reset();
        int fd = -1;
        if (const int error = kd::platform::OpenFile(kd::platform::NativePath(name.c_str()), {}, &fd); error != 0) {
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1, "Failed to open image file (erc=%ld).", static_cast<LONG>(error));
        }
        struct Closer {
            int fd;
            ~Closer() { kd::platform::CloseFile(fd); }
        } closer{fd};
        int64_t size = 0;
        if (const int error = kd::platform::GetFileSize(fd, &size); error != 0) {
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1, "Failed to get the file's size (error %ld)", static_cast<LONG>(error));
        }
        if (size > kMaxContent - 2) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "File too large for page data: 2 GiB or more", 1);
        }
        int64_t offset = 0;
        if (size == 0) {
            // A file that reports no size (a pipe or a special file): read until it ends.
            std::unique_ptr<BYTE[]> chunk(new (std::nothrow) BYTE[kChunk]);
            if (!chunk) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to alloc memory for file load.", 1);
            for (;;) {
                std::size_t got = 0;
                if (const int error = kd::platform::ReadFileAt(fd, chunk.get(), kChunk, offset, &got); error != 0) {
                    hr = E_FAIL;
                    PL_THROW_ERROR_FORMAT(hr, 1, "Failed to load entire file into page data (error %ld)",
                                          static_cast<LONG>(error));
                }
                if (got == 0) break;
                AppendBytes(chunk.get(), static_cast<LONG>(got));
                offset += static_cast<int64_t>(got);
            }
        } else {
            std::shared_ptr<BYTE> buffer = AllocateBuffer(size + 2);
            if (!buffer) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to alloc memory for file load.", 1);
            // What was read stays even when the rest cannot be.
            m_buffer = std::move(buffer);
            m_capacity = static_cast<LONG>(size + 2);
            int error = 0;
            while (offset < size) {
                // In one call up to the chunk size, else chunk by chunk.
                const int64_t want =
                    size <= kFileReadChunk || size - offset < kFileReadChunk ? size - offset : kFileReadChunk;
                std::size_t got = 0;
                error =
                    kd::platform::ReadFileAt(fd, m_buffer.get() + offset, static_cast<std::size_t>(want), offset, &got);
                offset += static_cast<int64_t>(got);
                m_length = static_cast<LONG>(offset);
                if (error != 0 || got == 0) break;
            }
            if (offset != size) {
                hr = E_FAIL;
                PL_THROW_ERROR_FORMAT(hr, 1, "Failed to load entire file into page data (error %ld)",
                                      static_cast<LONG>(error));
            }
        }
        hr = SetOriginalFilePath(name);
        PL_THROW_ERROR(hr, "Failed to set the original file path", 0);
        hr = S_OK;
    });
}

HRESULT CPLPageData::SaveToFile(const WCHAR* path) {
    if (path == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        const PLString name(path);
        // The new content replaces the file only once it is written whole.
        kd::platform::FileReplacement target;
        if (target.Open(kd::platform::NativePath(name.c_str())) != 0) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Failed to open file for writing.", 1);
        }
        hr = SaveToFile(target.File());
        PL_THROW_ERROR(hr, "Failed to save page data to file.", 0);
        if (target.Commit() != 0) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Failed to save page data to file.", 1);
        }
    });
}

HRESULT CPLPageData::SaveToFileAsUTF8(const WCHAR* path, LONGLONG encoding) {
    if (path == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        const PLString name(path);
        const auto codePage = static_cast<uint32_t>(static_cast<uint64_t>(encoding));
        // Refused before the target is touched.
        const bool unsupported = encoding == PLTextEncodingUtf16BE || encoding == PLTextEncodingUtf32LE ||
                                 encoding == PLTextEncodingUtf32BE || encoding == PLTextEncodingUtf7 ||
                                 (encoding != PLTextEncodingUtf8 && encoding != PLTextEncodingUtf16LE &&
                                  !kd::platform::IsDecodableCodePage(codePage));
        if (unsupported) {
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1, "Unsupported encoding detected: %I64d", encoding);
        }
        kd::platform::FileReplacement target;
        if (target.Open(kd::platform::NativePath(name.c_str())) != 0) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Failed to open file for writing.", 1);
        }
        std::unique_ptr<BYTE[]> scratch;
        std::span<const BYTE> content;
        try {
            content = Content(scratch);
        } catch (PL_ERROR& error) {
            PL_THROW_ERROR(error.result, "Failed to save to bytes.", 0);
        }
        const std::string_view bytes(reinterpret_cast<const char*>(content.data()), content.size());
        const char* failure = encoding == PLTextEncodingUtf8      ? "Failed to write UTF-8 temp file"
                              : encoding == PLTextEncodingUtf16LE ? "Failed to write UTF-8 temp file from UTF-16 source"
                                                                  : "Failed to write UTF-8 temp file from ANSI source";
        if (encoding == PLTextEncodingUtf8 && bytes.starts_with(std::string_view(kUtf8Mark, sizeof kUtf8Mark)))
            failure = "Failed to write unmodified UTF-8 temp file";
        // Decoded, then encoded as UTF-8 after the UTF-8 mark; an invalid sequence of any
        // encoding (a UTF-16 surrogate without its pair and an odd last byte included) becomes
        // U+FFFD. A mark in the content counts only where it agrees with the encoding: it is
        // then read as U+FEFF, which only a mark can give at the start, and dropped; any other
        // mark is text like the rest.
        std::u16string units;
        int converted = 0;
        if (encoding == PLTextEncodingUtf16LE) {
            // The whole content, zero characters included.
            units.resize(content.size() / 2);
            if (!units.empty()) std::memcpy(units.data(), content.data(), units.size() * 2);
            if constexpr (std::endian::native == std::endian::big)
                for (char16_t& unit : units) unit = static_cast<char16_t>((unit >> 8) | (unit << 8));
            if (content.size() % 2 != 0) units += u'\uFFFD';
        } else {
            converted = kd::platform::AppendCodePageAsUtf16(units, codePage, bytes);
        }
        const std::size_t start = !units.empty() && units[0] == u'\uFEFF' ? 1 : 0;
        std::string text(kUtf8Mark, sizeof kUtf8Mark);
        if (converted == 0)
            converted = kd::platform::AppendUtf16AsUtf8Bulk(text, std::u16string_view(units).substr(start), U'\uFFFD');
        if (converted != 0 || std::fwrite(text.data(), 1, text.size(), target.File()) != text.size() ||
            target.Commit() != 0) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, failure, 1);
        }
    });
}

// ---- IPLPageDataPriv ----

HRESULT CPLPageData::Append(const BYTE* bytes, LONG count) {
    if (count < 0) return E_INVALIDARG;
    if (bytes == nullptr && count > 0) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { AppendBytes(bytes, count); });
}

HRESULT CPLPageData::SetProperties(IPLPropertyBag* bag) {
    if (bag == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        if (m_properties) {
            // The quality-reduced flag survives a new bag, when the old bag has a readable one: a
            // flag that is no Boolean is left behind, so that it never keeps a new bag out.
            bool flag = false, readable = false;
            {
                const CPLThreadErrorSuspender quiet;
                BOOL present = FALSE;
                readable = m_properties->ContainsKey(kQualityReduced, &present) >= 0 && present &&
                           GetBoolFromPropertyBag(m_properties.Get(), kQualityReduced, &flag) >= 0;
            }
            if (readable) {
                hr = AddBoolToPropertyBag(bag, kQualityReduced, flag);
                PL_THROW_ERROR(hr, "Failed to copy qualityReduced", 0);
            }
            hr = S_OK;
        }
        m_properties = PLComPtr<IPLPropertyBag>(bag);
    });
}

HRESULT CPLPageData::ReserveBufferSpace(LONG count) {
    if (count < 0) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { Reserve(count); });
}

HRESULT CPLPageData::SetStream(IPLStream* stream) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { m_stream = PLComPtr<IPLStream>(stream); });
}

HRESULT CPLPageData::SetHGLOBAL(HGLOBAL* block, LONG length) {
    if (block == nullptr) return E_POINTER;
    if (length < 0) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        HGLOBAL taken = *block;
        const std::size_t size = kd::platform::GlobalBlockSize(taken);
        // Refused before anything changes: the block stays the caller's.
        if (static_cast<std::size_t>(length) > size) {
            hr = E_INVALIDARG;
            PL_THROW_ERROR_FORMAT(hr, 1, "Length (%ld) beyond the global block's size", length);
        }
        std::shared_ptr<BYTE> buffer = AllocateBuffer(length);
        if (!buffer)
            PL_THROW_ERROR_FORMAT(E_OUTOFMEMORY, 1,
                                  "Failed to allocate (%ld) bytes of memory. Current allocated bytes: %ld", length,
                                  m_capacity);
        if (length > 0) std::memcpy(buffer.get(), taken->bytes, static_cast<std::size_t>(length));
        // The page's own block given back stays held: it is not freed with the rest.
        if (taken == m_global) m_global = nullptr;
        Reset();
        m_global = taken;
        m_buffer = std::move(buffer);
        m_length = length;
        m_capacity = length;
    });
}

// ---- IPLPersistMemory ----

HRESULT CPLPageData::Load(HGLOBAL block) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        if (block == nullptr) {
            Reset();
            hr = S_FALSE;
            return;
        }
        const std::size_t size = kd::platform::GlobalBlockSize(block);
        if (size > static_cast<std::size_t>(kMaxContent)) {
            Reset();
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Global block too large for page data: 2 GiB or more", 1);
        }
        // Copied before clearing: the block may be the page's own, which clearing frees.
        std::shared_ptr<BYTE> buffer = AllocateBuffer(static_cast<int64_t>(size));
        if (!buffer) {
            Reset();
            PL_THROW_ERROR_FORMAT(E_OUTOFMEMORY, 1,
                                  "Failed to allocate (%ld) bytes of memory. Current allocated bytes: %ld",
                                  static_cast<LONG>(size), LONG{0});
        }
        if (size > 0) std::memcpy(buffer.get(), block->bytes, size);
        Reset();
        m_buffer = std::move(buffer);
        m_length = m_capacity = static_cast<LONG>(size);
    });
}

HRESULT CPLPageData::Save(DWORD allocationFlags, HGLOBAL* block) {
    if (block == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        *block = nullptr;
        if (!m_buffer && !m_stream && m_global == nullptr) {
            hr = S_FALSE;
            return;
        }
        // Always a new block, also for content held in a global block: the caller frees it.
        std::unique_ptr<BYTE[]> scratch;
        const std::span<const BYTE> content = Content(scratch);
        HGLOBAL made = kd::platform::AllocGlobalBlock(allocationFlags, content.size());
        if (made == nullptr) {
            hr = E_OUTOFMEMORY;
            PL_THROW_ERROR_FORMAT(hr, 1, "Failed to allocate global memory. GetLastError returned: #(%ld)",
                                  static_cast<LONG>(ENOMEM));
        }
        BYTE* bytes = kd::platform::LockGlobalBlock(made);
        if (!content.empty()) std::memcpy(bytes, content.data(), content.size());
        kd::platform::UnlockGlobalBlock(made);
        *block = made;
    });
}

HRESULT CPLPageData::SaveToBytes(BYTE* buffer, LONG* size) {
    if (size == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        if (buffer == nullptr) {
            hr = GetDataLength(size);
            PL_THROW_ERROR(hr, "Failed to get data length.", 0);
            return;
        }
        LONG room = 0;
        CopyBytes(&room, size, sizeof room);
        if (room < 0) {
            hr = E_INVALIDARG;
            PL_THROW_ERROR(hr, "Negative buffer size", 1);
        }
        std::unique_ptr<BYTE[]> scratch;
        const std::span<const BYTE> content = Content(scratch);
        const std::size_t n =
            content.size() < static_cast<std::size_t>(room) ? content.size() : static_cast<std::size_t>(room);
        CopyBytes(buffer, content.data(), n);
        *size = static_cast<LONG>(n);
        hr = n < content.size() || content.empty() ? S_FALSE : S_OK;
    });
}

// ---- IPLPersistStream ----

HRESULT CPLPageData::Load(IPLStream* stream) {
    if (stream == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        // Held for the call: it may be the stream this page holds, which the load releases.
        const PLComPtr<IPLStream> source(stream);
        LONG size = 0;
        hr = source->GetSize(&size);
        PL_THROW_ERROR(hr, "Failed to get stream size", 0);
        // The stream's bytes from its position to its end replace the content, whatever its size
        // (which only sizes the buffer, up to the one-read limit). They are read straight into
        // the buffer, which grows whenever a read has filled it.
        Reset();
        Reserve(size > 0 && size <= kWholeReadLimit ? size : kChunk);
        for (;;) {
            if (m_length == m_capacity) Reserve(kChunk);
            const LONG room = m_capacity - m_length;
            LONG read = 0;
            hr = source->Read(m_buffer.get() + m_length, room, &read);
            PL_THROW_ERROR(hr, "Failed to read entire stream into page data", 0);
            if (read <= 0) break;
            if (read > room) PL_THROW_ERROR(E_FAIL, "The stream read more bytes than it was asked for", 1);
            m_length += read;
        }
        hr = S_OK;
    });
}

HRESULT CPLPageData::Save(IPLStream*) {
    return E_NOTIMPL;
}

// ---- the file-level operations ----

void CPLPageData::WriteAll(FILE* file, const BYTE* bytes, std::size_t count, const char* format) {
    const std::size_t written = count == 0 ? 0 : std::fwrite(bytes, 1, count, file);
    if (written != count) {
        const int error = errno;
        PL_THROW_ERROR_FORMAT(E_FAIL, 1, format, static_cast<LONG>(count), static_cast<LONG>(written), ErrnoText(error),
                              static_cast<LONG>(error));
    }
}

HRESULT CPLPageData::SaveToFile(FILE* file) {
    if (file == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        constexpr const char* kWriteFailed =
            "Failed to write pagedata to file. Read: %ld, Written: %ld, strerror returned: '%hs', errno(%ld)";
        if (m_stream) {
            RestartStream();
            std::unique_ptr<BYTE[]> chunk(new (std::nothrow) BYTE[kStreamCopyChunk]);
            if (!chunk) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to allocate memory for the stream", 1);
            for (;;) {
                LONG read = 0;
                hr = m_stream->Read(chunk.get(), kStreamCopyChunk, &read);
                PL_THROW_ERROR(hr, "Failed to read stream", 0);
                if (read <= 0) break;
                WriteAll(file, chunk.get(), static_cast<std::size_t>(read),
                         "Failed to write all data to file. Read: %ld, Written: %ld, strerror returned: '%hs', "
                         "errno(%ld)");
            }
            const CPLThreadErrorSuspender quiet;
            m_stream->Close();
        } else if (m_buffer) {
            WriteAll(file, m_buffer.get(), static_cast<std::size_t>(m_length), kWriteFailed);
        } else if (m_global != nullptr) {
            std::unique_ptr<BYTE[]> scratch;
            const std::span<const BYTE> content = Content(scratch);
            kd::platform::LockGlobalBlock(m_global);
            struct Unlock {
                HGLOBAL block;
                ~Unlock() { kd::platform::UnlockGlobalBlock(block); }
            } unlock{m_global};
            WriteAll(file, content.data(), content.size(), kWriteFailed);
        } else {
            hr = S_FALSE;
        }
    });
}

HRESULT CPLPageData::LoadFromFile(FILE* file) {
    if (file == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        Reset();
        int64_t size = 0;
        if (kd::platform::GetFileSize(::fileno(file), &size) != 0) size = 0;
        if (size > kMaxContent) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "File too large for page data: 2 GiB or more", 1);
        }
        if (size < 1 || size > kWholeReadLimit) {
            // Room for the whole file at once, so the chunks are not copied again as it grows.
            // Reading straight into the page's new buffer instead would save the copy of each
            // chunk but not the time: the kernel's copy into pages not touched before costs about
            // as much more (bench/PageDataBench.cpp, against the read floor).
            if (size > 0) Reserve(size);
            std::unique_ptr<BYTE[]> chunk(new (std::nothrow) BYTE[kChunk]);
            if (!chunk) PL_THROW_ERROR(E_OUTOFMEMORY, "Failed to allocate memory for the file", 1);
            for (;;) {
                const std::size_t got = std::fread(chunk.get(), 1, kChunk, file);
                if (got == 0) break;
                AppendBytes(chunk.get(), static_cast<LONG>(got));
            }
            if (std::ferror(file)) {
                hr = E_FAIL;
                PL_THROW_ERROR(hr, "Failed to load entire file into page data", 1);
            }
        } else {
            Reserve(size);
            const std::size_t got = std::fread(m_buffer.get(), 1, static_cast<std::size_t>(size), file);
            m_length = static_cast<LONG>(got);
            if (got != static_cast<std::size_t>(size)) {
                hr = E_FAIL;
                PL_THROW_ERROR(hr, "Failed to load entire file into page data", 1);
            }
        }
    });
}
