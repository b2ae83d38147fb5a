// The property form: loading with the character-reference retry and the parse-error message;
// writing and reading bags, collections and dates, read back with libxml2.
#include "module_base/PLXMLFunctions.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "tests/support/ErrorList.h"
#include "tests/support/HResult.h"

using kd::platform::XmlDocument;
using kd::platform::XmlNode;

namespace {

HRESULT Load(const char16_t* text, XmlDocument& document) {
    return LoadDOMFromXMLString(text, document);
}

}  // namespace

TEST(PLXMLFunctions, RetryRemovesOnlyReferencesToForbiddenCharacters) {
    struct Case {
        const char16_t* in;
        const char16_t* out;
    };
    const Case cases[] = {
        {u"a&#1;b", u"ab"},
        {u"&#x0;&#X1F;&#xFFFE;&#xD800;&#1114112;&#99999999999;", u"&#X1F;"},  // "&#X" is no reference
        {u"&#65;&#x10FFFF;&#9;&#xA;&#13;", u"&#65;&#x10FFFF;&#9;&#xA;&#13;"},
        {u"&#;&#x;&#12a;&amp;&#1", u"&#;&#x;&#12a;&amp;&#1"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PLRemoveForbiddenCharacterReferences(c.in).view(), std::u16string_view(c.out));

    XmlDocument document;
    ASSERT_HR(Load(u"<r a='&#x1;x'>&#65;&#1;&#x4E2D;</r>", document), S_OK);
    std::u16string value;
    ASSERT_TRUE(document.Root().GetAttribute(u"a", value));
    EXPECT_EQ(value, u"x");
    EXPECT_EQ(document.Root().Value(), u"A\u4E2D");  // valid references survive the retry
}

TEST(PLXMLFunctions, ParseErrorsNameReasonLineAndText) {
    XmlDocument document;
    PLClearThreadErrors();
    const char16_t* text = u"<r>\n<a>&#1;</b></r>";
    EXPECT_HR(Load(text, document), E_FAIL);
    const auto errors = kdtest::TakeThreadErrors();
    ASSERT_FALSE(errors.empty());
    const std::u16string& message = errors.front().message;
    EXPECT_EQ(message.rfind(u"Parsing error (0x", 0), 0u) << PLString(message.c_str()).ToUtf8();
    EXPECT_NE(message.find(u") on line 2 at "), std::u16string::npos);
    EXPECT_NE(message.find(u"\nSource Text:\n<a></b></r>XML String:\n"), std::u16string::npos);
    // The text as loaded the second time ends the message.
    EXPECT_EQ(message.substr(message.size() - 15), u"<r>\n<a></b></r>");
    EXPECT_EQ(errors.front().className, u"CoreXMLFunctions");
    EXPECT_EQ(errors.front().method, u"LoadDOMFromXMLBSTR");
    EXPECT_HR(LoadDOMFromXMLString(nullptr, document), E_POINTER);
}
