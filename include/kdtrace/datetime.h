// Date-times: a calendar date with a time of day to the second, parsed and written through date
// masks, with Julian-day arithmetic and conversion to and from SYSTEMTIME, OLE automation dates
// and ODBC timestamp structures.
//
// Date masks: literal characters stand for one character of text each; "%" codes stand for the
// fields ("%m-%d-%y", "%m-%d-%y %h:%M:%S %p", "%y-%2m-%2d %H:%M:%S"). The keywords "SYSTEMDATE"
// and "SYSTEMDATETIME" stand for the mask of the object's locale.
//
// The empty value: with the null-date check on (the default) the fields 1/1/1964 00:00:00 mean
// "empty", and a real 1 January 1964 at midnight is kept as noon; with it off, all six fields -1
// mean "empty". A new object is empty.
#ifndef KDTRACE_DATETIME_H
#define KDTRACE_DATETIME_H

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

typedef DWORD LCID;
// An OLE automation date: days since 30 December 1899, the fraction being the time of day.
typedef double DATE;

// The calendar fields of a date-time. Day of week 0 = Sunday.
struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// The ODBC timestamp layout. The fraction counts nanoseconds.
struct TIMESTAMP_STRUCT {
    int16_t year;
    uint16_t month;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint32_t fraction;
};

// Comparison operator codes of Compare, CompareDate and CompareTime.
enum PLCompareOperator : LONG {
    PLCompareEqual = 0,
    PLCompareLess = 1,
    PLCompareGreater = 2,
    PLCompareLessOrEqual = 3,
    PLCompareGreaterOrEqual = 4,
    PLCompareNotEqual = 5,
};

// clang-format off
inline constexpr GUID IID_IPLDateTime = {0x83F8BC83, 0xB17A, 0x4AA9, {0xA3, 0x8A, 0xED, 0x5A, 0x35, 0x71, 0x0E, 0x60}};
inline constexpr GUID IID_IPLDateTimePriv = {0xA1A61C44, 0x1140, 0x4371, {0xA4, 0x5C, 0x83, 0xB6, 0x44, 0x69, 0xEF, 0xDA}};
inline constexpr GUID CLSID_PLDateTime = {0x8A9E6762, 0xC6E3, 0x4928, {0x8C, 0xEC, 0x24, 0x87, 0xA9, 0x42, 0xDB, 0x1F}};
// clang-format on

// A date-time value. Every method returns an HRESULT; a null out pointer gives E_POINTER.
struct IPLDateTime : IUnknown {
    virtual HRESULT InitializeCurrentTime() = 0;  // slot 3: local date and time now
    // slot 4: InitializeDate, then InitializeTime.
    virtual HRESULT Initialize(LONG month, LONG day, LONG year, LONG hour, LONG minute, LONG second) = 0;
    // slot 5: parses `text` through `mask`.
    virtual HRESULT InitializeFromString(const WCHAR* text, const WCHAR* mask) = 0;
    // slot 6: a year below 100 is expanded by the two-digit-year pivot; an impossible date
    // (February 30, month 13) empties the object and fails.
    virtual HRESULT InitializeDate(LONG month, LONG day, LONG year) = 0;
    virtual HRESULT InitializeTime(LONG hour, LONG minute, LONG second) = 0;        // slot 7
    virtual HRESULT InitializeFromJulian(double julian) = 0;                        // slot 8: time 00:00:00
    virtual HRESULT InitializeFromDateTime(IPLDateTime* other) = 0;                 // slot 9
    virtual HRESULT InitializeFromSystemTime(const SYSTEMTIME* time) = 0;           // slot 10
    virtual HRESULT InitializeFromOleDateTime(DATE date) = 0;                       // slot 11
    virtual HRESULT Adjust(LONG days, LONG hours, LONG minutes, LONG seconds) = 0;  // slot 12
    // slot 13: writes at most size - 1 characters and a terminator.
    virtual HRESULT Format(const WCHAR* mask, WCHAR* buffer, LONG size) = 0;
    virtual HRESULT GetJulianValue(double* julian) = 0;  // slot 14: of the date alone (ends in .5)
    virtual HRESULT GetDateTime(LONG* month, LONG* day, LONG* year, LONG* hour, LONG* minute,
                                LONG* second) = 0;  // slot 15
    virtual HRESULT GetMonth(LONG* month) = 0;      // slot 16
    virtual HRESULT GetDay(LONG* day) = 0;          // slot 17
    virtual HRESULT GetYear(LONG* year) = 0;        // slot 18
    virtual HRESULT GetHour(LONG* hour) = 0;        // slot 19
    virtual HRESULT GetMinute(LONG* minute) = 0;    // slot 20
    virtual HRESULT GetSecond(LONG* second) = 0;    // slot 21
    virtual HRESULT GetDayOfWeek(LONG* day) = 0;    // slot 22: 1 = Sunday ... 7 = Saturday
    virtual HRESULT GetDayOfYear(LONG* day) = 0;    // slot 23: 1 = 1 January
    // slot 24: the previous day, or the Saturday before when that is a Sunday; time 00:00:00.
    virtual HRESULT SetToLastBusinessDay() = 0;
    virtual HRESULT SetToFirstOfMonth() = 0;                                     // slot 25
    virtual HRESULT SetToLastOfMonth() = 0;                                      // slot 26
    virtual HRESULT GetLastBusinessDay(IPLDateTime** result) = 0;                // slot 27: a new object
    virtual HRESULT GetFirstOfMonth(IPLDateTime** result) = 0;                   // slot 28: a new object
    virtual HRESULT GetLastOfMonth(IPLDateTime** result) = 0;                    // slot 29: a new object
    virtual HRESULT SetTwoDigitYearPivot(LONG pivot) = 0;                        // slot 30: process-wide
    virtual HRESULT Compare(IPLDateTime* other, LONG op, BOOL* result) = 0;      // slot 31
    virtual HRESULT CompareDate(IPLDateTime* other, LONG op, BOOL* result) = 0;  // slot 32
    virtual HRESULT CompareTime(IPLDateTime* other, LONG op, BOOL* result) = 0;  // slot 33
    // slot 34: as InitializeFromString without recording errors; the outcome goes to `success`.
    virtual HRESULT InitializeFromStringEx(const WCHAR* text, const WCHAR* mask, BOOL* success) = 0;
    virtual HRESULT SetCalendarToCurrentDefault() = 0;  // slot 35
    virtual HRESULT Clear() = 0;                        // slot 36: the empty value
    virtual HRESULT IsEmpty(BOOL* empty) = 0;           // slot 37
};

// The library's own view of a date-time.
struct IPLDateTimePriv : IPLDateTime {
    virtual HRESULT InitializeFromTimeStampStruct(const TIMESTAMP_STRUCT* stamp) = 0;  // slot 38
    virtual HRESULT FillTimeStampStruct(TIMESTAMP_STRUCT* stamp) = 0;                  // slot 39: fraction 0
    virtual HRESULT GetSystemTime(SYSTEMTIME* time) = 0;  // slot 40: day of week, milliseconds 0
    virtual HRESULT GetOleDateTime(DATE* date) = 0;       // slot 41
    // slot 42: the mask of the object's locale, for the date alone or with the time of day.
    virtual HRESULT GetLocaleDateTimeFormatString(BOOL dateOnly, WCHAR* buffer, LONG size) = 0;
    virtual HRESULT GetLocale(LCID* locale) = 0;                 // slot 43
    virtual HRESULT SetLocale(LCID locale) = 0;                  // slot 44
    virtual HRESULT GetCheckForPellumNullDate(BOOL* check) = 0;  // slot 45
    virtual HRESULT SetCheckForPellumNullDate(BOOL check) = 0;   // slot 46: an empty object stays empty
};

KDTRACE_END_DECLS

#endif  // KDTRACE_DATETIME_H
