#include "module_base/PLFileFilter.h"

#include "module_base/PLError.h"
#include "platform/Text.h"

namespace {

struct Row {
    const char16_t* mimeType;
    PLFileFilterEntry entry;
};

constexpr Row kRows[] = {
    {u"text/plain", {u"Text Files (*.txt)", u"txt"}},
    {u"image/tiff", {u"TIFF Files (*.tif)", u"tif"}},
    {u"application/pdf", {u"Adobe PDF Files (*.pdf)", u"pdf"}},
    {u"image/bmp", {u"Bitmap Files (*.bmp)", u"bmp"}},
    {u"image/gif", {u"GIF Files (*.gif)", u"gif"}},
    {u"image/jpeg", {u"JPEG Files (*.jpg)", u"jpg"}},
    {u"image/png", {u"PNG Files (*.png)", u"png"}},
    {u"application/zip", {u"ZIP Files (*.zip)", u"zip"}},
};
constexpr PLFileFilterEntry kAllFiles = {u"All Files (*.*)", u""};

// Read character by character, stopping at the first difference, so that only as much of the
// caller's text is touched as the comparison needs.
bool SameType(const WCHAR* text, const char16_t* mimeType) {
    for (; *mimeType != 0; ++text, ++mimeType)
        if (kd::platform::FoldAsciiLetter(*text) != *mimeType) return false;
    return *text == 0;
}

}  // namespace

HRESULT GetFileFilterForMimeType(LONG reserved, const WCHAR* mimeType, PLFileFilterEntry* entry) {
    if (reserved != 0) return E_INVALIDARG;
    if (mimeType == nullptr || entry == nullptr) return E_POINTER;
    return ::PLGuard(PL_GUARD_SITE_AS("Core Services", "Utility Functions"), [&](HRESULT&) {
        PLFileFilterEntry found = kAllFiles;
        for (const Row& row : kRows) {
            if (SameType(mimeType, row.mimeType)) {
                found = row.entry;
                break;
            }
        }
        *entry = found;
    });
}
