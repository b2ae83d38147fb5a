/// \file
/// The functions the module exports, and their pointer types for hosts that find them with
/// `dlsym` (kdtrace::host::Module resolves them all). A host that links the module
/// (`-lkdtrace`, CMake `kdtrace::kdtrace`) calls them directly.
///
/// Every function records its failures in the calling thread's error list (PLGetLastError)
/// and returns an HRESULT.
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

KDTRACE_BEGIN_DECLS

/// \cond KDTRACE_INTERNAL
#if defined(KDTRACE_BUILDING_MODULE)
#define KDTRACE_API extern "C" __attribute__((visibility("default")))
#else
#define KDTRACE_API extern "C"
#endif
/// \endcond

/// Hands out a module object (a new one on every call). Call IPLModule::InitModule before
/// reading its properties, then ask it for IPLTraceModule.
/// \param moduleId  MODULEID_PLTraceServices, or the all-zero GUID for the first module
/// \param module    receives the module object, with one reference for the caller; untouched
///                  for an unknown identifier
/// \return S_OK; E_FAIL for an identifier the library does not implement; the creation's code.
KDTRACE_API HRESULT GetPLModule(REFGUID moduleId, IPLModule** module);
/// Describes every module of the library (one: the trace module) into a new list made by the
/// host's factory: one IPLModuleInfo per module, filled with its seven texts.
/// \param factory     the host's factory of descriptions and lists
/// \param collection  receives the new list, with the factory's reference
/// \return S_OK; the factory's failure when it cannot make the list (nothing is written); the
///         failure of the last module's description steps.
KDTRACE_API HRESULT GetImplementedModules(IPLModuleInfoFactory* factory, IPLModuleInfoCollection** collection);
/// Creates an object of any registered class (the CLSID_ constants of the headers).
/// \param clsid   the class
/// \param iid     the interface wanted
/// \param object  receives the interface with one reference for the caller; null on failure
/// \return S_OK; E_FAIL for a class nobody registered ("Could not find class factory.");
///         E_NOINTERFACE when the class does not answer `iid`; E_POINTER for a null `object`.
KDTRACE_API HRESULT PLCreateInstance(REFCLSID clsid, REFIID iid, void** object);
/// Hands over the calling thread's error list and detaches it from the thread: the next error
/// starts a new list. Read it with IPLErrorInfo (or kdtrace::host::ErrorText).
/// \param errorInfo  receives the list (possibly empty), with a reference for the caller
/// \return S_OK; E_POINTER for a null `errorInfo`.
KDTRACE_API HRESULT PLGetLastError(IPLErrorInfo** errorInfo);
/// Empties the calling thread's error list kept by an external error module ("kderror"); with
/// none present it leaves the module's own list alone.
/// \return S_OK.
KDTRACE_API HRESULT PLClearThreadErrors();
/// The calling thread's error list, created empty on first use; it stays the thread's.
/// \param errorInfo  receives the list, with a new reference
/// \return S_OK; E_POINTER for a null `errorInfo`.
KDTRACE_API HRESULT GetThreadError(IPLErrorInfo** errorInfo);
/// Whether error recording is suspended on the calling thread (while it is, failing calls still
/// return their codes but record nothing).
/// \param suspended  receives the state (FALSE for a thread never seen)
/// \return S_OK; S_FALSE on a thread's first query; E_POINTER for a null `suspended`.
KDTRACE_API HRESULT GetThreadErrorSuspensionState(BOOL* suspended);
/// Suspends or resumes error recording on the calling thread.
/// \param suspended  nonzero to suspend
/// \return S_OK.
KDTRACE_API HRESULT SetThreadErrorSuspensionState(BOOL suspended);
/// A byte stream over a copy of `size` bytes, open and at position 0.
/// \param bytes   the bytes (copied)
/// \param size    their number, 0 or more
/// \param stream  receives the stream, with one reference
/// \return S_OK; E_INVALIDARG for a negative size; E_POINTER for a null pointer;
///         E_FAIL when memory cannot be had ("Memory allocation failed").
KDTRACE_API HRESULT PLCreateStreamOnBytes(const BYTE* bytes, LONG size, IPLStream** stream);
/// A byte stream over `bytes` in place (no copy), open and at position 0.
/// \param bytes   the bytes, which must stay unchanged while the stream reads them
/// \param size    their number, 0 or more
/// \param owner   an object that keeps the bytes alive; the stream holds a reference to it for
///                its life. Null: the stream takes the bytes over, and frees them with free(),
///                so they must come from malloc.
/// \param stream  receives the stream, with one reference
/// \return S_OK; E_INVALIDARG for a negative size; E_POINTER for a null pointer.
KDTRACE_API HRESULT PLCreateStreamOnOwnedBytes(const BYTE* bytes, LONG size, IUnknown* owner, IPLStream** stream);
/// Locks a global memory block, as IPLPersistMemory::Save hands them out (the caller frees
/// those with PLGlobalFree) and IPLPageData::GetHGLOBAL shows the one a page holds (the page frees
/// that one). A block is not synchronised: one owner uses it at a time.
/// \param block  the block
/// \param bytes  receives the block's bytes (null for an empty block); counts one lock
/// \return S_OK; E_INVALIDARG for a null block; E_POINTER for a null `bytes`.
KDTRACE_API HRESULT PLGlobalLock(HGLOBAL block, BYTE** bytes);
/// Drops one lock of a global memory block.
/// \param block  the block
/// \return S_OK; S_FALSE when the block was not locked; E_INVALIDARG for a null block.
KDTRACE_API HRESULT PLGlobalUnlock(HGLOBAL block);
/// The size of a global memory block.
/// \param block  the block
/// \param size   receives its size in bytes
/// \return S_OK; E_INVALIDARG for a null block; E_POINTER for a null `size`.
KDTRACE_API HRESULT PLGlobalSize(HGLOBAL block, ULONGLONG* size);
/// Frees a global memory block and its bytes, locked or not.
/// \param block  the block
/// \return S_OK; S_FALSE for a null block.
KDTRACE_API HRESULT PLGlobalFree(HGLOBAL block);
/// Signs a style string ("name:value;name:value") so that PLVerifySignedPropertyString can
/// check that it was not changed and is recent.
/// \param properties   the style string
/// \param signingTime  the time of signing, written into the result
/// \param signedText   receives "securityKey:<signature>;timeStamp:<time>;" followed by
///                     `properties`, a new BSTR that the caller frees with SysFreeString
/// \return S_OK; E_POINTER for a null argument.
KDTRACE_API HRESULT PLSignPropertyString(const WCHAR* properties, IPLDateTime* signingTime, BSTR* signedText);
/// Checks a signed property string.
/// \param signedText  as PLSignPropertyString made it
/// \param now         the time to check against
/// \return S_OK when the signature matches and the time stamp lies within two minutes of
///         `now`; E_FAIL otherwise, with the reason in the thread's error list; E_POINTER for a
///         null argument.
KDTRACE_API HRESULT PLVerifySignedPropertyString(const WCHAR* signedText, IPLDateTime* now);
/// Writes bytes as upper-case hexadecimal text ("0AFF").
/// \param bytes   the bytes
/// \param count   their number, at least 1
/// \param buffer  receives 2 * `count` characters and a terminator
/// \param size    the buffer's size in characters; more than 2 * `count`
/// \return S_OK; E_INVALIDARG for a count or size below 1; E_FAIL for a buffer too small;
///         E_POINTER for a null pointer.
KDTRACE_API HRESULT PLConvertDataToHex(const BYTE* bytes, LONG count, WCHAR* buffer, LONG size);
/// Reads hexadecimal text (either case) into bytes.
/// \param hex    an even number of hexadecimal digits
/// \param bytes  receives the bytes
/// \param count  in: how many bytes `bytes` holds; out: how many were written
/// \return S_OK; E_INVALIDARG for an odd length, a character that is not a hexadecimal digit,
///         or too little room; E_POINTER for a null pointer.
KDTRACE_API HRESULT PLConvertHexToData(const WCHAR* hex, BYTE* bytes, LONG* count);
/// A new, empty general-purpose property bag (as CLSID_PLPropertyBag).
/// \param bag  receives it, with one reference
/// \return S_OK; E_POINTER for a null `bag`.
KDTRACE_API HRESULT PLCreatePropertyBag(IPLPropertyBag** bag);
/// Writes a bag in the property form of XML: an element named `rootName` holding one
/// `<PROPERTY DATATYPE="..." NAME="...">value</PROPERTY>` per entry, in name order (dates also
/// carry FORMAT, their mask). Collections are written with ITEM elements; values of other kinds
/// (objects, empty values) are left out.
/// \param bag       the bag
/// \param result    receives a new String variant holding the XML text
/// \param rootName  the root element's name
/// \return S_OK; E_INVALIDARG when `rootName` is not an XML name; E_POINTER for a null
///         argument.
KDTRACE_API HRESULT CreateXMLFromPropertyBag(IPLPropertyBag* bag, IPLVariant** result, const WCHAR* rootName);
/// Reads a new general-purpose bag from the property form: the properties of the document's
/// first element. Whole numbers come back as LongLong, whatever their width when written; the
/// short attribute names N, D and F and the type names L, S, B and DT are read as well.
/// \param text    the XML text
/// \param result  receives the bag (empty when the document has no element), with one
///                reference; null on failure
/// \return S_OK; E_FAIL for text that is not well-formed ("Parsing error (...)" with the line
///         and position) or a property that cannot be read; E_POINTER for a null argument.
KDTRACE_API HRESULT RestorePropertyBagFromXML(const WCHAR* text, IPLPropertyBag** result);

/// Pointer type of GetPLModule, as `dlsym` finds it.
typedef HRESULT (*PFN_GetPLModule)(REFGUID moduleId, IPLModule** module);
/// Pointer type of GetImplementedModules, as `dlsym` finds it.
typedef HRESULT (*PFN_GetImplementedModules)(IPLModuleInfoFactory* factory, IPLModuleInfoCollection** collection);
/// Pointer type of PLCreateInstance, as `dlsym` finds it.
typedef HRESULT (*PFN_PLCreateInstance)(REFCLSID clsid, REFIID iid, void** object);
/// Pointer type of PLGetLastError, as `dlsym` finds it.
typedef HRESULT (*PFN_PLGetLastError)(IPLErrorInfo** errorInfo);
/// Pointer type of PLClearThreadErrors, as `dlsym` finds it.
typedef HRESULT (*PFN_PLClearThreadErrors)();
/// Pointer type of GetThreadError, as `dlsym` finds it.
typedef HRESULT (*PFN_GetThreadError)(IPLErrorInfo** errorInfo);
/// Pointer type of GetThreadErrorSuspensionState, as `dlsym` finds it.
typedef HRESULT (*PFN_GetThreadErrorSuspensionState)(BOOL* suspended);
/// Pointer type of SetThreadErrorSuspensionState, as `dlsym` finds it.
typedef HRESULT (*PFN_SetThreadErrorSuspensionState)(BOOL suspended);
/// Pointer type of PLCreateStreamOnBytes, as `dlsym` finds it.
typedef HRESULT (*PFN_PLCreateStreamOnBytes)(const BYTE* bytes, LONG size, IPLStream** stream);
/// Pointer type of PLCreateStreamOnOwnedBytes, as `dlsym` finds it.
typedef HRESULT (*PFN_PLCreateStreamOnOwnedBytes)(const BYTE* bytes, LONG size, IUnknown* owner, IPLStream** stream);
/// Pointer type of PLGlobalLock, as `dlsym` finds it.
typedef HRESULT (*PFN_PLGlobalLock)(HGLOBAL block, BYTE** bytes);
/// Pointer type of PLGlobalUnlock, as `dlsym` finds it.
typedef HRESULT (*PFN_PLGlobalUnlock)(HGLOBAL block);
/// Pointer type of PLGlobalSize, as `dlsym` finds it.
typedef HRESULT (*PFN_PLGlobalSize)(HGLOBAL block, ULONGLONG* size);
/// Pointer type of PLGlobalFree, as `dlsym` finds it.
typedef HRESULT (*PFN_PLGlobalFree)(HGLOBAL block);
/// Pointer type of PLSignPropertyString, as `dlsym` finds it.
typedef HRESULT (*PFN_PLSignPropertyString)(const WCHAR* properties, IPLDateTime* signingTime, BSTR* signedText);
/// Pointer type of PLVerifySignedPropertyString, as `dlsym` finds it.
typedef HRESULT (*PFN_PLVerifySignedPropertyString)(const WCHAR* signedText, IPLDateTime* now);
/// Pointer type of PLConvertDataToHex, as `dlsym` finds it.
typedef HRESULT (*PFN_PLConvertDataToHex)(const BYTE* bytes, LONG count, WCHAR* buffer, LONG size);
/// Pointer type of PLConvertHexToData, as `dlsym` finds it.
typedef HRESULT (*PFN_PLConvertHexToData)(const WCHAR* hex, BYTE* bytes, LONG* count);
/// Pointer type of PLCreatePropertyBag, as `dlsym` finds it.
typedef HRESULT (*PFN_PLCreatePropertyBag)(IPLPropertyBag** bag);
/// Pointer type of CreateXMLFromPropertyBag, as `dlsym` finds it.
typedef HRESULT (*PFN_CreateXMLFromPropertyBag)(IPLPropertyBag* bag, IPLVariant** result, const WCHAR* rootName);
/// Pointer type of RestorePropertyBagFromXML, as `dlsym` finds it.
typedef HRESULT (*PFN_RestorePropertyBagFromXML)(const WCHAR* text, IPLPropertyBag** result);

/// The export "RegisterClassFactories" of a library whose classes another library pulls in
/// (HookClassFactories): adds the library's creators to the map it is given.
/// \param map  the class-factory map, or null when the caller has none yet
/// \return the caller passes the result on.
typedef HRESULT (*PFN_RegisterClassFactories)(IPLClassFactoryMap* map);

KDTRACE_END_DECLS

#endif  // KDTRACE_EXPORTS_H
