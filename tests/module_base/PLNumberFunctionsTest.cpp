// Number conversion and decimal-separator functions.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

#include "module_base/PLNumberFunctions.h"
#include "support/ErrorList.h"
#include "support/PropertyBagOf.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

TEST(PLNumberFunctionsTest, StringToDouble) {
    const std::tuple<const char16_t*, HRESULT, double> cases[] = {
        {u"-1,234.5", S_OK, -1234.5}, {u"+3.25", S_OK, 3.25}, {u"", S_OK, 0.0},   {u".5", S_OK, 0.5},
        {u"1.2.3", E_FAIL, 0},        {u"1e5", E_FAIL, 0},    {u" 1", E_FAIL, 0}, {u"1.2,3", E_FAIL, 0}};
    kdtest::TakeThreadErrors();
    for (const auto& [text, hr, expected] : cases) {
        double value = -99;
        EXPECT_HR(StringToDouble(text, &value), hr) << testing::PrintToString(text);
        EXPECT_EQ(value, hr == S_OK ? expected : -99);
    }
    // Failures leave no record; a value beyond the double range is refused, one below its
    // smallest step reads as the nearest double, zero.
    EXPECT_TRUE(kdtest::Recorded(u""));
    double value = 0;
    EXPECT_HR(StringToDouble(std::u16string(400, u'9').c_str(), &value), E_FAIL);
    const std::u16string tiny = u"-0." + std::u16string(400, u'0') + u"1";
    for (std::size_t sign : {0, 1}) {
        EXPECT_HR(StringToDouble(tiny.c_str() + sign, &value), S_OK);
        EXPECT_TRUE(value == 0.0 && std::signbit(value) == (sign == 0)) << value;
    }
}

TEST(PLNumberFunctionsTest, Int32Range) {
    // Value, result, whether VerifySafeInt32 records a warning or an error: near the top it warns.
    const std::tuple<LONGLONG, HRESULT, bool> cases[] = {{2146983647, S_OK, false},    {2146983648, S_OK, true},
                                                         {2147483647, S_OK, true},     {2147483648, E_FAIL, true},
                                                         {-2147483648LL, S_OK, false}, {-2147483649LL, E_FAIL, true}};
    for (const auto& [value, hr, records] : cases) {
        kdtest::TakeThreadErrors();
        EXPECT_HR(VerifySafeInt32(value), hr) << value;
        EXPECT_EQ(kdtest::TakeThreadErrors().empty(), !records) << value;
        LONG narrow = 12345;
        EXPECT_HR(ConvertPLLongToLong(value, &narrow), hr) << value;
        EXPECT_EQ(narrow, hr == S_OK ? static_cast<LONG>(value) : 12345);
    }
    LONG narrow = 0;
    EXPECT_TRUE(kdtest::Reports(ConvertPLLongToLong(-2147483649LL, &narrow), E_FAIL,
                                u"Unable to convert olValue (-2147483649) to Int32. This operation is not supported "
                                u"for values less than -2147483648."));
}

TEST(PLNumberFunctionsTest, EstimateImageMemory) {
    // Width, height, bits per pixel, bytes; products beyond 32 bits are not cut, and at the largest
    // sizes (the last row) the last step may not wrap either.
    const std::tuple<ULONG, ULONG, ULONG, uint64_t> cases[] = {{100, 10, 1, 2427u},
                                                               {1000, 1000, 24, 6156150u},
                                                               {100000, 100000, 32, 82000615000ull},
                                                               {4294967295u, 500000000, 32, 17609365912575000000ull}};
    uint64_t bytes = 0;
    for (const auto& [width, height, bits, expected] : cases) {
        EXPECT_HR(EstimateImageMemory(width, height, bits, &bytes), S_OK);
        EXPECT_EQ(bytes, expected) << width;
    }
    for (const auto& [width, height, message] : {std::tuple{0u, 10u, u"Non-zero WIDTH and HEIGHT required"},
                                                 {4294967295u, 530000000u, u"Image dimensions too large"},
                                                 {4294967295u, 4294967295u, u"Image dimensions too large"}}) {
        bytes = 7;
        EXPECT_TRUE(kdtest::Reports(EstimateImageMemory(width, height, 32, &bytes), E_FAIL, message)) << height;
        EXPECT_EQ(bytes, 7u);
    }
}

TEST(PLNumberFunctionsTest, DecimalSeparators) {
    // The data source's flag: absent, true.
    for (const auto& [bag, expected] :
         {std::pair{kdtest::BagOf({}), u"."}, {kdtest::BagOf({{u"databaseUsesCommaDecimal", true}}), u","}}) {
        PLString separator;
        LCID locale = 0;
        ASSERT_HR(GetDecimalSeparator(bag.Get(), separator, locale), S_OK);
        EXPECT_EQ(separator, PLString(expected));
        EXPECT_EQ(locale, 1033u);
    }
    // Locale, normal, localised.
    const std::tuple<LCID, const char16_t*, const char16_t*> cases[] = {{0x0407, u"1234.5", u"1234,5"},
                                                                        {0x040C, u"0.25", u"0,25"}};
    for (const auto& [locale, normal, local] : cases) {
        PLString text = normal;
        ASSERT_HR(LocalizeFloatingPointString(text, locale), S_OK);
        EXPECT_EQ(text, PLString(local));
        ASSERT_HR(NormalizeFloatingPointString(text, locale), S_OK);
        EXPECT_EQ(text, PLString(normal));
    }
    PLString text = u"1.5";
    EXPECT_HR(LocalizeFloatingPointString(text, 0x7FFF), E_FAIL);
    // A monetary separator other than "$" leaves the text alone.
    text = u"12$50";
    ASSERT_HR(CorrectPortugueseDecimalSeparator(0x0409, text), S_OK);
    EXPECT_EQ(text, PLString(u"12$50"));
    EXPECT_HR(CorrectPortugueseDecimalSeparator(0x7FFF, text), E_FAIL);
}

}  // namespace
