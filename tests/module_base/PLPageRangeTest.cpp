#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "module_base/PLPageRange.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

namespace {

using Ranges = std::vector<PLPageRange>;
using Ranges64 = std::vector<PLPageRange64>;

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

// The message of the single error recorded since the last call, "" for none.
std::string Recorded() {
    const auto errors = kdtest::TakeThreadErrors();
    if (errors.empty()) return "";
    EXPECT_EQ(errors.back().method, u"ParsePageRangeString");
    return Narrow(errors.back().message);
}

constexpr const char* kRepeated = "Invalid Page Range. Repeated values found.";
constexpr const char* kCharacter = "Invalid character in page range";
constexpr const char* kAboveMax = "Page in range greater than maximum page number.";

TEST(PLPageRange, ReadsRangesOrRefusesWithTheRecordedReason) {
    // Texts, maximum page, inverse ranges allowed, result, ranges read (a failure keeps what was there).
    const std::tuple<std::vector<const char16_t*>, int32_t, bool, HRESULT, Ranges, const char*> cases[] = {
        {{u"1-3, 5"}, 10, false, S_OK, {{1, 3}, {5, 5}}, ""},
        {{u"  1  -   3 ,7 "}, 0, false, S_OK, {{1, 3}, {7, 7}}, ""},
        {{u"5-3,7,1"}, 0, true, S_OK, {{5, 3}, {7, 7}, {1, 1}}, ""},
        {{u"1x-3"}, 0, false, S_OK, {{1, 3}}, ""},  // without a maximum other characters are skipped
        {{u"1a"}, 10, false, S_FALSE, {}, ""},
        {{u" \t "}, 10, false, E_INVALIDARG, {}, ""},
        {{u"1--3", u"1,-3", u"3-"}, 0, false, E_FAIL, {}, kCharacter},
        {{u"1-2-3"}, 0, false, E_FAIL, {}, "Invalid dashes in page range"},
        {{u"0", u"1,"}, 0, false, E_FAIL, {}, "Pages in range must be greater than 0."},
        {{u"12"}, 10, false, E_FAIL, {}, kAboveMax},
        {{u"5-3"}, 0, false, E_FAIL, {}, "Inverse page range found."},
        // Equal ends and mixed directions share pages too.
        {{u"1-5,3", u"1-5,3-5"}, 0, false, E_FAIL, {}, kRepeated},
        {{u"5-1,3", u"3,5-1", u"9-6,2-7"}, 0, true, E_FAIL, {}, kRepeated},
        {{u"1-3,4-6,9-7"}, 0, true, S_OK, {{1, 3}, {4, 6}, {9, 7}}, ""},
        // Beyond 32 bits: refused, never wrapped to a small page.
        {{u"4294967297", u"2147483648"}, 0, false, E_FAIL, {}, kAboveMax},
        {{u"2147483647"}, 0, false, S_OK, {{2147483647, 2147483647}}, ""}};
    kdtest::TakeThreadErrors();
    for (const auto& [texts, maxPage, inverse, hr, expected, message] : cases)
        for (const char16_t* text : texts) {
            SCOPED_TRACE(Narrow(text));
            Ranges ranges{{9, 9}};
            EXPECT_HR(ParsePageRangeString(text, ranges, maxPage, inverse), hr);
            EXPECT_EQ(ranges, (hr < 0 ? Ranges{{9, 9}} : expected));
            EXPECT_EQ(Recorded(), message);
        }
    Ranges ranges;
    EXPECT_HR(ParsePageRangeString(nullptr, ranges, 0, false), E_POINTER);
}

TEST(PLPageRange, WideFormReadsBeyond32BitsAndWritesWhatReadsBack) {
    Ranges64 ranges;
    EXPECT_HR(ParsePageRangeString(u"9223372036854775808", ranges, 0, false), E_FAIL);
    EXPECT_EQ(Recorded(), kAboveMax);
    EXPECT_HR(ParsePageRangeString(u"4294967297-9223372036854775807,1", ranges, 0, false), S_OK);
    EXPECT_EQ(ranges, (Ranges64{{4294967297LL, INT64_MAX}, {1, 1}}));
    PLString text;
    EXPECT_HR(CreatePageRangeString(ranges, text), S_OK);
    EXPECT_EQ(text.view(), u"4294967297-9223372036854775807,1");
    EXPECT_HR(CreatePageRangeString(Ranges{{1, 3}, {5, 5}, {9, 7}}, text), S_OK);
    EXPECT_EQ(text.view(), u"1-3,5,9-7");
}

}  // namespace
