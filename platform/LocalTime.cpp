#include "platform/LocalTime.h"

#include <time.h>

#include <atomic>

namespace kd::platform {

namespace {

// Seconds east of UTC, as last seen by LocalTimeNow.
std::atomic<int64_t> g_utcOffset{0};

LocalTimeFields FromTm(const struct tm& t) noexcept {
    LocalTimeFields f;
    f.year = t.tm_year + 1900;
    f.month = t.tm_mon + 1;
    f.day = t.tm_mday;
    f.hour = t.tm_hour;
    f.minute = t.tm_min;
    f.second = t.tm_sec;
    return f;
}

// The offset is known before the first record, so that a report from a signal handler early in
// the process still shows local time.
[[maybe_unused]] const bool g_offsetPrimed = [] {
    LocalTimeNow();
    return true;
}();

}  // namespace

LocalTimeFields LocalTimeNow() noexcept {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const time_t seconds = now.tv_sec;
    struct tm local {};
    if (::localtime_r(&seconds, &local) == nullptr) return CivilTimeFromSeconds(seconds);
    g_utcOffset.store(local.tm_gmtoff, std::memory_order_relaxed);
    return FromTm(local);
}

LocalTimeFields LocalTimeNowSignalSafe() noexcept {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return CivilTimeFromSeconds(static_cast<int64_t>(now.tv_sec) + g_utcOffset.load(std::memory_order_relaxed));
}

LocalTimeFields CivilTimeFromSeconds(int64_t secondsSinceEpoch) noexcept {
    // Days and seconds of the day, rounding towards minus infinity.
    int64_t days = secondsSinceEpoch / 86400;
    int64_t rest = secondsSinceEpoch % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from a day count (H. Hinnant's algorithm): eras of 400 years from 0000-03-01.
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    LocalTimeFields f;
    f.year = static_cast<int32_t>(year);
    f.month = static_cast<int32_t>(month);
    f.day = static_cast<int32_t>(day);
    f.hour = static_cast<int32_t>(rest / 3600);
    f.minute = static_cast<int32_t>(rest / 60 % 60);
    f.second = static_cast<int32_t>(rest % 60);
    return f;
}

}  // namespace kd::platform
