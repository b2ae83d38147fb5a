// IUnknown: the root of every interface of the module.
#ifndef KDTRACE_UNKNWN_H
#define KDTRACE_UNKNWN_H

#include <kdtrace/types.h>

KDTRACE_BEGIN_DECLS

// {00000000-0000-0000-C000-000000000046}, the identifier every COM-style system gives IUnknown.
inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Interfaces are pure abstract structs without data or virtual destructor; the table order is the
// declaration order. Whoever receives an interface pointer owns one reference and releases it.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_UNKNWN_H
