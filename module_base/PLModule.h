// Module objects: the CPLModule base with the module's identity and getters, the module table
// behind GetPLModule and GetImplementedModules, and the process-wide switches.
#ifndef KD_PLMODULE_H
#define KD_PLMODULE_H

#include <atomic>
#include <mutex>

#include <kdtrace/module.h>
#include <kdtrace/types.h>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLError.h"
#include "module_base/PLFactoryLoader.h"

// One row of a library's module table.
struct PLModuleTableRow {
    const GUID* moduleId;  // what the host asks for
    const CLSID* clsid;    // the module object's class in the class-factory map
    // Null: every request makes a new module object. Else the address of a process-wide slot
    // that holds the one shared module object.
    IPLModule** (*instanceAccessor)();
};

// The values a module's property initialisation copies into its fields.
struct PLModuleProperties {
    const GUID* moduleId;
    const WCHAR* apiVersion;
    const WCHAR* version;
    const WCHAR* moduleName;
    const WCHAR* objectName;
    const WCHAR* friendlyName;
    const WCHAR* coreApiVersion;
    const WCHAR* dbVersion;  // may be null: left empty
};

class CPLModule : public CPLFactoryLoader, public IPLModule {
public:
    CPLModule() noexcept;
    virtual ~CPLModule();

    // The module's property initialisation. The base has no properties: it records "No module
    // property map defined." and returns PL_E_NO_MODULE_PROPERTY_MAP. A concrete module
    // overrides it.
    virtual HRESULT __Init();

    HRESULT InitModule() override;
    HRESULT GetModuleID(GUID* moduleId) override;
    HRESULT GetAPIVersion(WCHAR* buffer, LONG size) override;
    HRESULT GetDBVersion(WCHAR* buffer, LONG size) override;
    HRESULT GetModuleObject(IUnknown** object) override;
    HRESULT GetVersion(WCHAR* buffer, LONG size) override;
    HRESULT Initialize(void* unused) override;
    HRESULT ReservedA(void* unused1, void* unused2) override;
    HRESULT GetModuleName(WCHAR* buffer, LONG size) override;
    HRESULT GetObjectName(WCHAR* buffer, LONG size) override;
    HRESULT GetFriendlyName(WCHAR* buffer, LONG size) override;
    HRESULT GetCoreAPIVersion(WCHAR* buffer, LONG size) override;
    HRESULT ReservedB(void* unused1, void* unused2, void* unused3, void* unused4, void** out) override;
    HRESULT ReservedC(void* unused1, void* unused2) override;
    HRESULT SetMemoryTracking(LONG enable) override;
    HRESULT SetTwoDigitYearPivot(LONG pivot) override;

protected:
    // Copies the property values into the fields (cut to fit) and sets the status to S_OK. The
    // fields are written once, by the first call, and published with the status: getters on
    // other threads read them while later InitModule calls run, and a call that comes while the
    // first is writing returns when the fields are complete. (Later calls change nothing: a
    // module's properties are the same every time.)
    HRESULT ApplyProperties(const PLModuleProperties& properties) noexcept;
    // The initialisation status, once S_OK with the fields complete.
    HRESULT InitStatus() const noexcept { return m_initStatus.load(std::memory_order_acquire); }

    GUID m_moduleId{};
    WCHAR m_apiVersion[10] = {};
    WCHAR m_dbVersion[10] = {};
    WCHAR m_objectName[255] = {};
    WCHAR m_friendlyName[255] = {};
    WCHAR m_moduleName[255] = {};
    WCHAR m_coreApiVersion[10] = {};
    PLComPtr<IUnknown> m_moduleObject;
    WCHAR m_version[255] = {};
    std::atomic<HRESULT> m_initStatus{PL_E_MODULE_NOT_INITIALIZED};
    std::once_flag m_applied;
};

// GetPLModule over a module table, its failures recorded under the entry point's `site`.
HRESULT PLGetModuleFromTable(const PLGuardSite& site, const PLModuleTableRow* table, int count, REFGUID moduleId,
                             IPLModule** module) noexcept;
// GetImplementedModules over a module table, likewise. Not noexcept: the host's factory may end
// its thread (pthread_exit), which must unwind through here.
HRESULT PLGetImplementedModulesFromTable(const PLGuardSite& site, const PLModuleTableRow* table, int count,
                                         IPLModuleInfoFactory* factory, IPLModuleInfoCollection** collection);

#endif  // KD_PLMODULE_H
