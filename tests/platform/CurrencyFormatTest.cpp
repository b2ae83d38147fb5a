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
    return {.digits = 1, .negativeOrder = negative, .positiveOrder = positive};
}

// Each order template's shape, and what a locale's own format writes.
TEST(CurrencyFormatTest, OrdersAndLocaleFormats) {
    const char* positive[] = {"$1.1", "1.1$", "$ 1.1", "1.1 $"};
    for (std::uint32_t order = 0; order < 4; ++order) EXPECT_EQ(Formatted(u"1.1", Dollars(order, 0)), positive[order]);
    for (const auto& [order, text] :
         {std::pair{0u, "($1.1)"}, {3u, "$1.1-"}, {6u, "1.1-$"}, {9u, "-$ 1.1"}, {15u, "(1.1 $)"}})
        EXPECT_EQ(Formatted(u"-1.1", Dollars(0, order)), text) << order;
    const std::tuple<std::uint32_t, const char*, const char*> locales[] = {
        // locale, 1234.555, -1234.555
        {0x0409, "$1,234.56", "($1,234.56)"},
        {0x040C, "1\u202F234,56 \u20AC", "-1\u202F234,56 \u20AC"},
        {0x0807, "CHF 1\u2019234.56", "CHF-1\u2019234.56"}};  // Windows: U+0027 as group separator
    for (const auto& [id, positive, negative] : locales) {
        const std::optional<CurrencyFormat> format = LocaleCurrencyFormat(id);
        ASSERT_TRUE(format.has_value()) << id;
        EXPECT_EQ(Formatted(u"1234.555", *format), positive) << std::hex << id;
        EXPECT_EQ(Formatted(u"-1234.555", *format), negative) << std::hex << id;
    }
    // Groups of 3, then 2.
    EXPECT_EQ(Formatted(u"1234567", LocaleCurrencyFormat(0x4009).value_or(CurrencyFormat())), "\u20B912,34,567.00");
    EXPECT_FALSE(LocaleCurrencyFormat(0x9999).has_value());
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

}  // namespace
