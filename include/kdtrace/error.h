// Error lists, error items, their automation view, and the interface of an external error
// module ("kderror") that may keep every thread's error list for the process.
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
inline constexpr GUID IID_IPLErrorInfo = {0x21D302CA, 0xCC21, 0x4CAE, {0xB1, 0x8E, 0xC7, 0x6A, 0x7E, 0x5D, 0xF1, 0x82}};
inline constexpr GUID IID_IPLErrorItem = {0x6B94DE62, 0xED89, 0x4813, {0x96, 0x4F, 0xE0, 0x88, 0x44, 0xEF, 0x59, 0x29}};
inline constexpr GUID IID_IKDXErrorItemCore = {0x5E92534C, 0x8B4D, 0x4107, {0x93, 0xB9, 0x4C, 0x87, 0x60, 0xBC, 0x49, 0xFA}};
inline constexpr GUID IID_IPLErrorModule = {0x36268959, 0xDA78, 0x48ED, {0x89, 0xBA, 0x9C, 0x7E, 0x79, 0x17, 0xD6, 0x33}};
inline constexpr GUID CLSID_PLErrorInfo = {0x1035F1DB, 0x3D13, 0x4A25, {0xB3, 0x80, 0x57, 0x0C, 0x89, 0x44, 0xF1, 0x10}};
inline constexpr GUID CLSID_PLErrorItem = {0xB4379D18, 0x5B87, 0x40C0, {0xA9, 0xFB, 0xB7, 0xAF, 0xD2, 0xAD, 0x15, 0x8F}};
// The automation view of an error item is registered under the all-zero class identifier.
inline constexpr GUID CLSID_KDXErrorItemCore = GUID_NULL;
// The module identifier an external error module answers in its GetPLModule.
inline constexpr GUID MODULEID_PLErrorServices = {0x471C7C3F, 0x4BBC, 0x4624, {0xB9, 0x82, 0xBC, 0x01, 0xE2, 0xD1, 0x75, 0x01}};
// clang-format on

// Called with the registered context and each item added to a list. The context is pointer-sized
// so that a callback can carry an object.
typedef void (*PLErrorEventCallback)(uintptr_t context, IPLErrorItem* item);

// A thread's error list, newest item last.
struct IPLErrorInfo : IUnknown {
    // slot 3: a nonzero errorFlag clears the list first (the error starts a new chain).
    virtual HRESULT AddError(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                             LONG messageType, const WCHAR* message, ULONG errorFlag, const WCHAR* sourceFile,
                             ULONG sourceLine) = 0;
    virtual HRESULT GetCount(LONG* count) = 0;  // slot 4
    // slot 5: index 0 is the newest item, count - 1 the oldest.
    virtual HRESULT GetItem(LONG index, IPLErrorItem** item) = 0;
    virtual HRESULT Clear() = 0;                                                               // slot 6
    virtual HRESULT RegisterErrorEvent(uintptr_t context, PLErrorEventCallback callback) = 0;  // 7
    virtual HRESULT SaveToXML(IPLVariant** xml) = 0;                                           // slot 8
    virtual HRESULT LoadFromXML(const WCHAR* xml) = 0;                                         // slot 9
};

// One recorded error. The string getters copy the text cut to size - 1 characters, always
// terminated, and return S_FALSE when the text did not fit.
struct IPLErrorItem : IUnknown {
    virtual HRESULT Initialize(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                               LONG messageType, const WCHAR* message, DWORD threadId, const WCHAR* sourceFile,
                               ULONG sourceLine) = 0;
    virtual HRESULT GetModuleName(WCHAR* buffer, LONG size) = 0;        // slot 4
    virtual HRESULT GetClassName(WCHAR* buffer, LONG size) = 0;         // slot 5
    virtual HRESULT GetMethodName(WCHAR* buffer, LONG size) = 0;        // slot 6
    virtual HRESULT GetHRESULT(HRESULT* result) = 0;                    // slot 7
    virtual HRESULT GetMessageType(LONG* messageType) = 0;              // slot 8
    virtual HRESULT GetMessage(WCHAR* buffer, LONG size) = 0;           // slot 9
    virtual HRESULT GetThreadID(DWORD* threadId) = 0;                   // slot 10
    virtual HRESULT GetSourceFile(WCHAR* buffer, LONG size) = 0;        // slot 11
    virtual HRESULT GetSourceLine(ULONG* sourceLine) = 0;               // slot 12
    virtual HRESULT GetKDXErrorItemCore(IKDXErrorItemCore** view) = 0;  // slot 13
};

// Read-only automation view of an error item. The string getters return a new BSTR that the
// caller frees with SysFreeString.
struct IKDXErrorItemCore : IPLComObject {
    virtual HRESULT Initialize(DWORD threadId, HRESULT number, const WCHAR* message, const WCHAR* module,
                               const WCHAR* className, const WCHAR* member, const WCHAR* sourceFile,
                               ULONG sourceLine) = 0;  // slot 10
    virtual HRESULT get_ThreadID(DWORD* threadId) = 0;
    virtual HRESULT get_Message(BSTR* message) = 0;
    virtual HRESULT get_Number(HRESULT* number) = 0;
    virtual HRESULT get_SourceFile(BSTR* sourceFile) = 0;
    virtual HRESULT get_SourceLine(ULONG* sourceLine) = 0;
    virtual HRESULT get_Module(BSTR* module) = 0;
    virtual HRESULT get_Class(BSTR* className) = 0;
    virtual HRESULT get_Member(BSTR* member) = 0;
};

// The interface of an external error module that keeps the error lists of every thread of the
// process. The module library exports GetPLModule (see exports.h) and answers
// MODULEID_PLErrorServices with an object that answers this interface.
struct IPLErrorModule : IUnknown {
    virtual HRESULT GetThreadError(DWORD threadId, IPLErrorInfo** errorInfo) = 0;    // slot 3
    virtual HRESULT ClearThreadErrors(DWORD threadId) = 0;                           // slot 4
    virtual HRESULT GetThreadErrorSuspensionState(DWORD threadId, BOOL* state) = 0;  // slot 5
    virtual HRESULT SetThreadErrorSuspensionState(DWORD threadId, BOOL state) = 0;   // slot 6
};

KDTRACE_END_DECLS

#endif  // KDTRACE_ERROR_H
