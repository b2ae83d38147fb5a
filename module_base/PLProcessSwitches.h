// Process-wide switches set through the module interface.
#ifndef KD_PLPROCESSSWITCHES_H
#define KD_PLPROCESSSWITCHES_H

#include <cstdint>

bool PLGetMemoryTracking() noexcept;
void PLSetMemoryTracking(bool on) noexcept;
int32_t PLGetTwoDigitYearPivot() noexcept;
void PLSetTwoDigitYearPivot(int32_t pivot) noexcept;

#endif  // KD_PLPROCESSSWITCHES_H
