#include "platform/Language.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/DiagReceiver.h"

namespace {

using namespace kd::platform;

TEST(LanguageTest, TheSystemLanguageComesFromTheLocaleVariablesInOrder) {
    kdtest::ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr), lang("LANG", nullptr);
    EXPECT_EQ(SystemDefaultLanguageId(), 0x0409u);  // nothing set
    // Each variable set in turn (an empty one counts as unset); the C and POSIX locales and a value
    // with no name before its codeset are English.
    const std::tuple<const char*, const char*, std::uint32_t> steps[] = {
        {"LANG", "fr_FR.UTF-8", 0x040C},   {"LC_MESSAGES", "de_DE@euro", 0x0407},
        {"LC_ALL", "ja_JP.eucJP", 0x0411}, {"LC_ALL", "", 0x0407},
        {"LC_ALL", "C", 0x0409},           {"LC_ALL", "POSIX.UTF-8", 0x0409},
        {"LC_ALL", ".UTF-8", 0x0409},      {"LC_ALL", "C@euro", 0x0409}};
    for (const auto& [name, value, id] : steps) {
        ::setenv(name, value, 1);
        EXPECT_EQ(SystemDefaultLanguageId(), id) << name << "=" << value;
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
