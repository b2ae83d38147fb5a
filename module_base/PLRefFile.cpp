// A file on disk, shared by the streams that read it.
#include "module_base/PLRefFile.h"

#include <errno.h>

#include <string>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "platform/File.h"

PL_REGISTER_CLASS(CPLRefFile, CLSID_PLRefFile);

namespace {
constexpr const char* kGroup = "Core";

std::string NarrowText(const WCHAR* text) {
    return kd::platform::NativePath(std::u16string_view(text, static_cast<std::size_t>(PLString::SafeLength(text))));
}
}  // namespace

CPLRefFile::~CPLRefFile() {
    if (m_deleteOnRelease && !m_path.IsEmpty()) {
        try {
            kd::platform::DeleteFile(NarrowText(m_path.c_str()));  // the result is ignored
        } catch (...) {
        }
    }
}

HRESULT CPLRefFile::GetLocalPath(WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        // The whole path or nothing: a cut path would name another file.
        hr = PLCopyTextToBuffer(buffer, size, m_path.c_str(), m_path.GetLength(), PLTruncation::WholeOrEmpty);
        PL_THROW_ERROR(hr, "Buffer too small for the path", 1);
    });
}

HRESULT CPLRefFile::Initialize(const WCHAR* path, BOOL deleteOnRelease) {
    if (path == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        if (!m_path.IsEmpty()) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "PLRefFile already initialzed.", 1);
        }
        m_path = PLString(path);
        m_deleteOnRelease = deleteOnRelease;
    });
}

HRESULT CPLRefFile::OpenStdHandle(const WCHAR* mode, FILE** file) {
    if (mode == nullptr || file == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        *file = nullptr;
        FILE* opened = nullptr;
        if (m_path.IsEmpty() || kd::platform::OpenStdFile(NarrowText(m_path.c_str()), NarrowText(mode), &opened) != 0) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Failed to open file.", 1);
        }
        m_openCount.fetch_add(1, std::memory_order_relaxed);
        *file = opened;
    });
}

HRESULT CPLRefFile::OpenHandle(DWORD access, DWORD /*shareMode*/, BOOL /*inheritable*/, DWORD creationDisposition,
                               DWORD /*flagsAndAttributes*/, PLFileHandle* handle) {
    if (handle == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        *handle = PL_INVALID_FILE_HANDLE;
        kd::platform::FileOpenOptions options;
        options.read = (access & PL_GENERIC_READ) != 0;
        options.write = (access & PL_GENERIC_WRITE) != 0;
        int error = 0;
        switch (creationDisposition) {
            case PL_CREATE_NEW:
                options.disposition = kd::platform::FileDisposition::CreateNew;
                break;
            case PL_CREATE_ALWAYS:
                options.disposition = kd::platform::FileDisposition::CreateAlways;
                break;
            case PL_OPEN_EXISTING:
                options.disposition = kd::platform::FileDisposition::OpenExisting;
                break;
            case PL_OPEN_ALWAYS:
                options.disposition = kd::platform::FileDisposition::OpenAlways;
                break;
            case PL_TRUNCATE_EXISTING:
                options.disposition = kd::platform::FileDisposition::TruncateExisting;
                break;
            default:
                error = EINVAL;
        }
        if (!options.read && !options.write) error = EINVAL;
        if (m_path.IsEmpty()) error = ENOENT;
        int fd = -1;
        if (error == 0) error = kd::platform::OpenFile(NarrowText(m_path.c_str()), options, &fd);
        if (error != 0) {
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1, "Failed to open file (last error: %ld)", static_cast<LONG>(error));
        }
        m_openCount.fetch_add(1, std::memory_order_relaxed);
        *handle = fd;
    });
}

HRESULT CPLRefFile::CloseStdHandle(FILE* file) {
    if (file == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        kd::platform::CloseStdFile(file);
        m_openCount.fetch_sub(1, std::memory_order_relaxed);
    });
}

HRESULT CPLRefFile::CloseHandle(PLFileHandle handle) {
    if (handle < 0) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        kd::platform::CloseFile(handle);
        m_openCount.fetch_sub(1, std::memory_order_relaxed);
    });
}

HRESULT CPLRefFile::SetBaseOffset(LONG offset) {
    m_baseOffset.store(offset, std::memory_order_relaxed);
    return S_OK;
}

HRESULT CPLRefFile::GetPageOffset(IPLFilePage* page, LONG* offset) {
    if (page == nullptr || offset == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        LONG fileOffset = 0;
        PLCallOut([&] { hr = page->GetFileOffset(&fileOffset); });
        PL_THROW_ERROR(hr, "Failed to obtain offset from page", 0);
        hr = TranslateOffset(fileOffset, offset);
        PL_THROW_IF_FAILED(hr);
    });
}

HRESULT CPLRefFile::TranslateOffset(LONG offset, LONG* result) {
    if (result == nullptr) return S_OK;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        const int64_t translated = int64_t{offset} - m_baseOffset.load(std::memory_order_relaxed);
        if (translated < INT32_MIN || translated > INT32_MAX) {
            hr = E_INVALIDARG;
            PL_THROW_ERROR(hr, "Offset out of range", 1);
        }
        *result = static_cast<LONG>(translated);
    });
}

HRESULT PLCreateRefFile(const WCHAR* path, BOOL deleteOnRelease, IPLRefFilePriv** refFile) {
    if (refFile == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS("Core Services", "Utility Functions"), [&](HRESULT& hr) {
        *refFile = nullptr;
        PLComPtr<IPLRefFilePriv> created;
        hr = PLCreateObject<CPLRefFile>(IID_IPLRefFilePriv, nullptr, created.PutVoid());
        PL_THROW_ERROR(hr, "Failed to create ref file", 1);
        hr = created->Initialize(path, deleteOnRelease);
        PL_THROW_ERROR(hr, "Failed to initialize ref file", 0);
        *refFile = created.Detach();
    });
}
