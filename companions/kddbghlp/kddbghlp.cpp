// The debugging companion: the set of modules loaded in the process, and crash reports written
// from inside the fault handler.
#include <atomic>
#include <string>
#include <vector>

#include <kdtrace/dbghlp.h>

#include "platform/CrashReport.h"
#include "platform/ModuleList.h"
#include "platform/Text.h"

#define KD_COMPANION_API extern "C" __attribute__((visibility("default")))

namespace {

// The report directory is read from the environment once, when the library loads, since the
// report itself is written inside a signal handler.
struct CrashReportSetup {
    CrashReportSetup() { kd::platform::PrepareCrashReports(); }
} g_crashReportSetup;

class ModuleSet final : public IPLModuleSet {
public:
    explicit ModuleSet(const std::vector<kd::platform::LoadedModule>& modules) {
        m_paths.reserve(modules.size());
        m_bases.reserve(modules.size());
        for (const kd::platform::LoadedModule& module : modules) {
            m_paths.push_back(kd::platform::Utf8ToUtf16(module.path));
            m_bases.push_back(module.base);
        }
    }

    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IPLModuleSet) {
            *object = static_cast<IPLModuleSet*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        const ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

    HRESULT GetCount(ULONG* count) override {
        if (count == nullptr) return E_POINTER;
        *count = static_cast<ULONG>(m_paths.size());
        return S_OK;
    }
    HRESULT GetModulePath(ULONG index, WCHAR* buffer, ULONG size) override {
        if (buffer == nullptr) return E_POINTER;
        if (size == 0) return E_INVALIDARG;
        buffer[0] = 0;
        if (index >= m_paths.size()) return E_INVALIDARG;
        const std::u16string& path = m_paths[index];
        const std::size_t n = path.size() < size - 1 ? path.size() : size - 1;
        path.copy(buffer, n);
        buffer[n] = 0;
        return n == path.size() ? S_OK : S_FALSE;
    }
    HRESULT GetBaseAddress(ULONG index, ULONGLONG* base) override {
        if (base == nullptr) return E_POINTER;
        if (index >= m_bases.size()) return E_INVALIDARG;
        *base = m_bases[index];
        return S_OK;
    }

private:
    ~ModuleSet() = default;

    std::atomic<ULONG> m_refs{1};
    std::vector<std::u16string> m_paths;
    std::vector<ULONGLONG> m_bases;
};

}  // namespace

KD_COMPANION_API HRESULT PLDBGHLP_GetModuleSet(IPLModuleSet** set) {
    if (set == nullptr) return E_POINTER;
    *set = nullptr;
    try {
        *set = new ModuleSet(kd::platform::ListLoadedModules());
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

KD_COMPANION_API HRESULT PLDBGHLP_CreateMiniDump(const PLExceptionPointers* pointers) {
    if (pointers == nullptr || pointers->ExceptionRecord == nullptr || pointers->ContextRecord == nullptr)
        return E_POINTER;
    const PLExceptionRecord& record = *pointers->ExceptionRecord;
    const PLThreadContext& context = *pointers->ContextRecord;
    kd::platform::CrashReportInput input;
    input.signal = pointers->Signal;
    input.signalCode = pointers->SignalCode;
    input.code = record.ExceptionCode;
    input.faultAddress = record.NumberParameters >= 2 ? record.ExceptionInformation[1] : record.ExceptionAddress;
    input.ip = context.Rip;
    input.sp = context.Rsp;
    input.fp = context.Rbp;
    input.gregs = context.Gregs;
    return kd::platform::WriteCrashReport(input) ? S_OK : E_FAIL;
}
