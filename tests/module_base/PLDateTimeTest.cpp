#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <span>
#include <string>
#include <tuple>

#include <kdtrace/datetime.h>

#include "module_base/PLDateTime.h"
#include "support/DiagReceiver.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

struct F {
    LONG month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    bool operator==(const F&) const = default;
};
void PrintTo(const F& f, std::ostream* os) {
    *os << f.month << "/" << f.day << "/" << f.year << " " << f.hour << ":" << f.minute << ":" << f.second;
}

PLComPtr<IPLDateTimePriv> New(LCID locale = 0x0409) {
    auto dt = kdtest::New<IPLDateTimePriv>(CLSID_PLDateTime);
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

// The fields after a step that must succeed (`dt` is read once the step has run).
template <class Ptr>
F After(HRESULT hr, const Ptr& dt) {
    EXPECT_EQ(hr, S_OK);
    return Get(dt.Get());
}

std::u16string Fmt(IPLDateTime* dt, const char16_t* mask, LONG size = 256) {
    WCHAR buffer[256];
    return dt->Format(mask, buffer, size) < 0 ? u"<failed>" : std::u16string(buffer);
}

const auto IsEmpty = [](IPLDateTime* dt) { return kdtest::LongOf(dt, &IPLDateTime::IsEmpty) != FALSE; };

TEST(DateTimeTest, NewObjectIsEmptyInBothRepresentationsAndCloneCarriesEveryField) {
    auto dt = New();
    for (const BOOL check : {-1, FALSE, TRUE}) {  // -1: as created
        EXPECT_EQ(check < 0 ? S_OK : dt->SetCheckForPellumNullDate(check), S_OK);
        EXPECT_TRUE(IsEmpty(dt.Get()));
        EXPECT_EQ(Get(dt.Get()), (check == FALSE ? F{-1, -1, -1, -1, -1, -1} : F{1, 1, 1964})) << check;
    }
    // A real date keeps its fields when the representation changes; 1/1/1964 00:00 is kept as noon.
    auto real = At({1, 1, 1964}, 0x0411);
    EXPECT_EQ(Get(real.Get()), (F{1, 1, 1964, 12}));
    ASSERT_EQ(real->SetCheckForPellumNullDate(FALSE), S_OK);
    // The copy has the fields, the representation and the locale (its mask).
    auto copy = kdtest::Clone(real);
    EXPECT_EQ(std::tuple(Get(copy.Get()), kdtest::LongOf(copy.Get(), &IPLDateTimePriv::GetCheckForPellumNullDate),
                         Fmt(copy.Get(), u"SYSTEMDATE")),
              std::tuple(F{1, 1, 1964, 12}, FALSE, u"1964/01/01"));
}

// Julian day, weekday (1 = Sunday) and day of the year, at calendar edges. The Gregorian rules
// apply to every date, before the 1582 reform too.
TEST(DateTimeTest, JulianDaysWeekdaysAndDaysOfYear) {
    // Date, Julian day, weekday, day of the year.
    const std::tuple<F, double, LONG, LONG> rows[] = {{{12, 31, 2000}, 2451909.5, 1, 366},
                                                      {{3, 1, 1900}, 2415079.5, 5, 60},
                                                      {{10, 4, 1582}, 2299149.5, 2, 277},
                                                      {{12, 31, 9999}, 5373483.5, 6, 365}};
    for (const auto& [date, julian, weekday, dayOfYear] : rows) {
        SCOPED_TRACE(julian);
        auto dt = At(date), back = New();
        std::tuple<double, LONG, LONG> got{};
        dt->GetJulianValue(&std::get<0>(got));
        dt->GetDayOfWeek(&std::get<1>(got));
        dt->GetDayOfYear(&std::get<2>(got));
        EXPECT_EQ(got, std::tuple(julian, weekday, dayOfYear));
        const F f = After(back->InitializeFromJulian(std::get<0>(got) + 0.3), back);
        EXPECT_EQ((F{f.month, f.day, f.year}), date);
    }
    for (double bad : {std::nan(""), 1e300, -1e15}) EXPECT_EQ(New()->InitializeFromJulian(bad), E_INVALIDARG);
}

TEST(DateTimeTest, InvalidDatesAndTimesAreRefusedAndAnInvalidDateEmptiesTheObject) {
    const std::tuple<LONG, LONG, LONG, bool> dates[] = {
        {2, 29, 2000, true},  {2, 29, 2001, false}, {2, 29, 1900, false},     {13, 1, 2000, false},
        {4, 31, 2000, false}, {12, 31, 2999, true}, {1, 1, INT32_MIN, false}, {12, 31, INT32_MAX, false}};
    for (const auto& [month, day, year, valid] : dates) {
        SCOPED_TRACE(testing::Message() << month << "/" << day << "/" << year);
        auto dt = At({6, 15, 2010, 10, 0, 0});
        EXPECT_EQ(dt->InitializeDate(month, day, year), valid ? S_OK : E_FAIL);
        EXPECT_EQ(IsEmpty(dt.Get()), !valid);
    }
    for (const auto& [hour, minute, second] : {std::tuple{24, 0, 0}, {0, 60, 0}, {-1, 0, 0}})
        EXPECT_EQ(New()->InitializeTime(hour, minute, second), E_FAIL);
}

TEST(DateTimeTest, ParsingEveryCode) {
    const char16_t *kDefault = u"%m-%d-%y %h:%M:%S %p", *kMdy = u"%m-%d-%y";
    const std::tuple<const char16_t*, const char16_t*, F> parsed[] = {
        {u" 3- 5-2024 garbage", u"%m-%D-%Y", {3, 5, 2024}},
        {u"03052024", u"%2m%2D%y", {3, 5, 2024}},
        {u"240305", u"%2y%2m%2d", {3, 5, 1924}},
        {u"01-02-2003 12:30:00 PM", kDefault, {1, 2, 2003, 12, 30, 0}},
        {u"3-5-2024 AM 12:30:05", u"%m-%d-%y %P %h:%M:%s", {3, 5, 2024, 0, 30, 5}},
        {u"3-5-2024", kDefault, {3, 5, 2024}}};  // the text ends first
    for (const auto& [text, mask, expected] : parsed) {
        auto dt = New();  // the text is named when the fields differ
        EXPECT_EQ(After(dt->InitializeFromString(text, mask), dt), expected) << testing::PrintToString(text);
    }
    // The last four ask for a year that is not given; so does the one whose message is checked after.
    const std::pair<const char16_t*, const char16_t*> refused[] = {
        {u"1752", u"%y"},  {u"x-5-2024", kMdy},          {u"3-5-2024 01:00:00 XM", kDefault},
        {u"", u"%m"},      {u"3-5-2024x", u"%m-%d-%y%"}, {u"12-31", kMdy},
        {u"12-31-", kMdy}, {u"12-31-x", u"%m-%d-%2y"},   {u"12-31", u"%m-%d-%2Y"}};
    // A year too late, unknown month names, an hour out of range, a marker neither AM nor PM.
    const std::pair<const char16_t*, const char16_t*> outOfRange[] = {
        {u"1-1-3000", kMdy}, {u"Undecember 1 2024", u"%B %d %y"}, {u"x", u"%b"}, {u"00:30", u"%h:%M"}, {u"Ax", u"%p"}};
    using Rows = std::span<const std::pair<const char16_t*, const char16_t*>>;
    for (const Rows rows : {Rows(refused), Rows(outOfRange)})
        for (const auto& [text, mask] : rows)
            EXPECT_EQ(New()->InitializeFromString(text, mask), E_FAIL) << testing::PrintToString(text);
    EXPECT_TRUE(kdtest::Reports(New()->InitializeFromString(u"12-31-abc", kMdy), E_FAIL, u"Invalid year value"));
    // The quiet form is the same parse with recording suspended: it reports a failure, records
    // nothing, and succeeds as the loud form does.
    auto dt = New();
    kdtest::TakeThreadErrors();
    BOOL ok = TRUE;
    EXPECT_TRUE(kdtest::Reports(dt->InitializeFromStringEx(u"2-30-2024", kMdy, &ok), S_OK, u""));
    EXPECT_EQ(ok, FALSE);
    EXPECT_EQ(After(dt->InitializeFromStringEx(u"12-31-99", kMdy, &ok), dt), (F{12, 31, 1999}));
    EXPECT_EQ(ok, TRUE);
}

TEST(DateTimeTest, FormattingEveryCode) {
    // An unknown code is written and the character after it skipped; the parser-only codes are
    // unknown here.
    auto dt = At({3, 5, 2024, 13, 7, 9});  // a Tuesday
    const std::pair<const char16_t*, const char16_t*> rows[] = {
        {u"%m-%d-%y %h:%M:%S %p", u"3-5-2024 01:07:09 PM"},
        {u"%y-%2m-%2d %H:%M:%S|%2y|%j|%w", u"2024-03-05 13:07:09|24|65|3"},
        {u"%!", u"3/5/2024"},
        {u"ab%Q", u"<failed>"},
        {u"[%2x][%Qab]%D-%Y-%P-%s.", u"[2x][Qb]DYPs"}};
    for (const auto& [mask, expected] : rows) EXPECT_EQ(Fmt(dt.Get(), mask), expected);
    EXPECT_EQ(Fmt(At({1, 9, 1850, 0, 0, 0}).Get(), u"%h %p|%2y|%H"), u"12 AM|50|00");

    // Output is cut to the buffer; a failure leaves it empty.
    EXPECT_EQ(Fmt(dt.Get(), u"%y-%2m-%2d", 5), u"2024");
    WCHAR buffer[4] = u"xyz";
    EXPECT_EQ(dt->Format(u"%", buffer, 4), E_FAIL);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(dt->Format(u"%y", buffer, 0), E_INVALIDARG);
}

TEST(DateTimeTest, LocaleMasksAndEveryWrittenMaskReadsBack) {
    const std::pair<LCID, const char16_t*> locales[] = {{0x0409, u"%m/%d/%y %h:%M:%S %p"},
                                                        {0x0411, u"%y/%2m/%2d %H:%M:%S"}};
    const char16_t* masks[] = {u"SYSTEMDATETIME", u"systemdate", u"%p %h:%M:%S %m/%d/%y", u"%b %2d %y %H:%M:%S"};
    const F dates[] = {{3, 5, 2024, 13, 7, 9}, {12, 31, 1999, 0, 30, 5}, {7, 14, 1789, 23, 59, 59}, {1, 1, 1964, 12}};
    for (const auto& [id, localeMask] : locales) {
        auto dt = New(id);
        WCHAR mask[64];
        ASSERT_EQ(dt->GetLocaleDateTimeFormatString(FALSE, mask, 64), S_OK);
        EXPECT_EQ(std::u16string(mask), localeMask);
        for (const char16_t* m : masks)
            for (const F& d : dates) {
                const std::u16string text = Fmt(At(d, id).Get(), m);
                SCOPED_TRACE(testing::Message() << std::hex << id << " " << testing::PrintToString(text));
                auto back = New(id);
                F expected = m[0] == u's' ? F{d.month, d.day, d.year} : d;  // "systemdate": no time
                if (expected == F{1, 1, 1964}) expected.hour = 12;
                EXPECT_EQ(After(back->InitializeFromString(text.c_str(), m), back), expected);
            }
    }
    // The empty value too, where the text has a time; without one it is a real date, at noon.
    for (const char16_t* m : masks) {
        auto back = At({3, 5, 2024});
        EXPECT_EQ(back->InitializeFromString(Fmt(New().Get(), m).c_str(), m), S_OK);
        EXPECT_EQ(IsEmpty(back.Get()), m[0] != u's') << testing::PrintToString(m);
    }
}

TEST(DateTimeTest, MaskFromFlags) {
    // Flags, separator, mask.
    const std::tuple<LONG, WCHAR, const char16_t*> rows[] = {
        {0x51, u'/', u"%m/%2d/%y"}, {0x24, u'-', u"%2y-%2m-%d"}, {0xA1, u'.', u"%b.%d.%2y"},
        {0x10, u'/', u""},          {0, u'/', u"untouched"},
    };
    for (const auto& [flags, separator, expected] : rows) {
        WCHAR buffer[32] = u"untouched";
        EXPECT_EQ(CPLDateTime::GetDateFormatFromFormatMask(flags, separator, buffer, 32), S_OK);
        EXPECT_EQ(std::u16string(buffer), expected) << flags;
    }
}

TEST(DateTimeTest, AdjustNormalisesEveryFieldAcrossBoundaries) {
    // Start, days/hours/minutes/seconds, result; the last: a real date does not turn empty.
    const std::tuple<F, std::array<LONG, 4>, F> rows[] = {
        {{12, 31, 2023, 23, 59, 59}, {0, 0, 60, 1}, {1, 1, 2024, 1, 0, 0}},
        {{3, 1, 2024}, {0, 0, 0, -1}, {2, 29, 2024, 23, 59, 59}},
        {{1, 1, 2000}, {0, 0, 0, INT32_MIN}, {12, 13, 1931, 20, 45, 52}},
        {{1, 2, 1964}, {-1, 0, 0, 0}, {1, 1, 1964, 12, 0, 0}}};
    for (const auto& [start, by, expected] : rows) {
        auto dt = At(start);
        EXPECT_EQ(After(dt->Adjust(by[0], by[1], by[2], by[3]), dt), expected);
    }
    auto empty = New();
    EXPECT_EQ(After(empty->Adjust(1, 0, 0, 0), empty), (F{1, 2, 1964}));
    EXPECT_EQ(At({1, 1, 2000})->Adjust(INT32_MAX, 0, 0, 0), E_INVALIDARG);
}

TEST(DateTimeTest, MonthEndsAndBusinessDays) {
    // Start, last day of its month, last business day before: from a Monday or a Sunday the
    // Saturday before, from a Saturday the Friday, and across the year.
    const std::tuple<F, LONG, F> rows[] = {{{3, 3, 2024, 9, 8, 7}, 31, {3, 2, 2024}},
                                           {{3, 2, 2024, 9, 8, 7}, 31, {3, 1, 2024}},
                                           {{1, 1, 2024, 9, 8, 7}, 31, {12, 30, 2023}}};
    for (const auto& [start, lastDay, businessDay] : rows) {
        auto dt = At(start);
        PLComPtr<IPLDateTime> first, last, business;
        EXPECT_EQ(After(dt->GetFirstOfMonth(first.Put()), first), (F{start.month, 1, start.year, 9, 8, 7}));
        EXPECT_EQ(After(dt->GetLastOfMonth(last.Put()), last), (F{start.month, lastDay, start.year, 9, 8, 7}));
        EXPECT_EQ(After(dt->GetLastBusinessDay(business.Put()), business), businessDay);
        EXPECT_EQ(After(dt->SetToLastOfMonth(), dt).day, lastDay);
    }
    // Landing on 1/1/1964 at midnight keeps a real date; the empty value stays empty.
    auto real = At({1, 15, 1964});
    EXPECT_EQ(After(real->SetToFirstOfMonth(), real), (F{1, 1, 1964, 12}));
    auto empty = New();
    ASSERT_EQ(empty->SetToFirstOfMonth(), S_OK);
    EXPECT_TRUE(IsEmpty(empty.Get()));
    ASSERT_EQ(empty->SetCheckForPellumNullDate(FALSE), S_OK);
    EXPECT_EQ(empty->SetToLastOfMonth(), E_FAIL);  // no month to end
}

TEST(DateTimeTest, ComparisonsByEveryOperator) {
    // Expected order of a against b for Compare, CompareDate, CompareTime.
    const std::tuple<F, F, std::array<int, 3>> rows[] = {{{3, 5, 2024, 13, 0, 0}, {3, 5, 2024, 13, 0, 0}, {0, 0, 0}},
                                                         {{3, 5, 2023, 23, 59, 59}, {1, 1, 2024}, {-1, -1, 1}},
                                                         {{3, 5, 2024, 12, 1, 0}, {3, 5, 2024, 11, 59, 59}, {1, 0, 1}}};
    // Operators 0-5: equal, less, greater, less or equal, greater or equal, not equal; by order -1, 0, 1.
    const bool table[6][3] = {{false, true, false}, {true, false, false}, {false, false, true},
                              {true, true, false},  {false, true, true},  {true, false, true}};
    const decltype(&IPLDateTime::Compare) methods[] = {&IPLDateTime::Compare, &IPLDateTime::CompareDate,
                                                       &IPLDateTime::CompareTime};
    BOOL result = -1;
    for (const auto& [first, second, order] : rows)
        for (LONG op = 0; op <= 5; ++op)
            for (std::size_t m = 0; const auto method : methods) {  // m: the method's place in `order`
                result = -1;
                EXPECT_EQ((At(first).Get()->*method)(At(second).Get(), op, &result), S_OK);
                EXPECT_EQ(result != FALSE, table[op][order[m++] + 1]) << "op " << op << " method " << m;
            }
    auto empty = New();
    for (LONG op : {-1, 6}) EXPECT_EQ(empty->Compare(empty.Get(), op, &result), E_INVALIDARG);
}

TEST(DateTimeTest, SystemTimeTimestampAndOleDates) {
    const std::pair<DATE, F> rows[] = {
        {-1.25, {12, 29, 1899, 6}}, {45356.999999999, {3, 6, 2024}}, {2958465.75, {12, 31, 9999, 18}}};
    for (const auto& [ole, fields] : rows) {
        auto dt = New();
        EXPECT_EQ(After(dt->InitializeFromOleDateTime(ole), dt), fields) << ole;
        DATE back = 0;
        EXPECT_EQ(dt->GetOleDateTime(&back), S_OK);
        EXPECT_NEAR(back, ole, 1e-5);
    }
    auto dt = New();
    for (DATE bad : {std::nan(""), -700000.0, 2958466.0}) EXPECT_EQ(dt->InitializeFromOleDateTime(bad), E_INVALIDARG);
    ASSERT_EQ(dt->InitializeDate(1, 1, 10000), S_OK);
    DATE ole = 0;
    EXPECT_EQ(dt->GetOleDateTime(&ole), E_FAIL);

    auto source = At({3, 5, 2024, 13, 7, 9});
    SYSTEMTIME st{};
    ASSERT_EQ(source->GetSystemTime(&st), S_OK);
    TIMESTAMP_STRUCT ts{};
    ASSERT_EQ(source->FillTimeStampStruct(&ts), S_OK);
    auto fromSystem = New(), fromStamp = New();
    EXPECT_EQ(After(fromSystem->InitializeFromSystemTime(&st), fromSystem), (F{3, 5, 2024, 13, 7, 9}));
    EXPECT_EQ(After(fromStamp->InitializeFromTimeStampStruct(&ts), fromStamp), (F{3, 5, 2024, 13, 7, 9}));
    st.wMonth = 13;
    EXPECT_EQ(fromSystem->InitializeFromSystemTime(&st), E_FAIL);

    // Copies of the empty value stay empty; a real 1/1/1964 noon stays noon.
    auto empty = New();
    ASSERT_EQ(empty->FillTimeStampStruct(&ts), S_OK);
    ASSERT_EQ(fromStamp->InitializeFromTimeStampStruct(&ts), S_OK);
    EXPECT_TRUE(IsEmpty(fromStamp.Get()));
    auto copy = At({5, 5, 2005, 5, 5, 5});
    ASSERT_EQ(copy->InitializeFromDateTime(empty.Get()), S_OK);
    EXPECT_TRUE(IsEmpty(copy.Get()));
}

TEST(DateTimeTest, ThaiCalendarShiftsYearsInText) {
    auto dt = At({3, 5, 2024}, 0x041E);
    {  // the process locale is Thai only while the calendar is taken from it
        kdtest::ScopedEnv thai("LC_ALL", "th_TH.UTF-8");
        ASSERT_EQ(dt->SetCalendarToCurrentDefault(), S_OK);
    }
    EXPECT_EQ(Fmt(dt.Get(), u"%y %2y %d/%m"), u"2567 67 5/3");
    EXPECT_EQ(After(dt->InitializeFromString(u"5/3/2567", u"SYSTEMDATE"), dt), (F{3, 5, 2024}));
    // One shift both ways, whatever the year: every date written reads back, two-digit years
    // within the pivot's hundred years; the parser's limits are those of the year itself.
    for (const F& d : {F{1, 1, 1753}, F{12, 31, 2066}, F{1, 1, 2100}, F{12, 31, 2999}})
        for (const char16_t* mask : {u"SYSTEMDATE", u"%m-%d-%2y"}) {
            if (mask[1] == u'm' && (d.year < 1967 || d.year > 2066)) continue;
            ASSERT_EQ(dt->InitializeDate(d.month, d.day, d.year), S_OK);
            const std::u16string text = Fmt(dt.Get(), mask);
            EXPECT_EQ(After(dt->InitializeFromString(text.c_str(), mask), dt), d) << testing::PrintToString(text);
        }
    EXPECT_EQ(Fmt(dt.Get(), u"%y"), u"3542");
    EXPECT_TRUE(
        kdtest::Reports(dt->InitializeFromString(u"1-1-2295", u"%m-%d-%y"), E_FAIL, u"Year may not be before 1753"));
}

// Every method refuses a missing argument or place for its result (E_POINTER) and a buffer
// with no room (E_INVALIDARG), and the date stays as it was.
TEST(DateTimeTest, MissingArgumentsAreRefusedAndChangeNothing) {
    auto dt = At({3, 5, 2024, 13, 7, 9});
    WCHAR none[1];
    LONG f = 0;
    // The initialisers and formatters and each of the six fields, then the other getters and comparisons.
    for (const HRESULT hr :
         {dt->InitializeFromString(nullptr, u"%y"), dt->InitializeFromString(u"2024", nullptr),
          dt->InitializeFromStringEx(nullptr, u"%y", nullptr), dt->InitializeFromStringEx(u"2024", nullptr, nullptr),
          dt->InitializeFromStringEx(u"2024", u"%y", nullptr), dt->InitializeFromDateTime(nullptr),
          dt->InitializeFromSystemTime(nullptr), dt->InitializeFromTimeStampStruct(nullptr),
          dt->Format(nullptr, nullptr, 4), dt->Format(u"%y", nullptr, 4),
          dt->GetLocaleDateTimeFormatString(FALSE, nullptr, 4),
          CPLDateTime::GetDateFormatFromFormatMask(0x51, u'/', nullptr, 4),
          dt->GetDateTime(nullptr, &f, &f, &f, &f, &f), dt->GetDateTime(&f, nullptr, &f, &f, &f, &f),
          dt->GetDateTime(&f, &f, nullptr, &f, &f, &f), dt->GetDateTime(&f, &f, &f, nullptr, &f, &f),
          dt->GetDateTime(&f, &f, &f, &f, nullptr, &f), dt->GetDateTime(&f, &f, &f, &f, &f, nullptr)})
        EXPECT_EQ(hr, E_POINTER);
    for (const HRESULT hr :
         {dt->GetSystemTime(nullptr), dt->GetOleDateTime(nullptr), dt->FillTimeStampStruct(nullptr),
          dt->GetLastBusinessDay(nullptr), dt->GetFirstOfMonth(nullptr), dt->GetLastOfMonth(nullptr),
          dt->Compare(nullptr, 0, nullptr), dt->Compare(dt.Get(), 0, nullptr), dt->CompareDate(nullptr, 0, nullptr),
          dt->CompareDate(dt.Get(), 0, nullptr), dt->CompareTime(nullptr, 0, nullptr),
          dt->CompareTime(dt.Get(), 0, nullptr), kdtest::As<IPLCloneable>(dt)->Clone(IID_IPLDateTime, nullptr),
          PLCreateDateTime(0x0409, nullptr)})
        EXPECT_EQ(hr, E_POINTER);
    EXPECT_EQ(dt->GetLocaleDateTimeFormatString(FALSE, none, 0), E_INVALIDARG);
    EXPECT_EQ(CPLDateTime::GetDateFormatFromFormatMask(0x51, u'/', none, 0), E_INVALIDARG);
    EXPECT_EQ(Get(dt.Get()), (F{3, 5, 2024, 13, 7, 9}));
}

}  // namespace
