#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>

#include "module_base/PLComObject.h"
#include "module_base/PLDateMasks.h"
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

}  // namespace
