#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <tuple>

#include <kdtrace/maskedstring.h>

#include "support/Process.h"
#include "support/PropertyBagOf.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

constexpr const char16_t* kPhoneMask = u"000S000S0000";
constexpr const char16_t* kPhoneStatic = u"   -   -    ";
constexpr LONG kNormal = PLMaskedFormNormal, kMasked = PLMaskedFormMasked;

PLComPtr<IPLMaskedStringPriv> New(const char16_t* mask = nullptr, const char16_t* value = nullptr,
                                  const char16_t* statics = nullptr, LONG style = PLMaskStyleListed, WCHAR fill = 0) {
    auto s = kdtest::New<IPLMaskedStringPriv>(CLSID_PLMaskedString);
    const char16_t* fixed = statics ? statics : mask == kPhoneMask ? u"--" : u"";
    EXPECT_HR(mask != nullptr ? s->SetMask(mask, fixed, style) : S_OK, S_OK);
    EXPECT_HR(fill != 0 ? s->SetFillCharacter(fill) : S_OK, S_OK);
    EXPECT_HR(value != nullptr ? s->SetValue(value, kNormal) : S_OK, S_OK);
    return s;
}

std::u16string Get(IPLMaskedString* s, LONG form) {
    WCHAR buffer[64];
    return s->GetString(buffer, 64, form) < 0 ? u"<failed>" : std::u16string(buffer);
}

std::u16string MaskOf(IPLMaskedString* s, HRESULT (IPLMaskedString::*get)(WCHAR*, LONG), LONG size = 16) {
    WCHAR buffer[16];
    EXPECT_HR((s->*get)(buffer, size), size == 16 ? S_OK : S_FALSE);
    return buffer;
}

TEST(PLMaskedStringTest, MaskStylesAndRendering) {
    auto positional = New(u"000s000S0000", nullptr, kPhoneStatic, PLMaskStylePositional), listed = New(kPhoneMask);
    for (IPLMaskedString* s : {positional.Get(), listed.Get()}) {
        EXPECT_EQ(MaskOf(s, &IPLMaskedString::GetMask), kPhoneMask);
        EXPECT_EQ(MaskOf(s, &IPLMaskedString::GetStatic), kPhoneStatic);
        EXPECT_EQ(MaskOf(s, &IPLMaskedString::GetStatic, 4), u"   ");  // cut to fit
        ASSERT_HR(s->SetValue(u"5551234567", kNormal), S_OK);
        EXPECT_EQ(std::tuple(Get(s, kMasked), Get(s, kNormal)), std::tuple(u"555-123-4567", u"5551234567"));
        // A missing buffer or no room is refused by every getter, never reported as success.
        WCHAR one[1];
        using Row = std::tuple<WCHAR*, LONG, HRESULT>;
        for (const auto& [buffer, size, expected] : {Row{nullptr, 5, E_POINTER}, Row{one, 0, E_INVALIDARG}})
            for (const HRESULT hr :
                 {s->GetMask(buffer, size), s->GetStatic(buffer, size), s->GetString(buffer, size, kMasked)})
                EXPECT_HR(hr, expected);
    }
    // Mask, statics, style.
    for (const auto& [mask, statics, style] : {std::tuple{u"000", u"  ", 0}, {u"0S0S", u"-", 1}, {u"000", u"   ", 2}})
        EXPECT_HR(listed->SetMask(mask, statics, style), E_INVALIDARG) << style;
    EXPECT_EQ(Get(listed.Get(), kMasked), u"555-123-4567");  // nothing changed

    // Untyped positions show the fill character where the mask takes it, else a blank.
    auto s = New(u"0XX", u"1", nullptr, PLMaskStyleListed, u'_');
    EXPECT_EQ(Get(s.Get(), kMasked), u"1__");
    ASSERT_HR(s->SetMask(u"000", u"", 1), S_OK);
    EXPECT_EQ(Get(s.Get(), kMasked), u"1  ");
    LONG length = 0;
    EXPECT_HR(s->GetStringLength(&length, kMasked), S_OK);
    EXPECT_EQ(length, 3);
}

TEST(PLMaskedStringTest, IndexConversion) {
    auto s = New(kPhoneMask);
    const auto toMasked = &IPLMaskedString::NormalIndexToMaskedIndex,
               toNormal = &IPLMaskedString::MaskedIndexToNormalIndex;
    // Conversion, index, result, the index it gives.
    const std::tuple<decltype(toMasked), LONG, HRESULT, LONG> rows[] = {
        {toMasked, 0, S_OK, 0},  {toMasked, 3, S_OK, 4},           {toMasked, 6, S_OK, 8},    {toMasked, 10, S_OK, 12},
        {toNormal, 0, S_OK, 0},  {toNormal, 3, S_OK, 3},           {toNormal, 4, S_OK, 3},    {toNormal, 7, S_OK, 6},
        {toNormal, 11, S_OK, 9}, {toMasked, 11, E_INVALIDARG, -1}, {toNormal, 12, E_FAIL, -1}};
    LONG got = -1;
    for (const auto& [convert, from, hr, to] : rows) {
        got = -1;
        EXPECT_HR((s.Get()->*convert)(from, &got), hr) << from;
        EXPECT_EQ(got, to) << from;
    }
    EXPECT_HR(New(u"00S", nullptr, u"  -", PLMaskStylePositional)->MaskedIndexToNormalIndex(2, &got), E_INVALIDARG);
}

TEST(PLMaskedStringTest, Validation) {
    auto s = New(u"09AXS0", nullptr, u"    / ", PLMaskStylePositional);
    // Index, character, form, valid.
    const std::tuple<LONG, WCHAR, LONG, BOOL> chars[] = {
        {0, u'-', 1, FALSE}, {0, u' ', 1, TRUE},  {1, u'+', 1, TRUE}, {2, u'\u00E9', 1, TRUE},
        {4, u'/', 1, TRUE},  {6, u'1', 1, FALSE}, {4, u'1', 0, TRUE}, {-1, u'1', 0, FALSE}};
    for (const auto& [index, c, form, expected] : chars) {
        BOOL valid = -1;
        EXPECT_HR(s->ValidateChar(index, c, &valid, form), S_OK);
        EXPECT_EQ(valid, expected) << index << " form " << form;
    }
    // Text, form, valid.
    const std::tuple<const char16_t*, LONG, BOOL> strings[] = {
        {u"", 0, TRUE}, {u"1+x#2", 0, TRUE}, {u"1+x#22", 0, FALSE}, {u"1+5", 0, FALSE}, {u"1+x#-2", 1, FALSE}};
    for (const auto& [text, form, expected] : strings) {
        BOOL valid = -1;
        EXPECT_HR(s->ValidateString(text, &valid, form), S_OK);
        EXPECT_EQ(valid, expected) << testing::PrintToString(text);
    }
    ASSERT_HR(s->SetFullFieldEntry(TRUE), S_OK);
    BOOL valid = TRUE;
    EXPECT_HR(s->ValidateString(u"1+x#", &valid, 0), S_OK);
    EXPECT_EQ(valid, FALSE);
    // A mask character outside the mask language.
    EXPECT_HR(New(u"0B")->ValidateChar(1, u'1', &valid, 1), E_FAIL);
}

TEST(PLMaskedStringTest, SettingValues) {
    auto s = New(kPhoneMask, u"555");
    // Each step in turn: value, form, result, message (null: none checked), normal string after.
    const std::tuple<const char16_t*, LONG, HRESULT, const char16_t*, const char16_t*> steps[] = {
        {u"555x", kNormal, E_FAIL, u"Invalid character 'x' at index 4", u"555"},
        {u"555-12x", kMasked, E_FAIL, u"Invalid character 'x' at index 6", u"555"},
        {u"555/", kMasked, E_FAIL, nullptr, u"555"},
        {u"555-12", kMasked, S_OK, nullptr, u"55512"},
        {nullptr, 0, S_OK, nullptr, u"55512"},  // full-field entry on
        {u"555", kNormal, E_FAIL, nullptr, u"55512"},
        {u"555", PLMaskedFormNormalPartial, S_OK, nullptr, u"555"}};
    for (const auto& [value, form, hr, message, normal] : steps) {
        EXPECT_HR(value ? s->SetValue(value, form) : s->SetFullFieldEntry(TRUE), hr)
            << (value ? testing::PrintToString(std::u16string(value)) : "full field");
        EXPECT_TRUE(message == nullptr || kdtest::Recorded(message));
        EXPECT_EQ(Get(s.Get(), kNormal), normal);
    }
    // SetAt fills the positions before it; a static position is left alone (the string after the
    // next SetAt shows both).
    s = New(kPhoneMask, u"555", nullptr, PLMaskStyleListed, u'_');
    EXPECT_HR(s->SetAt(3, u'x', kMasked), S_FALSE);
    EXPECT_HR(s->SetAt(9, u'7', kMasked), S_OK);
    EXPECT_EQ(Get(s.Get(), kMasked), u"555-   - 7  ");
    EXPECT_HR(s->SetAt(0, u'4', kNormal), S_OK);
    EXPECT_HR(s->SetAt(10, u'4', kNormal), E_INVALIDARG);
    EXPECT_EQ(Get(s.Get(), kNormal), u"455    7");
    // Filling up to the index stops at a mask character outside the language: nothing changes.
    auto unknown = New(u"0B0");
    EXPECT_HR(unknown->SetAt(2, u'2', kMasked), E_FAIL);
    EXPECT_EQ(Get(unknown.Get(), kNormal), u"");
    // Each filled position gets what it accepts.
    auto mixed = New(u"X0X", nullptr, nullptr, PLMaskStyleListed, u'_');
    EXPECT_HR(mixed->SetAt(2, u'z', kNormal), S_OK);
    EXPECT_EQ(Get(mixed.Get(), kNormal), u"_ z");
    auto plain = New(nullptr, u"ab", nullptr, PLMaskStyleListed, u'.');
    EXPECT_HR(plain->SetAt(4, u'z', kNormal), S_OK);
    EXPECT_EQ(Get(plain.Get(), kMasked), u"ab..z");
}

// Without a mask the value is filled only up to a bounded length; one past its end is always
// taken. Index, result, length after.
TEST(PLMaskedStringTest, SetAtWithoutAMaskFillsABoundedLength) {
    const LONG max = PLMaskedStringMaxFilledLength;
    auto plain = New(nullptr, u"ab");
    const std::tuple<LONG, HRESULT, LONG> steps[] = {
        {0x7FFFFFFE, E_INVALIDARG, 2}, {max, E_INVALIDARG, 2},           {max - 1, S_OK, max},
        {max, S_OK, max + 1},          {max + 2, E_INVALIDARG, max + 1}, {3, S_OK, max + 1}};
    for (const auto& [index, hr, length] : steps) {
        EXPECT_HR(plain->SetAt(index, u'z', kNormal), hr) << index;
        LONG got = 0;
        EXPECT_HR(plain->GetStringLength(&got, kNormal), S_OK);
        EXPECT_EQ(got, length) << index;
    }
}

// A value that cannot grow reports E_OUTOFMEMORY, in a new process (whose heap has no free block
// large enough) with its address space nearly used up. The sanitizers end the process instead
// when operator new finds no memory.
TEST(PLMaskedStringTest, SetAtReportsOutOfMemory) {
    if (kdtest::kSanitized) GTEST_SKIP() << "a sanitizer's operator new ends the process on failure";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto big = New(nullptr, std::u16string(1 << 22, u'a').c_str());
            std::ifstream statm("/proc/self/statm");  // the pages of address space mapped
            rlim_t pages = 0;
            statm >> pages;
            rlimit space{};
            getrlimit(RLIMIT_AS, &space);
            space.rlim_cur = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (1 << 20);
            setrlimit(RLIMIT_AS, &space);
            std::_Exit(big->SetAt(1 << 22, u'b', kNormal) == E_OUTOFMEMORY ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(PLMaskedStringTest, InsertShiftsWithinARun) {
    // Index, character, result, masked after: the run's last character is dropped; a static
    // position moves on to the next input position; a refused character or index changes nothing.
    const std::tuple<LONG, WCHAR, HRESULT, const char16_t*> rows[] = {
        {1, u'9', S_OK, u"595-123-4567"},          {3, u'9', S_OK, u"555-912-4567"},
        {11, u'9', S_OK, u"555-123-4569"},         {0, u'x', E_FAIL, u"555-123-4567"},
        {12, u'1', E_INVALIDARG, u"555-123-4567"},
    };
    for (const auto& [index, c, hr, expected] : rows) {
        auto s = New(kPhoneMask, u"5551234567");
        EXPECT_HR(s->InsertAt(index, c, kMasked), hr);
        EXPECT_EQ(Get(s.Get(), kMasked), expected) << index;
    }
    auto plain = New(nullptr, u"ac");
    EXPECT_HR(plain->InsertAt(1, u'b', kNormal), S_OK);
    EXPECT_HR(plain->InsertAt(3, u'd', kMasked), S_OK);
    EXPECT_HR(plain->InsertAt(5, u'e', kMasked), E_INVALIDARG);
    EXPECT_EQ(Get(plain.Get(), kNormal), u"abcd");
}

TEST(PLMaskedStringTest, DeleteMovesFollowingCharactersWithoutLosingAny) {
    const struct {
        const char16_t *mask, *value;
        LONG start, end, form, mode;
        const char16_t* expected;  // the masked string after
        const char16_t* statics = nullptr;
        HRESULT hr = S_OK;
    } rows[] = {{kPhoneMask, u"5551234567", 4, 5, 1, 0, u"555-3  -4567"},
                {kPhoneMask, u"5551234567", 4, 5, 1, 2, u"555-345-67  "},
                // Each character would be copied onto itself and then cleared: the value stays.
                {u"A00A", u"x12y", 0, 0, 1, 0, u" 12y"},
                {u"A00A", u"x12y", 0, 0, 1, 2, u" 12y"},
                // A static position that takes the moved character is passed over, not written.
                {u"AS0", u"x5", 0, 0, 1, 2, u" 55", u"5"},
                {nullptr, u"hello", 1, 2, 0, 0, u"hlo"},
                // Start and end: before the start, past the end.
                {kPhoneMask, u"5551234567", 5, 4, 1, 0, u"555-123-4567", nullptr, E_INVALIDARG},
                {kPhoneMask, u"5551234567", 0, 12, 1, 0, u"555-123-4567", nullptr, E_INVALIDARG}};
    for (const auto& row : rows) {
        auto s = New(row.mask, row.value, row.statics);
        EXPECT_HR(s->DeleteSubstring(row.start, row.end, row.form, row.mode), row.hr);
        EXPECT_EQ(Get(s.Get(), kMasked), row.expected) << row.start << "-" << row.end << " mode " << row.mode;
    }
}

TEST(PLMaskedStringTest, SetMaskExRequiresEachName) {
    auto s = New(u"00");
    for (const auto& bag :
         {kdtest::BagOf({{u"static", u"--"}, {u"style", 1}}), kdtest::BagOf({{u"mask", kPhoneMask}, {u"style", 1}}),
          kdtest::BagOf({{u"mask", kPhoneMask}, {u"static", u"--"}})}) {
        EXPECT_HR(s->SetMaskEx(bag.Get()), E_FAIL);
        EXPECT_EQ(MaskOf(s.Get(), &IPLMaskedString::GetMask), u"00");
    }
    auto bag = kdtest::BagOf(
        {{u"MASK", kPhoneMask}, {u"static", u"--"}, {u"style", 1}, {u"fullField", true}, {u"fillChar", 0x1005F}});
    EXPECT_HR(s->SetMaskEx(bag.Get()), S_OK);
    EXPECT_EQ(kdtest::LongOf(s.Get(), &IPLMaskedStringPriv::GetFullFieldEntry), TRUE);
    EXPECT_EQ(kdtest::LongOf(s.Get(), &IPLMaskedString::GetFillCharacter), u'_');
}

// Every method refuses a missing argument or place for its result, and the value stays as it was.
TEST(PLMaskedStringTest, MissingArgumentsAreRefusedAndChangeNothing) {
    auto s = New(kPhoneMask, u"5551234567");
    for (const HRESULT hr : {s->SetMask(nullptr, u"", 1), s->GetStringLength(nullptr, kNormal),
                             s->ValidateString(nullptr, nullptr, kNormal), s->ValidateString(u"1", nullptr, kNormal),
                             s->ValidateChar(0, u'1', nullptr, kNormal), s->SetValue(nullptr, kNormal),
                             s->NormalIndexToMaskedIndex(0, nullptr), s->MaskedIndexToNormalIndex(0, nullptr),
                             s->SetMaskEx(nullptr), kdtest::As<IPLCloneable>(s)->Clone(IID_IPLMaskedString, nullptr)})
        EXPECT_HR(hr, E_POINTER);
    EXPECT_HR(s->SetMask(u"000", nullptr, 1), E_INVALIDARG);
    EXPECT_EQ(Get(s.Get(), kMasked), u"555-123-4567");
}

}  // namespace
