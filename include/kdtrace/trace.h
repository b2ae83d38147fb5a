// The trace services: the trace module, trace contexts, their listeners and the trace-context
// collection.
//
// A host asks the module object (GetPLModule) for IPLTraceModule and gets contexts from it: one
// global context for the process, one default context per calling thread (its identifier is the
// thread's identifier) and one named context per distinct name. It registers listeners on a
// context and fires messages; the context hands the two values of each message, unchanged and in
// registration order, to every listener on the caller's thread before FireMessage returns.
#ifndef KDTRACE_TRACE_H
#define KDTRACE_TRACE_H

#include <kdtrace/collection.h>
#include <kdtrace/propertybag.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

// clang-format off
inline constexpr GUID IID_IPLTraceModule = {0x7D147A3E, 0x9515, 0x46B5, {0x9B, 0xBE, 0x0D, 0xDE, 0xD4, 0x64, 0xEC, 0xA8}};
inline constexpr GUID IID_IPLTraceContext = {0x9D091963, 0x360C, 0x450F, {0xB4, 0x45, 0xC8, 0x66, 0x65, 0x05, 0x9E, 0xF6}};
inline constexpr GUID IID_IPLTraceContextPriv = {0x0D54088F, 0x6BD2, 0x4B04, {0xBE, 0x59, 0xE7, 0x81, 0x03, 0x8B, 0xEB, 0x63}};
inline constexpr GUID IID_IPLTraceListener = {0xFE584F51, 0x6859, 0x4FE0, {0x9B, 0xE4, 0x02, 0xD7, 0x16, 0x2B, 0xA2, 0x60}};
inline constexpr GUID CLSID_PLTraceContext = {0x42B5E108, 0x9513, 0x4CF7, {0x8A, 0x4A, 0x56, 0x69, 0xC7, 0xAB, 0x2F, 0x4F}};
// The trace-context collection's class identifier is also the identifier of its interface.
inline constexpr GUID CLSID_PLTraceContextCollection = {0x9E91A8E5, 0x09D9, 0x45C4, {0x8C, 0x53, 0x1B, 0x5B, 0x76, 0xA8, 0x2E, 0x05}};
inline constexpr GUID IID_IPLTraceContextCollection = CLSID_PLTraceContextCollection;
// clang-format on

// Implemented by the host's listeners. The result is ignored.
struct IPLTraceListener : IUnknown {
    virtual HRESULT OnTraceMessage(LONG first, LONG second) = 0;  // slot 3
};

// A trace context. The string getter copies the name cut to size - 1 characters, terminated.
struct IPLTraceContext : IUnknown {
    virtual HRESULT GetID(ULONG* id) = 0;                   // slot 3
    virtual HRESULT GetName(WCHAR* buffer, LONG size) = 0;  // slot 4
    // slot 5: the stored bag (possibly null) with a reference added.
    virtual HRESULT GetProperties(IPLPropertyBag** bag) = 0;
    // slot 6: keeps a reference on the bag and drops the one on the previous bag.
    virtual HRESULT SetProperties(IPLPropertyBag* bag) = 0;
    // slot 7: hands both values to every listener, in registration order. Returns S_OK without
    // listeners, else the result of asking the last listener for IPLTraceListener.
    virtual HRESULT FireMessage(LONG first, LONG second) = 0;
    // slot 8: registers an object that answers IPLTraceListener (E_INVALIDARG if it does not).
    // The cookie identifies the registration; the context keeps no reference on the object, so
    // remove the listener before the object goes away (a listener may live on the stack).
    virtual HRESULT AddListener(IUnknown* listener, void** cookie) = 0;
    // slot 9: S_OK, or E_FAIL when the cookie is not registered. Called from outside a listener,
    // it returns only when no FireMessage that another thread began before it still holds the
    // listener (its call and its Release are over): from then on nothing calls it, and its object
    // may be destroyed. Called from inside a listener (of any context), it removes at once and
    // does not wait, so that listeners may remove themselves and each other without deadlock; a
    // delivery already under way on another thread may then still call the removed listener.
    // While it waits, the listener being called on the other thread must not wait for the
    // thread that removes.
    virtual HRESULT RemoveListener(void* cookie) = 0;
};

// The module's own view of a context, used while setting it up.
struct IPLTraceContextPriv : IPLTraceContext {
    virtual HRESULT SetID(ULONG id) = 0;             // slot 10
    virtual HRESULT SetName(const WCHAR* name) = 0;  // slot 11
};

// The trace module. Every context handed out carries one reference for the caller.
struct IPLTraceModule : IUnknown {
    // slot 3: the process-wide context, made on first request (identifier 0, empty name).
    virtual HRESULT GetGlobalContext(IPLTraceContext** context) = 0;
    // slot 4: the calling thread's context, made on its first request to this module object.
    virtual HRESULT GetDefaultContext(IPLTraceContext** context) = 0;
    // slot 5: one context per distinct name (names compare exactly, case-sensitive).
    virtual HRESULT GetNamedContext(const WCHAR* name, IPLTraceContext** context) = 0;
    // slots 6 and 7: a process-wide level that callers store and read back; nothing in the
    // module filters by it.
    virtual HRESULT SetSeverityLevel(LONG level) = 0;
    virtual HRESULT GetSeverityLevel(LONG* level) = 0;
};

// Orders two contexts for IPLTraceContextCollection::Sort: a result above 0 puts `first` after
// `second`.
typedef HRESULT (*PLTraceContextCompareFunction)(IPLTraceContext* first, IPLTraceContext* second, LONG* result);

// An ordered list of trace contexts holding one reference per entry; made with PLCreateInstance
// for CLSID_PLTraceContextCollection. It is not synchronised: use one collection from one thread
// at a time. Searches that find nothing return E_FAIL and leave the thread's error list empty.
struct IPLTraceContextCollection : IUnknown {
    virtual LONG GetCount() = 0;                                    // slot 3
    virtual HRESULT GetAt(LONG index, IPLTraceContext** item) = 0;  // slot 4
    virtual HRESULT RemoveAll() = 0;                                // slot 5
    virtual HRESULT ReservedA(void* unused) = 0;                    // slot 6: E_NOTIMPL
    // slot 7: appends; E_FAIL while the collection is read-only.
    virtual HRESULT Insert(IPLTraceContext* item) = 0;
    virtual HRESULT ReservedB(void* unused) = 0;  // slot 8: S_OK
    // slot 9: places the item by a PLInsertPosition code (whatever the read-only flag).
    virtual HRESULT InsertAt(IPLTraceContext* item, LONG position, LONG index) = 0;
    // slot 10: the first context whose GetID equals `id`.
    virtual HRESULT FindByID(ULONG id, IPLTraceContext** item) = 0;
    virtual HRESULT CheckExistsByID(ULONG id, BOOL* exists) = 0;  // slot 11
    // slot 12: contexts have no name lookup in a collection: always E_FAIL.
    virtual HRESULT FindByName(const WCHAR* name, IPLTraceContext** item) = 0;
    // slot 13: removes the first entry holding this pointer; E_FAIL while read-only.
    virtual HRESULT Remove(IPLTraceContext* item) = 0;
    virtual HRESULT ReservedC(void* unused) = 0;  // slot 14: S_OK
    // slot 15: a stable sort by the caller's function.
    virtual HRESULT Sort(PLTraceContextCompareFunction compare) = 0;
    virtual HRESULT SetReadOnly(BOOL readOnly) = 0;   // slot 16
    virtual HRESULT GetReadOnly(BOOL* readOnly) = 0;  // slot 17
    virtual HRESULT ReservedD(void* unused) = 0;      // slot 18: S_OK
    virtual HRESULT ReservedE(void* unused) = 0;      // slot 19: S_OK
    virtual HRESULT ReservedF(void* unused) = 0;      // slot 20: S_OK
    // slot 21: appends the duplicates of `item` found from position `start` on.
    virtual HRESULT FindDuplicates(IPLTraceContext* item, PLItemArray<IPLTraceContext>* duplicates, LONG start) = 0;
    virtual HRESULT PurgeDuplicates() = 0;  // slot 22
    // slot 23: appends every entry that duplicates an earlier one.
    virtual HRESULT FindAllDuplicates(PLItemArray<IPLTraceContext>* duplicates, BYTE sorted) = 0;
    virtual HRESULT CheckExistsByName(const WCHAR* name, BOOL* exists) = 0;  // slot 24
};

#endif  // KDTRACE_TRACE_H
