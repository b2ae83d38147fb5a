// Month and weekday names of date-times from the language companion (found on this program's
// library path), and the English names when it cannot be loaded.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <kdtrace/datetime.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDateTime.h"
#include "module_base/PLResourceString.h"
#include "module_base/PLVersion.h"
#include "platform/Library.h"
#include "platform/Text.h"

namespace {

struct DateTimeNamesTest : ::testing::Test {
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

// Names once read are read again after the library cache is emptied: a companion that is gone
// by then gives way to the English names.
TEST_F(DateTimeNamesTest, NamesAreReadAgainOnceTheLibraryCacheIsEmptied) {
    void* found = PLLoadLibrary(u"kdlocale");
    ASSERT_NE(found, nullptr);
    const auto copy = std::filesystem::temp_directory_path() / ("libkdlocale_" + std::to_string(::getpid()) + ".so");
    std::filesystem::copy_file(kd::platform::LibraryPath(found), copy);
    PLSetLanguageResourceLibraryName(kd::platform::Utf8ToUtf16(copy.string()).c_str());
    SetCurrentModuleName(u"kdlocale");  // else the copy keeps a reference of its own
    PLSetDefaultLanguage(0x0407);
    ASSERT_EQ(dt->Initialize(3, 5, 2024, 0, 0, 0), S_OK);
    EXPECT_EQ(Fmt(u"%B"), u"M\u00E4rz");
    FreeCachedLibraries();
    std::filesystem::remove(copy);
    EXPECT_EQ(Fmt(u"%B"), u"March");
    SetCurrentModuleName(nullptr);
}

// Threads write names while the default language changes under them: every text is wholly of
// one language, and a change made on one thread is seen by the next call of another.
TEST_F(DateTimeNamesTest, ThreadsReadNamesWhileTheLanguageChanges) {
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
        readers.emplace_back([&] {
            PLComPtr<IPLDateTime> mine;
            if (PLCreateDateTime(0x0409, mine.Put()) < 0 || mine->Initialize(3, 5, 2024, 0, 0, 0) < 0) ++wrong;
            WCHAR buffer[64];
            while (!stop.load() && mine) {
                const std::u16string text = mine->Format(u"%B %A", buffer, 64) < 0 ? u"" : buffer;
                if (text != u"March Tuesday" && text != u"M\u00E4rz Dienstag") ++wrong;
            }
        });
    for (int i = 0; i < 200; ++i) PLSetDefaultLanguage(i % 2 == 0 ? 0x0407 : 0x0409);
    stop = true;
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(wrong.load(), 0);
    ASSERT_EQ(dt->Initialize(3, 5, 2024, 0, 0, 0), S_OK);
    EXPECT_EQ(Fmt(u"%B"), u"March");
    std::thread([] { PLSetDefaultLanguage(0x0407); }).join();
    EXPECT_EQ(Fmt(u"%B"), u"M\u00E4rz");
}

}  // namespace
