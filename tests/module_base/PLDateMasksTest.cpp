#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>

#include "module_base/PLComObject.h"
#include "module_base/PLDateMasks.h"
#include "module_base/PLDateTime.h"
#include "support/ErrorList.h"
#include "support/HResult.h"

namespace {

// Format, 24-hour format, static mask, edit mask.
using Masks = std::array<std::u16string, 4>;

Masks Make(BOOL includeTime, LCID locale) {
    PLString format(u"x"), format24(u"x"), staticMask(u"x"), editMask(u"x");
    EXPECT_HR(PLCreateDateMasks(format, format24, staticMask, editMask, includeTime, locale), S_OK);
    return {std::u16string(format.view()), std::u16string(format24.view()), std::u16string(staticMask.view()),
            std::u16string(editMask.view())};
}

TEST(PLDateMasks, FollowTheLocaleOrderSeparatorsAndClockWithDefaultsForAnUnreadableLocale) {
    const Masks kUsWithTime = {u"%2m/%2d/%y %h:%M:%S %p", u"%2m/%2d/%y %H:%M:%S", u"00S00S0000S00S00S00SAA",
                               u"  /  /       :  :     "};
    const std::tuple<LCID, BOOL, Masks> cases[] = {
        {0x0409, FALSE, {u"%2m/%2d/%y", u"", u"00S00S0000", u"  /  /    "}},
        {0x0409, TRUE, kUsWithTime},
        {0x0407, FALSE, {u"%2d.%2m.%y", u"", u"00S00S0000", u"  .  .    "}},
        {0x0411,
         TRUE,
         {u"%y/%2m/%2d %H:%M:%S", u"%y/%2m/%2d %H:%M:%S", u"0000S00S00S00S00S00", u"    /  /     :  :  "}}};
    for (const auto& [locale, includeTime, expected] : cases)
        EXPECT_EQ(Make(includeTime, locale), expected) << std::hex << locale;

    // An unreadable locale gives the defaults and records why.
    kdtest::TakeThreadErrors();
    EXPECT_EQ(Make(TRUE, 0x9999), kUsWithTime);
    EXPECT_FALSE(kdtest::TakeThreadErrors().empty());
}

// Every position of a written date-time lines up with the masks: a digit under "0", the
// separator under "S" (and in the edit mask), the marker under "A". (Reading such text back is
// the date-time's own test.)
TEST(PLDateMasks, TextWrittenThroughTheFormatFitsTheMasks) {
    PLComPtr<IPLDateTime> dt;
    ASSERT_HR(PLCreateDateTime(0x0409, dt.Put()), S_OK);
    ASSERT_HR(dt->Initialize(12, 25, 2021, 23, 45, 30), S_OK);
    for (const LCID locale : {0x0409u, 0x0411u}) {  // a 12-hour clock; year first, 24 hours
        SCOPED_TRACE(locale);
        const Masks m = Make(TRUE, locale);
        WCHAR text[64];
        ASSERT_HR(dt->Format(m[0].c_str(), text, 64), S_OK);
        const std::u16string written(text);
        ASSERT_EQ(written.size(), m[2].size());
        ASSERT_EQ(m[3].size(), m[2].size());
        for (std::size_t i = 0; i < written.size(); ++i) {
            const char16_t kind = m[2][i];
            EXPECT_EQ(kind == u'0', written[i] >= u'0' && written[i] <= u'9') << i;
            EXPECT_EQ(kind == u'S', m[3][i] != u' ' || written[i] == u' ') << i;
            EXPECT_EQ(kind == u'A', written[i] == u'P' || written[i] == u'M') << i;
            EXPECT_TRUE(m[3][i] == u' ' || written[i] == m[3][i]) << i;
        }
    }
}

}  // namespace
