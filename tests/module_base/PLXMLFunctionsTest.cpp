// The property form: loading with the character-reference retry and the parse-error message;
// writing and reading bags, collections and dates, read back with libxml2.
#include "module_base/PLXMLFunctions.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <iterator>
#include <vector>

#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "module_base/PLString.h"
#include "tests/support/ErrorList.h"
#include "tests/support/HResult.h"
#include "tests/support/PropertyBagOf.h"

using kd::platform::XmlDocument;
using kd::platform::XmlNode;
using kdtest::BagOf;
using kdtest::VariantOf;

TEST(PLXMLFunctions, RetryRemovesOnlyReferencesToForbiddenCharacters) {
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"a&#1;b", u"ab"},
        {u"&#x0;&#X1F;&#xFFFE;&#xD800;&#1114112;&#99999999999;", u"&#X1F;"},  // "&#X" is no reference
        {u"&#65;&#x10FFFF;&#9;&#xA;&#13;", u"&#65;&#x10FFFF;&#9;&#xA;&#13;"},
        {u"&#;&#x;&#12a;&amp;&#1", u"&#;&#x;&#12a;&amp;&#1"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(PLRemoveForbiddenCharacterReferences(in).view(), std::u16string_view(out));

    XmlDocument document;
    ASSERT_HR(LoadDOMFromXMLString(u"<r a='&#x1;x'>&#65;&#1;&#x4E2D;</r>", document), S_OK);
    std::u16string value;
    ASSERT_TRUE(document.Root().GetAttribute(u"a", value));
    EXPECT_EQ(value, u"x");
    EXPECT_EQ(document.Root().Value(), u"A\u4E2D");  // valid references survive the retry
}

TEST(PLXMLFunctions, ParseErrorsNameReasonLineAndText) {
    XmlDocument document;
    PLClearThreadErrors();
    const char16_t* text = u"<r>\n<a>&#1;</b></r>";
    EXPECT_HR(LoadDOMFromXMLString(text, document), E_FAIL);
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

namespace {

PLComPtr<IPLVariant> Get(IPLPropertyBag* bag, const char16_t* name) {
    PLComPtr<IPLVariant> value;
    EXPECT_HR(bag->GetProperty(name, value.Put()), S_OK) << PLString(name).ToUtf8();
    return value;
}

LONG TypeOf(IPLVariant* v) {
    LONG type = -2;
    v->GetType(&type);
    return type;
}

std::u16string TextOf(IPLVariant* v) {
    WCHAR buffer[2048] = {};
    v->GetValueString(buffer, 2048);
    return buffer;
}

std::u16string MaskOf(IPLVariant* v) {
    WCHAR buffer[256] = {};
    v->GetDateTimeFormatString(buffer, 256);
    return buffer;
}

}  // namespace

// Every kind written into a bag's XML, checked with libxml2, and read back.
TEST(PLXMLFunctions, EveryScalarKindRoundTrips) {
    PLComPtr<IPLVariant> wide = VariantOf(), real = VariantOf(), date = VariantOf(), stamp = VariantOf();
    wide->SetValueLongLong(-9007199254740993LL);
    real->SetValueDouble(0.1);
    date->SetValueString(u"02-29-2024");
    date->Convert(PLVariantDateTime);
    date->SetDateTimeFormatString(u"%y-%2m-%2d");
    stamp->SetValueString(u"07-04-2021 11:30:15 PM");
    stamp->Convert(PLVariantDateTimeOfDay);
    const struct {
        const char16_t* name;
        PLComPtr<IPLVariant> value;
        LONG typeBack;  // longs read back wide
    } values[] = {{u"Title <&> \u00E9", VariantOf(u"a<b & \"c\" ]]> \u00E9\u4E2D\U0001F600\r\n"), PLVariantString},
                  {u"Size", VariantOf(-5), PLVariantLongLong},
                  {u"Wide", wide, PLVariantLongLong},
                  {u"Ratio", real, PLVariantDouble},
                  {u"On", VariantOf(true), PLVariantBoolean},
                  {u"Day", date, PLVariantDateTime},
                  {u"Stamp", stamp, PLVariantDateTimeOfDay},
                  {u"Empty", VariantOf(u""), PLVariantString}};
    auto bag = BagOf({});
    for (const auto& v : values) ASSERT_HR(bag->SetProperty(v.name, v.value.Get()), S_OK);
    PLComPtr<IPLVariant> xml;
    ASSERT_HR(CreateXMLFromPropertyBag(bag.Get(), xml.Put(), u"Root"), S_OK);
    const std::string utf8 = PLString(TextOf(xml.Get()).c_str()).ToUtf8();
    xmlDocPtr other = xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8", XML_PARSE_NONET);
    ASSERT_NE(other, nullptr) << utf8;
    EXPECT_EQ(xmlChildElementCount(xmlDocGetRootElement(other)), std::size(values));
    xmlFreeDoc(other);
    PLComPtr<IPLPropertyBag> back;
    ASSERT_HR(RestorePropertyBagFromXML(PLString::FromUtf8(utf8).c_str(), back.Put()), S_OK);
    for (const auto& v : values) {
        SCOPED_TRACE(PLString(v.name).ToUtf8());
        EXPECT_EQ(TypeOf(Get(back.Get(), v.name).Get()), v.typeBack);
        EXPECT_EQ(TextOf(Get(back.Get(), v.name).Get()), TextOf(v.value.Get()));
    }
    EXPECT_EQ(MaskOf(Get(back.Get(), u"Day").Get()), u"%y-%2m-%2d");
    double ratio = 0;
    Get(back.Get(), u"Ratio")->GetValueDouble(&ratio);
    EXPECT_EQ(ratio, 0.1);
}

TEST(PLXMLFunctions, CollectionsAreWrittenUnchangedAndReadBackWhole) {
    PLComPtr<IPLVariantCollection> items;
    ASSERT_HR(PLCreateInstance(CLSID_PLVariantCollection, items), S_OK);
    PLComPtr<IPLVariant> wide = VariantOf(), small = VariantOf(), empty = VariantOf(u""), date = VariantOf();
    wide->SetValueLongLong(1LL << 40);
    small->SetValueLongLong(7);
    date->SetValueString(u"12-31-1999");
    date->Convert(PLVariantDateTime);  // the default mask
    for (IPLVariant* v : {wide.Get(), small.Get(), empty.Get(), date.Get()}) items->Insert(v);

    XmlDocument document;
    XmlNode root = document.CreateElement(u"Root");
    document.SetRoot(root);
    ASSERT_HR(GenerateVariantCollectionXML(items.Get(), document, root, u"List"), S_OK);
    const std::string xml = document.SerializeUtf8();
    EXPECT_NE(xml.find("<ITEM DATATYPE=\"Long\" NAME=\"VariantCollectionItem\">1099511627776</ITEM>"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<ITEM DATATYPE=\"String\" NAME=\"VariantCollectionItem\"/>"), std::string::npos);
    EXPECT_NE(xml.find("DATATYPE=\"DateTime\" FORMAT=\"" + PLString(MaskOf(date.Get()).c_str()).ToUtf8() + "\""),
              std::string::npos)
        << xml;
    // Writing changed nothing it wrote.
    EXPECT_EQ(TypeOf(wide.Get()), PLVariantLongLong);
    EXPECT_EQ(TypeOf(date.Get()), PLVariantDateTime);

    // Read back through the property reader, indented and with a comment between items.
    PLString text = PLString::FromUtf8(xml);
    text.Replace(u"<ITEM", u"\n   <!-- item -->\n   <ITEM");
    XmlDocument again;
    ASSERT_HR(LoadDOMFromXMLString(text.c_str(), again), S_OK);
    PLComPtr<IPLPropertyBag> bag = BagOf({});
    ASSERT_HR(GetPropertyBagValuesFromXMLDOM(again.Root(), bag.Get(), nullptr), S_OK);
    PLComPtr<IPLVariantCollection> back;
    ASSERT_HR(Get(bag.Get(), u"List")->GetValueCollection(back.Put()), S_OK);
    ASSERT_EQ(back->GetCount(), 4);
    const LONG kinds[] = {PLVariantLongLong, PLVariantLong, PLVariantString, PLVariantDateTime};
    const std::u16string texts[] = {u"1099511627776", u"7", u"", TextOf(date.Get())};
    for (LONG i = 0; i < 4; ++i) {
        PLComPtr<IPLVariant> item;
        ASSERT_HR(back->GetAt(i, item.Put()), S_OK);
        EXPECT_EQ(TypeOf(item.Get()), kinds[i]) << i;
        EXPECT_EQ(TextOf(item.Get()), texts[i]) << i;
    }
}

TEST(PLXMLFunctions, ReadersRefuseWhatTheyCannotReadWithoutCrashing) {
    struct Case {
        const char16_t* xml;
        HRESULT expected;
        const char16_t* message;  // recorded first, or null
    };
    const Case cases[] = {
        {u"<R><P N='x' D='B'>T</P><P N='y' D='b'>yes</P><P name='z'/></R>", S_OK, nullptr},
        {u"<R><P D='S'>no name</P></R>", E_FAIL, u"Failed to get 'NAME' attribute from element."},
        {u"<R><P N='x'>no type</P></R>", E_FAIL, u"Failed to retrieve named item"},
        {u"<R><P N='x' D='Nope'>1</P></R>", E_FAIL, u"Failed to set variant value"},
        {u"<R><P N='x' D='VariantCollection'><ITEM>1</ITEM></P></R>", E_FAIL, u"Failed to retrieve named item"},
        {u"<R><P N='x' D='DT'>not a date</P></R>", E_FAIL, nullptr},
    };
    for (const Case& c : cases) {
        XmlDocument document;
        ASSERT_HR(LoadDOMFromXMLString(c.xml, document), S_OK);
        PLComPtr<IPLPropertyBag> bag = BagOf({});
        PLClearThreadErrors();
        EXPECT_HR(GetPropertyBagValuesFromXMLDOM(document.Root(), bag.Get(), nullptr), c.expected);
        const auto errors = kdtest::TakeThreadErrors();
        if (c.message != nullptr) {
            ASSERT_FALSE(errors.empty());
            EXPECT_EQ(errors.front().message, c.message);
        }
        if (c.expected == S_OK) {
            bool value = false;
            Get(bag.Get(), u"x")->GetValueBoolean(&value);
            EXPECT_TRUE(value);
            Get(bag.Get(), u"y")->GetValueBoolean(&value);
            EXPECT_FALSE(value);
            EXPECT_EQ(TextOf(Get(bag.Get(), u"z").Get()), u"");
        }
    }
    // A query that selects nothing fails with the message, never with a crash.
    XmlDocument document;
    ASSERT_HR(LoadDOMFromXMLString(u"<R><A n='1'>one</A></R>", document), S_OK);
    PLComPtr<IPLVariant> value = VariantOf();
    ASSERT_HR(GetPropertyFromXMLNode(document.Root(), u"A[@n='1']", value.Get()), S_OK);
    EXPECT_EQ(TextOf(value.Get()), u"one");
    PLClearThreadErrors();
    EXPECT_HR(GetPropertyFromXMLNode(document.Root(), u"B", value.Get()), E_FAIL);
    EXPECT_HR(GetPropertyFromXMLNode(document.Root(), u"A[", value.Get()), E_FAIL);
    const auto errors = kdtest::LinesOf(kdtest::TakeThreadErrors());
    ASSERT_EQ(errors.size(), 1u);  // flag 1 starts each chain afresh
    EXPECT_EQ(errors[0], u"Library Functions|XML Functions|GetPropertyFromXMLNode|Failed to retrieve node");
}

namespace {
// Writes a bag held as a property value as its own nested properties.
HRESULT WriteNestedBag(IUnknown* value, XmlDocument& document, XmlNode parent, PLString) {
    PLComPtr<IPLPropertyBag> bag;
    PLComPtr<IPLPropertyCollection> properties;
    HRESULT hr = value->QueryInterface(IID_IPLPropertyBag, bag.PutVoid());
    if (hr >= 0) hr = bag->GetProperties(properties.Put());
    return hr < 0 ? hr : AppendPropertyCollectionToXMLDOM(document, parent, properties.Get(), WriteNestedBag);
}
}  // namespace

TEST(PLXMLFunctions, BagsWriteInKeyOrderUnderAValidRootAndSelfNestingStops) {
    auto bag = BagOf({{u"Title", u"a<b"}, {u"Size", 5}});
    PLComPtr<IPLVariant> xml;
    ASSERT_HR(CreateXMLFromPropertyBag(bag.Get(), xml.Put(), u"Root"), S_OK);
    EXPECT_EQ(TextOf(xml.Get()),
              u"<Root><PROPERTY DATATYPE=\"Long\" NAME=\"Size\">5</PROPERTY>"
              u"<PROPERTY DATATYPE=\"String\" NAME=\"Title\">a&lt;b</PROPERTY></Root>");
    // An empty bag, and a document without elements, read back as empty bags.
    PLComPtr<IPLPropertyBag> back;
    ASSERT_HR(CreateXMLFromPropertyBag(BagOf({}).Get(), xml.Put(), u"Empty"), S_OK);
    EXPECT_EQ(TextOf(xml.Get()), u"<Empty/>");
    ASSERT_HR(RestorePropertyBagFromXML(u"<Empty/>", back.Put()), S_OK);
    PLComPtr<IPLPropertyCollection> properties;
    ASSERT_HR(back->GetProperties(properties.Put()), S_OK);
    EXPECT_EQ(properties->GetCount(), 0);

    // Root names are checked before anything is written; failures hand out nothing.
    for (const char16_t* root : {u"a b", u"", u"1x", u"x>"}) {
        IPLVariant* out = reinterpret_cast<IPLVariant*>(0x1);
        EXPECT_HR(CreateXMLFromPropertyBag(bag.Get(), &out, root), E_INVALIDARG);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_HR(CreateXMLFromPropertyBag(bag.Get(), xml.Put(), nullptr), E_POINTER);
    IPLPropertyBag* none = reinterpret_cast<IPLPropertyBag*>(0x1);
    // No type; a date whose mask reads the text but could not write the date back.
    for (const char16_t* text :
         {u"<R><P N='x'>1</P></R>", u"<R><P D='DT' F='%y-%2m-%2d!%' N='Day'>2024-02-29</P></R>"}) {
        EXPECT_HR(RestorePropertyBagFromXML(text, &none), E_FAIL);
        EXPECT_EQ(none, nullptr);
    }

    // A bag that holds itself ends in an error record, not in unbounded recursion.
    PLComPtr<IPLVariant> self = VariantOf();
    self->SetValueIUnknown(bag.Get());
    bag->SetProperty(u"Self", self.Get());
    self = nullptr;
    ASSERT_HR(bag->GetProperties(properties.Put()), S_OK);
    XmlDocument document;
    XmlNode root = document.CreateElement(u"Root");
    document.SetRoot(root);
    PLClearThreadErrors();
    EXPECT_HR(AppendPropertyCollectionToXMLDOM(document, root, properties.Get(), WriteNestedBag), E_FAIL);
    const auto errors = kdtest::TakeThreadErrors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.front().message, u"Property bags nested more than 64 levels deep cannot be written");
    bag->DeleteProperty(u"Self");  // breaks the cycle
}
