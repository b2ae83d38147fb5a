// Processor faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL) turned into C++ exceptions on the threads
// that ask for it.
//
// One process-wide signal handler serves every thread. It takes a fault when the thread has a
// translator (SetThreadFaultTranslator), is inside a guarded region (FaultGuardScope: a catch
// clause of the module is above the faulting frame) and the kernel raised the signal for an
// instruction (not kill() or sigqueue()). Then:
//   - a fault in this library's own code (built with -fnon-call-exceptions, so every
//     instruction that may fault can be unwound) is handed to the translator, which throws;
//   - a fault in other code whose unwind tables cover the faulting instruction (a host built
//     with -fnon-call-exceptions, or a frame without cleanups) is thrown the same way, so the
//     destructors of the frames in between run;
//   - any other fault (a host built the ordinary way, whose tables end the unwinding with
//     std::terminate at such an instruction; the C runtime, whose functions are declared not to
//     throw) returns to the thread's innermost recovery point (FaultRecoveryPoint), which the
//     library sets around every call into code that is not its own. The frames in between are
//     abandoned without their destructors; the library then throws from its own frame.
//   - without a recovery point such a fault is not translated.
// Every fault not taken goes to the handler that was installed before ours (which may be the
// handler of another module built on this library, and may throw), or, when that was the
// default action, ends the process with the signal as before.
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
    // Set when the fault goes to a recovery point: the translator takes what it needs while the
    // faulting frames still exist and returns; the library throws later from the recovery point.
    bool deferred = false;
};

// Called on the faulting thread inside the signal handler; must throw, except for a deferred
// fault (returning from a fault that is not deferred hands it on as if no translator were
// installed).
using FaultTranslator = void (*)(const FaultInfo& fault);
// Called for a stack overflow on a thread with a translator, on the alternate signal stack,
// before the process ends. Async-signal-safe calls only.
using FatalFaultReporter = void (*)(const FaultInfo& fault) noexcept;

struct FaultRecoveryPoint;

// Per-thread state, readable from the signal handler without allocating (initial-exec TLS).
struct FaultThreadState {
    FaultTranslator translator;
    std::int32_t guardDepth;
    std::int32_t reserved;
    std::uintptr_t stackLow;       // lowest usable address of the thread's stack, 0 if unknown
    std::uintptr_t stackHigh;      // one past the highest
    FaultRecoveryPoint* recovery;  // the innermost armed recovery point, or null
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

// Where a fault in code that cannot be unwound returns to. The frame that holds it calls
// __builtin_setjmp(point.env) (frame and stack pointer and the resume address: nothing else is
// saved, the signal mask included, which the handler leaves as it was) and, when that returned
// 0, ArmFaultRecovery; it disarms before it returns. __builtin_setjmp returns nonzero after a
// fault: the point is already disarmed, the thread's guard depth is as it was when the point
// was armed, and the frame must not return normally to the abandoned code.
// Deliberately without constructor: arming costs a few stores, not a clearing of the buffer.
struct FaultRecoveryPoint {
    void* env[5];  // the buffer of __builtin_setjmp
    FaultRecoveryPoint* previous;
    std::int32_t guardDepth;
    // Run before the jump lands, for state that code inside the point holds across calls out
    // (a lock): the frames that would release it are abandoned. Null when none.
    void (*volatile cleanup)(void*);
    void* volatile cleanupArgument;
};

inline void ArmFaultRecovery(FaultRecoveryPoint& point) noexcept {
    FaultThreadState& state = g_faultThreadState;
    point.previous = state.recovery;
    point.guardDepth = state.guardDepth;
    point.cleanup = nullptr;
    point.cleanupArgument = nullptr;
    state.recovery = &point;
}
inline void DisarmFaultRecovery(FaultRecoveryPoint& point) noexcept {
    FaultThreadState& state = g_faultThreadState;
    if (state.recovery == &point) state.recovery = point.previous;
}

// Registers a cleanup with the thread's innermost recovery point for its scope (nothing when
// the thread has none).
class FaultRecoveryCleanup {
public:
    FaultRecoveryCleanup(void (*cleanup)(void*), void* argument) noexcept : m_point(g_faultThreadState.recovery) {
        if (m_point == nullptr) return;
        m_previous = m_point->cleanup;
        m_previousArgument = m_point->cleanupArgument;
        m_point->cleanupArgument = argument;
        m_point->cleanup = cleanup;
    }
    ~FaultRecoveryCleanup() {
        if (m_point == nullptr) return;
        m_point->cleanup = m_previous;
        m_point->cleanupArgument = m_previousArgument;
    }
    FaultRecoveryCleanup(const FaultRecoveryCleanup&) = delete;
    FaultRecoveryCleanup& operator=(const FaultRecoveryCleanup&) = delete;

private:
    FaultRecoveryPoint* m_point;
    void (*m_previous)(void*) = nullptr;
    void* m_previousArgument = nullptr;
};

// Installs the process-wide handler (once; later calls do nothing) and notes where the system
// runtimes lie. False when the handler could not be installed.
bool InstallFaultHandlers() noexcept;
// Puts back the handlers that were in force before ours, if ours are still installed; where a
// later copy of this code (another library built on it) has chained its handler to ours, that
// copy is given our previous handler instead. Done automatically when the code that holds the
// handler is unloaded, so that, in whatever order copies are unloaded, no handler is left
// calling into unmapped code.
void RemoveFaultHandlers() noexcept;
void SetFatalFaultReporter(FatalFaultReporter reporter) noexcept;

// Sets the calling thread's translator and returns the one it replaces. Setting a translator
// also gives the thread an alternate signal stack if it has none (so that a stack overflow can
// still be reported) and notes the thread's stack bounds; both are released when the thread ends.
FaultTranslator SetThreadFaultTranslator(FaultTranslator translator) noexcept;

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
