/// \file
/// The trace services: the trace module, trace contexts, their listeners and the trace-context
/// collection.
///
/// A host asks the module object (GetPLModule) for IPLTraceModule and gets contexts from it: one
/// global context for the process, one default context per calling thread (its identifier is the
/// thread's identifier) and one named context per distinct name. It registers listeners on a
/// context and fires messages; the context hands the two values of each message, unchanged and in
/// registration order, to every listener on the caller's thread before FireMessage returns.
/// Nothing is filtered, queued or stored.
#ifndef KDTRACE_TRACE_H
#define KDTRACE_TRACE_H

#include <kdtrace/collection.h>
#include <kdtrace/propertybag.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

// clang-format off
/// Identifier of IPLTraceModule.
inline constexpr GUID IID_IPLTraceModule = {0x7D147A3E, 0x9515, 0x46B5, {0x9B, 0xBE, 0x0D, 0xDE, 0xD4, 0x64, 0xEC, 0xA8}};
/// Identifier of IPLTraceContext.
inline constexpr GUID IID_IPLTraceContext = {0x9D091963, 0x360C, 0x450F, {0xB4, 0x45, 0xC8, 0x66, 0x65, 0x05, 0x9E, 0xF6}};
/// Identifier of IPLTraceContextPriv.
inline constexpr GUID IID_IPLTraceContextPriv = {0x0D54088F, 0x6BD2, 0x4B04, {0xBE, 0x59, 0xE7, 0x81, 0x03, 0x8B, 0xEB, 0x63}};
/// Identifier of IPLTraceListener.
inline constexpr GUID IID_IPLTraceListener = {0xFE584F51, 0x6859, 0x4FE0, {0x9B, 0xE4, 0x02, 0xD7, 0x16, 0x2B, 0xA2, 0x60}};
/// Class of a trace context (IPLTraceContext); the trace module makes them, a host rarely does.
inline constexpr GUID CLSID_PLTraceContext = {0x42B5E108, 0x9513, 0x4CF7, {0x8A, 0x4A, 0x56, 0x69, 0xC7, 0xAB, 0x2F, 0x4F}};
/// Class of the trace-context collection (IPLTraceContextCollection). The collection's class
/// identifier is also the identifier of its interface.
inline constexpr GUID CLSID_PLTraceContextCollection = {0x9E91A8E5, 0x09D9, 0x45C4, {0x8C, 0x53, 0x1B, 0x5B, 0x76, 0xA8, 0x2E, 0x05}};
/// Identifier of IPLTraceContextCollection (the same as its class identifier).
inline constexpr GUID IID_IPLTraceContextCollection = CLSID_PLTraceContextCollection;
// clang-format on

/// Implemented by the host's listeners, registered with IPLTraceContext::AddListener.
struct IPLTraceListener : IUnknown {
    /// Slot 3: one message, on the thread that fired it, before FireMessage returns.
    /// \param first   the first value given to FireMessage, unchanged
    /// \param second  the second value, unchanged
    /// \return ignored.
    virtual HRESULT OnTraceMessage(LONG first, LONG second) = 0;
};

/// A trace context: an identifier, a name, an optional property bag, and listeners to which
/// FireMessage hands each message. Answers IPLTraceContext, IPLTraceContextPriv, IPLEventSource
/// (for IPLTraceListener), IPLComObject and IPLSupportRichErrorInfo.
struct IPLTraceContext : IUnknown {
    /// Slot 3: the identifier: the thread's identifier for a default context, 0 otherwise.
    /// \param id  receives it
    /// \return S_OK; E_POINTER for a null `id`.
    virtual HRESULT GetID(ULONG* id) = 0;
    /// Slot 4: the name (empty but for named contexts).
    /// \param buffer  receives the name, cut to `size` - 1 characters, always terminated
    /// \param size    the buffer's size in characters
    /// \return S_OK (also when cut); E_POINTER for a null `buffer`; E_INVALIDARG for a size
    ///         below 1.
    virtual HRESULT GetName(WCHAR* buffer, LONG size) = 0;
    /// Slot 5: the property bag stored with SetProperties.
    /// \param bag  receives it with a reference added, or null when none is stored
    /// \return S_OK; E_POINTER for a null `bag`.
    virtual HRESULT GetProperties(IPLPropertyBag** bag) = 0;
    /// Slot 6: stores a property bag with the context (it is not read by the module).
    /// \param bag  the bag; the context keeps a reference to it and drops the one it held on the
    ///             previous bag
    /// \return S_OK; E_POINTER for a null `bag`.
    virtual HRESULT SetProperties(IPLPropertyBag* bag) = 0;
    /// Slot 7: hands both values to every listener, in registration order, on this thread; each
    /// listener is asked for IPLTraceListener afresh, and one that no longer answers is skipped.
    /// \param first   the first value
    /// \param second  the second value
    /// \return S_OK without listeners; otherwise the result of asking the last listener for
    ///         IPLTraceListener (S_OK, or E_NOINTERFACE when it no longer answers);
    ///         E_UNEXPECTED when a listener faulted or threw.
    virtual HRESULT FireMessage(LONG first, LONG second) = 0;
    /// Slot 8: registers a listener.
    ///
    /// The context keeps no reference on the object: remove the listener (RemoveListener) before
    /// the object goes away. A listener may live on the stack.
    /// \param listener  an object that answers IPLTraceListener
    /// \param cookie    receives the registration's cookie, for RemoveListener
    /// \return S_OK; E_INVALIDARG when `listener` does not answer IPLTraceListener; E_POINTER
    ///         for a null argument.
    virtual HRESULT AddListener(IUnknown* listener, void** cookie) = 0;
    /// Slot 9: removes the registration of a cookie (the first, when an object was added twice).
    ///
    /// Called from outside a listener, it returns only when no FireMessage that another thread
    /// began before it still holds the listener (its call and its Release are over): from then on
    /// nothing calls it, and its object may be destroyed. Called from inside a listener (of any
    /// context), it removes at once and does not wait, so that listeners may remove themselves
    /// and each other without deadlock; a delivery already under way on another thread may then
    /// still call the removed listener. While it waits, the listener being called on the other
    /// thread must not wait for the thread that removes.
    /// \param cookie  as AddListener wrote it
    /// \return S_OK; E_FAIL when the cookie is not registered (removed already, or never added).
    virtual HRESULT RemoveListener(void* cookie) = 0;
};

/// The module's own view of a context, used while setting it up. A host has no need of it.
struct IPLTraceContextPriv : IPLTraceContext {
    /// Slot 10: sets the identifier.
    /// \param id  the new identifier
    /// \return S_OK.
    virtual HRESULT SetID(ULONG id) = 0;
    /// Slot 11: sets the name.
    /// \param name  the new name (copied)
    /// \return S_OK; E_POINTER for a null `name`.
    virtual HRESULT SetName(const WCHAR* name) = 0;
};

/// The trace module: the module object's trace interface (GetPLModule, InitModule, then
/// QueryInterface for IID_IPLTraceModule; kdtrace::host::Module::OpenTraceModule does the
/// three). Every context handed out carries one reference for the caller, and a context once
/// made is handed out again for the same scope and key.
struct IPLTraceModule : IUnknown {
    /// Slot 3: the process-wide context, made on the first request (identifier 0, empty name)
    /// and shared by all module objects; it is never destroyed.
    /// \param context  receives it
    /// \return S_OK; E_POINTER for a null `context`; the creation's code when it cannot be made
    ///         ("Failed to create trace context").
    virtual HRESULT GetGlobalContext(IPLTraceContext** context) = 0;
    /// Slot 4: the calling thread's context, made on its first request to this module object;
    /// its identifier is the thread's identifier (gettid). It outlives the thread, and a later
    /// thread given the same identifier receives it.
    /// \param context  receives it
    /// \return S_OK; E_POINTER for a null `context`; the creation's code when it cannot be made.
    virtual HRESULT GetDefaultContext(IPLTraceContext** context) = 0;
    /// Slot 5: the context of a name, made on the first request for the name to this module
    /// object. Names compare exactly: "Orders" and "orders" are two contexts.
    /// \param name     the name (copied)
    /// \param context  receives it
    /// \return S_OK; E_POINTER for a null argument; the creation's code when it cannot be made.
    virtual HRESULT GetNamedContext(const WCHAR* name, IPLTraceContext** context) = 0;
    /// Slot 6: stores a process-wide severity level. Nothing in the module filters by it: it is
    /// only there for callers to read back.
    /// \param level  any value
    /// \return S_OK.
    virtual HRESULT SetSeverityLevel(LONG level) = 0;
    /// Slot 7: the process-wide severity level (0 until set).
    /// \param level  receives it
    /// \return S_OK; E_POINTER for a null `level`.
    virtual HRESULT GetSeverityLevel(LONG* level) = 0;
};

/// Orders two contexts for IPLTraceContextCollection::Sort.
/// \param first   an item placed already
/// \param second  the item being placed
/// \param result  receives a value above 0 to put `second` before `first`
/// \return S_OK; a failure ends the sort with that code ("Failed to execute sort function").
typedef HRESULT (*PLTraceContextCompareFunction)(IPLTraceContext* first, IPLTraceContext* second, LONG* result);

/// An ordered list of trace contexts holding one reference per entry; made with
/// PLCreateInstance for CLSID_PLTraceContextCollection and filled by the caller (the trace
/// module does not use it).
///
/// The operations are those of every collection of the module (the property, property-bag and
/// page-data collections document theirs as the same): items in insertion order, Insert and
/// Remove refused while read-only, searches that find nothing return E_FAIL and leave the
/// thread's error list empty. Contexts are found by identifier (GetID) but have no name lookup
/// and no equality: FindByName never finds one, and the duplicate searches succeed only for
/// entries that hold the same pointer. Not synchronised: use one collection from one thread at a
/// time.
struct IPLTraceContextCollection : IUnknown {
    /// The number of items.
    /// \return the count (not an HRESULT).
    virtual LONG GetCount() = 0;
    /// The item at an index.
    /// \param index  0 to GetCount() - 1
    /// \param item   receives the item with a reference added; untouched on failure
    /// \return S_OK; E_INVALIDARG for an index out of range ("Invalid index specified (%li)");
    ///         E_POINTER for a null `item`.
    virtual HRESULT GetAt(LONG index, IPLTraceContext** item) = 0;
    /// Releases and removes every item, read-only or not.
    /// \return S_OK.
    virtual HRESULT RemoveAll() = 0;
    /// Reserved.
    /// \param unused  not read
    /// \return E_NOTIMPL.
    virtual HRESULT ReservedA(void* unused) = 0;
    /// Appends an item, telling the collection's listeners first, and takes a reference.
    /// \param item  the item
    /// \return S_OK; E_FAIL while the collection is read-only; E_POINTER for a null `item`.
    virtual HRESULT Insert(IPLTraceContext* item) = 0;
    /// Reserved.
    /// \param unused  not read
    /// \return S_OK.
    virtual HRESULT ReservedB(void* unused) = 0;
    /// Places an item (whatever the read-only flag), telling listeners first.
    /// \param item      the item
    /// \param position  a PLInsertPosition code
    /// \param index     the item to insert before or after, for PL_INSERT_BEFORE and
    ///                  PL_INSERT_AFTER (0 <= index < count)
    /// \return S_OK; E_INVALIDARG for an unknown code or an index out of range; E_POINTER for a
    ///         null `item`.
    virtual HRESULT InsertAt(IPLTraceContext* item, LONG position, LONG index) = 0;
    /// The first item whose identifier equals `id`.
    /// \param id    the identifier
    /// \param item  receives the item with a reference added, or null when none is found
    /// \return S_OK; E_FAIL when none is found (the thread's error list is left empty, not
    ///         reporting an error); E_POINTER for a null `item`.
    virtual HRESULT FindByID(ULONG id, IPLTraceContext** item) = 0;
    /// Whether an item has the identifier `id`.
    /// \param id      the identifier
    /// \param exists  receives 1 or 0
    /// \return S_OK; E_POINTER for a null `exists`.
    virtual HRESULT CheckExistsByID(ULONG id, BOOL* exists) = 0;
    /// The first item whose name equals `name`, ignoring case. Trace contexts have no
    /// name lookup in a collection.
    /// \param name  the name
    /// \param item  receives null
    /// \return E_FAIL (with the thread's error list left empty); E_POINTER for a null argument.
    virtual HRESULT FindByName(const WCHAR* name, IPLTraceContext** item) = 0;
    /// Removes the first entry holding this pointer and releases it.
    /// \param item  the item
    /// \return S_OK; E_FAIL while read-only, or when the item is not in the collection;
    ///         E_POINTER for a null `item`.
    virtual HRESULT Remove(IPLTraceContext* item) = 0;
    /// Reserved.
    /// \param unused  not read
    /// \return S_OK.
    virtual HRESULT ReservedC(void* unused) = 0;
    /// A stable sort by the caller's function: equal items keep their order; on failure
    /// the collection keeps its old order.
    /// \param compare  the comparison
    /// \return S_OK; the function's failure code; E_FAIL when the function changed the
    ///         collection; E_POINTER for a null `compare`.
    virtual HRESULT Sort(PLTraceContextCompareFunction compare) = 0;
    /// Makes the collection read-only (Insert and Remove refused) or writable again.
    /// \param readOnly  nonzero for read-only
    /// \return S_OK.
    virtual HRESULT SetReadOnly(BOOL readOnly) = 0;
    /// Whether the collection is read-only.
    /// \param readOnly  receives the flag as set
    /// \return S_OK; E_POINTER for a null `readOnly`.
    virtual HRESULT GetReadOnly(BOOL* readOnly) = 0;
    /// Reserved.
    /// \param unused  not read
    /// \return S_OK.
    virtual HRESULT ReservedD(void* unused) = 0;
    /// Reserved.
    /// \param unused  not read
    /// \return S_OK.
    virtual HRESULT ReservedE(void* unused) = 0;
    /// Reserved.
    /// \param unused  not read
    /// \return S_OK.
    virtual HRESULT ReservedF(void* unused) = 0;
    /// Appends to `duplicates` the entries from `start` on that duplicate `item`: later
    /// entries holding the same pointer (its own first entry is not its duplicate), and entries
    /// that compare equal to it.
    /// \param item        the item
    /// \param duplicates  a caller's array (start it empty); each entry appended carries a
    ///                    reference (PLItemArrayClear)
    /// \param start       the first position to look at, 0 to count
    /// \return S_OK; E_FAIL when an entry had to be compared and cannot be (for trace contexts:
    ///         any other context); E_INVALIDARG for a bad `start` or array; E_POINTER for a null
    ///         argument.
    virtual HRESULT FindDuplicates(IPLTraceContext* item, PLItemArray<IPLTraceContext>* duplicates, LONG start) = 0;
    /// Removes every entry that duplicates an earlier one (an entry that cannot be
    /// compared stays, with an error recorded for it).
    /// \return S_OK.
    virtual HRESULT PurgeDuplicates() = 0;
    /// Appends every entry that duplicates an earlier one, in the order found.
    /// \param duplicates  a caller's array, as for FindDuplicates
    /// \param sorted      nonzero when the collection is sorted, so a walk may stop early
    /// \return S_OK; E_FAIL when entries had to be compared and cannot be; E_INVALIDARG for a
    ///         bad array; E_POINTER for a null `duplicates`.
    virtual HRESULT FindAllDuplicates(PLItemArray<IPLTraceContext>* duplicates, BYTE sorted) = 0;
    /// Whether an item has the name `name` (never, for trace contexts).
    /// \param name    the name
    /// \param exists  receives 1 or 0
    /// \return S_OK; E_POINTER for a null argument.
    virtual HRESULT CheckExistsByName(const WCHAR* name, BOOL* exists) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_TRACE_H
