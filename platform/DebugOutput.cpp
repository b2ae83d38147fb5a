#include "platform/DebugOutput.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/Text.h"

namespace kd::platform {

bool DebugOutputEnabled() noexcept {
    static const bool enabled = std::getenv("KDTRACE_DEBUG_OUTPUT") != nullptr;
    return enabled;
}

void DebugOutput(std::string_view text) noexcept {
    if (!DebugOutputEnabled()) return;
    while (!text.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
        if (n <= 0) break;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

void DebugOutput(std::u16string_view text) noexcept {
    if (!DebugOutputEnabled()) return;
    try {
        DebugOutput(std::string_view(Utf16ToUtf8(text)));
    } catch (...) {
        // Debug text is best effort.
    }
}

}  // namespace kd::platform
