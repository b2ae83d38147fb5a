// Packed versions, version data of our libraries, the library cache and the versioned loader,
// the default language, and resource strings without the language companion.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/wait.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "inc_module_base/PLError.h"
#include "inc_module_base/plversion.h"
#include "platform/language.h"
#include "platform/text.h"

namespace {

const std::string kLibDir = KDTRACE_TEST_LIB_DIR;
std::string LibPath(const char* name) {
    return kLibDir + "/lib" + name + ".so";
}
std::u16string Wide(const std::string& s) {
    return kd::platform::Utf8ToUtf16(s);
}
std::string Narrow(std::u16string_view s) {
    return kd::platform::Utf16ToUtf8(s);
}

struct Error {
    HRESULT result;
    std::string method;
    std::string message;
};

// The calling thread's errors, oldest first.
std::vector<Error> Errors() {
    std::vector<Error> out;
    IPLErrorInfo* list = nullptr;
    if (GetThreadError(&list) < 0) return out;
    LONG count = 0;
    list->GetCount(&count);
    for (LONG i = count - 1; i >= 0; --i) {
        IPLErrorItem* item = nullptr;
        if (list->GetItem(i, &item) < 0) continue;
        WCHAR text[2048];
        Error e{};
        item->GetHRESULT(&e.result);
        item->GetMethodName(text, 2048);
        e.method = Narrow(text);
        item->GetMessage(text, 2048);
        e.message = Narrow(text);
        out.push_back(e);
        item->Release();
    }
    list->Release();
    return out;
}

bool IsLoaded(const std::string& path) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    ::dlclose(handle);
    return true;
}

class VersionTest : public ::testing::Test {
protected:
    void SetUp() override { PLClearThreadErrors(); }
};

TEST_F(VersionTest, VersionTextsPackMajorAndMinorOnly) {
    struct Case {
        const char16_t* text;
        DWORD packed;
    };
    for (const Case& c : {Case{u"4.0.0.1", 0x04000000u}, Case{u"4, 0, 0, 1", 0x04000000u},
                          Case{u"4:0:9:77", 0x04000000u}, Case{u"13.1.2.3", 0x0D100000u},
                          Case{u"255.12.15.65535", 0xFFC00000u}, Case{u" 1.\t2. 3. 4 trailing", 0x01200000u}}) {
        PLClearThreadErrors();
        EXPECT_EQ(ConvertVersionToDWORD(c.text), c.packed) << Narrow(c.text);
        EXPECT_TRUE(Errors().empty()) << Narrow(c.text);
    }
}

TEST_F(VersionTest, BadVersionTextsGiveZeroAndRecordWhy) {
    struct Case {
        const char16_t* text;
        const char* message;
    };
    for (const Case& c :
         {Case{nullptr, "No version string requested"}, Case{u"", "No version string requested"},
          Case{u"4.0.0-001", "Incorrect version string format"}, Case{u"4 .0.0.0", "Incorrect version string format"},
          Case{u"4.0.0", "Incorrect version string format"}, Case{u"a.b.c.d", "Incorrect version string format"},
          Case{u"1.13.0.0", "Version string out of range"}, Case{u"0.5.0.0", "Version string out of range"},
          Case{u"-1.0.0.0", "Version string out of range"}, Case{u"256.0.0.0", "Version string out of range"},
          Case{u"4.0.16.0", "Version string out of range"}, Case{u"4.0.0.65536", "Version string out of range"},
          Case{u"99999999999999999999.0.0.0", "Version string out of range"}}) {
        PLClearThreadErrors();
        EXPECT_EQ(ConvertVersionToDWORD(c.text), 0u);
        const auto errors = Errors();
        ASSERT_EQ(errors.size(), 1u) << c.message;
        EXPECT_EQ(errors[0].result, E_FAIL);
        EXPECT_EQ(errors[0].method, "ConvertVersionToDWORD");
        EXPECT_EQ(errors[0].message, c.message);
    }
}

TEST_F(VersionTest, LibrariesReportTheVersionTheyCarry) {
    DWORD version = 1;
    EXPECT_EQ(GetModuleVersionInfo(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(GetModuleVersionInfo(nullptr, &version), E_FAIL);
    EXPECT_EQ(version, 0u);
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Errors()[0].message, "Failed to get path to current module.");

    struct Case {
        const char* name;
        HRESULT result;
        DWORD version;
        const char* error;  // the last recorded message, or null for none
    };
    for (const Case& c : {Case{"kdver_4_0_1_5", S_OK, 0x04000000u, nullptr},
                          Case{"kdver_4_1", S_OK, 0x04100000u, nullptr}, Case{"kdver_none", S_OK, 0u, nullptr},
                          Case{"kdver_nofile", E_FAIL, 0u, "Module is missing a required version resource value."},
                          Case{"kdver_badtext", S_OK, 0u, "Incorrect version string format"}}) {
        PLClearThreadErrors();
        void* handle = ::dlopen(LibPath(c.name).c_str(), RTLD_NOW);
        ASSERT_NE(handle, nullptr) << c.name;
        version = 1;
        EXPECT_EQ(GetModuleVersionInfo(handle, &version), c.result) << c.name;
        EXPECT_EQ(version, c.version) << c.name;
        const auto errors = Errors();
        if (c.error == nullptr) {
            EXPECT_TRUE(errors.empty()) << c.name;
        } else {
            ASSERT_FALSE(errors.empty()) << c.name;
            EXPECT_EQ(errors.back().message, c.error);
        }
        ::dlclose(handle);
    }
}

TEST_F(VersionTest, TheSameMajorAndMinorAreAcceptedAndADifferentMinorIsRefused) {
    const std::u16string v4015 = Wide(LibPath("kdver_4_0_1_5"));
    const std::u16string v4027 = Wide(LibPath("kdver_4_0_2_7"));
    void* handle = nullptr;
    ASSERT_EQ(PLVersionedLoadLibrary(v4015.c_str(), v4027.c_str(), &handle), S_OK);
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(PLIsLibraryCached(v4027.c_str()));
    EXPECT_TRUE(Errors().empty());
    // From the cache: the same handle without a second check.
    void* again = nullptr;
    EXPECT_EQ(PLVersionedLoadLibrary(u"no-such-current-module", v4027.c_str(), &again), S_OK);
    EXPECT_EQ(again, handle);

    const std::string p40 = LibPath("kdver_4_0");
    const std::string p41 = LibPath("kdver_4_1");
    handle = reinterpret_cast<void*>(1);
    EXPECT_EQ(PLVersionedLoadLibrary(Wide(p40).c_str(), Wide(p41).c_str(), &handle), E_FAIL);
    EXPECT_EQ(handle, nullptr);
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].method, "PLVersionedLoadLibrary");
    EXPECT_EQ(errors[0].message, "Module version mismatch. Version 0x04000000 (4.0.0.0) for file " + p40 +
                                     ", does not match version 0x04100000 (4.1.0.0) for file " + p41 + ".");
    // Refused: still loaded, but not cached, so the next attempt checks again.
    EXPECT_TRUE(IsLoaded(p41));
    EXPECT_FALSE(PLIsLibraryCached(Wide(p41).c_str()));
    EXPECT_EQ(PLVersionedLoadLibrary(Wide(p40).c_str(), Wide(p41).c_str(), &handle), E_FAIL);

    // A library without version data is never refused; without a current module the library is
    // compared with itself.
    EXPECT_EQ(PLVersionedLoadLibrary(Wide(p41).c_str(), Wide(LibPath("kdver_none")).c_str(), &handle), S_OK);
    EXPECT_EQ(PLVersionedLoadLibrary(nullptr, Wide(p41).c_str(), &handle), S_OK);
    EXPECT_EQ(PLVersionedLoadLibrary(nullptr, nullptr, nullptr), E_POINTER);
}

TEST_F(VersionTest, MissingLibrariesAndMissingVersionValuesAreRefusedWithTheirNames) {
    void* handle = nullptr;
    const std::u16string missing = Wide(kLibDir + "/libkd-not-there.so");
    for (int attempt = 0; attempt < 2; ++attempt) {  // the second time from the remembered failure
        PLClearThreadErrors();
        EXPECT_EQ(PLVersionedLoadLibrary(nullptr, missing.c_str(), &handle), E_FAIL);
        ASSERT_EQ(Errors().size(), 1u);
        EXPECT_EQ(Errors()[0].message,
                  "Failed to load current module handle [" + Narrow(missing) + "] GetLastError [2]");
    }
    PLClearThreadErrors();
    const std::u16string v40 = Wide(LibPath("kdver_4_0"));
    ASSERT_FALSE(PLIsLibraryCached(v40.c_str()));
    EXPECT_EQ(PLVersionedLoadLibrary(u"kd-no-current-module", v40.c_str(), &handle), E_FAIL);
    ASSERT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Errors()[0].message, "Failed to load current module handle [kd-no-current-module] GetLastError [2]");

    // Version data without the file version: the version reader's error, then the loader's.
    PLClearThreadErrors();
    EXPECT_EQ(PLVersionedLoadLibrary(v40.c_str(), Wide(LibPath("kdver_nofile")).c_str(), &handle), E_FAIL);
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].message, "Module is missing a required version resource value.");
    EXPECT_EQ(errors[1].method, "PLVersionedLoadLibrary");
    EXPECT_EQ(errors[1].message, "A general error occurred.");
}

TEST_F(VersionTest, ASecondLoadReusesTheCacheAndFreeingTheCacheUnloads) {
    const std::string path = LibPath("kdver_4_0_2_7");
    FreeCachedLibraries();
    ASSERT_FALSE(IsLoaded(path));
    void* first = PLLoadLibrary(Wide(path).c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(PLLoadLibrary(Wide(path).c_str()), first);
    EXPECT_TRUE(PLIsLibraryCached(Wide(path).c_str()));
    // One reference only: emptying the cache unloads the library.
    FreeCachedLibraries();
    EXPECT_FALSE(IsLoaded(path));
    EXPECT_FALSE(PLIsLibraryCached(Wide(path).c_str()));

    // Failures are remembered too, until the cache is emptied.
    EXPECT_EQ(PLLoadLibrary(u"kd-no-such-library"), nullptr);
    EXPECT_TRUE(PLIsLibraryCached(u"kd-no-such-library"));
    EXPECT_EQ(PLLoadLibrary(u"kd-no-such-library"), nullptr);
    FreeCachedLibraries();
    EXPECT_FALSE(PLIsLibraryCached(u"kd-no-such-library"));
    // Names that cannot name a file.
    EXPECT_EQ(PLLoadLibrary(nullptr), nullptr);
    EXPECT_EQ(PLLoadLibrary(u""), nullptr);
    EXPECT_EQ(PLLoadLibrary(std::u16string(260, u'x').c_str()), nullptr);
}

TEST_F(VersionTest, ThreadsLoadingAtOnceShareOneCacheEntryPerName) {
    const std::u16string v4015 = Wide(LibPath("kdver_4_0_1_5"));
    const std::u16string v4027 = Wide(LibPath("kdver_4_0_2_7"));
    const std::u16string none = Wide(LibPath("kdver_none"));
    std::atomic<void*> first{nullptr};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
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
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    PLSetDefaultLanguage(9);
}

TEST_F(VersionTest, TraditionalChineseLanguagesShareOneIdentifier) {
    const std::string hostLocale = ::setlocale(LC_ALL, nullptr);
    for (LONG language : {0x0C04, 0x1404, 0x0404, 0x7C04}) {
        PLSetDefaultLanguage(language);
        EXPECT_EQ(PLGetDefaultLanguage(), 0x0404) << language;
    }
    // The result tells whether the system has the language's locale.
    const LONG result = PLSetDefaultLanguage(0x0407);
    EXPECT_EQ(PLGetDefaultLanguage(), 0x0407);
    locale_t probe = ::newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
    EXPECT_EQ(result != 0, probe != static_cast<locale_t>(nullptr));
    if (probe != static_cast<locale_t>(nullptr)) ::freelocale(probe);
    // The host's own locale is never changed.
    EXPECT_EQ(std::string(::setlocale(LC_ALL, nullptr)), hostLocale);

    // -1: the system's language, unless it cannot be told.
    ::setenv("LC_ALL", "fr_FR.UTF-8", 1);
    PLSetDefaultLanguage(-1);
    EXPECT_EQ(PLGetDefaultLanguage(), 0x040C);
    ::setenv("LC_ALL", "xx_QQ", 1);
    PLSetDefaultLanguage(-1);
    EXPECT_EQ(PLGetDefaultLanguage(), 0x040C);
    ::unsetenv("LC_ALL");
    PLSetDefaultLanguage(9);
    EXPECT_EQ(PLGetDefaultLanguage(), 9);
}

TEST_F(VersionTest, WithoutTheLanguageCompanionAResourceStringFailsWithTheLoadersReason) {
    PLString text(u"unchanged");
    EXPECT_EQ(PLFormatResourceString(text, 45), E_FAIL);
    EXPECT_EQ(text, PLString(u"unchanged"));
    const auto errors = Errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].message, "Failed to load current module handle [kdlocale] GetLastError [2]");
    EXPECT_EQ(errors[1].method, "CResourceString::FormatMessageW");
    EXPECT_EQ(errors[1].message, "Failed to load language resource module.");
}

TEST(ScopeTimerDeathTest, WritesTheLabelAndTheElapsedTimeToTheDebugOutput) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::setenv("KDTRACE_DEBUG_OUTPUT", "1", 1);
            { CPLScopeTimer timer(u"loading the table"); }
            { CPLScopeTimer timer(std::u16string(1000, u'x').c_str()); }  // a long label is cut
            ::_exit(0);
        },
        ::testing::ExitedWithCode(0), "loading the table\t[0-9]+ms\\.\n(x)+\t[0-9]+ms\\.\n");
}

}  // namespace
