/// \file
/// Time spans: a signed duration held as days, hours, minutes and seconds, made from components,
/// from the difference of two date-times or from a count of seconds.
///
/// After each initialisation a larger unit carries what a smaller one holds beyond one unit of
/// it (61 seconds become 1 minute 1 second; exactly 60 seconds stay 60 seconds), and a negative
/// component borrows from a larger positive one where there is one (1 day minus 30 seconds is
/// 23:59:30). Totals count every component; the 32-bit totals fail when they do not fit.
#ifndef KDTRACE_TIMESPAN_H
#define KDTRACE_TIMESPAN_H

#include <kdtrace/datetime.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

// clang-format off
/// Identifier of IPLTimeSpan.
inline constexpr GUID IID_IPLTimeSpan = {0x2DE94383, 0x05AA, 0x4F20, {0xA7, 0x98, 0xB0, 0x4D, 0xAB, 0x84, 0xAC, 0xD6}};
/// Class of a time span (IPLTimeSpan, IPLCloneable).
inline constexpr GUID CLSID_PLTimeSpan = {0x4C50CBD8, 0x751C, 0x46B7, {0xAB, 0x16, 0xD8, 0xA7, 0x27, 0x1A, 0x69, 0x71}};
// clang-format on

/// A duration (CLSID_PLTimeSpan), zero when new. A null pointer gives E_POINTER.
struct IPLTimeSpan : IUnknown {
    /// Slot 3: sets the four components, then carries and borrows (see the file's description).
    /// \param days     days
    /// \param hours    hours
    /// \param minutes  minutes
    /// \param seconds  seconds
    /// \return S_OK.
    virtual HRESULT Initialize(LONG days, LONG hours, LONG minutes, LONG seconds) = 0;
    /// Slot 4: end minus start, field by field (days from the Julian day numbers): from 10:00
    /// on 1 March to 9:30 on 2 March is 0 days 23:30:00.
    /// \param start  the earlier date-time
    /// \param end    the later one
    /// \return S_OK; E_POINTER; the date-times' failure.
    virtual HRESULT InitializeFromDate(IPLDateTime* start, IPLDateTime* end) = 0;
    /// Slot 5: whole days and the remaining seconds, both with the sign of `seconds`.
    /// \param seconds  the duration in seconds
    /// \return S_OK; E_FAIL when the days do not fit 32 bits.
    virtual HRESULT InitializeFromInt64(LONGLONG seconds) = 0;
    /// Slot 6: the four components.
    /// \param days     receives the days
    /// \param hours    receives the hours
    /// \param minutes  receives the minutes
    /// \param seconds  receives the seconds
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetSpan(LONG* days, LONG* hours, LONG* minutes, LONG* seconds) = 0;
    /// Slot 7: the days component.
    /// \param days  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetDays(LONG* days) = 0;
    /// Slot 8: the hours component.
    /// \param hours  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetHours(LONG* hours) = 0;
    /// Slot 9: the minutes component.
    /// \param minutes  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetMinutes(LONG* minutes) = 0;
    /// Slot 10: the seconds component.
    /// \param seconds  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetSeconds(LONG* seconds) = 0;
    /// Slot 11: the whole span in whole hours (truncated toward zero).
    /// \param hours  receives it
    /// \return S_OK; E_FAIL when it does not fit 32 bits; E_POINTER.
    virtual HRESULT GetSpanInHours(LONG* hours) = 0;
    /// Slot 12: the whole span in whole minutes (truncated toward zero).
    /// \param minutes  receives it
    /// \return S_OK; E_FAIL when it does not fit 32 bits; E_POINTER.
    virtual HRESULT GetSpanInMinutes(LONG* minutes) = 0;
    /// Slot 13: the whole span in seconds.
    /// \param seconds  receives it
    /// \return S_OK; E_FAIL when it does not fit 32 bits; E_POINTER.
    virtual HRESULT GetSpanInSeconds(LONG* seconds) = 0;
    /// Slot 14: the same as GetSpanInSeconds.
    /// \param seconds  receives it
    /// \return as GetSpanInSeconds.
    virtual HRESULT GetSpanInSecondsLong(LONG* seconds) = 0;
    /// Slot 15: the whole span in seconds, 64 bits.
    /// \param seconds  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetSpanInSecondsInt64(LONGLONG* seconds) = 0;
    /// Slot 16: compares two spans by their totals of seconds.
    /// \param other   the other span
    /// \param op      a PLCompareOperator (<kdtrace/datetime.h>)
    /// \param result  receives whether "this `op` other" holds
    /// \return S_OK; E_INVALIDARG for an unknown operator; E_POINTER.
    virtual HRESULT Compare(IPLTimeSpan* other, LONG op, BOOL* result) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_TIMESPAN_H
