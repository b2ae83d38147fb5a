/// \file
/// The module interface, the factory loader, and the three interfaces a host supplies to
/// GetImplementedModules.
#ifndef KDTRACE_MODULE_H
#define KDTRACE_MODULE_H

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

// clang-format off
/// Identifier of IPLModule.
inline constexpr GUID IID_IPLModule = {0xF188F297, 0x9981, 0x41DE, {0x92, 0xE1, 0x10, 0xAD, 0x68, 0xEC, 0x20, 0x76}};
/// Identifier of IPLFactoryLoader.
inline constexpr GUID IID_IPLFactoryLoader = {0x56B22D53, 0xA608, 0x4FEA, {0xBB, 0xC9, 0x72, 0xEA, 0xDC, 0xAB, 0xB9, 0x70}};
/// Identifier of IPLModuleInfoFactory.
inline constexpr GUID IID_IPLModuleInfoFactory = {0x53C03486, 0x55EA, 0x4348, {0x84, 0x6F, 0x15, 0xB2, 0x74, 0xAB, 0xC1, 0xF1}};
/// Identifier of IPLModuleInfo.
inline constexpr GUID IID_IPLModuleInfo = {0x904035CE, 0xEB96, 0x4C8B, {0xB9, 0xF4, 0x9E, 0xFD, 0xA9, 0xEC, 0x1A, 0x8B}};
/// Identifier of IPLModuleInfoCollection.
inline constexpr GUID IID_IPLModuleInfoCollection = {0xB4C052FC, 0x4E0C, 0x40A5, {0x87, 0x7E, 0xDE, 0x56, 0x35, 0x70, 0xAB, 0xE5}};
/// The trace module's module identifier, asked of GetPLModule (the all-zero GUID finds it too).
inline constexpr GUID MODULEID_PLTraceServices = {0x14499BE2, 0x1A69, 0x4DCE, {0x9F, 0x74, 0x1F, 0x53, 0xB0, 0x69, 0xD5, 0x0E}};
/// Class of the trace module object (IPLModule, IPLTraceModule); GetPLModule makes it.
inline constexpr GUID CLSID_PLTraceModule = {0x07B6BE0B, 0x3FC3, 0x4D8C, {0xB9, 0xDB, 0x24, 0x4F, 0xBC, 0x9C, 0xCB, 0xA6}};
// clang-format on

/// Makes an object of one class: what a class registers in the class-factory map.
/// \param iid       the interface wanted
/// \param argument  a creation argument, passed through (the module's classes do not read it)
/// \param object    receives the interface, with one reference for the caller
/// \return S_OK; E_NOINTERFACE when the class does not answer `iid`; E_OUTOFMEMORY.
typedef HRESULT (*PLCreatorFunction)(REFIID iid, void* argument, void** object);

/// A module's identity and the process-wide switches. A host gets it from GetPLModule and calls
/// InitModule before reading anything: until then every getter returns
/// PL_E_MODULE_NOT_INITIALIZED. String getters copy the stored text cut to `size` - 1
/// characters, always terminated.
///
/// The trace module's values: module name "Pellum.TraceServices", object name "kdtrace",
/// friendly name "Pellum Trace Services Module", version and API version "4.0.0-001", core API
/// version "0.0.0-100", database version empty, module identifier MODULEID_PLTraceServices.
struct IPLModule : IUnknown {
    /// Slot 3: fills the module's properties; may run more than once.
    /// \return S_OK; PL_E_NO_MODULE_PROPERTY_MAP for a module class without properties.
    virtual HRESULT InitModule() = 0;
    /// Slot 4: the module identifier.
    /// \param moduleId  receives it
    /// \return S_OK; PL_E_MODULE_NOT_INITIALIZED before InitModule; E_POINTER for a null
    ///         `moduleId`.
    virtual HRESULT GetModuleID(GUID* moduleId) = 0;
    /// Slot 5: the API version ("4.0.0-001").
    /// \param buffer  receives the text (pass a buffer; it is not checked)
    /// \param size    the buffer's size in characters, at least 1
    /// \return S_OK (also when cut); PL_E_MODULE_NOT_INITIALIZED before InitModule.
    virtual HRESULT GetAPIVersion(WCHAR* buffer, LONG size) = 0;
    /// Slot 6: the database version (empty for the trace module).
    /// \param buffer  receives the text (pass a buffer; it is not checked)
    /// \param size    the buffer's size in characters, at least 1
    /// \return S_OK; PL_E_MODULE_NOT_INITIALIZED before InitModule.
    virtual HRESULT GetDBVersion(WCHAR* buffer, LONG size) = 0;
    /// Slot 7: the module's own object, if it has one (the trace module has none).
    /// \param object  receives it with a reference added, or null
    /// \return S_OK; PL_E_MODULE_NOT_INITIALIZED before InitModule; E_POINTER for a null
    ///         `object`.
    virtual HRESULT GetModuleObject(IUnknown** object) = 0;
    /// Slot 8: the version ("4.0.0-001").
    /// \param buffer  receives the text (pass a buffer; it is not checked)
    /// \param size    the buffer's size in characters, at least 1
    /// \return S_OK; PL_E_MODULE_NOT_INITIALIZED before InitModule.
    virtual HRESULT GetVersion(WCHAR* buffer, LONG size) = 0;
    /// Slot 9: InitModule under another name.
    /// \param unused  not read
    /// \return as InitModule.
    virtual HRESULT Initialize(void* unused) = 0;
    /// Slot 10: reserved.
    /// \param unused1  not read
    /// \param unused2  not read
    /// \return E_NOTIMPL; PL_E_MODULE_NOT_INITIALIZED before InitModule.
    virtual HRESULT ReservedA(void* unused1, void* unused2) = 0;
    /// Slot 11: the module name ("Pellum.TraceServices").
    /// \param buffer  receives the text
    /// \param size    the buffer's size in characters
    /// \return S_OK (also when cut); E_POINTER for a null `buffer`; E_INVALIDARG for a size
    ///         below 1; PL_E_MODULE_NOT_INITIALIZED before InitModule.
    virtual HRESULT GetModuleName(WCHAR* buffer, LONG size) = 0;
    /// Slot 12: the object name ("kdtrace"). Unlike the other getters it does not cut: the
    /// buffer must hold the whole name and its terminator.
    /// \param buffer  receives the text
    /// \param size    the buffer's size in characters
    /// \return S_OK; E_INVALIDARG (and the empty string) for a buffer too small, E_INVALIDARG
    ///         for a size below 1; E_POINTER for a null `buffer`; PL_E_MODULE_NOT_INITIALIZED
    ///         before InitModule.
    virtual HRESULT GetObjectName(WCHAR* buffer, LONG size) = 0;
    /// Slot 13: the friendly name ("Pellum Trace Services Module").
    /// \param buffer  receives the text
    /// \param size    the buffer's size in characters
    /// \return as GetModuleName.
    virtual HRESULT GetFriendlyName(WCHAR* buffer, LONG size) = 0;
    /// Slot 14: the core API version ("0.0.0-100").
    /// \param buffer  receives the text
    /// \param size    the buffer's size in characters
    /// \return as GetModuleName.
    virtual HRESULT GetCoreAPIVersion(WCHAR* buffer, LONG size) = 0;
    /// Slot 15: reserved.
    /// \param unused1  not read
    /// \param unused2  not read
    /// \param unused3  not read
    /// \param unused4  not read
    /// \param out      must not be null
    /// \return E_NOTIMPL; E_POINTER for a null `out`; PL_E_MODULE_NOT_INITIALIZED before
    ///         InitModule.
    virtual HRESULT ReservedB(void* unused1, void* unused2, void* unused3, void* unused4, void** out) = 0;
    /// Slot 16: reserved.
    /// \param unused1  not read
    /// \param unused2  not read
    /// \return E_NOTIMPL.
    virtual HRESULT ReservedC(void* unused1, void* unused2) = 0;
    /// Slot 17: the process-wide memory-tracking switch: while on, new variants, properties and
    /// property bags note where and when they were made.
    /// \param enable  1 turns it on; any other value turns it off
    /// \return S_OK.
    virtual HRESULT SetMemoryTracking(LONG enable) = 0;
    /// Slot 18: the process-wide two-digit-year pivot of date-times (initially 10): a year
    /// below 100 becomes 2000 + year when below the pivot, 1900 + year otherwise.
    /// \param pivot  the new pivot (not checked)
    /// \return S_OK.
    virtual HRESULT SetTwoDigitYearPivot(LONG pivot) = 0;
};

/// Creation of objects by class identifier through the process-wide class-factory map. (The
/// trace module object does not answer it; PLCreateInstance serves hosts.)
struct IPLFactoryLoader : IUnknown {
    /// Slot 3: registers a creator for a class; an identifier already present keeps its creator.
    /// \param clsid    the class
    /// \param creator  its creator function
    /// \return S_OK.
    virtual HRESULT RegisterClassFactory(CLSID clsid, PLCreatorFunction creator) = 0;
    /// Slot 4: removes a class's creator.
    /// \param clsid  the class
    /// \return S_OK; E_FAIL when the class is not registered.
    virtual HRESULT UnregisterClassFactory(CLSID clsid) = 0;
    /// Slot 5: the creator of a class.
    /// \param clsid    the class
    /// \param creator  receives it
    /// \return S_OK; E_FAIL when the class is not registered ("Class factory not found");
    ///         E_POINTER for a null `creator`.
    virtual HRESULT GetClassFactory(CLSID clsid, PLCreatorFunction* creator) = 0;
    /// Slot 6: a new object of a class.
    /// \param clsid   the class
    /// \param iid     the interface wanted
    /// \param object  receives it, with one reference for the caller
    /// \return S_OK; E_FAIL for a class not registered; E_NOINTERFACE when the class does not
    ///         answer `iid`; E_POINTER for a null `object`.
    virtual HRESULT CreateInstance(REFCLSID clsid, REFIID iid, void** object) = 0;
    /// Slot 7: as CreateInstance, passing a creation argument to the creator.
    /// \param clsid     the class
    /// \param iid       the interface wanted
    /// \param argument  passed to the creator (the module's classes do not read it)
    /// \param object    receives it, with one reference for the caller
    /// \return as CreateInstance.
    virtual HRESULT CreateInstanceEx(REFCLSID clsid, REFIID iid, void* argument, void** object) = 0;
};

/// The class-factory map as handed to another library's RegisterClassFactories (see
/// PFN_RegisterClassFactories). It is not reference-counted: it lives as long as the module.
struct IPLClassFactoryMap {
    /// Adds a creator; an identifier already present keeps its creator.
    /// \param clsid    the class
    /// \param creator  its creator function
    /// \return S_OK.
    virtual HRESULT RegisterClassFactory(REFCLSID clsid, PLCreatorFunction creator) = 0;
    /// The creator registered for a class.
    /// \param clsid  the class
    /// \return the creator, or null.
    virtual PLCreatorFunction FindClassFactory(REFCLSID clsid) = 0;
};

// ---- Supplied by the host to GetImplementedModules ----

/// One module's description, implemented by the host (see GetImplementedModules).
struct IPLModuleInfo : IUnknown {
    /// Slot 3: takes the module's seven texts.
    /// \param moduleName      "Pellum.TraceServices"
    /// \param objectName      "kdtrace"
    /// \param friendlyName    "Pellum Trace Services Module"
    /// \param moduleId        the module identifier as text (kdtrace::host::GuidText's form)
    /// \param apiVersion      "4.0.0-001"
    /// \param dbVersion       empty
    /// \param coreApiVersion  "0.0.0-100"
    /// \return ignored by the module.
    virtual HRESULT SetModuleInfo(const WCHAR* moduleName, const WCHAR* objectName, const WCHAR* friendlyName,
                                  const WCHAR* moduleId, const WCHAR* apiVersion, const WCHAR* dbVersion,
                                  const WCHAR* coreApiVersion) = 0;
};

/// The host's list of module descriptions. The module calls only AddModuleInfo; slots 3 to 6
/// are the host's own and are given here so that hosts share one layout.
struct IPLModuleInfoCollection : IUnknown {
    /// Slot 3: for the host: the number of descriptions.
    /// \param count  receives it
    /// \return the host's choice (S_OK).
    virtual HRESULT GetCount(LONG* count) = 0;
    /// Slot 4: for the host: a description by index.
    /// \param index  from 0
    /// \param item   receives it with a reference added
    /// \return the host's choice.
    virtual HRESULT GetAt(LONG index, IPLModuleInfo** item) = 0;
    /// Slot 5: for the host: empties the list.
    /// \return the host's choice.
    virtual HRESULT RemoveAll() = 0;
    /// Slot 6: reserved for the host.
    /// \param unused  the host's choice
    /// \return the host's choice.
    virtual HRESULT Reserved(void* unused) = 0;
    /// Slot 7: called by the module with each description; the list keeps its own reference.
    /// \param item  the description
    /// \return ignored by the module.
    virtual HRESULT AddModuleInfo(IPLModuleInfo* item) = 0;
};

/// Makes new, empty descriptions and lists, each with one reference for the caller;
/// implemented by the host and handed to GetImplementedModules.
struct IPLModuleInfoFactory : IUnknown {
    /// Slot 3: a new, empty description.
    /// \param item  receives it
    /// \return S_OK, or a failure that makes the module skip the module it describes.
    virtual HRESULT CreateModuleInfo(IPLModuleInfo** item) = 0;
    /// Slot 4: a new, empty list.
    /// \param collection  receives it
    /// \return S_OK, or a failure that GetImplementedModules returns.
    virtual HRESULT CreateModuleInfoCollection(IPLModuleInfoCollection** collection) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_MODULE_H
