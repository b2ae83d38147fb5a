/// \file
/// Length-prefixed wide strings (BSTR), as the module hands out text it allocates (error item
/// views, signed property strings, the XML writer, variants' AllocSysString).
///
/// A BSTR points at the first character of a block allocated with the C heap (malloc). The
/// 32-bit byte length of the text lies in the four bytes before it, and the text is followed by
/// a zero character. A host frees a BSTR it received with SysFreeString; host and module share
/// the process's C heap, so either side may free what the other allocated.
#ifndef KDTRACE_BSTR_H
#define KDTRACE_BSTR_H

#include <stdlib.h>
#include <string.h>

#include <kdtrace/types.h>

KDTRACE_BEGIN_DECLS

/// A length-prefixed UTF-16 string; null is the empty string. Usable as a zero-terminated
/// `const WCHAR*`.
typedef WCHAR* BSTR;

/// A new BSTR holding `len` characters copied from `text`.
/// \param text  the characters (zeros included), or null for `len` zero characters
/// \param len   the number of characters, at most 0x3FFFFFF0
/// \return the new string, which the caller frees with SysFreeString; null when `len` is out of
///         range or memory is exhausted.
inline BSTR SysAllocStringLen(const WCHAR* text, uint32_t len) {
    if (len > 0x3FFFFFF0u) return nullptr;
    const size_t bytes = static_cast<size_t>(len) * sizeof(WCHAR);
    char* block = static_cast<char*>(malloc(sizeof(uint32_t) + bytes + sizeof(WCHAR)));
    if (block == nullptr) return nullptr;
    const uint32_t byteLen = static_cast<uint32_t>(bytes);
    memcpy(block, &byteLen, sizeof byteLen);
    WCHAR* chars = reinterpret_cast<WCHAR*>(block + sizeof(uint32_t));
    if (text != nullptr)
        memcpy(chars, text, bytes);
    else
        memset(chars, 0, bytes);
    chars[len] = 0;
    return chars;
}

/// A new BSTR holding `text` up to its first zero character.
/// \param text  zero-terminated text, or null
/// \return the new string (SysFreeString frees it); null for a null `text` or when memory is
///         exhausted.
inline BSTR SysAllocString(const WCHAR* text) {
    if (text == nullptr) return nullptr;
    uint32_t len = 0;
    while (text[len] != 0) ++len;
    return SysAllocStringLen(text, len);
}

/// Frees a BSTR.
/// \param s  a string from SysAllocString, SysAllocStringLen or the module; null does nothing
inline void SysFreeString(BSTR s) {
    if (s != nullptr) free(reinterpret_cast<char*>(s) - sizeof(uint32_t));
}

/// The length of a BSTR in bytes.
/// \param s  the string, or null
/// \return twice the number of characters; 0 for null.
inline uint32_t SysStringByteLen(BSTR s) {
    if (s == nullptr) return 0;
    uint32_t byteLen;
    memcpy(&byteLen, reinterpret_cast<const char*>(s) - sizeof(uint32_t), sizeof byteLen);
    return byteLen;
}

/// The length of a BSTR in characters (zeros inside it included).
/// \param s  the string, or null
/// \return the number of characters; 0 for null.
inline uint32_t SysStringLen(BSTR s) {
    return SysStringByteLen(s) / sizeof(WCHAR);
}

KDTRACE_END_DECLS

#endif  // KDTRACE_BSTR_H
