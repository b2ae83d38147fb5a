// The process-wide library cache.
#include "inc_module_base/plversion.h"

#include <map>
#include <mutex>

#include "inc_module_base/PLString.h"
#include "platform/library.h"
#include "platform/text.h"

namespace {

// Name as given -> handle; a null handle remembers a name that failed to load. Libraries stay
// loaded for the life of the process.
struct LibraryCache {
    std::mutex lock;
    std::map<PLString, void*> entries;
};

LibraryCache& Cache() {
    static LibraryCache* cache = new LibraryCache();
    return *cache;
}

}  // namespace

void* PLLoadLibrary(const WCHAR* name) noexcept {
    if (name == nullptr || name[0] == 0) return nullptr;
    try {
        const PLString key(name);
        LibraryCache& cache = Cache();
        std::lock_guard<std::mutex> guard(cache.lock);
        auto it = cache.entries.find(key);
        if (it != cache.entries.end()) return it->second;
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
