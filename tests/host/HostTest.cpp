// The host header <kdtrace/host.h>: text conversion, names, the reference-owning pointer, and the
// module loader with the thread's errors as text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <kdtrace/host.h>
#include <kdtrace/kdtrace.h>

#include "support/HResult.h"
#include "support/TraceFakes.h"

namespace {

using namespace kdtrace::host;
using namespace std::string_literals;

TEST(HostTextTest, ConvertsBetweenUtf8AndUtf16AndNamesCodesGuidsAndMethods) {
    const std::pair<std::string, std::u16string> wellFormed[] = {{"", u""},
                                                                 {"a\0b"s, u"a\0b"s},
                                                                 {"\xC3\xA9", u"\u00E9"},
                                                                 {"\xE2\x82\xAC", u"\u20AC"},
                                                                 {"\xEF\xBF\xBF", u"\uFFFF"},
                                                                 {"\xF0\x9F\x98\x80", u"\U0001F600"},
                                                                 {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"}};
    for (const auto& [utf8, utf16] : wellFormed) {
        EXPECT_EQ(ToUtf16(utf8), utf16) << utf8;
        EXPECT_EQ(ToUtf8(utf16), utf8);
    }
    // Ill-formed UTF-8: one U+FFFD for each maximal part that cannot start a character.
    const std::pair<std::string, std::u16string> illFormed[] = {
        {"\x80x", u"\uFFFDx"},                             // a stray continuation byte
        {"a\xC3", u"a\uFFFD"},                             // cut at the end
        {"\xE2\x82x", u"\uFFFDx"},                         // cut before another character
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                     // overlong
        {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},           // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}  // above U+10FFFF
    };
    for (const auto& [utf8, utf16] : illFormed) EXPECT_EQ(ToUtf16(utf8), utf16) << utf8;
    // Lone surrogates of UTF-16 become U+FFFD; a null text is empty.
    EXPECT_EQ(ToUtf8(u"a\xD800"
                     u"b\xDC00\xD83D"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(static_cast<const char16_t*>(nullptr)), "");

    // Names of codes, identifiers and methods.
    EXPECT_EQ(HResultText(E_POINTER), "E_POINTER (0x80004003)");
    EXPECT_EQ(HResultText(S_FALSE), "S_FALSE");
    EXPECT_EQ(HResultText(PL_E_FILE_NOT_OPEN), "PL_E_FILE_NOT_OPEN (0x80040044)");
    EXPECT_EQ(HResultText(static_cast<HRESULT>(0x80070005)), "0x80070005");
    EXPECT_EQ(GuidText(IID_IUnknown), "00000000-0000-0000-C000-000000000046");
    const std::pair<std::pair<const char*, const char*>, const char*> names[] = {
        {{"CPLVariant", "CPLVariant::Convert"}, "CPLVariant::Convert"},
        {{"CPLTraceModule", "GetNamedContext"}, "CPLTraceModule::GetNamedContext"},
        {{"", "PLCreateInstance"}, "PLCreateInstance"},
        {{"CPLVariant", ""}, "CPLVariant"},
        {{"A", "AB::C"}, "A::AB::C"}};
    for (const auto& [in, out] : names) EXPECT_EQ(QualifiedName(in.first, in.second), out);
}

TEST(HostComPtrTest, OwnsExactlyOneReferencePerPointer) {
    kdtest::Fake<IUnknown> object(IID_IUnknown);  // counts its references; answers IUnknown only
    {
        ComPtr<IUnknown> a(&object);
        EXPECT_EQ(object.refs, 2u);
        ComPtr<IUnknown> b = a;
        EXPECT_EQ(object.refs, 3u);
        ComPtr<IUnknown> c = std::move(b);
        EXPECT_TRUE(!b && c == a);
        EXPECT_EQ(object.refs, 3u);
        EXPECT_FALSE(c.As<IPLVariant>());  // not answered: nothing taken
        ComPtr<IUnknown> d = c.As<IUnknown>();
        EXPECT_EQ(object.refs, 4u);
        *d.Put() = &object;  // a slot for an out parameter releases what it held...
        EXPECT_EQ(object.refs, 3u);
        object.AddRef();  // ...and owns the reference the call hands out
        EXPECT_EQ(d.Detach(), &object);
        ComPtr<IUnknown> e = ComPtr<IUnknown>::Adopt(&object);  // takes over the detached one
        EXPECT_EQ(object.refs, 4u);
    }
    EXPECT_EQ(object.refs, 1u);
}

TEST(HostModuleTest, LoadsEveryExportOrSaysWhichIsMissing) {
    Module module;
    EXPECT_FALSE(module.Load("/nonexistent/libkdtrace.so.4"));
    EXPECT_NE(module.Error().find("cannot load /nonexistent/libkdtrace.so.4: "), std::string::npos) << module.Error();
    // The error module double exports GetPLModule and nothing else of the module's.
    EXPECT_FALSE(module.Load(KDTRACE_TEST_LIB_DIR "/libkderror.so"));
    EXPECT_NE(module.Error().find("does not export GetImplementedModules, PLCreateInstance, PLGetLastError"),
              std::string::npos)
        << module.Error();
    EXPECT_FALSE(module.IsLoaded());

    ::setenv("KDTRACE_MODULE", KDTRACE_MODULE_PATH, 1);
    EXPECT_EQ(Module::DefaultPath(), KDTRACE_MODULE_PATH);
    ::unsetenv("KDTRACE_MODULE");
    const std::string fallback = Module::DefaultPath();
    EXPECT_EQ(fallback.substr(fallback.size() - 15), "libkdtrace.so.4");

    ASSERT_TRUE(module.Load(KDTRACE_MODULE_PATH)) << module.Error();
    EXPECT_TRUE(module.OpenTraceModule());

    // An error list as lines, newest first: the result, the class named once, the message, the
    // source position when there is one.
    ComPtr<IPLErrorInfo> errors = module.Create<IPLErrorInfo>(CLSID_PLErrorInfo);
    ASSERT_TRUE(errors);
    ASSERT_HR(errors->AddError(u"Core", u"CPLVariant", u"CPLVariant::Convert", E_FAIL, 0,
                               u"Failed to convert string to long", 1, u"module_base/PLVariant.cpp", 907),
              S_OK);
    ASSERT_HR(errors->AddError(u"Core Services", u"", u"Outer", E_INVALIDARG, 0, u"x\u00E9", 0, u"", 0), S_OK);
    EXPECT_EQ(ErrorText(errors.Get()),
              "E_INVALIDARG (0x80070057) Outer: x\xC3\xA9\n"
              "E_FAIL (0x80004005) CPLVariant::Convert: Failed to convert string to long "
              "[module_base/PLVariant.cpp:907]\n");
    EXPECT_EQ(ErrorText(nullptr), "");
}

}  // namespace
