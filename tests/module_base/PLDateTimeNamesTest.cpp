// Month and weekday names of date-times from the language companion (found on this program's
// library path), and the English names when it cannot be loaded.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include <kdtrace/datetime.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDateTime.h"
#include "module_base/PLResourceString.h"

namespace {

class DateTimeNamesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(PLCreateDateTime(0x0409, dt.Put()), S_OK); }
    void TearDown() override {
        PLSetDefaultLanguage(9);
        PLSetLanguageResourceLibraryName(nullptr);
    }
    std::u16string Fmt(const char16_t* mask) {
        WCHAR buffer[128];
        return dt->Format(mask, buffer, 128) < 0 ? u"<failed>" : std::u16string(buffer);
    }
    LONG Month() {
        LONG month = 0;
        EXPECT_EQ(dt->GetMonth(&month), S_OK);
        return month;
    }
    PLComPtr<IPLDateTime> dt;
};

// Without the companion (an absent library name) the names are English in every language.
TEST_F(DateTimeNamesTest, NamesInTheDefaultLanguageReadBackIgnoringCase) {
    // Language, companion library (null: the default), "%B %A|%b %a" of Tuesday, 5 March 2024,
    // and a month name typed in other case to read back with "%B %d %y".
    const std::tuple<LONG, const char16_t*, const char16_t*, const char16_t*> rows[] = {
        {0x0409, nullptr, u"March Tuesday|MAR TUE", u"mArCh"},
        {0x0407, nullptr, u"M\u00E4rz Dienstag|M\u00C4R DIE", u"M\u00C4RZ"},
        {0x0407, u"kdlocale_absent", u"March Tuesday|MAR TUE", u"MARCH"}};
    for (const auto& [language, library, written, typed] : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << language << (library ? " without the companion" : ""));
        PLSetDefaultLanguage(language);
        PLSetLanguageResourceLibraryName(library);
        ASSERT_EQ(dt->Initialize(3, 5, 2024, 0, 0, 0), S_OK);
        EXPECT_EQ(Fmt(u"%B %A|%b %a"), written);
        for (const char16_t* mask : {u"%B %d %y", u"%b %d %y"}) {
            ASSERT_EQ(dt->InitializeDate(1, 1, 2000), S_OK);
            ASSERT_EQ(dt->InitializeFromString(Fmt(mask).c_str(), mask), S_OK);
            EXPECT_EQ(Month(), 1);
        }
        ASSERT_EQ(dt->InitializeFromString((std::u16string(typed) + u" 5 2024").c_str(), u"%B %d %y"), S_OK);
        EXPECT_EQ(Month(), 3);
    }
}

}  // namespace
