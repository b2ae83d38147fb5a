#include "module_base/PLTempFile.h"

#include <climits>
#include <cstdlib>
#include <string>

#include "module_base/PLError.h"
#include "module_base/PLGuid.h"
#include "platform/Guid.h"
#include "platform/Text.h"

namespace {

constexpr const char* kGroup = "Core Services";
constexpr const char* kClass = "Utility Functions";

// The temporary directory in UTF-8, ending in "/".
std::string Directory() {
    const char* directory = nullptr;
    for (const char* name : {"PELLUMTEMP", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != 0) {
            directory = value;
            break;
        }
    }
    std::string text = directory != nullptr ? directory : "/tmp";
    if (text.back() != '/') text += '/';
    return text;
}

void CheckPart(std::u16string_view part) {
    if (part.find(u'/') != std::u16string_view::npos) PL_THROW_ERROR(E_INVALIDARG, "Invalid temporary file name", 1);
}

}  // namespace

HRESULT PLMakeFileNameCommon(const WCHAR* extension, PLString& name) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        std::u16string ext;
        for (const WCHAR* p = extension != nullptr ? extension : u"TMP"; *p != 0; ++p) ext += *p;
        CheckPart(ext);
        CheckPart(name.view());
        std::string path = Directory() + "PL_TEMPFILE_";
        kd::platform::AppendUtf16AsUtf8(path, name.view());
        path += '.';
        kd::platform::AppendUtf16AsUtf8(path, ext);
        if (path.size() >= PATH_MAX) PL_THROW_ERROR(E_INVALIDARG, "Temporary file name too long", 1);
        name = PLString::FromUtf8(path);
    });
}

HRESULT PLGetTempFile(const WCHAR* extension, PLString& name) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        PLString part(u"{");
        part += PLGuidToString(kd::platform::CreateGuid());
        part += u'}';
        hr = PLMakeFileNameCommon(extension, part);
        PL_THROW_ERROR(hr, "Failed to make temporary file name", 0);
        name = part;
    });
}
