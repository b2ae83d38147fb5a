// Processor faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL) turned into C++ exceptions on the threads
// that ask for it.
//
// One process-wide signal handler serves every thread. It hands a fault to the thread's
// translator when all of these hold:
//   - the thread has a translator (SetThreadFaultTranslator);
//   - the thread is inside a guarded region (FaultGuardScope), i.e. there is a catch clause of
//     the module above the faulting frame to take the exception;
//   - the kernel raised the signal for an instruction (not kill() or sigqueue());
//   - the faulting instruction is not inside the C or C++ runtime, the dynamic loader or a
//     sanitizer runtime: their functions are declared not to throw, so an exception could not
//     pass through them.
// The translator throws; the code must be built with -fnon-call-exceptions so that the faulting
// instruction can be unwound. Every other fault goes to the handler that was installed before
// ours, or, when that was the default action, ends the process with the signal as before.
//
// A stack overflow cannot be unwound: the handler runs on the thread's alternate signal stack,
// calls the fatal-fault reporter (which may use async-signal-safe calls only) and then ends the
// process through the previous handler or the default action.
#ifndef KD_PLATFORM_FAULT_H
#define KD_PLATFORM_FAULT_H

#include <cstddef>
#include <cstdint>

namespace kd::platform {

// Fault codes in the system's numbering.
inline constexpr std::uint32_t kFaultDatatypeMisalignment = 0x80000002u;
inline constexpr std::uint32_t kFaultAccessViolation = 0xC0000005u;
inline constexpr std::uint32_t kFaultInPageError = 0xC0000006u;
inline constexpr std::uint32_t kFaultIllegalInstruction = 0xC000001Du;
inline constexpr std::uint32_t kFaultArrayBoundsExceeded = 0xC000008Cu;
inline constexpr std::uint32_t kFaultFltDivideByZero = 0xC000008Eu;
inline constexpr std::uint32_t kFaultFltInexactResult = 0xC000008Fu;
inline constexpr std::uint32_t kFaultFltInvalidOperation = 0xC0000090u;
inline constexpr std::uint32_t kFaultFltOverflow = 0xC0000091u;
inline constexpr std::uint32_t kFaultFltUnderflow = 0xC0000093u;
inline constexpr std::uint32_t kFaultIntDivideByZero = 0xC0000094u;
inline constexpr std::uint32_t kFaultIntOverflow = 0xC0000095u;
inline constexpr std::uint32_t kFaultPrivInstruction = 0xC0000096u;
inline constexpr std::uint32_t kFaultStackOverflow = 0xC00000FDu;

// Access kinds of an access violation (FaultInfo::accessKind).
inline constexpr std::uint32_t kFaultAccessRead = 0;
inline constexpr std::uint32_t kFaultAccessWrite = 1;
inline constexpr std::uint32_t kFaultAccessExecute = 8;

// The fault code for a signal and its si_code (0 for a signal that is not a processor fault).
std::uint32_t FaultCodeForSignal(int signal, int signalCode) noexcept;

// What the handler saw. Filled on the signal stack; holds no pointers that outlive the handler
// except `signalInfo` and `userContext`, which are valid only inside it.
struct FaultInfo {
    int signal = 0;
    int signalCode = 0;
    std::uint32_t code = 0;    // FaultCodeForSignal, or kFaultStackOverflow
    bool memoryFault = false;  // SIGSEGV, SIGBUS: accessKind and faultAddress describe the access
    std::uint32_t accessKind = 0;
    std::uint64_t faultAddress = 0;  // data address of a memory fault, else the instruction
    std::uint64_t ip = 0;
    std::uint64_t sp = 0;
    std::uint64_t fp = 0;
    std::uint64_t gregs[23] = {};
    const void* signalInfo = nullptr;   // siginfo_t
    const void* userContext = nullptr;  // ucontext_t
};

// Called on the faulting thread inside the signal handler; must throw (returning hands the
// fault on as if no translator were installed).
using FaultTranslator = void (*)(const FaultInfo& fault);
// Called for a stack overflow on a thread with a translator, on the alternate signal stack,
// before the process ends. Async-signal-safe calls only.
using FatalFaultReporter = void (*)(const FaultInfo& fault) noexcept;

// Per-thread state, readable from the signal handler without allocating (initial-exec TLS).
struct FaultThreadState {
    FaultTranslator translator;
    std::int32_t guardDepth;
    std::int32_t reserved;
    std::uintptr_t stackLow;   // lowest usable address of the thread's stack, 0 if unknown
    std::uintptr_t stackHigh;  // one past the highest
};
extern __thread FaultThreadState g_faultThreadState __attribute__((tls_model("initial-exec")));

// Marks a guarded region (a try block whose catch clauses take translated faults) for its scope.
class FaultGuardScope {
public:
    FaultGuardScope() noexcept { ++g_faultThreadState.guardDepth; }
    ~FaultGuardScope() { --g_faultThreadState.guardDepth; }
    FaultGuardScope(const FaultGuardScope&) = delete;
    FaultGuardScope& operator=(const FaultGuardScope&) = delete;
};

// Installs the process-wide handler (once; later calls do nothing) and notes where the system
// runtimes lie. False when the handler could not be installed.
bool InstallFaultHandlers() noexcept;
// Puts back the handlers that were in force before ours, if ours are still installed. Done
// automatically when the code that holds the handler is unloaded.
void RemoveFaultHandlers() noexcept;
void SetFatalFaultReporter(FatalFaultReporter reporter) noexcept;

// Sets the calling thread's translator and returns the one it replaces. Setting a translator
// also gives the thread an alternate signal stack if it has none (so that a stack overflow can
// still be reported) and notes the thread's stack bounds; both are released when the thread ends.
FaultTranslator SetThreadFaultTranslator(FaultTranslator translator) noexcept;
FaultTranslator GetThreadFaultTranslator() noexcept;

// The call stack from saved registers: `ip` first, then the return address of each frame of the
// frame-pointer chain that starts at `fp`. The walk stops at a null link, a link that does not
// point above the current frame, a link that is not pointer-aligned, memory that cannot be read,
// or after `capacity` addresses. Returns the number of addresses written. Async-signal-safe.
std::size_t WalkFrameChain(std::uint64_t ip, std::uint64_t fp, std::uint64_t* out, std::size_t capacity) noexcept;

// Whether the handler would treat a fault at `address` with stack pointer `sp` on the calling
// thread as a stack overflow.
bool IsStackOverflowAddress(std::uint64_t address, std::uint64_t sp) noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_FAULT_H
