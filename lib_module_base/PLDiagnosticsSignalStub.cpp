// The signal-safe diagnostics error record.
#include "inc_module_base/PLDiagnosticsSignal.h"

HRESULT PLWriteDiagnosticErrorSignalSafe(const char*, const char*, const char*, HRESULT,
                                         const char*, const char*, ULONG) noexcept {
    // No diagnostics console is reachable from this build: the record is dropped, as it is
    // whenever no console listens.
    return S_FALSE;
}
