/// \file
/// Error lists, error items, their automation view, and the interface of an external error
/// module ("kderror") that may keep every thread's error list for the process.
///
/// Every method of the module that fails records an error in the calling thread's error list
/// before it returns its HRESULT: the module group, class and method, the code, a message and
/// the source position. An error that starts a new chain (the failing step itself) clears the
/// list first; one that passes on a callee's failure is appended to it, so the list reads from
/// the newest (the call the host made) back to the cause. PLGetLastError hands the list over;
/// kdtrace::host::ErrorText turns it into text. Every error is also sent to the diagnostics
/// channel, where `kddiag` shows it.
#ifndef KDTRACE_ERROR_H
#define KDTRACE_ERROR_H

#include <stdint.h>

#include <kdtrace/bstr.h>
#include <kdtrace/object.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

struct IPLVariant;
struct IPLErrorItem;
struct IKDXErrorItemCore;

// clang-format off
/// Identifier of IPLErrorInfo.
inline constexpr GUID IID_IPLErrorInfo = {0x21D302CA, 0xCC21, 0x4CAE, {0xB1, 0x8E, 0xC7, 0x6A, 0x7E, 0x5D, 0xF1, 0x82}};
/// Identifier of IPLErrorItem.
inline constexpr GUID IID_IPLErrorItem = {0x6B94DE62, 0xED89, 0x4813, {0x96, 0x4F, 0xE0, 0x88, 0x44, 0xEF, 0x59, 0x29}};
/// Identifier of IKDXErrorItemCore.
inline constexpr GUID IID_IKDXErrorItemCore = {0x5E92534C, 0x8B4D, 0x4107, {0x93, 0xB9, 0x4C, 0x87, 0x60, 0xBC, 0x49, 0xFA}};
/// Identifier of IPLErrorModule.
inline constexpr GUID IID_IPLErrorModule = {0x36268959, 0xDA78, 0x48ED, {0x89, 0xBA, 0x9C, 0x7E, 0x79, 0x17, 0xD6, 0x33}};
/// Class of an error list (IPLErrorInfo, IPLCloneable).
inline constexpr GUID CLSID_PLErrorInfo = {0x1035F1DB, 0x3D13, 0x4A25, {0xB3, 0x80, 0x57, 0x0C, 0x89, 0x44, 0xF1, 0x10}};
/// Class of an error item (IPLErrorItem, and a constrained IPLPropertyBag of its fields).
inline constexpr GUID CLSID_PLErrorItem = {0xB4379D18, 0x5B87, 0x40C0, {0xA9, 0xFB, 0xB7, 0xAF, 0xD2, 0xAD, 0x15, 0x8F}};
/// Class of the automation view of an error item (IKDXErrorItemCore), registered under the
/// all-zero class identifier.
inline constexpr GUID CLSID_KDXErrorItemCore = GUID_NULL;
/// The module identifier an external error module answers in its GetPLModule.
inline constexpr GUID MODULEID_PLErrorServices = {0x471C7C3F, 0x4BBC, 0x4624, {0xB9, 0x82, 0xBC, 0x01, 0xE2, 0xD1, 0x75, 0x01}};
// clang-format on

/// Called with each item added to an error list that registered it (RegisterErrorEvent), on the
/// thread that records the error.
/// \param context  the value given to RegisterErrorEvent; pointer-sized, so it can carry an object
/// \param item     the new item (no reference is added for the callback)
typedef void (*PLErrorEventCallback)(uintptr_t context, IPLErrorItem* item);

/// A thread's error list, newest item last in order of recording and first by index. Not
/// synchronised: it belongs to one thread.
struct IPLErrorInfo : IUnknown {
    /// Slot 3: records an error (as the module's methods do).
    /// \param module       the module group ("Trace Services", "Core", ...)
    /// \param className    the class, or empty for a free function
    /// \param method       the method or function
    /// \param result       the HRESULT
    /// \param messageType  0 for errors
    /// \param message      the message
    /// \param errorFlag    nonzero: the error starts a new chain, and the list is cleared first
    /// \param sourceFile   the source file
    /// \param sourceLine   the line in it
    /// \return S_OK; E_POINTER for a null module, class, method or message.
    virtual HRESULT AddError(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                             LONG messageType, const WCHAR* message, ULONG errorFlag, const WCHAR* sourceFile,
                             ULONG sourceLine) = 0;
    /// Slot 4: the number of items.
    /// \param count  receives it
    /// \return S_OK; E_POINTER for a null `count`.
    virtual HRESULT GetCount(LONG* count) = 0;
    /// Slot 5: an item: index 0 is the newest (the call that failed last), count - 1 the oldest
    /// (the cause).
    /// \param index  0 to count - 1
    /// \param item   receives it with a reference added
    /// \return S_OK; E_INVALIDARG for an index out of range; E_POINTER for a null `item`.
    virtual HRESULT GetItem(LONG index, IPLErrorItem** item) = 0;
    /// Slot 6: releases and removes every item.
    /// \return S_OK.
    virtual HRESULT Clear() = 0;
    /// Slot 7: registers the callback told of every item added from now on (one at a time: a
    /// second registration replaces the first; a null callback ends it).
    /// \param context   passed to the callback
    /// \param callback  the callback, or null
    /// \return S_OK.
    virtual HRESULT RegisterErrorEvent(uintptr_t context, PLErrorEventCallback callback) = 0;
    /// Slot 8: the list as XML: `<ErrorInfo>` holding one `<ErrorItem>` per item, oldest first,
    /// with the item's Module, Class, Method, Message, Result, Type and ID as PROPERTY-style
    /// attributes.
    /// \param xml  receives a new String variant holding the text
    /// \return S_OK; E_POINTER for a null `xml`; E_FAIL when the document cannot be built.
    virtual HRESULT SaveToXML(IPLVariant** xml) = 0;
    /// Slot 9: replaces the items with those of an XML text as SaveToXML writes it (element
    /// names in any letter case). Thread identifier, source file and line are not restored.
    /// \param xml  the text
    /// \return S_OK; E_FAIL for text that is not well-formed or an item that cannot be read;
    ///         E_POINTER for a null `xml`.
    virtual HRESULT LoadFromXML(const WCHAR* xml) = 0;
};

/// One recorded error. The string getters copy the text cut to `size` - 1 characters, always
/// terminated, and return S_FALSE when the text did not fit; E_POINTER for a null buffer and
/// E_INVALIDARG for a size below 1.
struct IPLErrorItem : IUnknown {
    /// Slot 3: sets every field (as AddError does).
    /// \param module       the module group
    /// \param className    the class
    /// \param method       the method
    /// \param result       the HRESULT
    /// \param messageType  0 for errors
    /// \param message      the message
    /// \param threadId     the recording thread
    /// \param sourceFile   the source file, or null
    /// \param sourceLine   the line
    /// \return S_OK; E_POINTER for a null module, class, method or message.
    virtual HRESULT Initialize(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                               LONG messageType, const WCHAR* message, DWORD threadId, const WCHAR* sourceFile,
                               ULONG sourceLine) = 0;
    /// Slot 4: the module group ("Trace Services", "Core", "Core Services", ...).
    /// \param buffer  receives the text
    /// \param size    the buffer's size in characters
    /// \return S_OK; S_FALSE when cut; E_POINTER; E_INVALIDARG.
    virtual HRESULT GetModuleName(WCHAR* buffer, LONG size) = 0;
    /// Slot 5: the class ("CPLVariant"), empty for a free function.
    /// \param buffer  receives the text
    /// \param size    the buffer's size in characters
    /// \return S_OK; S_FALSE when cut; E_POINTER; E_INVALIDARG.
    virtual HRESULT GetClassName(WCHAR* buffer, LONG size) = 0;
    /// Slot 6: the method, which may name its class again ("CPLVariant::Convert";
    /// kdtrace::host::QualifiedName joins the two without repeating it).
    /// \param buffer  receives the text
    /// \param size    the buffer's size in characters
    /// \return S_OK; S_FALSE when cut; E_POINTER; E_INVALIDARG.
    virtual HRESULT GetMethodName(WCHAR* buffer, LONG size) = 0;
    /// Slot 7: the error's HRESULT.
    /// \param result  receives it
    /// \return S_OK; E_POINTER for a null `result`.
    virtual HRESULT GetHRESULT(HRESULT* result) = 0;
    /// Slot 8: the message type (0 for errors).
    /// \param messageType  receives it
    /// \return S_OK; E_POINTER for a null `messageType`.
    virtual HRESULT GetMessageType(LONG* messageType) = 0;
    /// Slot 9: the message.
    /// \param buffer  receives the text
    /// \param size    the buffer's size in characters
    /// \return S_OK; S_FALSE when cut; E_POINTER; E_INVALIDARG.
    virtual HRESULT GetMessage(WCHAR* buffer, LONG size) = 0;
    /// Slot 10: the thread that recorded the error (its gettid).
    /// \param threadId  receives it
    /// \return S_OK; E_POINTER for a null `threadId`.
    virtual HRESULT GetThreadID(DWORD* threadId) = 0;
    /// Slot 11: the source file, relative to the module's source tree
    /// ("module_base/PLVariant.cpp").
    /// \param buffer  receives the text
    /// \param size    the buffer's size in characters
    /// \return S_OK; S_FALSE when cut; E_POINTER; E_INVALIDARG.
    virtual HRESULT GetSourceFile(WCHAR* buffer, LONG size) = 0;
    /// Slot 12: the line in the source file (0 when not known).
    /// \param sourceLine  receives it
    /// \return S_OK; E_POINTER for a null `sourceLine`.
    virtual HRESULT GetSourceLine(ULONG* sourceLine) = 0;
    /// Slot 13: a new automation view of the item, with its fields copied.
    /// \param view  receives it, with one reference
    /// \return S_OK; E_POINTER for a null `view`.
    virtual HRESULT GetKDXErrorItemCore(IKDXErrorItemCore** view) = 0;
};

/// Read-only automation view of an error item (IPLErrorItem::GetKDXErrorItemCore). The string
/// getters return a new BSTR that the caller frees with SysFreeString; every getter returns
/// E_POINTER for a null argument.
struct IKDXErrorItemCore : IPLComObject {
    /// Slot 10: sets every field.
    /// \param threadId    the recording thread
    /// \param number      the HRESULT
    /// \param message     the message
    /// \param module      the module group
    /// \param className   the class
    /// \param member      the method
    /// \param sourceFile  the source file
    /// \param sourceLine  the line
    /// \return S_OK.
    virtual HRESULT Initialize(DWORD threadId, HRESULT number, const WCHAR* message, const WCHAR* module,
                               const WCHAR* className, const WCHAR* member, const WCHAR* sourceFile,
                               ULONG sourceLine) = 0;
    /// Slot 11: the recording thread.
    /// \param threadId  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT get_ThreadID(DWORD* threadId) = 0;
    /// Slot 12: the message.
    /// \param message  receives a new BSTR
    /// \return S_OK; E_POINTER; E_OUTOFMEMORY.
    virtual HRESULT get_Message(BSTR* message) = 0;
    /// Slot 13: the HRESULT.
    /// \param number  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT get_Number(HRESULT* number) = 0;
    /// Slot 14: the source file.
    /// \param sourceFile  receives a new BSTR
    /// \return S_OK; E_POINTER; E_OUTOFMEMORY.
    virtual HRESULT get_SourceFile(BSTR* sourceFile) = 0;
    /// Slot 15: the line.
    /// \param sourceLine  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT get_SourceLine(ULONG* sourceLine) = 0;
    /// Slot 16: the module group.
    /// \param module  receives a new BSTR
    /// \return S_OK; E_POINTER; E_OUTOFMEMORY.
    virtual HRESULT get_Module(BSTR* module) = 0;
    /// Slot 17: the class.
    /// \param className  receives a new BSTR
    /// \return S_OK; E_POINTER; E_OUTOFMEMORY.
    virtual HRESULT get_Class(BSTR* className) = 0;
    /// Slot 18: the method.
    /// \param member  receives a new BSTR
    /// \return S_OK; E_POINTER; E_OUTOFMEMORY.
    virtual HRESULT get_Member(BSTR* member) = 0;
};

/// The interface of an external error module ("kderror", libkderror.so beside the module)
/// that keeps the error lists of every thread of the process. Its library exports GetPLModule
/// and answers MODULEID_PLErrorServices with an object that answers this interface. None is
/// shipped: without one the module keeps the lists itself.
struct IPLErrorModule : IUnknown {
    /// Slot 3: a thread's error list, created empty on first use.
    /// \param threadId   the thread
    /// \param errorInfo  receives the list, with a reference
    /// \return S_OK, or a failure that makes the module use its own store.
    virtual HRESULT GetThreadError(DWORD threadId, IPLErrorInfo** errorInfo) = 0;
    /// Slot 4: empties a thread's error list.
    /// \param threadId  the thread
    /// \return S_OK, or a failure.
    virtual HRESULT ClearThreadErrors(DWORD threadId) = 0;
    /// Slot 5: whether recording is suspended on a thread.
    /// \param threadId  the thread
    /// \param state     receives it
    /// \return S_OK (S_FALSE on a thread's first query), or a failure.
    virtual HRESULT GetThreadErrorSuspensionState(DWORD threadId, BOOL* state) = 0;
    /// Slot 6: suspends or resumes recording on a thread.
    /// \param threadId  the thread
    /// \param state     nonzero to suspend
    /// \return S_OK, or a failure.
    virtual HRESULT SetThreadErrorSuspensionState(DWORD threadId, BOOL state) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_ERROR_H
