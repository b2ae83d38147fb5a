// Packed versions, version data of our libraries, the library cache and the versioned loader,
// the default language, and resource strings without the language companion.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <locale.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "module_base/PLError.h"
#include "module_base/PLResourceString.h"
#include "module_base/PLVersion.h"
#include "platform/Text.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

namespace {

const auto LibPath = [](const char* name) { return std::string(KDTRACE_TEST_LIB_DIR) + "/lib" + name + ".so"; };
const auto Wide = [](const std::string& s) { return kd::platform::Utf8ToUtf16(s); };
const auto Narrow = [](std::u16string_view s) { return kd::platform::Utf16ToUtf8(s); };

// The calling thread's errors, oldest first, as "method: message".
std::vector<std::string> Errors() {
    std::vector<std::string> out;
    for (const auto& e : kdtest::ReadThreadErrors(&GetThreadError)) out.push_back(Narrow(e.method + u": " + e.message));
    return out;
}

bool IsLoaded(const std::string& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    return handle != nullptr && ::dlclose(handle) == 0;
}

class VersionTest : public ::testing::Test {
protected:
    void SetUp() override { PLClearThreadErrors(); }
    void TearDown() override { PLSetDefaultLanguage(9); }
};

TEST_F(VersionTest, VersionTextsPackMajorAndMinorOrGiveZeroAndRecordWhy) {
    using Row = std::pair<const char16_t*, DWORD>;
    for (const auto& [text, packed] :
         {Row{u"4.0.0.1", 0x04000000u}, Row{u"255.12.15.65535", 0xFFC00000u},
          Row{u" 1.\t2. 3. 4 trailing", 0x01200000u}, Row{nullptr, 0}, Row{u"", 0}, Row{u"4.0.0-001", 0},
          Row{u"4.0.0", 0}, Row{u"1.13.0.0", 0}, Row{u"256.0.0.0", 0}, Row{u"99999999999999999999.0.0.0", 0},
          Row{u"\n1.\r2.\v+3.\f4", 0x01200000u}, Row{u"1.-2.0.0", 0}, Row{u"1.x", 0}, Row{u"1.!", 0}}) {
        PLClearThreadErrors();
        const std::string shown = text ? Narrow(text) : "(null)";
        EXPECT_EQ(ConvertVersionToDWORD(text), packed) << shown;
        EXPECT_EQ(Errors().size(), packed == 0 ? 1u : 0u) << shown;
    }
}

TEST_F(VersionTest, TheSameMajorAndMinorAreAcceptedAndADifferentMinorIsRefused) {
    const std::u16string v4015 = Wide(LibPath("kdver_4_0_1_5")), v4027 = Wide(LibPath("kdver_4_0_2_7"));
    void* handle = nullptr;
    ASSERT_HR(PLVersionedLoadLibrary(v4015.c_str(), v4027.c_str(), &handle), S_OK);
    EXPECT_NE(handle, nullptr);
    EXPECT_TRUE(Errors().empty());

    const std::string p40 = LibPath("kdver_4_0"), p41 = LibPath("kdver_4_1");
    handle = reinterpret_cast<void*>(1);
    EXPECT_HR(PLVersionedLoadLibrary(Wide(p40).c_str(), Wide(p41).c_str(), &handle), E_FAIL);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(Errors(),
              std::vector<std::string>{"PLVersionedLoadLibrary: Module version mismatch. Version 0x04000000 "
                                       "(4.0.0.0) for file " +
                                       p40 + ", does not match version 0x04100000 (4.1.0.0) for file " + p41 + "."});
    EXPECT_TRUE(IsLoaded(p41));  // refused, but still loaded

    // A library without version data, or with a version text that is not one, has version 0 and
    // is never refused; without a current module the library is compared with itself.
    for (const char* name : {"kdver_none", "kdver_badtext"})
        EXPECT_HR(PLVersionedLoadLibrary(Wide(p41).c_str(), Wide(LibPath(name)).c_str(), &handle), S_OK) << name;
    EXPECT_HR(PLVersionedLoadLibrary(nullptr, Wide(p41).c_str(), &handle), S_OK);
}

TEST_F(VersionTest, MissingLibrariesAndMissingVersionValuesAreRefusedWithTheirNames) {
    void* handle = nullptr;
    const std::string missing = LibPath("kd-not-there");
    for (int attempt = 0; attempt < 2; ++attempt) {  // the second time from the remembered failure
        PLClearThreadErrors();
        EXPECT_HR(PLVersionedLoadLibrary(nullptr, Wide(missing).c_str(), &handle), E_FAIL);
        EXPECT_EQ(Errors(), std::vector<std::string>{"PLVersionedLoadLibrary: Failed to load current module handle [" +
                                                     missing + "] GetLastError [2]"});
    }
    // Version data without the file version.
    PLClearThreadErrors();
    EXPECT_HR(
        PLVersionedLoadLibrary(Wide(LibPath("kdver_4_0")).c_str(), Wide(LibPath("kdver_nofile")).c_str(), &handle),
        E_FAIL);
    EXPECT_EQ(Errors().size(), 2u);  // the version reader's, then the loader's
}

TEST_F(VersionTest, ASecondLoadReusesTheCacheAndFreeingTheCacheUnloads) {
    const std::string path = LibPath("kdver_4_0_2_7");
    FreeCachedLibraries();
    ASSERT_FALSE(IsLoaded(path));
    void* first = PLLoadLibrary(Wide(path).c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(PLLoadLibrary(Wide(path).c_str()), first);
    // One reference only: emptying the cache unloads the library.
    FreeCachedLibraries();
    EXPECT_FALSE(IsLoaded(path));
    // Failures are remembered too, until the cache is emptied.
    EXPECT_EQ(PLLoadLibrary(u"kd-no-such-library"), nullptr);
    EXPECT_TRUE(PLIsLibraryCached(u"kd-no-such-library"));
    FreeCachedLibraries();
    EXPECT_FALSE(PLIsLibraryCached(u"kd-no-such-library"));
    EXPECT_EQ(PLLoadLibrary(u""), nullptr);
}

// Under ThreadSanitizer too: the library cache, the translator registry (threads that end with
// the translator installed) and the default language, shared by threads.
TEST_F(VersionTest, ThreadsLoadingAtOnceShareOneCacheEntryPerName) {
    const std::u16string v4015 = Wide(LibPath("kdver_4_0_1_5")), v4027 = Wide(LibPath("kdver_4_0_2_7"));
    const std::u16string none = Wide(LibPath("kdver_none"));
    std::atomic<void*> first{nullptr};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                void* handle = PLLoadLibrary(none.c_str());
                void* expected = nullptr;
                if (handle == nullptr || (!first.compare_exchange_strong(expected, handle) && expected != handle))
                    ++failures;
                void* versioned = nullptr;
                if (PLVersionedLoadLibrary(v4015.c_str(), v4027.c_str(), &versioned) != S_OK) ++failures;
                if (PLLoadLibrary(u"kd-no-such-library") != nullptr) ++failures;
                PLInstallSEHTranslator();
                PLSetDefaultLanguage(i % 2 ? 0x0407 : 9);
                if (i % 10 == 0) PLRemoveSEHTranslator();
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

// Traditional Chinese languages share one identifier; -1 takes the system's language unless it
// cannot be told.
TEST_F(VersionTest, LanguagesSetAreTheOnesRead) {
    // LC_ALL (null: as it was), the language set, the language read.
    using Row = std::tuple<const char*, LONG, LONG>;
    for (const auto& [lcAll, language, read] : {Row{nullptr, 0x0C04, 0x0404}, Row{nullptr, 0x7C04, 0x0404},
                                                Row{"fr_FR.UTF-8", -1, 0x040C}, Row{"xx_QQ", -1, 0x040C}}) {
        if (lcAll != nullptr) ::setenv("LC_ALL", lcAll, 1);
        PLSetDefaultLanguage(language);
        EXPECT_EQ(PLGetDefaultLanguage(), read) << language << " " << (lcAll ? lcAll : "");
    }
    ::unsetenv("LC_ALL");
}

// A resource string without its language companion: the date-time names test (the loader's
// reason is recorded as for any library, above).

}  // namespace
