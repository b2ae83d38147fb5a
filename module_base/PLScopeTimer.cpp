// The scope timer.
#include <string>

#include "module_base/PLScopeTimer.h"
#include "platform/DebugOutput.h"
#include "platform/Format.h"
#include "platform/TickCount.h"

CPLScopeTimer::CPLScopeTimer(const WCHAR* label) noexcept : m_start(kd::platform::TickCount64()) {
    std::size_t n = 0;
    // Room for the tab, the elapsed time and "ms.\n".
    constexpr std::size_t kLabelCapacity = sizeof m_text / sizeof m_text[0] - 32;
    if (label != nullptr)
        while (label[n] != 0 && n < kLabelCapacity) {
            m_text[n] = label[n];
            ++n;
        }
    m_text[n++] = u'\t';
    m_text[n] = 0;
}

CPLScopeTimer::~CPLScopeTimer() {
    const uint64_t elapsed = kd::platform::TickCount64() - m_start;
    try {
        std::u16string text(m_text);
        const kd::platform::FormatArg arg(elapsed);
        kd::platform::FormatAppend(text, std::u16string_view(u"%I64ums.\n"), {&arg, 1});
        kd::platform::DebugOutput(std::u16string_view(text));
    } catch (...) {
        // Debug output is best effort.
    }
}
