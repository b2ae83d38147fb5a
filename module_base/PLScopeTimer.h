// A debugging aid that times a scope.
#ifndef KD_PLSCOPETIMER_H
#define KD_PLSCOPETIMER_H

#include <cstdint>

#include <kdtrace/types.h>

// A debugging aid: "<label>\t<elapsed>ms.\n" goes to the debugger output when the scope ends.
class CPLScopeTimer {
public:
    explicit CPLScopeTimer(const WCHAR* label) noexcept;
    ~CPLScopeTimer();
    CPLScopeTimer(const CPLScopeTimer&) = delete;
    CPLScopeTimer& operator=(const CPLScopeTimer&) = delete;

private:
    WCHAR m_text[256];
    uint64_t m_start;
};

#endif  // KD_PLSCOPETIMER_H
