// File-dialog filters by MIME type: "image/png" gives "PNG Files (*.png)" and "png".
#ifndef KD_PLFILEFILTER_H
#define KD_PLFILEFILTER_H

#include <kdtrace/types.h>

// A filter and its extension; both point at constant text of the library.
struct PLFileFilterEntry {
    const WCHAR* filter;
    const WCHAR* extension;  // empty for "All Files (*.*)"
};

// The entry of `mimeType`, compared without regard to the case of A-Z; a type not known gives
// "All Files (*.*)" with an empty extension. `reserved` must be 0 (else E_INVALIDARG); a null
// type or entry gives E_POINTER.
HRESULT GetFileFilterForMimeType(LONG reserved, const WCHAR* mimeType, PLFileFilterEntry* entry);

#endif  // KD_PLFILEFILTER_H
