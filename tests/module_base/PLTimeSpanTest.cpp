#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "module_base/PLComObject.h"
#include "module_base/PLDateTime.h"
#include "module_base/PLTimeSpan.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

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

std::u16string LastMessage() {
    const auto errors = kdtest::TakeThreadErrors();
    return errors.empty() ? u"" : errors.back().message;
}

TEST(PLTimeSpan, NormalisesCarryingBeyondOneUnitAndBorrowingFromLargerUnits) {
    const Span cases[][2] = {{{0, 0, 0, 3725}, {0, 1, 2, 5}},
                             {{0, 0, 0, 60}, {0, 0, 0, 60}},
                             {{0, 0, 0, 61}, {0, 0, 1, 1}},
                             {{1, 0, 0, -30}, {0, 23, 59, 30}},
                             {{0, 0, 0, -30}, {0, 0, 0, -30}},
                             {{0, 2, 0, -30}, {0, 1, 59, 30}},
                             {{1, 0, -5, 0}, {0, 23, 55, 0}},
                             {{1, -3, 0, 0}, {0, 21, 0, 0}},
                             {{0, 0, -125, 0}, {0, -2, -5, 0}},
                             {{0, 0, 3600, 0}, {2, 12, 0, 0}},
                             {{INT32_MAX, 24, 0, 0}, {INT32_MAX, 24, 0, 0}}};
    for (const auto& c : cases) EXPECT_EQ(Get(Of(c[0]).Get()), c[1]) << ::testing::PrintToString(c[0]);
    // A carry beyond 32 bits fails and leaves the span as it was.
    auto span = Of({INT32_MAX, 24, 60, 120}, E_FAIL);
    EXPECT_EQ(LastMessage(), u"Failed to normalize values");
    EXPECT_EQ(Get(span.Get()), (Span{0, 0, 0, 0}));
    EXPECT_HR(span->InitializeFromInt64(90061), S_OK);
    EXPECT_EQ(Get(span.Get()), (Span{1, 1, 1, 1}));
    EXPECT_HR(span->InitializeFromInt64(-90061), S_OK);
    EXPECT_EQ(Get(span.Get()), (Span{-1, -1, -1, -1}));
    EXPECT_HR(span->InitializeFromInt64(INT64_MAX), E_FAIL);
    EXPECT_EQ(Get(span.Get()), (Span{-1, -1, -1, -1}));
}

TEST(PLTimeSpan, TotalsCountEveryComponentAndThe32BitOnesFailBeyondTheirRange) {
    LONG hours = 0, minutes = 0, seconds = 0;
    EXPECT_HR(Of({0, 0, 0, 3600})->GetSpanInHours(&hours), S_OK);  // kept as 60 minutes: still 1 hour
    EXPECT_EQ(hours, 1);
    auto span = Of({1, 1, 1, 61});
    EXPECT_HR(span->GetSpanInHours(&hours), S_OK);
    EXPECT_HR(span->GetSpanInMinutes(&minutes), S_OK);
    EXPECT_HR(span->GetSpanInSecondsLong(&seconds), S_OK);
    EXPECT_EQ((Span{hours, minutes, seconds, 0}), (Span{25, 1502, 90121, 0}));

    span = Of({-100000, 0, 0, 0});  // about 274 years
    LONGLONG seconds64 = 0;
    EXPECT_HR(span->GetSpanInSecondsInt64(&seconds64), S_OK);
    EXPECT_EQ(seconds64, -8640000000LL);
    EXPECT_HR(span->GetSpanInMinutes(&minutes), S_OK);
    EXPECT_EQ(minutes, -144000000);
    EXPECT_HR(span->GetSpanInSeconds(&seconds), E_FAIL);
    EXPECT_EQ(LastMessage(), u"Time span total out of range");
    EXPECT_HR(span->GetSpanInSecondsLong(&seconds), E_FAIL);
}

TEST(PLTimeSpan, CompareUsesTheWholeTotals) {
    auto century = Of({36524, 0, 0, 0});  // 1900 to 2000: beyond 32-bit seconds
    auto day = Of({0, 0, 0, 86400});
    // Operators 0-5 (equal, less, greater, less or equal, greater or equal, not equal).
    const BOOL centuryToDay[6] = {FALSE, FALSE, TRUE, FALSE, TRUE, TRUE},
               dayToDay[6] = {TRUE, FALSE, FALSE, TRUE, TRUE, FALSE};
    for (LONG op = 0; op < 6; ++op) {
        BOOL a = -1, b = -1;
        EXPECT_HR(century->Compare(day.Get(), op, &a), S_OK);
        EXPECT_HR(day->Compare(Of({1, 0, 0, 0}).Get(), op, &b), S_OK);
        EXPECT_EQ(std::pair(a, b), std::pair(centuryToDay[op], dayToDay[op])) << op;
    }
    BOOL result = FALSE;
    EXPECT_HR(day->Compare(century.Get(), 6, &result), E_INVALIDARG);
    EXPECT_EQ(LastMessage(), u"Invalid operator");
}

TEST(PLTimeSpan, FromDatesSubtractsFieldByFieldAndClonesCarryTheFields) {
    PLComPtr<IPLDateTime> start, end;
    ASSERT_HR(PLCreateDateTime(0x0409, start.Put()), S_OK);
    ASSERT_HR(PLCreateDateTime(0x0409, end.Put()), S_OK);
    ASSERT_HR(start->Initialize(3, 1, 2021, 10, 0, 0), S_OK);
    ASSERT_HR(end->Initialize(3, 2, 2021, 9, 30, 0), S_OK);
    auto span = Of({5, 5, 5, 5});
    EXPECT_HR(span->InitializeFromDate(start.Get(), end.Get()), S_OK);
    EXPECT_EQ(Get(span.Get()), (Span{0, 23, 30, 0}));
    EXPECT_HR(span->InitializeFromDate(end.Get(), start.Get()), S_OK);
    EXPECT_EQ(Get(span.Get()), (Span{-1, 0, 30, 0}));

    PLComPtr<IPLCloneable> cloneable;
    ASSERT_HR(span.As(cloneable), S_OK);
    PLComPtr<IPLTimeSpan> copy;
    ASSERT_HR(cloneable->Clone(IID_IPLTimeSpan, copy.PutVoid()), S_OK);
    ASSERT_NE(copy.Get(), span.Get());
    EXPECT_EQ(Get(copy.Get()), (Span{-1, 0, 30, 0}));
}

}  // namespace
