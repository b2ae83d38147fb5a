// The object interfaces every object of the module answers, and the listener and clone
// interfaces that several of them add.
#ifndef KDTRACE_OBJECT_H
#define KDTRACE_OBJECT_H

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

struct IPLErrorInfo;

// clang-format off
inline constexpr GUID IID_IPLComObject = {0x08E5080D, 0x52A6, 0x4C5C, {0xA6, 0xB7, 0x17, 0x0E, 0xF8, 0x5A, 0x29, 0xAD}};
inline constexpr GUID IID_IPLSupportRichErrorInfo = {0x7C349631, 0xACDA, 0x4E08, {0x9C, 0xAE, 0xF3, 0x10, 0xD3, 0x23, 0xD6, 0xC2}};
inline constexpr GUID IID_IPLEventSource = {0x2A28B6A4, 0xF528, 0x480C, {0xA4, 0xCC, 0xEC, 0x98, 0x85, 0xBD, 0x66, 0x54}};
inline constexpr GUID IID_IPLCloneable = {0x0623698A, 0x270E, 0x45FB, {0x84, 0x46, 0xE6, 0x32, 0xEE, 0x43, 0xEE, 0xE1}};
// clang-format on

// The module's own object interface, answered by every object it makes.
struct IPLComObject : IUnknown {
    virtual HRESULT InitObject() = 0;                             // slot 3
    virtual HRESULT GetInterfaceID(GUID* iid) = 0;                // slot 4
    virtual HRESULT GetObjectText(WCHAR* buffer, LONG size) = 0;  // slot 5
    virtual HRESULT GetClassID(GUID* clsid) = 0;                  // slot 6
    // Slot 7: destroys the object; bit 0 of `flags` also frees its memory. Called by the object's
    // own release when the last reference goes; a host never calls it.
    virtual void DeleteObject(ULONG flags) = 0;
    virtual ULONG InternalAddRef() = 0;   // slot 8
    virtual ULONG InternalRelease() = 0;  // slot 9
};

// Hands out the calling thread's error list (and detaches it from the thread).
struct IPLSupportRichErrorInfo : IUnknown {
    virtual HRESULT GetErrorInfo(IPLErrorInfo** errorInfo) = 0;  // slot 3
};

// A listener list. The cookie written by AddListener is the pointer the object returned for the
// listener interface; it identifies the registration for RemoveListener. The list keeps no
// reference on the listener: remove it before its object goes away. RemoveListener called from
// outside a listener returns once no delivery that another thread began before it still holds the
// listener, so the object may go as soon as it returns; called from inside a listener (of any
// list) it does not wait.
struct IPLEventSource : IUnknown {
    virtual HRESULT AddListener(REFIID iid, IUnknown* object, void** cookie) = 0;  // slot 3
    virtual HRESULT RemoveListener(void* cookie) = 0;                              // slot 4
};

// Makes a new object of the same class (each class says what the clone carries).
struct IPLCloneable : IUnknown {
    virtual HRESULT Clone(REFIID iid, void** object) = 0;  // slot 3
};

#endif  // KDTRACE_OBJECT_H
