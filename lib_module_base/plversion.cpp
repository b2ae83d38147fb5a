// The process-wide library cache.
#include "inc_module_base/plversion.h"

#include <map>
#include <mutex>

#include "inc_module_base/PLString.h"
#include "platform/library.h"
#include "platform/text.h"

namespace {

// Ordered as PLString orders; looked up by a view of the caller's text, so a lookup allocates
// nothing.
struct NameLess {
    using is_transparent = void;
    bool operator()(const PLString& a, const PLString& b) const noexcept { return a.view() < b.view(); }
    bool operator()(const PLString& a, std::u16string_view b) const noexcept { return a.view() < b; }
    bool operator()(std::u16string_view a, const PLString& b) const noexcept { return a < b.view(); }
};

// Name as given -> handle; a null handle remembers a name that failed to load. Libraries stay
// loaded for the life of the process.
struct LibraryCache {
    std::mutex lock;
    std::map<PLString, void*, NameLess> entries;
};

LibraryCache& Cache() {
    static LibraryCache* cache = new LibraryCache();
    return *cache;
}

}  // namespace

void* PLLoadLibrary(const WCHAR* name) noexcept {
    if (name == nullptr || name[0] == 0) return nullptr;
    try {
        const std::u16string_view wanted(name, static_cast<std::size_t>(PLString::SafeLength(name)));
        LibraryCache& cache = Cache();
        std::lock_guard<std::mutex> guard(cache.lock);
        auto it = cache.entries.find(wanted);
        if (it != cache.entries.end()) return it->second;
        const PLString key(wanted);
        void* handle = nullptr;
        // The file name must fit in 254 characters.
        if (key.GetLength() + 4 <= 254) handle = kd::platform::OpenLibrary(key.ToUtf8());
        cache.entries.emplace(key, handle);
        return handle;
    } catch (...) {
        return nullptr;
    }
}

void* PLGetProcAddress(void* library, const char* symbol) noexcept {
    return kd::platform::FindExport(library, symbol);
}
