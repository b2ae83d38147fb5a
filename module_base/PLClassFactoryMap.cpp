// The class-factory map and creation by class identifier.
#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLGuid.h"

#include <cstring>
#include <set>
#include <string>

#include "module_base/PLError.h"
#include "platform/Library.h"
#include "platform/Mutex.h"
#include "platform/Text.h"
#include "platform/Unload.h"

bool PLGuidLess::operator()(const GUID& a, const GUID& b) const noexcept {
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
}

// ---- the map ----

namespace {

// The live maps of this library, by address. Made by the first map; freed at unload, after the
// library's own map (which is made after it).
struct LiveMaps {
    kd::platform::Mutex lock;
    std::set<const IPLClassFactoryMap*> maps GUARDED_BY(lock);
};
LiveMaps* g_liveMaps = nullptr;

void ReleaseLiveMaps() noexcept {
    delete std::exchange(g_liveMaps, nullptr);
}

LiveMaps& Live() {
    static LiveMaps* const live = [] {
        g_liveMaps = new LiveMaps();
        kd::platform::ReleaseAtUnload(&ReleaseLiveMaps);
        return g_liveMaps;
    }();
    return *live;
}

}  // namespace

CPLClassFactoryMap::CPLClassFactoryMap() {
    LiveMaps& live = Live();
    kd::platform::LockGuard guard(live.lock);
    live.maps.insert(this);
}

CPLClassFactoryMap::~CPLClassFactoryMap() {
    LiveMaps& live = Live();
    kd::platform::LockGuard guard(live.lock);
    live.maps.erase(this);
}

CPLClassFactoryMap* CPLClassFactoryMap::FromInterface(IPLClassFactoryMap* map) noexcept {
    LiveMaps& live = Live();
    kd::platform::LockGuard guard(live.lock);
    return live.maps.contains(map) ? static_cast<CPLClassFactoryMap*>(map) : nullptr;
}

HRESULT CPLClassFactoryMap::RegisterClassFactory(REFCLSID clsid, PLCreatorFunction creator) {
    try {
        kd::platform::LockGuard guard(m_lock);
        m_map.emplace(clsid, creator);  // an identifier already present keeps its creator
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

PLCreatorFunction CPLClassFactoryMap::FindClassFactory(REFCLSID clsid) {
    kd::platform::SharedLockGuard guard(m_lock);
    auto it = m_map.find(clsid);
    return it == m_map.end() ? nullptr : it->second;
}

bool CPLClassFactoryMap::UnregisterClassFactory(REFCLSID clsid) {
    kd::platform::LockGuard guard(m_lock);
    return m_map.erase(clsid) != 0;
}

std::vector<std::pair<GUID, PLCreatorFunction>> CPLClassFactoryMap::Entries() const {
    kd::platform::SharedLockGuard guard(m_lock);
    return {m_map.begin(), m_map.end()};
}

std::size_t CPLClassFactoryMap::Size() const {
    kd::platform::SharedLockGuard guard(m_lock);
    return m_map.size();
}

namespace {

// Made by the first registration. It is not destroyed at process exit, which would pull it from
// under threads that are still creating objects, but only when the library is unloaded with
// dlclose: no thread may be inside the library then.
std::atomic<CPLClassFactoryMap*> g_factoryMap{nullptr};
kd::platform::Mutex g_factoryMapCreation;

void ReleaseMap() noexcept {
    delete g_factoryMap.exchange(nullptr, std::memory_order_acq_rel);
}

CPLClassFactoryMap* GetOrCreateMap() {
    CPLClassFactoryMap* map = g_factoryMap.load(std::memory_order_acquire);
    if (map != nullptr) return map;
    kd::platform::LockGuard guard(g_factoryMapCreation);
    map = g_factoryMap.load(std::memory_order_relaxed);
    if (map == nullptr) {
        map = new CPLClassFactoryMap();
        g_factoryMap.store(map, std::memory_order_release);
        kd::platform::ReleaseAtUnload(&ReleaseMap);
    }
    return map;
}

}  // namespace

CPLClassFactoryMap* PLGetClassFactoryMap() noexcept {
    return g_factoryMap.load(std::memory_order_acquire);
}

PLCreatorFunction PLFindClassFactory(REFCLSID clsid) noexcept {
    CPLClassFactoryMap* map = PLGetClassFactoryMap();
    if (map == nullptr) {
        PLRecordErrorMessage("", "", "PLFindClassFactory", E_FAIL, 0, u"Class factory map is NULL", 1);
        return nullptr;
    }
    return map->FindClassFactory(clsid);
}

HRESULT RegisterClassFactory(REFCLSID clsid, PLCreatorFunction creator) noexcept {
    try {
        return GetOrCreateMap()->RegisterClassFactory(clsid, creator);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT PLCreateInstance(REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(""), [&](HRESULT& hr) {
        *object = nullptr;
        const GUID wanted = clsid;  // the caller's, read once inside the guarded region
        PLCreatorFunction creator = PLFindClassFactory(wanted);
        if (creator == nullptr) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Could not find class factory.", 1);
        }
        hr = creator(iid, nullptr, object);
        PL_THROW_ERROR(hr, "Could not create object.", 0);
    });
}

HRESULT PLCreateInstanceEx(REFCLSID clsid, REFIID iid, void* argument, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    return ::PLGuard(PL_GUARD_SITE(""), [&](HRESULT& hr) {
        PLCreatorFunction creator = PLFindClassFactory(clsid);
        if (creator == nullptr) {
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1, "Could not find class factory for class with GUID '%s'.",
                                  PLGuidToString(clsid));
        }
        hr = creator(iid, argument, object);
        PL_THROW_ERROR_FORMAT(hr, 0, "Could not create object with GUID '%s'.", PLGuidToString(clsid));
    });
}

HRESULT HookClassFactories(const WCHAR* libraryFileName) noexcept {
    return ::PLGuard(PL_GUARD_SITE(""), [&](HRESULT& hr) {
        const std::string name = kd::platform::Utf16ToUtf8(
            std::u16string_view(libraryFileName == nullptr ? u"" : libraryFileName,
                                static_cast<std::size_t>(PLString::SafeLength(libraryFileName))));
        // The library stays loaded: its creators are now in our map.
        void* library = kd::platform::OpenLibrary(name);
        if (library == nullptr) {
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1, "Failed to load library [%s]", libraryFileName);
        }
        auto registerFactories =
            reinterpret_cast<PFN_RegisterClassFactories>(kd::platform::FindExport(library, "RegisterClassFactories"));
        if (registerFactories == nullptr) {
            hr = E_FAIL;
            PL_THROW_ERROR_FORMAT(hr, 1, "Class factory register function not found for library [%s]", libraryFileName);
        }
        hr = registerFactories(PLGetClassFactoryMap());
    });
}

HRESULT CopyClassFactories(IPLClassFactoryMap* source, IPLClassFactoryMap* target) noexcept {
    if (source == nullptr || target == nullptr) return E_POINTER;
    // Only the library's own maps can be walked: the interface has no slot that lists entries.
    CPLClassFactoryMap* ours = CPLClassFactoryMap::FromInterface(source);
    if (ours == nullptr) return E_INVALIDARG;
    try {
        for (const auto& entry : ours->Entries()) target->RegisterClassFactory(entry.first, entry.second);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
