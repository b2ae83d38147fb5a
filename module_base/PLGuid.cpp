// GUID text in the base library's string types, over the platform's text form.
#include "module_base/PLGuid.h"
#include "platform/Guid.h"

int PLGuidToString(REFGUID guid, WCHAR* buffer, int32_t size) {
    if (buffer == nullptr || size < 37) PLStringCheckFailed("PLGuidToString", __LINE__);
    kd::platform::GuidToText(guid, buffer, static_cast<std::size_t>(size));
    return 0;
}

PLString PLGuidToString(REFGUID guid) {
    return PLString(std::u16string_view(kd::platform::GuidToString(guid)));
}
