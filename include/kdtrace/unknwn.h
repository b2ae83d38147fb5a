/// \file
/// IUnknown: the root of every interface of the module.
#ifndef KDTRACE_UNKNWN_H
#define KDTRACE_UNKNWN_H

#include <kdtrace/types.h>

KDTRACE_BEGIN_DECLS

/// {00000000-0000-0000-C000-000000000046}, the identifier every COM-style system gives IUnknown.
inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

/// The root of every interface: identity and reference counting.
///
/// Interfaces are pure abstract structs without data or virtual destructor; the table order is
/// the declaration order, so a host built with any Itanium-ABI compiler (GCC, Clang) calls the
/// right slot. Whoever receives an interface pointer (from a creation, a getter or
/// QueryInterface) owns one reference and releases it; kdtrace::host::ComPtr does that.
struct IUnknown {
    /// Asks the object for another of its interfaces.
    /// \param iid     the interface wanted
    /// \param object  receives the interface pointer, with a reference added for the caller;
    ///                left untouched when the object does not answer `iid`
    /// \return S_OK; E_NOINTERFACE when the object does not answer `iid`; E_POINTER for a null
    ///         `object`.
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    /// Adds a reference (atomically: any thread may call it).
    /// \return the new count, for diagnostics only.
    virtual ULONG AddRef() = 0;
    /// Gives up a reference; the object is destroyed when the last one goes.
    /// \return the new count (0 when the object was destroyed), for diagnostics only.
    virtual ULONG Release() = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_UNKNWN_H
