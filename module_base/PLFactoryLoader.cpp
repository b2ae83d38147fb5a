// The factory loader.
#include "module_base/PLFactoryLoader.h"

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"

HRESULT CPLFactoryLoader::RegisterClassFactory(CLSID clsid, PLCreatorFunction creator) {
    return ::RegisterClassFactory(clsid, creator);
}

HRESULT CPLFactoryLoader::UnregisterClassFactory(CLSID clsid) {
    CPLClassFactoryMap* map = PLGetClassFactoryMap();
    if (map == nullptr || !map->UnregisterClassFactory(clsid)) return E_FAIL;
    return S_OK;
}

HRESULT CPLFactoryLoader::GetClassFactory(CLSID clsid, PLCreatorFunction* creator) {
    if (creator == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS("Core", "IPLFactoryLoader"), [&](HRESULT& hr) {
        PLCreatorFunction found = PLFindClassFactory(clsid);
        if (found == nullptr) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "Class factory not found", 1);
        }
        *creator = found;
    });
}

namespace {

HRESULT LoaderCreate(const PLGuardSite& site, CPLFactoryLoader* loader, REFCLSID clsid, REFIID iid, void* argument,
                     void** object) {
    if (object == nullptr) return E_POINTER;
    return PLGuard(site, [&](HRESULT& hr) {
        PLCreatorFunction creator = nullptr;
        hr = loader->GetClassFactory(clsid, &creator);
        PL_THROW_ERROR(hr, "Failed to obtain class factory", 0);
        hr = creator(iid, argument, object);
        if (hr == E_NOINTERFACE) PL_THROW_ERROR(hr, "Interface not supported", 1);
        PL_THROW_ERROR(hr, "Failed to create object", 1);
    });
}

}  // namespace

HRESULT CPLFactoryLoader::CreateInstance(REFCLSID clsid, REFIID iid, void** object) {
    return LoaderCreate(PL_GUARD_SITE_AS("Core", "IPLFactoryLoader"), this, clsid, iid, nullptr, object);
}

HRESULT CPLFactoryLoader::CreateInstanceEx(REFCLSID clsid, REFIID iid, void* argument, void** object) {
    return LoaderCreate(PL_GUARD_SITE_AS("Core", "IPLFactoryLoader"), this, clsid, iid, argument, object);
}
