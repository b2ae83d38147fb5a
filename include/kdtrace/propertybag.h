// Property bags: name-to-variant maps whose names compare without regard to the case of the
// letters A to Z. Values are copied in and out.
#ifndef KDTRACE_PROPERTYBAG_H
#define KDTRACE_PROPERTYBAG_H

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

struct IPLVariant;
struct IPLPropertyCollection;

// clang-format off
inline constexpr GUID IID_IPLPropertyBag = {0x056C549C, 0xE7FD, 0x4F21, {0xAA, 0x0E, 0x8C, 0xF6, 0xC0, 0xA5, 0xB7, 0x10}};
// clang-format on

struct IPLPropertyBag : IUnknown {
    // slot 3: stores a copy of `value` under `name`.
    virtual HRESULT SetProperty(const WCHAR* name, IPLVariant* value) = 0;
    // slot 4: a new copy of the stored value; S_FALSE (out untouched) when the name is absent.
    virtual HRESULT GetProperty(const WCHAR* name, IPLVariant** value) = 0;
    // slot 5: a new collection of every entry.
    virtual HRESULT GetProperties(IPLPropertyCollection** collection) = 0;
    // slot 6: S_OK and 1 when present, S_FALSE and 0 when not.
    virtual HRESULT ContainsKey(const WCHAR* name, BOOL* contains) = 0;
    virtual HRESULT DeleteProperty(const WCHAR* name) = 0;  // slot 7
};

#endif  // KDTRACE_PROPERTYBAG_H
