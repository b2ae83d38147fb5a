// Month and weekday names of date-times from the language companion (found on this program's
// library path), and the English names when it cannot be loaded.
#include <gtest/gtest.h>

#include <string>

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
    PLComPtr<IPLDateTime> dt;
};

TEST_F(DateTimeNamesTest, NamesInTheDefaultLanguageReadBackIgnoringCase) {
    struct Row {
        LONG language;
        const char16_t* written;  // "%B %A|%b %a" of Tuesday, 5 March 2024
        const char16_t* typed;    // read back with "%B %d %y" and "%b %d %y"
    } const rows[] = {
        {0x0409, u"March Tuesday|MAR TUE", u"mArCh"},
        {0x0407, u"M\u00E4rz Dienstag|M\u00C4R DIE", u"M\u00C4RZ"},
    };
    for (const Row& r : rows) {
        PLSetDefaultLanguage(r.language);
        ASSERT_EQ(dt->Initialize(3, 5, 2024, 0, 0, 0), S_OK);
        EXPECT_EQ(Fmt(u"%B %A|%b %a"), r.written);
        for (const char16_t* mask : {u"%B %d %y", u"%b %d %y"}) {
            ASSERT_EQ(dt->InitializeDate(1, 1, 2000), S_OK);
            const std::u16string text = Fmt(mask);
            ASSERT_EQ(dt->InitializeFromString(text.c_str(), mask), S_OK);
            LONG month = 0;
            dt->GetMonth(&month);
            EXPECT_EQ(month, 1);
        }
        ASSERT_EQ(dt->InitializeFromString((std::u16string(r.typed) + u" 5 2024").c_str(), u"%B %d %y"), S_OK);
        LONG month = 0;
        dt->GetMonth(&month);
        EXPECT_EQ(month, 3);
    }
}

TEST_F(DateTimeNamesTest, EnglishNamesWithoutTheCompanion) {
    PLSetDefaultLanguage(0x0407);
    PLSetLanguageResourceLibraryName(u"kdlocale_absent");
    ASSERT_EQ(dt->Initialize(12, 31, 2023, 0, 0, 0), S_OK);
    EXPECT_EQ(Fmt(u"%B %A %b %a"), u"December Sunday DEC SUN");
}

}  // namespace
