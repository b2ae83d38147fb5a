// The diagnostics channel: every recorded error is also offered to a diagnostics console as
// one record.
#ifndef KD_PLDIAGNOSTICS_H
#define KD_PLDIAGNOSTICS_H

#include <kdtrace/types.h>

// Writes the error record for one recorded error. S_OK when a console received it, S_FALSE
// when none listens (or the record's profile is refused), E_FAIL when the write failed.
HRESULT PLWriteDiagnosticError(const WCHAR* module, const WCHAR* className, const WCHAR* method,
                               HRESULT result, LONG messageType, const WCHAR* message,
                               const WCHAR* sourceFile, ULONG sourceLine) noexcept;

#endif  // KD_PLDIAGNOSTICS_H
