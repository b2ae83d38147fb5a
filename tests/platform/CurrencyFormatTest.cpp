#include "platform/CurrencyFormat.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "platform/Text.h"

namespace {

using namespace kd::platform;

std::string Formatted(std::u16string_view number, const CurrencyFormat& format) {
    std::u16string out = u"stale";
    const CurrencyFormatStatus status = FormatCurrency(number, format, out);
    if (status != CurrencyFormatStatus::kOk) {
        EXPECT_TRUE(out.empty());
        return status == CurrencyFormatStatus::kInvalidNumber ? "<number>" : "<format>";
    }
    return Utf16ToUtf8(out);
}

CurrencyFormat Dollars(std::uint32_t positive, std::uint32_t negative) {
    CurrencyFormat format;
    format.digits = 1;
    format.positiveOrder = positive;
    format.negativeOrder = negative;
    return format;
}

TEST(CurrencyFormatTest, Orders) {
    const char* positive[] = {"$1.1", "1.1$", "$ 1.1", "1.1 $"};
    for (std::uint32_t order = 0; order < 4; ++order) EXPECT_EQ(Formatted(u"1.1", Dollars(order, 0)), positive[order]);
    // The sixteen negative orders are templates of the same kind: one of each shape.
    for (const auto& [order, text] :
         {std::pair{0u, "($1.1)"}, {3u, "$1.1-"}, {6u, "1.1-$"}, {9u, "-$ 1.1"}, {15u, "(1.1 $)"}})
        EXPECT_EQ(Formatted(u"-1.1", Dollars(0, order)), text) << order;
    // The symbol, separators and minus sign are text of any length; an empty symbol leaves the
    // order's blanks, as Windows does.
    CurrencyFormat wide = Dollars(3, 12);
    wide.currencySymbol = u"CHF";
    wide.decimalSeparator = u"<.>";
    wide.negativeSign = u"\u2212";
    EXPECT_EQ(Formatted(u"-1.1", wide), "CHF \u22121<.>1");
    EXPECT_EQ(Formatted(u"1.1", wide), "1<.>1 CHF");
    wide.currencySymbol.clear();
    EXPECT_EQ(Formatted(u"-1.1", wide), " \u22121<.>1");
}

TEST(CurrencyFormatTest, Grouping) {
    // Grouping, number, text: a final 0 (320) or a 0 within (302) ends grouping; leading zeros
    // are dropped; groups are placed after rounding.
    const std::tuple<std::uint32_t, const char16_t*, const char*> cases[] = {{3, u"1234", "1'234"},
                                                                             {32, u"1234567890", "1'23'45'67'890"},
                                                                             {320, u"1234567890", "12345'67'890"},
                                                                             {302, u"1234567890", "1234567'890"},
                                                                             {3, u"0001234", "1'234"},
                                                                             {3, u"-999999.999", "-1'000'000"}};
    CurrencyFormat format = Dollars(1, 5);
    format.digits = 0;
    format.currencySymbol.clear();
    format.thousandSeparator = u"'";
    for (const auto& [grouping, number, expected] : cases) {
        format.grouping = grouping;
        EXPECT_EQ(Formatted(number, format), expected) << grouping << " " << Utf16ToUtf8(number);
    }
}

TEST(CurrencyFormatTest, DigitsRoundingAndLeadingZero) {
    // Digits, leading zero, number, text. Rounding is half away from zero on the digits (no binary
    // rounding) and may carry into the whole part; with no fraction the whole part is written even
    // without a leading zero; what rounds to zero has no sign.
    const std::tuple<std::uint32_t, std::uint32_t, const char16_t*, const char*> cases[] = {
        {2, 1, u"1.005", "$1.01"},    {2, 1, u"1.0049999", "$1.00"}, {0, 1, u"999.5", "$1,000"},
        {9, 1, u"1", "$1.000000000"}, {2, 1, u".5", "$0.50"},        {2, 0, u".5", "$.50"},
        {2, 0, u"0", "$.00"},         {0, 0, u"0.2", "$0"},          {2, 1, u"-0.004", "$0.00"}};
    CurrencyFormat format;
    for (const auto& [digits, leadingZero, number, expected] : cases) {
        std::tie(format.digits, format.leadingZero) = std::tie(digits, leadingZero);
        EXPECT_EQ(Formatted(number, format), expected) << Utf16ToUtf8(number);
    }
    EXPECT_EQ(Formatted(u"12345678901234567890123.456", format), "$12,345,678,901,234,567,890,123.46");
}

TEST(CurrencyFormatTest, MalformedInputIsRefused) {
    for (const std::u16string number : {u"", u"-", u".", u"-.", u"1.2.3", u"+1", u" 1", u"1 ", u"1-", u"--1", u"1e5",
                                        u"1,000", u"\u0661", u"\uFF11", u"0x10"})
        EXPECT_EQ(Formatted(number, CurrencyFormat()), "<number>") << Utf16ToUtf8(number);
    EXPECT_EQ(Formatted(std::u16string{u'1', u'\0', u'2'}, CurrencyFormat()), "<number>");
    const std::pair<std::uint32_t CurrencyFormat::*, std::uint32_t> outOfRange[] = {
        {&CurrencyFormat::digits, 10}, {&CurrencyFormat::positiveOrder, 4}, {&CurrencyFormat::negativeOrder, 16}};
    for (const auto& [field, value] : outOfRange) {
        CurrencyFormat format;
        format.*field = value;
        EXPECT_EQ(Formatted(u"1", format), "<format>") << value;
    }
}

TEST(CurrencyFormatTest, LocaleFormats) {
    const std::tuple<std::uint32_t, const char*, const char*> cases[] = {
        // locale, 1234.555, -1234.555
        {0x0409, "$1,234.56", "($1,234.56)"},
        {0x040C, "1\u202F234,56 \u20AC", "-1\u202F234,56 \u20AC"},
        {0x0411, "\uFFE51,235", "-\uFFE51,235"},             // Windows: U+00A5
        {0x0807, "CHF 1\u2019234.56", "CHF-1\u2019234.56"},  // Windows: U+0027 as group separator
        {0x0413, "\u20AC 1.234,56", "\u20AC -1.234,56"}};
    for (const auto& [id, positive, negative] : cases) {
        const std::optional<CurrencyFormat> format = LocaleCurrencyFormat(id);
        ASSERT_TRUE(format.has_value()) << id;
        EXPECT_EQ(Formatted(u"1234.555", *format), positive) << std::hex << id;
        EXPECT_EQ(Formatted(u"-1234.555", *format), negative) << std::hex << id;
    }
    const std::optional<CurrencyFormat> indian = LocaleCurrencyFormat(0x4009);  // groups of 3, then 2
    ASSERT_TRUE(indian.has_value());
    EXPECT_EQ(Formatted(u"1234567", *indian), "\u20B912,34,567.00");
    EXPECT_FALSE(LocaleCurrencyFormat(0x9999).has_value());
}

}  // namespace
