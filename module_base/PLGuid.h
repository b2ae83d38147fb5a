// GUID text in the base library's string types.
#ifndef KD_PLGUID_H
#define KD_PLGUID_H

#include <kdtrace/types.h>

#include "module_base/PLString.h"

// Writes the GUID in its text form "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (upper case, no
// braces) into `buffer`, which must hold 37 characters; returns 0.
int PLGuidToString(REFGUID guid, WCHAR* buffer, int32_t size);
PLString PLGuidToString(REFGUID guid);

#endif  // KD_PLGUID_H
