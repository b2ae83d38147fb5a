#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include <kdtrace/datetime.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDateTime.h"
#include "module_base/PLProcessSwitches.h"
#include "support/ErrorList.h"

namespace {

struct F {
    LONG month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    bool operator==(const F&) const = default;
};
void PrintTo(const F& f, std::ostream* os) {
    *os << f.month << "/" << f.day << "/" << f.year << " " << f.hour << ":" << f.minute << ":" << f.second;
}

PLComPtr<IPLDateTimePriv> New(LCID locale = 0x0409) {
    PLComPtr<IPLDateTimePriv> dt;
    EXPECT_EQ(PLCreateInstance(CLSID_PLDateTime, IID_IPLDateTimePriv, dt.PutVoid()), S_OK);
    if (dt) dt->SetLocale(locale);
    return dt;
}

PLComPtr<IPLDateTimePriv> At(const F& f, LCID locale = 0x0409) {
    auto dt = New(locale);
    EXPECT_EQ(dt->Initialize(f.month, f.day, f.year, f.hour, f.minute, f.second), S_OK);
    return dt;
}

F Get(IPLDateTime* dt) {
    F f{};
    EXPECT_EQ(dt->GetDateTime(&f.month, &f.day, &f.year, &f.hour, &f.minute, &f.second), S_OK);
    return f;
}

std::u16string Fmt(IPLDateTime* dt, const char16_t* mask, LONG size = 256) {
    WCHAR buffer[256];
    const HRESULT hr = dt->Format(mask, buffer, size);
    return hr < 0 ? u"<failed>" : std::u16string(buffer);
}

bool IsEmpty(IPLDateTime* dt) {
    BOOL empty = FALSE;
    EXPECT_EQ(dt->IsEmpty(&empty), S_OK);
    return empty != FALSE;
}

using kdtest::Recorded;

struct PivotRestorer {
    ~PivotRestorer() { PLSetTwoDigitYearPivot(10); }
};

TEST(DateTimeTest, NewObjectIsEmptyInBothRepresentationsAndCloneCarriesEveryField) {
    auto dt = New();
    EXPECT_TRUE(IsEmpty(dt.Get()));
    EXPECT_EQ(Get(dt.Get()), (F{1, 1, 1964, 0, 0, 0}));
    ASSERT_EQ(dt->SetCheckForPellumNullDate(FALSE), S_OK);
    EXPECT_TRUE(IsEmpty(dt.Get()));
    EXPECT_EQ(Get(dt.Get()), (F{-1, -1, -1, -1, -1, -1}));
    ASSERT_EQ(dt->SetCheckForPellumNullDate(TRUE), S_OK);
    EXPECT_EQ(Get(dt.Get()), (F{1, 1, 1964, 0, 0, 0}));

    // A real date keeps its fields when the representation changes; 1/1/1964 00:00 is kept as noon.
    auto real = At({1, 1, 1964, 0, 0, 0}, 0x0411);
    EXPECT_EQ(Get(real.Get()), (F{1, 1, 1964, 12, 0, 0}));
    EXPECT_FALSE(IsEmpty(real.Get()));
    ASSERT_EQ(real->SetCheckForPellumNullDate(FALSE), S_OK);
    PLComPtr<IPLCloneable> cloneable;
    ASSERT_EQ(real->QueryInterface(IID_IPLCloneable, cloneable.PutVoid()), S_OK);
    PLComPtr<IPLDateTimePriv> copy;
    ASSERT_EQ(cloneable->Clone(IID_IPLDateTimePriv, copy.PutVoid()), S_OK);
    EXPECT_EQ(Get(copy.Get()), (F{1, 1, 1964, 12, 0, 0}));
    LCID locale = 0;
    BOOL check = TRUE;
    copy->GetLocale(&locale);
    copy->GetCheckForPellumNullDate(&check);
    EXPECT_EQ(locale, 0x0411u);
    EXPECT_EQ(check, FALSE);
}

// Julian day, weekday (1 = Sunday) and day of the year, at calendar edges. The Gregorian rules
// apply to every date, before the 1582 reform too.
TEST(DateTimeTest, JulianDaysWeekdaysAndDaysOfYear) {
    struct Row {
        F date;
        double julian;
        LONG weekday, dayOfYear;
    } const rows[] = {
        {{1, 1, 2000}, 2451544.5, 7, 1},  {{2, 29, 2000}, 2451603.5, 3, 60},   {{12, 31, 2000}, 2451909.5, 1, 366},
        {{3, 1, 1900}, 2415079.5, 5, 60}, {{10, 15, 1582}, 2299160.5, 6, 288}, {{10, 4, 1582}, 2299149.5, 2, 277},
        {{1, 1, 1964}, 2438395.5, 4, 1},  {{12, 31, 9999}, 5373483.5, 6, 365}, {{1, 1, 1753}, 2361330.5, 2, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.julian);
        auto dt = New();
        ASSERT_EQ(dt->InitializeDate(r.date.month, r.date.day, r.date.year), S_OK);
        double julian = 0;
        LONG weekday = 0, dayOfYear = 0;
        dt->GetJulianValue(&julian);
        dt->GetDayOfWeek(&weekday);
        dt->GetDayOfYear(&dayOfYear);
        EXPECT_EQ(julian, r.julian);
        EXPECT_EQ(weekday, r.weekday);
        EXPECT_EQ(dayOfYear, r.dayOfYear);
        auto back = New();
        ASSERT_EQ(back->InitializeFromJulian(julian + 0.3), S_OK);
        const F f = Get(back.Get());
        EXPECT_EQ((F{f.month, f.day, f.year, 0, 0, 0}), (F{r.date.month, r.date.day, r.date.year, 0, 0, 0}));
    }
    auto dt = New();
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300, -1e15})
        EXPECT_EQ(dt->InitializeFromJulian(bad), E_INVALIDARG);
}

TEST(DateTimeTest, InvalidDatesAndTimesAreRefusedAndAnInvalidDateEmptiesTheObject) {
    struct Row {
        LONG month, day, year;
        bool valid;
    } const dates[] = {{2, 29, 2000, true},      {2, 29, 2001, false},      {2, 29, 1900, false}, {13, 1, 2000, false},
                       {0, 1, 2000, false},      {4, 31, 2000, false},      {1, 0, 2000, false},  {12, 31, 2999, true},
                       {1, 1, INT32_MIN, false}, {12, 31, INT32_MAX, false}};
    for (const Row& r : dates) {
        auto dt = At({6, 15, 2010, 10, 0, 0});
        EXPECT_EQ(dt->InitializeDate(r.month, r.day, r.year) >= 0, r.valid) << r.month << "/" << r.day << "/" << r.year;
        if (!r.valid) {
            EXPECT_TRUE(Recorded(u"Invalid date"));
            EXPECT_TRUE(IsEmpty(dt.Get()));
        }
    }
    auto dt = New();
    for (const F& t : {F{0, 0, 0, 24, 0, 0}, F{0, 0, 0, 0, 60, 0}, F{0, 0, 0, 0, 0, 60}, F{0, 0, 0, -1, 0, 0}}) {
        EXPECT_EQ(dt->InitializeTime(t.hour, t.minute, t.second), E_FAIL);
        EXPECT_TRUE(Recorded(u"Invalid time"));
    }
}

TEST(DateTimeTest, AFailedStepIsRecordedUnderItsMethodThenUnderEachCaller) {
    auto dt = New();
    EXPECT_EQ(dt->InitializeFromString(u"2-30-2024", u"%m-%d-%y"), E_FAIL);
    std::vector<std::u16string> chain;
    for (const auto& e : kdtest::TakeThreadErrors()) {
        EXPECT_EQ(e.module + u"/" + e.className, u"Core Services/CPLDateTime");
        chain.push_back(e.method + u": " + e.message);
    }
    EXPECT_EQ(chain,
              (std::vector<std::u16string>{u"InitializeDate: Invalid date", u"Initialize: Failed to initialize date",
                                           u"InitializeFromString: Failed to initialize"}));
}

TEST(DateTimeTest, TwoDigitYearsFollowTheProcessWidePivot) {
    PivotRestorer restore;
    struct Row {
        LONG pivot, year, expanded;
    } const rows[] = {{10, 5, 2005},  {10, 9, 2009},  {10, 10, 1910}, {10, 99, 1999}, {10, 0, 2000},
                      {50, 49, 2049}, {50, 50, 1950}, {0, 0, 1900},   {10, 100, 100}};
    for (const Row& r : rows) {
        auto dt = New();
        // The object's setter and the module's switch are one value.
        if ((&r - rows) % 2 == 0)
            PLSetTwoDigitYearPivot(r.pivot);
        else
            dt->SetTwoDigitYearPivot(r.pivot);
        EXPECT_EQ(PLGetTwoDigitYearPivot(), r.pivot);
        ASSERT_EQ(dt->InitializeDate(3, 1, r.year), S_OK);
        EXPECT_EQ(Get(dt.Get()).year, r.expanded) << r.year;
    }
}

TEST(DateTimeTest, ParsingEveryCode) {
    const char16_t* kDefault = u"%m-%d-%y %h:%M:%S %p";
    struct Row {
        const char16_t* text;
        const char16_t* mask;
        F expected;
        const char16_t* error;  // null: succeeds
    } const rows[] = {
        {u"12-31-99", u"%m-%d-%y", {12, 31, 1999, 0, 0, 0}, nullptr},
        {u" 3- 5-2024 garbage", u"%m-%D-%Y", {3, 5, 2024, 0, 0, 0}, nullptr},
        {u"03052024", u"%2m%2D%y", {3, 5, 2024, 0, 0, 0}, nullptr},
        {u" 3 52024", u"%2m%2d%y", {3, 5, 2024, 0, 0, 0}, nullptr},
        {u"240305", u"%2y%2m%2d", {3, 5, 1924, 0, 0, 0}, nullptr},
        {u"3-5-08", u"%m-%d-%2Y", {3, 5, 2008, 0, 0, 0}, nullptr},
        {u"march 5, 2024", u"%B %d, %y", {3, 5, 2024, 0, 0, 0}, nullptr},
        {u"Junexx 5 2024", u"%Bxx %d %y", {6, 5, 2024, 0, 0, 0}, nullptr},
        {u"dEc-05-2024", u"%b-%d-%y", {12, 5, 2024, 0, 0, 0}, nullptr},
        {u"01-02-2003 12:30:00 AM", kDefault, {1, 2, 2003, 0, 30, 0}, nullptr},
        {u"01-02-2003 12:30:00 PM", kDefault, {1, 2, 2003, 12, 30, 0}, nullptr},
        {u"01-02-2003 01:07:09 pm", kDefault, {1, 2, 2003, 13, 7, 9}, nullptr},
        {u"01-02-2003 11:07:09 a.", kDefault, {1, 2, 2003, 11, 7, 9}, nullptr},
        {u"3-5-2024 PM 01:07:09", u"%m-%d-%y %p %h:%M:%S", {3, 5, 2024, 13, 7, 9}, nullptr},
        {u"3-5-2024 AM 12:30:05", u"%m-%d-%y %P %h:%M:%s", {3, 5, 2024, 0, 30, 5}, nullptr},
        {u"3-5-2024 PM 12:30", u"%m-%d-%y %p %h:%M", {3, 5, 2024, 12, 30, 0}, nullptr},
        {u"2024-03-05  7:5:9", u"%y-%2m-%2d %H:%M:%S", {3, 5, 2024, 7, 5, 9}, nullptr},
        {u"3-5-2024", kDefault, {3, 5, 2024, 0, 0, 0}, nullptr},  // the text ends first
        {u"1752", u"%y", {}, u"Year may not be before 1753"},
        {u"3000", u"%y", {}, u"Year may not be after 2999"},
        {u"x-5-2024", u"%m-%d-%y", {}, u"Invalid month value"},
        {u"3-x-2024", u"%m-%d-%y", {}, u"Invalid day value"},
        {u"Mai 5 2024", u"%B %d %y", {}, u"Invalid month name"},
        {u"Ja", u"%b", {}, u"Invalid month name"},
        {u"3-5-2024 13:00:00", u"%m-%d-%y %h:%M:%S", {}, u"Invalid hour value"},
        {u"3-5-2024 x", u"%m-%d-%y %H", {}, u"Invalid hour value"},
        {u"3-5-2024 01:00:00 XM", kDefault, {}, u"Invalid AM/PM stamp"},
        {u"3-5-2024 01:00:00 A", kDefault, {}, u"Invalid AM/PM stamp"},
        {u"2-30-2024", u"%m-%d-%y", {}, u"Invalid date"},
        {u"3-5-2024 25:00", u"%m-%d-%y %H:%M", {}, u"Invalid time"},
        {u"", u"%m", {}, u"Unexpected end of string"},
        {u"3-5-2024x", u"%m-%d-%y%", {}, u"Unexpected end of string"},
        {u"3-5-2024x", u"%m-%d-%y%2", {}, u"Unexpected end of string"},
        {u"3-5-2024x", u"%m-%d-%y%Q", {}, u"Unexpected end of string"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.text, r.text + std::char_traits<char16_t>::length(r.text)));
        auto dt = New();
        const HRESULT hr = dt->InitializeFromString(r.text, r.mask);
        if (r.error == nullptr) {
            ASSERT_EQ(hr, S_OK);
            EXPECT_EQ(Get(dt.Get()), r.expected);
        } else {
            EXPECT_LT(hr, 0);
            EXPECT_TRUE(Recorded(r.error));
            BOOL ok = TRUE;
            EXPECT_EQ(dt->InitializeFromStringEx(r.text, r.mask, &ok), S_OK);
            EXPECT_EQ(ok, FALSE);
            EXPECT_TRUE(kdtest::TakeThreadErrors().empty());
        }
    }
    auto dt = New();
    BOOL ok = FALSE;
    EXPECT_EQ(dt->InitializeFromString(nullptr, u"%m"), E_POINTER);
    EXPECT_EQ(dt->InitializeFromStringEx(u"7-4-1976", u"%m-%d-%y", &ok), S_OK);
    EXPECT_EQ(ok, TRUE);
}

TEST(DateTimeTest, FormattingEveryCode) {
    auto dt = At({3, 5, 2024, 13, 7, 9});  // a Tuesday
    struct Row {
        const char16_t* mask;
        const char16_t* expected;
    } const rows[] = {
        {u"%m-%d-%y %h:%M:%S %p", u"3-5-2024 01:07:09 PM"},
        {u"%y-%2m-%2d %H:%M:%S", u"2024-03-05 13:07:09"},
        {u"%2y|%j|%w", u"24|65|3"},
        {u"%A %a %B %b", u"Tuesday TUE March MAR"},
        {u"%!", u"3/5/2024"},
        {u"[%2x][%Qab]", u"[2x][Qb]"},  // an unknown code is written, the character after it skipped
        {u"%", u"<failed>"},
        {u"ab%2", u"<failed>"},
        {u"ab%Q", u"<failed>"},
        {u"%D-%Y-%P-%s.", u"DYPs"},  // parser-only codes are unknown here
    };
    for (const Row& r : rows) EXPECT_EQ(Fmt(dt.Get(), r.mask), r.expected);
    EXPECT_TRUE(Recorded(u"Unexpected end of format string"));

    auto midnight = At({1, 9, 1850, 0, 0, 0});
    EXPECT_EQ(Fmt(midnight.Get(), u"%h %p|%2y|%H"), u"12 AM|50|00");
    auto noon = At({12, 31, 1999, 12, 0, 0});
    EXPECT_EQ(Fmt(noon.Get(), u"%h %p %2d/%2m"), u"12 PM 31/12");

    // Output is cut to the buffer; a failure leaves it empty.
    EXPECT_EQ(Fmt(dt.Get(), u"%y-%2m-%2d", 5), u"2024");
    EXPECT_EQ(Fmt(dt.Get(), u"%y-%2m-%2d", 1), u"");
    WCHAR buffer[4] = u"xyz";
    EXPECT_EQ(dt->Format(u"%", buffer, 4), E_FAIL);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(dt->Format(u"%y", buffer, 0), E_INVALIDARG);
    EXPECT_EQ(dt->Format(nullptr, buffer, 4), E_POINTER);
}

TEST(DateTimeTest, LocaleMasksAndEveryWrittenMaskReadsBack) {
    struct Locale {
        LCID id;
        const char16_t* mask;
    } const locales[] = {
        {0x0409, u"%m/%d/%y %h:%M:%S %p"}, {0x0407, u"%2d.%2m.%y %H:%M:%S"}, {0x040C, u"%2d/%2m/%y %H:%M:%S"},
        {0x0416, u"%2d/%2m/%y %H:%M:%S"},  {0x0411, u"%y/%2m/%2d %H:%M:%S"}, {0x041E, u"%d/%m/%y %H:%M:%S"},
    };
    const char16_t* masks[] = {u"SYSTEMDATETIME",       u"systemdate",           u"%m-%d-%y %h:%M:%S %p",
                               u"%y-%2m-%2d %H:%M:%S",  u"%p %h:%M:%S %m/%d/%y", u"%B %d, %y %H:%M:%S",
                               u"%b %2d %y %h:%M:%S %p"};
    const F dates[] = {{3, 5, 2024, 13, 7, 9},    {12, 31, 1999, 0, 30, 5}, {1, 1, 2000, 12, 0, 0},
                       {7, 14, 1789, 23, 59, 59}, {1, 1, 1964, 12, 0, 0},   {10, 10, 2010, 10, 10, 10}};
    for (const Locale& l : locales) {
        auto dt = New(l.id);
        WCHAR mask[64];
        ASSERT_EQ(dt->GetLocaleDateTimeFormatString(FALSE, mask, 64), S_OK);
        EXPECT_EQ(std::u16string(mask), l.mask);
        ASSERT_EQ(dt->GetLocaleDateTimeFormatString(TRUE, mask, 6), S_OK);  // cut to fit
        EXPECT_EQ(std::u16string(mask), std::u16string(l.mask).substr(0, 5));
        for (const char16_t* m : masks) {
            const bool dateOnly = m[0] == u's';
            for (const F& d : dates) {
                auto source = At(d, l.id);
                const std::u16string text = Fmt(source.Get(), m);
                auto back = New(l.id);
                ASSERT_EQ(back->InitializeFromString(text.c_str(), m), S_OK)
                    << std::hex << l.id << " " << std::string(text.begin(), text.end());
                F expected = d;
                if (dateOnly) expected.hour = expected.minute = expected.second = 0;
                if (expected == F{1, 1, 1964, 0, 0, 0}) expected.hour = 12;
                EXPECT_EQ(Get(back.Get()), expected)
                    << std::hex << l.id << " " << std::string(text.begin(), text.end());
            }
        }
    }
}

TEST(DateTimeTest, MaskFromFlags) {
    struct Row {
        LONG flags;
        WCHAR separator;
        LONG size;
        const char16_t* expected;
    } const rows[] = {
        {0x1 | 0x10 | 0x40, u'/', 32, u"%m/%2d/%y"},
        {0x2, 0, 32, u"%d%m%2y"},
        {0x4 | 0x20, u'-', 32, u"%2y-%2m-%d"},
        {0x8 | 0x100, u'/', 32, u"%B %d, %2y"},
        {0x1 | 0x80 | 0x20, u'.', 32, u"%b.%d.%2y"},
        {0x1, u'/', 4, u"%m/"},
        {0x10, u'/', 32, u""},
        {0, u'/', 32, u"untouched"},
    };
    for (const Row& r : rows) {
        WCHAR buffer[32] = u"untouched";
        EXPECT_EQ(CPLDateTime::GetDateFormatFromFormatMask(r.flags, r.separator, buffer, r.size), S_OK);
        EXPECT_EQ(std::u16string(buffer), r.expected) << r.flags;
    }
    WCHAR one[1];
    EXPECT_EQ(CPLDateTime::GetDateFormatFromFormatMask(1, u'/', one, 0), E_INVALIDARG);
    EXPECT_EQ(CPLDateTime::GetDateFormatFromFormatMask(1, u'/', nullptr, 4), E_POINTER);
}

TEST(DateTimeTest, AdjustNormalisesEveryFieldAcrossBoundaries) {
    struct Row {
        F start;
        LONG days, hours, minutes, seconds;
        F expected;
    } const rows[] = {
        {{3, 5, 2024, 10, 0, 50}, 0, 0, 0, 75, {3, 5, 2024, 10, 2, 5}},
        {{12, 31, 2023, 23, 59, 59}, 0, 0, 60, 1, {1, 1, 2024, 1, 0, 0}},
        {{3, 5, 2024, 10, 0, 0}, 0, 0, -60, -1, {3, 5, 2024, 8, 59, 59}},
        {{3, 1, 2024, 0, 0, 0}, 0, 0, 0, -1, {2, 29, 2024, 23, 59, 59}},
        {{2, 28, 2023, 6, 0, 0}, 1, 0, 0, 0, {3, 1, 2023, 6, 0, 0}},
        {{1, 2, 2000, 0, 30, 0}, 0, -25, 0, 0, {12, 31, 1999, 23, 30, 0}},
        {{1, 1, 2000, 0, 0, 0}, 36525, 0, 0, 0, {1, 1, 2100, 0, 0, 0}},
        {{1, 1, 2000, 0, 0, 0}, 0, 0, 0, INT32_MIN, {12, 13, 1931, 20, 45, 52}},
        {{1, 2, 1964, 0, 0, 0}, -1, 0, 0, 0, {1, 1, 1964, 12, 0, 0}},  // a real date does not turn empty
    };
    for (const Row& r : rows) {
        auto dt = At(r.start);
        ASSERT_EQ(dt->Adjust(r.days, r.hours, r.minutes, r.seconds), S_OK);
        EXPECT_EQ(Get(dt.Get()), r.expected);
    }
    auto empty = New();
    ASSERT_EQ(empty->Adjust(1, 0, 0, 0), S_OK);
    EXPECT_EQ(Get(empty.Get()), (F{1, 2, 1964, 0, 0, 0}));
    auto far = At({1, 1, 2000, 0, 0, 0});
    EXPECT_EQ(far->Adjust(INT32_MAX, 0, 0, 0), E_INVALIDARG);
    EXPECT_TRUE(Recorded(u"Failed to set value"));
}

TEST(DateTimeTest, MonthEndsAndBusinessDays) {
    struct Row {
        F start;
        LONG lastDay;
        F businessDay;
    } const rows[] = {
        {{3, 4, 2024, 9, 8, 7}, 31, {3, 2, 2024, 0, 0, 0}},    // Monday: the Saturday before
        {{3, 3, 2024, 9, 8, 7}, 31, {3, 2, 2024, 0, 0, 0}},    // Sunday: the Saturday before
        {{3, 2, 2024, 9, 8, 7}, 31, {3, 1, 2024, 0, 0, 0}},    // Saturday: Friday
        {{1, 1, 2024, 9, 8, 7}, 31, {12, 30, 2023, 0, 0, 0}},  // across the year
        {{2, 10, 2024, 9, 8, 7}, 29, {2, 9, 2024, 0, 0, 0}},  {{2, 10, 1900, 9, 8, 7}, 28, {2, 9, 1900, 0, 0, 0}},
        {{2, 10, 2000, 9, 8, 7}, 29, {2, 9, 2000, 0, 0, 0}},  {{4, 20, 2023, 9, 8, 7}, 30, {4, 19, 2023, 0, 0, 0}},
    };
    for (const Row& r : rows) {
        auto dt = At(r.start);
        PLComPtr<IPLDateTime> first, last, business;
        ASSERT_EQ(dt->GetFirstOfMonth(first.Put()), S_OK);
        ASSERT_EQ(dt->GetLastOfMonth(last.Put()), S_OK);
        ASSERT_EQ(dt->GetLastBusinessDay(business.Put()), S_OK);
        EXPECT_EQ(Get(first.Get()), (F{r.start.month, 1, r.start.year, 9, 8, 7}));
        EXPECT_EQ(Get(last.Get()), (F{r.start.month, r.lastDay, r.start.year, 9, 8, 7}));
        EXPECT_EQ(Get(business.Get()), r.businessDay);
        ASSERT_EQ(dt->SetToLastOfMonth(), S_OK);
        EXPECT_EQ(Get(dt.Get()).day, r.lastDay);
        ASSERT_EQ(dt->SetToFirstOfMonth(), S_OK);
        EXPECT_EQ(Get(dt.Get()).day, 1);
        auto inPlace = At(r.start);
        ASSERT_EQ(inPlace->SetToLastBusinessDay(), S_OK);
        EXPECT_EQ(Get(inPlace.Get()), r.businessDay);
    }
    // Landing on 1/1/1964 at midnight keeps a real date; the empty value stays empty.
    auto real = At({1, 15, 1964, 0, 0, 0});
    ASSERT_EQ(real->SetToFirstOfMonth(), S_OK);
    EXPECT_EQ(Get(real.Get()), (F{1, 1, 1964, 12, 0, 0}));
    auto empty = New();
    ASSERT_EQ(empty->SetToFirstOfMonth(), S_OK);
    EXPECT_TRUE(IsEmpty(empty.Get()));
    ASSERT_EQ(empty->SetCheckForPellumNullDate(FALSE), S_OK);
    EXPECT_EQ(empty->SetToLastOfMonth(), E_FAIL);  // no month to end
}

TEST(DateTimeTest, ComparisonsByEveryOperator) {
    // Expected order of a against b for Compare, CompareDate, CompareTime.
    struct Row {
        F a, b;
        int whole, date, time;
    } const rows[] = {
        {{3, 5, 2024, 13, 0, 0}, {3, 5, 2024, 13, 0, 0}, 0, 0, 0},
        {{3, 5, 2024, 13, 0, 0}, {3, 5, 2024, 13, 0, 1}, -1, 0, -1},
        {{3, 6, 2024, 1, 0, 0}, {3, 5, 2024, 23, 0, 0}, 1, 1, -1},
        {{3, 5, 2023, 23, 59, 59}, {1, 1, 2024, 0, 0, 0}, -1, -1, 1},
        {{3, 5, 2024, 12, 1, 0}, {3, 5, 2024, 11, 59, 59}, 1, 0, 1},
    };
    auto expect = [](LONG op, int order) {
        const bool table[6][3] = {{false, true, false}, {true, false, false}, {false, false, true},
                                  {true, true, false},  {false, true, true},  {true, false, true}};
        return table[op][order + 1];
    };
    for (const Row& r : rows) {
        auto a = At(r.a), b = At(r.b);
        for (LONG op = 0; op <= 5; ++op) {
            BOOL whole = -1, date = -1, time = -1;
            ASSERT_EQ(a->Compare(b.Get(), op, &whole), S_OK);
            ASSERT_EQ(a->CompareDate(b.Get(), op, &date), S_OK);
            ASSERT_EQ(a->CompareTime(b.Get(), op, &time), S_OK);
            EXPECT_EQ(whole != FALSE, expect(op, r.whole)) << op;
            EXPECT_EQ(date != FALSE, expect(op, r.date)) << op;
            EXPECT_EQ(time != FALSE, expect(op, r.time)) << op;
        }
    }
    auto a = New();
    BOOL result = FALSE;
    for (LONG op : {-1, 6})
        for (auto method : {&IPLDateTime::Compare, &IPLDateTime::CompareDate, &IPLDateTime::CompareTime}) {
            EXPECT_EQ((a.Get()->*method)(a.Get(), op, &result), E_INVALIDARG);
            EXPECT_TRUE(Recorded(u"Invalid operator"));
        }
    EXPECT_EQ(a->Compare(nullptr, 0, &result), E_POINTER);
}

TEST(DateTimeTest, SystemTimeTimestampAndOleDates) {
    struct Row {
        DATE ole;
        F fields;
    } const rows[] = {
        {0.0, {12, 30, 1899, 0, 0, 0}},    {2.0, {1, 1, 1900, 0, 0, 0}},
        {1.5, {12, 31, 1899, 12, 0, 0}},   {-1.25, {12, 29, 1899, 6, 0, 0}},
        {45356.5, {3, 5, 2024, 12, 0, 0}}, {45356.999999999, {3, 6, 2024, 0, 0, 0}},
        {-657434.0, {1, 1, 100, 0, 0, 0}}, {2958465.75, {12, 31, 9999, 18, 0, 0}},
    };
    for (const Row& r : rows) {
        auto dt = New();
        ASSERT_EQ(dt->InitializeFromOleDateTime(r.ole), S_OK) << r.ole;
        EXPECT_EQ(Get(dt.Get()), r.fields);
        DATE back = 0;
        ASSERT_EQ(dt->GetOleDateTime(&back), S_OK);
        EXPECT_NEAR(back, r.ole, 1e-5);
    }
    auto dt = New();
    for (DATE bad : {std::nan(""), 1e10, -700000.0, 2958466.0}) {
        EXPECT_LT(dt->InitializeFromOleDateTime(bad), 0);
        EXPECT_TRUE(Recorded(u"Failed to convert variant time to system time."));
    }
    ASSERT_EQ(dt->InitializeDate(1, 1, 10000), S_OK);
    DATE ole = 0;
    EXPECT_LT(dt->GetOleDateTime(&ole), 0);
    EXPECT_TRUE(Recorded(u"Failed to convert system time to ole date time."));

    auto source = At({3, 5, 2024, 13, 7, 9});
    SYSTEMTIME st{};
    ASSERT_EQ(source->GetSystemTime(&st), S_OK);
    EXPECT_EQ(st.wYear * 10000 + st.wMonth * 100 + st.wDay, 20240305);
    EXPECT_EQ(st.wDayOfWeek + st.wMilliseconds, 0);
    TIMESTAMP_STRUCT ts{};
    ts.fraction = 7;
    ASSERT_EQ(source->FillTimeStampStruct(&ts), S_OK);
    EXPECT_EQ(ts.fraction, 0u);
    auto fromSystem = New(), fromStamp = New();
    ASSERT_EQ(fromSystem->InitializeFromSystemTime(&st), S_OK);
    ASSERT_EQ(fromStamp->InitializeFromTimeStampStruct(&ts), S_OK);
    EXPECT_EQ(Get(fromSystem.Get()), (F{3, 5, 2024, 13, 7, 9}));
    EXPECT_EQ(Get(fromStamp.Get()), (F{3, 5, 2024, 13, 7, 9}));
    st.wMonth = 13;
    EXPECT_LT(fromSystem->InitializeFromSystemTime(&st), 0);
    EXPECT_TRUE(Recorded(u"Failed to initialize date from system time."));

    // Copies of the empty value stay empty; a real 1/1/1964 noon stays noon.
    auto empty = New();
    ASSERT_EQ(empty->FillTimeStampStruct(&ts), S_OK);
    ASSERT_EQ(fromStamp->InitializeFromTimeStampStruct(&ts), S_OK);
    EXPECT_TRUE(IsEmpty(fromStamp.Get()));
    auto copy = At({5, 5, 2005, 5, 5, 5});
    ASSERT_EQ(copy->InitializeFromDateTime(empty.Get()), S_OK);
    EXPECT_TRUE(IsEmpty(copy.Get()));
    ASSERT_EQ(copy->InitializeFromDateTime(source.Get()), S_OK);
    EXPECT_EQ(Get(copy.Get()), (F{3, 5, 2024, 13, 7, 9}));
}

TEST(DateTimeTest, ThaiCalendarShiftsYearsInText) {
    const char* previous = std::getenv("LC_ALL");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("LC_ALL", "th_TH.UTF-8", 1);
    auto dt = At({3, 5, 2024, 0, 0, 0}, 0x041E);
    const HRESULT hr = dt->SetCalendarToCurrentDefault();
    if (previous != nullptr)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(Fmt(dt.Get(), u"%y %2y %d/%m"), u"2567 67 5/3");
    ASSERT_EQ(dt->InitializeFromString(u"5/3/2567", u"SYSTEMDATE"), S_OK);
    EXPECT_EQ(Get(dt.Get()), (F{3, 5, 2024, 0, 0, 0}));
    ASSERT_EQ(dt->InitializeDate(1, 1, 2100), S_OK);  // from 2100 on, years are written unshifted
    EXPECT_EQ(Fmt(dt.Get(), u"%y"), u"2100");
}

}  // namespace
