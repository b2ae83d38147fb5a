// Module versions and the process-wide library cache.
#include "module_base/PLVersion.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "module_base/PLError.h"
#include "module_base/PLSEHException.h"
#include "platform/DebugOutput.h"
#include "platform/Library.h"
#include "platform/Mutex.h"
#include "platform/Unload.h"
#include "platform/VersionNote.h"

namespace {

// Name as given -> handle, or a remembered failure (null handle and the system error number).
// Libraries stay loaded until FreeCachedLibraries. The lock guards the map only: loading runs
// outside it, so a library whose start-up loads another library cannot deadlock.
struct CacheEntry {
    void* handle;
    int error;
};

// Ordered as PLString orders; looked up by a plain view of the name, so that a hit does not
// allocate.
struct NameLess {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept { return a < b; }
    bool operator()(const PLString& a, const PLString& b) const noexcept { return a.view() < b.view(); }
    bool operator()(const PLString& a, std::u16string_view b) const noexcept { return a.view() < b; }
    bool operator()(std::u16string_view a, const PLString& b) const noexcept { return a < b.view(); }
};

struct LibraryCache {
    kd::platform::Mutex lock;
    std::map<PLString, CacheEntry, NameLess> entries GUARDED_BY(lock);
};

// Counts the emptyings of the cache (FreeCachedLibraries).
std::atomic<uint64_t> g_cacheGeneration{0};

LibraryCache* g_cache = nullptr;

// At unload the cached libraries are closed and the cache freed.
void ReleaseCache() noexcept {
    {
        kd::platform::LockGuard guard(g_cache->lock);
        for (const auto& [name, entry] : g_cache->entries)
            if (entry.handle != nullptr) kd::platform::CloseLibrary(entry.handle);
    }
    delete g_cache;
    g_cache = nullptr;
}

LibraryCache& Cache() {
    static LibraryCache* cache = [] {
        g_cache = new LibraryCache();
        kd::platform::ReleaseAtUnload(&ReleaseCache);
        return g_cache;
    }();
    return *cache;
}

struct CurrentModule {
    kd::platform::Mutex lock;
    PLString name GUARDED_BY(lock);
};

CurrentModule* g_current = nullptr;

void ReleaseCurrent() noexcept {
    delete g_current;
    g_current = nullptr;
}

CurrentModule& Current() {
    static CurrentModule* current = [] {
        g_current = new CurrentModule();
        kd::platform::ReleaseAtUnload(&ReleaseCurrent);
        return g_current;
    }();
    return *current;
}

// The file name a library name stands for: ".dll" is added when the name has none (the
// platform's name rule turns "x.dll" into "libx.so"); the name must stay within 254 characters.
bool LibraryFileName(const PLString& name, std::string& file) {
    PLString withExtension = name;
    if (name.Find(u".dll") < 0 && name.Find(u".so") < 0) withExtension += u".dll";
    if (withExtension.GetLength() > 254) return false;
    file = withExtension.ToUtf8();
    return true;
}

// Loads through the system's loader, outside the cache.
void* LoadLibraryFile(const PLString& name, int& error) {
    std::string file;
    if (!LibraryFileName(name, file)) {
        error = ENAMETOOLONG;
        return nullptr;
    }
    std::string message;
    void* handle = kd::platform::OpenLibrary(file, &message, &error);
    if (handle == nullptr) kd::platform::DebugOutput("kdtrace: " + message + "\n");
    return handle;
}

// Adds an entry unless another thread added the same name meanwhile; returns the entry's handle
// and error. A second handle of the same library is given back to the loader.
CacheEntry AddToCache(const PLString& name, CacheEntry entry) {
    LibraryCache& cache = Cache();
    CacheEntry existing{};
    {
        kd::platform::LockGuard guard(cache.lock);
        const auto inserted = cache.entries.emplace(name, entry);
        if (inserted.second) return entry;
        existing = inserted.first->second;
    }
    if (entry.handle != nullptr && entry.handle != existing.handle) kd::platform::CloseLibrary(entry.handle);
    return existing;
}

bool FindInCache(std::u16string_view name, CacheEntry& entry) {
    LibraryCache& cache = Cache();
    kd::platform::LockGuard guard(cache.lock);
    const auto it = cache.entries.find(name);
    if (it == cache.entries.end()) return false;
    entry = it->second;
    return true;
}

// Reads four decimal numbers in the pattern "%d: %d: %d: %d": white space may precede each
// number, each colon must follow its number at once. Returns how many numbers were read. A
// number too large for 32 bits is held as the largest value (and so fails the range check).
int ScanVersionNumbers(const PLString& text, int64_t numbers[4]) {
    const WCHAR* p = text.c_str();
    int read = 0;
    for (; read < 4; ++read) {
        if (read > 0) {
            if (*p != u':') break;
            ++p;
        }
        while (*p == u' ' || *p == u'\t' || *p == u'\n' || *p == u'\r' || *p == u'\v' || *p == u'\f') ++p;
        bool negative = false;
        if (*p == u'+' || *p == u'-') negative = *p++ == u'-';
        if (*p < u'0' || *p > u'9') break;
        int64_t value = 0;
        while (*p >= u'0' && *p <= u'9') {
            if (value <= INT32_MAX) value = value * 10 + (*p - u'0');
            ++p;
        }
        if (value > INT32_MAX) value = INT32_MAX;
        numbers[read] = negative ? -value : value;
    }
    return read;
}

}  // namespace

// ---- versions ----

DWORD ConvertVersionToDWORD(const WCHAR* text) noexcept {
    DWORD packed = 0;
    ::PLGuard(PL_GUARD_SITE(""), [&](HRESULT& hr) {
        if (text == nullptr || text[0] == 0) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "No version string requested", 1);
        }
        PLString version(text);
        version.Replace(u',', u':');
        version.Replace(u'.', u':');
        int64_t numbers[4] = {};
        if (ScanVersionNumbers(version, numbers) < 4) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Incorrect version string format", 1);
        }
        // Compared as unsigned numbers, so a negative number is out of range too.
        const auto u = [](int64_t v) { return static_cast<uint32_t>(v); };
        if (u(numbers[0]) < 1 || u(numbers[0]) > 255 || u(numbers[1]) > 12 || u(numbers[2]) > 15 ||
            u(numbers[3]) > 65535) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Version string out of range", 1);
        }
        packed = (u(numbers[0]) << 24) | (u(numbers[1]) << 20);
    });
    return packed;
}

HRESULT GetModuleVersionInfo(void* module, DWORD* version) noexcept {
    if (version == nullptr) return E_POINTER;
    *version = 0;
    return ::PLGuard(PL_GUARD_SITE(""), [&](HRESULT& hr) {
        const std::string path = module != nullptr ? kd::platform::LibraryPath(module) : std::string();
        if (path.empty()) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Failed to get path to current module.", 1);
        }
        const std::optional<std::string> block = kd::platform::ReadVersionBlock(path);
        if (!block) return;  // no version data: version 0
        std::optional<std::string> value = kd::platform::VersionBlockValue(*block, "FileVersion");
        if (!value || value->empty()) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Module is missing a required version resource value.", 1);
        }
        // The value is read into a buffer of 100 characters.
        PLString text = PLString::FromUtf8(*value);
        if (text.GetLength() > 99) text = text.Left(99);
        *version = ConvertVersionToDWORD(text);
    });
}

// ---- loading ----

void* PLLoadLibrary(const WCHAR* name) noexcept {
    PLInstallSEHTranslator();
    if (name == nullptr || name[0] == 0) return nullptr;
    try {
        CacheEntry entry{};
        if (FindInCache(name, entry)) return entry.handle;
        const PLString key(name);
        entry.error = 0;
        entry.handle = LoadLibraryFile(key, entry.error);
        return AddToCache(key, entry).handle;
    } catch (...) {
        return nullptr;
    }
}

void* PLGetProcAddress(void* library, const char* symbol) noexcept {
    return kd::platform::FindExport(library, symbol);
}

HRESULT PLVersionedLoadLibrary(const WCHAR* currentModule, const WCHAR* library, void** handle) noexcept {
    if (handle == nullptr) return E_POINTER;
    *handle = nullptr;
    PLInstallSEHTranslator();
    return ::PLGuard(PL_GUARD_SITE(""), [&](HRESULT& hr) {
        const PLString libraryName(library != nullptr ? library : u"");
        const PLString currentName(currentModule != nullptr && currentModule[0] != 0 ? PLString(currentModule)
                                                                                     : libraryName);
        CacheEntry cached{};
        if (FindInCache(libraryName.view(), cached)) {
            if (cached.handle == nullptr) {
                // A load that failed before is not tried again.
                hr = E_FAIL;
                PL_THROW_ERROR_FORMAT(hr, 1, "Failed to load current module handle [%s] GetLastError [%ld]",
                                      libraryName, cached.error);
            }
            *handle = cached.handle;
            return;
        }
        int error = 0;
        void* loaded = libraryName.IsEmpty() ? nullptr : LoadLibraryFile(libraryName, error);
        if (loaded == nullptr) {
            if (!libraryName.IsEmpty()) AddToCache(libraryName, CacheEntry{nullptr, error});
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1, "Failed to load current module handle [%s] GetLastError [%ld]", libraryName,
                                  error);
        }
        // The current module's reference is kept: it is loaded anyway while its code runs.
        void* current = LoadLibraryFile(currentName, error);
        if (current == nullptr) {
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1, "Failed to load current module handle [%s] GetLastError [%ld]", currentName,
                                  error);
        }
        DWORD currentVersion = 0;
        DWORD libraryVersion = 0;
        hr = GetModuleVersionInfo(current, &currentVersion);
        PL_THROW_IF_FAILED(hr);
        hr = GetModuleVersionInfo(loaded, &libraryVersion);
        PL_THROW_IF_FAILED(hr);
        if (currentVersion != 0 && libraryVersion != 0 && currentVersion != libraryVersion) {
            // The refused library stays loaded and is not cached.
            const std::string currentPath = kd::platform::LibraryPath(current);
            const std::string libraryPath = kd::platform::LibraryPath(loaded);
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1,
                                  "Module version mismatch. Version 0x%08X (%ld.%ld.%ld.%ld) for file %s, does not "
                                  "match version 0x%08X (%ld.%ld.%ld.%ld) for file %s.",
                                  currentVersion, currentVersion >> 24, (currentVersion >> 20) & 0xF,
                                  (currentVersion >> 16) & 0xF, currentVersion & 0xFFFF, currentPath, libraryVersion,
                                  libraryVersion >> 24, (libraryVersion >> 20) & 0xF, (libraryVersion >> 16) & 0xF,
                                  libraryVersion & 0xFFFF, libraryPath);
        }
        *handle = AddToCache(libraryName, CacheEntry{loaded, 0}).handle;
        hr = S_OK;
    });
}

void FreeCachedLibraries() noexcept {
    std::vector<void*> handles;
    try {
        LibraryCache& cache = Cache();
        kd::platform::LockGuard guard(cache.lock);
        handles.reserve(cache.entries.size());
        for (const auto& [name, entry] : cache.entries)
            if (entry.handle != nullptr) handles.push_back(entry.handle);
        cache.entries.clear();
        // After the entries are gone: whoever sees the new number finds the cache empty.
        g_cacheGeneration.fetch_add(1, std::memory_order_release);
    } catch (...) {
        return;
    }
    for (void* handle : handles) kd::platform::CloseLibrary(handle);
}

uint64_t PLLibraryCacheGeneration() noexcept {
    return g_cacheGeneration.load(std::memory_order_acquire);
}

bool PLIsLibraryCached(const WCHAR* name) noexcept {
    if (name == nullptr) return false;
    try {
        CacheEntry entry{};
        return FindInCache(name, entry);
    } catch (...) {
        return false;
    }
}

void SetCurrentModuleName(const WCHAR* name) noexcept {
    try {
        CurrentModule& current = Current();
        kd::platform::LockGuard guard(current.lock);
        current.name = name != nullptr ? PLString(name) : PLString();
    } catch (...) {
    }
}

PLString GetCurrentModuleName() {
    CurrentModule& current = Current();
    kd::platform::LockGuard guard(current.lock);
    return current.name;
}
