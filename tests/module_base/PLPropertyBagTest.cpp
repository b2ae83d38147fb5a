#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "module_base/PLProperty.h"
#include "module_base/PLPropertyBag.h"
#include "platform/Text.h"
#include "support/PropertyBagOf.h"
#include "support/TraceFakes.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

using kdtest::BagOf;
using kdtest::VariantOf;

// The long stored under `name`, or -1 when absent.
LONG LongIn(IPLPropertyBag* bag, const WCHAR* name) {
    PLComPtr<IPLVariant> v;
    LONG value = -1;
    if (bag->GetProperty(name, v.Put()) == S_OK) v->GetValueLong(&value);
    return value;
}
// The entries as the bag's property collection hands them out.
std::vector<PLComPtr<IPLProperty>> PropertiesOf(IPLPropertyBag* bag) {
    PLComPtr<IPLPropertyCollection> all;
    EXPECT_HR(bag->GetProperties(all.Put()), S_OK);
    std::vector<PLComPtr<IPLProperty>> properties(static_cast<std::size_t>(all->GetCount()));
    for (LONG i = 0; i < all->GetCount(); ++i) EXPECT_HR(all->GetAt(i, properties[i].Put()), S_OK);
    return properties;
}
std::vector<std::u16string> NamesOf(IPLPropertyBag* bag) {
    std::vector<std::u16string> names;
    for (const auto& property : PropertiesOf(bag)) {
        WCHAR name[256];
        property->GetName(name, 256);
        names.emplace_back(name);
    }
    return names;
}

// A constrained bag allowing Module and Class; its first-use step can be made to fail or wait.
class Constrained : public CPLComObject<CPLReleaseModel>, public CPLConstrainedPropertyBagBase {
    PL_BEGIN_INTERFACE_MAP(Constrained, IPLPropertyBag)
    PL_INTERFACE_ENTRY(IPLPropertyBag)
    PL_INTERFACE_ENTRY(IPLPersistPropertyBag)
    PL_END_INTERFACE_MAP()
public:
    std::atomic<int> inits{0};
    HRESULT initResult = S_OK;
    std::chrono::milliseconds initDelay{0};

protected:
    ~Constrained() override = default;
    HRESULT InitPropertyBag() override {
        ++inits;
        std::this_thread::sleep_for(initDelay);
        GetConstraint().AddAllowedProperty(u"Module");
        GetConstraint().AddAllowedProperty(u"Class");
        return initResult;
    }
};
PL_UNREGISTERED_CLASS(Constrained)

PLComPtr<Constrained> NewConstrained() {
    IPLPropertyBag* raw = nullptr;
    EXPECT_HR(PLCreateObject<Constrained>(IID_IPLPropertyBag, nullptr, reinterpret_cast<void**>(&raw)), S_OK);
    return PLComPtr<Constrained>::Adopt(static_cast<Constrained*>(raw));
}

}  // namespace

// Letters A-Z fold, nothing else does, and a name never equals a longer name it begins.
TEST(PropertyBag, NamesFoldAsciiLettersOnlyAndPrefixesStayDistinct) {
    // É (U+00C9) and é (U+00E9) are two names; so are the brackets beside Z and z.
    auto bag = kdtest::BagOf({{u"Width", 5}, {u"Widths", 6}, {u"Wid", 4}, {u"\u00C9t\u00E9", 1}, {u"[", 2}});
    const std::pair<const WCHAR*, LONG> lookups[] = {
        // -1: absent
        {u"WIDTH", 5}, {u"WIDTHS", 6}, {u"wid", 4}, {u"Widt", -1}, {u"\u00E9t\u00E9", -1}, {u"{", -1}};
    // (ContainsKey finds names as GetProperty does.)
    for (const auto& [name, value] : lookups)
        EXPECT_EQ(LongIn(bag.Get(), name), value) << kd::platform::Utf16ToUtf8(name);
    // A replaced value keeps the key as first written; the order is the folded one.
    ASSERT_HR(bag->SetProperty(u"WIDTH", VariantOf(7).Get()), S_OK);
    EXPECT_EQ(LongIn(bag.Get(), u"Width"), 7);
    EXPECT_EQ(NamesOf(bag.Get()), (std::vector<std::u16string>{u"[", u"Wid", u"Width", u"Widths", u"\u00C9t\u00E9"}));
    EXPECT_HR(bag->DeleteProperty(u"WIDTH"), S_OK);
    EXPECT_HR(bag->DeleteProperty(u"Width"), S_FALSE);
    EXPECT_EQ(LongIn(bag.Get(), u"Widths"), 6);
}

// From sixteen entries on, names are found through an index beside the ordered entries:
// lookups, replacement, removal and order stay those of a small bag. A name set again keeps a
// value handed out by GetProperties as it was; a stored value nobody else holds takes the new
// one as a new copy would hold it, without the date mask it carried.
TEST(PropertyBag, LargeBagsBehaveAsSmallOnes) {
    auto bag = BagOf({});
    // NameAA ... NameDJ, in order, and the same in other cases.
    const auto nameOf = [](LONG i, const char16_t* prefix, char16_t a) {
        return prefix + std::u16string{static_cast<char16_t>(a + i / 10), static_cast<char16_t>(a + i % 10)};
    };
    std::vector<std::u16string> names;
    for (LONG i = 0; i < 40; ++i) {
        names.push_back(nameOf(i, u"Name", u'A'));
        ASSERT_HR(bag->SetProperty(names.back().c_str(), VariantOf(i).Get()), S_OK);
    }
    for (LONG i = 0; i < 40; ++i) EXPECT_EQ(LongIn(bag.Get(), nameOf(i, u"nAME", u'a').c_str()), i);
    for (const WCHAR* absent : {u"Name", u"NameA", u"NameAAA", u"NameA\u00C1"})
        EXPECT_EQ(LongIn(bag.Get(), absent), -1);
    ASSERT_HR(bag->SetProperty(u"NAMEAA", VariantOf(100).Get()), S_OK);
    ASSERT_HR(bag->DeleteProperty(u"nameac"), S_OK);
    BOOL contains = TRUE;
    EXPECT_HR(bag->ContainsKey(u"NameAC", &contains), S_FALSE);
    ASSERT_HR(bag->SetProperty(u"NAMEAC", VariantOf(102).Get()), S_OK);
    names[2] = u"NAMEAC";  // set anew after its removal; NAMEAA kept its first key
    EXPECT_EQ(NamesOf(bag.Get()), names);
    EXPECT_EQ(LongIn(bag.Get(), u"nameaa"), 100);
    EXPECT_EQ(LongIn(bag.Get(), u"nameac"), 102);

    // Shared with a property handed out: the property keeps the old value.
    PLComPtr<IPLVariant> shared;
    ASSERT_HR(PropertiesOf(bag.Get()).front()->GetValue(shared.Put()), S_OK);
    ASSERT_HR(bag->SetProperty(u"NameAA", VariantOf(u"a longer text than fits in a variant").Get()), S_OK);
    EXPECT_EQ(kdtest::LongOf(shared.Get(), &IPLVariant::GetValueLong), 100);
    ASSERT_HR(bag->SetProperty(u"NameAA", VariantOf(u"short").Get()), S_OK);
    WCHAR text[64] = {};
    ASSERT_HR(GetStringFromPropertyBag(bag.Get(), u"NameAA", text, 64), S_OK);
    EXPECT_EQ(std::u16string(text), u"short");

    // A date with its own mask, then a Long under the same name: no mask is left behind.
    auto dated = VariantOf(u"3-5-2024");
    ASSERT_HR(dated->Convert(PLVariantDateTime), S_OK);
    ASSERT_HR(dated->SetDateTimeFormatString(u"%y/%2m/%2d"), S_OK);
    ASSERT_HR(bag->SetProperty(u"When", dated.Get()), S_OK);
    ASSERT_HR(bag->SetProperty(u"When", VariantOf(5).Get()), S_OK);
    PLComPtr<IPLVariant> held;
    ASSERT_HR(PropertiesOf(bag.Get()).back()->GetValue(held.Put()), S_OK);
    WCHAR mask[32] = u"untouched";
    ASSERT_HR(held->GetDateTimeFormatString(mask, 32), S_OK);
    EXPECT_EQ(std::u16string(mask), u"untouched");
}

// Values go in and out as copies. A value that cannot be copied is refused and leaves the entry
// as it was, new or existing.
TEST(PropertyBag, CopiesValuesInAndOut) {
    auto bag = BagOf({});
    auto value = VariantOf(1);
    ASSERT_HR(bag->SetProperty(u"n", value.Get()), S_OK);
    value->SetValueLong(2);
    EXPECT_EQ(LongIn(bag.Get(), u"n"), 1);
    PLComPtr<IPLVariant> out;
    ASSERT_HR(bag->GetProperty(u"n", out.Put()), S_OK);
    out->SetValueLong(3);
    EXPECT_EQ(LongIn(bag.Get(), u"n"), 1);

    // A missing name: S_FALSE, the out parameter untouched.
    IPLVariant* untouched = reinterpret_cast<IPLVariant*>(0x1234);
    EXPECT_HR(bag->GetProperty(u"missing", &untouched), S_FALSE);
    EXPECT_EQ(untouched, reinterpret_cast<IPLVariant*>(0x1234));

    EXPECT_HR(bag->SetProperty(u"n", VariantOf().Get()), E_FAIL);
    EXPECT_HR(bag->SetProperty(u"new", VariantOf().Get()), E_FAIL);
    EXPECT_EQ(std::pair(LongIn(bag.Get(), u"n"), LongIn(bag.Get(), u"new")), std::pair(1, -1));
    EXPECT_TRUE(kdtest::Recorded(u"Failed to set property 'new' on property bag"));

    // Missing names, values and places for results are refused, on each interface of the bag.
    const auto persist = kdtest::As<IPLPersistPropertyBag>(bag);
    const auto events = kdtest::As<IPLEventSource>(bag);
    BOOL contains = FALSE;
    void* cookie = nullptr;
    for (const HRESULT hr :
         {bag->SetProperty(nullptr, value.Get()), bag->SetProperty(u"n", nullptr), bag->GetProperty(nullptr, out.Put()),
          bag->GetProperty(u"n", nullptr), bag->GetProperties(nullptr), bag->ContainsKey(nullptr, &contains),
          bag->ContainsKey(u"n", nullptr), bag->DeleteProperty(nullptr), persist->Save(nullptr), persist->Load(nullptr),
          kdtest::As<IPLSerializeXML>(bag)->WriteXML(nullptr, 0),
          events->AddListener(IID_IPLPropertyBagListener, nullptr, &cookie),
          events->AddListener(IID_IPLPropertyBagListener, bag.Get(), nullptr)})
        EXPECT_HR(hr, E_POINTER);
    EXPECT_EQ(LongIn(bag.Get(), u"n"), 1);
}

namespace {
// Logs the name of each value it is told of.
struct BagListener : kdtest::Fake<IPLPropertyBagListener> {
    explicit BagListener(std::vector<std::u16string>* log) : Fake(IID_IPLPropertyBagListener), log(log) {}
    HRESULT PropertySet(const WCHAR* name, IPLVariant* value) override {
        lastValue = value;
        log->push_back(name);
        return E_FAIL;  // ignored
    }
    std::vector<std::u16string>* log;
    IPLVariant* lastValue = nullptr;
};
}  // namespace

TEST(PropertyBag, TellsListenersOfEachSuccessfulSet) {
    std::vector<std::u16string> log;
    BagListener first(&log), second(&log);
    auto bag = BagOf({});
    const auto source = kdtest::As<IPLEventSource>(bag);
    void *cookie1 = nullptr, *cookie2 = nullptr;
    ASSERT_HR(source->AddListener(IID_IPLPropertyBagListener, &first, &cookie1), S_OK);
    ASSERT_HR(source->AddListener(IID_IPLPropertyBagListener, &second, &cookie2), S_OK);

    auto value = VariantOf(1);
    ASSERT_HR(bag->SetProperty(u"a", value.Get()), S_OK);
    EXPECT_EQ(first.lastValue, value.Get());                       // the caller's object, not the stored copy
    EXPECT_HR(bag->SetProperty(u"b", VariantOf().Get()), E_FAIL);  // not told
    ASSERT_HR(source->RemoveListener(cookie1), S_OK);
    ASSERT_HR(bag->SetProperty(u"c", value.Get()), S_OK);
    EXPECT_EQ(log, (std::vector<std::u16string>{u"a", u"a", u"c"}));
}

TEST(PropertyBag, ConstrainedBagAcceptsOnlyItsNames) {
    auto bag = NewConstrained();
    EXPECT_HR(bag->SetProperty(u"module", VariantOf(1).Get()), S_OK);
    EXPECT_HR(bag->SetProperty(u"Other", VariantOf(2).Get()), E_FAIL);
    EXPECT_TRUE(kdtest::Recorded(u"Property 'Other' is not allowed in this constrained property bag"));

    PLComPtr<IPLVariant> out;
    EXPECT_HR(bag->GetProperty(u"Other", out.Put()), E_FAIL);
    EXPECT_EQ(LongIn(bag.Get(), u"MODULE"), 1);
}

// The first-use step runs once, and only its own call reports its failure.
TEST(PropertyBag, FirstUseInitialisationRunsOnceAcrossThreads) {
    for (int round = 0; round < 20; ++round) {
        auto bag = NewConstrained();
        bag->initDelay = std::chrono::milliseconds(2);
        std::atomic<int> ready{0}, allowed{0};
        auto ask = [&] {
            ++ready;
            while (ready.load() < 2) {
            }
            PLComPtr<IPLVariant> out;
            if (bag->GetProperty(u"Class", out.Put()) == S_FALSE) ++allowed;
        };
        std::thread a(ask), b(ask);
        a.join();
        b.join();
        EXPECT_EQ(bag->inits.load(), 1);
        EXPECT_EQ(allowed.load(), 2);  // neither saw the allowed set half made
    }
    auto failing = NewConstrained();
    failing->initResult = E_UNEXPECTED;
    BOOL contains = FALSE;
    EXPECT_HR(failing->ContainsKey(u"Module", &contains), E_UNEXPECTED);
    EXPECT_HR(failing->ContainsKey(u"Module", &contains), S_FALSE);
    EXPECT_EQ(failing->inits.load(), 1);
}

namespace {
std::u16string WriteOf(const PLComPtr<IPLPropertyBag>& bag, LONG flags, HRESULT expected = S_OK) {
    auto writer = kdtest::New<IPLXMLWriter>(CLSID_PLXMLWriter);
    EXPECT_HR(kdtest::As<IPLSerializeXML>(bag)->WriteXML(writer.Get(), flags), expected);
    const WCHAR* text = nullptr;
    EXPECT_HR(writer->GetBuffer(&text), S_OK);
    return text != nullptr ? text : u"";
}
// The text of the root's child elements, read back by libxml2 (recovering from references to
// characters XML cannot hold, which it then drops, when `recover` is set).
std::vector<std::string> ParsedValues(const std::u16string& xml, bool recover = false) {
    const std::string utf8 = kd::platform::Utf16ToUtf8(u"<r>" + xml + u"</r>");
    std::vector<std::string> values;
    xmlDocPtr doc = xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8",
                                  XML_PARSE_NONET | (recover ? XML_PARSE_RECOVER | XML_PARSE_NOERROR : 0));
    if (doc == nullptr) return {"<not well-formed>"};
    for (xmlNodePtr n = xmlDocGetRootElement(doc)->children; n != nullptr; n = n->next) {
        xmlChar* text = xmlNodeGetContent(n);
        values.emplace_back(reinterpret_cast<const char*>(n->name) + std::string("=") +
                            reinterpret_cast<const char*>(text));
        xmlFree(text);
    }
    xmlFreeDoc(doc);
    return values;
}
}  // namespace

TEST(PropertyBag, WritesTheCompactElementForm) {
    auto bag = BagOf({});
    EXPECT_EQ(WriteOf(bag, 1), u"<PropertyBag></PropertyBag>");
    EXPECT_EQ(WriteOf(bag, 0), u"");
    bag->SetProperty(u"Size", VariantOf(5).Get());
    bag->SetProperty(u"Name", VariantOf(u"a]]>b]]]>c").Get());
    auto empty = VariantOf();
    empty->SetEmpty();
    bag->SetProperty(u"None", empty.Get());
    const std::u16string xml = WriteOf(bag, 1);
    EXPECT_EQ(ParsedValues(xml), (std::vector<std::string>{"PropertyBag=a]]>b]]]>c5"}));
    EXPECT_EQ(ParsedValues(WriteOf(bag, 0)), (std::vector<std::string>{"Name=a]]>b]]]>c", "None=", "Size=5"}));

    // A carriage return comes back as it went, a character XML cannot hold is dropped (as the
    // library's own reader drops it), a NaN has a text form.
    bag->SetProperty(u"Name", VariantOf(u"a\u0001b\r\n\uFFFF]]>").Get());
    bag->SetProperty(u"Size", VariantOf(std::numeric_limits<double>::quiet_NaN()).Get());
    const std::u16string text = WriteOf(bag, 0);
    EXPECT_EQ(text.find_first_of(u"\u0001\r\uFFFF"), std::u16string::npos);
    EXPECT_EQ(ParsedValues(text, true), (std::vector<std::string>{"Name=ab\r\n]]>", "None=", "Size=NaN"}));

    // A name that is no XML name is refused, not written; so is a value XML has no form for.
    auto bad = kdtest::BagOf({{u"a b", 1}});
    EXPECT_EQ(WriteOf(bad, 0, E_INVALIDARG), u"");
    EXPECT_TRUE(kdtest::Recorded(u"Property name 'a b' is not a valid XML name."));
    EXPECT_EQ(WriteOf(kdtest::BagOf({{u"a", u"\xD800"}}), 0, E_INVALIDARG), u"");

    // A bag that holds itself is refused at the nesting limit.
    ASSERT_HR(bag->SetProperty(u"Self", VariantOf(bag.Get()).Get()), S_OK);
    WriteOf(bag, 1, E_FAIL);
    bag->DeleteProperty(u"Self");  // breaks the cycle
}

// Which names the XML writers take: XML's name characters, first and later, range by range,
// with the characters just outside each range refused.
TEST(Property, XmlNamesFollowTheNameCharacterRanges) {
    // The ends of each range of first characters, then of later ones.
    for (const WCHAR* name : {u"_a:b", u"Z9-.", u"\u00C0", u"\u00D8\u00F6", u"\u00F8\u02FF", u"\u0370\u037D",
                              u"\u037F\u1FFF", u"\u200C\u200D", u"\u2070\u218F", u"\u2C00\u2FEF", u"\u3001\uD7FF",
                              u"\uF900\uFDCF", u"\uFDF0\uFFFD", u"a\u00B7\u0300\u036F\u203F\u2040", u"a\u0370"})
        EXPECT_TRUE(PLIsXMLName(name)) << kd::platform::Utf16ToUtf8(name);
    // The characters just outside them, and names that are none.
    static constexpr WCHAR kLone[] = {u'a', 0xD800, 0};
    for (const WCHAR* name : {u"\u00D7", u"\u00F7", u"\u0300", u"\u037E", u"\u200E", u"\u2190", u"\u3000", u"\uFDD0",
                              u"\uFFFE", u"a\u2041", u"a/", u"0a", u"", kLone, static_cast<const WCHAR*>(nullptr)})
        EXPECT_FALSE(PLIsXMLName(name)) << (name ? kd::platform::Utf16ToUtf8(name) : "(null)");
}

TEST(Property, RefusesMissingArguments) {
    auto property = kdtest::New<IPLProperty>(CLSID_PLProperty);
    WCHAR none[1];
    for (const HRESULT hr : {property->Initialize(nullptr, nullptr), property->GetName(nullptr, 4),
                             property->GetValue(nullptr), kdtest::As<IPLSerializeXML>(property)->WriteXML(nullptr, 0)})
        EXPECT_HR(hr, E_POINTER);
    EXPECT_HR(property->GetName(none, 0), E_INVALIDARG);
    // Names cut at 254 characters: PLXMLFunctions.BagWritesWhatItsPropertyCollectionWrites.
}
