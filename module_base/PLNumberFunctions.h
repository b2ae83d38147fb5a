// Number conversion and decimal-separator functions. Each returns an HRESULT and records its
// failures under ("Core Services", "Utility Functions", the function's name).
#ifndef KD_PLNUMBERFUNCTIONS_H
#define KD_PLNUMBERFUNCTIONS_H

#include <cstdint>

#include <kdtrace/datetime.h>
#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

#include "module_base/PLString.h"

// Reads "[-|+]digits[.digits]" with "," group separators skipped in the whole part; the empty
// text is 0. E_FAIL without a record for any other text, and for a value too large for a double.
HRESULT StringToDouble(const WCHAR* text, double* value);

// S_OK for a value in the 32-bit signed range (one close to its top also records a warning with
// S_FALSE); E_FAIL outside it.
HRESULT VerifySafeInt32(LONGLONG value);

// Stores a value of the 32-bit signed range; E_FAIL outside it, `result` untouched.
HRESULT ConvertPLLongToLong(LONGLONG value, LONG* result);

// A generous estimate of the bytes an image of these dimensions needs: rows padded to 32 bits,
// small images given 1 KB more, doubled, plus 2.5 %. E_FAIL for a zero width or height.
HRESULT EstimateImageMemory(ULONG width, ULONG height, ULONG bitsPerPixel, uint64_t* bytes);

// The decimal separator of a data source: "," when the boolean property
// "databaseUsesCommaDecimal" of its property bag is present and true, else "."; the locale is
// 1033 either way. `source` must answer IPLPropertyBag.
HRESULT GetDecimalSeparator(IUnknown* source, PLString& separator, LCID& locale);

// Replace "." by the locale's decimal symbol, and back.
HRESULT LocalizeFloatingPointString(PLString& text, LCID locale);
HRESULT NormalizeFloatingPointString(PLString& text, LCID locale);

// For locales whose monetary decimal separator is "$": the "$" in the text becomes ",".
HRESULT CorrectPortugueseDecimalSeparator(LCID locale, PLString& text);

#endif  // KD_PLNUMBERFUNCTIONS_H
