#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <kdtrace/timespan.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDateTime.h"
#include "module_base/PLTimeSpan.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

namespace {

struct Span {
    LONG days = 0, hours = 0, minutes = 0, seconds = 0;
    bool operator==(const Span&) const = default;
};
void PrintTo(const Span& s, std::ostream* os) {
    *os << s.days << "d " << s.hours << ":" << s.minutes << ":" << s.seconds;
}

PLComPtr<IPLTimeSpan> New() {
    PLComPtr<IPLTimeSpan> span;
    EXPECT_HR(PLCreateInstance(CLSID_PLTimeSpan, span), S_OK);
    return span;
}

PLComPtr<IPLTimeSpan> Of(const Span& s) {
    auto span = New();
    EXPECT_HR(span->Initialize(s.days, s.hours, s.minutes, s.seconds), S_OK);
    return span;
}

Span Get(IPLTimeSpan* span) {
    Span s;
    EXPECT_HR(span->GetSpan(&s.days, &s.hours, &s.minutes, &s.seconds), S_OK);
    return s;
}

std::u16string LastMessage() {
    const auto errors = kdtest::TakeThreadErrors();
    return errors.empty() ? u"" : errors.back().message;
}

TEST(PLTimeSpan, NormalisesCarryingBeyondOneUnitAndBorrowingFromLargerUnits) {
    const struct {
        Span in, out;
    } cases[] = {
        {{0, 0, 0, 3725}, {0, 1, 2, 5}},   {{0, 0, 0, 60}, {0, 0, 0, 60}},
        {{0, 0, 0, 61}, {0, 0, 1, 1}},     {{1, 0, 0, -30}, {0, 23, 59, 30}},
        {{0, 0, 0, -30}, {0, 0, 0, -30}},  {{0, 2, 0, -30}, {0, 1, 59, 30}},
        {{0, 0, 5, -30}, {0, 0, 4, 30}},   {{1, 0, -5, 0}, {0, 23, 55, 0}},
        {{1, -3, 0, 0}, {0, 21, 0, 0}},    {{0, 25, 0, 0}, {1, 1, 0, 0}},
        {{0, 0, -125, 0}, {0, -2, -5, 0}}, {{0, 0, 0, -3725}, {0, -1, -2, -5}},
        {{0, 0, 3600, 0}, {2, 12, 0, 0}},  {{2147483647, 0, 0, 0}, {2147483647, 0, 0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(Get(Of(c.in).Get()), c.out) << ::testing::PrintToString(c.in);
}

TEST(PLTimeSpan, FromSecondsReplacesEveryFieldAndRefusesDaysBeyond32Bits) {
    auto span = Of({5, 5, 5, 5});
    EXPECT_HR(span->InitializeFromInt64(90061), S_OK);
    EXPECT_EQ(Get(span.Get()), (Span{1, 1, 1, 1}));
    EXPECT_HR(span->InitializeFromInt64(-90061), S_OK);
    EXPECT_EQ(Get(span.Get()), (Span{-1, -1, -1, -1}));
    // Days beyond 32 bits fail and leave the span as it was.
    EXPECT_HR(span->InitializeFromInt64(INT64_MAX), E_FAIL);
    EXPECT_EQ(LastMessage(), u"Failed to normalize values");
    EXPECT_EQ(Get(span.Get()), (Span{-1, -1, -1, -1}));
    // Carrying into a full field cannot overflow.
    EXPECT_HR(span->Initialize(INT32_MAX, 24, 60, 120), E_FAIL);
    EXPECT_HR(span->Initialize(INT32_MAX, 24 * 2, 0, 0), E_FAIL);
}

TEST(PLTimeSpan, TotalsCountEveryComponentAndFailWhenBeyond32Bits) {
    auto span = Of({0, 0, 0, 3600});  // kept as 60 minutes
    LONG hours = -1, minutes = -1, seconds = -1, secondsLong = -1;
    LONGLONG seconds64 = -1;
    EXPECT_HR(span->GetSpanInHours(&hours), S_OK);
    EXPECT_HR(span->GetSpanInMinutes(&minutes), S_OK);
    EXPECT_EQ(hours, 1);
    EXPECT_EQ(minutes, 60);

    span = Of({1, 1, 1, 61});
    EXPECT_HR(span->GetSpanInHours(&hours), S_OK);
    EXPECT_HR(span->GetSpanInMinutes(&minutes), S_OK);
    EXPECT_HR(span->GetSpanInSeconds(&seconds), S_OK);
    EXPECT_HR(span->GetSpanInSecondsLong(&secondsLong), S_OK);
    EXPECT_EQ(hours, 25);
    EXPECT_EQ(minutes, 1502);
    EXPECT_EQ(seconds, 90121);
    EXPECT_EQ(secondsLong, 90121);

    span = Of({-100000, 0, 0, 0});  // about 274 years: seconds beyond 32 bits
    EXPECT_HR(span->GetSpanInSecondsInt64(&seconds64), S_OK);
    EXPECT_EQ(seconds64, -8640000000LL);
    EXPECT_HR(span->GetSpanInMinutes(&minutes), S_OK);
    EXPECT_EQ(minutes, -144000000);
    seconds = 7;
    EXPECT_HR(span->GetSpanInSeconds(&seconds), E_FAIL);
    EXPECT_EQ(LastMessage(), u"Time span total out of range");
    EXPECT_EQ(seconds, 7);
    EXPECT_HR(span->GetSpanInSecondsLong(&seconds), E_FAIL);
    EXPECT_HR(span->GetSpanInSeconds(nullptr), E_POINTER);
    EXPECT_HR(span->GetSpan(&hours, &hours, &hours, nullptr), E_POINTER);
}

TEST(PLTimeSpan, CompareUsesTheWholeTotals) {
    auto century = Of({36524, 0, 0, 0});  // 1900 to 2000: beyond 32-bit seconds
    auto day = Of({1, 0, 0, 0});
    auto sameDay = Of({0, 0, 0, 86400});
    const struct {
        IPLTimeSpan *a, *b;
        LONG op;
        BOOL expected;
    } cases[] = {
        {century.Get(), day.Get(), PLCompareGreater, TRUE},
        {century.Get(), day.Get(), PLCompareLess, FALSE},
        {day.Get(), century.Get(), PLCompareLessOrEqual, TRUE},
        {day.Get(), sameDay.Get(), PLCompareEqual, TRUE},
        {day.Get(), sameDay.Get(), PLCompareNotEqual, FALSE},
        {day.Get(), sameDay.Get(), PLCompareGreaterOrEqual, TRUE},
        {day.Get(), sameDay.Get(), PLCompareLess, FALSE},
    };
    for (const auto& c : cases) {
        BOOL result = !c.expected;
        EXPECT_HR(c.a->Compare(c.b, c.op, &result), S_OK);
        EXPECT_EQ(result, c.expected) << "operator " << c.op;
    }
    BOOL result = FALSE;
    EXPECT_HR(day->Compare(century.Get(), 6, &result), E_INVALIDARG);
    EXPECT_EQ(LastMessage(), u"Invalid operator");
    EXPECT_HR(day->Compare(nullptr, 0, &result), E_POINTER);
}

TEST(PLTimeSpan, FromDatesSubtractsFieldByFieldAndReportsEachFailedRead) {
    PLComPtr<IPLDateTime> start, end;
    ASSERT_HR(PLCreateDateTime(0x0409, start.Put()), S_OK);
    ASSERT_HR(PLCreateDateTime(0x0409, end.Put()), S_OK);
    ASSERT_HR(start->Initialize(3, 1, 2021, 10, 0, 0), S_OK);
    ASSERT_HR(end->Initialize(3, 2, 2021, 9, 30, 0), S_OK);
    auto span = New();
    EXPECT_HR(span->InitializeFromDate(start.Get(), end.Get()), S_OK);
    EXPECT_EQ(Get(span.Get()), (Span{0, 23, 30, 0}));
    ASSERT_HR(end->Initialize(3, 1, 2121, 10, 0, 0), S_OK);  // 2100 is no leap year
    EXPECT_HR(span->InitializeFromDate(start.Get(), end.Get()), S_OK);
    EXPECT_EQ(Get(span.Get()), (Span{36524, 0, 0, 0}));
    EXPECT_HR(span->InitializeFromDate(nullptr, end.Get()), E_POINTER);

    // A date-time whose reads fail: the first failed read names itself.
    struct Failing : IPLDateTime {
        int failAt;  // 0 Julian day, 1 hour, 2 minute, 3 second
        explicit Failing(int at) : failAt(at) {}
        HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG AddRef() override { return 1; }
        ULONG Release() override { return 1; }
        HRESULT Get(int which, LONG* v) { return *v = 1, which == failAt ? E_UNEXPECTED : S_OK; }
        HRESULT GetJulianValue(double* j) override { return *j = 2459275.5, failAt == 0 ? E_UNEXPECTED : S_OK; }
        HRESULT GetHour(LONG* v) override { return Get(1, v); }
        HRESULT GetMinute(LONG* v) override { return Get(2, v); }
        HRESULT GetSecond(LONG* v) override { return Get(3, v); }
        // clang-format off
        HRESULT InitializeCurrentTime() override { return E_NOTIMPL; }
        HRESULT Initialize(LONG, LONG, LONG, LONG, LONG, LONG) override { return E_NOTIMPL; }
        HRESULT InitializeFromString(const WCHAR*, const WCHAR*) override { return E_NOTIMPL; }
        HRESULT InitializeDate(LONG, LONG, LONG) override { return E_NOTIMPL; }
        HRESULT InitializeTime(LONG, LONG, LONG) override { return E_NOTIMPL; }
        HRESULT InitializeFromJulian(double) override { return E_NOTIMPL; }
        HRESULT InitializeFromDateTime(IPLDateTime*) override { return E_NOTIMPL; }
        HRESULT InitializeFromSystemTime(const SYSTEMTIME*) override { return E_NOTIMPL; }
        HRESULT InitializeFromOleDateTime(DATE) override { return E_NOTIMPL; }
        HRESULT Adjust(LONG, LONG, LONG, LONG) override { return E_NOTIMPL; }
        HRESULT Format(const WCHAR*, WCHAR*, LONG) override { return E_NOTIMPL; }
        HRESULT GetDateTime(LONG*, LONG*, LONG*, LONG*, LONG*, LONG*) override { return E_NOTIMPL; }
        HRESULT GetMonth(LONG*) override { return E_NOTIMPL; }
        HRESULT GetDay(LONG*) override { return E_NOTIMPL; }
        HRESULT GetYear(LONG*) override { return E_NOTIMPL; }
        HRESULT GetDayOfWeek(LONG*) override { return E_NOTIMPL; }
        HRESULT GetDayOfYear(LONG*) override { return E_NOTIMPL; }
        HRESULT SetToLastBusinessDay() override { return E_NOTIMPL; }
        HRESULT SetToFirstOfMonth() override { return E_NOTIMPL; }
        HRESULT SetToLastOfMonth() override { return E_NOTIMPL; }
        HRESULT GetLastBusinessDay(IPLDateTime**) override { return E_NOTIMPL; }
        HRESULT GetFirstOfMonth(IPLDateTime**) override { return E_NOTIMPL; }
        HRESULT GetLastOfMonth(IPLDateTime**) override { return E_NOTIMPL; }
        HRESULT SetTwoDigitYearPivot(LONG) override { return E_NOTIMPL; }
        HRESULT Compare(IPLDateTime*, LONG, BOOL*) override { return E_NOTIMPL; }
        HRESULT CompareDate(IPLDateTime*, LONG, BOOL*) override { return E_NOTIMPL; }
        HRESULT CompareTime(IPLDateTime*, LONG, BOOL*) override { return E_NOTIMPL; }
        HRESULT InitializeFromStringEx(const WCHAR*, const WCHAR*, BOOL*) override { return E_NOTIMPL; }
        HRESULT SetCalendarToCurrentDefault() override { return E_NOTIMPL; }
        HRESULT Clear() override { return E_NOTIMPL; }
        HRESULT IsEmpty(BOOL*) override { return E_NOTIMPL; }
        // clang-format on
    };
    const char16_t* const startMessages[] = {
        u"Failed to obtain Julian day from state date", u"Failed to obtain hour from start time",
        u"Failed to obtain minute from start time", u"Failed to obtain second from start time"};
    const char16_t* const endMessages[] = {
        u"Failed to obtain Julian day from end date", u"Failed to obtain hour from end time",
        u"Failed to obtain minute from end time", u"Failed to obtain second from end time"};
    Failing fine(-1);
    for (int at = 0; at < 4; ++at) {
        Failing bad(at);
        EXPECT_HR(span->InitializeFromDate(&bad, &fine), E_UNEXPECTED);
        EXPECT_EQ(LastMessage(), startMessages[at]);
        EXPECT_HR(span->InitializeFromDate(&fine, &bad), E_UNEXPECTED);
        EXPECT_EQ(LastMessage(), endMessages[at]);
    }
    EXPECT_EQ(Get(span.Get()), (Span{36524, 0, 0, 0}));
}

TEST(PLTimeSpan, CloneCarriesTheFields) {
    auto span = Of({-2, 3, 4, 5});
    PLComPtr<IPLCloneable> cloneable;
    ASSERT_HR(span.As(cloneable), S_OK);
    PLComPtr<IPLTimeSpan> copy;
    ASSERT_HR(cloneable->Clone(IID_IPLTimeSpan, copy.PutVoid()), S_OK);
    ASSERT_NE(copy.Get(), span.Get());
    EXPECT_EQ(Get(copy.Get()), (Span{-2, 3, 4, 5}));
}

}  // namespace
