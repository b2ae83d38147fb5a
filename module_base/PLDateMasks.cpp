#include "module_base/PLDateMasks.h"

#include <optional>
#include <string>

#include "module_base/PLError.h"
#include "platform/LocaleInfo.h"

namespace {

using kd::platform::LocaleItem;

constexpr const char* kGroup = "Core Services";
constexpr const char* kClass = "Utility Functions";

// The longest setting read, as the 8-character buffer of the locale API holds with its
// terminator.
constexpr std::size_t kMaxSettingLength = 7;

struct Masks {
    std::u16string format, format24, staticMask, editMask;
};

std::u16string Setting(LCID locale, LocaleItem item, const char* failure) {
    const std::optional<std::u16string> text = kd::platform::LocaleText(locale, item);
    if (!text || text->size() > kMaxSettingLength) PL_THROW_ERROR(E_FAIL, failure, 1);
    return *text;
}

// The leading decimal digits of a numeric setting.
int32_t Number(LCID locale, LocaleItem item, const char* failure) {
    int32_t value = 0;
    for (char16_t c : Setting(locale, item, failure)) {
        if (c < u'0' || c > u'9') break;
        value = value * 10 + (c - u'0');
    }
    return value;
}

std::u16string StaticForm(const std::u16string& separator) {
    return std::u16string(separator.size(), u'S');
}

// Joins three pieces with `separator` between them.
std::u16string Join(const char16_t* a, const char16_t* b, const char16_t* c, const std::u16string& separator) {
    return a + separator + b + separator + c;
}

Masks Build(BOOL includeTime, LCID locale) {
    const bool fourDigitYear = Number(locale, LocaleItem::FourDigitYear, "Failed to retrieve century format") == 1;
    const int32_t order = Number(locale, LocaleItem::DateOrder, "Failed to retrieve date format");
    const std::u16string date = Setting(locale, LocaleItem::DateSeparator, "Failed to retrieve date separator");
    const std::u16string time = Setting(locale, LocaleItem::TimeSeparator, "Failed to retrieve time separator");
    const bool clock24 = Number(locale, LocaleItem::TwentyFourHourClock, "Failed to retrieve time mode") == 1;

    const std::u16string timeStatic = StaticForm(time);
    const std::u16string format24 = u" %H" + time + u"%M" + time + u"%S";
    Masks t;
    if (clock24) {
        t.format = format24;
        t.staticMask = u"S00" + timeStatic + u"00" + timeStatic + u"00";
        t.editMask = u"   " + time + u"  " + time + u"  ";
    } else {
        t.format = u" %h" + time + u"%M" + time + u"%S %p";
        t.staticMask = u"S00" + timeStatic + u"00" + timeStatic + u"00SAA";
        t.editMask = u"   " + time + u"  " + time + u"     ";
    }

    const std::u16string dateStatic = StaticForm(date);
    const char16_t* year = fourDigitYear ? u"%y" : u"%2y";
    const char16_t* yearStatic = fourDigitYear ? u"0000" : u"00";
    const char16_t* yearEdit = fourDigitYear ? u"    " : u"  ";
    Masks d;
    switch (order) {
        case 0:  // month-day-year
            d.format = Join(u"%2m", u"%2d", year, date);
            d.staticMask = Join(u"00", u"00", yearStatic, dateStatic);
            d.editMask = Join(u"  ", u"  ", yearEdit, date);
            break;
        case 1:  // day-month-year
            d.format = Join(u"%2d", u"%2m", year, date);
            d.staticMask = Join(u"00", u"00", yearStatic, dateStatic);
            d.editMask = Join(u"  ", u"  ", yearEdit, date);
            break;
        case 2:  // year-month-day
            d.format = Join(year, u"%2m", u"%2d", date);
            d.staticMask = Join(yearStatic, u"00", u"00", dateStatic);
            d.editMask = Join(yearEdit, u"  ", u"  ", date);
            break;
        default:
            PL_THROW_ERROR(E_FAIL, "Invalid date format retrieved from system", 1);
    }
    if (!includeTime) return d;
    return {d.format + t.format, d.format + format24, d.staticMask + t.staticMask, d.editMask + t.editMask};
}

PLString ToPLString(const std::u16string& text) {
    PLString out;
    out.Append(text.data(), static_cast<int32_t>(text.size()));
    return out;
}

}  // namespace

HRESULT PLCreateDateMasks(PLString& format, PLString& format24, PLString& staticMask, PLString& editMask,
                          BOOL includeTime, LCID locale) {
    Masks masks;
    const bool built =
        ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) { masks = Build(includeTime, locale); }) >= 0;
    // Only running out of memory can fail here.
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        if (!built) {
            if (includeTime)
                masks = {u"%2m/%2d/%y %h:%M:%S %p", u"%2m/%2d/%y %H:%M:%S", u"00S00S0000S00S00S00SAA",
                         u"  /  /       :  :     "};
            else
                masks = {u"%2m/%2d/%y", u"", u"00S00S0000", u"  /  /    "};
        }
        format = ToPLString(masks.format);
        format24 = ToPLString(masks.format24);
        staticMask = ToPLString(masks.staticMask);
        editMask = ToPLString(masks.editMask);
    });
}
