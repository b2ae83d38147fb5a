// The diagnostics error record.
#include "inc_module_base/PLDiagnostics.h"

HRESULT PLWriteDiagnosticError(const WCHAR*, const WCHAR*, const WCHAR*, HRESULT, LONG, const WCHAR*, const WCHAR*,
                               ULONG) noexcept {
    // No diagnostics console is reachable from this build: the record is dropped, as it is
    // whenever no console listens.
    return S_FALSE;
}
