// Style strings: pairs, separators, white space; into a property bag, with and without
// verification of a signed string.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <kdtrace/variant.h>

#include "module_base/PLComObject.h"
#include "module_base/PLSignedPropertyString.h"
#include "module_base/PLStyleString.h"
#include "support/ErrorList.h"
#include "support/HResult.h"
#include "support/TraceFakes.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

std::u16string Pairs(std::u16string_view text) {
    std::u16string out;
    for (const auto& p : PLParseStyleString(text))
        out += u"[" + std::u16string(p.name.view()) + u"=" + std::u16string(p.value.view()) + u"]";
    return out;
}

TEST(PLStyleStringTest, ParsesPairsAsWritten) {
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"a : 1;;b:2:3", u"[a=1][b=2]"},
        {u";;;", u""},
        {u" : x; :; c ;d:", u"[c=][d=]"},
        {u"\tname\t:\t two words \r\n;x:y", u"[name=two words][x=y]"},
        {u"a:1;a:2", u"[a=1][a=2]"}};
    for (const auto& [text, pairs] : cases) EXPECT_EQ(Pairs(text), pairs);
}

// A bag that keeps each value's text, and refuses the name "refused".
class TextBag final : public kdtest::Fake<IPLPropertyBag> {
public:
    TextBag() : Fake(IID_IPLPropertyBag) {}
    std::map<std::u16string, std::u16string> values;
    HRESULT SetProperty(const WCHAR* name, IPLVariant* value) override {
        if (std::u16string(name) == u"refused") return E_UNEXPECTED;
        WCHAR text[256];
        const HRESULT hr = value->GetValueString(text, 256);
        if (hr >= 0) values[name] = text;
        return hr;
    }
    HRESULT GetProperty(const WCHAR*, IPLVariant**) override { return E_NOTIMPL; }
    HRESULT GetProperties(IPLPropertyCollection**) override { return E_NOTIMPL; }
    HRESULT ContainsKey(const WCHAR*, BOOL*) override { return E_NOTIMPL; }
    HRESULT DeleteProperty(const WCHAR*) override { return E_NOTIMPL; }
};

TEST(PLStyleStringTest, SetsEachPairInABagAfterVerifyingWhenAsked) {
    const auto now = kdtest::DateAt(6, 1, 2026, 12, 0, 0);
    PLString text(u"c:3");
    ASSERT_HR(SignPropertyString(text, now.Get()), S_OK);
    TextBag signedBag;
    ASSERT_HR(PLStyleStringToPropertyBag(text.c_str(), &signedBag, now.Get()), S_OK);
    EXPECT_EQ(signedBag.values.size(), 3u);
    EXPECT_EQ(signedBag.values[u"c"], u"3");

    TextBag untouched;
    text.SetAt(text.GetLength() - 1, u'4');
    EXPECT_HR(PLStyleStringToPropertyBag(text.c_str(), &untouched, now.Get()), E_FAIL);
    EXPECT_TRUE(untouched.values.empty());

    // Without a time nothing is verified; pairs are set in order until one is refused.
    TextBag bag;
    EXPECT_HR(PLStyleStringToPropertyBag(u"x:1;refused: no ", &bag, nullptr), E_UNEXPECTED);
    EXPECT_EQ(bag.values, (std::map<std::u16string, std::u16string>{{u"x", u"1"}}));
    EXPECT_EQ(kdtest::TakeThreadErrors().back().message, u"Failed to add property:value refused:no to property bag");
}

TEST(PLStyleStringTest, PageSectionExtentsAndPropertyCollections) {
    PLPageSectionExtents extents{};
    ASSERT_HR(GetPageSectionExtentsFromStyleString(u"xPos:1; yPos: 2;width:3;height:4;other:x", &extents), S_OK);
    EXPECT_EQ((std::vector<LONG>{extents.x, extents.y, extents.width, extents.height}),
              (std::vector<LONG>{1, 2, 3, 4}));
    // Without one of the four names: refused, with the name, and the extents stay as they were.
    extents = PLPageSectionExtents{9, 9, 9, 9};
    EXPECT_HR(GetPageSectionExtentsFromStyleString(u"xPos:1;yPos:2;width:3", &extents), E_FAIL);
    EXPECT_TRUE(kdtest::Recorded(u"Failed to get 'height' property from property bag."));
    EXPECT_EQ(extents.x + extents.height, 18);

    const auto properties = kdtest::New<IPLPropertyCollection>(CLSID_PLPropertyCollection);
    ASSERT_HR(PLStyleStringToPropertyCollection(u"a : 1;;b:2:3", properties.Get()), S_OK);
    ASSERT_EQ(properties->GetCount(), 2);
    PLComPtr<IPLProperty> second;
    ASSERT_HR(properties->GetAt(1, second.Put()), S_OK);
    WCHAR name[8];
    ASSERT_HR(second->GetName(name, 8), S_OK);
    EXPECT_EQ(std::u16string(name), u"b");
}

}  // namespace
