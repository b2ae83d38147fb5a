// The factory loader that every module object offers over the process-wide class-factory map.
#ifndef KD_PLFACTORYLOADER_H
#define KD_PLFACTORYLOADER_H

#include <kdtrace/module.h>
#include <kdtrace/types.h>

// The factory loader part of every module object.
class CPLFactoryLoader : public IPLFactoryLoader {
public:
    HRESULT RegisterClassFactory(CLSID clsid, PLCreatorFunction creator) override;
    HRESULT UnregisterClassFactory(CLSID clsid) override;
    HRESULT GetClassFactory(CLSID clsid, PLCreatorFunction* creator) override;
    HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** object) override;
    HRESULT CreateInstanceEx(REFCLSID clsid, REFIID iid, void* argument, void** object) override;
};

#endif  // KD_PLFACTORYLOADER_H
