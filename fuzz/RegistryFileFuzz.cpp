// The registry file reader over outside text: any bytes, as UTF-8 or UTF-16 files.
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzThread.h"
#include "platform/RegistryFile.h"

KD_FUZZ_TARGET(data, size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    uint32_t value = 0;
    kd::platform::ParseRegistryDword(text, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics", u"Log Profile",
                                     &value);
    kd::platform::ParseRegistryDword(text, u"HKLM\\A", u"", &value);
    return 0;
}
