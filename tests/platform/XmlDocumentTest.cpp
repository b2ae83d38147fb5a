// The DOM's own guarantees: bounded depth and entity expansion, no entity fetching, unpaired
// surrogates refused.
#include "platform/XmlDocument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace kd::platform;

namespace {
std::u16string Nested(int depth) {
    std::u16string text;
    for (int i = 0; i < depth; ++i) text += u"<a>";
    for (int i = 0; i < depth; ++i) text += u"</a>";
    return text;
}
// Entities e0 to e`levels`, each ten references to the one before: e`levels` stands for 10^levels
// copies of "aaaaaaaaaa". `use` is where the document refers to it.
std::u16string Laughs(int levels, const char16_t* use) {
    std::u16string text = u"<!DOCTYPE r [<!ENTITY e0 \"aaaaaaaaaa\">";
    for (int i = 1; i <= levels; ++i) {
        text += u"<!ENTITY e" + std::u16string(1, static_cast<char16_t>(u'0' + i)) + u" \"";
        for (int k = 0; k < 10; ++k) text += u"&e" + std::u16string(1, static_cast<char16_t>(u'0' + i - 1)) + u";";
        text += u"\">";
    }
    return text + u"]>" + use;
}
}  // namespace

// Documents built to exhaust the parser or the stack are refused or read without expansion.
// (Texts over the parser's default 10 MB limit: PLXMLFunctionsTest.)
TEST(XmlDocument, HostileDocumentsAreBounded) {
    // The text, whether it parses.
    const std::pair<std::u16string, bool> cases[] = {
        {Nested(XmlDocument::kMaxDepth - 10), true},
        {Nested(XmlDocument::kMaxDepth + 10), false},
        {Laughs(9, u"<r>&e9;</r>"), true},  // references in content stay unexpanded
        {Laughs(9, u"<r a='&e9;'/>"), false},
        {u"<!DOCTYPE r [<!ENTITY a '&b;'><!ENTITY b '&a;'>]><r a='&a;'/>", false},
        {u"<!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><r>&e;</r>", true}};  // not fetched
    for (const auto& [text, parses] : cases) {
        SCOPED_TRACE(std::string(text.begin(), text.begin() + std::min<std::size_t>(text.size(), 60)));
        XmlDocument doc;
        XmlParseError error;
        ASSERT_EQ(doc.Parse(text, error), parses);
        EXPECT_TRUE(!parses || doc.Root().FirstChild().Kind() != XmlNodeKind::EntityReference ||
                    doc.Root().Value().empty());
    }
    XmlDocument doc;
    XmlParseError error;
    EXPECT_FALSE(doc.Parse(u"<r>\nx\xDC00</r>", error));
    EXPECT_EQ(error.line, 2);
    EXPECT_EQ(error.position, 5);
    EXPECT_EQ(error.reason, u"The text holds an unpaired surrogate");
    // An attribute holding a reference to a declared entity is not read.
    ASSERT_TRUE(doc.Parse(u"<!DOCTYPE r [<!ENTITY e 'x'>]><r a='1&e;' b='&#65;&amp;'/>", error));
    std::u16string value;
    EXPECT_FALSE(doc.Root().GetAttribute(u"a", value));
    ASSERT_TRUE(doc.Root().GetAttribute(u"b", value));
    EXPECT_EQ(value, u"A&");
}
