// The process-wide class-factory map and object creation by class identifier.
#ifndef KD_PLCLASSFACTORYMAP_H
#define KD_PLCLASSFACTORYMAP_H

#include <map>
#include <utility>
#include <vector>

#include <kdtrace/exports.h>
#include <kdtrace/module.h>
#include <kdtrace/types.h>

#include "module_base/PLComObject.h"
#include "platform/Mutex.h"

struct PLGuidLess {
    bool operator()(const GUID& a, const GUID& b) const noexcept;
};

// An ordered map from class identifier to creator. Registering an identifier that is present
// keeps the existing creator. Registration normally happens while the library loads; the map
// is nevertheless guarded by a reader-writer lock so that hooking or unregistering at run time
// cannot corrupt a concurrent lookup.
class CPLClassFactoryMap final : public IPLClassFactoryMap {
public:
    CPLClassFactoryMap();
    ~CPLClassFactoryMap();
    CPLClassFactoryMap(const CPLClassFactoryMap&) = delete;
    CPLClassFactoryMap& operator=(const CPLClassFactoryMap&) = delete;

    // The map behind `map` when it is one of this library's, else null. The interface has no
    // query slot, so the library's maps are known by their addresses.
    static CPLClassFactoryMap* FromInterface(IPLClassFactoryMap* map) noexcept;

    HRESULT RegisterClassFactory(REFCLSID clsid, PLCreatorFunction creator) override;
    PLCreatorFunction FindClassFactory(REFCLSID clsid) override;
    // True when an entry was removed.
    bool UnregisterClassFactory(REFCLSID clsid);
    std::vector<std::pair<GUID, PLCreatorFunction>> Entries() const;
    std::size_t Size() const;

private:
    mutable kd::platform::SharedMutex m_lock;
    std::map<GUID, PLCreatorFunction, PLGuidLess> m_map GUARDED_BY(m_lock);
};

// The library's map, or null before the first registration.
CPLClassFactoryMap* PLGetClassFactoryMap() noexcept;

// The creator for a class identifier, or null (recording "Class factory map is NULL" when the
// map does not exist).
PLCreatorFunction PLFindClassFactory(REFCLSID clsid) noexcept;
HRESULT PLCreateInstanceEx(REFCLSID clsid, REFIID iid, void* argument, void** object) noexcept;
// PLCreateInstance is exported (see <kdtrace/exports.h>).
HRESULT RegisterClassFactory(REFCLSID clsid, PLCreatorFunction creator) noexcept;
// Loads another library and lets its RegisterClassFactories add its creators to this library's
// map. The library stays loaded.
HRESULT HookClassFactories(const WCHAR* libraryFileName) noexcept;
// Inserts every entry of `source` into `target`, in order; keys present in `target` are kept.
HRESULT CopyClassFactories(IPLClassFactoryMap* source, IPLClassFactoryMap* target) noexcept;

// A static object whose construction registers one class.
template <class T>
struct PLFactoryRegistrar {
    explicit PLFactoryRegistrar(REFCLSID clsid) noexcept { RegisterClassFactory(clsid, &PLCreateObject<T>); }
};

#define PL_CONCAT_INNER_(a, b) a##b
#define PL_CONCAT_(a, b) PL_CONCAT_INNER_(a, b)
// Registers `Class` under `clsid` while the library loads; `clsid` is what its GetClassID answers.
#define PL_REGISTER_CLASS(Class, clsid)                                              \
    const CLSID& Class::PLClassID() noexcept {                                       \
        return clsid;                                                                \
    }                                                                                \
    static const PLFactoryRegistrar<Class> PL_CONCAT_(g_plRegistrar_, __COUNTER__) { \
        Class::PLClassID()                                                           \
    }
#endif  // KD_PLCLASSFACTORYMAP_H
