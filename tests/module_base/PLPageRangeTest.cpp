#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "module_base/PLPageRange.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

using Ranges = std::vector<PLPageRange>;
using Ranges64 = std::vector<PLPageRange64>;

TEST(PLPageRange, ReadsRangesOrRefuses) {
    // Texts, maximum page, inverse ranges allowed, result, ranges read (a failure keeps what was there).
    const std::tuple<std::vector<const char16_t*>, int32_t, bool, HRESULT, Ranges> cases[] = {
        {{u"1-3, 5"}, 10, false, S_OK, {{1, 3}, {5, 5}}},
        {{u"  1  -   3 ,7 "}, 0, false, S_OK, {{1, 3}, {7, 7}}},
        {{u"5-3,7,1"}, 0, true, S_OK, {{5, 3}, {7, 7}, {1, 1}}},
        {{u"1x-3"}, 0, false, S_OK, {{1, 3}}},  // without a maximum other characters are skipped
        {{u"1a"}, 10, false, S_FALSE, {}},
        {{u" \t "}, 10, false, E_INVALIDARG, {}},
        {{u"\r\n\v\f"}, 10, false, E_INVALIDARG, {}},
        // A stray dash, a second dash, page 0 (a trailing comma reads as one), above the maximum,
        // an inverse range where none is allowed.
        {{u"1--3", u"1-2-3", u"0", u"1,", u"12", u"5-3"}, 10, false, E_FAIL, {}},
        {{u"1,,3", u"1-,3", u"1,-3", u"-3", u"3-"}, 10, false, E_FAIL, {}},  // separators out of place
        // Two dashes in one range, however many digits stand between them; numbers side by side.
        {{u"1-10-20", u"10-20-30", u"1-3,10-12-14", u"5 7"}, 0, true, E_FAIL, {}},
        // Overlaps, equal ends and mixed directions too.
        {{u"1-5,3-5", u"5-1,3", u"9-6,2-7"}, 0, true, E_FAIL, {}},
        {{u"1-3,4-6,9-7"}, 0, true, S_OK, {{1, 3}, {4, 6}, {9, 7}}},
        // Beyond 32 bits: refused, never wrapped to a small page.
        {{u"4294967297", u"2147483648"}, 0, false, E_FAIL, {}},
        {{u"2147483647"}, 0, false, S_OK, {{2147483647, 2147483647}}}};
    for (const auto& [texts, maxPage, inverse, hr, expected] : cases)
        for (const char16_t* text : texts) {
            SCOPED_TRACE(testing::PrintToString(text));
            Ranges ranges{{9, 9}};
            EXPECT_HR(ParsePageRangeString(text, ranges, maxPage, inverse), hr);
            EXPECT_EQ(ranges, (hr < 0 ? Ranges{{9, 9}} : expected));
        }
    Ranges ranges;
    EXPECT_HR(ParsePageRangeString(nullptr, ranges, 0, false), E_POINTER);
    // What each refusal says, in both forms.
    for (const auto& [text, message] :
         {std::pair{u"10-20-30", u"Invalid dashes in page range"}, {u"5  7,9", u"Invalid character in page range"}}) {
        Ranges64 wide;
        EXPECT_TRUE(kdtest::Reports(ParsePageRangeString(text, ranges, 100, false), E_FAIL, message));
        EXPECT_TRUE(kdtest::Reports(ParsePageRangeString(text, wide, 100, false), E_FAIL, message));
    }
}

TEST(PLPageRange, WideFormReadsBeyond32BitsAndWritesWhatReadsBack) {
    Ranges64 ranges;
    EXPECT_HR(ParsePageRangeString(u"9223372036854775808", ranges, 0, false), E_FAIL);
    EXPECT_HR(ParsePageRangeString(u"4294967297-9223372036854775807,1", ranges, 0, false), S_OK);
    EXPECT_EQ(ranges, (Ranges64{{4294967297LL, INT64_MAX}, {1, 1}}));
    PLString text;
    EXPECT_HR(CreatePageRangeString(ranges, text), S_OK);
    EXPECT_EQ(text.view(), u"4294967297-9223372036854775807,1");
    EXPECT_HR(CreatePageRangeString(Ranges{{1, 3}, {5, 5}, {9, 7}}, text), S_OK);
    EXPECT_EQ(text.view(), u"1-3,5,9-7");
}

}  // namespace
