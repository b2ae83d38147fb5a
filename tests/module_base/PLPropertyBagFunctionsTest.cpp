#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "module_base/PLPropertyBagFunctions.h"
#include "support/ErrorList.h"
#include "support/HResult.h"
#include "support/PropertyBagOf.h"

TEST(PropertyBagFunctions, TypedValuesGoInAndComeBack) {
    auto bag = kdtest::BagOf({});
    ASSERT_HR(AddLongToPropertyBag(bag.Get(), u"l", -5), S_OK);
    ASSERT_HR(AddPLLongToPropertyBag(bag.Get(), u"ll", 1LL << 40), S_OK);
    ASSERT_HR(AddBoolToPropertyBag(bag.Get(), u"b", true), S_OK);
    const std::u16string longText(3000, u'q');  // read whole, not cut
    ASSERT_HR(AddStringToPropertyBag(bag.Get(), u"s", longText.c_str()), S_OK);

    LONG l = 0;
    LONGLONG ll = 0;
    bool b = false;
    PLString s;
    for (const HRESULT hr :
         {GetLongFromPropertyBag(bag.Get(), u"L", &l), GetPLLongFromPropertyBag(bag.Get(), u"ll", &ll),
          GetBoolFromPropertyBag(bag.Get(), u"b", &b), GetPLStringFromPropertyBag(bag.Get(), u"s", &s)})
        EXPECT_HR(hr, S_OK);
    EXPECT_EQ(std::tuple(l, ll, b, std::u16string(s.view())), std::tuple(-5, 1LL << 40, true, longText));

    // A missing name leaves the caller's value as it was.
    l = 77;
    EXPECT_HR(GetLongFromPropertyBag(bag.Get(), u"missing", &l), S_OK);
    EXPECT_EQ(l, 77);
    // A value of another kind, and a buffer too small for the text, fail; a value without a text
    // form fails with the variant's reason, then the getter's.
    EXPECT_HR(GetBoolFromPropertyBag(bag.Get(), u"s", &b), E_FAIL);
    WCHAR small[4];
    EXPECT_HR(GetStringFromPropertyBag(bag.Get(), u"s", small, 4), E_FAIL);
    ASSERT_HR(AddIUnknownToPropertyBag(bag.Get(), u"u", bag.Get()), S_OK);
    PLClearThreadErrors();
    EXPECT_HR(GetPLStringFromPropertyBag(bag.Get(), u"u", &s), E_FAIL);
    const auto errors = kdtest::TakeThreadErrors();
    ASSERT_GE(errors.size(), 2u);
    EXPECT_EQ(errors[errors.size() - 2].message, u"Failed to obtain string length from variant");
    EXPECT_EQ(errors.back().message, u"Failed to obtain string value from variant");
    bag->DeleteProperty(u"u");  // the bag held itself
}

TEST(PropertyBagFunctions, CopiesBetweenBagsAndChecksRequiredNames) {
    auto from = kdtest::BagOf({{u"width", 3}}), to = kdtest::BagOf({});
    ASSERT_HR(CopyVariantBetweenPropertyBags(to.Get(), u"Width", from.Get(), nullptr), S_OK);
    ASSERT_HR(CopyVariantBetweenPropertyBags(to.Get(), u"w2", from.Get(), u"WIDTH"), S_OK);
    ASSERT_HR(CopyVariantBetweenPropertyBags(to.Get(), u"none", from.Get(), u"absent"), S_OK);
    LONG w = 0, w2 = 0;
    GetLongFromPropertyBag(to.Get(), u"width", &w);
    GetLongFromPropertyBag(to.Get(), u"w2", &w2);
    EXPECT_EQ(w + w2, 6);
    BOOL contains = TRUE;
    EXPECT_HR(to->ContainsKey(u"none", &contains), S_FALSE);

    const HRESULT hr = PLGuardNamed("Core Services", "Utility Functions", "Check", [](HRESULT&) {
        PL_CHECK_REQUIRED_PROPERTY(FALSE, "present");
        PL_CHECK_REQUIRED_PROPERTY(TRUE, u"documentID");
    });
    EXPECT_HR(hr, E_FAIL);
    EXPECT_TRUE(kdtest::Recorded(u"Failed to find the required property 'documentID'."));
}

// Exactly an array of bytes is accepted: not wider integers, not one by reference.
TEST(PropertyBagFunctions, ByteArrayFromSafeArrayTakesOnlyBytes) {
    using namespace kd::platform;
    Variant v;
    InitVariant(v);
    v.vt = kVarArray | kVarUI1;
    v.parray = CreateVector(kVarUI1, 3);
    static_cast<BYTE*>(v.parray->data)[2] = 42;
    BYTE* bytes = nullptr;
    LONG count = 0;
    ASSERT_HR(ByteArrayFromSafeArray(&v, &bytes, &count), S_OK);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(bytes[2], 42);
    TaskMemFree(bytes);

    Variant wrong[3];  // an array of longs, the byte array by reference, a plain long
    for (Variant& w : wrong) InitVariant(w);
    wrong[0].vt = kVarArray | kVarI4;
    wrong[0].parray = CreateVector(kVarI4, 2);
    wrong[1].vt = kVarArray | kVarUI1 | kVarByRef;
    wrong[1].byref = &v.parray;
    wrong[2].vt = kVarI4;
    for (Variant& w : wrong) {
        bytes = nullptr;
        EXPECT_HR(ByteArrayFromSafeArray(&w, &bytes, &count), E_FAIL) << w.vt;
        EXPECT_EQ(bytes, nullptr);
    }
    EXPECT_TRUE(DestroyArray(v.parray));  // no access left held
    DestroyArray(wrong[0].parray);
}

// Page section extents are read from a bag, and refused without one of their four names, in the
// style-string test.

template <LONG kind>
void SetDate(IPLVariant* v) {
    v->SetValueString(kind == PLVariantDateTime ? u"12-06-2026" : u"12-06-2026 01:07:09 PM");
    v->Convert(kind);
}

void SetCollection(IPLVariant* v) {
    PLComPtr<IPLVariantCollection> inner, outer;
    PLCreateInstance(CLSID_PLVariantCollection, inner);
    PLCreateInstance(CLSID_PLVariantCollection, outer);
    const LONG one = 1;
    inner->AppendValue(PLVariantString, u"x");
    outer->AppendValue(PLVariantLong, &one);
    outer->AppendValue(PLVariantCollection, inner.Get());
    v->SetValueCollection(outer.Get());
}

// The text of every leaf, depth first, so that two values can be compared whatever their kind.
std::u16string Describe(IPLVariant* v) {
    LONG type = 0;
    v->GetType(&type);
    std::u16string text = u"<" + std::u16string(1, static_cast<char16_t>(u'0' + type + 1)) + u">";
    if (type == PLVariantCollection) {
        PLComPtr<IPLVariantCollection> items;
        v->GetValueCollection(items.Put());
        for (LONG i = 0; i < items->GetCount(); ++i) {
            PLComPtr<IPLVariant> item;
            items->GetAt(i, item.Put());
            text += Describe(item.Get());
        }
        return text + u"</>";
    }
    WCHAR buffer[64] = {};
    v->GetValueString(buffer, 64);
    return text + buffer;
}

TEST(PropertyBagFunctions, ValuesRoundTripThroughAutomationValues) {
    using namespace kd::platform;
    const std::tuple<const char*, void (*)(IPLVariant*), uint16_t> cases[] = {
        {"long", [](IPLVariant* v) { v->SetValueLong(-7); }, kVarI4},
        {"long long", [](IPLVariant* v) { v->SetValueLongLong(1LL << 40); }, kVarI8},
        {"double", [](IPLVariant* v) { v->SetValueDouble(2.5); }, kVarR8},
        {"object", [](IPLVariant* v) { v->SetValueIUnknown(kdtest::VariantOf().Get()); }, kVarUnknown},
        {"boolean", [](IPLVariant* v) { v->SetValueBoolean(true); }, kVarBool},
        {"string", [](IPLVariant* v) { v->SetValueString(u"a\u00E9b"); }, kVarBstr},
        {"empty", [](IPLVariant* v) { v->SetEmpty(); }, kVarEmpty},
        {"undefined", [](IPLVariant*) {}, kVarNull},
        {"date", SetDate<PLVariantDateTime>, kVarDate},
        {"date and time", SetDate<PLVariantDateTimeOfDay>, kVarDate},
        {"collection", SetCollection, kVarArray | kVarVariant}};
    for (const auto& [what, set, vt] : cases) {
        SCOPED_TRACE(what);
        auto in = kdtest::VariantOf(), out = kdtest::VariantOf();
        set(in.Get());
        Variant ole;
        InitVariant(ole);
        ASSERT_HR(KDVariantToOleVariant(in.Get(), &ole), S_OK);
        EXPECT_EQ(ole.vt, vt);
        ASSERT_HR(OleVariantToKDVariant(&ole, out.Get()), S_OK);
        ClearVariant(ole);
        EXPECT_EQ(Describe(out.Get()), Describe(in.Get()));
    }
}

// Calls `get` with the bag, the name and the place for the value missing in turn.
template <class Value>
void ExpectEachMissingRefused(HRESULT (*get)(IPLPropertyBag*, const WCHAR*, Value*), IPLPropertyBag* bag) {
    Value value{};
    EXPECT_HR(get(nullptr, u"n", &value), E_POINTER);
    EXPECT_HR(get(bag, nullptr, &value), E_POINTER);
    EXPECT_HR(get(bag, u"n", nullptr), E_POINTER);
}

// Every function refuses a missing bag, name or place for the value with E_POINTER, whichever
// of them is missing, before it touches the others.
TEST(PropertyBagFunctions, EachMissingArgumentIsRefused) {
    auto bag = kdtest::BagOf({});
    IPLPropertyBag* b = bag.Get();
    ExpectEachMissingRefused(&GetLongFromPropertyBag, b);
    ExpectEachMissingRefused(&GetPLLongFromPropertyBag, b);
    ExpectEachMissingRefused(&GetBoolFromPropertyBag, b);
    ExpectEachMissingRefused(&GetPLStringFromPropertyBag, b);
    ExpectEachMissingRefused(&GetIUnknownFromPropertyBag, b);
    ExpectEachMissingRefused(&GetDateTimeFromPropertyBag, b);
    WCHAR text[4];
    LONG count = 0;
    BYTE* bytes = nullptr;
    kd::platform::Variant ole{};
    // The setters, then the rest.
    for (const HRESULT hr :
         {AddLongToPropertyBag(nullptr, u"n", 1), AddLongToPropertyBag(b, nullptr, 1),
          AddPLLongToPropertyBag(nullptr, u"n", 1), AddPLLongToPropertyBag(b, nullptr, 1),
          AddBoolToPropertyBag(nullptr, u"n", true), AddBoolToPropertyBag(b, nullptr, true),
          AddStringToPropertyBag(nullptr, u"n", u"x"), AddStringToPropertyBag(b, nullptr, u"x"),
          AddIUnknownToPropertyBag(nullptr, u"n", b), AddIUnknownToPropertyBag(b, nullptr, b),
          AddDateTimeToPropertyBag(nullptr, u"n", nullptr), AddDateTimeToPropertyBag(b, nullptr, nullptr)})
        EXPECT_HR(hr, E_POINTER);
    for (const HRESULT hr :
         {GetStringFromPropertyBag(nullptr, u"n", text, 4), GetStringFromPropertyBag(b, nullptr, text, 4),
          GetStringFromPropertyBag(b, u"n", nullptr, 4), CopyVariantBetweenPropertyBags(nullptr, u"n", b, u"n"),
          CopyVariantBetweenPropertyBags(b, nullptr, b, u"n"), CopyVariantBetweenPropertyBags(b, u"n", nullptr, u"n"),
          GetPLStringFromVariant(nullptr, nullptr), GetPageSectionExtentsFromPropertyBag(nullptr, nullptr),
          ByteArrayFromSafeArray(&ole, nullptr, &count), ByteArrayFromSafeArray(&ole, &bytes, nullptr),
          KDVariantToOleVariant(nullptr, &ole), OleVariantToKDVariant(&ole, nullptr)})
        EXPECT_HR(hr, E_POINTER);
}
