// The diagnostics error record sent from a signal handler (a stack overflow reported from the
// alternate signal stack): only async-signal-safe calls, no allocation, narrow (UTF-8) text.
#ifndef KD_PLDIAGNOSTICSSIGNAL_H
#define KD_PLDIAGNOSTICSSIGNAL_H

#include <kdtrace/types.h>

// The same record as PLWriteDiagnosticError (without the message type, which is not written).
// S_OK when a console received it, S_FALSE when none listens, E_FAIL when the write failed.
HRESULT PLWriteDiagnosticErrorSignalSafe(const char* module, const char* className,
                                         const char* method, HRESULT result, const char* message,
                                         const char* sourceFile, ULONG sourceLine) noexcept;

#endif  // KD_PLDIAGNOSTICSSIGNAL_H
