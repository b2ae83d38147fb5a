#include "module_base/PLDateTime.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <thread>

#include "module_base/PLClassFactoryMap.h"
#include "module_base/PLCompareOperator.h"
#include "module_base/PLDateNames.h"
#include "module_base/PLError.h"
#include "module_base/PLProcessSwitches.h"
#include "module_base/PLResourceString.h"
#include "platform/AppendOnlyMap.h"
#include "platform/LocalTime.h"
#include "platform/LocaleInfo.h"
#include "platform/Text.h"

PL_REGISTER_CLASS(CPLDateTime, CLSID_PLDateTime);

namespace {

constexpr const char* kGroup = "Core Services";
bool IsHighSurrogate(char16_t c) noexcept {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) noexcept {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The units of the character `text` starts with: 2 for a surrogate pair, else 1.
std::size_t CharacterUnits(const char16_t* text) noexcept {
    return IsHighSurrogate(text[0]) && IsLowSurrogate(text[1]) ? 2 : 1;
}

// How many times Format writes a text whose names changed language while it was written.
constexpr int kFormatAttempts = 64;

// The null date: 1 January 1964.
constexpr int32_t kNullMonth = 1, kNullDay = 1, kNullYear = 1964;
// The Thai Buddhist calendar and its year offset.
constexpr int32_t kThaiCalendar = 7;
constexpr int32_t kThaiYearOffset = 543;
// Longest locale mask read for "%!", and the longest piece "%!" renders (the one read for
// "SYSTEMDATE"/"SYSTEMDATETIME" is CPLDateTime::kKeywordMaskSize).
constexpr LONG kLocaleDatePieceMaskSize = 51;
constexpr std::size_t kLocaleDatePieceLimit = 255;
// Beyond this a Julian day number gives a year outside 32 bits.
constexpr double kJulianLimit = 4.0e8;
// Day 0 of OLE automation dates, 30 December 1899, and their range (1 January 100 to
// 31 December 9999).
constexpr double kOleEpochJulian = 2415018.5;
constexpr double kOleMin = -657434.0;
constexpr double kOleMax = 2958466.0;

// A Thai Buddhist year read from text, as the year itself. Two digits stand for a Buddhist year
// within the hundred years the two-digit-year pivot chooses, as they do in other calendars:
// below the pivot 2600 on, else 2500 on (the pivot 10: 2510 to 2609, so 1967 to 2066).
int32_t ThaiYearToYear(int32_t year) noexcept {
    if (year >= 0 && year < 100) year += year < PLGetTwoDigitYearPivot() ? 2600 : 2500;
    return year - kThaiYearOffset;
}

bool IsLeapYear(int64_t year) noexcept {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int32_t DaysInMonth(int32_t month, int32_t year) noexcept {
    static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && IsLeapYear(year)) return 29;
    return kDays[month - 1];
}

// 0 = Sunday ... 6 = Saturday.
int32_t WeekdayIndex(double julian) noexcept {
    const int64_t day = static_cast<int64_t>(std::trunc(julian)) + 2;
    return static_cast<int32_t>(((day % 7) + 7) % 7);
}

void CheckOperator(LONG op) {
    if (!PLIsCompareOperator(op)) PL_THROW_ERROR(E_INVALIDARG, "Invalid operator", 1);
}

template <class T>
int32_t Order(T a, T b) noexcept {
    return a < b ? -1 : (b < a ? 1 : 0);
}

bool IsDigit(char16_t c) noexcept {
    return c >= u'0' && c <= u'9';
}

template <class Out>
void AppendNumber(Out& out, int64_t value, int width) {
    char16_t digits[24];
    int n = 0;
    const bool negative = value < 0;
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) out += u'-';
    for (int i = n; i < width; ++i) out += u'0';
    while (n > 0) out += digits[--n];
}

std::u16string Abbreviation(std::u16string_view name) {
    std::u16string text(name.substr(0, 3));
    kd::platform::ToUpperInPlace(text.data(), text.size());
    return text;
}

bool EqualNoCase(const char16_t* text, std::u16string_view name, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) {
        if (text[i] == 0 || i >= name.size()) return false;
        if (kd::platform::ToLower(text[i]) != kd::platform::ToLower(name[i])) return false;
    }
    return true;
}

// The mask keywords, which stand for the locale's masks; compared ignoring case.
enum class MaskKeyword { None, SystemDate, SystemDateTime };

MaskKeyword KeywordOf(const WCHAR* mask) noexcept {
    static constexpr char16_t kKeyword[] = u"SYSTEMDATETIME";
    constexpr std::size_t kDateLength = 10;  // "SYSTEMDATE"
    // The first letter is an S of either case; the others anything whose capital is the keyword's.
    if (mask[0] != u'S' && mask[0] != u's') return MaskKeyword::None;
    std::size_t i = 1;
    for (; i < std::size(kKeyword) - 1 && mask[i] != 0; ++i) {
        const char16_t c = mask[i];
        const char16_t upper = c < 0x80 ? (c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - (u'a' - u'A')) : c)
                                        : kd::platform::ToUpper(c);
        if (upper != kKeyword[i]) return MaskKeyword::None;
    }
    if (mask[i] != 0) return MaskKeyword::None;
    if (i == kDateLength) return MaskKeyword::SystemDate;
    return i == std::size(kKeyword) - 1 ? MaskKeyword::SystemDateTime : MaskKeyword::None;
}

// The parser's codes of one letter; any other "%" code ("%2m", "%2y", an unknown one) spans three
// mask characters.
constexpr std::u16string_view kParseCodes = u"mdDyYBbHhMSsPp";

// True when the mask from `i` on holds a year code, its codes passed over as the parser passes
// over them.
bool AsksForYear(const WCHAR* mask, std::size_t i) noexcept {
    while (mask[i] != 0) {
        if (mask[i] != u'%') {
            ++i;
            continue;
        }
        const WCHAR code = mask[i + 1];
        if (code == 0) return false;
        const WCHAR next = mask[i + 2];
        if (code == u'y' || code == u'Y' || (code == u'2' && (next == u'y' || next == u'Y'))) return true;
        const bool oneLetter = kParseCodes.find(code) != std::u16string_view::npos;
        if (!oneLetter && next == 0) return false;
        i += oneLetter ? 2 : 3;
    }
    return false;
}

void CopyOut(WCHAR* buffer, LONG size, const std::u16string& text) {
    const int32_t n = static_cast<int32_t>(std::min<std::size_t>(text.size(), static_cast<std::size_t>(size - 1)));
    PLCopyTextOut(buffer, text.c_str(), n);
}

}  // namespace

// Text written straight into a buffer of `room` characters (and a terminator after them);
// what does not fit is dropped.
struct CPLDateTime::TextOut {
    WCHAR* data;
    std::size_t room;
    std::size_t length = 0;
    bool cut = false;  // something did not fit

    bool Full() const noexcept { return length >= room; }
    TextOut& operator+=(char16_t c) {
        Put(c);
        return *this;
    }
    TextOut& operator+=(const char16_t* text) {
        while (*text != 0) Put(*text++);
        return *this;
    }
    TextOut& operator+=(const std::u16string& text) { return *this += text.c_str(); }
    TextOut& operator+=(std::u16string_view text) {
        for (std::size_t i = 0; i < text.size() && text[i] != 0; ++i) Put(text[i]);
        return *this;
    }
    // A text cut short (or filling its room: the writer stops there) never ends in half a
    // surrogate pair.
    void Terminate() {
        if ((cut || length == room) && length > 0 && IsHighSurrogate(data[length - 1])) --length;
        data[length] = 0;
    }

private:
    void Put(char16_t c) noexcept {
        if (length < room)
            data[length++] = c;
        else
            cut = true;
    }
};

// ---- Julian day numbers and OLE dates ----

// The classic floating-point algorithm in exact integer arithmetic: each truncated product or
// quotient by 365.25, 30.6001, 36524.25 or 122.1 is the same fraction of integers (365.25 =
// 1461/4, 30.6001 = 306001/10000, ...), and C++ integer division truncates as the algorithm's
// truncation does. None of those quotients falls so near an integer that rounding in floating
// point could move it across one, so both forms give the same days.
double PLJulianFromDate(int32_t month, int32_t day, int32_t year) noexcept {
    int64_t y = year, m = month;
    if (month < 3) {
        y -= 1;
        m += 12;
    }
    const int64_t a = y / 100;
    const int64_t b = 2 - a + a / 4;
    const int64_t days = (y + 4716) * 1461 / 4 + (m + 1) * 306001 / 10000 + day + b - 1525;
    return static_cast<double>(days) + 0.5;
}

bool PLDateFromJulian(double julian, int32_t& month, int32_t& day, int32_t& year) noexcept {
    if (!std::isfinite(julian) || std::fabs(julian) > kJulianLimit) return false;
    const int64_t z = static_cast<int64_t>(julian + 0.5);  // truncates, as the algorithm does
    const int64_t alpha = (4 * z - 7468865) / 146097;
    const int64_t a = z + 1 + alpha - alpha / 4;
    const int64_t b = a + 1524;
    const int64_t c = (20 * b - 2442) / 7305;
    const int64_t d = c * 1461 / 4;
    const int64_t e = (b - d) * 10000 / 306001;
    day = static_cast<int32_t>(b - d - e * 306001 / 10000);
    month = static_cast<int32_t>(e - 1 > 12 ? e - 13 : e - 1);
    year = static_cast<int32_t>(month < 3 ? c - 4715 : c - 4716);
    return true;
}

bool PLSystemTimeToVariantTime(const SYSTEMTIME& time, DATE& date) noexcept {
    if (time.wYear < 100 || time.wYear > 9999 || time.wMonth < 1 || time.wMonth > 12 || time.wDay < 1 ||
        time.wDay > DaysInMonth(time.wMonth, time.wYear) || time.wHour > 23 || time.wMinute > 59 || time.wSecond > 59)
        return false;
    const double days = PLJulianFromDate(time.wMonth, time.wDay, time.wYear) - kOleEpochJulian;
    const double fraction = (time.wHour * 3600.0 + time.wMinute * 60.0 + time.wSecond) / 86400.0;
    // Before day 0 the fraction still counts forward from midnight: -1.25 is 29 December 1899, 06:00.
    date = days < 0 ? days - fraction : days + fraction;
    return true;
}

bool PLVariantTimeToSystemTime(DATE date, SYSTEMTIME& time) noexcept {
    if (!(date >= kOleMin && date < kOleMax)) return false;
    double days = std::trunc(date);
    int64_t seconds = std::llround(std::fabs(date - days) * 86400.0);
    if (seconds >= 86400) {
        // Rounded up to the next midnight.
        days += 1;
        seconds = 0;
    }
    int32_t month = 0, day = 0, year = 0;
    if (!PLDateFromJulian(kOleEpochJulian + days, month, day, year) || year < 100 || year > 9999) return false;
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wDayOfWeek = static_cast<WORD>(WeekdayIndex(kOleEpochJulian + days));
    time.wHour = static_cast<WORD>(seconds / 3600);
    time.wMinute = static_cast<WORD>(seconds / 60 % 60);
    time.wSecond = static_cast<WORD>(seconds % 60);
    time.wMilliseconds = 0;
    return true;
}

// ---- creation, identity, the empty value ----

HRESULT PLCreateDateTime(LCID locale, IPLDateTime** dateTime) {
    if (dateTime == nullptr) return E_POINTER;
    *dateTime = nullptr;
    void* object = nullptr;
    const HRESULT hr = PLCreateObject<CPLDateTime>(IID_IPLDateTimePriv, nullptr, &object);
    if (hr < 0) return hr;
    auto* priv = static_cast<IPLDateTimePriv*>(object);
    priv->SetLocale(locale);
    *dateTime = priv;
    return S_OK;
}

CPLDateTime::CPLDateTime() noexcept {
    ClearFields();
}

void CPLDateTime::ClearFields() noexcept {
    if (m_checkNullDate)
        m_f = {kNullMonth, kNullDay, kNullYear, 0, 0, 0};
    else
        m_f = {-1, -1, -1, -1, -1, -1};
}

bool CPLDateTime::IsEmptyValue() const noexcept {
    if (m_checkNullDate)
        return m_f.month == kNullMonth && m_f.day == kNullDay && m_f.year == kNullYear && m_f.hour == 0 &&
               m_f.minute == 0 && m_f.second == 0;
    return m_f.month == -1 && m_f.day == -1 && m_f.year == -1 && m_f.hour == -1 && m_f.minute == -1 && m_f.second == -1;
}

void CPLDateTime::ApplyNullDateGuard() noexcept {
    // A real 1 January 1964 at midnight would read as the empty value: it is kept as noon.
    if (m_checkNullDate && IsEmptyValue()) m_f.hour = 12;
}

PLComPtr<CPLDateTime> CPLDateTime::MakeSibling() const {
    PLComPtr<CPLDateTime> other(new CPLDateTime());
    other->m_checkNullDate = m_checkNullDate;
    other->ClearFields();
    other->m_locale = m_locale;
    other->m_calendar = m_calendar;
    return other;
}

HRESULT CPLDateTime::Clear() {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { ClearFields(); });
}

HRESULT CPLDateTime::IsEmpty(BOOL* empty) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), empty, IsEmptyValue() ? TRUE : FALSE);
}

HRESULT CPLDateTime::GetCheckForPellumNullDate(BOOL* check) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), check, m_checkNullDate);
}

HRESULT CPLDateTime::SetCheckForPellumNullDate(BOOL check) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const BOOL value = check ? TRUE : FALSE;
        if (value == m_checkNullDate) return;
        const bool wasEmpty = IsEmptyValue();
        m_checkNullDate = value;
        if (wasEmpty) ClearFields();
    });
}

HRESULT CPLDateTime::GetLocale(LCID* locale) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), locale, m_locale);
}

HRESULT CPLDateTime::SetLocale(LCID locale) {
    m_locale = locale;
    return S_OK;
}

HRESULT CPLDateTime::SetTwoDigitYearPivot(LONG pivot) {
    PLSetTwoDigitYearPivot(pivot);
    return S_OK;
}

HRESULT CPLDateTime::SetCalendarToCurrentDefault() {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const auto calendar =
            kd::platform::LocaleNumber(kd::platform::kUserDefaultLocale, kd::platform::LocaleItem::CalendarType);
        if (!calendar) PL_THROW_ERROR(E_FAIL, "Failed to get user calendar type.", 1);
        m_calendar = *calendar;
    });
}

HRESULT CPLDateTime::Clone(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT& hr) {
        *object = nullptr;
        PLComPtr<CPLDateTime> copy = MakeSibling();
        copy->m_f = m_f;
        hr = copy->QueryInterface(iid, object);
        PL_THROW_IF_FAILED(hr);
    });
}

// ---- initialisation ----

void CPLDateTime::DoInitializeDate(int32_t month, int32_t day, int32_t year) {
    if (year >= 0 && year < 100) year += year < PLGetTwoDigitYearPivot() ? 2000 : 1900;
    // A date is valid when the Julian conversion gives it back. From year 400 to 9999 that is
    // exactly the calendar's rule, checked directly; elsewhere the conversion decides (it
    // differs from the rule once, taking 29 February 300 for a date and 1 March 300 not).
    bool valid = false;
    if (year >= 400 && year <= 9999) {
        valid = month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(month, year);
    } else {
        int32_t m = 0, d = 0, y = 0;
        valid = PLDateFromJulian(PLJulianFromDate(month, day, year), m, d, y) && m == month && d == day && y == year;
    }
    if (!valid) {
        ClearFields();
        PL_THROW_ERROR(E_FAIL, "Invalid date", 1);
    }
    m_f.month = month;
    m_f.day = day;
    m_f.year = year;
    ApplyNullDateGuard();
}

void CPLDateTime::DoInitializeTime(int32_t hour, int32_t minute, int32_t second) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        PL_THROW_ERROR(E_FAIL, "Invalid time", 1);
    m_f.hour = hour;
    m_f.minute = minute;
    m_f.second = second;
    ApplyNullDateGuard();
}

void CPLDateTime::DoInitialize(int32_t month, int32_t day, int32_t year, int32_t hour, int32_t minute, int32_t second) {
    // The steps run directly. A failing step runs again through its interface method, which
    // fails the same way and records the failure under its own name; this call's message
    // follows it.
    try {
        DoInitializeDate(month, day, year);
    } catch (const PL_ERROR&) {
        PL_THROW_ERROR(InitializeDate(month, day, year), "Failed to initialize date", 0);
        throw;
    }
    try {
        DoInitializeTime(hour, minute, second);
    } catch (const PL_ERROR&) {
        PL_THROW_ERROR(InitializeTime(hour, minute, second), "Failed to initialize time", 0);
        throw;
    }
}

void CPLDateTime::DoInitializeFromJulian(double julian) {
    Fields f{};
    if (!PLDateFromJulian(julian, f.month, f.day, f.year)) PL_THROW_ERROR(E_INVALIDARG, "Invalid Julian value", 1);
    m_f = f;
    ApplyNullDateGuard();
}

HRESULT CPLDateTime::InitializeCurrentTime() {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const kd::platform::LocalTimeFields now = kd::platform::LocalTimeNow();
        m_f = {now.month, now.day, now.year, now.hour, now.minute, std::min(now.second, 59)};
    });
}

HRESULT CPLDateTime::Initialize(LONG month, LONG day, LONG year, LONG hour, LONG minute, LONG second) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { DoInitialize(month, day, year, hour, minute, second); });
}

HRESULT CPLDateTime::InitializeDate(LONG month, LONG day, LONG year) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { DoInitializeDate(month, day, year); });
}

HRESULT CPLDateTime::InitializeTime(LONG hour, LONG minute, LONG second) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { DoInitializeTime(hour, minute, second); });
}

HRESULT CPLDateTime::InitializeFromJulian(double julian) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { DoInitializeFromJulian(julian); });
}

HRESULT CPLDateTime::InitializeFromDateTime(IPLDateTime* other) {
    if (other == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        LONG month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
        PL_THROW_ERROR(other->GetMonth(&month), "Failed to obtain month from date time object", 0);
        PL_THROW_ERROR(other->GetDay(&day), "Failed to obtain day from date time object", 0);
        PL_THROW_ERROR(other->GetYear(&year), "Failed to obtain year from date time object", 0);
        PL_THROW_ERROR(other->GetHour(&hour), "Failed to obtain hour from date time object", 0);
        PL_THROW_ERROR(other->GetMinute(&minute), "Failed to obtain minute from date time object", 0);
        PL_THROW_ERROR(other->GetSecond(&second), "Failed to obtain second from date time object", 0);
        PL_THROW_ERROR(Initialize(month, day, year, hour, minute, second), "Failed to initialize", 0);
        // Copying the empty value gives the empty value, not the guarded noon.
        if (m_checkNullDate) m_f.hour = hour, m_f.minute = minute, m_f.second = second;
    });
}

HRESULT CPLDateTime::InitializeFromSystemTime(const SYSTEMTIME* time) {
    if (time == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const SYSTEMTIME t = *time;
        PL_THROW_ERROR(Initialize(t.wMonth, t.wDay, t.wYear, t.wHour, t.wMinute, t.wSecond),
                       "Failed to initialize date from system time.", 0);
    });
}

HRESULT CPLDateTime::InitializeFromOleDateTime(DATE date) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        SYSTEMTIME time{};
        if (!PLVariantTimeToSystemTime(date, time))
            PL_THROW_ERROR(E_INVALIDARG, "Failed to convert variant time to system time.", 1);
        PL_THROW_IF_FAILED(InitializeFromSystemTime(&time));
    });
}

HRESULT CPLDateTime::InitializeFromTimeStampStruct(const TIMESTAMP_STRUCT* stamp) {
    if (stamp == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const TIMESTAMP_STRUCT s = *stamp;
        PL_THROW_ERROR(Initialize(s.month, s.day, s.year, s.hour, s.minute, s.second), "Failed to initialize date", 0);
        if (m_checkNullDate) m_f.hour = s.hour, m_f.minute = s.minute, m_f.second = s.second;
    });
}

// ---- parsing ----

void CPLDateTime::DoInitializeFromString(const WCHAR* text, const WCHAR* maskIn) {
    m_f.month = m_f.day = m_f.year = m_f.hour = m_f.minute = m_f.second = 0;
    WCHAR expanded[kKeywordMaskSize];
    const WCHAR* mask = ExpandMaskKeyword(maskIn, expanded);
    const LONG language = PLGetDefaultLanguage();  // every month name in one language

    Fields f{};
    enum { kNoMarker, kAM, kPM } marker = kNoMarker;
    bool hourRead = false;
    std::size_t t = 0;
    // Reads one or two digits, or a blank and one digit, for %m and %d.
    auto readSmall = [&](int32_t& into, const char* message) {
        if (IsDigit(text[t])) {
            into = text[t++] - u'0';
            if (IsDigit(text[t])) into = into * 10 + (text[t++] - u'0');
        } else if (text[t] == u' ' && IsDigit(text[t + 1])) {
            into = text[t + 1] - u'0';
            t += 2;
        } else {
            PL_THROW_ERROR(E_FAIL, message, 1);
        }
    };
    auto readTwoPositions = [&](int32_t& into) {
        into = 0;
        for (int i = 0; i < 2; ++i) {
            if (IsDigit(text[t]))
                into = into * 10 + (text[t++] - u'0');
            else if (text[t] == u' ')
                ++t;
            else
                break;
        }
    };
    auto readOptional = [&](int32_t& into) {
        if (!IsDigit(text[t])) return;
        into = text[t++] - u'0';
        if (IsDigit(text[t])) into = into * 10 + (text[t++] - u'0');
    };

    std::size_t i = 0;
    while (mask[i] != 0) {
        if (mask[i] != u'%') {
            // A literal stands for exactly one character of text, whatever it is.
            if (text[t] == 0) break;
            ++t;
            ++i;
        } else {
            if (text[t] == 0 || mask[i + 1] == 0) PL_THROW_ERROR(E_FAIL, "Unexpected end of string", 1);
            const WCHAR code = mask[i + 1];
            const bool two = code == u'2' && (mask[i + 2] == u'm' || mask[i + 2] == u'd' || mask[i + 2] == u'D' ||
                                              mask[i + 2] == u'y' || mask[i + 2] == u'Y');
            if (two) {
                const WCHAR field = mask[i + 2];
                i += 3;
                if (field == u'm') {
                    readTwoPositions(f.month);
                } else if (field == u'd' || field == u'D') {
                    readTwoPositions(f.day);
                } else {
                    // The next two characters; the digits among them, from the first on.
                    const std::size_t start = t;
                    if (text[t] != 0) ++t;
                    if (text[t] != 0) ++t;
                    if (!IsDigit(text[start])) PL_THROW_ERROR(E_FAIL, "Invalid year value", 1);
                    int32_t year = 0;
                    for (std::size_t k = start; k < t && IsDigit(text[k]); ++k) year = year * 10 + (text[k] - u'0');
                    f.year = year;
                }
            } else {
                i += 2;
                switch (code) {
                    case u'm':
                        readSmall(f.month, "Invalid month value");
                        break;
                    case u'd':
                    case u'D':
                        readSmall(f.day, "Invalid day value");
                        break;
                    case u'y':
                    case u'Y': {
                        // No digits is no year, not the year 0 (which would read as 2000).
                        if (!IsDigit(text[t])) PL_THROW_ERROR(E_FAIL, "Invalid year value", 1);
                        int32_t year = 0;
                        for (int k = 0; k < 4 && IsDigit(text[t]); ++k) year = year * 10 + (text[t++] - u'0');
                        // The limits are those of the year meant, whatever calendar wrote it.
                        const int32_t meant =
                            year >= 100 && m_calendar == kThaiCalendar ? year - kThaiYearOffset : year;
                        if (year >= 100 && meant < 1753) PL_THROW_ERROR(E_FAIL, "Year may not be before 1753", 1);
                        if (meant > 2999) PL_THROW_ERROR(E_FAIL, "Year may not be after 2999", 1);
                        f.year = year;
                        break;
                    }
                    case u'B': {
                        int32_t found = 0;
                        std::size_t length = 0;
                        std::u16string scratch;
                        for (int32_t m = 1; m <= 12 && found == 0; ++m) {
                            const std::u16string_view name = PLMonthName(m, language, scratch);
                            if (!name.empty() && EqualNoCase(text + t, name, name.size()))
                                found = m, length = name.size();
                        }
                        if (found == 0) PL_THROW_ERROR(E_FAIL, "Invalid month name", 1);
                        f.month = found;
                        t += length;
                        break;
                    }
                    case u'b': {
                        int32_t found = 0;
                        std::u16string scratch;
                        if (text[t + 1] != 0 && text[t + 2] != 0)
                            for (int32_t m = 1; m <= 12 && found == 0; ++m)
                                if (EqualNoCase(text + t, PLMonthName(m, language, scratch).substr(0, 3), 3)) found = m;
                        if (found == 0) PL_THROW_ERROR(E_FAIL, "Invalid month name", 1);
                        f.month = found;
                        t += 3;
                        break;
                    }
                    case u'H':
                    case u'h': {
                        int32_t value = 0;
                        if (IsDigit(text[t]))
                            value = text[t] - u'0';
                        else if (text[t] != u' ')
                            PL_THROW_ERROR(E_FAIL, "Invalid hour value", 1);
                        ++t;
                        if (IsDigit(text[t])) value = value * 10 + (text[t++] - u'0');
                        if (code == u'h' && (value < 1 || value > 12)) PL_THROW_ERROR(E_FAIL, "Invalid hour value", 1);
                        f.hour = std::min(f.hour + value, 1000);
                        hourRead = true;
                        break;
                    }
                    case u'M':
                        readOptional(f.minute);
                        break;
                    case u'S':
                    case u's':
                        readOptional(f.second);
                        break;
                    case u'p':
                    case u'P': {
                        // "AM", "PM", "A." or "P." (either case): both characters are read, and the
                        // marker applies once the whole text is read, wherever it stands.
                        const WCHAR letter = kd::platform::ToUpper(text[t]);
                        const WCHAR next = text[t + 1];
                        if ((letter != u'A' && letter != u'P') || (next != u'M' && next != u'm' && next != u'.'))
                            PL_THROW_ERROR(E_FAIL, "Invalid AM/PM stamp", 1);
                        marker = letter == u'A' ? kAM : kPM;
                        t += 2;
                        break;
                    }
                    default:
                        // An unknown code passes over itself and the mask character after it (a
                        // character beyond U+FFFF is one of two units).
                        i += IsHighSurrogate(code) ? CharacterUnits(mask + i - 1) - 1 : 0;
                        if (mask[i] == 0) PL_THROW_ERROR(E_FAIL, "Unexpected end of string", 1);
                        i += CharacterUnits(mask + i);
                        break;
                }
            }
        }
        if (text[t] == 0) break;
    }
    // A year the mask asks for must be in the text: a date cut short is not one of the year 2000.
    if (AsksForYear(mask, i)) PL_THROW_ERROR(E_FAIL, "Unexpected end of string", 1);

    if (marker == kPM && f.hour < 12) f.hour += 12;
    if (marker == kAM && f.hour == 12) f.hour = 0;
    if (m_calendar == kThaiCalendar) f.year = ThaiYearToYear(f.year);
    try {
        DoInitialize(f.month, f.day, f.year, f.hour, f.minute, f.second);
    } catch (const PL_ERROR&) {
        // Again through the interface, to record the failure under Initialize (see DoInitialize).
        PL_THROW_ERROR(Initialize(f.month, f.day, f.year, f.hour, f.minute, f.second), "Failed to initialize", 0);
        throw;
    }
    // The empty value is written as midnight of the null date, where a real date is kept as
    // noon: text that gives that time reads back as the empty value, as a copy of it does.
    if (hourRead && m_checkNullDate && f.month == kNullMonth && f.day == kNullDay && f.year == kNullYear &&
        f.hour == 0 && f.minute == 0 && f.second == 0)
        ClearFields();
}

const WCHAR* CPLDateTime::ExpandMaskKeyword(const WCHAR* mask, WCHAR (&buffer)[kKeywordMaskSize]) {
    const MaskKeyword keyword = KeywordOf(mask);
    if (keyword == MaskKeyword::None) return mask;
    PL_THROW_ERROR(
        GetLocaleDateTimeFormatString(keyword == MaskKeyword::SystemDate ? TRUE : FALSE, buffer, kKeywordMaskSize),
        "Failed to get locale format string.", 0);
    return buffer[0] != 0 ? buffer : mask;
}

HRESULT CPLDateTime::InitializeFromString(const WCHAR* text, const WCHAR* mask) {
    if (text == nullptr || mask == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) { DoInitializeFromString(text, mask); });
}

HRESULT CPLDateTime::InitializeFromStringEx(const WCHAR* text, const WCHAR* mask, BOOL* success) {
    if (text == nullptr || mask == nullptr || success == nullptr) return E_POINTER;
    HRESULT hr = S_OK;
    {
        const CPLThreadErrorSuspender suspend;
        hr = InitializeFromString(text, mask);
    }
    return PLStoreOut(PL_GUARD_SITE(kGroup), success, hr >= 0 ? TRUE : FALSE);
}

// ---- formatting ----

void CPLDateTime::DoFormat(const WCHAR* maskIn, LONG language, TextOut& out) {
    WCHAR expanded[kKeywordMaskSize];
    const WCHAR* mask = ExpandMaskKeyword(maskIn, expanded);
    std::u16string scratch;  // a name that is not kept
    // The parser takes the offset off every year, so it is added to every year here.
    const int32_t displayYear = m_calendar == kThaiCalendar ? m_f.year + kThaiYearOffset : m_f.year;
    for (std::size_t i = 0; mask[i] != 0 && !out.Full();) {
        if (mask[i] != u'%') {
            out += mask[i++];
            continue;
        }
        const WCHAR code = mask[i + 1];
        if (code == 0) PL_THROW_ERROR(E_FAIL, "Unexpected end of format string", 1);
        i += 2;
        switch (code) {
            case u'd':
                AppendNumber(out, m_f.day, 0);
                break;
            case u'm':
                AppendNumber(out, m_f.month, 0);
                break;
            case u'y':
                AppendNumber(out, displayYear, 0);
                break;
            case u'H':
                AppendNumber(out, m_f.hour, 2);
                break;
            case u'h':
                AppendNumber(out, m_f.hour == 0 ? 12 : (m_f.hour > 12 ? m_f.hour - 12 : m_f.hour), 2);
                break;
            case u'M':
                AppendNumber(out, m_f.minute, 2);
                break;
            case u'S':
                AppendNumber(out, m_f.second, 2);
                break;
            case u'p':
                out += m_f.hour < 12 ? u"AM" : u"PM";
                break;
            case u'A':
                out += PLWeekdayName(WeekdayIndex(PLJulianFromDate(m_f.month, m_f.day, m_f.year)), language, scratch);
                break;
            case u'a':
                out += Abbreviation(
                    PLWeekdayName(WeekdayIndex(PLJulianFromDate(m_f.month, m_f.day, m_f.year)), language, scratch));
                break;
            case u'B':
                out += PLMonthName(m_f.month, language, scratch);
                break;
            case u'b':
                out += Abbreviation(PLMonthName(m_f.month, language, scratch));
                break;
            case u'j': {
                const double day =
                    PLJulianFromDate(m_f.month, m_f.day, m_f.year) - PLJulianFromDate(1, 1, m_f.year) + 1;
                AppendNumber(out, static_cast<int64_t>(day), 0);
                break;
            }
            case u'w':
                AppendNumber(out, WeekdayIndex(PLJulianFromDate(m_f.month, m_f.day, m_f.year)) + 1, 0);
                break;
            case u'!': {
                WCHAR localeMask[kLocaleDatePieceMaskSize];
                PL_THROW_ERROR(GetLocaleDateTimeFormatString(TRUE, localeMask, kLocaleDatePieceMaskSize),
                               "Failed to obtain locale formatting string", 0);
                WCHAR pieceText[kLocaleDatePieceLimit + 1];
                TextOut piece{pieceText, kLocaleDatePieceLimit};
                DoFormat(localeMask, language, piece);
                piece.Terminate();
                out += pieceText;
                break;
            }
            case u'2': {
                const WCHAR field = mask[i];
                if (field == 0) PL_THROW_ERROR(E_FAIL, "Unexpected end of format string", 1);
                ++i;
                if (field == u'd') {
                    AppendNumber(out, m_f.day, 2);
                } else if (field == u'm') {
                    AppendNumber(out, m_f.month, 2);
                } else if (field == u'y') {
                    // The year within its century (years before 1900 included).
                    AppendNumber(out, ((displayYear - 1900) % 100 + 100) % 100, 2);
                } else {
                    out += u'2';
                    out += field;
                }
                break;
            }
            default:
                // An unknown code is written and the mask character after it passed over; a code
                // or character beyond U+FFFF (two units) is one character.
                const bool pair = IsHighSurrogate(code) && IsLowSurrogate(mask[i]);
                if (mask[i + (pair ? 1 : 0)] == 0) PL_THROW_ERROR(E_FAIL, "Unexpected end of format string", 1);
                out += code;
                if (pair) out += mask[i++];
                i += CharacterUnits(mask + i);
                break;
        }
    }
}

HRESULT CPLDateTime::Format(const WCHAR* mask, WCHAR* buffer, LONG size) {
    if (mask == nullptr || buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        // A text takes all its month and weekday names from the language that was the default as
        // it began. It is written again when the language or the companion changed, or was being
        // changed, meanwhile (a bounded number of times, should changes never stop), so that a
        // text begun before a change and finished after it is given in the new language.
        for (int attempt = 0;; ++attempt) {
            const uint64_t generation = PLResourceStringGeneration();
            const LONG language = PLGetDefaultLanguage();
            buffer[0] = 0;
            TextOut out{buffer, static_cast<std::size_t>(size) - 1};
            try {
                DoFormat(mask, language, out);
            } catch (...) {
                buffer[0] = 0;  // a failure leaves no partial text
                throw;
            }
            if (attempt < kFormatAttempts - 1) {
                // A change under way is given the processor to finish.
                if (PLResourceStringChanging()) {
                    std::this_thread::yield();
                    continue;
                }
                if (PLResourceStringGeneration() != generation) continue;
            }
            out.Terminate();
            return;
        }
    });
}

namespace {

// Locale masks once built, by the identifier of the locale they were built for and whether
// they hold the time. A mask follows from the locale's settings alone, which never change for
// an identifier, so an entry never goes stale. The user and system default locales are resolved
// to an identifier from the environment on every call (ResolveLocaleId), before the lookup: a
// host that changes LANG or LC_ALL gets the new locale's mask on its next call. Masks that
// cannot be built are not kept, so their failures are recorded every time.
using LocaleMasks = kd::platform::AppendOnlyMap<uint64_t, std::u16string, 64>;

LocaleMasks& KeptLocaleMasks() {
    static LocaleMasks* masks = new LocaleMasks();  // kept for the process, as the settings are
    return *masks;
}

uint64_t LocaleMaskKey(uint32_t locale, bool dateOnly) noexcept {
    return static_cast<uint64_t>(locale) << 1 | (dateOnly ? 1u : 0u);
}

}  // namespace

std::u16string CPLDateTime::BuildLocaleMask(uint32_t locale, bool dateOnly) {
    using kd::platform::LocaleItem;
    auto number = [&](LocaleItem item, const char* message) {
        const auto value = kd::platform::LocaleNumber(locale, item);
        if (!value) PL_THROW_ERROR(E_FAIL, message, 1);
        return *value;
    };
    auto text = [&](LocaleItem item, const char* message) {
        auto value = kd::platform::LocaleText(locale, item);
        if (!value) PL_THROW_ERROR(E_FAIL, message, 1);
        return std::move(*value);
    };
    const std::u16string year =
        number(LocaleItem::FourDigitYear, "Failed to retrieve century format") != 0 ? u"%y" : u"%2y";
    const int32_t order = number(LocaleItem::DateOrder, "Failed to retrieve date format");
    const std::u16string day =
        number(LocaleItem::DayLeadingZero, "Failed to retrieve date format") != 0 ? u"%2d" : u"%d";
    const std::u16string month =
        number(LocaleItem::MonthLeadingZero, "Failed to retrieve date format") != 0 ? u"%2m" : u"%m";
    const std::u16string separator = text(LocaleItem::DateSeparator, "Failed to retrieve date separator");
    std::u16string mask;
    switch (order) {
        case 0:
            mask = month + separator + day + separator + year;
            break;
        case 1:
            mask = day + separator + month + separator + year;
            break;
        case 2:
            mask = year + separator + month + separator + day;
            break;
        default:
            PL_THROW_ERROR(E_FAIL, "Invalid date format retrieved from system", 1);
    }
    if (!dateOnly) {
        const bool clock24 = number(LocaleItem::TwentyFourHourClock, "Failed to time format") != 0;
        const bool markerFirst = number(LocaleItem::TimeMarkerFirst, "Failed to retrieve time mark position") != 0;
        const std::u16string t = text(LocaleItem::TimeSeparator, "Failed to retrieve date separator");
        mask += u' ';
        if (clock24)
            mask += u"%H" + t + u"%M" + t + u"%S";
        else if (markerFirst)
            mask += u"%p %h" + t + u"%M" + t + u"%S";
        else
            mask += u"%h" + t + u"%M" + t + u"%S %p";
    }
    return mask;
}

HRESULT CPLDateTime::GetLocaleDateTimeFormatString(BOOL dateOnly, WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        // The locale is resolved once: every setting of the mask comes from the same locale.
        const uint32_t locale = kd::platform::ResolveLocaleId(m_locale);
        const uint64_t key = LocaleMaskKey(locale, dateOnly != FALSE);
        const std::u16string* mask = KeptLocaleMasks().Find(key);
        std::u16string built;
        if (mask == nullptr) {
            built = BuildLocaleMask(locale, dateOnly != FALSE);
            mask = KeptLocaleMasks().Add(key, built);
            if (mask == nullptr) mask = &built;
        }
        PLCopyTextOut(buffer, mask->c_str(), static_cast<int32_t>(std::min<std::size_t>(mask->size(), size - 1)));
    });
}

HRESULT CPLDateTime::GetDateFormatFromFormatMask(LONG flags, WCHAR separator, WCHAR* buffer, LONG size) {
    if (buffer == nullptr) return E_POINTER;
    if (size < 1) return E_INVALIDARG;
    if (flags == 0) return S_OK;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const std::u16string month = (flags & 0x80) ? u"%b" : (flags & 0x20) ? u"%2m" : (flags & 0x100) ? u"%B" : u"%m";
        const std::u16string day = (flags & 0x10) ? u"%2d" : u"%d";
        const std::u16string year = (flags & 0x40) ? u"%y" : u"%2y";
        std::u16string sep;
        if (separator != 0) sep += separator;
        std::u16string mask;
        if (flags & 0x1)
            mask = month + sep + day + sep + year;
        else if (flags & 0x2)
            mask = day + sep + month + sep + year;
        else if (flags & 0x4)
            mask = year + sep + month + sep + day;
        else if (flags & 0x8)
            mask = month + u" " + day + u", " + year;
        CopyOut(buffer, size, mask);
        buffer[size - 1] = 0;
    });
}

// ---- getters ----

HRESULT CPLDateTime::GetJulianValue(double* julian) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), julian, PLJulianFromDate(m_f.month, m_f.day, m_f.year));
}

HRESULT CPLDateTime::GetDateTime(LONG* month, LONG* day, LONG* year, LONG* hour, LONG* minute, LONG* second) {
    if (month == nullptr || day == nullptr || year == nullptr || hour == nullptr || minute == nullptr ||
        second == nullptr)
        return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        *month = m_f.month;
        *day = m_f.day;
        *year = m_f.year;
        *hour = m_f.hour;
        *minute = m_f.minute;
        *second = m_f.second;
    });
}

HRESULT CPLDateTime::GetMonth(LONG* month) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), month, m_f.month);
}
HRESULT CPLDateTime::GetDay(LONG* day) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), day, m_f.day);
}
HRESULT CPLDateTime::GetYear(LONG* year) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), year, m_f.year);
}
HRESULT CPLDateTime::GetHour(LONG* hour) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), hour, m_f.hour);
}
HRESULT CPLDateTime::GetMinute(LONG* minute) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), minute, m_f.minute);
}
HRESULT CPLDateTime::GetSecond(LONG* second) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), second, m_f.second);
}

HRESULT CPLDateTime::GetDayOfWeek(LONG* day) {
    return PLStoreOut(PL_GUARD_SITE(kGroup), day, WeekdayIndex(PLJulianFromDate(m_f.month, m_f.day, m_f.year)) + 1);
}

HRESULT CPLDateTime::GetDayOfYear(LONG* day) {
    const double value = PLJulianFromDate(m_f.month, m_f.day, m_f.year) - PLJulianFromDate(1, 1, m_f.year) + 1;
    return PLStoreOut(PL_GUARD_SITE(kGroup), day, static_cast<LONG>(value));
}

HRESULT CPLDateTime::GetSystemTime(SYSTEMTIME* time) {
    if (time == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        SYSTEMTIME t{};
        t.wYear = static_cast<WORD>(m_f.year);
        t.wMonth = static_cast<WORD>(m_f.month);
        t.wDay = static_cast<WORD>(m_f.day);
        t.wHour = static_cast<WORD>(m_f.hour);
        t.wMinute = static_cast<WORD>(m_f.minute);
        t.wSecond = static_cast<WORD>(m_f.second);
        *time = t;
    });
}

HRESULT CPLDateTime::GetOleDateTime(DATE* date) {
    if (date == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        SYSTEMTIME time{};
        PL_THROW_ERROR(GetSystemTime(&time), "Failed to obtain system time.", 0);
        DATE value = 0;
        if (!PLSystemTimeToVariantTime(time, value))
            PL_THROW_ERROR(E_FAIL, "Failed to convert system time to ole date time.", 1);
        *date = value;
    });
}

HRESULT CPLDateTime::FillTimeStampStruct(TIMESTAMP_STRUCT* stamp) {
    if (stamp == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        TIMESTAMP_STRUCT s{};
        s.year = static_cast<int16_t>(m_f.year);
        s.month = static_cast<uint16_t>(m_f.month);
        s.day = static_cast<uint16_t>(m_f.day);
        s.hour = static_cast<uint16_t>(m_f.hour);
        s.minute = static_cast<uint16_t>(m_f.minute);
        s.second = static_cast<uint16_t>(m_f.second);
        s.fraction = 0;
        *stamp = s;
    });
}

// ---- arithmetic ----

HRESULT CPLDateTime::Adjust(LONG days, LONG hours, LONG minutes, LONG seconds) {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const bool wasEmpty = IsEmptyValue();
        // Everything in seconds, then split with floor division, so that every field stays in
        // its range whatever the signs and sizes of the four amounts.
        const int64_t total = ((static_cast<int64_t>(days) * 24 + hours) * 60 + minutes) * 60 + seconds +
                              (static_cast<int64_t>(m_f.hour) * 60 + m_f.minute) * 60 + m_f.second;
        int64_t dayShift = total / 86400;
        int64_t timeOfDay = total % 86400;
        if (timeOfDay < 0) timeOfDay += 86400, dayShift -= 1;
        Fields f = m_f;
        if (dayShift != 0 &&
            !PLDateFromJulian(PLJulianFromDate(m_f.month, m_f.day, m_f.year) + static_cast<double>(dayShift), f.month,
                              f.day, f.year))
            PL_THROW_ERROR(E_INVALIDARG, "Failed to set value", 1);
        f.hour = static_cast<int32_t>(timeOfDay / 3600);
        f.minute = static_cast<int32_t>(timeOfDay / 60 % 60);
        f.second = static_cast<int32_t>(timeOfDay % 60);
        m_f = f;
        if (!wasEmpty) ApplyNullDateGuard();
    });
}

HRESULT CPLDateTime::SetToFirstOfMonth() {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const bool wasEmpty = IsEmptyValue();
        m_f.day = 1;
        if (!wasEmpty) ApplyNullDateGuard();
    });
}

HRESULT CPLDateTime::SetToLastOfMonth() {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        if (m_f.month < 1 || m_f.month > 12) PL_THROW_ERROR(E_FAIL, "Invalid date", 1);
        m_f.day = DaysInMonth(m_f.month, m_f.year);
    });
}

namespace {
// The day before, or the Saturday before when that is a Sunday.
double LastBusinessDay(double julian) noexcept {
    julian -= 1;
    if (WeekdayIndex(julian) == 0) julian -= 1;
    return julian;
}
}  // namespace

HRESULT CPLDateTime::SetToLastBusinessDay() {
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        const double julian = LastBusinessDay(PLJulianFromDate(m_f.month, m_f.day, m_f.year));
        PL_THROW_ERROR(InitializeFromJulian(julian), "Failed to initialize from Julian", 0);
    });
}

HRESULT CPLDateTime::GetLastBusinessDay(IPLDateTime** result) {
    if (result == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        *result = nullptr;
        PLComPtr<CPLDateTime> other = MakeSibling();
        const double julian = LastBusinessDay(PLJulianFromDate(m_f.month, m_f.day, m_f.year));
        PL_THROW_ERROR(other->InitializeFromJulian(julian), "Failed to set value from Julian", 0);
        PL_THROW_ERROR(other->QueryInterface(IID_IPLDateTime, reinterpret_cast<void**>(result)),
                       "Date object does not support IPLDateTime", 1);
    });
}

HRESULT CPLDateTime::GetFirstOfMonth(IPLDateTime** result) {
    if (result == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        *result = nullptr;
        PLComPtr<CPLDateTime> other = MakeSibling();
        PL_THROW_ERROR(other->Initialize(m_f.month, 1, m_f.year, m_f.hour, m_f.minute, m_f.second),
                       "Failed to intialize date", 0);
        PL_THROW_ERROR(other->QueryInterface(IID_IPLDateTime, reinterpret_cast<void**>(result)),
                       "Date object does not support IPLDateTime", 1);
    });
}

HRESULT CPLDateTime::GetLastOfMonth(IPLDateTime** result) {
    if (result == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        *result = nullptr;
        if (m_f.month < 1 || m_f.month > 12) PL_THROW_ERROR(E_FAIL, "Invalid date", 1);
        PLComPtr<CPLDateTime> other = MakeSibling();
        PL_THROW_ERROR(
            other->Initialize(m_f.month, DaysInMonth(m_f.month, m_f.year), m_f.year, m_f.hour, m_f.minute, m_f.second),
            "Failed to initialize date", 0);
        PL_THROW_ERROR(other->QueryInterface(IID_IPLDateTime, reinterpret_cast<void**>(result)),
                       "Date object does not support IPLDateTime", 1);
    });
}

// ---- comparison ----

int32_t CPLDateTime::CompareDates(IPLDateTime* other) const {
    const double mine = PLJulianFromDate(m_f.month, m_f.day, m_f.year);
    double theirs = 0;
    PL_THROW_ERROR(other->GetJulianValue(&theirs), "Failed to obtain julian value from date", 0);
    return Order(mine, theirs);
}

int32_t CPLDateTime::CompareTimes(IPLDateTime* other) const {
    LONG hour = 0, minute = 0, second = 0;
    PL_THROW_ERROR(other->GetHour(&hour), "Failed to obtain hour from date object", 0);
    PL_THROW_ERROR(other->GetMinute(&minute), "Failed to obtain minute from date object", 0);
    PL_THROW_ERROR(other->GetSecond(&second), "Failed to obtain second from date object", 0);
    if (const int32_t o = Order(m_f.hour, hour); o != 0) return o;
    if (const int32_t o = Order(m_f.minute, minute); o != 0) return o;
    return Order(m_f.second, second);
}

HRESULT CPLDateTime::CompareDate(IPLDateTime* other, LONG op, BOOL* result) {
    if (other == nullptr || result == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        CheckOperator(op);
        *result = PLEvaluateCompareOperator(op, CompareDates(other)) ? TRUE : FALSE;
    });
}

HRESULT CPLDateTime::CompareTime(IPLDateTime* other, LONG op, BOOL* result) {
    if (other == nullptr || result == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        CheckOperator(op);
        *result = PLEvaluateCompareOperator(op, CompareTimes(other)) ? TRUE : FALSE;
    });
}

HRESULT CPLDateTime::Compare(IPLDateTime* other, LONG op, BOOL* result) {
    if (other == nullptr || result == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE(kGroup), [&](HRESULT&) {
        CheckOperator(op);
        // The date decides; the time only between equal dates.
        BOOL sameDate = FALSE;
        PL_THROW_ERROR(CompareDate(other, PLCompareEqual, &sameDate), "Failed to compare date", 0);
        BOOL outcome = FALSE;
        if (!sameDate) {
            PL_THROW_ERROR(CompareDate(other, op, &outcome), "Failed to compare date", 0);
        } else {
            PL_THROW_ERROR(CompareTime(other, op, &outcome), "Failed to compate time", 0);
        }
        *result = outcome;
    });
}
