// Locale settings by language identifier (Windows LCID), computed from ICU's locale data.
//
// One place computes every locale setting the library reads: separators, currency symbol,
// digits and orders, the short date and time patterns and what the date and time masks derive
// from them, the calendar and the English language name. Values come as text, as the Windows
// locale API gives them (numbers too: the date order is "0", "1" or "2"), or as numbers for the
// numeric items.
//
// Identifiers 0x0400 (user default), 0x0800 (system default) and 0 (neutral) name the process's
// locale: LC_ALL, else LC_MESSAGES, else LANG; U.S. English when none is set or the name is
// unknown. They are read on every call, so a change of the environment is seen at once.
//
// ICU's data (CLDR) and Windows disagree for a few settings the library relies on; a small
// override table in LocaleInfo.cpp gives Windows' value there. Everything else is ICU's.
//
// Thread-safe. The settings of each identifier are computed once and kept for the process.
#ifndef KD_PLATFORM_LOCALE_INFO_H
#define KD_PLATFORM_LOCALE_INFO_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kd::platform {

inline constexpr std::uint32_t kUserDefaultLocale = 0x0400;
inline constexpr std::uint32_t kSystemDefaultLocale = 0x0800;

// The settings. Each value is the item number of the Windows locale API, so a number a caller
// holds converts directly.
enum class LocaleItem : std::uint32_t {
    DecimalSeparator = 0x0E,           // "." / ","
    ThousandSeparator = 0x0F,          // "," / "." / U+202F
    Grouping = 0x10,                   // "3;0": groups of 3, repeated; "3;2;0": 3, then 2s
    LeadingZero = 0x12,                // "1": 0.5, "0": .5
    CurrencySymbol = 0x14,             // "$", "€"
    MonetaryDecimalSeparator = 0x16,   //
    MonetaryThousandSeparator = 0x17,  //
    MonetaryGrouping = 0x18,           // as Grouping
    CurrencyDigits = 0x19,             // "2"; "0" for the yen
    PositiveCurrencyOrder = 0x1B,      // "0" $1.1, "1" 1.1$, "2" $ 1.1, "3" 1.1 $
    NegativeCurrencyOrder = 0x1C,      // "0" ($1.1) ... "15" (1.1 $), as the currency formatter numbers them
    DateSeparator = 0x1D,              // "/"
    TimeSeparator = 0x1E,              // ":"
    ShortDatePattern = 0x1F,           // "M/d/yyyy" (Windows picture letters)
    DateOrder = 0x21,                  // "0" month-day-year, "1" day-month-year, "2" year-month-day
    TwentyFourHourClock = 0x23,        // "0" 12-hour, "1" 24-hour
    FourDigitYear = 0x24,              // "1" when the short date has a 4-digit year
    HourLeadingZero = 0x25,            //
    DayLeadingZero = 0x26,             //
    MonthLeadingZero = 0x27,           //
    AmDesignator = 0x28,               // "AM"
    PmDesignator = 0x29,               // "PM"
    NegativeSign = 0x51,               // "-"
    EnglishLanguageName = 0x1001,      // "German"
    TimePattern = 0x1003,              // "h:mm:ss tt" (Windows picture letters)
    TimeMarkerFirst = 0x1005,          // "1" when the AM/PM marker precedes the hour
    CalendarType = 0x1009,             // "1" Gregorian, "3" Japanese, "4" Taiwan, "7" Thai Buddhist ...
};

// The identifier whose settings `languageId` stands for: the process's language for 0, 0x0400
// and 0x0800, else `languageId` itself.
std::uint32_t ResolveLocaleId(std::uint32_t languageId) noexcept;

// True when the identifier names a locale ICU knows.
bool IsKnownLocale(std::uint32_t languageId) noexcept;

// The text of a setting. Empty optional when the identifier is unknown or the item is not one
// of LocaleItem's.
std::optional<std::u16string> LocaleText(std::uint32_t languageId, LocaleItem item);

// A numeric setting as a number. Empty optional when the identifier is unknown or the item is
// text (a separator, symbol, name or pattern).
std::optional<std::int32_t> LocaleNumber(std::uint32_t languageId, LocaleItem item);

// The ICU locale name the settings are computed from ("de_Latn_DE"); empty when unknown.
std::string LocaleIcuName(std::uint32_t languageId);

}  // namespace kd::platform

#endif  // KD_PLATFORM_LOCALE_INFO_H
