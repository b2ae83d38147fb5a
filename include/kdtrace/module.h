// The module interface, the factory loader, and the three interfaces a host supplies to
// GetImplementedModules.
#ifndef KDTRACE_MODULE_H
#define KDTRACE_MODULE_H

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

// clang-format off
inline constexpr GUID IID_IPLModule = {0xF188F297, 0x9981, 0x41DE, {0x92, 0xE1, 0x10, 0xAD, 0x68, 0xEC, 0x20, 0x76}};
inline constexpr GUID IID_IPLFactoryLoader = {0x56B22D53, 0xA608, 0x4FEA, {0xBB, 0xC9, 0x72, 0xEA, 0xDC, 0xAB, 0xB9, 0x70}};
inline constexpr GUID IID_IPLModuleInfoFactory = {0x53C03486, 0x55EA, 0x4348, {0x84, 0x6F, 0x15, 0xB2, 0x74, 0xAB, 0xC1, 0xF1}};
inline constexpr GUID IID_IPLModuleInfo = {0x904035CE, 0xEB96, 0x4C8B, {0xB9, 0xF4, 0x9E, 0xFD, 0xA9, 0xEC, 0x1A, 0x8B}};
inline constexpr GUID IID_IPLModuleInfoCollection = {0xB4C052FC, 0x4E0C, 0x40A5, {0x87, 0x7E, 0xDE, 0x56, 0x35, 0x70, 0xAB, 0xE5}};
// The trace module: its module identifier (asked of GetPLModule) and its class identifier.
inline constexpr GUID MODULEID_PLTraceServices = {0x14499BE2, 0x1A69, 0x4DCE, {0x9F, 0x74, 0x1F, 0x53, 0xB0, 0x69, 0xD5, 0x0E}};
inline constexpr GUID CLSID_PLTraceModule = {0x07B6BE0B, 0x3FC3, 0x4D8C, {0xB9, 0xDB, 0x24, 0x4F, 0xBC, 0x9C, 0xCB, 0xA6}};
// clang-format on

// Makes an object: (requested interface, creation argument, out interface) -> HRESULT.
typedef HRESULT (*PLCreatorFunction)(REFIID iid, void* argument, void** object);

// A module's identity and the process-wide switches. String getters copy the stored text cut to
// size - 1 characters, always terminated. Until InitModule has run, every getter returns
// PL_E_MODULE_NOT_INITIALIZED.
struct IPLModule : IUnknown {
    virtual HRESULT InitModule() = 0;                             // slot 3
    virtual HRESULT GetModuleID(GUID* moduleId) = 0;              // slot 4
    virtual HRESULT GetAPIVersion(WCHAR* buffer, LONG size) = 0;  // slot 5
    virtual HRESULT GetDBVersion(WCHAR* buffer, LONG size) = 0;   // slot 6
    virtual HRESULT GetModuleObject(IUnknown** object) = 0;       // slot 7
    virtual HRESULT GetVersion(WCHAR* buffer, LONG size) = 0;     // slot 8
    virtual HRESULT Initialize(void* unused) = 0;                 // slot 9
    virtual HRESULT ReservedA(void* unused1, void* unused2) = 0;  // slot 10
    virtual HRESULT GetModuleName(WCHAR* buffer, LONG size) = 0;  // slot 11
    // slot 12: the buffer must hold the whole name and its terminator.
    virtual HRESULT GetObjectName(WCHAR* buffer, LONG size) = 0;
    virtual HRESULT GetFriendlyName(WCHAR* buffer, LONG size) = 0;    // slot 13
    virtual HRESULT GetCoreAPIVersion(WCHAR* buffer, LONG size) = 0;  // slot 14
    virtual HRESULT ReservedB(void* unused1, void* unused2, void* unused3, void* unused4,
                              void** out) = 0;                    // slot 15
    virtual HRESULT ReservedC(void* unused1, void* unused2) = 0;  // slot 16
    // slot 17: on when `enable` equals 1, off for any other value.
    virtual HRESULT SetMemoryTracking(LONG enable) = 0;
    virtual HRESULT SetTwoDigitYearPivot(LONG pivot) = 0;  // slot 18
};

// Creation of objects by class identifier through the process-wide class-factory map.
struct IPLFactoryLoader : IUnknown {
    virtual HRESULT RegisterClassFactory(CLSID clsid, PLCreatorFunction creator) = 0;  // slot 3
    virtual HRESULT UnregisterClassFactory(CLSID clsid) = 0;                           // slot 4
    virtual HRESULT GetClassFactory(CLSID clsid, PLCreatorFunction* creator) = 0;      // slot 5
    virtual HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** object) = 0;     // slot 6
    virtual HRESULT CreateInstanceEx(REFCLSID clsid, REFIID iid, void* argument,
                                     void** object) = 0;  // slot 7
};

// The class-factory map as handed to another library's RegisterClassFactories (see exports.h).
// It is not reference-counted: it lives as long as the module.
struct IPLClassFactoryMap {
    // Adds a creator; an identifier already present keeps its creator. Returns S_OK.
    virtual HRESULT RegisterClassFactory(REFCLSID clsid, PLCreatorFunction creator) = 0;
    // The creator registered for the identifier, or null.
    virtual PLCreatorFunction FindClassFactory(REFCLSID clsid) = 0;
};

// ---- Supplied by the host to GetImplementedModules ----

// One module's description.
struct IPLModuleInfo : IUnknown {
    // slot 3: module name, object name, friendly name, module identifier text, API version,
    // database version, core API version.
    virtual HRESULT SetModuleInfo(const WCHAR* moduleName, const WCHAR* objectName, const WCHAR* friendlyName,
                                  const WCHAR* moduleId, const WCHAR* apiVersion, const WCHAR* dbVersion,
                                  const WCHAR* coreApiVersion) = 0;
};

// The host's list of module descriptions. The module calls only AddModuleInfo; slots 3 to 6 are
// the host's own and are given here so that hosts share one layout.
struct IPLModuleInfoCollection : IUnknown {
    virtual HRESULT GetCount(LONG* count) = 0;                    // slot 3
    virtual HRESULT GetAt(LONG index, IPLModuleInfo** item) = 0;  // slot 4
    virtual HRESULT RemoveAll() = 0;                              // slot 5
    virtual HRESULT Reserved(void* unused) = 0;                   // slot 6
    // slot 7: keeps its own reference to the item.
    virtual HRESULT AddModuleInfo(IPLModuleInfo* item) = 0;
};

// Makes new, empty descriptions and lists, each with one reference for the caller.
struct IPLModuleInfoFactory : IUnknown {
    virtual HRESULT CreateModuleInfo(IPLModuleInfo** item) = 0;                            // slot 3
    virtual HRESULT CreateModuleInfoCollection(IPLModuleInfoCollection** collection) = 0;  // 4
};

KDTRACE_END_DECLS

#endif  // KDTRACE_MODULE_H
