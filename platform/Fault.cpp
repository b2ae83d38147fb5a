#include "platform/Fault.h"

#include <dlfcn.h>
#include <link.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/Mutex.h"
#include "platform/SafeMemory.h"

#if defined(__SANITIZE_ADDRESS__)
#define KD_FAULT_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KD_FAULT_ADDRESS_SANITIZER 1
#endif
#endif
#if KD_FAULT_ADDRESS_SANITIZER
extern "C" void __asan_handle_no_return();
#endif

namespace kd::platform {

namespace detail {
// What another copy of this code needs of this one to unchain it (see HandOnPrevious).
struct HandlerLink {
    std::uint64_t magic;
    void (*handler)(int, siginfo_t*, void*);
    struct sigaction previous[4];  // per kSignals: the handlers in force before ours
};
// Names the layout; a copy with another layout is left alone.
inline constexpr std::uint64_t kHandlerLinkMagic = 0x4B44464C4E4B0001ull;
}  // namespace detail

__thread FaultThreadState g_faultThreadState __attribute__((tls_model("initial-exec"))) = {};

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = static_cast<int>(sizeof kSignals / sizeof kSignals[0]);

// The alternate stack given to threads that have none: enough for the handler, the unwinder
// and the throw.
constexpr std::size_t kAltStackSize = 128 * 1024;
// A fault this close to the stack pointer, or in the guard area below the stack, is an overflow.
constexpr std::uint64_t kNearStackPointer = 64 * 1024;
constexpr std::uint64_t kGuardArea = 2 * 1024 * 1024;

void FaultHandler(int signal, siginfo_t* info, void* context);

}  // namespace
}  // namespace kd::platform

// This copy's link, found by other copies through the note below (name "KDTRACE", type 2, whose
// content is the distance from the content to the link).
extern "C" {
__attribute__((visibility("hidden"))) kd::platform::detail::HandlerLink kd_fault_handler_link = {
    kd::platform::detail::kHandlerLinkMagic, &kd::platform::FaultHandler, {}};
}
asm(".pushsection .note.kdtrace.fault,\"a\",@note\n"
    "\t.balign 4\n"
    "\t.long 8\n"
    "\t.long 8\n"
    "\t.long 2\n"
    "\t.asciz \"KDTRACE\"\n"
    "\t.balign 4\n"
    "1:\t.quad kd_fault_handler_link - 1b\n"
    "\t.popsection\n");

namespace kd::platform {
namespace {

static_assert(sizeof kd_fault_handler_link.previous / sizeof kd_fault_handler_link.previous[0] == kSignalCount);
struct sigaction (&g_previous)[kSignalCount] = kd_fault_handler_link.previous;
std::atomic<bool> g_installed{false};
kd::platform::Mutex g_installLock;
std::atomic<FatalFaultReporter> g_reporter{nullptr};

// Code ranges of the system runtimes and of the object that holds this code, noted once when
// the handlers are installed.
struct CodeRange {
    std::uintptr_t low;
    std::uintptr_t high;
};
constexpr int kMaxRuntimeRanges = 48;
CodeRange g_runtimeRanges[kMaxRuntimeRanges];
std::atomic<int> g_runtimeRangeCount{0};
constexpr int kMaxOwnRanges = 8;
CodeRange g_ownRanges[kMaxOwnRanges];
std::atomic<int> g_ownRangeCount{0};

int SignalIndex(int signal) noexcept {
    for (int i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == signal) return i;
    return -1;
}

bool IsRuntimeLibrary(const char* path) noexcept {
    if (path == nullptr || path[0] == 0) return false;
    const char* base = std::strrchr(path, '/');
    base = base != nullptr ? base + 1 : path;
    static constexpr const char* kPrefixes[] = {"libc.so",    "libc-",      "libm.so",    "libstdc++.so", "libgcc_s.so",
                                                "ld-linux",   "ld64.so",    "libpthread", "libasan.so",   "libubsan.so",
                                                "libtsan.so", "liblsan.so", "libdl.so",   "librt.so",     "linux-vdso"};
    for (const char* prefix : kPrefixes)
        if (std::strncmp(base, prefix, std::strlen(prefix)) == 0) return true;
    return false;
}

int NoteRuntimeModule(dl_phdr_info* info, std::size_t, void*) {
    if (!IsRuntimeLibrary(info->dlpi_name)) return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD || (ph.p_flags & PF_X) == 0) continue;
        const int n = g_runtimeRangeCount.load(std::memory_order_relaxed);
        if (n == kMaxRuntimeRanges) return 1;
        const std::uintptr_t low = info->dlpi_addr + ph.p_vaddr;
        g_runtimeRanges[n] = CodeRange{low, low + ph.p_memsz};
        g_runtimeRangeCount.store(n + 1, std::memory_order_release);
    }
    return 0;
}

bool InRuntimeCode(std::uintptr_t ip) noexcept {
    const int n = g_runtimeRangeCount.load(std::memory_order_acquire);
    for (int i = 0; i < n; ++i)
        if (ip >= g_runtimeRanges[i].low && ip < g_runtimeRanges[i].high) return true;
    return false;
}

void FaultHandler(int signal, siginfo_t* info, void* context);

int NoteOwnModule(dl_phdr_info* info, std::size_t, void* data) {
    const auto base = reinterpret_cast<std::uintptr_t>(data);
    if (info->dlpi_addr != base) return 0;
    int n = 0;
    for (int i = 0; i < info->dlpi_phnum && n < kMaxOwnRanges; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD || (ph.p_flags & PF_X) == 0) continue;
        const std::uintptr_t low = info->dlpi_addr + ph.p_vaddr;
        g_ownRanges[n++] = CodeRange{low, low + ph.p_memsz};
    }
    g_ownRangeCount.store(n, std::memory_order_release);
    return 1;
}

void NoteOwnCode() noexcept {
    Dl_info where{};
    void* self = reinterpret_cast<void*>(&FaultHandler);
    if (::dladdr(self, &where) == 0 || where.dli_fbase == nullptr) return;
    // dladdr gives the load address of the first segment; dl_iterate_phdr names objects by
    // their load bias. Find ours by the segment that holds the handler.
    struct Search {
        std::uintptr_t address;
        std::uintptr_t bias;
    } search{reinterpret_cast<std::uintptr_t>(self), 0};
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            Search& s = *static_cast<Search*>(data);
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& ph = info->dlpi_phdr[i];
                const std::uintptr_t low = info->dlpi_addr + ph.p_vaddr;
                if (ph.p_type == PT_LOAD && s.address >= low && s.address < low + ph.p_memsz) {
                    s.bias = info->dlpi_addr;
                    return 1;
                }
            }
            return 0;
        },
        &search);
    ::dl_iterate_phdr(NoteOwnModule, reinterpret_cast<void*>(search.bias));
}

bool InOwnCode(std::uintptr_t ip) noexcept {
    const int n = g_ownRangeCount.load(std::memory_order_acquire);
    for (int i = 0; i < n; ++i)
        if (ip >= g_ownRanges[i].low && ip < g_ownRanges[i].high) return true;
    return false;
}

// ---- whether an exception can be thrown from a faulting instruction of other code ----
//
// The unwinder enters the faulting frame at the faulting instruction itself. It can do so when
// the frame has unwind information and either no exception table (no cleanups, no handlers:
// nothing of the frame needs the instruction to be listed) or a table whose call-site ranges
// list the instruction (code built with -fnon-call-exceptions). An instruction missing from a
// frame's table ends the unwinding in std::terminate.

struct EhBases {
    void* tbase;
    void* dbase;
    void* func;
};
extern "C" const void* _Unwind_Find_FDE(void* pc, EhBases* bases);

constexpr std::uint8_t kEncOmit = 0xFF;

std::uint64_t ReadUleb(const std::uint8_t*& p) noexcept {
    std::uint64_t value = 0;
    unsigned shift = 0;
    std::uint8_t byte = 0;
    do {
        byte = *p++;
        if (shift < 64) value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        shift += 7;
    } while ((byte & 0x80) != 0);
    return value;
}

std::int64_t ReadSleb(const std::uint8_t*& p) noexcept {
    std::int64_t value = 0;
    unsigned shift = 0;
    std::uint8_t byte = 0;
    do {
        byte = *p++;
        if (shift < 64) value |= static_cast<std::int64_t>(byte & 0x7F) << shift;
        shift += 7;
    } while ((byte & 0x80) != 0);
    if (shift < 64 && (byte & 0x40) != 0) value |= -(static_cast<std::int64_t>(1) << shift);
    return value;
}

template <class T>
T ReadRaw(const std::uint8_t*& p) noexcept {
    T value;
    std::memcpy(&value, p, sizeof value);
    p += sizeof value;
    return value;
}

// Reads a pointer in one of the DWARF exception-header encodings; false for one not handled.
bool ReadEncoded(const std::uint8_t*& p, std::uint8_t encoding, const EhBases& bases, std::uintptr_t& out) noexcept {
    if (encoding == kEncOmit) return false;
    const std::uint8_t* start = p;
    std::uintptr_t value = 0;
    switch (encoding & 0x0F) {
        case 0x00:
            value = ReadRaw<std::uintptr_t>(p);
            break;
        case 0x01:
            value = static_cast<std::uintptr_t>(ReadUleb(p));
            break;
        case 0x02:
            value = ReadRaw<std::uint16_t>(p);
            break;
        case 0x03:
            value = ReadRaw<std::uint32_t>(p);
            break;
        case 0x04:
            value = static_cast<std::uintptr_t>(ReadRaw<std::uint64_t>(p));
            break;
        case 0x09:
            value = static_cast<std::uintptr_t>(ReadSleb(p));
            break;
        case 0x0A:
            value = static_cast<std::uintptr_t>(static_cast<std::intptr_t>(ReadRaw<std::int16_t>(p)));
            break;
        case 0x0B:
            value = static_cast<std::uintptr_t>(static_cast<std::intptr_t>(ReadRaw<std::int32_t>(p)));
            break;
        case 0x0C:
            value = static_cast<std::uintptr_t>(ReadRaw<std::int64_t>(p));
            break;
        default:
            return false;
    }
    if (value != 0) {
        switch (encoding & 0x70) {
            case 0x00:
                break;
            case 0x10:
                value += reinterpret_cast<std::uintptr_t>(start);
                break;
            case 0x20:
                value += reinterpret_cast<std::uintptr_t>(bases.tbase);
                break;
            case 0x30:
                value += reinterpret_cast<std::uintptr_t>(bases.dbase);
                break;
            case 0x40:
                value += reinterpret_cast<std::uintptr_t>(bases.func);
                break;
            default:
                return false;
        }
        if ((encoding & 0x80) != 0) value = *reinterpret_cast<const std::uintptr_t*>(value);
    }
    out = value;
    return true;
}

// Only the size part of an encoding (for the range of an FDE, which has no base).
bool ReadEncodedSize(const std::uint8_t*& p, std::uint8_t encoding, std::uintptr_t& out) noexcept {
    const EhBases none{nullptr, nullptr, nullptr};
    return ReadEncoded(p, static_cast<std::uint8_t>(encoding & 0x0F), none, out);
}

bool CanThrowFrom(std::uintptr_t ip) noexcept {
    EhBases bases{};
    const auto* fde = static_cast<const std::uint8_t*>(_Unwind_Find_FDE(reinterpret_cast<void*>(ip), &bases));
    if (fde == nullptr) return false;
    // The CIE pointer counts back from its own field, which follows the FDE's length.
    const std::uint8_t* p = fde + 4;
    const std::uint8_t* cie = (fde + 4) - ReadRaw<std::int32_t>(p);
    // CIE: length, identifier, version, augmentation, alignment factors, return register.
    const std::uint8_t* c = cie + 8;
    const std::uint8_t version = *c++;
    const char* augmentation = reinterpret_cast<const char*>(c);
    c += std::strlen(augmentation) + 1;
    if (augmentation[0] != 'z') return augmentation[0] == 0;  // no exception table possible
    ReadUleb(c);
    ReadSleb(c);
    if (version == 1)
        ++c;
    else
        ReadUleb(c);
    ReadUleb(c);  // augmentation data length
    std::uint8_t lsdaEncoding = kEncOmit, fdeEncoding = 0;
    for (const char* a = augmentation + 1; *a != 0; ++a) {
        switch (*a) {
            case 'L':
                lsdaEncoding = *c++;
                break;
            case 'R':
                fdeEncoding = *c++;
                break;
            case 'P': {
                const std::uint8_t encoding = *c++;
                std::uintptr_t personality = 0;
                if (!ReadEncoded(c, static_cast<std::uint8_t>(encoding & 0x7F), bases, personality)) return false;
                break;
            }
            case 'S':
            case 'B':
                break;
            default:
                return false;
        }
    }
    if (lsdaEncoding == kEncOmit) return true;
    // FDE: the function's start and size, then the augmentation data with the table's address.
    p = fde + 8;
    std::uintptr_t functionStart = 0, functionSize = 0, lsda = 0;
    if (!ReadEncoded(p, fdeEncoding, bases, functionStart) || !ReadEncodedSize(p, fdeEncoding, functionSize))
        return false;
    ReadUleb(p);
    if (!ReadEncoded(p, lsdaEncoding, bases, lsda)) return false;
    if (lsda == 0) return true;
    // The exception table: landing-pad base, type table, call-site table.
    const auto* t = reinterpret_cast<const std::uint8_t*>(lsda);
    std::uintptr_t landingBase = functionStart;
    const std::uint8_t lpStartEncoding = *t++;
    if (lpStartEncoding != kEncOmit && !ReadEncoded(t, lpStartEncoding, bases, landingBase)) return false;
    if (*t++ != kEncOmit) ReadUleb(t);
    const std::uint8_t callSiteEncoding = *t++;
    const std::uint64_t tableLength = ReadUleb(t);
    const std::uint8_t* end = t + tableLength;
    while (t < end) {
        std::uintptr_t start = 0, length = 0, pad = 0;
        if (!ReadEncodedSize(t, callSiteEncoding, start) || !ReadEncodedSize(t, callSiteEncoding, length) ||
            !ReadEncodedSize(t, callSiteEncoding, pad))
            return false;
        ReadUleb(t);
        if (ip < landingBase + start) return false;
        if (ip < landingBase + start + length) return true;
    }
    return false;
}

void ResetToDefault(int signal) noexcept {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(signal, &dfl, nullptr);
}

// Calls the handler that was installed before ours, as the kernel would have. Not noexcept: the
// previous handler may be another module's translator, which leaves by throwing through here.
bool CallPrevious(int signal, siginfo_t* info, void* context) {
    const int index = SignalIndex(signal);
    if (index < 0) return false;
    const struct sigaction& previous = g_previous[index];
    const bool hasInfoHandler = (previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr;
    const bool hasHandler =
        (previous.sa_flags & SA_SIGINFO) == 0 && previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN;
    if (!hasInfoHandler && !hasHandler) return false;
    // The mask the previous handler asked for, put back however it leaves.
    struct MaskRestorer {
        sigset_t saved;
        ~MaskRestorer() { ::pthread_sigmask(SIG_SETMASK, &saved, nullptr); }
    } restorer;
    ::pthread_sigmask(SIG_BLOCK, &previous.sa_mask, &restorer.saved);
    if (hasInfoHandler)
        previous.sa_sigaction(signal, info, context);
    else
        previous.sa_handler(signal);
    return true;
}

// A fault that is not ours to translate.
void PassOn(int signal, siginfo_t* info, void* context) {
    if (CallPrevious(signal, info, context)) return;
    const int index = SignalIndex(signal);
    const bool ignored =
        index >= 0 && (g_previous[index].sa_flags & SA_SIGINFO) == 0 && g_previous[index].sa_handler == SIG_IGN;
    if (info != nullptr && info->si_code > 0) {
        // Raised by an instruction: with the default action restored the instruction faults again
        // on return and the process ends with the signal, as it would have without us. (The
        // kernel does not let a process ignore such a fault either.)
        ResetToDefault(signal);
        return;
    }
    if (ignored) return;
    ResetToDefault(signal);
    ::raise(signal);
}

// After a stack overflow was reported: the previous handler (a host's crash handler, a
// sanitizer) sees the fault, then the default action ends the process.
void EndProcess(int signal, siginfo_t* info, void* context) {
    CallPrevious(signal, info, context);
    ResetToDefault(signal);
    if (info == nullptr || info->si_code <= 0) ::raise(signal);
}

void FillFaultInfo(int signal, const siginfo_t* info, const ucontext_t* uc, FaultInfo& fault) noexcept {
    fault.signal = signal;
    fault.signalCode = info->si_code;
    fault.signalInfo = info;
    fault.userContext = uc;
    fault.code = FaultCodeForSignal(signal, info->si_code);
    fault.faultAddress = reinterpret_cast<std::uint64_t>(info->si_addr);
    fault.memoryFault = signal == SIGSEGV || signal == SIGBUS;
#if defined(__x86_64__)
    const greg_t* g = uc->uc_mcontext.gregs;
    for (int i = 0; i < NGREG && i < 23; ++i) fault.gregs[i] = static_cast<std::uint64_t>(g[i]);
    fault.ip = static_cast<std::uint64_t>(g[REG_RIP]);
    fault.sp = static_cast<std::uint64_t>(g[REG_RSP]);
    fault.fp = static_cast<std::uint64_t>(g[REG_RBP]);
    if ((signal == SIGSEGV || signal == SIGBUS) && g[REG_TRAPNO] == 14) {
        // The page-fault error code: bit 1 a write, bit 4 an instruction fetch.
        const std::uint64_t err = static_cast<std::uint64_t>(g[REG_ERR]);
        fault.accessKind = (err & 0x10) != 0  ? kFaultAccessExecute
                           : (err & 0x2) != 0 ? kFaultAccessWrite
                                              : kFaultAccessRead;
    }
#elif defined(__aarch64__)
    for (int i = 0; i < 23; ++i) fault.gregs[i] = uc->uc_mcontext.regs[i];
    fault.ip = uc->uc_mcontext.pc;
    fault.sp = uc->uc_mcontext.sp;
    fault.fp = uc->uc_mcontext.regs[29];
#else
#error "processor registers of this architecture are not mapped"
#endif
    if (signal == SIGSEGV && IsStackOverflowAddress(fault.faultAddress, fault.sp)) fault.code = kFaultStackOverflow;
}

// Puts back the floating-point control state the interrupted code had: the kernel starts a
// handler with the default state, and a jump out of the handler does not restore it.
void RestoreFloatingPointControl(const ucontext_t* uc) noexcept {
#if defined(__x86_64__)
    if (uc->uc_mcontext.fpregs == nullptr) return;
    const std::uint32_t mxcsr = uc->uc_mcontext.fpregs->mxcsr;
    const std::uint16_t cwd = uc->uc_mcontext.fpregs->cwd;
    asm volatile("ldmxcsr %0" : : "m"(mxcsr));
    asm volatile("fldcw %0" : : "m"(cwd));
#else
    (void)uc;
#endif
}

[[noreturn]] __attribute__((noinline)) void ReturnToRecoveryPoint(FaultThreadState& state, FaultRecoveryPoint* point,
                                                                  const ucontext_t* uc, int savedErrno) {
    state.recovery = point->previous;
    state.guardDepth = point->guardDepth;
    if (void (*cleanup)(void*) = point->cleanup) cleanup(point->cleanupArgument);
    RestoreFloatingPointControl(uc);
    errno = savedErrno;
#if KD_FAULT_ADDRESS_SANITIZER
    // The stack below the recovery point is left for good: forget the sanitizer's marks on it.
    __asan_handle_no_return();
#endif
    __builtin_longjmp(point->env, 1);
}

void FaultHandler(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    FaultThreadState& state = g_faultThreadState;
    if (info != nullptr && context != nullptr && info->si_code > 0 && state.translator != nullptr &&
        state.guardDepth > 0) {
        const auto* uc = static_cast<const ucontext_t*>(context);
        FaultInfo fault;
        FillFaultInfo(signal, info, uc, fault);
        if (fault.code == kFaultStackOverflow) {
            if (FatalFaultReporter reporter = g_reporter.load(std::memory_order_acquire)) reporter(fault);
            EndProcess(signal, info, context);
            errno = savedErrno;
            return;
        }
        const auto ip = static_cast<std::uintptr_t>(fault.ip);
        if (InOwnCode(ip) || (!InRuntimeCode(ip) && CanThrowFrom(ip))) {
            // Leaving by a throw skips the kernel's restoring of the interrupted state too.
            RestoreFloatingPointControl(uc);
            errno = savedErrno;
            state.translator(fault);  // throws
        } else if (FaultRecoveryPoint* point = state.recovery) {
            fault.deferred = true;
            state.translator(fault);  // takes the report while the faulting frames exist
            ReturnToRecoveryPoint(state, point, uc, savedErrno);
        }
    }
    PassOn(signal, info, context);
    errno = savedErrno;
}

// Releases the alternate stack this layer gave a thread, when the thread ends.
struct ThreadAltStack {
    void* mapping = nullptr;
    std::size_t mappingSize = 0;
    std::size_t guardSize = 0;
    ~ThreadAltStack() {
        if (mapping == nullptr) return;
        stack_t current{};
        if (::sigaltstack(nullptr, &current) == 0) {
            if ((current.ss_flags & SS_ONSTACK) != 0) return;
            if (current.ss_sp == static_cast<char*>(mapping) + guardSize) {
                stack_t off{};
                off.ss_flags = SS_DISABLE;
                ::sigaltstack(&off, nullptr);
            }
        }
        ::munmap(mapping, mappingSize);
        mapping = nullptr;
    }
};
thread_local ThreadAltStack t_altStack;

void PrepareThread() noexcept {
    FaultThreadState& state = g_faultThreadState;
    if (state.stackHigh == 0) {
        pthread_attr_t attr;
        if (::pthread_getattr_np(::pthread_self(), &attr) == 0) {
            void* address = nullptr;
            std::size_t size = 0;
            if (::pthread_attr_getstack(&attr, &address, &size) == 0 && address != nullptr) {
                state.stackLow = reinterpret_cast<std::uintptr_t>(address);
                state.stackHigh = state.stackLow + size;
            }
            ::pthread_attr_destroy(&attr);
        }
    }
    stack_t current{};
    if (::sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) return;
    const long page = ::sysconf(_SC_PAGESIZE);
    const std::size_t guard = page > 0 ? static_cast<std::size_t>(page) : 4096;
    std::size_t size = kAltStackSize;
    const long minimum = ::sysconf(_SC_SIGSTKSZ);
    if (minimum > 0 && static_cast<std::size_t>(minimum) * 4 > size) size = static_cast<std::size_t>(minimum) * 4;
    void* mapping =
        ::mmap(nullptr, size + guard, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED) return;
    // An overflow of the signal stack itself hits this page instead of other memory.
    ::mprotect(mapping, guard, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(mapping) + guard;
    stack.ss_size = size;
    stack.ss_flags = 0;
    if (::sigaltstack(&stack, nullptr) != 0) {
        ::munmap(mapping, size + guard);
        return;
    }
    t_altStack.mapping = mapping;
    t_altStack.mappingSize = size + guard;
    t_altStack.guardSize = guard;
}

// Puts the previous handlers back when the code that holds ours is unloaded.
struct HandlerUninstaller {
    ~HandlerUninstaller() { RemoveFaultHandlers(); }
} g_handlerUninstaller;

// The link of the copy of this code whose handler is `handler`, or null when the object holding
// `handler` is not such a copy.
detail::HandlerLink* FindHandlerLink(void (*handler)(int, siginfo_t*, void*)) noexcept {
    struct Search {
        std::uintptr_t address;
        detail::HandlerLink* link;
    } search{reinterpret_cast<std::uintptr_t>(handler), nullptr};
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            Search& s = *static_cast<Search*>(data);
            bool holds = false;
            for (int i = 0; i < info->dlpi_phnum && !holds; ++i) {
                const ElfW(Phdr)& ph = info->dlpi_phdr[i];
                const std::uintptr_t low = info->dlpi_addr + ph.p_vaddr;
                holds = ph.p_type == PT_LOAD && s.address >= low && s.address < low + ph.p_memsz;
            }
            if (!holds) return 0;
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& ph = info->dlpi_phdr[i];
                if (ph.p_type != PT_NOTE) continue;
                const std::size_t align = ph.p_align == 8 ? 8 : 4;
                const auto round = [align](std::size_t n) { return (n + align - 1) & ~(align - 1); };
                const auto* notes = reinterpret_cast<const std::uint8_t*>(info->dlpi_addr + ph.p_vaddr);
                for (std::size_t at = 0; at + 12 <= ph.p_memsz;) {
                    std::uint32_t header[3];
                    std::memcpy(header, notes + at, sizeof header);
                    const std::size_t name = at + 12;
                    const std::size_t content = name + round(header[0]);
                    if (content + round(header[1]) > ph.p_memsz) break;
                    if (header[0] == 8 && header[1] == 8 && header[2] == 2 &&
                        std::memcmp(notes + name, "KDTRACE", 8) == 0) {
                        std::int64_t distance = 0;
                        std::memcpy(&distance, notes + content, sizeof distance);
                        auto* link = reinterpret_cast<detail::HandlerLink*>(
                            reinterpret_cast<std::uintptr_t>(notes + content) + static_cast<std::uintptr_t>(distance));
                        if (link->magic == detail::kHandlerLinkMagic &&
                            reinterpret_cast<std::uintptr_t>(link->handler) == s.address)
                            s.link = link;
                        return 1;
                    }
                    at = content + round(header[1]);
                }
            }
            return 1;
        },
        &search);
    return search.link;
}

// Our handler is being removed while another is in force for the signal: a later copy of this
// code may be chained to ours (directly or through further copies). It is given our previous
// handler in place of ours, so that nothing calls into this copy once it is unloaded. A handler
// of other code chained to ours cannot be reached and keeps calling ours.
void HandOnPrevious(int index, const struct sigaction& current) noexcept {
    void (*handler)(int, siginfo_t*, void*) = (current.sa_flags & SA_SIGINFO) != 0 ? current.sa_sigaction : nullptr;
    for (int hops = 0; handler != nullptr && handler != FaultHandler && hops < 64; ++hops) {
        detail::HandlerLink* link = FindHandlerLink(handler);
        if (link == nullptr || link == &kd_fault_handler_link) return;
        struct sigaction& previous = link->previous[index];
        if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction == FaultHandler) {
            previous = g_previous[index];
            return;
        }
        handler = (previous.sa_flags & SA_SIGINFO) != 0 ? previous.sa_sigaction : nullptr;
    }
}

}  // namespace

std::uint32_t FaultCodeForSignal(int signal, int signalCode) noexcept {
    switch (signal) {
        case SIGSEGV:
            return kFaultAccessViolation;
        case SIGBUS:
            return signalCode == BUS_ADRALN ? kFaultDatatypeMisalignment : kFaultInPageError;
        case SIGFPE:
            switch (signalCode) {
                case FPE_INTDIV:
                    return kFaultIntDivideByZero;
                case FPE_INTOVF:
                    return kFaultIntOverflow;
                case FPE_FLTDIV:
                    return kFaultFltDivideByZero;
                case FPE_FLTOVF:
                    return kFaultFltOverflow;
                case FPE_FLTUND:
                    return kFaultFltUnderflow;
                case FPE_FLTRES:
                    return kFaultFltInexactResult;
                case FPE_FLTSUB:
                    return kFaultArrayBoundsExceeded;
                default:
                    return kFaultFltInvalidOperation;
            }
        case SIGILL:
            return signalCode == ILL_PRVOPC || signalCode == ILL_PRVREG ? kFaultPrivInstruction
                                                                        : kFaultIllegalInstruction;
        default:
            return 0;
    }
}

bool IsStackOverflowAddress(std::uint64_t address, std::uint64_t sp) noexcept {
    const std::uint64_t distance = address > sp ? address - sp : sp - address;
    const bool nearStackPointer = distance <= kNearStackPointer;
    const FaultThreadState& state = g_faultThreadState;
    if (state.stackLow == 0) return nearStackPointer;
    const std::uint64_t low = state.stackLow;
    // The guard pages below the stack, and the first page of the stack itself.
    if (address < low + 4096 && low - std::min<std::uint64_t>(low, kGuardArea) <= address) return true;
    return nearStackPointer && address < low + kNearStackPointer;
}

bool InstallFaultHandlers() noexcept {
    if (g_installed.load(std::memory_order_acquire)) return true;
    kd::platform::LockGuard guard(g_installLock);
    if (g_installed.load(std::memory_order_relaxed)) return true;
    if (g_runtimeRangeCount.load(std::memory_order_relaxed) == 0) ::dl_iterate_phdr(NoteRuntimeModule, nullptr);
    if (g_ownRangeCount.load(std::memory_order_relaxed) == 0) NoteOwnCode();
    struct sigaction action {};
    action.sa_sigaction = FaultHandler;
    action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) {
        if (::sigaction(kSignals[i], &action, &g_previous[i]) != 0) {
            for (int j = 0; j < i; ++j) ::sigaction(kSignals[j], &g_previous[j], nullptr);
            return false;
        }
    }
    g_installed.store(true, std::memory_order_release);
    return true;
}

void RemoveFaultHandlers() noexcept {
    kd::platform::LockGuard guard(g_installLock);
    if (!g_installed.load(std::memory_order_relaxed)) return;
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction current {};
        if (::sigaction(kSignals[i], nullptr, &current) != 0) continue;
        if ((current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == FaultHandler)
            ::sigaction(kSignals[i], &g_previous[i], nullptr);
        else
            HandOnPrevious(i, current);
    }
    g_installed.store(false, std::memory_order_release);
}

void SetFatalFaultReporter(FatalFaultReporter reporter) noexcept {
    g_reporter.store(reporter, std::memory_order_release);
}

FaultTranslator SetThreadFaultTranslator(FaultTranslator translator) noexcept {
    if (translator != nullptr) PrepareThread();
    const FaultTranslator previous = g_faultThreadState.translator;
    g_faultThreadState.translator = translator;
    return previous;
}

std::size_t WalkFrameChain(std::uint64_t ip, std::uint64_t fp, std::uint64_t* out, std::size_t capacity) noexcept {
    if (out == nullptr || capacity == 0) return 0;
    std::size_t count = 0;
    out[count++] = ip;
    // A frame holds the caller's frame pointer and, just above it, the return address.
    std::uint64_t frame = fp;
    std::uint64_t words[2];
    if (frame == 0 || !SafeRead(static_cast<std::uintptr_t>(frame), words, sizeof words)) return count;
    while (count < capacity) {
        out[count++] = words[1];
        const std::uint64_t next = words[0];
        if (next == 0 || next <= frame || next % sizeof(void*) != 0) break;
        if (!SafeRead(static_cast<std::uintptr_t>(next), words, sizeof words)) break;
        frame = next;
    }
    return count;
}

}  // namespace kd::platform
