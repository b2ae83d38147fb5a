#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "module_base/PLComObject.h"
#include "module_base/PLTimeSpan.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

using Span = std::array<LONG, 4>;  // days, hours, minutes, seconds

PLComPtr<IPLTimeSpan> Of(const Span& s, HRESULT expected = S_OK) {
    PLComPtr<IPLTimeSpan> span;
    EXPECT_HR(PLCreateInstance(CLSID_PLTimeSpan, span), S_OK);
    EXPECT_HR(span->Initialize(s[0], s[1], s[2], s[3]), expected);
    return span;
}

Span Get(IPLTimeSpan* span) {
    Span s{};
    EXPECT_HR(span->GetSpan(&s[0], &s[1], &s[2], &s[3]), S_OK);
    return s;
}

TEST(PLTimeSpan, NormalisesCarryingBeyondOneUnitAndBorrowingFromLargerUnits) {
    const Span cases[][2] = {{{0, 0, 0, 3725}, {0, 1, 2, 5}},   {{0, 0, 0, 60}, {0, 0, 0, 60}},
                             {{1, 0, 0, -30}, {0, 23, 59, 30}}, {{0, 0, 0, -30}, {0, 0, 0, -30}},
                             {{0, 0, -125, 0}, {0, -2, -5, 0}}, {{INT32_MAX, 24, 0, 0}, {INT32_MAX, 24, 0, 0}}};
    for (const auto& c : cases) EXPECT_EQ(Get(Of(c[0]).Get()), c[1]) << ::testing::PrintToString(c[0]);
    // A carry beyond 32 bits fails and leaves the span as it was.
    auto span = Of({INT32_MAX, 24, 60, 120}, E_FAIL);
    EXPECT_EQ(Get(span.Get()), (Span{0, 0, 0, 0}));
    // The seconds of a day, an hour, a minute and a second before; then a total beyond 64 bits
    // fails and leaves them.
    EXPECT_HR(span->InitializeFromInt64(-90061), S_OK);
    EXPECT_HR(span->InitializeFromInt64(INT64_MAX), E_FAIL);
    EXPECT_EQ(Get(span.Get()), (Span{-1, -1, -1, -1}));
}

TEST(PLTimeSpan, TotalsCountEveryComponentAndThe32BitOnesFailBeyondTheirRange) {
    using kdtest::LongOf;
    EXPECT_EQ(LongOf(Of({0, 0, 0, 3600}).Get(), &IPLTimeSpan::GetSpanInHours), 1);  // kept as 60 minutes: 1 hour
    auto span = Of({1, 1, 1, 61});
    EXPECT_EQ(LongOf(span.Get(), &IPLTimeSpan::GetSpanInHours), 25);
    EXPECT_EQ(LongOf(span.Get(), &IPLTimeSpan::GetSpanInMinutes), 1502);
    EXPECT_EQ(LongOf(span.Get(), &IPLTimeSpan::GetSpanInSecondsLong), 90121);
    LONG seconds = 0;

    span = Of({-100000, 0, 0, 0});  // about 274 years
    EXPECT_EQ(LongOf(span.Get(), &IPLTimeSpan::GetSpanInSecondsInt64), -8640000000LL);
    EXPECT_HR(span->GetSpanInSeconds(&seconds), E_FAIL);
    EXPECT_HR(span->GetSpanInSecondsLong(&seconds), E_FAIL);
}

// The operators themselves are checked with date-times; here, the order of two spans.
TEST(PLTimeSpan, CompareUsesTheWholeTotals) {
    // A century (1900 to 2000) is beyond 32-bit seconds.
    auto century = Of({36524, 0, 0, 0}), day = Of({0, 0, 0, 86400});
    BOOL greater = FALSE, equal = FALSE;
    EXPECT_HR(century->Compare(day.Get(), PLCompareGreater, &greater), S_OK);
    EXPECT_HR(day->Compare(Of({1, 0, 0, 0}).Get(), PLCompareEqual, &equal), S_OK);
    EXPECT_EQ(std::pair(greater, equal), std::pair(TRUE, TRUE));
    EXPECT_HR(day->Compare(century.Get(), 6, &equal), E_INVALIDARG);
}

TEST(PLTimeSpan, FromDatesSubtractsFieldByFieldAndClonesCarryTheFields) {
    auto start = kdtest::DateAt(3, 1, 2021, 10, 0, 0), end = kdtest::DateAt(3, 2, 2021, 9, 30, 0);
    auto span = Of({5, 5, 5, 5});
    EXPECT_HR(span->InitializeFromDate(start.Get(), end.Get()), S_OK);
    EXPECT_EQ(Get(span.Get()), (Span{0, 23, 30, 0}));
    EXPECT_HR(span->InitializeFromDate(end.Get(), start.Get()), S_OK);
    EXPECT_EQ(Get(kdtest::Clone(span).Get()), (Span{-1, 0, 30, 0}));  // the span's fields, read from its clone
}

// Every method refuses a missing argument or place for its result, and the span stays as it was.
TEST(PLTimeSpan, MissingArgumentsAreRefusedAndChangeNothing) {
    auto span = Of({1, 2, 3, 4});
    LONG f = 0;
    for (const HRESULT hr :
         {span->InitializeFromDate(nullptr, nullptr),
          span->InitializeFromDate(kdtest::DateAt(3, 1, 2021, 0, 0, 0).Get(), nullptr), span->GetSpanInHours(nullptr),
          span->GetSpanInMinutes(nullptr), span->GetSpanInSeconds(nullptr), span->GetSpanInSecondsLong(nullptr),
          span->Compare(nullptr, 0, nullptr), span->Compare(span.Get(), 0, nullptr),
          kdtest::As<IPLCloneable>(span)->Clone(IID_IPLTimeSpan, nullptr), span->GetSpan(nullptr, &f, &f, &f),
          span->GetSpan(&f, nullptr, &f, &f), span->GetSpan(&f, &f, nullptr, &f), span->GetSpan(&f, &f, &f, nullptr)})
        EXPECT_HR(hr, E_POINTER);
    EXPECT_EQ(Get(span.Get()), (Span{1, 2, 3, 4}));
}

}  // namespace
