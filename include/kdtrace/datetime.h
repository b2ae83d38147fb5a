/// \file
/// Date-times: a calendar date with a time of day to the second, parsed and written through date
/// masks, with Julian-day arithmetic and conversion to and from SYSTEMTIME, OLE automation dates
/// and ODBC timestamp structures.
///
/// **Date masks** are the module's own language, not strftime's. A literal character of a mask
/// stands for exactly one character of text; "%" codes stand for the fields:
///
/// | code | writes (Format) | reads (InitializeFromString) |
/// |------|-----------------|------------------------------|
/// | %m, %d | month, day without leading zero | one or two digits |
/// | %2m, %2d | month, day, two digits | two positions |
/// | %y | the year, four digits | up to four digits; 1753 to 2999, or below 100 (see the pivot) |
/// | %2y | the two-digit year ("24") | two digits, expanded by the pivot |
/// | %H | hour 00-23 | one or two digits |
/// | %h | hour 01-12 | one or two digits, 1-12 |
/// | %M, %S | minute, second, two digits | one or two digits |
/// | %p | AM or PM | A or P followed by M, m or "." |
/// | %B, %b | month name, its first three letters in capitals | a month name, its first three letters |
/// | %A, %a | weekday name, its first three letters in capitals | (not read) |
/// | %j, %w | day of the year, weekday 1 (Sunday) to 7 | (not read) |
///
/// So `%y` is the four-digit year and `%2y` the two-digit one, the opposite of strftime. The
/// keywords "SYSTEMDATE" and "SYSTEMDATETIME" stand for the mask of the object's locale
/// (IPLDateTimePriv::GetLocaleDateTimeFormatString): "%m/%d/%y" for U.S. English,
/// "%2d.%2m.%y" for German. The system's defaults are "%m-%d-%y" (date) and
/// "%m-%d-%y %h:%M:%S %p" (date and time); "%y-%2m-%2d %H:%M:%S" is the sortable form.
///
/// **The two-digit-year pivot**: a year below 100 given to a date becomes 2000 + year when
/// below the process-wide pivot (initially 10) and 1900 + year otherwise: 5 is 2005, 24 is 1924.
/// Set it with IPLDateTime::SetTwoDigitYearPivot or IPLModule::SetTwoDigitYearPivot.
///
/// **The empty value**: with the null-date check on (the default) the fields 1/1/1964 00:00:00
/// mean "empty", and a real 1 January 1964 at midnight is kept as noon; with it off, all six
/// fields -1 mean "empty". A new object is empty.
#ifndef KDTRACE_DATETIME_H
#define KDTRACE_DATETIME_H

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

/// A Windows locale identifier: 0x0409 U.S. English, 0x0407 German, 0x040C French, 0x0416
/// Brazilian Portuguese, 0x0411 Japanese, 0x041E Thai; 0x0400 the user's locale (from LC_ALL or
/// LANG, else U.S. English).
typedef DWORD LCID;
/// An OLE automation date: days since 30 December 1899, the fraction being the time of day.
typedef double DATE;

/// The calendar fields of a date-time. Day of week 0 = Sunday.
struct SYSTEMTIME {
    WORD wYear;          ///< the year (1753 and later)
    WORD wMonth;         ///< 1 to 12
    WORD wDayOfWeek;     ///< 0 (Sunday) to 6; not read, written as 0
    WORD wDay;           ///< 1 to 31
    WORD wHour;          ///< 0 to 23
    WORD wMinute;        ///< 0 to 59
    WORD wSecond;        ///< 0 to 59
    WORD wMilliseconds;  ///< not read, written as 0
};

/// The ODBC timestamp layout.
struct TIMESTAMP_STRUCT {
    int16_t year;       ///< the year
    uint16_t month;     ///< 1 to 12
    uint16_t day;       ///< 1 to 31
    uint16_t hour;      ///< 0 to 23
    uint16_t minute;    ///< 0 to 59
    uint16_t second;    ///< 0 to 59
    uint32_t fraction;  ///< nanoseconds; not read, written as 0
};

/// Comparison operator codes of the Compare methods of date-times, time spans and currencies.
enum PLCompareOperator : LONG {
    PLCompareEqual = 0,           ///< equal
    PLCompareLess = 1,            ///< less than
    PLCompareGreater = 2,         ///< greater than
    PLCompareLessOrEqual = 3,     ///< less than or equal
    PLCompareGreaterOrEqual = 4,  ///< greater than or equal
    PLCompareNotEqual = 5,        ///< not equal
};

// clang-format off
/// Identifier of IPLDateTime.
inline constexpr GUID IID_IPLDateTime = {0x83F8BC83, 0xB17A, 0x4AA9, {0xA3, 0x8A, 0xED, 0x5A, 0x35, 0x71, 0x0E, 0x60}};
/// Identifier of IPLDateTimePriv.
inline constexpr GUID IID_IPLDateTimePriv = {0xA1A61C44, 0x1140, 0x4371, {0xA4, 0x5C, 0x83, 0xB6, 0x44, 0x69, 0xEF, 0xDA}};
/// Class of a date-time (IPLDateTime, IPLDateTimePriv, IPLCloneable), made for the user's locale.
inline constexpr GUID CLSID_PLDateTime = {0x8A9E6762, 0xC6E3, 0x4928, {0x8C, 0xEC, 0x24, 0x87, 0xA9, 0x42, 0xDB, 0x1F}};
// clang-format on

/// A date-time value (CLSID_PLDateTime). Failures are E_FAIL with the reason in the thread's
/// error list unless stated; a null pointer gives E_POINTER. Not synchronised.
struct IPLDateTime : IUnknown {
    /// Slot 3: the local date and time now.
    /// \return S_OK.
    virtual HRESULT InitializeCurrentTime() = 0;
    /// Slot 4: sets date and time (InitializeDate, then InitializeTime).
    /// \param month   1 to 12
    /// \param day     1 to the month's last day
    /// \param year    the year; below 100 expanded by the two-digit-year pivot
    /// \param hour    0 to 23
    /// \param minute  0 to 59
    /// \param second  0 to 59
    /// \return S_OK; E_FAIL for an impossible date ("Invalid date", the object then empty) or
    ///         time ("Invalid time").
    virtual HRESULT Initialize(LONG month, LONG day, LONG year, LONG hour, LONG minute, LONG second) = 0;
    /// Slot 5: reads text through a mask (see the file's description). Text beyond the mask's
    /// end is ignored.
    /// \param text  the text
    /// \param mask  the mask, or "SYSTEMDATE" / "SYSTEMDATETIME" for the locale's
    /// \return S_OK; E_FAIL when the text does not fit the mask ("Invalid month value", "Year
    ///         may not be before 1753", "Unexpected end of string", ...) or gives an impossible
    ///         date; E_POINTER.
    virtual HRESULT InitializeFromString(const WCHAR* text, const WCHAR* mask) = 0;
    /// Slot 6: sets the date; the time stays.
    /// \param month  1 to 12
    /// \param day    1 to the month's last day
    /// \param year   the year; below 100 expanded by the two-digit-year pivot
    /// \return S_OK; E_FAIL for an impossible date (February 30, month 13), which also
    ///         empties the object.
    virtual HRESULT InitializeDate(LONG month, LONG day, LONG year) = 0;
    /// Slot 7: sets the time of day; the date stays.
    /// \param hour    0 to 23
    /// \param minute  0 to 59
    /// \param second  0 to 59
    /// \return S_OK; E_FAIL for a value out of range ("Invalid time").
    virtual HRESULT InitializeTime(LONG hour, LONG minute, LONG second) = 0;
    /// Slot 8: sets the date from a Julian day number; time 00:00:00.
    /// \param julian  the Julian day number (ends in .5 at midnight)
    /// \return S_OK; E_INVALIDARG for a number that is no date.
    virtual HRESULT InitializeFromJulian(double julian) = 0;
    /// Slot 9: copies another date-time's six fields (an empty one gives an empty one).
    /// \param other  the date-time
    /// \return S_OK; E_POINTER; the other's failure.
    virtual HRESULT InitializeFromDateTime(IPLDateTime* other) = 0;
    /// Slot 10: sets date and time from calendar fields.
    /// \param time  the fields (day of week and milliseconds are not read)
    /// \return as Initialize; E_POINTER.
    virtual HRESULT InitializeFromSystemTime(const SYSTEMTIME* time) = 0;
    /// Slot 11: sets date and time from an OLE automation date.
    /// \param date  days since 30 December 1899
    /// \return S_OK; E_INVALIDARG for a value that is no date.
    virtual HRESULT InitializeFromOleDateTime(DATE date) = 0;
    /// Slot 12: moves the date-time by a signed amount; units carry into the next larger one
    /// (75 seconds at 10:00:50 give 10:02:05).
    /// \param days     days to add
    /// \param hours    hours to add
    /// \param minutes  minutes to add
    /// \param seconds  seconds to add
    /// \return S_OK; E_FAIL when the result is no date.
    virtual HRESULT Adjust(LONG days, LONG hours, LONG minutes, LONG seconds) = 0;
    /// Slot 13: writes the date-time through a mask (see the file's description).
    /// \param mask    the mask, or "SYSTEMDATE" / "SYSTEMDATETIME" for the locale's
    /// \param buffer  receives at most `size` - 1 characters and a terminator
    /// \param size    the buffer's size in characters
    /// \return S_OK (also when cut); E_FAIL for a "%" at the mask's end ("Unexpected end of
    ///         format string"); E_POINTER; E_INVALIDARG for a size below 1.
    virtual HRESULT Format(const WCHAR* mask, WCHAR* buffer, LONG size) = 0;
    /// Slot 14: the Julian day number of the date alone (it ends in .5).
    /// \param julian  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetJulianValue(double* julian) = 0;
    /// Slot 15: all six fields at once.
    /// \param month   receives the month
    /// \param day     receives the day
    /// \param year    receives the year
    /// \param hour    receives the hour
    /// \param minute  receives the minute
    /// \param second  receives the second
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetDateTime(LONG* month, LONG* day, LONG* year, LONG* hour, LONG* minute, LONG* second) = 0;
    /// Slot 16: the month, 1 to 12.
    /// \param month  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetMonth(LONG* month) = 0;
    /// Slot 17: the day of the month.
    /// \param day  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetDay(LONG* day) = 0;
    /// Slot 18: the year (1964 for an empty object with the null-date check on, -1 with it off).
    /// \param year  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetYear(LONG* year) = 0;
    /// Slot 19: the hour, 0 to 23.
    /// \param hour  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetHour(LONG* hour) = 0;
    /// Slot 20: the minute.
    /// \param minute  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetMinute(LONG* minute) = 0;
    /// Slot 21: the second.
    /// \param second  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetSecond(LONG* second) = 0;
    /// Slot 22: the weekday, 1 = Sunday ... 7 = Saturday.
    /// \param day  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetDayOfWeek(LONG* day) = 0;
    /// Slot 23: the day of the year, 1 = 1 January.
    /// \param day  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetDayOfYear(LONG* day) = 0;
    /// Slot 24: the previous day, or the Saturday before when that is a Sunday (Saturday counts
    /// as a business day); time 00:00:00.
    /// \return S_OK.
    virtual HRESULT SetToLastBusinessDay() = 0;
    /// Slot 25: day 1 of the month; the time stays.
    /// \return S_OK.
    virtual HRESULT SetToFirstOfMonth() = 0;
    /// Slot 26: the month's last day (leap years counted); the time stays.
    /// \return S_OK.
    virtual HRESULT SetToLastOfMonth() = 0;
    /// Slot 27: a new object holding what SetToLastBusinessDay would give.
    /// \param result  receives it, with one reference
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetLastBusinessDay(IPLDateTime** result) = 0;
    /// Slot 28: a new object holding the first day of this month, at this time.
    /// \param result  receives it, with one reference
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetFirstOfMonth(IPLDateTime** result) = 0;
    /// Slot 29: a new object holding the last day of this month, at this time.
    /// \param result  receives it, with one reference
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetLastOfMonth(IPLDateTime** result) = 0;
    /// Slot 30: sets the process-wide two-digit-year pivot (see the file's description).
    /// \param pivot  the new pivot (not checked)
    /// \return S_OK.
    virtual HRESULT SetTwoDigitYearPivot(LONG pivot) = 0;
    /// Slot 31: compares date and time: for "equal" and "not equal" both, otherwise the date
    /// decides and the time only when the dates are equal.
    /// \param other   the other date-time
    /// \param op      a PLCompareOperator
    /// \param result  receives whether "this `op` other" holds
    /// \return S_OK; E_INVALIDARG for an unknown operator ("Invalid operator"); E_POINTER.
    virtual HRESULT Compare(IPLDateTime* other, LONG op, BOOL* result) = 0;
    /// Slot 32: compares the dates alone.
    /// \param other   the other date-time
    /// \param op      a PLCompareOperator
    /// \param result  receives whether "this `op` other" holds
    /// \return as Compare.
    virtual HRESULT CompareDate(IPLDateTime* other, LONG op, BOOL* result) = 0;
    /// Slot 33: compares the times of day alone.
    /// \param other   the other date-time
    /// \param op      a PLCompareOperator
    /// \param result  receives whether "this `op` other" holds
    /// \return as Compare.
    virtual HRESULT CompareTime(IPLDateTime* other, LONG op, BOOL* result) = 0;
    /// Slot 34: InitializeFromString without recording errors: for trying several masks.
    /// \param text     the text
    /// \param mask     the mask
    /// \param success  receives whether the text was read
    /// \return S_OK; E_POINTER.
    virtual HRESULT InitializeFromStringEx(const WCHAR* text, const WCHAR* mask, BOOL* success) = 0;
    /// Slot 35: takes the calendar of the user's locale (a Thai Buddhist calendar shifts years
    /// by 543 in text).
    /// \return S_OK; E_FAIL when the locale cannot be read.
    virtual HRESULT SetCalendarToCurrentDefault() = 0;
    /// Slot 36: makes the object empty.
    /// \return S_OK.
    virtual HRESULT Clear() = 0;
    /// Slot 37: whether the object is empty.
    /// \param empty  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT IsEmpty(BOOL* empty) = 0;
};

/// The library's own view of a date-time: locale, conversions and the null-date check.
struct IPLDateTimePriv : IPLDateTime {
    /// Slot 38: sets date and time from an ODBC timestamp (an empty timestamp stays empty).
    /// \param stamp  the timestamp (the fraction is not read)
    /// \return as Initialize; E_POINTER.
    virtual HRESULT InitializeFromTimeStampStruct(const TIMESTAMP_STRUCT* stamp) = 0;
    /// Slot 39: the date-time as an ODBC timestamp.
    /// \param stamp  receives it, fraction 0
    /// \return S_OK; E_POINTER.
    virtual HRESULT FillTimeStampStruct(TIMESTAMP_STRUCT* stamp) = 0;
    /// Slot 40: the date-time as calendar fields.
    /// \param time  receives them; day of week and milliseconds 0
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetSystemTime(SYSTEMTIME* time) = 0;
    /// Slot 41: the date-time as an OLE automation date.
    /// \param date  receives it
    /// \return S_OK; E_FAIL for a year the conversion does not take; E_POINTER.
    virtual HRESULT GetOleDateTime(DATE* date) = 0;
    /// Slot 42: the date mask of the object's locale, as "SYSTEMDATE" and "SYSTEMDATETIME" use
    /// it: "%m/%d/%y" for U.S. English, "%2d.%2m.%y" for German (with the time:
    /// "%m/%d/%y %h:%M:%S %p", "%2d.%2m.%y %H:%M:%S").
    /// \param dateOnly  nonzero for the date alone, zero for date and time
    /// \param buffer    receives the mask, cut to fit
    /// \param size      the buffer's size in characters
    /// \return S_OK; E_FAIL when the locale cannot be read; E_POINTER; E_INVALIDARG.
    virtual HRESULT GetLocaleDateTimeFormatString(BOOL dateOnly, WCHAR* buffer, LONG size) = 0;
    /// Slot 43: the object's locale.
    /// \param locale  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetLocale(LCID* locale) = 0;
    /// Slot 44: sets the locale whose masks "SYSTEMDATE" and "SYSTEMDATETIME" stand for.
    /// \param locale  the locale (not checked)
    /// \return S_OK.
    virtual HRESULT SetLocale(LCID locale) = 0;
    /// Slot 45: whether the null-date check is on (see the file's description).
    /// \param check  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetCheckForPellumNullDate(BOOL* check) = 0;
    /// Slot 46: turns the null-date check on or off; an empty object stays empty.
    /// \param check  nonzero for on
    /// \return S_OK.
    virtual HRESULT SetCheckForPellumNullDate(BOOL check) = 0;
};

KDTRACE_END_DECLS

#endif  // KDTRACE_DATETIME_H
