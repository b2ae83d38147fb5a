// The variant: text forms, getters, conversions, comparison, copies and the date mask.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <tuple>

#include <kdtrace/variant.h>

#include "module_base/PLDateTime.h"
#include "module_base/PLVariant.h"
#include "support/DiagReceiver.h"
#include "support/ForwardingVariant.h"
#include "support/TraceFakes.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

using kdtest::Reports;
using Set = std::function<HRESULT(IPLVariant*)>;

PLComPtr<IPLVariant> Make(const Set& set = nullptr) {
    auto v = kdtest::New<IPLVariant>(CLSID_PLVariant);
    EXPECT_HR(set ? set(v.Get()) : S_OK, S_OK);
    return v;
}
// Setters of each scalar kind, by the C++ type of the value.
#define KD_SETTER(Name, Type, Call)                    \
    Set Name(Type x) {                                 \
        return [x](IPLVariant* v) { return v->Call; }; \
    }
KD_SETTER(Long, LONG, SetValueLong(x))
KD_SETTER(Big, LONGLONG, SetValueLongLong(x))
KD_SETTER(Real, double, SetValueDouble(x))
KD_SETTER(Str, std::u16string, SetValueString(x.c_str()))
const Set Empty = [](IPLVariant* v) { return v->SetEmpty(); };

// The text form through GetValueStringLength and a buffer of exactly that size.
std::u16string Text(IPLVariant* v) {
    LONG length = 0;
    if (v->GetValueStringLength(&length) != S_OK) return u"<no length>";
    std::u16string buffer(static_cast<std::size_t>(length), u'#');
    if (v->GetValueString(buffer.data(), length) != S_OK) return u"<no text>";
    buffer.resize(buffer.find(u'\0'));
    return buffer;
}

PLComPtr<IPLDateTime> Date(LONG month, LONG day, LONG year, LONG hour = 0, LONG minute = 0, LONG second = 0) {
    PLComPtr<IPLDateTime> dt;
    EXPECT_HR(PLCreateDateTime(0x0409, dt.Put()), S_OK);
    EXPECT_HR(dt->Initialize(month, day, year, hour, minute, second), S_OK);
    return dt;
}
const Set kDayTime = [](IPLVariant* x) { return x->SetValueDateTimeOfDay(Date(3, 5, 2024, 13, 7, 9).Get()); };

TEST(PLVariantTest, TextForms) {
    // Whole parts are never cut (1e18 and -1e17 read 1e17 and 1e16 when the text is cut to 18);
    // beyond the 64-bit range the whole value is written, with no fraction.
    const std::pair<double, const char16_t*> reals[] = {
        {2.9999996, u"3.000000"},       {-0.9999996, u"-1.000000"},      {123456789012.5, u"123456789012.50000"},
        {1e18, u"1000000000000000000"}, {-1e17, u"-100000000000000000"}, {-3e20, u"-300000000000000000000"}};
    for (const auto& [x, text] : reals) EXPECT_EQ(Text(Make(Real(x)).Get()), text) << x;
    EXPECT_EQ(Text(Make(Empty).Get()), u"");
    EXPECT_EQ(Text(Make(Real(1e300)).Get()).size(), 301u);
    // NaN and infinities have no text form, so no conversion either.
    for (double x : {NAN, INFINITY, -INFINITY}) EXPECT_HR(Make(Real(x))->Convert(PLVariantString), E_FAIL);
}

TEST(PLVariantTest, LongStringsTravelWhole) {
    const std::u16string text(1000, u'x');
    auto v = Make(Str(text));
    EXPECT_EQ(Text(v.Get()), text);
    // One character short of the terminator fails and writes nothing past the buffer.
    std::u16string small(1001, u'#');
    EXPECT_TRUE(Reports(v->GetValueString(small.data(), 1000), E_FAIL, u"Buffer size (1000) is too small"));
    EXPECT_EQ(small[1000], u'#');
    BSTR b = nullptr;
    ASSERT_HR(v->AllocSysString(&b), S_OK);
    EXPECT_EQ(std::u16string(b), text);
    SysFreeString(b);
    EXPECT_TRUE(Reports(Make(kDayTime)->GetValueString(small.data(), 8), E_FAIL, u"Buffer (8) is too small"));
}

TEST(PLVariantTest, Getters) {
    // Text reads as the C runtime reads it; a value beyond the target's range is refused rather
    // than cut to its low half.
    // The value, as a LONG, as a LONGLONG, the number read.
    const std::tuple<Set, HRESULT, HRESULT, int64_t> numbers[] = {
        {Str(u" 12abc"), S_OK, S_OK, 12},
        {Str(u"4294967297"), E_FAIL, S_OK, 4294967297LL},
        {Str(u"-9223372036854775808"), E_FAIL, S_OK, INT64_MIN},
        {Str(u"9223372036854775808"), E_FAIL, E_FAIL, 0},
        {Real(1.0), E_FAIL, E_FAIL, 0}};
    for (const auto& [set, asLong, asLongLong, value] : numbers) {
        auto v = Make(set);
        LONG narrow = 0;
        LONGLONG wide = 0;
        EXPECT_HR(v->GetValueLong(&narrow), asLong) << value;
        EXPECT_HR(v->GetValueLongLong(&wide), asLongLong) << value;
        EXPECT_EQ(narrow, asLong == S_OK ? value : 0);
        EXPECT_EQ(wide, asLongLong == S_OK ? value : 0);
    }
    for (const auto& [text, expected] : {std::pair{u"TRUE", 1}, {u"1", 1}, {u"fAlSe", 0}, {u"yes", -1}}) {
        bool value = expected != 1;
        EXPECT_HR(Make(Str(text))->GetValueBoolean(&value), expected < 0 ? E_FAIL : S_OK);
        EXPECT_EQ(value, expected != 0);  // a failure leaves it as it was
    }
}

TEST(PLVariantTest, Conversions) {
    // The value, the kind to convert to, the result, the text form after a success.
    const std::tuple<Set, LONG, HRESULT, std::u16string> cases[] = {
        {Long(42), PLVariantDouble, S_OK, u"42.000000"},
        {Str(u"TRUE"), PLVariantBoolean, S_OK, u"true"},
        {Str(u"1"), PLVariantBoolean, E_FAIL, u""},
        {Str(u" 12abc"), PLVariantLong, E_FAIL, u""},
        {Str(u"2147483648"), PLVariantLong, E_FAIL, u""},
        {Str(u"-9000000000"), PLVariantLongLong, S_OK, u"-9000000000"},
        {Long(1), PLVariantIUnknown, E_FAIL, u""},
        {Long(7), PLVariantUndefined, S_OK, u"7"},
        {Str(u"2024-03-15 13:07:09"), PLVariantDateTimeOfDay, S_OK, u"3-15-2024 01:07:09 PM"},
        {Str(u"someday"), PLVariantDateTime, E_FAIL, u""},
        {Str(u"7-4"), PLVariantDateTime, E_FAIL, u""},  // no year: not the year 2000
        {Str(u"7-4- 10:30:00 AM"), PLVariantDateTimeOfDay, E_FAIL, u""},
        {Long(3), PLVariantCollection, E_FAIL, u""},
        {Long(3), PLVariantEmpty, E_FAIL, u""},
        {Long(3), 99, E_INVALIDARG, u""},
        {Empty, PLVariantLong, E_FAIL, u""},
        {Empty, PLVariantString, S_OK, u""},
        {[](IPLVariant* v) { return v->SetValueIUnknown(Make().Get()); }, PLVariantLong, E_FAIL, u""}};
    for (const auto& [set, target, hr, textAfter] : cases) {
        SCOPED_TRACE(testing::Message() << "target " << target << ", after " << testing::PrintToString(textAfter));
        auto v = Make(set);
        const LONG before = kdtest::LongOf(v.Get(), &IPLVariant::GetType);
        const std::u16string textBefore = Text(v.Get());
        EXPECT_HR(v->Convert(target), hr);
        const LONG after = hr == S_OK && target != PLVariantUndefined ? target : before;
        EXPECT_EQ(kdtest::LongOf(v.Get(), &IPLVariant::GetType), after);
        EXPECT_EQ(Text(v.Get()), hr == S_OK ? textAfter : textBefore);
    }
}

// Whatever the process locale, and so its separators, every text Convert writes reads back,
// through the default masks, the locale's and a stored one (which the other kinds ignore).
TEST(PLVariantTest, TextFormsReadBackUnderEveryLocale) {
    const Set kNoDate = [](IPLVariant* x) {
        PLComPtr<IPLDateTime> empty;
        return PLCreateDateTime(0x0409, empty.Put()) < 0 ? E_FAIL : x->SetValueDateTimeOfDay(empty.Get());
    };
    const Set kDay = [](IPLVariant* x) { return x->SetValueDateTime(Date(2, 29, 2000, 23, 59, 59).Get()); };
    const Set kFalse = [](IPLVariant* x) { return x->SetValueBoolean(false); };
    const Set values[] = {Long(INT32_MIN), Long(INT32_MAX), Big(INT64_MAX), Real(-1234.5),
                          kFalse,          kDayTime,        kNoDate,        kDay};
    kdtest::ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), lang("LANG", nullptr);
    for (const char* locale : {"fi_FI.UTF-8", "da_DK", "id_ID", "th_TH", "de_DE.UTF-8", "fr_CA", "ko_KR", "en_US"}) {
        ::setenv("LANG", locale, 1);
        for (const Set& set : values)
            for (const char16_t* mask : {u"", u"SYSTEMDATETIME", u"%B %d, %y %h %p"}) {
                auto v = Make(set);
                ASSERT_HR(v->SetDateTimeFormatString(mask), S_OK);
                const LONG kind = kdtest::LongOf(v.Get(), &IPLVariant::GetType);
                const std::u16string text = Text(v.Get());
                SCOPED_TRACE(testing::Message() << locale << " " << testing::PrintToString(text));
                ASSERT_HR(v->Convert(PLVariantString), S_OK);
                ASSERT_HR(v->Convert(kind), S_OK);
                EXPECT_EQ(Text(v.Get()), text);
            }
    }
}

TEST(PLVariantTest, Comparisons) {
    // a, b, whether case is ignored, the sign of a against b.
    const std::tuple<Set, Set, bool, int> cases[] = {
        {Long(2147483647), Long(-1), false, 1},  // a 32-bit difference would wrap to "less"
        {Empty, Long(-1), false, -1},
        {Str(u"abc"), Str(u"ABC"), true, 0},
        {Str(u"a"), Str(u"B"), false, 1},
        {[](IPLVariant* x) { return x->SetValueDateTime(Date(1, 2, 2024).Get()); },
         [](IPLVariant* x) { return x->SetValueDateTime(Date(1, 1, 2024, 23).Get()); }, false, 1}};
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const auto& [a, b, ignoreCase, sign] = cases[row];
        LONG result = 99;
        ASSERT_HR(Make(a)->CompareEx(Make(b).Get(), ignoreCase, &result), S_OK);
        EXPECT_EQ((result > 0) - (result < 0), sign) << "row " << row;
    }
    LONG result = 0;
    EXPECT_TRUE(Reports(Make(Big(1))->CompareEx(Make(Big(2)).Get(), false, &result), E_NOTIMPL,
                        u"Variants are of a non-comparable type type (10)."));
    EXPECT_HR(Make(Long(1))->CompareEx(Make(Real(1)).Get(), false, &result), E_NOTIMPL);
}

TEST(PLVariantTest, FailedOrSelfAssignmentKeepsTheValue) {
    auto v = Make(Str(u"kept text"));
    ASSERT_HR(v->SetValueVariant(v.Get()), S_OK);
    EXPECT_EQ(Text(v.Get()), u"kept text");
    // A source that cannot be read leaves the old value whole.
    EXPECT_HR(v->SetValueVariant(Make().Get()), E_FAIL);
    EXPECT_EQ(Text(v.Get()), u"kept text");

    auto d = Make(kDayTime);
    ASSERT_HR(d->SetDateTimeFormatString(u"%y/%2m/%2d"), S_OK);
    ASSERT_HR(d->SetValueVariant(d.Get()), S_OK);
    EXPECT_EQ(Text(d.Get()), u"2024/03/05");
    PLComPtr<IPLDateTime> held;
    ASSERT_HR(d->GetValueDateTime(held.Put()), S_OK);
    ASSERT_HR(d->SetValueDateTime(held.Get()), S_OK);
    EXPECT_EQ(kdtest::LongOf(d.Get(), &IPLVariant::GetType), PLVariantDateTime);
    EXPECT_EQ(Text(d.Get()), u"2024/03/05");
}

TEST(PLVariantTest, CopiesAreIndependent) {
    // Dates are copied in.
    auto date = Date(3, 5, 2024);
    auto v = Make([&](IPLVariant* x) { return x->SetValueDateTime(date.Get()); });
    ASSERT_HR(date->Initialize(1, 1, 2000, 0, 0, 0), S_OK);
    EXPECT_EQ(Text(v.Get()), u"3-5-2024");

    // Collections are copied deeply, nested ones too, on the way in and out: the item of the
    // first copy taken out is changed in place (GetAt hands out the item itself).
    auto inner = kdtest::New<IPLVariantCollection>(CLSID_PLVariantCollection);
    auto outer = kdtest::New<IPLVariantCollection>(CLSID_PLVariantCollection);
    const LONG one = 1;
    ASSERT_HR(inner->AppendValue(PLVariantLong, &one), S_OK);
    ASSERT_HR(outer->AppendValue(PLVariantCollection, inner.Get()), S_OK);
    auto holder = Make([&](IPLVariant* x) { return x->SetValueCollection(outer.Get()); });
    ASSERT_HR(inner->RemoveAll(), S_OK);
    ASSERT_HR(outer->RemoveAll(), S_OK);
    for (int copy = 0; copy < 2; ++copy) {
        PLComPtr<IPLVariantCollection> items, nested;
        PLComPtr<IPLVariant> item;
        ASSERT_HR(holder->GetValueCollection(items.Put()), S_OK);
        ASSERT_HR(items->GetAt(0, item.Put()), S_OK);
        ASSERT_HR(item->GetValueCollection(nested.Put()), S_OK);
        EXPECT_EQ(nested->GetCount(), 1);
        ASSERT_HR(item->SetEmpty(), S_OK);  // must not reach the second copy
    }
}

// Every method refuses a missing argument or place for its result (E_POINTER) and a buffer
// with no room (E_INVALIDARG), and the value stays as it was.
TEST(PLVariantTest, MissingArgumentsAreRefusedAndChangeNothing) {
    auto v = Make(Str(u"kept"));
    WCHAR none[1];
    // The scalar kinds, then the objects and the mask.
    for (const HRESULT hr :
         {v->SetValueString(nullptr), v->GetValueString(nullptr, 4), v->GetValueStringLength(nullptr),
          v->AllocSysString(nullptr), v->GetValueLong(nullptr), v->GetValueLongLong(nullptr),
          v->GetValueDouble(nullptr), v->GetValueBoolean(nullptr), v->SetValueVariant(nullptr),
          v->GetValueVariant(nullptr), v->CompareEx(nullptr, false, nullptr), v->CompareEx(v.Get(), false, nullptr),
          PLCreateVariant(nullptr)})
        EXPECT_HR(hr, E_POINTER);
    for (const HRESULT hr :
         {v->SetValueDateTime(nullptr), v->SetValueDateTimeOfDay(nullptr), v->GetValueDateTime(nullptr),
          v->GetValueDateTimeOfDay(nullptr), v->SetDateTimeFormatString(nullptr),
          v->GetDateTimeFormatString(nullptr, 4), v->SetValueIUnknown(nullptr), v->GetValueIUnknown(nullptr),
          v->SetValueCollection(nullptr), v->GetValueCollection(nullptr)})
        EXPECT_HR(hr, E_POINTER);
    EXPECT_HR(v->GetValueString(none, 0), E_INVALIDARG);
    EXPECT_HR(v->GetDateTimeFormatString(none, 0), E_INVALIDARG);
    EXPECT_EQ(Text(v.Get()), u"kept");
}

}  // namespace

namespace {
// A variant that is not one of the library's: every call goes to a variant of ours inside.
struct ForeignBase : kdtest::Fake<IPLVariant> {
    explicit ForeignBase(IPLVariant* inner) : Fake(IID_IPLVariant), m(inner) {}
    PLComPtr<IPLVariant> m;
};
using Foreign = kdtest::ForwardingVariant<ForeignBase>;
}  // namespace

// A String's text is kept in the variant when short and in a block of its own otherwise; a new
// text reuses the room it fits in. Each step reads back whole, whatever room the text had before
// and wherever its source lies: its own text, another variant's that then goes away, one that is
// not ours.
TEST(PLVariantTest, TextsOfEveryLengthReplaceEachOther) {
    auto v = Make();
    std::u16string previous;
    for (const std::size_t length : {3u, 15u, 16u, 40u, 10u, 41u, 300u, 0u, 5u, 15u}) {
        std::u16string text(length, u'a');
        for (std::size_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(u'a' + (i + length) % 26);
        SCOPED_TRACE(length);
        ASSERT_HR(v->SetValueString(text.c_str()), S_OK);
        EXPECT_EQ(Text(v.Get()), text);
        // Its own text from the third character on.
        void* word = nullptr;
        ASSERT_HR(kdtest::As<IPLVariantPriv>(v)->GetDataPointer(&word), S_OK);
        if (length >= 2) {
            ASSERT_HR(v->SetValueString(static_cast<const WCHAR*>(word) + 2), S_OK);
            EXPECT_EQ(Text(v.Get()), text.substr(2));
        }
        // Copies out and in through ours, and in through a foreign variant, outlive their sources.
        PLComPtr<IPLVariant> copy;
        {
            auto source = Make(Str(previous));
            ASSERT_HR(source->GetValueVariant(copy.Put()), S_OK);
            ASSERT_HR(v->SetValueVariant(source.Get()), S_OK);
        }
        EXPECT_EQ(std::pair(Text(copy.Get()), Text(v.Get())), std::pair(previous, previous));
        {
            Foreign foreign(Make(Str(text)).Get());
            ASSERT_HR(v->SetValueVariant(&foreign), S_OK);
        }
        EXPECT_EQ(Text(v.Get()), text);
        previous = text;
    }
}
