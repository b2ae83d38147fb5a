/// \file
/// The language resource companion "kdlocale" (libkdlocale.so): a message table with texts in
/// several languages (English and German), formatted with numbered inserts. The module loads it
/// by name for its month and weekday names and resource strings; hosts do not call it.
///
/// Insert syntax of the texts: %1 to %99 insert an argument (as text unless a printf conversion
/// follows between exclamation marks, as in %1!d! or %2!08X!); %0 ends the text without the line
/// break that otherwise ends it; %n is a line break (CR LF), %r a carriage return, %t a tab, %%
/// a percent sign, and %! %. %space the character itself.
#ifndef KDTRACE_MSGTABLE_H
#define KDTRACE_MSGTABLE_H

#include <stdint.h>

#include <kdtrace/types.h>

KDTRACE_BEGIN_DECLS

/// Kinds of PLMessageArgument.
enum PLMessageArgumentKind : int32_t {
    PLMSGARG_WIDE = 1,      ///< value.wide: zero-terminated UTF-16 text (null prints "(null)")
    PLMSGARG_NARROW = 2,    ///< value.narrow: zero-terminated UTF-8 text
    PLMSGARG_SIGNED = 3,    ///< value.i
    PLMSGARG_UNSIGNED = 4,  ///< value.u
    PLMSGARG_DOUBLE = 5,    ///< value.d
};

/// One argument of a message insert.
struct PLMessageArgument {
    int32_t kind;      ///< a PLMessageArgumentKind
    int32_t reserved;  ///< 0
    /// The value, in the member `kind` names.
    union {
        const WCHAR* wide;   ///< PLMSGARG_WIDE
        const char* narrow;  ///< PLMSGARG_NARROW
        int64_t i;           ///< PLMSGARG_SIGNED
        uint64_t u;          ///< PLMSGARG_UNSIGNED
        double d;            ///< PLMSGARG_DOUBLE
    } value;
};

/// No message of that identifier (system error 317).
inline constexpr HRESULT PL_E_MESSAGE_NOT_FOUND = static_cast<HRESULT>(0x8007013Du);
/// No text in that language (system error 1815).
inline constexpr HRESULT PL_E_LANGUAGE_NOT_FOUND = static_cast<HRESULT>(0x80070717u);
/// The buffer cannot hold the text (system error 122).
inline constexpr HRESULT PL_E_BUFFER_TOO_SMALL = static_cast<HRESULT>(0x8007007Au);
/// The companion lacks the function (system error 127).
inline constexpr HRESULT PL_E_PROC_NOT_FOUND = static_cast<HRESULT>(0x8007007Fu);

/// The export "PLLOCALE_FormatMessage": formats a message. A language is found by its exact
/// identifier, else by its primary language (the low ten bits: 0x0807 finds German texts at
/// 0x0407); languages 0 and 9 mean English. The buffer is left empty on failure.
/// \param messageId      the message
/// \param languageId     the language
/// \param arguments      the inserts' arguments
/// \param argumentCount  their number
/// \param buffer         receives the text
/// \param size           the buffer's size in characters, terminator included
/// \param length         receives the length without the terminator, when not null
/// \return S_OK; PL_E_MESSAGE_NOT_FOUND; PL_E_LANGUAGE_NOT_FOUND; PL_E_BUFFER_TOO_SMALL;
///         E_INVALIDARG for an insert without its argument or a malformed insert; E_POINTER.
typedef HRESULT (*PFN_PLLOCALE_FormatMessage)(DWORD messageId, DWORD languageId, const PLMessageArgument* arguments,
                                              ULONG argumentCount, WCHAR* buffer, ULONG size, ULONG* length);

KDTRACE_END_DECLS

#endif  // KDTRACE_MSGTABLE_H
