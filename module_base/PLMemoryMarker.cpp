// The memory marker.
#include "module_base/PLMemoryMarker.h"
#include "module_base/PLFunctionLabel.h"

#include <execinfo.h>

#include <cstring>
#include <ctime>

PLTypeNameBuffer::PLTypeNameBuffer(const char* pretty) noexcept : text{} {
    PLCopyLabelText(PLTemplateArgument(pretty), text, sizeof text);
}

void PLFillMemoryMarker(PLMemoryMarkerBlock& block, const void* owner, std::size_t objectSize,
                        const char* typeName) noexcept {
    static constexpr uint8_t kSignature[8] = {0x35, 0x37, 0x39, 0xFF, 0x01, 0x00, 0x00, 0x00};
    block = PLMemoryMarkerBlock{};
    std::memcpy(block.signature, kSignature, sizeof kSignature);
    block.owner = reinterpret_cast<uintptr_t>(owner);
    const std::time_t now = std::time(nullptr);
    block.creationTime = now == static_cast<std::time_t>(-1) ? -1 : static_cast<int64_t>(now);
    block.objectSize = static_cast<uint32_t>(objectSize);
    // The creating call chain, from the unwinder (which does not depend on frame links); the
    // first entry is this function itself and is skipped.
    void* frames[13];
    const int n = ::backtrace(frames, 13);
    for (int i = 1; i < n; ++i) block.callStack[i - 1] = reinterpret_cast<uintptr_t>(frames[i]);
    if (typeName != nullptr) std::strncpy(block.typeName, typeName, sizeof block.typeName - 1);
}
