#include "platform/LocaleInfo.h"

#include <unicode/ucal.h>
#include <unicode/udat.h>
#include <unicode/uloc.h>
#include <unicode/unum.h>

#include <array>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "platform/Language.h"
#include "platform/Mutex.h"

namespace kd::platform {
namespace {

constexpr std::uint32_t kUnitedStatesEnglish = 0x0409;

// Where CLDR and Windows disagree on a setting the library depends on, Windows' value. Keyed by
// the identifier without its sort bits. Keep this short: every row is a known difference.
struct LocaleOverride {
    std::uint32_t languageId;
    const char16_t* shortDate;  // the short date picture, or null
    int negativeCurrencyOrder;  // or -1
};
constexpr LocaleOverride kOverrides[] = {
    // Windows writes negative U.S. dollars in parentheses; CLDR's standard pattern has a minus.
    {0x0409, nullptr, 0},
    // CLDR's Spanish short date has no leading zeros and a 2-digit year: "d/M/yy".
    {0x040A, u"dd/MM/yyyy", -1},
    {0x0C0A, u"dd/MM/yyyy", -1},
    // CLDR's Dutch short date has leading zeros: "dd-MM-y".
    {0x0413, u"d-M-yyyy", -1},
    // CLDR's Korean short date is "yy. M. d.", whose separator is two characters.
    {0x0412, u"yyyy-MM-dd", -1},
};

const LocaleOverride* FindOverride(std::uint32_t languageId) {
    for (const LocaleOverride& row : kOverrides) {
        if (row.languageId == (languageId & 0xFFFF)) return &row;
    }
    return nullptr;
}

// Slots of LocaleData::values, one per LocaleItem.
constexpr std::array<LocaleItem, 27> kItems = {
    LocaleItem::DecimalSeparator,
    LocaleItem::ThousandSeparator,
    LocaleItem::Grouping,
    LocaleItem::LeadingZero,
    LocaleItem::CurrencySymbol,
    LocaleItem::MonetaryDecimalSeparator,
    LocaleItem::MonetaryThousandSeparator,
    LocaleItem::MonetaryGrouping,
    LocaleItem::CurrencyDigits,
    LocaleItem::PositiveCurrencyOrder,
    LocaleItem::NegativeCurrencyOrder,
    LocaleItem::DateSeparator,
    LocaleItem::TimeSeparator,
    LocaleItem::ShortDatePattern,
    LocaleItem::DateOrder,
    LocaleItem::TwentyFourHourClock,
    LocaleItem::FourDigitYear,
    LocaleItem::HourLeadingZero,
    LocaleItem::DayLeadingZero,
    LocaleItem::MonthLeadingZero,
    LocaleItem::AmDesignator,
    LocaleItem::PmDesignator,
    LocaleItem::NegativeSign,
    LocaleItem::EnglishLanguageName,
    LocaleItem::TimePattern,
    LocaleItem::TimeMarkerFirst,
    LocaleItem::CalendarType,
};

int Slot(LocaleItem item) {
    for (std::size_t i = 0; i < kItems.size(); ++i) {
        if (kItems[i] == item) return static_cast<int>(i);
    }
    return -1;
}

bool IsTextItem(LocaleItem item) {
    switch (item) {
        case LocaleItem::DecimalSeparator:
        case LocaleItem::ThousandSeparator:
        case LocaleItem::Grouping:
        case LocaleItem::CurrencySymbol:
        case LocaleItem::MonetaryDecimalSeparator:
        case LocaleItem::MonetaryThousandSeparator:
        case LocaleItem::MonetaryGrouping:
        case LocaleItem::DateSeparator:
        case LocaleItem::TimeSeparator:
        case LocaleItem::ShortDatePattern:
        case LocaleItem::AmDesignator:
        case LocaleItem::PmDesignator:
        case LocaleItem::NegativeSign:
        case LocaleItem::EnglishLanguageName:
        case LocaleItem::TimePattern:
            return true;
        default:
            return false;
    }
}

struct LocaleData {
    std::string icuName;
    std::array<std::u16string, kItems.size()> values;

    void Set(LocaleItem item, std::u16string value) { values[static_cast<std::size_t>(Slot(item))] = std::move(value); }
    void Set(LocaleItem item, int value) { Set(item, NumberText(value)); }
    static std::u16string NumberText(int value) {
        const std::string narrow = std::to_string(value);
        return std::u16string(narrow.begin(), narrow.end());
    }
};

// Directional marks CLDR puts around signs and symbols of right-to-left locales; Windows'
// settings carry none.
bool IsDirectionMark(char16_t c) {
    return c == 0x200E || c == 0x200F || c == 0x061C;
}
bool IsSpaceLike(char16_t c) {
    return c == u' ' || c == 0x00A0 || c == 0x202F || c == 0x2009;
}

std::u16string WithoutDirectionMarks(std::u16string text) {
    std::erase_if(text, IsDirectionMark);
    return text;
}

template <typename Fill>
std::u16string IcuText(Fill fill) {
    UChar buffer[256];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = fill(buffer, static_cast<int32_t>(std::size(buffer)), &status);
    if (U_FAILURE(status) || n < 0 || n > static_cast<int32_t>(std::size(buffer))) return {};
    return std::u16string(buffer, static_cast<std::size_t>(n));
}

struct NumberFormatCloser {
    void operator()(UNumberFormat* f) const { unum_close(f); }
};
struct DateFormatCloser {
    void operator()(UDateFormat* f) const { udat_close(f); }
};
using NumberFormatPtr = std::unique_ptr<UNumberFormat, NumberFormatCloser>;
using DateFormatPtr = std::unique_ptr<UDateFormat, DateFormatCloser>;

std::u16string Symbol(const UNumberFormat* format, UNumberFormatSymbol symbol) {
    return WithoutDirectionMarks(
        IcuText([&](UChar* b, int32_t n, UErrorCode* s) { return unum_getSymbol(format, symbol, b, n, s); }));
}

// Windows' grouping text: "3;0" for groups of three repeated, "3;2;0" for three then twos.
std::u16string GroupingText(const UNumberFormat* format) {
    const int32_t primary = unum_getAttribute(format, UNUM_GROUPING_SIZE);
    const int32_t secondary = unum_getAttribute(format, UNUM_SECONDARY_GROUPING_SIZE);
    if (!unum_getAttribute(format, UNUM_GROUPING_USED) || primary <= 0 || primary > 9) return u"0";
    std::u16string text(1, static_cast<char16_t>(u'0' + primary));
    if (secondary > 0 && secondary <= 9 && secondary != primary) {
        text += u';';
        text += static_cast<char16_t>(u'0' + secondary);
    }
    return text + u";0";
}

// Splits an ICU number pattern's subpattern into its prefix and suffix, unquoted, with every
// currency sign as "$", every space as " " and direction marks dropped.
struct Affixes {
    std::u16string prefix;
    std::u16string suffix;
};
Affixes SplitSubpattern(std::u16string_view pattern) {
    Affixes affixes;
    bool inNumber = false;
    bool afterNumber = false;
    bool quoted = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        if (c == u'\'') {
            if (i + 1 < pattern.size() && pattern[i + 1] == u'\'') {
                (afterNumber ? affixes.suffix : affixes.prefix) += u'\'';
                ++i;
            } else {
                quoted = !quoted;
            }
            continue;
        }
        const bool numberChar =
            !quoted && (c == u'#' || c == u'0' || c == u',' || c == u'.' || c == u'@' || (c >= u'1' && c <= u'9'));
        if (numberChar) {
            inNumber = true;
            continue;
        }
        if (inNumber) afterNumber = true;
        std::u16string& affix = afterNumber ? affixes.suffix : affixes.prefix;
        if (IsDirectionMark(c)) continue;
        if (!quoted && c == 0x00A4) {
            if (affix.empty() || affix.back() != u'$') affix += u'$';
        } else if (IsSpaceLike(c)) {
            affix += u' ';
        } else {
            affix += c;
        }
    }
    return affixes;
}

// The shapes of the currency orders, "N" for the number and "$" for the symbol.
constexpr std::array<std::u16string_view, 4> kPositiveShapes = {u"$N", u"N$", u"$ N", u"N $"};
constexpr std::array<std::u16string_view, 16> kNegativeShapes = {u"($N)", u"-$N",  u"$-N",   u"$N-",  u"(N$)", u"-N$",
                                                                 u"N-$",  u"N$-",  u"-N $",  u"-$ N", u"N $-", u"$ N-",
                                                                 u"$ -N", u"N- $", u"($ N)", u"(N $)"};

template <std::size_t N>
int ShapeOrder(const std::array<std::u16string_view, N>& shapes, const Affixes& affixes) {
    const std::u16string shape = affixes.prefix + u"N" + affixes.suffix;
    for (std::size_t i = 0; i < N; ++i) {
        if (shapes[i] == shape) return static_cast<int>(i);
    }
    return -1;
}

// Both currency orders from ICU's currency pattern ("¤#,##0.00", "#,##0.00 ¤;-#,##0.00 ¤").
void CurrencyOrders(std::u16string_view pattern, int& positiveOrder, int& negativeOrder) {
    const std::size_t semicolon = pattern.find(u';');
    const Affixes positive = SplitSubpattern(pattern.substr(0, semicolon));
    positiveOrder = ShapeOrder(kPositiveShapes, positive);
    if (positiveOrder < 0) positiveOrder = positive.prefix.find(u'$') != std::u16string::npos ? 0 : 1;
    Affixes negative;
    if (semicolon != std::u16string_view::npos) {
        negative = SplitSubpattern(pattern.substr(semicolon + 1));
    } else {
        negative = {u"-" + positive.prefix, positive.suffix};
    }
    negativeOrder = ShapeOrder(kNegativeShapes, negative);
    // A shape Windows has no order for: a leading minus beside the positive shape.
    static constexpr int kMinusFirst[] = {1, 5, 9, 8};
    if (negativeOrder < 0) negativeOrder = kMinusFirst[positiveOrder];
}

// An ICU date or time pattern in Windows picture letters: years widened to four digits, the
// day period as "tt", era as "gg", spaces as U+0020.
std::u16string WindowsPicture(std::u16string_view pattern) {
    std::u16string out;
    for (std::size_t i = 0; i < pattern.size();) {
        const char16_t c = pattern[i];
        if (c == u'\'') {
            const std::size_t end = pattern.find(u'\'', i + 1);
            const std::size_t stop = end == std::u16string_view::npos ? pattern.size() : end + 1;
            out.append(pattern.substr(i, stop - i));
            i = stop;
            continue;
        }
        std::size_t run = 1;
        while (i + run < pattern.size() && pattern[i + run] == c) ++run;
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        if (!letter) {
            for (std::size_t k = 0; k < run; ++k) {
                if (!IsDirectionMark(c)) out += IsSpaceLike(c) ? u' ' : c;
            }
        } else if (c == u'y' || c == u'u') {
            out += u"yyyy";
        } else if (c == u'a' || c == u'b' || c == u'B') {
            out += u"tt";
        } else if (c == u'G') {
            out += u"gg";
        } else if (c == u'E') {
            out += run >= 4 ? u"dddd" : u"ddd";
        } else if (c == u'K') {
            out.append(run, u'h');
        } else if (c == u'k') {
            out.append(run, u'H');
        } else if (c == u'M' || c == u'L') {
            out.append(run, u'M');
        } else {
            out.append(run, c);
        }
        i += run;
    }
    // A leading or trailing blank left by a dropped field.
    while (!out.empty() && out.back() == u' ') out.pop_back();
    return out;
}

// A field of a Windows picture: its letter, where it starts and how long it is.
struct Field {
    char16_t letter = 0;
    std::size_t position = std::u16string::npos;
    std::size_t length = 0;
};
struct PictureFields {
    std::array<Field, 8> fields;
    std::size_t count = 0;
};
PictureFields Fields(std::u16string_view picture) {
    PictureFields result;
    for (std::size_t i = 0; i < picture.size();) {
        const char16_t c = picture[i];
        if (c == u'\'') {
            const std::size_t end = picture.find(u'\'', i + 1);
            i = end == std::u16string_view::npos ? picture.size() : end + 1;
            continue;
        }
        std::size_t run = 1;
        while (i + run < picture.size() && picture[i + run] == c) ++run;
        if (((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) && result.count < result.fields.size()) {
            result.fields[result.count++] = {c, i, run};
        }
        i += run;
    }
    return result;
}
const Field* FindField(const PictureFields& fields, char16_t letter) {
    for (std::size_t i = 0; i < fields.count; ++i) {
        if (fields.fields[i].letter == letter) return &fields.fields[i];
    }
    return nullptr;
}
// The literal text between two fields, unquoted.
std::u16string Between(std::u16string_view picture, const Field& first, const Field& second) {
    std::u16string text;
    for (std::size_t i = first.position + first.length; i < second.position; ++i) {
        if (picture[i] != u'\'') text += picture[i];
    }
    return text;
}

void AddDateSettings(LocaleData& data, std::u16string picture) {
    const PictureFields fields = Fields(picture);
    const Field* year = FindField(fields, u'y');
    const Field* month = FindField(fields, u'M');
    const Field* day = FindField(fields, u'd');
    int order = 0;
    if (year != nullptr && month != nullptr && day != nullptr) {
        if (year->position < month->position) {
            order = 2;
        } else if (day->position < month->position) {
            order = 1;
        }
    }
    std::u16string separator;
    for (std::size_t i = 0; i + 1 < fields.count; ++i) {
        const Field& a = fields.fields[i];
        const Field& b = fields.fields[i + 1];
        if ((a.letter == u'y' || a.letter == u'M' || a.letter == u'd') &&
            (b.letter == u'y' || b.letter == u'M' || b.letter == u'd')) {
            separator = Between(picture, a, b);
            break;
        }
    }
    data.Set(LocaleItem::DateOrder, order);
    data.Set(LocaleItem::DateSeparator, separator.empty() ? u"/" : separator);
    data.Set(LocaleItem::FourDigitYear, year != nullptr && year->length >= 4 ? 1 : 0);
    data.Set(LocaleItem::DayLeadingZero, day != nullptr && day->length >= 2 ? 1 : 0);
    data.Set(LocaleItem::MonthLeadingZero, month != nullptr && month->length >= 2 ? 1 : 0);
    data.Set(LocaleItem::ShortDatePattern, std::move(picture));
}

void AddTimeSettings(LocaleData& data, std::u16string picture) {
    const PictureFields fields = Fields(picture);
    const Field* hour = FindField(fields, u'H');
    const bool twentyFour = hour != nullptr;
    if (hour == nullptr) hour = FindField(fields, u'h');
    const Field* minute = FindField(fields, u'm');
    const Field* marker = FindField(fields, u't');
    std::u16string separator;
    if (hour != nullptr && minute != nullptr && hour->position < minute->position) {
        separator = Between(picture, *hour, *minute);
    }
    data.Set(LocaleItem::TimeSeparator, separator.empty() ? u":" : separator);
    data.Set(LocaleItem::TwentyFourHourClock, twentyFour ? 1 : 0);
    data.Set(LocaleItem::HourLeadingZero, hour != nullptr && hour->length >= 2 ? 1 : 0);
    data.Set(LocaleItem::TimeMarkerFirst,
             marker != nullptr && hour != nullptr && marker->position < hour->position ? 1 : 0);
    data.Set(LocaleItem::TimePattern, std::move(picture));
}

int CalendarNumber(const char* type) {
    if (type == nullptr) return 1;
    static constexpr struct {
        const char* name;
        int number;
    } kCalendars[] = {{"japanese", 3}, {"roc", 4},     {"buddhist", 7},          {"hebrew", 8},
                      {"persian", 22}, {"islamic", 6}, {"islamic-umalqura", 23}, {"islamic-civil", 6}};
    for (const auto& row : kCalendars) {
        if (std::strcmp(row.name, type) == 0) return row.number;
    }
    return 1;  // gregorian, iso8601 and calendars Windows has no number for
}

std::shared_ptr<const LocaleData> Compute(std::uint32_t languageId) {
    char base[ULOC_FULLNAME_CAPACITY];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t baseLength = uloc_getLocaleForLCID(languageId, base, sizeof base, &status);
    if (U_FAILURE(status) || baseLength <= 0 || baseLength >= static_cast<int32_t>(sizeof base) ||
        std::strcmp(base, "root") == 0) {
        return nullptr;
    }
    // A language without a region ("de") takes the region it most likely has, as Windows does.
    char name[ULOC_FULLNAME_CAPACITY];
    status = U_ZERO_ERROR;
    const int32_t nameLength = uloc_addLikelySubtags(base, name, sizeof name, &status);
    if (U_FAILURE(status) || nameLength <= 0 || nameLength >= static_cast<int32_t>(sizeof name)) {
        std::memcpy(name, base, sizeof name);
    }

    auto data = std::make_shared<LocaleData>();
    data->icuName = name;

    status = U_ZERO_ERROR;
    const NumberFormatPtr number(unum_open(UNUM_DECIMAL, nullptr, 0, name, nullptr, &status));
    if (U_FAILURE(status)) return nullptr;
    status = U_ZERO_ERROR;
    const NumberFormatPtr currency(unum_open(UNUM_CURRENCY, nullptr, 0, name, nullptr, &status));
    if (U_FAILURE(status)) return nullptr;

    data->Set(LocaleItem::DecimalSeparator, Symbol(number.get(), UNUM_DECIMAL_SEPARATOR_SYMBOL));
    data->Set(LocaleItem::ThousandSeparator, Symbol(number.get(), UNUM_GROUPING_SEPARATOR_SYMBOL));
    data->Set(LocaleItem::Grouping, GroupingText(number.get()));
    data->Set(LocaleItem::LeadingZero, unum_getAttribute(number.get(), UNUM_MIN_INTEGER_DIGITS) > 0 ? 1 : 0);
    data->Set(LocaleItem::NegativeSign, Symbol(number.get(), UNUM_MINUS_SIGN_SYMBOL));
    data->Set(LocaleItem::CurrencySymbol, Symbol(currency.get(), UNUM_CURRENCY_SYMBOL));
    data->Set(LocaleItem::MonetaryDecimalSeparator, Symbol(currency.get(), UNUM_MONETARY_SEPARATOR_SYMBOL));
    data->Set(LocaleItem::MonetaryThousandSeparator, Symbol(currency.get(), UNUM_MONETARY_GROUPING_SEPARATOR_SYMBOL));
    data->Set(LocaleItem::MonetaryGrouping, GroupingText(currency.get()));
    data->Set(LocaleItem::CurrencyDigits, unum_getAttribute(currency.get(), UNUM_MAX_FRACTION_DIGITS));
    int positiveOrder = 0;
    int negativeOrder = 1;
    CurrencyOrders(
        IcuText([&](UChar* b, int32_t n, UErrorCode* s) { return unum_toPattern(currency.get(), false, b, n, s); }),
        positiveOrder, negativeOrder);

    const LocaleOverride* override = FindOverride(languageId);
    if (override != nullptr && override->negativeCurrencyOrder >= 0) negativeOrder = override->negativeCurrencyOrder;
    data->Set(LocaleItem::PositiveCurrencyOrder, positiveOrder);
    data->Set(LocaleItem::NegativeCurrencyOrder, negativeOrder);

    static constexpr UChar kZone[] = u"UTC";
    status = U_ZERO_ERROR;
    const DateFormatPtr date(udat_open(UDAT_NONE, UDAT_SHORT, name, kZone, -1, nullptr, 0, &status));
    if (U_FAILURE(status)) return nullptr;
    status = U_ZERO_ERROR;
    const DateFormatPtr time(udat_open(UDAT_MEDIUM, UDAT_NONE, name, kZone, -1, nullptr, 0, &status));
    if (U_FAILURE(status)) return nullptr;

    std::u16string datePicture = override != nullptr && override->shortDate != nullptr
                                     ? std::u16string(override->shortDate)
                                     : WindowsPicture(IcuText([&](UChar* b, int32_t n, UErrorCode* s) {
                                           return udat_toPattern(date.get(), false, b, n, s);
                                       }));
    AddDateSettings(*data, std::move(datePicture));
    AddTimeSettings(*data, WindowsPicture(IcuText([&](UChar* b, int32_t n, UErrorCode* s) {
        return udat_toPattern(time.get(), false, b, n, s);
    })));
    data->Set(LocaleItem::AmDesignator, IcuText([&](UChar* b, int32_t n, UErrorCode* s) {
                  return udat_getSymbols(time.get(), UDAT_AM_PMS, 0, b, n, s);
              }));
    data->Set(LocaleItem::PmDesignator, IcuText([&](UChar* b, int32_t n, UErrorCode* s) {
                  return udat_getSymbols(time.get(), UDAT_AM_PMS, 1, b, n, s);
              }));

    status = U_ZERO_ERROR;
    UCalendar* calendar = ucal_open(kZone, -1, name, UCAL_DEFAULT, &status);
    int calendarNumber = 1;
    if (U_SUCCESS(status)) {
        calendarNumber = CalendarNumber(ucal_getType(calendar, &status));
        ucal_close(calendar);
    }
    data->Set(LocaleItem::CalendarType, calendarNumber);
    data->Set(LocaleItem::EnglishLanguageName, IcuText([&](UChar* b, int32_t n, UErrorCode* s) {
                  return uloc_getDisplayLanguage(name, "en", b, n, s);
              }));
    return data;
}

// Settings once computed, by identifier. Unknown identifiers are remembered too (as null), so a
// caller asking again and again for one does not reach ICU each time. Computing one locale's
// settings takes some 60 us (several ICU formatters are opened); a cached lookup some 15 ns.
class LocaleCache {
public:
    std::shared_ptr<const LocaleData> Find(std::uint32_t languageId) {
        {
            LockGuard<Mutex> guard(m_lock);
            const auto found = m_entries.find(languageId);
            if (found != m_entries.end()) return found->second;
        }
        // Computed outside the lock: two threads may both compute one identifier, and the first
        // stored wins.
        std::shared_ptr<const LocaleData> data = Compute(languageId);
        LockGuard<Mutex> guard(m_lock);
        // Callers passing ever new identifiers (sort variants, garbage) must not grow the cache
        // without bound: past the limit the settings are computed on each call.
        if (m_entries.size() >= kMaxEntries) return data;
        return m_entries.emplace(languageId, std::move(data)).first->second;
    }

private:
    static constexpr std::size_t kMaxEntries = 1024;
    Mutex m_lock;
    std::unordered_map<std::uint32_t, std::shared_ptr<const LocaleData>> m_entries GUARDED_BY(m_lock);
};

LocaleCache& Cache() {
    static LocaleCache* cache = new LocaleCache();  // kept for the process: used until exit
    return *cache;
}

std::shared_ptr<const LocaleData> DataFor(std::uint32_t languageId) {
    return Cache().Find(ResolveLocaleId(languageId));
}

}  // namespace

std::uint32_t ResolveLocaleId(std::uint32_t languageId) noexcept {
    if (languageId != 0 && languageId != kUserDefaultLocale && languageId != kSystemDefaultLocale) return languageId;
    const std::uint32_t process = SystemDefaultLanguageId();
    return process != 0 ? process : kUnitedStatesEnglish;
}

bool IsKnownLocale(std::uint32_t languageId) noexcept {
    try {
        return DataFor(languageId) != nullptr;
    } catch (...) {
        return false;
    }
}

std::optional<std::u16string> LocaleText(std::uint32_t languageId, LocaleItem item) {
    const int slot = Slot(item);
    if (slot < 0) return std::nullopt;
    const std::shared_ptr<const LocaleData> data = DataFor(languageId);
    if (data == nullptr) return std::nullopt;
    return data->values[static_cast<std::size_t>(slot)];
}

std::optional<std::int32_t> LocaleNumber(std::uint32_t languageId, LocaleItem item) {
    if (IsTextItem(item)) return std::nullopt;
    const std::optional<std::u16string> text = LocaleText(languageId, item);
    if (!text.has_value() || text->empty()) return std::nullopt;
    std::int32_t value = 0;
    for (const char16_t c : *text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    return value;
}

std::string LocaleIcuName(std::uint32_t languageId) {
    const std::shared_ptr<const LocaleData> data = DataFor(languageId);
    return data == nullptr ? std::string() : data->icuName;
}

}  // namespace kd::platform
