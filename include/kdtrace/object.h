/// \file
/// The object interfaces every object of the module answers, and the listener and clone
/// interfaces that several of them add.
#ifndef KDTRACE_OBJECT_H
#define KDTRACE_OBJECT_H

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

struct IPLErrorInfo;

// clang-format off
/// Identifier of IPLComObject.
inline constexpr GUID IID_IPLComObject = {0x08E5080D, 0x52A6, 0x4C5C, {0xA6, 0xB7, 0x17, 0x0E, 0xF8, 0x5A, 0x29, 0xAD}};
/// Identifier of IPLSupportRichErrorInfo.
inline constexpr GUID IID_IPLSupportRichErrorInfo = {0x7C349631, 0xACDA, 0x4E08, {0x9C, 0xAE, 0xF3, 0x10, 0xD3, 0x23, 0xD6, 0xC2}};
/// Identifier of IPLEventSource.
inline constexpr GUID IID_IPLEventSource = {0x2A28B6A4, 0xF528, 0x480C, {0xA4, 0xCC, 0xEC, 0x98, 0x85, 0xBD, 0x66, 0x54}};
/// Identifier of IPLCloneable.
inline constexpr GUID IID_IPLCloneable = {0x0623698A, 0x270E, 0x45FB, {0x84, 0x46, 0xE6, 0x32, 0xEE, 0x43, 0xEE, 0xE1}};
// clang-format on

/// The module's own object interface, answered by every object it makes: its identifiers and
/// its reference count. (IUnknown, asked of an object, gives the object's main interface, not
/// this one.)
struct IPLComObject : IUnknown {
    /// Slot 3: a hook for further initialisation; the module's objects need none.
    /// \return S_OK.
    virtual HRESULT InitObject() = 0;
    /// Slot 4: the identifier of the object's main interface.
    /// \param iid  receives it
    /// \return S_OK; E_POINTER for a null `iid`.
    virtual HRESULT GetInterfaceID(GUID* iid) = 0;
    /// Slot 5: a text describing the object (empty for the module's objects).
    /// \param buffer  receives the text, terminated
    /// \param size    the buffer's size in characters
    /// \return S_OK; E_POINTER for a null `buffer`; E_INVALIDARG for a size below 1.
    virtual HRESULT GetObjectText(WCHAR* buffer, LONG size) = 0;
    /// Slot 6: the identifier of the object's class (the one PLCreateInstance takes).
    /// \param clsid  receives it; the all-zero GUID for a class without one
    /// \return S_OK; S_FALSE (with the all-zero GUID) for a class without an identifier;
    ///         E_POINTER for a null `clsid`.
    virtual HRESULT GetClassID(GUID* clsid) = 0;
    /// Slot 7: destroys the object. Called by the object's own release when the last reference
    /// goes; a host never calls it.
    /// \param flags  bit 0: also free the object's memory
    virtual void DeleteObject(ULONG flags) = 0;
    /// Slot 8: adds a reference (as AddRef).
    /// \return the new count.
    virtual ULONG InternalAddRef() = 0;
    /// Slot 9: gives up a reference (as Release).
    /// \return the new count, 0 when the object was destroyed.
    virtual ULONG InternalRelease() = 0;
};

/// Hands out the calling thread's error list; answered by every object of the module, so that a
/// caller holding any object can fetch the errors of its last call.
struct IPLSupportRichErrorInfo : IUnknown {
    /// Slot 3: the calling thread's error list, detached from the thread (as PLGetLastError).
    /// \param errorInfo  receives the list, with a reference for the caller
    /// \return S_OK; E_POINTER for a null `errorInfo`.
    virtual HRESULT GetErrorInfo(IPLErrorInfo** errorInfo) = 0;
};

/// A listener list, answered by objects that tell listeners of events: trace contexts
/// (IPLTraceListener), general-purpose property bags (IPLPropertyBagListener) and the property
/// and property-bag collections (IPLCollectionListener). Each accepts its one listener
/// interface. Listeners are called on the thread that causes the event, in registration order.
///
/// The list keeps no reference on a listener: remove it before its object goes away.
/// RemoveListener called from outside a listener returns once no delivery that another thread
/// began before it still holds the listener, so the object may go as soon as it returns; called
/// from inside a listener (of any list) it does not wait.
struct IPLEventSource : IUnknown {
    /// Slot 3: registers a listener.
    /// \param iid     the listener interface; only the one the object accepts
    /// \param object  the listener object, which must answer `iid`
    /// \param cookie  receives the registration's cookie (the pointer the object returned for
    ///                `iid`), for RemoveListener
    /// \return S_OK; E_NOINTERFACE for another `iid`; E_INVALIDARG (trace contexts, bags) or the
    ///         query's own code (collections) when `object` does not answer `iid`.
    virtual HRESULT AddListener(REFIID iid, IUnknown* object, void** cookie) = 0;
    /// Slot 4: removes the first registration with this cookie (one AddListener each).
    /// \param cookie  as AddListener wrote it
    /// \return S_OK; E_FAIL when no registration has the cookie.
    virtual HRESULT RemoveListener(void* cookie) = 0;
};

/// Makes a new object of the same class; each class says what the clone carries (error lists:
/// nothing; date-times, time spans and masked strings: their whole value; file streams: the
/// same file, segment and position with a handle of their own).
struct IPLCloneable : IUnknown {
    /// Slot 3: the clone, asked for interface `iid`.
    /// \param iid     the interface wanted of the clone
    /// \param object  receives it, with a reference for the caller
    /// \return S_OK; E_POINTER for a null `object`; E_NOINTERFACE when the clone does not answer
    ///         `iid`.
    virtual HRESULT Clone(REFIID iid, void** object) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_OBJECT_H
