// The language companion: its exported function, and the formatting of inserts directly.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include <kdtrace/msgtable.h>

#include "companions/kdlocale/MessageFormat.h"
#include "platform/Text.h"
#include "support/HResult.h"

namespace {

const auto Narrow = [](const std::u16string& s) { return kd::platform::Utf16ToUtf8(s); };
constexpr auto Wide = [](const char16_t* t) { return PLMessageArgument{PLMSGARG_WIDE, 0, {.wide = t}}; };
constexpr auto Signed = [](int64_t v) { return PLMessageArgument{PLMSGARG_SIGNED, 0, {.i = v}}; };
constexpr auto Real = [](double v) { return PLMessageArgument{PLMSGARG_DOUBLE, 0, {.d = v}}; };

std::string Expand(const char16_t* text, std::initializer_list<PLMessageArgument> args, HRESULT expected = S_OK) {
    std::u16string out;
    EXPECT_EQ(kdlocale::ExpandInserts(text, args.begin(), args.size(), out), expected) << Narrow(text);
    return Narrow(out);
}

TEST(MessageFormatTest, InsertsEscapesConversionsAndMalformedInserts) {
    EXPECT_EQ(Expand(u"%2 and %1", {Wide(u"a"), Wide(u"b")}), "b and a");
    EXPECT_EQ(Expand(u"[%1!5d!|%1!-5d!|%1!05X!]", {Signed(42)}), "[   42|42   |0002A]");
    // Without a conversion, numbers print whole and text as text.
    EXPECT_EQ(Expand(u"%1 %2 %3", {Signed(-9000000000LL), Real(2.5), Wide(nullptr)}), "-9000000000 2.5 (null)");
    EXPECT_EQ(Expand(u"100%% sure%!%.%t|%r|%n", {}), "100% sure!.\t|\r|\r\n");
    EXPECT_EQ(Expand(u"stop here%0 not this", {}), "stop here");
    EXPECT_EQ(Expand(u"ends in %", {}), "ends in %");
    // Two-digit insert numbers.
    EXPECT_EQ(Expand(u"%12 %1", {Signed(1), Signed(2), Signed(3), Signed(4), Signed(5), Signed(6), Signed(7), Signed(8),
                                 Signed(9), Signed(10), Signed(11), Signed(12)}),
              "12 1");
    // Malformed inserts are refused.
    EXPECT_EQ(Expand(u"%2", {Wide(u"a")}, E_INVALIDARG), "");
    // No closing mark, a width from the arguments, a conversion that writes to memory in printf.
    for (const char16_t* text : {u"%1!d", u"%1!*d!", u"%1!n!"}) EXPECT_EQ(Expand(text, {Signed(1)}, E_INVALIDARG), "");
    // A conversion that does not fit its argument prints a visible placeholder, never garbage.
    EXPECT_EQ(Expand(u"%1!d!", {Wide(u"text")}), "%!d(bad argument)");
}

TEST(KdlocaleLibraryTest, FormatsIntoTheCallersBufferAndReportsWhyNot) {
    void* library = ::dlopen(KDTRACE_LIB_DIR "/libkdlocale.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    const auto format = reinterpret_cast<PFN_PLLOCALE_FormatMessage>(::dlsym(library, "PLLOCALE_FormatMessage"));
    ASSERT_NE(format, nullptr);
    WCHAR buffer[64];
    ULONG length = 99;
    ASSERT_HR(format(45, 0x0409, nullptr, 0, buffer, 64, &length), S_OK);
    EXPECT_EQ(std::pair(std::u16string(buffer), length), std::pair(std::u16string(u"January\r\n"), 9u));
    // The text and its terminator must fit.
    EXPECT_HR(format(45, 0x0409, nullptr, 0, buffer, 9, &length), PL_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(std::pair(buffer[0], length), std::pair(u'\0', 0u));
    EXPECT_HR(format(45, 0x0409, nullptr, 0, buffer, 10, &length), S_OK);
    EXPECT_HR(format(45, 0x0409, nullptr, 2, buffer, 64, &length), E_POINTER);
    EXPECT_HR(format(4242, 0x0409, nullptr, 0, buffer, 64, nullptr), PL_E_MESSAGE_NOT_FOUND);
    EXPECT_HR(format(45, 0x0411, nullptr, 0, buffer, 64, nullptr), PL_E_LANGUAGE_NOT_FOUND);
    EXPECT_HR(format(45, 0x0C09, nullptr, 0, buffer, 64, nullptr), S_OK);  // English of Australia: English
    EXPECT_HR(format(1000, 0x0409, nullptr, 0, buffer, 64, nullptr), E_INVALIDARG);
    ::dlclose(library);
}

}  // namespace
