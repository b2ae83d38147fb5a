// The property form: loading with the character-reference retry; writing and reading bags,
// collections and dates, read back with libxml2.
#include "module_base/PLXMLFunctions.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <cmath>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "module_base/PLString.h"
#include "module_base/PLVariant.h"
#include "tests/module_base/StreamTestSupport.h"
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
    // The loader's retry, in text and attributes, is read through the bag reader below.
}

namespace {

PLComPtr<IPLVariant> Get(IPLPropertyBag* bag, const char16_t* name) {
    PLComPtr<IPLVariant> value;
    EXPECT_HR(bag->GetProperty(name, value.Put()), S_OK) << PLString(name).ToUtf8();
    return value;
}

LONG TypeOf(IPLVariant* v) {
    return kdtest::LongOf(v, &IPLVariant::GetType);
}

std::u16string TextOf(IPLVariant* v) {
    PLString text;
    GetPLStringFromVariant(v, &text);
    return std::u16string(text.view());
}

// The bag's XML under a root named Root.
std::u16string XmlOf(IPLPropertyBag* bag) {
    PLComPtr<IPLVariant> xml;
    EXPECT_HR(CreateXMLFromPropertyBag(bag, xml.Put(), u"Root"), S_OK);
    return xml ? TextOf(xml.Get()) : u"";
}

// The bag read back from `xml`.
PLComPtr<IPLPropertyBag> Restored(const std::u16string& xml) {
    PLComPtr<IPLPropertyBag> back;
    EXPECT_HR(RestorePropertyBagFromXML(xml.c_str(), back.Put()), S_OK);
    return back;
}

// A variant holding the date (or date and time) read from `text`, written with `mask` if given.
PLComPtr<IPLVariant> DateOf(const char16_t* text, LONG kind = PLVariantDateTime, const char16_t* mask = nullptr) {
    PLComPtr<IPLVariant> v = VariantOf(text);
    EXPECT_HR(v->Convert(kind), S_OK);
    EXPECT_HR(mask != nullptr ? v->SetDateTimeFormatString(mask) : S_OK, S_OK);
    return v;
}

// The text of each PROPERTY element of `xml`, by NAME, as libxml2 reads it. When `recover` is set,
// it drops references to characters XML cannot hold, as the library's own retry does.
std::map<std::string, std::string> ReadByLibxml2(const std::u16string& xml, bool recover = true) {
    const std::string utf8 = PLString(xml.c_str()).ToUtf8();
    std::map<std::string, std::string> values;
    xmlDocPtr doc = xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8",
                                  XML_PARSE_NONET | (recover ? XML_PARSE_RECOVER | XML_PARSE_NOERROR : 0));
    if (doc == nullptr) return values;
    for (xmlNodePtr n = xmlDocGetRootElement(doc)->children; n != nullptr; n = n->next) {
        xmlChar* name = xmlGetProp(n, BAD_CAST "NAME");
        xmlChar* text = xmlNodeGetContent(n);
        values[reinterpret_cast<const char*>(name)] = reinterpret_cast<const char*>(text);
        xmlFree(name);
        xmlFree(text);
    }
    xmlFreeDoc(doc);
    return values;
}

}  // namespace

// Every kind written into a bag's XML, checked with libxml2, and read back.
TEST(PLXMLFunctions, EveryScalarKindRoundTrips) {
    // A mask longer than a date's text may be (255 characters) is written whole, and the text it
    // gives, cut at 255, does not end in half of a surrogate pair.
    std::u16string mask300 = u"%y-%2m-%2d" + std::u16string(244, u'.');
    while (mask300.size() < 300) mask300 += u"\U0001F600";
    // An unknown code beyond U+FFFF is written whole, and the character passed over after an
    // unknown code is passed over whole.
    const char16_t* astral = u"%m-%d-%y %\U0001F600. %s\U0001F600.";
    // Name, value, kind read back (longs read back wide).
    const std::tuple<const char16_t*, PLComPtr<IPLVariant>, LONG> values[] = {
        {u"Title <&> \u00E9", VariantOf(u"a<b & \"c\" ]]> \u00E9\u4E2D\U0001F600\r\n"), PLVariantString},
        {u"Size", VariantOf(-5), PLVariantLongLong},
        {u"Wide", VariantOf(LONGLONG{-9007199254740993LL}), PLVariantLongLong},
        {u"Ratio", VariantOf(0.1), PLVariantDouble},
        {u"Stamp", DateOf(u"07-04-2021 11:30:15 PM", PLVariantDateTimeOfDay), PLVariantDateTimeOfDay},
        {u"LongMask", DateOf(u"02-29-2024", PLVariantDateTime, mask300.c_str()), PLVariantDateTime},
        {u"AstralCode", DateOf(u"02-29-2024", PLVariantDateTime, astral), PLVariantDateTime},
        {u"Empty", VariantOf(u""), PLVariantString}};
    auto bag = BagOf({});
    for (const auto& [name, value, kind] : values) ASSERT_HR(bag->SetProperty(name, value.Get()), S_OK);
    const std::u16string xml = XmlOf(bag.Get());
    EXPECT_EQ(ReadByLibxml2(xml, false).size(), std::size(values));
    const auto back = Restored(xml);
    for (const auto& [name, value, kind] : values)
        EXPECT_EQ(std::pair(TypeOf(Get(back.Get(), name).Get()), TextOf(Get(back.Get(), name).Get())),
                  std::pair(kind, TextOf(value.Get())))
            << PLString(name).ToUtf8();
    // The long mask gives the same text as one cut at 255, so it is compared itself.
    EXPECT_EQ(std::u16string(PLDateTimeFormatOf(Get(back.Get(), u"LongMask").Get()).c_str()), mask300);
    EXPECT_EQ(kdtest::LongOf(Get(back.Get(), u"Ratio").Get(), &IPLVariant::GetValueDouble), 0.1);
}

TEST(PLXMLFunctions, CollectionsAreWrittenUnchangedAndReadBackWhole) {
    auto items = kdtest::New<IPLVariantCollection>(CLSID_PLVariantCollection);
    PLComPtr<IPLVariant> wide = VariantOf(LONGLONG{1} << 40), small = VariantOf(LONGLONG{7}), empty = VariantOf(u""),
                         date = DateOf(u"12-31-1999");
    for (IPLVariant* v : {wide.Get(), small.Get(), empty.Get(), date.Get()}) items->Insert(v);

    XmlDocument document;
    XmlNode root = document.CreateElement(u"Root");
    document.SetRoot(root);
    ASSERT_HR(GenerateVariantCollectionXML(items.Get(), document, root, u"List"), S_OK);
    const std::string xml = document.SerializeUtf8();
    EXPECT_NE(xml.find("<ITEM DATATYPE=\"Long\" NAME=\"VariantCollectionItem\">1099511627776</ITEM>"),
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
    // Short attribute names and a lower-case "name"; then no name, no type, an unknown type, a
    // collection item without a type, a text that is no date, numbers that are none.
    const char16_t* cases[] = {u"<R><P N='x' D='B'>T</P><P N='y' D='b'>yes</P><P name='z'/></R>",
                               u"<R><P D='S'>no name</P></R>",
                               u"<R><P N='x'>no type</P></R>",
                               u"<R><P N='x' D='Nope'>1</P></R>",
                               u"<R><P N='x' D='VariantCollection'><ITEM>1</ITEM></P></R>",
                               u"<R><P N='x' D='DT'>not a date</P></R>",
                               u"<R><P N='x' D='L'> + </P></R>",
                               u"<R><P N='x' D='VariantCollection'><ITEM DATATYPE='Long'>12x</ITEM></P></R>"};
    PLComPtr<IPLPropertyBag> first;
    for (const char16_t* text : cases) {
        XmlDocument document;
        ASSERT_HR(LoadDOMFromXMLString(text, document), S_OK);
        PLComPtr<IPLPropertyBag> bag = BagOf({});
        EXPECT_HR(GetPropertyBagValuesFromXMLDOM(document.Root(), bag.Get(), nullptr), first ? E_FAIL : S_OK);
        if (!first) first = bag;
    }
    // x and y are Booleans (a string would read "T" and "yes"), z an empty text.
    std::vector<std::u16string> read;
    for (const char16_t* name : {u"x", u"y", u"z"}) read.push_back(TextOf(Get(first.Get(), name).Get()));
    EXPECT_EQ(read, (std::vector<std::u16string>{u"true", u"false", u""}));
    // A query that selects nothing fails with the message, never with a crash.
    XmlDocument document;
    ASSERT_HR(LoadDOMFromXMLString(u"<R><A n='1'>one</A></R>", document), S_OK);
    PLComPtr<IPLVariant> value = VariantOf();
    ASSERT_HR(GetPropertyFromXMLNode(document.Root(), u"A[@n='1']", value.Get()), S_OK);
    EXPECT_EQ(TextOf(value.Get()), u"one");
    PLClearThreadErrors();
    EXPECT_HR(GetPropertyFromXMLNode(document.Root(), u"B", value.Get()), E_FAIL);
    EXPECT_HR(GetPropertyFromXMLNode(document.Root(), u"A[", value.Get()), E_FAIL);
    EXPECT_EQ(kdtest::TakeThreadErrors().size(), 1u);  // flag 1 starts each chain afresh
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
    EXPECT_EQ(XmlOf(bag.Get()),
              u"<Root><PROPERTY DATATYPE=\"Long\" NAME=\"Size\">5</PROPERTY>"
              u"<PROPERTY DATATYPE=\"String\" NAME=\"Title\">a&lt;b</PROPERTY></Root>");
    // A document without elements reads back as an empty bag.
    PLComPtr<IPLPropertyCollection> properties;
    ASSERT_HR(Restored(u"<Empty/>")->GetProperties(properties.Put()), S_OK);
    EXPECT_EQ(properties->GetCount(), 0);

    // Root names are checked before anything is written; failures hand out nothing.
    for (const char16_t* root : {u"a b", u"", u"1x", u"x>"}) {
        IPLVariant* out = reinterpret_cast<IPLVariant*>(0x1);
        EXPECT_HR(CreateXMLFromPropertyBag(bag.Get(), &out, root), E_INVALIDARG);
        EXPECT_EQ(out, nullptr);
    }
    IPLPropertyBag* none = reinterpret_cast<IPLPropertyBag*>(0x1);
    // No type; dates whose mask reads the text but could not write the date back, or would read
    // what it writes as another date.
    for (const char16_t* text : {u"<R><P N='x'>1</P></R>", u"<R><P D='DT' F='%y-%2m-%2d!%' N='Day'>2024-02-29</P></R>",
                                 u"<R><P D='DT' F='%\uFFFDOPy-%2m-%2d' N='Day'>2024-02-29</P></R>"}) {
        EXPECT_HR(RestorePropertyBagFromXML(text, &none), E_FAIL);
        EXPECT_EQ(none, nullptr);
    }

    // A bag that holds itself ends in an error record, not in unbounded recursion.
    bag->SetProperty(u"Self", VariantOf(bag.Get()).Get());
    ASSERT_HR(bag->GetProperties(properties.Put()), S_OK);
    XmlDocument document;
    XmlNode root = document.CreateElement(u"Root");
    document.SetRoot(root);
    EXPECT_HR(AppendPropertyCollectionToXMLDOM(document, root, properties.Get(), WriteNestedBag), E_FAIL);
    bag->DeleteProperty(u"Self");  // breaks the cycle
}

// The general-purpose bag is written from its entries, not through a property collection: what
// it writes must be what its collection writes, but for names longer than a property holds, which
// the bag writes whole (two of them alike in their first 254 characters stay two).
TEST(PLXMLFunctions, BagWritesWhatItsPropertyCollectionWrites) {
    const std::u16string longName(300, u'n'), otherName = longName + u'2';
    const auto bag = kdtest::BagOf({{u"Text", u"a <b>"}, {u"Number", LONG{7}}, {longName.c_str(), true}});
    PLString written(XmlOf(bag.Get()));

    XmlDocument document;
    const XmlNode root = document.CreateElement(u"Root");
    ASSERT_TRUE(document.SetRoot(root));
    PLComPtr<IPLPropertyCollection> properties;
    ASSERT_HR(bag->GetProperties(properties.Put()), S_OK);
    ASSERT_HR(AppendPropertyCollectionToXMLDOM(document, root, properties.Get(), nullptr), S_OK);
    written.Replace(longName.c_str(), longName.substr(0, 254).c_str());  // long names cut as the collection cuts them
    EXPECT_EQ(written.view(), document.Serialize());

    bag->SetProperty(otherName.c_str(), kdtest::VariantOf(false).Get());
    const auto back = Restored(XmlOf(bag.Get()));
    EXPECT_EQ(TextOf(Get(back.Get(), longName.c_str()).Get()), u"true");
    EXPECT_EQ(TextOf(Get(back.Get(), otherName.c_str()).Get()), u"false");
}

// What the bag's writer writes, its reader reads back, whatever the text: characters XML cannot
// hold are written as references, which reading drops (libxml2 drops them alike), keeping the
// rest of the bag; non-finite doubles have text forms; a value over the parser's default limit
// of 10 MB is read whole. Unpaired surrogates, which XML has no form for, are refused.
TEST(PLXMLFunctions, AwkwardValuesReadBackAndTheRestOfTheBagWithThem) {
    // A value (and from it a name's suffix), and what is read back.
    const std::pair<std::u16string, std::u16string> texts[] = {
        {u"a\u0001b", u"ab"}, {u"\u001F", u""}, {u"x\uFFFE", u"x"}, {u"\uFFFFy\r\n\t", u"y\r\n\t"}};
    for (const auto& [original, kept] : texts) {
        SCOPED_TRACE(PLString(kept.substr(0, 20).c_str()).ToUtf8());
        const std::u16string name = u"N" + original.substr(0, 8);
        auto bag = BagOf({{u"Kept", 5}, {u"V", original.c_str()}, {name.c_str(), true}});
        const std::u16string text = XmlOf(bag.Get()), backName = u"N" + kept.substr(0, 8);
        const auto read = ReadByLibxml2(text);
        EXPECT_EQ(read.at("V"), PLString(kept.c_str()).ToUtf8());
        EXPECT_EQ(read.at(PLString(backName.c_str()).ToUtf8()), "true");
        const auto back = Restored(text);
        EXPECT_EQ(TextOf(Get(back.Get(), u"V").Get()), kept);
        EXPECT_EQ(TextOf(Get(back.Get(), backName.c_str()).Get()), u"true");
        EXPECT_EQ(TextOf(Get(back.Get(), u"Kept").Get()), u"5");
    }

    const std::u16string big = std::u16string(10 * 1000 * 1000, u'z') + u'\u00E9';
    EXPECT_TRUE(TextOf(Get(Restored(XmlOf(BagOf({{u"Big", big.c_str()}}).Get())).Get(), u"Big").Get()) == big);

    // Infinities and NaN, as values (a collection's items are written and read alike).
    for (const auto& [x, written] : {std::pair{INFINITY, "INF"}, {-INFINITY, "-INF"}, {NAN, "NaN"}}) {
        const std::u16string xml = XmlOf(BagOf({{u"D", double{x}}}).Get());
        EXPECT_EQ(ReadByLibxml2(xml).at("D"), written);
        const double back = kdtest::LongOf(Get(Restored(xml).Get(), u"D").Get(), &IPLVariant::GetValueDouble);
        EXPECT_TRUE(back == x || (std::isnan(back) && std::isnan(x))) << written;
    }

    // An unpaired surrogate in a value or a name is refused by the writer (by the reader too:
    // XmlDocumentTest); nothing is handed out.
    for (const auto& [name, text] : {std::pair{u"V", u"a\xD800"}, std::pair{u"\xDC00N", u"v"}}) {
        IPLVariant* none = reinterpret_cast<IPLVariant*>(0x1);
        PLClearThreadErrors();
        EXPECT_HR(CreateXMLFromPropertyBag(BagOf({{name, text}}).Get(), &none, u"Root"), E_INVALIDARG);
        EXPECT_EQ(none, nullptr);
        const auto errors = kdtest::TakeThreadErrors();
        EXPECT_TRUE(!errors.empty() && errors.front().message.find(u"unpaired surrogate") != std::u16string::npos);
    }
}

// An empty collection (as the writer writes it, or with white space and comments) reads back as
// one; a value that depends on an entity the document declares is left unset (such references are
// never expanded), the rest of the bag read.
TEST(PLXMLFunctions, EmptyCollectionsAndDeclaredEntities) {
    PLComPtr<IPLVariantCollection> items;
    for (const char16_t* text : {u"<R><PROPERTY DATATYPE=\"VariantCollection\" NAME=\"P\"/></R>",
                                 u"<R><PROPERTY D='VariantCollection' N='P'>\n  <!-- none -->\n</PROPERTY></R>"}) {
        const auto back = Restored(text);
        EXPECT_EQ(TypeOf(Get(back.Get(), u"P").Get()), PLVariantCollection);
        ASSERT_HR(Get(back.Get(), u"P")->GetValueCollection(items.Put()), S_OK);
        EXPECT_EQ(items->GetCount(), 0);
    }
    const auto back = Restored(
        u"<!DOCTYPE R [<!ENTITY e 'x'>]><R><PROPERTY D='S' N='a'>&e;</PROPERTY>"
        u"<PROPERTY D='S' N='b'>1&e;</PROPERTY><PROPERTY D='S' N='c'>kept</PROPERTY>"
        u"<PROPERTY D='VariantCollection' N='d'><ITEM DATATYPE='S'>&e;</ITEM>"
        u"<ITEM DATATYPE='String'>i</ITEM></PROPERTY></R>");
    BOOL contains = TRUE;
    for (const char16_t* unset : {u"a", u"b"}) EXPECT_HR(back->ContainsKey(unset, &contains), S_FALSE);
    EXPECT_EQ(TextOf(Get(back.Get(), u"c").Get()), u"kept");
    ASSERT_HR(Get(back.Get(), u"d")->GetValueCollection(items.Put()), S_OK);
    EXPECT_EQ(items->GetCount(), 1);
}

// Every reader and writer refuses a missing node, name, value, bag or place for its result.
TEST(PLXMLFunctions, MissingArgumentsAreRefused) {
    XmlDocument document;
    ASSERT_HR(LoadDOMFromXMLString(u"<R><A>one</A></R>", document), S_OK);
    const XmlNode root = document.Root(), none;
    auto bag = BagOf({});
    PLComPtr<IPLVariant> value = VariantOf(1), xml;
    auto items = kdtest::New<IPLVariantCollection>(CLSID_PLVariantCollection);
    PLComPtr<IPLPropertyBag> restored;
    for (const HRESULT hr : {LoadDOMFromXMLBSTR(nullptr, document),
                             LoadDOMFromXMLString(nullptr, document),
                             GetPropertyBagValuesFromXMLDOM(none, bag.Get(), nullptr),
                             GetPropertyBagValuesFromXMLDOM(root, nullptr, nullptr),
                             GetPropertyBagValuesFromLightXMLDOM(none, bag.Get(), nullptr),
                             GetPropertyBagValuesFromLightXMLDOM(root, nullptr, nullptr),
                             addValueFromDOMToPropertyBag(none, u"n", bag.Get(), nullptr),
                             addValueFromDOMToPropertyBag(root, u"n", nullptr, nullptr),
                             addValueFromDOMToPropertyBag(root, nullptr, bag.Get(), nullptr),
                             VariantCollectionNodeResolution(none, value.Get()),
                             VariantCollectionNodeResolution(root, nullptr),
                             GetPropertyFromXMLNode(none, u"A", value.Get()),
                             GetPropertyFromXMLNode(root, nullptr, value.Get()),
                             GetPropertyFromXMLNode(root, u"A", nullptr),
                             RestorePropertyBagFromXML(nullptr, restored.Put()),
                             RestorePropertyBagFromXML(u"<R/>", nullptr),
                             AppendPropertyToXMLDOM(document, root, nullptr, value.Get(), nullptr),
                             AppendPropertyToXMLDOM(document, root, u"n", nullptr, nullptr),
                             AppendPropertyCollectionToXMLDOM(document, root, nullptr, nullptr),
                             GenerateVariantCollectionXML(nullptr, document, root, u"n"),
                             GenerateVariantCollectionXML(items.Get(), document, root, nullptr),
                             CreateXMLFromPropertyBag(nullptr, xml.Put(), u"R"),
                             CreateXMLFromPropertyBag(bag.Get(), nullptr, u"R"),
                             CreateXMLFromPropertyBag(bag.Get(), xml.Put(), nullptr)})
        EXPECT_HR(hr, E_POINTER);
    EXPECT_EQ(document.Root().Value(), u"one");
}
