// Building a diagInfo record into a caller's buffer, with no allocation and no system call, so
// that the same code serves ordinary writers and signal handlers.
#ifndef KD_PLDIAGNOSTICSRECORD_H
#define KD_PLDIAGNOSTICSRECORD_H

#include <cstddef>
#include <string_view>

#include "module_base/PLDiagnostics.h"

// A piece of text: UTF-16 or UTF-8 (decoded as it is written; malformed bytes become U+FFFD).
struct PLDiagText {
    const char16_t* wide = nullptr;
    const char* narrow = nullptr;
    std::size_t size = 0;  // UTF-16 units or UTF-8 bytes

    static PLDiagText Wide(std::u16string_view s) noexcept { return {s.data(), nullptr, s.size()}; }
    static PLDiagText Narrow(std::string_view s) noexcept { return {nullptr, s.data(), s.size()}; }
};

struct PLDiagColumn {
    PLDiagText name;
    PLDiagText value;
};

// The profile header ("<diagInfo><type><![CDATA[error-profile]]></type>"); empty for a value
// that is not a profile.
std::u16string_view PLDiagProfileHeader(ULONG profile) noexcept;

// The record's length in UTF-16 units, the two leading characters and the terminator included,
// before any cut.
std::size_t PLDiagRecordLength(ULONG profile, const PLDiagnosticsTime& time, const PLDiagColumn* columns,
                               std::size_t count) noexcept;

// Writes the record into `out` and returns the units written, the terminator included. Values
// are written so that an XML parser reads them back (see platform/DiagWire.h): "]]>" splits the
// CDATA section, a carriage return becomes "&#13;" between sections, and characters XML cannot
// hold (U+0000-U+001F but tab and line feed, U+FFFE, U+FFFF, unpaired surrogates) become U+FFFD.
// Cuts count units of the value itself. When the
// record is longer than `capacity`, the longest values are cut (never inside a surrogate pair)
// until it fits; if the names alone do not fit, columns are left off from the end. Returns 0 when
// not even a record without columns fits.
std::size_t PLBuildDiagRecord(char16_t* out, std::size_t capacity, ULONG profile, const PLDiagnosticsTime& time,
                              const PLDiagColumn* columns, std::size_t count) noexcept;

#endif  // KD_PLDIAGNOSTICSRECORD_H
