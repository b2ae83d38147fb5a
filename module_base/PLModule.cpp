// Module objects and the module-table entry points.
#include "module_base/PLModule.h"
#include "module_base/PLGuid.h"

#include "module_base/PLError.h"
#include "module_base/PLProcessSwitches.h"

namespace {

// The property values are the library's own: cut to fit the field.
template <std::size_t N>
void CopyField(WCHAR (&field)[N], const WCHAR* value) noexcept {
    PLCopyTextToBuffer(field, static_cast<LONG>(N), value, PLString::SafeLength(value), PLTruncation::Silent);
}

// Copies a field into a caller's buffer under `policy`.
HRESULT CopyOut(const WCHAR* field, WCHAR* buffer, LONG size, PLTruncation policy = PLTruncation::Silent) {
    return PLCopyTextToBuffer(buffer, size, field, PLString::SafeLength(field), policy);
}

// A string getter's answer: the buffer is checked (the original contract let three of them write
// through a null pointer), then the initialisation status is answered until the module is
// initialised, then the field is copied, a failure recorded under the getter's own `site`.
HRESULT GetField(const PLGuardSite& site, HRESULT status, const WCHAR* field, WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    if (status < 0) return status;
    return ::PLGuard(site, [&](HRESULT&) { CopyOut(field, buffer, size); });
}

}  // namespace

CPLModule::CPLModule() noexcept = default;

CPLModule::~CPLModule() = default;

HRESULT CPLModule::__Init() {
    PLRecordErrorMessage("Core", "CPLModule", "__Init", PL_E_NO_MODULE_PROPERTY_MAP, 0,
                         u"No module property map defined.", 1);
    return PL_E_NO_MODULE_PROPERTY_MAP;
}

HRESULT CPLModule::ApplyProperties(const PLModuleProperties& properties) noexcept {
    std::call_once(m_applied, [&]() noexcept {
        m_moduleId = properties.moduleId != nullptr ? *properties.moduleId : GUID_NULL;
        CopyField(m_apiVersion, properties.apiVersion);
        CopyField(m_version, properties.version);
        CopyField(m_moduleName, properties.moduleName);
        CopyField(m_objectName, properties.objectName);
        CopyField(m_friendlyName, properties.friendlyName);
        CopyField(m_coreApiVersion, properties.coreApiVersion);
        CopyField(m_dbVersion, properties.dbVersion);
        m_initStatus.store(S_OK, std::memory_order_release);
    });
    return S_OK;
}

HRESULT CPLModule::InitModule() {
    return __Init();
}

HRESULT CPLModule::Initialize(void*) {
    return InitModule();
}

HRESULT CPLModule::GetModuleID(GUID* moduleId) {
    if (moduleId == nullptr) return E_POINTER;
    if (const HRESULT status = InitStatus(); status < 0) return status;
    return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT&) { *moduleId = m_moduleId; });
}

HRESULT CPLModule::GetAPIVersion(WCHAR* buffer, LONG size) {
    return GetField(PL_GUARD_SITE("Core"), InitStatus(), m_apiVersion, buffer, size);
}
HRESULT CPLModule::GetDBVersion(WCHAR* buffer, LONG size) {
    return GetField(PL_GUARD_SITE("Core"), InitStatus(), m_dbVersion, buffer, size);
}
HRESULT CPLModule::GetVersion(WCHAR* buffer, LONG size) {
    return GetField(PL_GUARD_SITE("Core"), InitStatus(), m_version, buffer, size);
}
HRESULT CPLModule::GetModuleName(WCHAR* buffer, LONG size) {
    return GetField(PL_GUARD_SITE("Core"), InitStatus(), m_moduleName, buffer, size);
}
HRESULT CPLModule::GetFriendlyName(WCHAR* buffer, LONG size) {
    return GetField(PL_GUARD_SITE("Core"), InitStatus(), m_friendlyName, buffer, size);
}
HRESULT CPLModule::GetCoreAPIVersion(WCHAR* buffer, LONG size) {
    return GetField(PL_GUARD_SITE("Core"), InitStatus(), m_coreApiVersion, buffer, size);
}

HRESULT CPLModule::GetObjectName(WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    if (const HRESULT status = InitStatus(); status < 0) return status;
    // The object name names a file: a cut name would be a different name, so a buffer that
    // cannot hold it whole gets an empty string and E_INVALIDARG.
    return ::PLGuard(PL_GUARD_SITE("Core"),
                     [&](HRESULT& hr) { hr = CopyOut(m_objectName, buffer, size, PLTruncation::WholeOrEmpty); });
}

HRESULT CPLModule::GetModuleObject(IUnknown** object) {
    if (object == nullptr) return E_POINTER;
    if (const HRESULT status = InitStatus(); status < 0) return status;
    return ::PLGuard(PL_GUARD_SITE("Core"), [&](HRESULT&) {
        *object = m_moduleObject.Get();
        if (m_moduleObject) m_moduleObject->AddRef();
    });
}

HRESULT CPLModule::ReservedA(void*, void*) {
    const HRESULT status = InitStatus();
    return status < 0 ? status : E_NOTIMPL;
}

HRESULT CPLModule::ReservedB(void*, void*, void*, void*, void** out) {
    if (out == nullptr) return E_POINTER;  // (nothing is written through it)
    const HRESULT status = InitStatus();
    return status < 0 ? status : E_NOTIMPL;
}

HRESULT CPLModule::ReservedC(void*, void*) {
    return E_NOTIMPL;
}

HRESULT CPLModule::SetMemoryTracking(LONG enable) {
    PLSetMemoryTracking(enable == 1);
    return S_OK;
}

HRESULT CPLModule::SetTwoDigitYearPivot(LONG pivot) {
    PLSetTwoDigitYearPivot(pivot);
    return S_OK;
}

// ---- module table entry points ----

HRESULT PLGetModuleFromTable(const PLGuardSite& site, const PLModuleTableRow* table, int count, REFGUID moduleId,
                             IPLModule** module) noexcept {
    if (module == nullptr) return E_POINTER;
    return PLGuard(site, [&](HRESULT& hr) {
        const GUID wanted = moduleId;  // the caller's, read once inside the guarded region
        const PLModuleTableRow* row = nullptr;
        for (int i = 0; i < count; ++i) {
            if (*table[i].moduleId == wanted || wanted == GUID_NULL) {
                row = &table[i];
                break;
            }
        }
        if (row == nullptr) {
            hr = E_FAIL;
            return;
        }
        IPLModule** slot = row->instanceAccessor != nullptr ? row->instanceAccessor() : nullptr;
        PLComPtr<IPLModule> made;
        if (slot != nullptr && *slot != nullptr) {
            made = PLComPtr<IPLModule>(*slot);
        } else {
            hr = PLCreateInstance(*row->clsid, made);
            if (hr < 0) return;
            if (slot != nullptr && made) {
                *slot = made.Get();
                (*slot)->AddRef();
            }
        }
        *module = made.Get();  // stored before the reference passes: an unwritable `module` leaks none
        made.Detach();
    });
}

namespace {

// The host's factory, list and descriptions are called under recovery points (PLCallOut).
HRESULT ImplementedModules(const PLModuleTableRow* table, int count, IPLModuleInfoFactory* factory,
                           IPLModuleInfoCollection** collection) {
    HRESULT status = E_NOTIMPL;
    PLComPtr<IPLModuleInfoCollection> list;
    PLCallOut([&] { status = factory->CreateModuleInfoCollection(list.Put()); });
    if (status < 0 || !list) return status < 0 ? status : E_FAIL;
    for (int i = 0; i < count; ++i) {
        PLComPtr<IPLModule> module;
        status = PLCreateInstance(*table[i].clsid, module);
        if (status < 0) continue;
        status = module->InitModule();
        if (status < 0) continue;
        PLComPtr<IPLModuleInfo> info;
        PLCallOut([&] { status = factory->CreateModuleInfo(info.Put()); });
        if (status < 0 || !info) continue;
        WCHAR moduleName[255] = {}, objectName[255] = {}, friendlyName[255] = {}, moduleIdText[255] = {},
              apiVersion[255] = {}, dbVersion[255] = {}, coreApiVersion[255] = {};
        GUID moduleId{};
        if (module->GetModuleID(&moduleId) >= 0) {
            try {
                PLGuidToString(moduleId, moduleIdText, 255);
            } catch (...) {
                moduleIdText[0] = 0;
            }
        }
        module->GetFriendlyName(friendlyName, 255);
        module->GetObjectName(objectName, 255);
        module->GetModuleName(moduleName, 255);
        module->GetAPIVersion(apiVersion, 255);
        module->GetDBVersion(dbVersion, 255);
        module->GetCoreAPIVersion(coreApiVersion, 255);
        PLCallOut([&] {
            info->SetModuleInfo(moduleName, objectName, friendlyName, moduleIdText, apiVersion, dbVersion,
                                coreApiVersion);
            list->AddModuleInfo(info.Get());
        });
    }
    *collection = list.Get();  // the creation's reference passes to the caller
    list.Detach();
    return status;
}

}  // namespace

HRESULT PLGetImplementedModulesFromTable(const PLGuardSite& site, const PLModuleTableRow* table, int count,
                                         IPLModuleInfoFactory* factory, IPLModuleInfoCollection** collection) {
    if (factory == nullptr || collection == nullptr) return E_POINTER;
    HRESULT result = S_OK;
    const HRESULT guarded =
        PLGuard(site, [&](HRESULT&) { result = ImplementedModules(table, count, factory, collection); });
    return guarded < 0 ? guarded : result;
}
