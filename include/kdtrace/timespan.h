// Time spans: a signed duration held as days, hours, minutes and seconds, made from components,
// from the difference of two date-times or from a count of seconds.
//
// After each initialisation a larger unit carries what a smaller one holds beyond one unit of
// it (61 seconds become 1 minute 1 second; exactly 60 seconds stay 60 seconds), and a negative
// component borrows from a larger positive one where there is one (1 day minus 30 seconds is
// 23:59:30). Totals count every component; the 32-bit totals fail when they do not fit.
#ifndef KDTRACE_TIMESPAN_H
#define KDTRACE_TIMESPAN_H

#include <kdtrace/datetime.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

// clang-format off
inline constexpr GUID IID_IPLTimeSpan = {0x2DE94383, 0x05AA, 0x4F20, {0xA7, 0x98, 0xB0, 0x4D, 0xAB, 0x84, 0xAC, 0xD6}};
inline constexpr GUID CLSID_PLTimeSpan = {0x4C50CBD8, 0x751C, 0x46B7, {0xAB, 0x16, 0xD8, 0xA7, 0x27, 0x1A, 0x69, 0x71}};
// clang-format on

// A duration. Every method returns an HRESULT; a null pointer gives E_POINTER.
struct IPLTimeSpan : IUnknown {
    virtual HRESULT Initialize(LONG days, LONG hours, LONG minutes, LONG seconds) = 0;  // slot 3
    // slot 4: end minus start, field by field (days from the Julian day numbers).
    virtual HRESULT InitializeFromDate(IPLDateTime* start, IPLDateTime* end) = 0;
    // slot 5: whole days and the remaining seconds, both with the sign of `seconds`.
    virtual HRESULT InitializeFromInt64(LONGLONG seconds) = 0;
    virtual HRESULT GetSpan(LONG* days, LONG* hours, LONG* minutes, LONG* seconds) = 0;  // slot 6
    virtual HRESULT GetDays(LONG* days) = 0;                                             // slot 7
    virtual HRESULT GetHours(LONG* hours) = 0;                                           // slot 8
    virtual HRESULT GetMinutes(LONG* minutes) = 0;                                       // slot 9
    virtual HRESULT GetSeconds(LONG* seconds) = 0;                                       // slot 10
    // slots 11-14: the whole span in whole hours, whole minutes and seconds (truncated toward
    // zero). The 32-bit forms fail when the total does not fit in 32 bits.
    virtual HRESULT GetSpanInHours(LONG* hours) = 0;
    virtual HRESULT GetSpanInMinutes(LONG* minutes) = 0;
    virtual HRESULT GetSpanInSeconds(LONG* seconds) = 0;
    virtual HRESULT GetSpanInSecondsLong(LONG* seconds) = 0;
    virtual HRESULT GetSpanInSecondsInt64(LONGLONG* seconds) = 0;  // slot 15
    // slot 16: this span `op` the other, by their totals of seconds (operator codes of
    // PLCompareOperator in <kdtrace/datetime.h>).
    virtual HRESULT Compare(IPLTimeSpan* other, LONG op, BOOL* result) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_TIMESPAN_H
