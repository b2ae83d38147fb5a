// Version notes read from library files: any bytes must be survived, and whatever block is found
// lies wholly inside the input; its file version then goes through the version parser.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "fuzz/FuzzThread.h"
#include "module_base/PLVersion.h"
#include "platform/Text.h"
#include "platform/VersionNote.h"

KD_FUZZ_TARGET(data, size) {
    const std::span<const std::uint8_t> image(data, size);
    const auto block = kd::platform::FindVersionBlock(image);
    if (!block) return 0;
    if (block->size() > size || block->size() > kd::platform::kMaxVersionBlock) std::abort();
    if (const auto value = kd::platform::VersionBlockValue(*block, "FileVersion")) {
        const DWORD packed = ConvertVersionToDWORD(kd::platform::Utf8ToUtf16(*value).c_str());
        // Only major and minor are ever kept.
        if ((packed & 0x000FFFFFu) != 0) std::abort();
    }
    return 0;
}
