// Resource strings from the language companion (found on this program's library path).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inc_module_base/PLError.h"
#include "inc_module_base/plversion.h"
#include "platform/text.h"

namespace {

std::string Narrow(std::u16string_view s) {
    return kd::platform::Utf16ToUtf8(s);
}

std::vector<std::string> ErrorMessages() {
    std::vector<std::string> out;
    IPLErrorInfo* list = nullptr;
    if (GetThreadError(&list) < 0) return out;
    LONG count = 0;
    list->GetCount(&count);
    for (LONG i = count - 1; i >= 0; --i) {
        IPLErrorItem* item = nullptr;
        if (list->GetItem(i, &item) < 0) continue;
        WCHAR text[2048];
        item->GetMessage(text, 2048);
        out.push_back(Narrow(text));
        item->Release();
    }
    list->Release();
    return out;
}

template <class... A>
std::string Format(DWORD id, const A&... args) {
    PLString text;
    EXPECT_EQ(PLFormatResourceString(text, id, args...), S_OK) << id;
    return Narrow(text.view());
}

template <class... A>
std::string FormatIn(LONG language, DWORD id, const A&... args) {
    PLString text;
    EXPECT_EQ(PLFormatResourceStringLang(text, id, language, args...), S_OK) << id;
    return Narrow(text.view());
}

class ResourceStringTest : public ::testing::Test {
protected:
    void SetUp() override {
        PLClearThreadErrors();
        PLSetDefaultLanguage(9);
    }
    void TearDown() override {
        PLSetDefaultLanguage(9);
        SetCurrentModuleName(nullptr);
        PLSetLanguageResourceLibraryName(nullptr);
    }
};

TEST_F(ResourceStringTest, MonthAndWeekdayNamesInEnglishAndGerman) {
    const char* english[] = {"January", "February", "March",     "April",   "May",      "June",
                             "July",    "August",   "September", "October", "November", "December"};
    const char* german[] = {"Januar", "Februar", "M\xC3\xA4rz", "April",   "Mai",      "Juni",
                            "Juli",   "August",  "September",   "Oktober", "November", "Dezember"};
    for (DWORD i = 0; i < 12; ++i) {
        EXPECT_EQ(Format(45 + i), english[i]);
        EXPECT_EQ(FormatIn(0x0407, 45 + i), german[i]);
    }
    EXPECT_EQ(Format(168), "Sunday");
    EXPECT_EQ(Format(174), "Saturday");
    EXPECT_EQ(FormatIn(0x0407, 168), "Sonntag");
    EXPECT_EQ(FormatIn(0x0407, 171), "Mittwoch");
    // Another German-speaking region finds the German texts; the default language is used when
    // none is given.
    EXPECT_EQ(FormatIn(0x0807, 47), "M\xC3\xA4rz");
    PLSetDefaultLanguage(0x0407);
    EXPECT_EQ(Format(174), "Samstag");
    EXPECT_TRUE(ErrorMessages().empty());
}

TEST_F(ResourceStringTest, InsertsAreFilledAndOnlyTheClosingLineBreakIsCut) {
    EXPECT_EQ(Format(1000, u"a.txt"), "The file \"a.txt\" could not be opened.");
    EXPECT_EQ(FormatIn(0x0407, 1000, "b.txt"), "Die Datei \"b.txt\" konnte nicht ge\xC3\xB6\x66\x66net werden.");
    EXPECT_EQ(Format(1001, 3, 10), "3 of 10 pages printed.");
    EXPECT_EQ(FormatIn(0x0407, 1001, 3, 10), "3 von 10 Seiten gedruckt.");
    EXPECT_EQ(Format(1002, 255, u"host"), "Trace level set to 255 (0x000000FF) by host.");
    EXPECT_EQ(FormatIn(0x0407, 1002, 255, u"host"), "Protokollstufe von host auf 255 (0x000000FF) gesetzt.");
    EXPECT_EQ(Format(1004, 2u, u"Global"), "2 trace contexts are open.\r\nThe oldest is \"Global\".");
    // A PLString argument, and a counted view that is not terminated where it ends.
    const std::u16string longer = u"abc.txtXYZ";
    EXPECT_EQ(Format(1000, std::u16string_view(longer).substr(0, 7)), "The file \"abc.txt\" could not be opened.");
    EXPECT_EQ(Format(1000, PLString(u"p.txt")), "The file \"p.txt\" could not be opened.");
}

TEST_F(ResourceStringTest, UntranslatedAndMissingTextsAreShownInEnglish) {
    EXPECT_EQ(FormatIn(0x0407, 1003, u"D1"), "Document D1 has no pages.");  // German is "STR_..."
    EXPECT_EQ(FormatIn(0x0407, 1004, 1u, u"x"), "1 trace contexts are open.\r\nThe oldest is \"x\".");
    EXPECT_EQ(FormatIn(0x040C, 45), "January");  // no French texts at all
    EXPECT_TRUE(ErrorMessages().empty());
}

TEST_F(ResourceStringTest, AMessageThatCannotBeFormattedFailsWithTheSystemError) {
    PLString text(u"unchanged");
    EXPECT_EQ(PLFormatResourceString(text, 9999), E_FAIL);
    EXPECT_EQ(text, PLString(u"unchanged"));
    ASSERT_EQ(ErrorMessages().size(), 1u);
    EXPECT_EQ(ErrorMessages()[0], "Failed to format message string for ID=9999, error = 317.");
    // An insert without its argument.
    EXPECT_EQ(PLFormatResourceString(text, 1000), E_FAIL);
    EXPECT_EQ(ErrorMessages().back(), "Failed to format message string for ID=1000, error = 87.");
}

TEST_F(ResourceStringTest, TheCompanionMustMatchTheCurrentModulesVersion) {
    // Named by path, so that this load is not answered from the cache.
    PLSetLanguageResourceLibraryName(
        kd::platform::Utf8ToUtf16(std::string(KDTRACE_LIB_DIR) + "/libkdlocale.so").c_str());
    SetCurrentModuleName(kd::platform::Utf8ToUtf16(std::string(KDTRACE_TEST_LIB_DIR) + "/libkdver_4_1.so").c_str());
    PLString text;
    EXPECT_EQ(PLFormatResourceString(text, 45), E_FAIL);
    auto errors = ErrorMessages();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].rfind("Module version mismatch. Version 0x04100000 (4.1.0.0) for file ", 0), 0u) << errors[0];
    EXPECT_NE(errors[0].find("does not match version 0x04000000 (4.0.0.0) for file "), std::string::npos);
    EXPECT_EQ(errors[1], "Failed to load language resource module.");
    // 4.0.0.0 and the companion's 4.0.0.1 agree in major and minor.
    SetCurrentModuleName(kd::platform::Utf8ToUtf16(std::string(KDTRACE_TEST_LIB_DIR) + "/libkdver_4_0.so").c_str());
    EXPECT_EQ(Format(45), "January");
}

TEST_F(ResourceStringTest, ALibraryWithoutTheFormatFunctionCannotFormat) {
    PLSetLanguageResourceLibraryName(
        kd::platform::Utf8ToUtf16(std::string(KDTRACE_TEST_LIB_DIR) + "/libkdver_none.so").c_str());
    PLString text;
    EXPECT_EQ(PLFormatResourceString(text, 45), E_FAIL);
    ASSERT_EQ(ErrorMessages().size(), 1u);
    EXPECT_EQ(ErrorMessages()[0], "Failed to format message string for ID=45, error = 127.");
}

}  // namespace
