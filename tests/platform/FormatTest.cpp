#include "platform/Format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using kd::platform::Format;

TEST(FormatTest, IntegersFollowTheSizeTheConversionNamesAndStarsGiveWidthAndPrecision) {
    EXPECT_EQ(Format(u"%d %i %u %08x", -5, 7, 8u, static_cast<int32_t>(0x80004005)), u"-5 7 8 80004005");
    EXPECT_EQ(Format(u"%ld %lu", static_cast<int32_t>(-1), static_cast<uint32_t>(4000000000u)), u"-1 4000000000");
    EXPECT_EQ(Format(u"%I64d %lld", INT64_C(-9000000000), INT64_C(9000000000)), u"-9000000000 9000000000");
    // A 64-bit value for a 32-bit conversion is cut, as printf would read it.
    EXPECT_EQ(Format(u"%d", INT64_C(0x100000005)), u"5");
    EXPECT_EQ(Format(u"%hd %hhu", 70000, 300), u"4464 44");
    EXPECT_EQ(Format(u"[%5d][%-5d][%05d][%+d][% d]", 42, 42, -42, 42, 42), u"[   42][42   ][-0042][+42][ 42]");
    EXPECT_EQ(Format(u"[%*d][%.*s][%.*s]", -4, 1, 3, u"abcdef", -1, u"abc"), u"[1   ][abc][abc]");
    // Zero with no precision digits, the alternate forms, the other size prefixes, and a star
    // without a number to take.
    EXPECT_EQ(Format(u"[%.0d][%#x][%#o][%#X][%I32d][%jd][%zu][%td]", 0, 255, 8, 255, -3, INT64_C(-4), 5u, 6),
              u"[][0xff][010][0XFF][-3][-4][5][6]");
    EXPECT_EQ(Format(u"[%*d]", u"w", 1), u"[%!d(missing)]");
    EXPECT_EQ(Format(u"[%.*d]", u"p", 2), u"[%!d(missing)]");
}

TEST(FormatTest, FloatingPointCharactersAndPointers) {
    // Without a precision, %a is exact and shortest, as printf gives it.
    EXPECT_EQ(Format(u"%f %.2f %e %g %a %A", 1.5, 2.0, 1500.0, 0.25, 1.0, 0.1),
              u"1.500000 2.00 1.500000e+03 0.25 0x1p+0 0X1.999999999999AP-4");
    EXPECT_EQ(Format(u"%-8.1f|%.1f", 2.5, 3), u"2.5     |3.0");
    EXPECT_EQ(Format(u"%F %E %G %.1a %.1A|%+.1f|% .1f|%#.0f|%08.2f|%Lf", 1.5, 1500.0, 1e-5, 1.0, 1.0, 2.5, 2.5, 3.0,
                     -2.5, 0.5),
              u"1.500000 1.500000E+03 1E-05 0x1.0p+0 0X1.0P+0|+2.5| 2.5|3.|-0002.50|0.500000");
    EXPECT_EQ(Format(u"%c%c%hc", u'x', 0x263A, 'y'), u"x\u263Ay");
    EXPECT_EQ(Format(u"%p", reinterpret_cast<const void*>(0xABCDu)), u"000000000000ABCD");
    EXPECT_EQ(Format(u"100%%"), u"100%");
    // Texts and numbers as pointers, null texts, an unsigned number as floating point, a narrow
    // character beyond ASCII.
    EXPECT_EQ(
        Format(u"%p|%p|%p|%p|%hs|%s|%f|%.5d|%C", static_cast<const char16_t*>(nullptr),
               static_cast<const char*>(nullptr), 5, 1.0, static_cast<const char*>(nullptr), nullptr, 2u, 42, 0xE9),
        u"0000000000000000|0000000000000000|0000000000000005|%!p(bad argument)|(null)|(null)|2.000000|00042|\uFFFD");
}

TEST(FormatTest, MismatchesPrintVisiblePlaceholdersAndHugeWidthsAreCapped) {
    EXPECT_EQ(Format(u"%d|%s|%f", u"text", 12, "x"), u"%!d(bad argument)|%!s(bad argument)|%!f(bad argument)");
    EXPECT_EQ(Format(u"%d %d", 1), u"1 %!d(missing)");
    EXPECT_EQ(Format(u"%n", 1), u"%!n(unsupported)");
    EXPECT_EQ(Format(u"%q"), u"%!q(unknown conversion)");
    EXPECT_EQ(Format(u"50%"), u"50%");
    EXPECT_EQ(Format(u"%-"), u"%!(incomplete)");
    const std::u16string s = Format(u"%999999999d", 1);
    EXPECT_EQ(std::pair(s.size(), s.back()), std::pair(std::size_t{65536}, u'1'));
}

}  // namespace
