// Signed property strings: a style string preceded by two properties, "securityKey", the
// encrypted SHA-1 digest of the rest of the text, and "timeStamp", the time of signing:
//
//   securityKey:<48 hex digits>;timeStamp:<MM-DD-YYYY-HH-MM-SS>;<properties>
//
// The digest covers every byte of the UTF-16LE text after the first ";" (the time stamp and the
// properties), so no byte of it can change unnoticed. It is encrypted with the library's
// symmetric key (platform/Crypto.h); whoever checks a signed string must share that key, as the
// library's peers do.
//
// Both functions record failures under "Core Services", "Utility Functions".
#ifndef KD_PLSIGNEDPROPERTYSTRING_H
#define KD_PLSIGNEDPROPERTYSTRING_H

#include <kdtrace/datetime.h>
#include <kdtrace/exports.h>

#include "module_base/PLString.h"

// The mask of the time stamp.
inline constexpr const WCHAR* kPLSignedTimeStampMask = u"%2m-%2d-%y-%H-%M-%S";
// How far, in whole minutes either way, a time stamp may lie from the time it is checked at.
inline constexpr LONG kPLSignedTimeWindowMinutes = 2;

// Replaces `properties` by its signed form, stamped with `signingTime`. E_POINTER for a null
// date-time; `properties` is unchanged on failure.
HRESULT SignPropertyString(PLString& properties, IPLDateTime* signingTime);

// S_OK when the signature of `signedText` matches and its time stamp lies within the window
// around `now`; E_FAIL with the reason recorded otherwise.
HRESULT VerifySignedPropertyString(const WCHAR* signedText, IPLDateTime* now);

#endif  // KD_PLSIGNEDPROPERTYSTRING_H
