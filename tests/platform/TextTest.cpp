#include "platform/Text.h"

#include <gtest/gtest.h>

namespace {

using namespace kd::platform;

// Every plane round-trips; unpaired surrogates become "?" when narrowed (checked where error
// text takes that round trip). Invalid UTF-8 (a stray continuation byte, a truncated sequence, an
// over-long form, an encoded surrogate, a byte that never starts one) becomes U+FFFD, and
// decoding resumes at the next byte.
TEST(TextTest, Utf8RoundTripsAndReplacesMalformedInput) {
    const std::u16string wide = u"A\u00E9\u20AC\U0001F600z";
    EXPECT_EQ(Utf16ToUtf8(wide), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(wide)), wide);
    const std::pair<std::string, std::u16string> cases[] = {
        {"a\200b", u"a\uFFFDb"}, {"a\xE2\x82", u"a\uFFFD"}, {"\xE2\x82z", u"\uFFFDz"},
        {"\xC0\xAF", u"\uFFFD"}, {"\xFF", u"\uFFFD"},       {"\xED\xA0\x80!", u"\uFFFD!"},
    };
    for (const auto& [narrow, decoded] : cases)
        EXPECT_EQ(Utf8ToUtf16(narrow), decoded) << ::testing::PrintToString(narrow);
}

TEST(TextTest, CaseMappingKeepsTheLengthAndComparisonIgnoresCase) {
    std::u16string s = u"stra\u00DFe \u00E9t\u00E9 \U00010428";  // Deseret small letter
    ToUpperInPlace(s.data(), s.size());
    // Sharp s has no one-to-one upper case and stays; the supplementary letter maps as a pair.
    EXPECT_EQ(s, u"STRA\u00DFE \u00C9T\u00C9 \U00010400");
    ToLowerInPlace(s.data(), s.size());
    EXPECT_EQ(s, u"stra\u00DFe \u00E9t\u00E9 \U00010428");
    EXPECT_EQ((std::u16string{ToUpper(u'a'), ToUpper(u'{'), ToUpper(u'\u00E9'), ToLower(u'\u0130')}), u"A{\u00C9i");
    EXPECT_TRUE(IsAlpha(u'Q') && IsAlpha(u'\u00E9') && !IsAlpha(u'{') && !IsAlpha(u'@'));
    EXPECT_EQ(std::pair(CompareNoCase(u"Hello", u"hELLO"), CompareNoCase(u"\u00C9", u"\u00E9")), std::pair(0, 0));
    EXPECT_LT(CompareNoCase(u"abc", u"ABD"), 0);
    EXPECT_GT(CompareNoCase(u"abcd", u"ABC"), 0);
    for (const char16_t c : {u' ', u'\t', u'\n', u'\u3000'}) EXPECT_TRUE(IsSpace(c)) << int(c);
    for (const char16_t c : {u'x', u'\0'}) EXPECT_FALSE(IsSpace(c)) << int(c);
    EXPECT_EQ(Utf16Length(u"abcdef", 4), 4u);
}

}  // namespace
