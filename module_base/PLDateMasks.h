// Date and time entry masks derived from a locale's date order, century, separators and clock.
#ifndef KD_PLDATEMASKS_H
#define KD_PLDATEMASKS_H

#include <kdtrace/datetime.h>
#include <kdtrace/types.h>

#include "module_base/PLString.h"

// Makes, for `locale`, the three forms of one entry layout:
// - `format`: the date mask ("%2m/%2d/%y", with " %h:%M:%S %p" or " %H:%M:%S" after it when
//   `includeTime`), and `format24` the same with the 24-hour time (empty without time);
// - `staticMask`: per position "0" a digit, "S" separator text, "A" the AM/PM marker;
// - `editMask`: per position a space where the user types, else the separator character.
// Fails only for want of memory: when a locale setting cannot be read (an unknown locale, a setting longer than 7
// characters) the failure is recorded and the U.S. layout with a four-digit year is handed out.
HRESULT PLCreateDateMasks(PLString& format, PLString& format24, PLString& staticMask, PLString& editMask,
                          BOOL includeTime, LCID locale);

#endif  // KD_PLDATEMASKS_H
