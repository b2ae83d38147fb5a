// CPLDateTime: a calendar date with a time of day, held as separate fields and computed through
// Julian day numbers (the Gregorian rules throughout). Parses and writes text through date masks,
// derives masks from the locale settings, and converts to and from SYSTEMTIME, OLE automation
// dates and ODBC timestamps. Objects have no lock: use one from one thread at a time.
#ifndef KD_PLDATETIME_H
#define KD_PLDATETIME_H

#include <cstdint>
#include <string>

#include <kdtrace/datetime.h>
#include <kdtrace/object.h>

#include "module_base/PLComObject.h"
#include "module_base/PLString.h"

class CPLDateTime : public CPLComObject<CPLReleaseModel>, public IPLDateTimePriv, public IPLCloneable {
    PL_BEGIN_INTERFACE_MAP(CPLDateTime, IPLDateTime)
    PL_INTERFACE_ENTRY(IPLDateTime)
    PL_INTERFACE_ENTRY(IPLDateTimePriv)
    PL_INTERFACE_ENTRY(IPLCloneable)
    PL_END_INTERFACE_MAP()

public:
    CPLDateTime() noexcept;

    // IPLDateTime
    HRESULT InitializeCurrentTime() override;
    HRESULT Initialize(LONG month, LONG day, LONG year, LONG hour, LONG minute, LONG second) override;
    HRESULT InitializeFromString(const WCHAR* text, const WCHAR* mask) override;
    HRESULT InitializeDate(LONG month, LONG day, LONG year) override;
    HRESULT InitializeTime(LONG hour, LONG minute, LONG second) override;
    HRESULT InitializeFromJulian(double julian) override;
    HRESULT InitializeFromDateTime(IPLDateTime* other) override;
    HRESULT InitializeFromSystemTime(const SYSTEMTIME* time) override;
    HRESULT InitializeFromOleDateTime(DATE date) override;
    HRESULT Adjust(LONG days, LONG hours, LONG minutes, LONG seconds) override;
    HRESULT Format(const WCHAR* mask, WCHAR* buffer, LONG size) override;
    HRESULT GetJulianValue(double* julian) override;
    HRESULT GetDateTime(LONG* month, LONG* day, LONG* year, LONG* hour, LONG* minute, LONG* second) override;
    HRESULT GetMonth(LONG* month) override;
    HRESULT GetDay(LONG* day) override;
    HRESULT GetYear(LONG* year) override;
    HRESULT GetHour(LONG* hour) override;
    HRESULT GetMinute(LONG* minute) override;
    HRESULT GetSecond(LONG* second) override;
    HRESULT GetDayOfWeek(LONG* day) override;
    HRESULT GetDayOfYear(LONG* day) override;
    HRESULT SetToLastBusinessDay() override;
    HRESULT SetToFirstOfMonth() override;
    HRESULT SetToLastOfMonth() override;
    HRESULT GetLastBusinessDay(IPLDateTime** result) override;
    HRESULT GetFirstOfMonth(IPLDateTime** result) override;
    HRESULT GetLastOfMonth(IPLDateTime** result) override;
    HRESULT SetTwoDigitYearPivot(LONG pivot) override;
    HRESULT Compare(IPLDateTime* other, LONG op, BOOL* result) override;
    HRESULT CompareDate(IPLDateTime* other, LONG op, BOOL* result) override;
    HRESULT CompareTime(IPLDateTime* other, LONG op, BOOL* result) override;
    HRESULT InitializeFromStringEx(const WCHAR* text, const WCHAR* mask, BOOL* success) override;
    HRESULT SetCalendarToCurrentDefault() override;
    HRESULT Clear() override;
    HRESULT IsEmpty(BOOL* empty) override;

    // IPLDateTimePriv
    HRESULT InitializeFromTimeStampStruct(const TIMESTAMP_STRUCT* stamp) override;
    HRESULT FillTimeStampStruct(TIMESTAMP_STRUCT* stamp) override;
    HRESULT GetSystemTime(SYSTEMTIME* time) override;
    HRESULT GetOleDateTime(DATE* date) override;
    HRESULT GetLocaleDateTimeFormatString(BOOL dateOnly, WCHAR* buffer, LONG size) override;
    HRESULT GetLocale(LCID* locale) override;
    HRESULT SetLocale(LCID locale) override;
    HRESULT GetCheckForPellumNullDate(BOOL* check) override;
    HRESULT SetCheckForPellumNullDate(BOOL check) override;

    // IPLCloneable: a new object with all nine fields of this one.
    HRESULT Clone(REFIID iid, void** object) override;

    // Composes a date mask from bit flags: month 0x80 "%b", 0x20 "%2m", 0x100 "%B", else "%m";
    // day 0x10 "%2d", else "%d"; year 0x40 "%y", else "%2y"; order 0x1 month-day-year, 0x2
    // day-month-year, 0x4 year-month-day (joined by `separator` unless it is 0), 0x8 "month day,
    // year". Flags 0 write nothing.
    static HRESULT GetDateFormatFromFormatMask(LONG flags, WCHAR separator, WCHAR* buffer, LONG size);

protected:
    ~CPLDateTime() override = default;

private:
    struct Fields {
        int32_t month, day, year, hour, minute, second;
    };
    // The operations the interface methods run inside their guarded regions; failures throw.
    void DoInitializeDate(int32_t month, int32_t day, int32_t year);
    void DoInitializeTime(int32_t hour, int32_t minute, int32_t second);
    void DoInitialize(int32_t month, int32_t day, int32_t year, int32_t hour, int32_t minute, int32_t second);
    void DoInitializeFromJulian(double julian);
    void DoInitializeFromString(const WCHAR* text, const WCHAR* mask);
    struct TextOut;
    void DoFormat(const WCHAR* mask, LONG language, TextOut& out);
    // The mask of the locale `locale` (an identifier already resolved); failures throw.
    static std::u16string BuildLocaleMask(uint32_t locale, bool dateOnly);
    // Longest locale mask read for "SYSTEMDATE" and "SYSTEMDATETIME", with its terminator.
    static constexpr LONG kKeywordMaskSize = 256;
    // The locale's mask (in `buffer`) when `mask` is one of those keywords, else `mask`.
    const WCHAR* ExpandMaskKeyword(const WCHAR* mask, WCHAR (&buffer)[kKeywordMaskSize]);
    int32_t CompareDates(IPLDateTime* other) const;
    int32_t CompareTimes(IPLDateTime* other) const;
    void ClearFields() noexcept;
    bool IsEmptyValue() const noexcept;
    void ApplyNullDateGuard() noexcept;
    // A new object with this one's locale, calendar and null-date check.
    PLComPtr<CPLDateTime> MakeSibling() const;

    BOOL m_checkNullDate = TRUE;
    Fields m_f{};
    LCID m_locale = 0x0400;
    int32_t m_calendar = 1;
};

// Makes a date-time for `locale` (the library passes 0x400, the user default).
HRESULT PLCreateDateTime(LCID locale, IPLDateTime** dateTime);

// The Julian day number of a date (ends in .5), and the date of a Julian day number. The second
// fails for a value that is not finite or lies beyond about a million years.
double PLJulianFromDate(int32_t month, int32_t day, int32_t year) noexcept;
bool PLDateFromJulian(double julian, int32_t& month, int32_t& day, int32_t& year) noexcept;

// OLE automation dates (years 100 to 9999), as the OLE Automation functions of these names.
bool PLSystemTimeToVariantTime(const SYSTEMTIME& time, DATE& date) noexcept;
bool PLVariantTimeToSystemTime(DATE date, SYSTEMTIME& time) noexcept;

#endif  // KD_PLDATETIME_H
