// Debugger output: text for a developer watching the process. Written to standard error when
// the environment variable KDTRACE_DEBUG_OUTPUT is set, else dropped.
#ifndef KD_PLATFORM_DEBUG_OUTPUT_H
#define KD_PLATFORM_DEBUG_OUTPUT_H

#include <string_view>

namespace kd::platform {

void DebugOutput(std::u16string_view text) noexcept;
void DebugOutput(std::string_view text) noexcept;
bool DebugOutputEnabled() noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_DEBUG_OUTPUT_H
