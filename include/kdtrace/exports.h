// The functions the module exports, found by dlsym under these names, and their pointer types.
#ifndef KDTRACE_EXPORTS_H
#define KDTRACE_EXPORTS_H

#include <kdtrace/error.h>
#include <kdtrace/module.h>
#include <kdtrace/propertybag.h>
#include <kdtrace/stream.h>
#include <kdtrace/types.h>

#if defined(KDTRACE_BUILDING_MODULE)
#define KDTRACE_API extern "C" __attribute__((visibility("default")))
#else
#define KDTRACE_API extern "C"
#endif

// Hands out the module object for a module identifier; the all-zero GUID selects the first
// module. E_FAIL for an identifier the library does not implement.
KDTRACE_API HRESULT GetPLModule(REFGUID moduleId, IPLModule** module);
// Describes every module of the library into a new collection made by the host's factory.
KDTRACE_API HRESULT GetImplementedModules(IPLModuleInfoFactory* factory, IPLModuleInfoCollection** collection);
// Creates any registered class of the library.
KDTRACE_API HRESULT PLCreateInstance(REFCLSID clsid, REFIID iid, void** object);
// Hands over the calling thread's error list and detaches it from the thread.
KDTRACE_API HRESULT PLGetLastError(IPLErrorInfo** errorInfo);
// Empties the calling thread's error list.
KDTRACE_API HRESULT PLClearThreadErrors();
// The calling thread's error list (created empty on first use), with a new reference.
KDTRACE_API HRESULT GetThreadError(IPLErrorInfo** errorInfo);
// Whether error recording is suspended on the calling thread (S_FALSE on first query).
KDTRACE_API HRESULT GetThreadErrorSuspensionState(BOOL* suspended);
KDTRACE_API HRESULT SetThreadErrorSuspensionState(BOOL suspended);
// A byte stream over a copy of `size` bytes, open.
KDTRACE_API HRESULT PLCreateStreamOnBytes(const BYTE* bytes, LONG size, IPLStream** stream);
// A byte stream over `bytes` in place, open; `owner` keeps them alive and is held for the
// stream's life (without an owner the stream takes over bytes that came from malloc).
KDTRACE_API HRESULT PLCreateStreamOnOwnedBytes(const BYTE* bytes, LONG size, IUnknown* owner, IPLStream** stream);
// A new, empty general-purpose property bag.
KDTRACE_API HRESULT PLCreatePropertyBag(IPLPropertyBag** bag);

typedef HRESULT (*PFN_GetPLModule)(REFGUID moduleId, IPLModule** module);
typedef HRESULT (*PFN_GetImplementedModules)(IPLModuleInfoFactory* factory, IPLModuleInfoCollection** collection);
typedef HRESULT (*PFN_PLCreateInstance)(REFCLSID clsid, REFIID iid, void** object);
typedef HRESULT (*PFN_PLGetLastError)(IPLErrorInfo** errorInfo);
typedef HRESULT (*PFN_PLClearThreadErrors)();
typedef HRESULT (*PFN_GetThreadError)(IPLErrorInfo** errorInfo);
typedef HRESULT (*PFN_GetThreadErrorSuspensionState)(BOOL* suspended);
typedef HRESULT (*PFN_SetThreadErrorSuspensionState)(BOOL suspended);
typedef HRESULT (*PFN_PLCreateStreamOnBytes)(const BYTE* bytes, LONG size, IPLStream** stream);
typedef HRESULT (*PFN_PLCreateStreamOnOwnedBytes)(const BYTE* bytes, LONG size, IUnknown* owner, IPLStream** stream);
typedef HRESULT (*PFN_PLCreatePropertyBag)(IPLPropertyBag** bag);

// Exported by a library whose classes another library pulls in with HookClassFactories: adds
// the library's creators to the map it is given (null when the caller has none yet).
typedef HRESULT (*PFN_RegisterClassFactories)(IPLClassFactoryMap* map);

#endif  // KDTRACE_EXPORTS_H
