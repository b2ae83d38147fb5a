// Month and weekday names of date-times: the language companion's messages 45 to 56 (January
// to December) and 168 to 174 (Sunday to Saturday) in a given language, or the English name
// when the companion cannot give one (that failure is recorded, as every failed message read
// is). A text made of several names takes the language once (PLGetDefaultLanguage) and reads
// every name in it, so that a change of the default language meanwhile cannot mix two.
#ifndef KD_PLDATENAMES_H
#define KD_PLDATENAMES_H

#include <cstdint>
#include <string>
#include <string_view>

#include <kdtrace/types.h>

// The full name of `month` (1 = January ... 12 = December) in `language`; empty for any other
// number. The name is in `scratch` or in the calling thread's kept names: it stays as it is
// until the thread's next call for a name, or until `scratch` changes.
std::u16string_view PLMonthName(int32_t month, LONG language, std::u16string& scratch);
// The full name of weekday `index` (0 = Sunday ... 6 = Saturday), else empty; as PLMonthName.
std::u16string_view PLWeekdayName(int32_t index, LONG language, std::u16string& scratch);

#endif  // KD_PLDATENAMES_H
