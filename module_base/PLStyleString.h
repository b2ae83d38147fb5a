// Style strings: name/value pairs as text, "name:value" pairs separated by ";".
//
// Runs of ";" count as one. In a pair, the name ends at the first ":" and the value at the next
// (the rest is ignored); both are trimmed of white space; a pair without a name is skipped and a
// pair without ":" has the empty value.
#ifndef KD_PLSTYLESTRING_H
#define KD_PLSTYLESTRING_H

#include <cstdint>
#include <string_view>
#include <vector>

#include <kdtrace/datetime.h>
#include <kdtrace/propertybag.h>

#include "module_base/PLPropertyBagFunctions.h"
#include "module_base/PLString.h"

struct PLStyleProperty {
    PLString name;
    PLString value;
};

// The pairs of a style string, in order; at most the first `limit`.
std::vector<PLStyleProperty> PLParseStyleString(std::u16string_view text, std::size_t limit = SIZE_MAX);

// Sets each pair of `text` in `bag` as a string property (a later pair of the same name wins).
// With `verifyAt`, the text must first verify as a signed property string at that time
// ("Failed to Verify SignedPropertyString" with the verification's code); its "securityKey" and
// "timeStamp" pairs are set too. E_POINTER for a null text or bag. Records under "Core Services",
// "Utility Functions".
HRESULT PLStyleStringToPropertyBag(const WCHAR* text, IPLPropertyBag* bag, IPLDateTime* verifyAt);

// Adds one property per pair to `collection`, each holding the value as a string variant.
HRESULT PLStyleStringToPropertyCollection(const WCHAR* text, IPLPropertyCollection* collection);

// The page-section extents ("xPos", "yPos", "width", "height") of a style string, read through a
// general property bag.
HRESULT GetPageSectionExtentsFromStyleString(const WCHAR* text, PLPageSectionExtents* extents);

#endif  // KD_PLSTYLESTRING_H
