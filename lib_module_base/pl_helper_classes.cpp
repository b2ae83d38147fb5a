// CWaitObject, the memory marker and the process-wide switches.
#include "inc_module_base/pl_helper_classes.h"

#include <execinfo.h>

#include <atomic>
#include <cstring>
#include <ctime>

#include "platform/debug_output.h"

namespace {
std::atomic<bool> g_memoryTracking{false};
std::atomic<int32_t> g_twoDigitYearPivot{10};
}  // namespace

bool PLGetMemoryTracking() noexcept {
    return g_memoryTracking.load(std::memory_order_relaxed);
}
void PLSetMemoryTracking(bool on) noexcept {
    g_memoryTracking.store(on, std::memory_order_relaxed);
}
int32_t PLGetTwoDigitYearPivot() noexcept {
    return g_twoDigitYearPivot.load(std::memory_order_relaxed);
}
void PLSetTwoDigitYearPivot(int32_t pivot) noexcept {
    g_twoDigitYearPivot.store(pivot, std::memory_order_relaxed);
}

// ---- CWaitObject ----

CWaitObject::CWaitObject(IUnknown* object) {
    if (object != nullptr && object->QueryInterface(IID_IPLLockable, m_lockable.PutVoid()) >= 0 && m_lockable) Lock();
}

CWaitObject::~CWaitObject() {
    if (m_lockable && m_lockCount >= 1) {
        m_lockable->Unlock();
        if (m_lockCount > 1) {
            constexpr const char* kBanner =
                "########################################################################################\n";
            kd::platform::DebugOutput(std::string_view(kBanner));
            kd::platform::DebugOutput(std::string_view(
                "############## Warning: ~CWaitObject() reached with multiple locks active ##############\n"));
            kd::platform::DebugOutput(std::string_view(kBanner));
        }
    }
}

HRESULT CWaitObject::Lock() {
    if (!m_lockable) return E_FAIL;
    if (m_lockCount < 1) {
        const HRESULT hr = m_lockable->Lock();
        m_lockCount = hr >= 0 ? 1 : 0;
        return hr;
    }
    ++m_lockCount;
    return S_OK;
}

// ---- memory markers ----

PLTypeNameBuffer::PLTypeNameBuffer(const char* pretty) noexcept : text{} {
    // GCC writes "... [with T = Name]", Clang "... [T = Name]".
    const char* start = nullptr;
    for (const char* p = pretty; *p != 0; ++p)
        if (std::strncmp(p, "T = ", 4) == 0) start = p + 4;
    if (start == nullptr) return;
    std::size_t n = 0;
    while (start[n] != 0 && start[n] != ';' && start[n] != ']' && n < sizeof text - 1) {
        text[n] = start[n];
        ++n;
    }
    text[n] = 0;
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
