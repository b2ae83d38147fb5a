// The functions the module exports, found by dlsym under these names, and their pointer types.
#ifndef KDTRACE_EXPORTS_H
#define KDTRACE_EXPORTS_H

#include <kdtrace/bstr.h>
#include <kdtrace/datetime.h>
#include <kdtrace/error.h>
#include <kdtrace/module.h>
#include <kdtrace/pagedata.h>
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
// Global memory blocks, as IPLPersistMemory::Save hands them out (the caller frees them with
// PLGlobalFree) and IPLPageData::GetHGLOBAL shows the one a page holds (the page frees that one).
// A block is not synchronised: one owner uses it at a time. A null block gives E_INVALIDARG.
// *bytes = the block's bytes (null for an empty block), counting one lock; E_POINTER without
// `bytes`.
KDTRACE_API HRESULT PLGlobalLock(HGLOBAL block, BYTE** bytes);
// Drops one lock: S_OK, or S_FALSE when the block was not locked.
KDTRACE_API HRESULT PLGlobalUnlock(HGLOBAL block);
// *size = the block's size in bytes; E_POINTER without `size`.
KDTRACE_API HRESULT PLGlobalSize(HGLOBAL block, ULONGLONG* size);
// Frees the block and its bytes, locked or not; S_FALSE for a null block.
KDTRACE_API HRESULT PLGlobalFree(HGLOBAL block);
// Signs a style string ("name:value;name:value"): *signedText (a new BSTR the caller frees) is
// "securityKey:<signature>;timeStamp:<signingTime>;" followed by the properties.
KDTRACE_API HRESULT PLSignPropertyString(const WCHAR* properties, IPLDateTime* signingTime, BSTR* signedText);
// S_OK when the signature matches and the time stamp lies within two minutes of `now`; E_FAIL
// with the reason in the thread's error list otherwise.
KDTRACE_API HRESULT PLVerifySignedPropertyString(const WCHAR* signedText, IPLDateTime* now);
// `count` bytes as upper-case hex into `buffer` of `size` characters (more than 2 * count).
KDTRACE_API HRESULT PLConvertDataToHex(const BYTE* bytes, LONG count, WCHAR* buffer, LONG size);
// Hex text (an even number of hex digits) into `bytes`, which holds *count bytes; *count becomes
// the number written.
KDTRACE_API HRESULT PLConvertHexToData(const WCHAR* hex, BYTE* bytes, LONG* count);
// A new, empty general-purpose property bag.
KDTRACE_API HRESULT PLCreatePropertyBag(IPLPropertyBag** bag);
// A new string variant holding the bag's properties as XML: an element named `rootName` with one
// PROPERTY element per property.
KDTRACE_API HRESULT CreateXMLFromPropertyBag(IPLPropertyBag* bag, IPLVariant** result, const WCHAR* rootName);
// A new general-purpose bag holding the properties that the first element of `text` describes.
KDTRACE_API HRESULT RestorePropertyBagFromXML(const WCHAR* text, IPLPropertyBag** result);

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
typedef HRESULT (*PFN_PLGlobalLock)(HGLOBAL block, BYTE** bytes);
typedef HRESULT (*PFN_PLGlobalUnlock)(HGLOBAL block);
typedef HRESULT (*PFN_PLGlobalSize)(HGLOBAL block, ULONGLONG* size);
typedef HRESULT (*PFN_PLGlobalFree)(HGLOBAL block);
typedef HRESULT (*PFN_PLSignPropertyString)(const WCHAR* properties, IPLDateTime* signingTime, BSTR* signedText);
typedef HRESULT (*PFN_PLVerifySignedPropertyString)(const WCHAR* signedText, IPLDateTime* now);
typedef HRESULT (*PFN_PLConvertDataToHex)(const BYTE* bytes, LONG count, WCHAR* buffer, LONG size);
typedef HRESULT (*PFN_PLConvertHexToData)(const WCHAR* hex, BYTE* bytes, LONG* count);
typedef HRESULT (*PFN_PLCreatePropertyBag)(IPLPropertyBag** bag);
typedef HRESULT (*PFN_CreateXMLFromPropertyBag)(IPLPropertyBag* bag, IPLVariant** result, const WCHAR* rootName);
typedef HRESULT (*PFN_RestorePropertyBagFromXML)(const WCHAR* text, IPLPropertyBag** result);

// Exported by a library whose classes another library pulls in with HookClassFactories: adds
// the library's creators to the map it is given (null when the caller has none yet).
typedef HRESULT (*PFN_RegisterClassFactories)(IPLClassFactoryMap* map);

#endif  // KDTRACE_EXPORTS_H
