/// \file
/// Fixed-width types, GUIDs and status codes shared by the module and its hosts.
///
/// Everything here lives in the global namespace, as COM-style hosts expect, unless the host
/// defines `KDTRACE_USE_NAMESPACE` before its first kdtrace include: then every type, identifier
/// and function of the kdtrace headers is declared in namespace `kdtrace` instead, for code that
/// has BOOL, BYTE, DWORD or GUID of its own (X11's `<X11/Xmd.h>` defines BOOL and BYTE as
/// `unsigned char`). The macros (SUCCEEDED, FAILED, TRUE, FALSE) stay global either way.
///
/// The integer types have the same width on every Linux target: LONG is always 32 bits, never
/// `long` (64 bits on Linux).
#ifndef KDTRACE_TYPES_H
#define KDTRACE_TYPES_H

#include <stdint.h>

/// \cond KDTRACE_INTERNAL
// Where the declarations of the kdtrace headers live: the global namespace, or namespace kdtrace
// when the host defines KDTRACE_USE_NAMESPACE before including any of them. KDTRACE_NS names
// that namespace in a qualified name (`KDTRACE_NS::GetPLModule`).
#ifdef KDTRACE_USE_NAMESPACE
#define KDTRACE_BEGIN_DECLS namespace kdtrace {
#define KDTRACE_END_DECLS }
#define KDTRACE_NS ::kdtrace
#else
#define KDTRACE_BEGIN_DECLS
#define KDTRACE_END_DECLS
#define KDTRACE_NS
#endif
/// \endcond

KDTRACE_BEGIN_DECLS

/// A status code: 0 or positive is success (S_OK, S_FALSE), negative is failure.
typedef int32_t HRESULT;
/// A signed 32-bit integer.
typedef int32_t LONG;
/// An unsigned 32-bit integer.
typedef uint32_t ULONG;
/// An unsigned 32-bit integer.
typedef uint32_t DWORD;
/// A 32-bit truth value: 0 is false, anything else true (the module writes 1).
typedef int32_t BOOL;
/// An unsigned byte.
typedef uint8_t BYTE;
/// An unsigned 16-bit integer.
typedef uint16_t WORD;
/// A signed 64-bit integer.
typedef int64_t LONGLONG;
/// An unsigned 64-bit integer.
typedef uint64_t ULONGLONG;
/// One UTF-16 code unit: all text crossing the interface is UTF-16 (`u"..."` literals), never
/// `wchar_t`, which is 32 bits wide on Linux.
typedef char16_t WCHAR;

#ifndef TRUE
/// BOOL true.
#define TRUE 1
#endif
#ifndef FALSE
/// BOOL false.
#define FALSE 0
#endif

/// A 128-bit identifier of an interface, a class or a module. Data1 to Data3 are kept in host
/// byte order; Data4 is a byte array. Its text form (upper-case hexadecimal, 8-4-4-4-12 digits,
/// no braces) is written by kdtrace::host::GuidText.
struct GUID {
    uint32_t Data1;    ///< the first 8 hexadecimal digits
    uint16_t Data2;    ///< the next 4
    uint16_t Data3;    ///< the next 4
    uint8_t Data4[8];  ///< the last 16, as bytes in text order
};

/// An interface identifier.
typedef GUID IID;
/// A class identifier: what PLCreateInstance makes an object of.
typedef GUID CLSID;
/// A GUID passed by reference.
typedef const GUID& REFGUID;
/// An interface identifier passed by reference.
typedef const IID& REFIID;
/// A class identifier passed by reference.
typedef const CLSID& REFCLSID;

/// Whether two identifiers are equal.
/// \param a  one identifier
/// \param b  the other
/// \return true when all 128 bits are equal
inline constexpr bool IsEqualGUID(REFGUID a, REFGUID b) noexcept {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
/// Whether two identifiers are equal (IsEqualGUID).
/// \param a  one identifier
/// \param b  the other
/// \return true when all 128 bits are equal
inline constexpr bool operator==(REFGUID a, REFGUID b) noexcept {
    return IsEqualGUID(a, b);
}
/// Whether two identifiers differ.
/// \param a  one identifier
/// \param b  the other
/// \return true when any bit differs
inline constexpr bool operator!=(REFGUID a, REFGUID b) noexcept {
    return !IsEqualGUID(a, b);
}

/// The all-zero identifier. GetPLModule takes it for "the first module".
inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
/// The all-zero class identifier.
inline constexpr GUID CLSID_NULL = GUID_NULL;

/// Success.
inline constexpr HRESULT S_OK = 0;
/// Success with a qualification the method names: "not found" (IPLPropertyBag::GetProperty),
/// "cut to fit" (string getters), "nothing to do".
inline constexpr HRESULT S_FALSE = 1;
/// The operation is not implemented by this object.
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
/// The object does not answer the interface asked for (QueryInterface), or a listener was
/// registered under an interface the object does not accept.
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
/// A required pointer argument was null.
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
/// The operation failed; the reason is in the calling thread's error list (PLGetLastError).
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
/// An unexpected exception, or a processor fault, ended the call; the error list has a report.
inline constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
/// An argument is out of its range (a buffer size below 1, an unknown code or form).
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
/// Memory could not be allocated.
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);

/// The module's own code for a failed internal check, or a bad string index.
inline constexpr HRESULT PL_E_VERIFY = static_cast<HRESULT>(0x80040004u);
/// Module properties read before the module was initialised (IPLModule::InitModule).
inline constexpr HRESULT PL_E_MODULE_NOT_INITIALIZED = static_cast<HRESULT>(0x80040342u);
/// A module class without its own property initialisation.
inline constexpr HRESULT PL_E_NO_MODULE_PROPERTY_MAP = static_cast<HRESULT>(0x80040343u);

KDTRACE_END_DECLS

#ifndef SUCCEEDED
/// Whether an HRESULT is a success code (0 or positive).
#define SUCCEEDED(hr) (static_cast<int32_t>(hr) >= 0)
#endif
#ifndef FAILED
/// Whether an HRESULT is a failure code (negative).
#define FAILED(hr) (static_cast<int32_t>(hr) < 0)
#endif

#endif  // KDTRACE_TYPES_H
