// The local wall-clock time, split into calendar fields.
//
// LocalTimeNow asks the C library (time zone rules included) and remembers the offset from UTC
// it found. LocalTimeNowSignalSafe may be called from a signal handler: it reads the real-time
// clock and applies the offset remembered by the last LocalTimeNow (or at load), since the C
// library's time-zone conversion is not async-signal-safe.
#ifndef KD_PLATFORM_LOCAL_TIME_H
#define KD_PLATFORM_LOCAL_TIME_H

#include <cstdint>

namespace kd::platform {

struct LocalTimeFields {
    int32_t year = 1970;  // four digits
    int32_t month = 1;    // 1 to 12
    int32_t day = 1;      // 1 to 31
    int32_t hour = 0;     // 0 to 23
    int32_t minute = 0;   // 0 to 59
    int32_t second = 0;   // 0 to 60 (a leap second)
};

LocalTimeFields LocalTimeNow() noexcept;
LocalTimeFields LocalTimeNowSignalSafe() noexcept;

// The calendar fields of `secondsSinceEpoch` (proleptic Gregorian calendar, no time zone).
LocalTimeFields CivilTimeFromSeconds(int64_t secondsSinceEpoch) noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_LOCAL_TIME_H
