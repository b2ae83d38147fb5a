#include <gtest/gtest.h>

#include <pthread.h>

#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <tuple>

#include <kdtrace/currency.h>

#include "module_base/PLCurrency.h"
#include "platform/LocaleInfo.h"
#include "platform/Text.h"
#include "support/PropertyBagOf.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

using kd::platform::Utf16ToUtf8;
using kdtest::Reports;

// Negative, whole units, hundredths.
using Amount = std::tuple<bool, uint64_t, LONG>;

// A new amount holding `value`.
PLComPtr<IPLCurrency> Of(double value, LCID locale = 0x0409) {
    PLComPtr<IPLCurrency> c;
    EXPECT_HR(PLCreateCurrency(locale, c.Put()), S_OK);
    EXPECT_HR(c->SetValue(value), S_OK);
    return c;
}

Amount Read(IPLCurrency* c) {
    LONGLONG units = 0;
    EXPECT_HR(c->GetUnits64(&units), S_OK);
    return {kdtest::LongOf(c, &IPLCurrency::IsNegative) != 0, static_cast<uint64_t>(units < 0 ? -units : units),
            kdtest::LongOf(c, &IPLCurrency::GetFractionAsLong)};
}

// The amount after a step that must give `expected`.
Amount After(HRESULT hr, IPLCurrency* c, HRESULT expected = S_OK) {
    EXPECT_HR(hr, expected);
    return Read(c);
}

// The text a call that must succeed wrote to `buffer`.
std::u16string Wrote(HRESULT hr, const WCHAR* buffer) {
    EXPECT_HR(hr, S_OK);
    return buffer;
}

std::u16string Text(IPLCurrency* c) {
    WCHAR buffer[128];
    return c->GetString(buffer, 128) < 0 ? u"<failed>" : std::u16string(buffer);
}

// Runs `body` on a thread with a 64 KB stack, as some hosts' threads have.
void OnSmallStack(std::function<void()> body) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 64 * 1024);
    pthread_t thread;
    auto run = [](void* f) -> void* {
        (*static_cast<std::function<void()>*>(f))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, run, &body), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

const Amount kBefore{false, 77, 77};
constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x8007007A);

// On a small stack, in constant stack and linear time: the longest texts are those that made a
// backtracking matcher recurse once per character.
TEST(PLCurrencyTest, ParsesFreeTextOnASmallStackAndChangesNothingOnFailure) {
    OnSmallStack([] {
        // Locale data writes U+00A0 and U+202F where a blank stands; 255 characters are read.
        const std::u16string longest = std::u16string(254, u' ') + u"5";
        const std::u16string dashes(127, u'-');
        // Right-to-left locales write direction marks around signs and symbols: read as nothing.
        const std::tuple<LCID, std::u16string, Amount> parsed[] = {
            {0x0409, u"$1,234.56", {false, 1234, 56}},
            {0x0409, u"(1,234.5)", {true, 1234, 50}},
            {0x0409, u"  -$ 0007.1 ", {true, 7, 10}},
            {0x0409, u"", {}},
            {0x0409, u"\u00A0$5\u202F", {false, 5, 0}},
            {0x0409, u"\u1680\u2028\u2029\u205F\u3000\u2212$5", {true, 5, 0}},  // other spaces; U+2212 minus
            {0x0409, u"999,999,999,999,999,999.99", {false, 999999999999999999ULL, 99}},
            {0x0409, longest, {false, 5, 0}},
            {0x0409, dashes + u"5" + dashes, {true, 5, 0}},
            {0x0409, u"(" + std::u16string(253, u'$') + u")", {true, 0, 0}},
            {0x040D, u"\u200F\u200E-1,234.50\u00A0\u200F\u20AA", {true, 1234, 50}},
            {0x0420, u"\u200E-Rs\u00A01,234.50", {true, 1234, 50}},
            {0x0401, u"\u061C-1\u066C234\u066B50\u00A0\u0631.\u0633.\u200F", {true, 1234, 50}}};
        for (const auto& [locale, text, expected] : parsed) {
            auto c = Of(77.77, locale);
            EXPECT_EQ(After(c->SetValueFromString(text.c_str()), c.Get()), expected) << Utf16ToUtf8(text.substr(0, 30));
        }
        for (const std::u16string& text :
             {std::u16string(u"1.234"), std::u16string(u"1,000,000,000,000,000,000"), std::u16string(u"1$2"),
              std::u16string(u"(5"), u"x" + std::u16string(253, u'-') + u"y", u"1" + std::u16string(253, u'-') + u"y",
              longest + u" ", std::u16string(40000, u'1')}) {
            auto c = Of(77.77);
            EXPECT_HR(c->SetValueFromString(text.c_str()), E_FAIL) << Utf16ToUtf8(text.substr(0, 30));
            EXPECT_EQ(Read(c.Get()), kBefore);  // the sign too
        }
    });
}

TEST(PLCurrencyTest, ConfiguredFormatParsesAndWrites) {
    auto c = Of(0);
    auto bag = kdtest::BagOf({{u"GroupDigits", 3},
                              {u"DecimalPlaces", 2},
                              {u"CurrencyMask", 0},
                              {u"PositiveOrder", 3},
                              {u"NegativeOrder", 8},
                              {u"CurrencySymbol", u"EUR"},
                              {u"DecimalSymbol", u""},
                              {u"GroupSymbol", u""}});
    ASSERT_HR(c->SetCurrencyFormatProperties(bag.Get()), S_OK);
    // Without a decimal symbol the last places are the fraction; empty symbols add no
    // alternatives that would keep the leading blanks.
    const std::pair<const char16_t*, Amount> parsed[] = {
        {u"12345", {false, 123, 45}}, {u"5", {false, 0, 5}}, {u"  EUR 12 ", {false, 0, 12}}, {u"-700", {true, 7, 0}}};
    for (const auto& [text, expected] : parsed)
        EXPECT_EQ(After(c->SetValueFromString(text), c.Get()), expected) << Utf16ToUtf8(text);
    // Orders given with mask 0 are the ones written; the empty decimal symbol is the locale's.
    for (const auto& [value, text] : {std::pair{-1234.5, u"-1234.50 EUR"}, {1234.5, u"1234.50 EUR"}}) {
        ASSERT_HR(c->SetValue(value), S_OK);
        EXPECT_EQ(Text(c.Get()), text);
    }
    // A symbol too long fails and keeps the whole configuration.
    auto tooLong = kdtest::BagOf({{u"DecimalPlaces", 0}, {u"CurrencySymbol", u"ABCDEF"}});
    EXPECT_HR(c->SetCurrencyFormatProperties(tooLong.Get()), E_FAIL);
    EXPECT_EQ(Text(c.Get()), u"1234.50 EUR");
    // A mask gives both orders.
    auto masked = kdtest::BagOf(
        {{u"CurrencyMask", 0x2 | 0x8 | 0x10 | 0x20 | 0x100 | 0x200}, {u"DecimalSymbol", u","}, {u"GroupSymbol", u"."}});
    ASSERT_HR(c->SetCurrencyFormatProperties(masked.Get()), S_OK);
    EXPECT_EQ(After(c->SetValueFromString(u"1.234,5 EUR-"), c.Get()), (Amount{true, 1234, 50}));
    EXPECT_EQ(Text(c.Get()), u"1.234,50 EUR-");
}

TEST(PLCurrencyTest, SetValueRoundsToTheNearestHundredthIn64Bits) {
    const std::pair<double, Amount> rows[] = {{0.29, {false, 0, 29}},
                                              {1.005, {false, 1, 0}},  // 1.00499999... below the half
                                              {-999999999999999872.0, {true, 999999999999999872ULL, 0}}};
    for (const auto& [value, expected] : rows) EXPECT_EQ(Read(Of(value).Get()), expected) << value;
    for (const double value : {std::nan(""), -1e18, 1e19}) {
        auto c = Of(77.77);
        EXPECT_EQ(After(c->SetValue(value), c.Get(), E_INVALIDARG), kBefore) << value;
    }
    auto c = Of(-5.25);
    LONG units = 0, fraction = 0;
    double value = 0;
    EXPECT_HR(c->GetValue(&units, &fraction), S_OK);
    EXPECT_EQ(std::pair(units, fraction), std::pair(-5, 25));
    EXPECT_HR(c->GetValue(&value), S_OK);
    EXPECT_DOUBLE_EQ(value, -5.25001);
    ASSERT_HR(c->SetValue(5e9), S_OK);
    EXPECT_HR(c->GetUnits(&units), E_FAIL);
    EXPECT_EQ(After(c->SetFraction(0.29f), c.Get()), (Amount{false, 5000000000ULL, 29}));
    EXPECT_EQ(After(c->SetFraction(0.999f), c.Get()), (Amount{false, 5000000001ULL, 0}));
}

TEST(PLCurrencyTest, FormattedStringScanHasADigitLimit) {
    auto c = Of(77.77);
    EXPECT_HR(c->SetValueFromFormattedString(u"-1234567890123456789012345.00", 0, 0, nullptr, u"."), E_FAIL);
    EXPECT_EQ(Read(c.Get()), kBefore);
    EXPECT_EQ(After(c->SetValueFromFormattedString(u"(12<>3)", 0, 0, nullptr, u"<>"), c.Get()), (Amount{true, 12, 30}));
    EXPECT_EQ(After(c->SetValueFromFormattedString(u"999999999999999999", 0, 0, nullptr, u"."), c.Get()),
              (Amount{false, 999999999999999999ULL, 0}));
}

TEST(PLCurrencyTest, FormatScalesToThePlacesAndChecksItsArguments) {
    // Value, mask, group, places, text: rounded half away from zero at the places, not at the
    // hundredths' digits; the mask gives the orders (each is checked with the formatter itself),
    // for negative amounts from bits 0x8, 0x10, 0x20, 0x100 and 0x200: each placement of the sign,
    // with and without symbol-after and space bits.
    const std::tuple<double, LONG, LONG, LONG, const char16_t*> rows[] = {{1.05, 0, 3, 1, u"$1.1"},
                                                                          {0.05, 0, 3, 3, u"$0.050"},
                                                                          {1234567.5, 0x4, 3, 2, u"$ 1,234,567.50"},
                                                                          {1234567.5, 0x6, 0, 2, u"1234567.50 $"},
                                                                          {-1.1, 0x338, 3, 2, u"1.10 $-"},
                                                                          {-1.1, 0x300, 3, 2, u"(1.10 $)"},
                                                                          {-1.1, 0x308, 3, 2, u"-1.10 $"},
                                                                          {-1.1, 0x228, 3, 2, u"-$ 1.10"},
                                                                          {-1.1, 0x030, 3, 2, u"($1.10)"}};
    WCHAR buffer[64];
    for (const auto& [value, mask, group, places, expected] : rows)
        EXPECT_EQ(Wrote(Of(value)->Format(mask, u"$", u",", u".", group, places, buffer, 64), buffer), expected);
    auto c = Of(1234.5);
    EXPECT_TRUE(Reports(c->Format(0, u"$", u",", u".", 10, 2, buffer, 64), E_INVALIDARG,
                        u"Group digits (10) must be a value between 0 and 9"));
    // The sign after the number with the symbol before it cannot take the minus inside.
    for (const LONG mask : {0x38, 0x238}) EXPECT_HR(c->Format(mask, u"$", u",", u".", 3, 2, buffer, 64), E_INVALIDARG);
    EXPECT_HR(c->Format(0, u"$", u",", u".", 3, 2, buffer, 9), kBufferTooSmall);
    EXPECT_EQ(buffer[0], 0);
    // Exactly the room needed.
    EXPECT_EQ(Wrote(c->Format(0, u"$", u",", u".", 3, 2, buffer, 10), buffer), u"$1,234.50");
    for (const auto& [value, text] : {std::pair{1234.5, u"1234.50"}, {-1234.5, u"(1234.50)"}})
        EXPECT_EQ(Wrote(Of(value)->GetUnformattedString(buffer, 64), buffer), text);
    // The registered class is creatable; its text, too, must fit.
    auto created = kdtest::New<IPLCurrency>(CLSID_PLCurrency);
    ASSERT_HR(created->SetValue(-1234.5), S_OK);
    EXPECT_HR(created->GetString(buffer, 4), kBufferTooSmall);
}

// Getters and formatting write nothing, so threads can share a currency that none changes.
TEST(PLCurrencyTest, TwoThreadsReadOneCurrency) {
    auto c = Of(-1234.5);
    auto bag = kdtest::BagOf({{u"GroupDigits", 3},
                              {u"DecimalPlaces", 2},
                              {u"CurrencyMask", 0x33A},
                              {u"CurrencySymbol", u"EUR"},
                              {u"DecimalSymbol", u","},
                              {u"GroupSymbol", u"."}});
    ASSERT_HR(c->SetCurrencyFormatProperties(bag.Get()), S_OK);
    auto read = [&c] {
        WCHAR buffer[64];
        for (int i = 0; i < 100; ++i) {
            EXPECT_EQ(Text(c.Get()), u"1.234,50 EUR-");
            EXPECT_EQ(Wrote(c->GetUnformattedString(buffer, 64), buffer), u"(1234.50)");
            EXPECT_EQ(Wrote(c->Format(0x308, u"$", u",", u".", 3, 2, buffer, 64), buffer), u"-1,234.50 $");
            EXPECT_EQ(Read(c.Get()), (Amount{true, 1234, 50}));
        }
    };
    std::thread other(read);
    read();
    other.join();
}

TEST(PLCurrencyTest, Compare) {
    // a, b, order of a against b
    // The operators themselves are the date-time's; here, the order of two amounts.
    const std::tuple<double, double, int> rows[] = {{-1.5, -1.25, -1}, {3.1, 3.1, 0}, {-0.01, 0.0, -1}};
    for (const auto& [a, b, order] : rows) {
        BOOL less = -1, greater = -1;
        EXPECT_HR(Of(a)->Compare(Of(b).Get(), PLCompareLess, &less), S_OK);
        EXPECT_HR(Of(a)->Compare(Of(b).Get(), PLCompareGreater, &greater), S_OK);
        EXPECT_EQ(std::pair(less, greater), std::pair(BOOL{order < 0}, BOOL{order > 0})) << a << " " << b;
    }
    BOOL result = FALSE;
    EXPECT_TRUE(Reports(Of(0)->Compare(Of(0).Get(), 6, &result), E_INVALIDARG, u"Invalid operator #(6) specified"));
}

// What our own formatter writes in each locale reads back, through the free-text parser and
// through the digit scan: the blanks of ICU's data (U+00A0, U+202F) included.
TEST(PLCurrencyTest, LocaleRoundTrips) {
    // Negatives in parentheses; blanks in the group, comma decimal.
    for (const LCID locale : {0x0409u, 0x040Cu}) {
        const auto separator = kd::platform::LocaleText(locale, kd::platform::LocaleItem::MonetaryDecimalSeparator);
        ASSERT_TRUE(separator) << std::hex << locale;
        for (const double value : {0.0, -0.5, -1234567.89, 999999999999.99}) {
            auto c = Of(value, locale), back = Of(0, locale), scanned = Of(0, locale);
            Amount expected = Read(c.Get());
            const std::u16string text = Text(c.Get());
            SCOPED_TRACE(testing::Message() << std::hex << "locale 0x" << locale << std::dec << " value " << value);
            EXPECT_EQ(After(back->SetValueFromString(text.c_str()), back.Get()), expected);
            EXPECT_EQ(After(scanned->SetValueFromFormattedString(text.c_str(), 0, 0, nullptr, separator->c_str()),
                            scanned.Get()),
                      expected);
        }
    }
}

// Every method refuses a missing argument or place for its result (E_POINTER) and a buffer
// with no room (E_INVALIDARG), and the amount stays as it was.
TEST(PLCurrencyTest, MissingArgumentsAreRefusedAndChangeNothing) {
    auto c = Of(-12.5);
    const Amount before = Read(c.Get());
    LONG units = 0;
    WCHAR none[1];
    for (const HRESULT hr : {c->SetValueFromString(nullptr), c->SetValueFromFormattedString(nullptr, 0, 0, u"$", u"."),
                             c->GetValue(&units, nullptr), c->GetValue(nullptr, nullptr), c->GetUnits(nullptr),
                             c->Compare(nullptr, 0, nullptr), c->Compare(c.Get(), 0, nullptr),
                             c->Format(0, u"$", u",", u".", 3, 2, nullptr, 8), c->GetString(nullptr, 8),
                             c->GetUnformattedString(nullptr, 8), c->SetCurrencyFormatProperties(nullptr),
                             static_cast<CPLCurrency*>(c.Get())->GetNegativeOrderFromFormat(0, nullptr),
                             PLCreateCurrency(0x0409, nullptr)})
        EXPECT_HR(hr, E_POINTER);
    for (const HRESULT hr :
         {c->Format(0, u"$", u",", u".", 3, 2, none, 0), c->GetString(none, 0), c->GetUnformattedString(none, 0)})
        EXPECT_HR(hr, E_INVALIDARG);
    EXPECT_EQ(Read(c.Get()), before);
}

}  // namespace
