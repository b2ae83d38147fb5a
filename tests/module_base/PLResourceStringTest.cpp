// Resource strings from the language companion (found on this program's library path).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "module_base/PLError.h"
#include "module_base/PLResourceString.h"
#include "module_base/PLVersion.h"
#include "platform/Text.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

namespace {

using kd::platform::Utf16ToUtf8;

// In the default language (0) or the one given.
template <class... A>
std::string FormatIn(LONG language, DWORD id, const A&... args) {
    PLString text;
    const HRESULT hr = language == 0 ? PLFormatResourceString(text, id, args...)
                                     : PLFormatResourceStringLang(text, id, language, args...);
    EXPECT_HR(hr, S_OK) << id;
    return Utf16ToUtf8(text.view());
}

struct ResourceStringTest : ::testing::Test {
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

TEST_F(ResourceStringTest, TextsInEnglishAndGermanWithTheirInsertsAndTheEnglishFallback) {
    // Inserts of every kind; only the closing line break is cut.
    EXPECT_EQ(FormatIn(0, 1000, u"a.txt"), "The file \"a.txt\" could not be opened.");
    EXPECT_EQ(FormatIn(0x0407, 1000, "b.txt"), "Die Datei \"b.txt\" konnte nicht ge\xC3\xB6\x66\x66net werden.");
    EXPECT_EQ(FormatIn(0x0407, 1001, 3, 10), "3 von 10 Seiten gedruckt.");
    // A counted view that is not terminated where it ends.
    const std::u16string longer = u"abc.txtXYZ";
    EXPECT_EQ(FormatIn(0, 1000, std::u16string_view(longer).substr(0, 7)), "The file \"abc.txt\" could not be opened.");
    // Untranslated ("STR_..." in the German table) and missing texts are shown in English.
    EXPECT_EQ(FormatIn(0x0407, 1003, u"D1"), "Document D1 has no pages.");
    EXPECT_EQ(FormatIn(0x0407, 1004, 1u, u"x"), "1 trace contexts are open.\r\nThe oldest is \"x\".");
    EXPECT_EQ(FormatIn(0x040C, 45), "January");  // no French texts at all
}

TEST_F(ResourceStringTest, AMessageThatCannotBeFormattedFailsWithTheSystemError) {
    const auto fails = [](DWORD id, const char* why) {
        PLString text(u"unchanged");
        EXPECT_HR(PLFormatResourceString(text, id), E_FAIL);
        EXPECT_EQ(text, PLString(u"unchanged"));
        std::vector<std::string> messages;
        for (const auto& e : kdtest::ReadThreadErrors(&GetThreadError)) messages.push_back(Utf16ToUtf8(e.message));
        EXPECT_EQ(messages, std::vector<std::string>{why});
    };
    fails(9999, "Failed to format message string for ID=9999, error = 317.");
    fails(1000, "Failed to format message string for ID=1000, error = 87.");  // an insert without its argument
    // A library without the format function.
    PLSetLanguageResourceLibraryName(kd::platform::Utf8ToUtf16(KDTRACE_TEST_LIB_DIR "/libkdver_none.so").c_str());
    fails(45, "Failed to format message string for ID=45, error = 127.");
}

}  // namespace
