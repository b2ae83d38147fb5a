// The DOM's own guarantees: bounded depth, no entity fetching, names, warnings.
#include "platform/XmlDocument.h"

#include <gtest/gtest.h>

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

TEST(XmlDocument, NamesAreValidated) {
    for (const char16_t* name : {u"a", u"_x", u"a.b-c", u"\u00C9t\u00E9", u"ns:a"}) EXPECT_TRUE(IsXmlName(name));
    for (const char16_t* name : {u"", u"a b", u"1a", u"a<b", u"-a", u"a\"", u"\xD800x"}) EXPECT_FALSE(IsXmlName(name));
    EXPECT_FALSE(IsXmlName(std::u16string_view(u"a\0b", 3)));
}

TEST(XmlDocument, WarningsNeitherLeakNorStandForTheError) {
    XmlDocument doc;
    XmlParseError error;
    // A relative namespace name is only warned about: the document loads (and the warning's text
    // is not kept, which the leak checker sees).
    EXPECT_TRUE(doc.Parse(u"<a xmlns='relative'/>", error));
    EXPECT_FALSE(doc.Parse(u"<a xmlns='relative'><b></a>", error));
    EXPECT_NE(error.reason.find(u"mismatch"), std::u16string::npos)
        << std::string(error.reason.begin(), error.reason.end());
}
