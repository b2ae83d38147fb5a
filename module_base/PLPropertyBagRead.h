// Typed reads of one named value of a property bag, for the objects that configure themselves
// from a bag. Each sets `present` to whether the bag holds the name and reads the value only when
// it does, leaving `value` alone otherwise; so a missing name is a success. A failure of the bag
// or of the variant is recorded (module group "Core Services", class "Utility Functions") and
// returned.
#ifndef KD_PLPROPERTYBAGREAD_H
#define KD_PLPROPERTYBAGREAD_H

#include <kdtrace/propertybag.h>
#include <kdtrace/types.h>

#include "module_base/PLString.h"

HRESULT PLReadBagLong(IPLPropertyBag* bag, const WCHAR* name, LONG& value, bool& present) noexcept;
HRESULT PLReadBagBool(IPLPropertyBag* bag, const WCHAR* name, bool& value, bool& present) noexcept;
HRESULT PLReadBagString(IPLPropertyBag* bag, const WCHAR* name, PLString& value, bool& present) noexcept;

#endif  // KD_PLPROPERTYBAGREAD_H
