// Unique temporary file names: <directory>/PL_TEMPFILE_<name part>.<extension>.
//
// The directory is $PELLUMTEMP, else $TMPDIR, else /tmp (a variable set to the empty string
// counts as unset), with a "/" appended when it does not end in one. No file is created. A name
// that would not fit a path (PATH_MAX bytes with the terminator) is refused, never cut.
// Errors are recorded under "Core Services", "Utility Functions" and the function's name.
#ifndef KD_PLTEMPFILE_H
#define KD_PLTEMPFILE_H

#include <kdtrace/types.h>

#include "module_base/PLString.h"

// Replaces `name` (the name part) with the full temporary file name; the extension is "TMP"
// when `extension` is null. A name part or extension holding "/" is refused (E_INVALIDARG), so
// the name cannot leave the directory. On failure `name` is unchanged.
HRESULT PLMakeFileNameCommon(const WCHAR* extension, PLString& name);

// A new temporary file name whose name part is a new GUID in its registry form with braces
// ("{0F1E...}").
HRESULT PLGetTempFile(const WCHAR* extension, PLString& name);

#endif  // KD_PLTEMPFILE_H
