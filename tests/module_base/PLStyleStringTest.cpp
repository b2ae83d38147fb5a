// Style strings: pairs, separators, white space.
#include <gtest/gtest.h>

#include <string>

#include "module_base/PLStyleString.h"

namespace {

std::u16string Pairs(std::u16string_view text) {
    std::u16string out;
    for (const auto& p : PLParseStyleString(text))
        out += u"[" + std::u16string(p.name.view()) + u"=" + std::u16string(p.value.view()) + u"]";
    return out;
}

TEST(PLStyleStringTest, ParsesPairsAsWritten) {
    const struct {
        const char16_t* text;
        const char16_t* pairs;
    } cases[] = {
        {u"a : 1;;b:2:3", u"[a=1][b=2]"},
        {u"", u""},
        {u";;;", u""},
        {u" : x; :; c ;d:", u"[c=][d=]"},
        {u"\tname\t:\t two words \r\n;x:y", u"[name=two words][x=y]"},
        {u"url:http://host/p;k:v", u"[url=http][k=v]"},
        {u"a:1;a:2", u"[a=1][a=2]"},
    };
    for (const auto& c : cases) EXPECT_EQ(Pairs(c.text), c.pairs);
}

}  // namespace
