// Fixed-width types, GUIDs and status codes shared by the module and its hosts.
//
// Everything here lives in the global namespace, as COM-style hosts expect. The integer
// types have the same width on every Linux target: LONG is always 32 bits, never `long`.
#ifndef KDTRACE_TYPES_H
#define KDTRACE_TYPES_H

#include <stdint.h>

// Where the declarations of the kdtrace headers live: the global namespace, or namespace kdtrace
// when the host defines KDTRACE_USE_NAMESPACE before including any of them (for code that has
// its own BOOL, DWORD or GUID, such as X11's Xmd.h). KDTRACE_NS names that namespace in a
// qualified name (`KDTRACE_NS::GetPLModule`).
#ifdef KDTRACE_USE_NAMESPACE
#define KDTRACE_BEGIN_DECLS namespace kdtrace {
#define KDTRACE_END_DECLS }
#define KDTRACE_NS ::kdtrace
#else
#define KDTRACE_BEGIN_DECLS
#define KDTRACE_END_DECLS
#define KDTRACE_NS
#endif

KDTRACE_BEGIN_DECLS

typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef char16_t WCHAR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// A 128-bit identifier. Data1 to Data3 are kept in host byte order; Data4 is a byte array.
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline constexpr bool IsEqualGUID(REFGUID a, REFGUID b) noexcept {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline constexpr bool operator==(REFGUID a, REFGUID b) noexcept {
    return IsEqualGUID(a, b);
}
inline constexpr bool operator!=(REFGUID a, REFGUID b) noexcept {
    return !IsEqualGUID(a, b);
}

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr GUID CLSID_NULL = GUID_NULL;

// Status codes. Negative values are failures.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);

// The module's own codes.
// A failed internal check, or a bad string index.
inline constexpr HRESULT PL_E_VERIFY = static_cast<HRESULT>(0x80040004u);
// Module properties read before the module was initialised.
inline constexpr HRESULT PL_E_MODULE_NOT_INITIALIZED = static_cast<HRESULT>(0x80040342u);
// A module class without its own property initialisation.
inline constexpr HRESULT PL_E_NO_MODULE_PROPERTY_MAP = static_cast<HRESULT>(0x80040343u);

KDTRACE_END_DECLS

#ifndef SUCCEEDED
#define SUCCEEDED(hr) (static_cast<int32_t>(hr) >= 0)
#endif
#ifndef FAILED
#define FAILED(hr) (static_cast<int32_t>(hr) < 0)
#endif

#endif  // KDTRACE_TYPES_H
