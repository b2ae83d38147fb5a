// The language resource companion "kdlocale" (libkdlocale.so): a message table with texts in
// several languages, formatted with numbered inserts.
//
// Insert syntax of the texts: %1 to %99 insert an argument (as text unless a printf conversion
// follows between exclamation marks, as in %1!d! or %2!08X!); %0 ends the text without the line
// break that otherwise ends it; %n is a line break (CR LF), %r a carriage return, %t a tab, %%
// a percent sign, and %! %. %space the character itself.
#ifndef KDTRACE_MSGTABLE_H
#define KDTRACE_MSGTABLE_H

#include <stdint.h>

#include <kdtrace/types.h>

KDTRACE_BEGIN_DECLS

// Kinds of PLMessageArgument.
enum PLMessageArgumentKind : int32_t {
    PLMSGARG_WIDE = 1,      // value.wide: zero-terminated UTF-16 text (null prints "(null)")
    PLMSGARG_NARROW = 2,    // value.narrow: zero-terminated UTF-8 text
    PLMSGARG_SIGNED = 3,    // value.i
    PLMSGARG_UNSIGNED = 4,  // value.u
    PLMSGARG_DOUBLE = 5,    // value.d
};

struct PLMessageArgument {
    int32_t kind;
    int32_t reserved;
    union {
        const WCHAR* wide;
        const char* narrow;
        int64_t i;
        uint64_t u;
        double d;
    } value;
};

// Results besides S_OK, E_POINTER and E_INVALIDARG (an insert without its argument, or a
// malformed insert), in the Win32 facility so that the low word is the system error number.
inline constexpr HRESULT PL_E_MESSAGE_NOT_FOUND = static_cast<HRESULT>(0x8007013Du);   // 317
inline constexpr HRESULT PL_E_LANGUAGE_NOT_FOUND = static_cast<HRESULT>(0x80070717u);  // 1815
inline constexpr HRESULT PL_E_BUFFER_TOO_SMALL = static_cast<HRESULT>(0x8007007Au);    // 122
inline constexpr HRESULT PL_E_PROC_NOT_FOUND = static_cast<HRESULT>(0x8007007Fu);      // 127

// Formats message `messageId` in `languageId` into `buffer` (`size` characters with the
// terminator) and stores the length without the terminator in `*length` when given. A language
// is found by its exact identifier, else by its primary language (the low ten bits: 0x0807 finds
// German texts at 0x0407); languages 0 and 9 mean English. The buffer is left empty on failure.
typedef HRESULT (*PFN_PLLOCALE_FormatMessage)(DWORD messageId, DWORD languageId, const PLMessageArgument* arguments,
                                              ULONG argumentCount, WCHAR* buffer, ULONG size, ULONG* length);

KDTRACE_END_DECLS

#endif  // KDTRACE_MSGTABLE_H
