#include "platform/LocalTime.h"

#include <gtest/gtest.h>
#include <time.h>

#include <vector>

#include "support/DiagReceiver.h"

namespace {

TEST(LocalTimeTest, CivilFieldsAndTheSignalSafeClock) {
    const auto fields = [](const kd::platform::LocalTimeFields& f) {
        return std::vector<int32_t>{f.year, f.month, f.day, f.hour, f.minute, f.second};
    };
    const std::pair<int64_t, std::vector<int32_t>> cases[] = {
        {951782400, {2000, 2, 29, 0, 0, 0}},  // a leap day of a century divisible by 400
        {4107542400, {2100, 3, 1, 0, 0, 0}},  // 2100 is not a leap year
        {-1, {1969, 12, 31, 23, 59, 59}},
    };
    for (const auto& [seconds, expected] : cases)
        EXPECT_EQ(fields(kd::platform::CivilTimeFromSeconds(seconds)), expected) << seconds;

    // The signal-safe clock applies the offset the ordinary clock saw (a zone of UTC+5:30 here,
    // which needs no zone database).
    kdtest::ScopedEnv zone("TZ", "XYZ-05:30");
    ::tzset();
    struct ResetZone {
        ~ResetZone() { ::tzset(); }
    } resetAfterwards;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const auto ordinary = kd::platform::LocalTimeNow();
        const auto safe = kd::platform::LocalTimeNowSignalSafe();
        if (ordinary.second != safe.second) continue;  // a second boundary fell between them
        EXPECT_EQ(fields(ordinary), fields(safe));
        EXPECT_EQ((ordinary.minute - kd::platform::CivilTimeFromSeconds(::time(nullptr)).minute + 60) % 60, 30);
        return;
    }
    ADD_FAILURE() << "the two clocks never agreed";
}

}  // namespace
