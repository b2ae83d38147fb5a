// Processor faults: the per-thread translator, the reports of faults caught as
// CSEHExceptionWrapper, and the stack-overflow report.
#include "module_base/PLSEHException.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>

#include <kdtrace/dbghlp.h>

#include "module_base/PLComObject.h"
#include "module_base/PLDiagnostics.h"
#include "module_base/PLError.h"
#include "module_base/PLString.h"
#include "platform/Fault.h"
#include "platform/Library.h"
#include "platform/Mutex.h"
#include "platform/NumberText.h"
#include "platform/Probes.h"
#include "platform/Thread.h"
#include "platform/Unload.h"

namespace {

struct ExceptionName {
    uint32_t code;
    const char* name;
};

constexpr ExceptionName kExceptionNames[] = {
    {0x80000001u, "GUARD_PAGE"},
    {0x80000002u, "DATATYPE_MISALIGNMENT"},
    {0x80000003u, "BREAKPOINT"},
    {0x80000004u, "SINGLE_STEP"},
    {0xC0000005u, "ACCESS_VIOLATION"},
    {0xC0000006u, "IN_PAGE_ERROR"},
    {0xC0000008u, "INVALID_HANDLE"},
    {0xC000001Du, "ILLEGAL_INSTRUCTION"},
    {0xC0000025u, "NONCONTINUABLE_EXCEPTION"},
    {0xC0000026u, "INVALID_DISPOSITION"},
    {0xC000008Cu, "ARRAY_BOUNDS_EXCEEDED"},
    {0xC000008Du, "FLT_DENORMAL_OPERAND"},
    {0xC000008Eu, "FLT_DIVIDE_BY_ZERO"},
    {0xC000008Fu, "FLT_INEXACT_RESULT"},
    {0xC0000090u, "FLT_INVALID_OPERATION"},
    {0xC0000091u, "FLT_OVERFLOW"},
    {0xC0000092u, "FLT_STACK_CHECK"},
    {0xC0000093u, "FLT_UNDERFLOW"},
    {0xC0000094u, "INT_DIVIDE_BY_ZERO"},
    {0xC0000095u, "INT_OVERFLOW"},
    {0xC0000096u, "PRIV_INSTRUCTION"},
    {0xC00000FDu, "STACK_OVERFLOW"},
};

// ---- the debugging companion ----

// The companion is loaded once, outside any signal handler, and keeps its own reference: the
// library cache may be emptied (FreeCachedLibraries) while these function pointers live on.
struct DebugHelper {
    std::once_flag loaded;
    void* library = nullptr;
    std::atomic<PFN_PLDBGHLP_CreateMiniDump> createMiniDump{nullptr};
    std::atomic<PFN_PLDBGHLP_GetModuleSet> getModuleSet{nullptr};
};

DebugHelper* g_helper = nullptr;

// At unload the companion is closed with the helper; no fault can be translated by then, as the
// handlers went with the library's static objects.
void ReleaseHelper() noexcept {
    if (g_helper->library != nullptr) kd::platform::CloseLibrary(g_helper->library);
    delete g_helper;
    g_helper = nullptr;
}

DebugHelper& Helper() {
    static DebugHelper* helper = [] {
        g_helper = new DebugHelper();
        kd::platform::ReleaseAtUnload(&ReleaseHelper);
        return g_helper;
    }();
    return *helper;
}

void LoadDebugHelper() noexcept {
    DebugHelper& helper = Helper();
    try {
        std::call_once(helper.loaded, [&helper] {
            helper.library = kd::platform::OpenLibrary("kddbghlp.dll");
            if (helper.library == nullptr) return;
            helper.createMiniDump.store(reinterpret_cast<PFN_PLDBGHLP_CreateMiniDump>(
                                            kd::platform::FindExport(helper.library, "PLDBGHLP_CreateMiniDump")),
                                        std::memory_order_release);
            helper.getModuleSet.store(reinterpret_cast<PFN_PLDBGHLP_GetModuleSet>(
                                          kd::platform::FindExport(helper.library, "PLDBGHLP_GetModuleSet")),
                                      std::memory_order_release);
        });
    } catch (...) {
        // Without the companion there is no crash report and no module list.
    }
}

// Set while a crash report is being written, so that a fault raised meanwhile (in the report
// itself, or on another thread) does not start another.
std::atomic<bool> g_dumpInProgress{false};

void FillRecords(const kd::platform::FaultInfo& fault, PLExceptionRecord& record, PLThreadContext& context) noexcept {
    record.ExceptionCode = fault.code;
    record.ExceptionFlags = 1;  // not continuable
    record.ExceptionAddress = fault.ip;
    if (fault.memoryFault) {
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = fault.accessKind;
        record.ExceptionInformation[1] = fault.faultAddress;
    }
    context.Rip = fault.ip;
    context.Rsp = fault.sp;
    context.Rbp = fault.fp;
    for (int i = 0; i < 23; ++i) context.Gregs[i] = fault.gregs[i];
}

void CallMiniDump(const kd::platform::FaultInfo& fault, PLExceptionRecord& record, PLThreadContext& context) {
    if (g_dumpInProgress.exchange(true, std::memory_order_acq_rel)) return;
    const PFN_PLDBGHLP_CreateMiniDump dump = Helper().createMiniDump.load(std::memory_order_acquire);
    if (dump != nullptr) {
        PLExceptionPointers pointers{&record,          &context,         fault.signal,
                                     fault.signalCode, fault.signalInfo, fault.userContext};
        try {
            dump(&pointers);
        } catch (...) {
            // A fault inside the report was translated too; the report is simply incomplete.
        }
    }
    g_dumpInProgress.store(false, std::memory_order_release);
}

// A fault taken to a recovery point: what the translator captured in the handler, thrown from
// the recovery point's frame (PLThrowRecoveredFault). Made when the translator is installed on
// the thread (the handler allocates nothing) and kept on the heap: the module's thread-local
// block must stay small, as a module loaded with dlopen finds little room for it.
struct RecoveredFault {
    PLExceptionRecord record;
    PLThreadContext context;
    PLCallStack stack;
};
thread_local RecoveredFault* t_recoveredFault = nullptr;

// The translator: runs inside the fault handler on the faulting thread.
void PLSEHTranslator(const kd::platform::FaultInfo& fault) {
    if (KD_PROBE_ENABLED(fault)) KD_PROBE_FAULT(fault.code, fault.ip);
    if (fault.deferred) {
        if (t_recoveredFault == nullptr) return;  // (not reached: made at installation)
        RecoveredFault& saved = *t_recoveredFault;
        saved.record = PLExceptionRecord();
        saved.context = PLThreadContext();
        FillRecords(fault, saved.record, saved.context);
        CallMiniDump(fault, saved.record, saved.context);
        saved.stack.count = static_cast<uint32_t>(
            kd::platform::WalkFrameChain(fault.ip, fault.fp, saved.stack.frames, PLCallStack::kMaxFrames));
        return;
    }
    PLExceptionRecord record;
    PLThreadContext context;
    FillRecords(fault, record, context);
    CallMiniDump(fault, record, context);
    PLCallStack stack;
    stack.count =
        static_cast<uint32_t>(kd::platform::WalkFrameChain(fault.ip, fault.fp, stack.frames, PLCallStack::kMaxFrames));
    throw CSEHExceptionWrapper(record, context, stack);
}

// A stack overflow on a thread with the translator: report it, the process then ends.
void PLReportFatalFault(const kd::platform::FaultInfo& fault) noexcept {
    static char message[kPLFatalFaultMessageCapacity];
    // One report at a time: a second overflow on another thread meanwhile only ends the process.
    static std::atomic<bool> reporting{false};
    if (reporting.exchange(true, std::memory_order_acq_rel)) return;
    uint64_t frames[PLCallStack::kMaxFrames];
    const std::size_t count = kd::platform::WalkFrameChain(fault.ip, fault.fp, frames, PLCallStack::kMaxFrames);
    PLFormatFatalFaultMessage(fault.code, frames, count, message, sizeof message);
    PLWriteDiagnosticErrorSignalSafe(kPLFatalFaultModule, kPLFatalFaultClass, kPLFatalFaultMethod, E_UNEXPECTED,
                                     message, "", 0);
    if (!g_dumpInProgress.exchange(true, std::memory_order_acq_rel)) {
        PLExceptionRecord record;
        PLThreadContext context;
        FillRecords(fault, record, context);
        if (const PFN_PLDBGHLP_CreateMiniDump dump = Helper().createMiniDump.load(std::memory_order_acquire)) {
            PLExceptionPointers pointers{&record,          &context,         fault.signal,
                                         fault.signalCode, fault.signalInfo, fault.userContext};
            dump(&pointers);
        }
    }
}

// ---- the translator registry ----

// Thread -> the translator that was in force before ours. Threads that end are forgotten, as the
// system reuses thread identifiers.
struct TranslatorRegistry {
    kd::platform::Mutex lock;
    std::map<DWORD, kd::platform::FaultTranslator> previous GUARDED_BY(lock);
};

TranslatorRegistry* g_registry = nullptr;

void ReleaseRegistry() noexcept {
    delete g_registry;
    g_registry = nullptr;
}

TranslatorRegistry& Registry() {
    static TranslatorRegistry* registry = [] {
        g_registry = new TranslatorRegistry();
        kd::platform::ReleaseAtUnload(&ReleaseRegistry);
        return g_registry;
    }();
    return *registry;
}

// Whether the calling thread has an entry in the registry (without destructor: it stays valid
// through the thread's whole exit).
thread_local bool t_installed = false;

// A thread that ends with an entry gives it up, and the saved fault with it. The watch calls
// after the thread's thread_local objects are destroyed, so an entry that a host's object makes
// from its destructor is still given up, rather than inherited by a later thread that the
// system gives the same identifier.
void ForgetEndedThread(std::uint32_t thread) noexcept {
    delete t_recoveredFault;
    t_recoveredFault = nullptr;
    if (!t_installed) return;
    t_installed = false;
    try {
        TranslatorRegistry& registry = Registry();
        kd::platform::LockGuard guard(registry.lock);
        registry.previous.erase(thread);
    } catch (...) {
    }
}
kd::platform::ThreadExitWatch g_translatorExitWatch(&ForgetEndedThread);

}  // namespace

// ---- names and call stacks ----

const char* PLExceptionNameOf(uint32_t code) noexcept {
    for (const ExceptionName& entry : kExceptionNames)
        if (entry.code == code) return entry.name;
    return nullptr;
}

PLString CSEHExceptionWrapper::GetExceptionName() const {
    const char* name = PLExceptionNameOf(m_record.ExceptionCode);
    return name != nullptr ? PLString::FromUtf8(name) : PLString();
}

PLString CSEHExceptionWrapper::GetCallStack() const {
    uint64_t walked[PLCallStack::kMaxFrames];
    const uint64_t* frames = m_stack.frames;
    std::size_t count = m_stack.count;
    if (count == 0) {
        count = kd::platform::WalkFrameChain(m_context.Rip, m_context.Rbp, walked, PLCallStack::kMaxFrames);
        frames = walked;
    }
    std::u16string text;
    text.reserve(count * 19);
    for (std::size_t i = 0; i < count; ++i) {
        const kd::platform::FormatArg arg(frames[i]);
        kd::platform::FormatAppend(text, std::u16string_view(u"0x%016llX~"), {&arg, 1});
    }
    return PLString(std::u16string_view(text));
}

void CSEHExceptionWrapper::Report(const char* group, const char* className, const char* method, HRESULT result) const {
    PLString text;
    text.Format(u"%s encountered. @CALL_STACK: %s", GetExceptionName(), GetCallStack());
    PLRecordErrorMessage(group, className, method, result, 0, text, 1);
    PLRecordLoadedModules(group, className, method, result);
}

void PLRecordLoadedModules(const char* group, const char* className, const char* method, HRESULT result) {
    LoadDebugHelper();
    const PFN_PLDBGHLP_GetModuleSet getModuleSet = Helper().getModuleSet.load(std::memory_order_acquire);
    if (getModuleSet == nullptr) return;
    PLComPtr<IPLModuleSet> set;
    if (getModuleSet(set.Put()) < 0 || !set) return;
    ULONG count = 0;
    if (set->GetCount(&count) < 0) return;
    const PLString wideGroup = PLWiden(group);
    const PLString wideClass = PLWiden(className);
    const PLString wideMethod = PLWiden(method);
    // Linux paths may be far longer than the 260 characters of the system's module paths.
    constexpr ULONG kPathCapacity = 4096;
    std::u16string path(kPathCapacity, u'\0');
    for (ULONG i = 0; i < count; ++i) {
        path[0] = 0;
        if (set->GetModulePath(i, path.data(), kPathCapacity) < 0) continue;
        ULONGLONG base = 0;
        if (set->GetBaseAddress(i, &base) < 0) continue;
        PLString line;
        line.Format(u"@@MODULE:%s[0x%016llX]", path.c_str(), base);
        PLRecordErrorMessage(wideGroup, wideClass, wideMethod, result, 0, line, 0);
    }
}

// ---- the stack-overflow message ----

std::size_t PLFormatFatalFaultMessage(uint32_t code, const uint64_t* frames, std::size_t count, char* out,
                                      std::size_t size) noexcept {
    if (out == nullptr || size == 0) return 0;
    std::size_t used = 0;
    const auto put = [&](const char* text) {
        while (*text != 0 && used + 1 < size) out[used++] = *text++;
    };
    const char* name = PLExceptionNameOf(code);
    put(name != nullptr ? name : "");
    put(" encountered. @CALL_STACK: ");
    for (std::size_t i = 0; i < count; ++i) {
        // Whole addresses only: a cut one would read as a different address.
        if (used + 20 > size) break;
        char address[20] = "0x";
        kd::platform::HexDigits(frames[i], 16, address + 2);
        address[18] = '~';
        address[19] = 0;
        put(address);
    }
    out[used] = 0;
    return used;
}

// ---- install and remove ----

void PLCopyTextOut(WCHAR* buffer, const WCHAR* text, int32_t length) {
    // Volatile stores: the compiler may not turn the loops into a call of memcpy. Four
    // characters a store while four remain.
    using Group = std::uint64_t __attribute__((aligned(1), may_alias));
    volatile Group* groups = reinterpret_cast<volatile Group*>(buffer);
    int32_t i = 0;
    for (; i + 4 <= length; i += 4) {
        std::uint64_t group = 0;
        std::memcpy(&group, text + i, sizeof group);
        groups[i / 4] = group;
    }
    volatile WCHAR* out = buffer;
    for (; i < length; ++i) out[i] = text[i];
    out[length > 0 ? length : 0] = 0;
}

HRESULT PLCopyTextToBuffer(WCHAR* buffer, LONG size, const WCHAR* text, int32_t length, PLTruncation policy) {
    const bool fits = length < size;
    if (!fits && policy == PLTruncation::WholeOrEmpty) {
        PLCopyTextOut(buffer, text, 0);
        return E_INVALIDARG;
    }
    const int32_t n = fits ? length : size - 1;
    PLCopyTextOut(buffer, text, n);
    if (policy == PLTruncation::ZeroFill) {
        volatile WCHAR* rest = buffer;
        for (int32_t i = n + 1; i < size; ++i) rest[i] = 0;
    }
    return !fits && policy == PLTruncation::Report ? S_FALSE : S_OK;
}

void PLThrowRecoveredFault() {
    if (t_recoveredFault == nullptr) throw CSEHExceptionWrapper(PLExceptionRecord(), PLThreadContext());
    const RecoveredFault& saved = *t_recoveredFault;
    throw CSEHExceptionWrapper(saved.record, saved.context, saved.stack);
}

void PLInstallSEHTranslator() noexcept {
    if (t_installed) return;
    try {
        static const bool ready = [] {
            LoadDebugHelper();
            kd::platform::SetFatalFaultReporter(&PLReportFatalFault);
            return kd::platform::InstallFaultHandlers();
        }();
        if (!ready) return;
        const DWORD thread = kd::platform::CurrentThreadId();
        TranslatorRegistry& registry = Registry();
        kd::platform::LockGuard guard(registry.lock);
        if (registry.previous.count(thread) != 0) return;
        if (t_recoveredFault == nullptr) t_recoveredFault = new RecoveredFault();
        const kd::platform::FaultTranslator previous = kd::platform::SetThreadFaultTranslator(&PLSEHTranslator);
        registry.previous.emplace(thread, previous);
        t_installed = true;
        g_translatorExitWatch.Watch();
    } catch (...) {
        // Without the registry entry the thread simply has no translator.
    }
}

void PLRemoveSEHTranslator() noexcept {
    try {
        const DWORD thread = kd::platform::CurrentThreadId();
        TranslatorRegistry& registry = Registry();
        kd::platform::LockGuard guard(registry.lock);
        auto it = registry.previous.find(thread);
        if (it == registry.previous.end()) return;
        kd::platform::SetThreadFaultTranslator(it->second);
        registry.previous.erase(it);
        t_installed = false;
    } catch (...) {
    }
}
