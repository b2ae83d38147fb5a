#include "platform/Language.h"

#include <gtest/gtest.h>

#include <string>

#include "support/DiagReceiver.h"

namespace {

using namespace kd::platform;

TEST(LanguageTest, TheSystemLanguageComesFromTheLocaleVariablesInOrder) {
    kdtest::ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), lang("LANG", nullptr);
    EXPECT_EQ(SystemDefaultLanguageId(), 0x0409u);  // nothing set
    ::setenv("LANG", "fr_FR.UTF-8", 1);
    EXPECT_EQ(SystemDefaultLanguageId(), 0x040Cu);
    ::setenv("LC_MESSAGES", "de_DE@euro", 1);
    EXPECT_EQ(SystemDefaultLanguageId(), 0x0407u);
    ::setenv("LC_ALL", "ja_JP.eucJP", 1);
    EXPECT_EQ(SystemDefaultLanguageId(), 0x0411u);
    ::setenv("LC_ALL", "", 1);  // empty counts as unset
    EXPECT_EQ(SystemDefaultLanguageId(), 0x0407u);
    // The C and POSIX locales and a value with no name before its codeset are English.
    for (const char* value : {"C", "POSIX.UTF-8", ".UTF-8", "C@euro"}) {
        ::setenv("LC_ALL", value, 1);
        EXPECT_EQ(SystemDefaultLanguageId(), 0x0409u) << value;
    }
}

TEST(ModuleLocaleTest, AnUnknownLocaleKeepsThePreviousOneAndTheHostLocaleIsUntouched) {
    const std::string hostLocale = ::setlocale(LC_ALL, nullptr);
    ASSERT_TRUE(SetModuleLocale("C.UTF-8"));
    EXPECT_EQ(ModuleLocaleName(), "C.UTF-8");
    const locale_t made = ModuleLocale();
    EXPECT_FALSE(SetModuleLocale("xx_YY.UTF-8"));
    EXPECT_EQ(ModuleLocaleName(), "C.UTF-8");
    EXPECT_EQ(ModuleLocale(), made);
    EXPECT_EQ(std::string(::setlocale(LC_ALL, nullptr)), hostLocale);
}

}  // namespace
