#include "platform/XmlDocument.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <string>

using namespace kd::platform;

namespace {
std::u16string Nested(int depth) {
    std::u16string text;
    for (int i = 0; i < depth; ++i) text += u"<a>";
    for (int i = 0; i < depth; ++i) text += u"</a>";
    return text;
}
}  // namespace

TEST(XmlDocument, ParseErrorsCarryLineColumnAndTheSourceLine) {
    XmlDocument doc;
    XmlParseError error;
    ASSERT_FALSE(doc.Parse(u"<r>\n  <a></b>\n</r>", error));
    EXPECT_NE(error.code, 0);
    EXPECT_EQ(error.line, 2);
    EXPECT_EQ(error.sourceLine, u"  <a></b>");
    EXPECT_GT(error.position, 4);
    EXPECT_FALSE(error.reason.empty());
    EXPECT_NE(error.reason.back(), u'\n');
    EXPECT_FALSE(doc.Root());
    // Invalid characters, even as references, are refused, never recovered.
    EXPECT_FALSE(doc.Parse(u"<r>&#1;</r>", error));
    EXPECT_FALSE(doc.Parse(u"", error));
}

TEST(XmlDocument, DepthIsLimitedAndEntitiesAreNotExpanded) {
    XmlDocument doc;
    XmlParseError error;
    EXPECT_TRUE(doc.Parse(Nested(XmlDocument::kMaxDepth - 10), error));
    EXPECT_FALSE(doc.Parse(Nested(XmlDocument::kMaxDepth + 10), error));
    // An external entity is neither fetched nor substituted.
    ASSERT_TRUE(doc.Parse(u"<!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><r>&e;</r>", error));
    EXPECT_EQ(doc.Root().FirstChild().Kind(), XmlNodeKind::Other);
    EXPECT_EQ(doc.Root().Value().find(u"root:"), std::u16string::npos);
}

TEST(XmlDocument, BuiltDocumentsSerialiseToWhatAnotherParserReadsBack) {
    XmlDocument doc;
    XmlNode root = doc.CreateElement(u"Root");
    ASSERT_TRUE(doc.SetRoot(root));
    XmlNode item = doc.CreateElement(u"\u00C9l\u00E9ment");
    ASSERT_TRUE(item.SetAttribute(u"NAME", u"a\"b<&>\t\r\n\u4E2D\U0001F600"));
    ASSERT_TRUE(item.SetText(u"x<y]]>&z\r\n\u4E2D"));
    ASSERT_TRUE(root.AppendChild(item));
    const std::string utf8 = doc.SerializeUtf8();
    xmlDocPtr other = xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8", XML_PARSE_NONET);
    ASSERT_NE(other, nullptr) << utf8;
    xmlNodePtr element = xmlDocGetRootElement(other)->children;
    xmlChar* name = xmlGetProp(element, reinterpret_cast<const xmlChar*>("NAME"));
    xmlChar* text = xmlNodeGetContent(element);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "a\"b<&>\t\r\n\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_STREQ(reinterpret_cast<char*>(text), "x<y]]>&z\r\n\xE4\xB8\xAD");
    EXPECT_STREQ(reinterpret_cast<const char*>(element->name), "\xC3\x89l\xC3\xA9ment");
    xmlFree(name);
    xmlFree(text);
    xmlFreeDoc(other);
    // And ours reads it back the same.
    XmlDocument again;
    XmlParseError error;
    ASSERT_TRUE(again.Parse(doc.Serialize(), error));
    std::u16string value;
    ASSERT_TRUE(again.Root().FirstChild().GetAttribute(u"NAME", value));
    EXPECT_EQ(value, u"a\"b<&>\t\r\n\u4E2D\U0001F600");
    EXPECT_EQ(again.Root().FirstChild().FirstChild().Value(), u"x<y]]>&z\r\n\u4E2D");
    EXPECT_FALSE(again.Root().FirstChild().GetAttribute(u"MISSING", value));
}

TEST(XmlDocument, SelectSingleTellsAMissFromAMalformedQuery) {
    XmlDocument doc;
    XmlParseError error;
    ASSERT_TRUE(doc.Parse(u"<r><p n='a'>1</p><p n='b'>2</p></r>", error));
    bool failed = true;
    EXPECT_EQ(doc.Root().SelectSingle(u"p[@n='b']", failed).Value(), u"2");
    EXPECT_FALSE(failed);
    EXPECT_FALSE(doc.Root().SelectSingle(u"q", failed));
    EXPECT_FALSE(failed);
    EXPECT_FALSE(doc.Root().SelectSingle(u"p[", failed));
    EXPECT_TRUE(failed);
}

TEST(XmlDocument, NamesAreValidated) {
    for (const char16_t* name : {u"a", u"_x", u"a.b-c", u"\u00C9t\u00E9", u"ns:a"}) EXPECT_TRUE(IsXmlName(name));
    for (const char16_t* name : {u"", u"a b", u"1a", u"a<b", u"-a", u"a\"", u"\xD800x"}) EXPECT_FALSE(IsXmlName(name));
    EXPECT_FALSE(IsXmlName(std::u16string_view(u"a\0b", 3)));
    EXPECT_TRUE(IsXmlChar(0x9) && IsXmlChar(0x10000) && !IsXmlChar(0x1) && !IsXmlChar(0xFFFE) && !IsXmlChar(0xD800));
}
