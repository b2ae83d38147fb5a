#include <gtest/gtest.h>

#include <string>

#include <kdtrace/maskedstring.h>

#include "module_base/PLComObject.h"
#include "support/ErrorList.h"
#include "support/HResult.h"
#include "support/PropertyBagOf.h"

namespace {

constexpr const char16_t* kPhoneMask = u"000S000S0000";
constexpr const char16_t* kPhoneStatic = u"   -   -    ";

PLComPtr<IPLMaskedStringPriv> New(const char16_t* mask = nullptr, const char16_t* value = nullptr,
                                  const char16_t* statics = nullptr) {
    PLComPtr<IPLMaskedStringPriv> s;
    EXPECT_HR(PLCreateInstance(CLSID_PLMaskedString, IID_IPLMaskedStringPriv, s.PutVoid()), S_OK);
    if (mask != nullptr) {
        EXPECT_HR(s->SetMask(mask, statics ? statics : mask == kPhoneMask ? u"--" : u"", PLMaskStyleListed), S_OK);
    }
    if (value != nullptr) {
        EXPECT_HR(s->SetValue(value, PLMaskedFormNormal), S_OK);
    }
    return s;
}

std::u16string Get(IPLMaskedString* s, LONG form) {
    WCHAR buffer[64];
    return s->GetString(buffer, 64, form) < 0 ? u"<failed>" : std::u16string(buffer);
}

// The messages recorded on this thread, oldest first (the list is emptied).
std::vector<std::u16string> Messages() {
    std::vector<std::u16string> out;
    for (const auto& e : kdtest::TakeThreadErrors()) out.push_back(e.message);
    return out;
}
bool Recorded(const char16_t* message) {
    for (const auto& m : Messages())
        if (m == message) return true;
    return false;
}

TEST(PLMaskedStringTest, MaskStylesAndRendering) {
    auto positional = New();
    ASSERT_HR(positional->SetMask(u"000s000S0000", u"   -   -    ", PLMaskStylePositional), S_OK);
    auto listed = New(kPhoneMask);
    for (IPLMaskedString* s :
         {static_cast<IPLMaskedString*>(positional.Get()), static_cast<IPLMaskedString*>(listed.Get())}) {
        WCHAR buffer[16];
        EXPECT_HR(s->GetMask(buffer, 16), S_OK);
        EXPECT_EQ(std::u16string(buffer), kPhoneMask);
        EXPECT_HR(s->GetStatic(buffer, 16), S_OK);
        EXPECT_EQ(std::u16string(buffer), kPhoneStatic);
        EXPECT_HR(s->GetStatic(buffer, 4), S_FALSE);
        EXPECT_EQ(std::u16string(buffer), u"   ");
        ASSERT_HR(s->SetValue(u"5551234567", PLMaskedFormNormal), S_OK);
        EXPECT_EQ(Get(s, PLMaskedFormMasked), u"555-123-4567");
        EXPECT_EQ(Get(s, PLMaskedFormNormal), u"5551234567");
    }
    const struct {
        const char16_t *mask, *statics;
        LONG style;
        HRESULT hr;
        const char16_t* message;
    } bad[] = {
        {u"000", u"  ", 0, E_INVALIDARG, u"Mask string and static string must be the same length in positional format"},
        {u"0S0S", u"-", 1, E_INVALIDARG, u"Unexpected end of static string"},
        {u"000", u"   ", 2, E_INVALIDARG, u"Invalid format"},
    };
    for (const auto& row : bad) {
        EXPECT_HR(listed->SetMask(row.mask, row.statics, row.style), row.hr);
        EXPECT_TRUE(Recorded(row.message)) << row.style;
    }
    EXPECT_EQ(Get(listed.Get(), PLMaskedFormMasked), u"555-123-4567");  // nothing changed

    // Untyped positions show the fill character where the mask takes it, else a blank.
    auto s = New(u"0XX", u"1");
    ASSERT_HR(s->SetFillCharacter(u'_'), S_OK);
    EXPECT_EQ(Get(s.Get(), PLMaskedFormMasked), u"1__");
    ASSERT_HR(s->SetMask(u"000", u"", 1), S_OK);
    EXPECT_EQ(Get(s.Get(), PLMaskedFormMasked), u"1  ");
    LONG length = 0;
    EXPECT_HR(s->GetStringLength(&length, PLMaskedFormMasked), S_OK);
    EXPECT_EQ(length, 3);
    EXPECT_HR(s->GetStringLength(&length, 3), E_INVALIDARG);
    EXPECT_TRUE(Recorded(u"Invalid format"));
}

TEST(PLMaskedStringTest, IndexConversion) {
    auto s = New(kPhoneMask);
    const std::pair<LONG, LONG> normalToMasked[] = {{0, 0}, {3, 4}, {6, 8}, {10, 12}};
    for (const auto& [n, m] : normalToMasked) {
        LONG got = -1;
        EXPECT_HR(s->NormalIndexToMaskedIndex(n, &got), S_OK);
        EXPECT_EQ(got, m) << n;
    }
    const std::pair<LONG, LONG> maskedToNormal[] = {{0, 0}, {3, 3}, {4, 3}, {7, 6}, {11, 9}};
    for (const auto& [m, n] : maskedToNormal) {
        LONG got = -1;
        EXPECT_HR(s->MaskedIndexToNormalIndex(m, &got), S_OK);
        EXPECT_EQ(got, n) << m;
    }
    LONG got = 0;
    EXPECT_HR(s->NormalIndexToMaskedIndex(11, &got), E_INVALIDARG);
    EXPECT_TRUE(Recorded(u"Invalid index"));
    EXPECT_HR(s->MaskedIndexToNormalIndex(12, &got), E_FAIL);
    EXPECT_TRUE(Messages().empty());
    auto trailing = New();
    ASSERT_HR(trailing->SetMask(u"00S", u"  -", PLMaskStylePositional), S_OK);
    EXPECT_HR(trailing->MaskedIndexToNormalIndex(2, &got), E_INVALIDARG);
    EXPECT_TRUE(Recorded(u"Invalid index"));
}

TEST(PLMaskedStringTest, Validation) {
    auto s = New();
    ASSERT_HR(s->SetMask(u"09AXS0", u"    / ", 0), S_OK);
    const struct {
        LONG index;
        WCHAR c;
        LONG form;
        BOOL valid;
    } chars[] = {
        {0, u'7', 1, TRUE},  {0, u'-', 1, FALSE},     {0, u' ', 1, TRUE},  {1, u'+', 1, TRUE},  {1, u'a', 1, FALSE},
        {2, u'q', 1, TRUE},  {2, u'\u00E9', 1, TRUE}, {2, u'5', 1, FALSE}, {3, u'#', 1, TRUE},  {4, u'/', 1, TRUE},
        {4, u'-', 1, FALSE}, {6, u'1', 1, FALSE},     {4, u'1', 0, TRUE},  {5, u'1', 0, FALSE}, {-1, u'1', 0, FALSE},
    };
    for (const auto& row : chars) {
        BOOL valid = -1;
        EXPECT_HR(s->ValidateChar(row.index, row.c, &valid, row.form), S_OK);
        EXPECT_EQ(valid, row.valid) << row.index << " form " << row.form;
    }
    const struct {
        const char16_t* text;
        LONG form;
        BOOL valid;
    } strings[] = {
        {u"", 0, TRUE},     {u"1+x#", 0, TRUE},   {u"1+x#2", 0, TRUE},   {u"1+x#22", 0, FALSE},
        {u"1+5", 0, FALSE}, {u"1+x#/2", 1, TRUE}, {u"1+x#-2", 1, FALSE}, {u"1+x#/2 ", 1, FALSE},
    };
    for (std::size_t i = 0; i < std::size(strings); ++i) {
        BOOL valid = -1;
        EXPECT_HR(s->ValidateString(strings[i].text, &valid, strings[i].form), S_OK);
        EXPECT_EQ(valid, strings[i].valid) << "row " << i;
    }
    ASSERT_HR(s->SetFullFieldEntry(TRUE), S_OK);
    BOOL valid = TRUE;
    EXPECT_HR(s->ValidateString(u"1+x#", &valid, 0), S_OK);
    EXPECT_EQ(valid, FALSE);
    // A mask character outside the mask language.
    auto unknown = New(u"0B");
    EXPECT_HR(unknown->ValidateChar(1, u'1', &valid, 1), E_FAIL);
    EXPECT_EQ(Messages(),
              (std::vector<std::u16string>{u"Invalid character in mask", u"Failed to validate masked character"}));
}

TEST(PLMaskedStringTest, SettingValues) {
    auto s = New(kPhoneMask, u"555");
    EXPECT_HR(s->SetValue(u"555x", PLMaskedFormNormal), E_FAIL);
    EXPECT_TRUE(Recorded(u"Invalid character 'x' at index 4"));
    EXPECT_HR(s->SetValue(u"555-12x", PLMaskedFormMasked), E_FAIL);
    EXPECT_TRUE(Recorded(u"Invalid character 'x' at index 6"));
    EXPECT_HR(s->SetValue(u"555/", PLMaskedFormMasked), E_FAIL);
    EXPECT_EQ(Get(s.Get(), PLMaskedFormNormal), u"555");
    ASSERT_HR(s->SetValue(u"555-12", PLMaskedFormMasked), S_OK);
    EXPECT_EQ(Get(s.Get(), PLMaskedFormNormal), u"55512");

    ASSERT_HR(s->SetFullFieldEntry(TRUE), S_OK);
    EXPECT_HR(s->SetValue(u"555", PLMaskedFormNormal), E_FAIL);
    EXPECT_TRUE(Recorded(u"Full field has not been entered"));
    EXPECT_EQ(Get(s.Get(), PLMaskedFormNormal), u"55512");
    EXPECT_HR(s->SetValue(u"555", PLMaskedFormNormalPartial), S_OK);
    EXPECT_HR(s->SetValue(u"555-1", PLMaskedFormMasked), E_FAIL);
    EXPECT_EQ(Get(s.Get(), PLMaskedFormNormal), u"555");
    ASSERT_HR(s->SetMask(kPhoneMask, u"--", 1), S_OK);  // turns full-field entry off
    BOOL full = TRUE;
    EXPECT_HR(s->GetFullFieldEntry(&full), S_OK);
    EXPECT_EQ(full, FALSE);

    // SetAt fills the positions before it; a static position is left alone.
    ASSERT_HR(s->SetFillCharacter(u'_'), S_OK);
    EXPECT_HR(s->SetAt(3, u'x', PLMaskedFormMasked), S_FALSE);
    EXPECT_EQ(Get(s.Get(), PLMaskedFormMasked), u"555-   -    ");
    EXPECT_HR(s->SetAt(9, u'7', PLMaskedFormMasked), S_OK);
    EXPECT_EQ(Get(s.Get(), PLMaskedFormMasked), u"555-   - 7  ");
    EXPECT_HR(s->SetAt(0, u'4', PLMaskedFormNormal), S_OK);
    EXPECT_HR(s->SetAt(10, u'4', PLMaskedFormNormal), E_INVALIDARG);
    EXPECT_HR(s->SetAt(12, u'4', PLMaskedFormMasked), E_INVALIDARG);
    EXPECT_EQ(Get(s.Get(), PLMaskedFormNormal), u"455    7");
    // Filling up to the index stops at a mask character outside the language: nothing changes.
    auto unknown = New(u"0B0");
    EXPECT_HR(unknown->SetAt(2, u'2', PLMaskedFormMasked), E_FAIL);
    EXPECT_EQ(Get(unknown.Get(), PLMaskedFormNormal), u"");
    auto plain = New(nullptr, u"ab");
    ASSERT_HR(plain->SetFillCharacter(u'.'), S_OK);
    EXPECT_HR(plain->SetAt(4, u'z', PLMaskedFormNormal), S_OK);
    EXPECT_EQ(Get(plain.Get(), PLMaskedFormMasked), u"ab..z");
}

TEST(PLMaskedStringTest, InsertShiftsWithinARun) {
    const struct {
        LONG index, form;
        WCHAR c;
        const char16_t* expected;
    } rows[] = {
        {1, 1, u'9', u"595-123-4567"},  // the run's last character is dropped
        {3, 1, u'9', u"555-912-4567"},  // a static position moves on to the next input position
        {3, 0, u'9', u"555-912-4567"},
        {11, 1, u'9', u"555-123-4569"},
    };
    for (const auto& row : rows) {
        auto s = New(kPhoneMask, u"5551234567");
        EXPECT_HR(s->InsertAt(row.index, row.c, row.form), S_OK);
        EXPECT_EQ(Get(s.Get(), PLMaskedFormMasked), row.expected) << row.index;
    }
    auto s = New(kPhoneMask, u"5551234567");
    EXPECT_HR(s->InsertAt(0, u'x', PLMaskedFormMasked), E_FAIL);
    EXPECT_TRUE(Recorded(u"Failed to set value"));
    EXPECT_HR(s->InsertAt(12, u'1', PLMaskedFormMasked), E_INVALIDARG);
    EXPECT_HR(s->InsertAt(10, u'1', PLMaskedFormNormal), E_INVALIDARG);
    EXPECT_EQ(Get(s.Get(), PLMaskedFormNormal), u"5551234567");
    auto plain = New(nullptr, u"ac");
    EXPECT_HR(plain->InsertAt(1, u'b', PLMaskedFormNormal), S_OK);
    EXPECT_HR(plain->InsertAt(3, u'd', PLMaskedFormMasked), S_OK);
    EXPECT_HR(plain->InsertAt(5, u'e', PLMaskedFormMasked), E_INVALIDARG);
    EXPECT_EQ(Get(plain.Get(), PLMaskedFormNormal), u"abcd");
}

TEST(PLMaskedStringTest, DeleteMovesFollowingCharactersWithoutLosingAny) {
    const struct {
        const char16_t *mask, *value;
        LONG start, end, form, mode;
        const char16_t* expected;  // the masked string after
        const char16_t* statics = nullptr;
    } rows[] = {
        {kPhoneMask, u"5551234567", 4, 5, 1, 0, u"555-3  -4567"},
        {kPhoneMask, u"5551234567", 4, 5, 1, 1, u"555-  3-4567"},
        {kPhoneMask, u"5551234567", 4, 5, 1, 2, u"555-345-67  "},
        {kPhoneMask, u"5551234567", 3, 4, 0, 0, u"555-3  -4567"},
        {kPhoneMask, u"5551234567", 10, 11, 1, 0, u"555-123-45  "},
        // Each character would be copied onto itself and then cleared: the value stays.
        {u"A00A", u"x12y", 0, 0, 1, 0, u" 12y"},
        {u"A00A", u"x12y", 0, 0, 1, 2, u" 12y"},
        // A static position that takes the moved character is passed over, not written.
        {u"AS0", u"x5", 0, 0, 1, 2, u" 55", u"5"},
        {nullptr, u"hello", 1, 2, 0, 0, u"hlo"},
    };
    for (const auto& row : rows) {
        auto s = New(row.mask, row.value, row.statics);
        EXPECT_HR(s->DeleteSubstring(row.start, row.end, row.form, row.mode), S_OK);
        EXPECT_EQ(Get(s.Get(), PLMaskedFormMasked), row.expected)
            << row.start << "-" << row.end << " mode " << row.mode;
    }
    const struct {
        const char16_t* mask;
        LONG start, end, form;
        const char16_t* message;
    } bad[] = {
        {kPhoneMask, 5, 4, 1, u"Invalid start index"}, {kPhoneMask, -1, 4, 0, u"Invalid start index"},
        {kPhoneMask, 0, 12, 1, u"Invalid end index"},  {nullptr, 3, 2, 1, u"Invalid start index"},
        {nullptr, 0, 5, 0, u"Invalid end index"},
    };
    for (const auto& row : bad) {
        auto s = New(row.mask, row.mask != nullptr ? u"5551234567" : u"hello");
        const std::u16string before = Get(s.Get(), PLMaskedFormNormal);
        EXPECT_HR(s->DeleteSubstring(row.start, row.end, row.form, 0), E_INVALIDARG);
        EXPECT_TRUE(Recorded(row.message)) << row.start << "-" << row.end;
        EXPECT_EQ(Get(s.Get(), PLMaskedFormNormal), before);
    }
}

TEST(PLMaskedStringTest, SetMaskExRequiresEachName) {
    auto s = New(u"00");
    const char16_t* names[] = {u"mask", u"static", u"style"};
    const char16_t* messages[] = {u"'Mask' property not set", u"'Static' property not set",
                                  u"'Style' property not set"};
    for (int missing = 0; missing < 3; ++missing) {
        auto bag = kdtest::BagOf({});
        if (missing != 0) AddStringToPropertyBag(bag.Get(), names[0], kPhoneMask);
        if (missing != 1) AddStringToPropertyBag(bag.Get(), names[1], u"--");
        if (missing != 2) AddLongToPropertyBag(bag.Get(), names[2], 1);
        EXPECT_HR(s->SetMaskEx(bag.Get()), E_FAIL);
        EXPECT_EQ(Messages(), std::vector<std::u16string>{messages[missing]});
        WCHAR buffer[16];
        EXPECT_HR(s->GetMask(buffer, 16), S_OK);
        EXPECT_EQ(std::u16string(buffer), u"00");
    }
    auto bag = kdtest::BagOf(
        {{u"MASK", kPhoneMask}, {u"static", u"--"}, {u"style", 1}, {u"fullField", true}, {u"fillChar", 0x1005F}});
    EXPECT_HR(s->SetMaskEx(bag.Get()), S_OK);
    BOOL full = FALSE;
    WCHAR fill = 0;
    EXPECT_HR(s->GetFullFieldEntry(&full), S_OK);
    EXPECT_HR(s->GetFillCharacter(&fill), S_OK);
    EXPECT_EQ(full, TRUE);
    EXPECT_EQ(fill, u'_');
    EXPECT_HR(s->SetMaskEx(nullptr), E_POINTER);
}

}  // namespace
