// Month and weekday names of date-times: the language companion's messages 45 to 56 (January
// to December) and 168 to 174 (Sunday to Saturday) in the default language, or the English
// name when the companion cannot give one (that failure is recorded, as every failed message
// read is).
#ifndef KD_PLDATENAMES_H
#define KD_PLDATENAMES_H

#include <cstdint>
#include <string>
#include <string_view>

// The full name of `month` (1 = January ... 12 = December); empty for any other number.
// The name is in `scratch` or in the calling thread's kept names: it stays as it is until the
// thread's next call for a name, or until `scratch` changes.
std::u16string_view PLMonthName(int32_t month, std::u16string& scratch);
// The full name of weekday `index` (0 = Sunday ... 6 = Saturday), else empty; as PLMonthName.
std::u16string_view PLWeekdayName(int32_t index, std::u16string& scratch);

#endif  // KD_PLDATENAMES_H
