// GUID text parsing: whatever parses must print back to the same canonical text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzThread.h"
#include "platform/Guid.h"
#include "platform/Text.h"

KD_FUZZ_TARGET(data, size) {
    const std::u16string text = kd::platform::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    GUID guid{};
    if (kd::platform::GuidFromText(text, &guid)) {
        GUID again{};
        if (!kd::platform::GuidFromText(kd::platform::GuidToString(guid), &again) || !(again == guid)) std::abort();
    }
    return 0;
}
