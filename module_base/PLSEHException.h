// CSEHExceptionWrapper: a processor fault (access violation, division by zero, ...) turned into
// a C++ exception that the ordinary catch clauses of every method take, and the per-thread
// translator that throws it.
//
// A thread that called PLInstallSEHTranslator (PLLoadLibrary does so for every caller) has its
// faults inside guarded regions (PLGuard) translated: the fault handler asks the debugging
// companion "kddbghlp" for a crash report, captures the call stack while the faulting frames
// still exist, and throws the wrapper. The method's catch clause then records the report
// "<NAME> encountered. @CALL_STACK: <stack>" and one "@@MODULE:<path>[<base>]" line per loaded
// module, and the method returns E_UNEXPECTED. Addresses are written with 16 hex digits
// ("0x%016llX"), as pointers on this platform have 64 bits.
//
// A stack overflow cannot be unwound: it is reported (a diagnostics record and a crash report)
// from the alternate signal stack, and then the process ends.
#ifndef KD_PLSEHEXCEPTION_H
#define KD_PLSEHEXCEPTION_H

#include <cstddef>
#include <cstdint>

#include <kdtrace/dbghlp.h>
#include <kdtrace/types.h>

#include "platform/Fault.h"

class PLString;

// Fault codes, as the system names them.
inline constexpr uint32_t PL_EXCEPTION_ACCESS_VIOLATION = 0xC0000005u;
inline constexpr uint32_t PL_EXCEPTION_IN_PAGE_ERROR = 0xC0000006u;
inline constexpr uint32_t PL_EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001Du;
inline constexpr uint32_t PL_EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008Eu;
inline constexpr uint32_t PL_EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094u;
inline constexpr uint32_t PL_EXCEPTION_STACK_OVERFLOW = 0xC00000FDu;

// The return addresses captured when a fault is translated. The walk runs inside the fault
// handler, where nothing may allocate, so the number of frames kept is bounded.
struct PLCallStack {
    static constexpr uint32_t kMaxFrames = 256;
    uint32_t count = 0;
    uint64_t frames[kMaxFrames] = {};
};

class CSEHExceptionWrapper {
public:
    // Without a captured stack: GetCallStack walks the frame chain of the context when asked.
    CSEHExceptionWrapper(const PLExceptionRecord& record, const PLThreadContext& context) noexcept
        : m_record(record), m_context(context) {}
    CSEHExceptionWrapper(const PLExceptionRecord& record, const PLThreadContext& context,
                         const PLCallStack& stack) noexcept
        : m_record(record), m_context(context), m_stack(stack) {}

    uint32_t GetExceptionCode() const noexcept { return m_record.ExceptionCode; }
    const PLExceptionRecord& GetExceptionRecord() const noexcept { return m_record; }
    const PLThreadContext& GetContextRecord() const noexcept { return m_context; }
    const PLCallStack& GetCapturedStack() const noexcept { return m_stack; }

    // The fault's name from the table of known codes ("ACCESS_VIOLATION", ...); empty if unknown.
    PLString GetExceptionName() const;
    // "0x%016llX~" per address: the faulting instruction, then each return address of the frame
    // chain walked from the saved frame pointer.
    PLString GetCallStack() const;
    // Records "<name> encountered. @CALL_STACK: <stack>" (error flag 1), then the loaded modules
    // (error flag 0, so the list keeps the report followed by the module lines).
    void Report(const char* group, const char* className, const char* method, HRESULT result) const;

private:
    PLExceptionRecord m_record;
    PLThreadContext m_context;
    PLCallStack m_stack;
};

// The name of a fault code (ASCII), or null when the code is not in the table.
const char* PLExceptionNameOf(uint32_t code) noexcept;

// Records one "@@MODULE:<path>[0x<base>]" line per module loaded in the process (error flag 0),
// as listed by the debugging companion; nothing without it.
void PLRecordLoadedModules(const char* group, const char* className, const char* method, HRESULT result);

// The diagnostics record sent for a stack overflow, from the alternate signal stack before the
// process ends: module, class and method names, result E_UNEXPECTED, the message
// "STACK_OVERFLOW encountered. @CALL_STACK: 0x...~0x...~", no source file, line 0.
inline constexpr const char* kPLFatalFaultModule = "Core Services";
inline constexpr const char* kPLFatalFaultClass = "";
inline constexpr const char* kPLFatalFaultMethod = "PLSEHTranslator";
inline constexpr std::size_t kPLFatalFaultMessageCapacity = 64 + PLCallStack::kMaxFrames * 19;
// Writes "<NAME> encountered. @CALL_STACK: " and "0x%016llX~" per frame into `out` (always
// terminated; only whole addresses) without allocating. Returns the length.
std::size_t PLFormatFatalFaultMessage(uint32_t code, const uint64_t* frames, std::size_t count, char* out,
                                      std::size_t size) noexcept;

// Installs the fault translator for the calling thread (once: a second call keeps the translator
// and the previous one stored by the first).
void PLInstallSEHTranslator() noexcept;
// Restores the translator the calling thread had before PLInstallSEHTranslator.
void PLRemoveSEHTranslator() noexcept;

// Copies `length` characters and a terminator into a caller's buffer with the library's own
// stores (never a C runtime copy, in which a fault could not be translated), so that an
// unwritable buffer arrives at the method's edge as a translated fault.
void PLCopyTextOut(WCHAR* buffer, const WCHAR* text, int32_t length);

// What a text getter does with text that its caller's buffer cannot hold whole.
enum class PLTruncation {
    Report,        // cut to size - 1 characters, terminated; S_FALSE when cut, else S_OK
    Silent,        // cut to size - 1 characters, terminated; S_OK
    ZeroFill,      // cut to size - 1 characters; the rest of the buffer, its last character
                   // included, zero; S_OK
    WholeOrEmpty,  // text that does not fit whole gives the empty string and E_INVALIDARG
};

// Copies `length` characters of `text` into a caller's buffer of `size` characters (at least 1)
// with PLCopyTextOut's stores, under `policy`.
HRESULT PLCopyTextToBuffer(WCHAR* buffer, LONG size, const WCHAR* text, int32_t length, PLTruncation policy);

// Throws the fault the translator took to the calling thread's recovery point.
[[noreturn]] void PLThrowRecoveredFault();

// Runs `call`, which calls code that is not the library's own (a host's listener, callback or
// object), under a recovery point: a processor fault there that cannot be unwound (a host built
// without -fnon-call-exceptions) ends the call as the translated fault, thrown from this frame.
// The frames of that code between the fault and here are abandoned without running their
// destructors; nothing of the library's own may live in them (a lock held across the call
// registers a FaultRecoveryCleanup instead). Setting the point saves no signal mask: a few
// stores per call.
template <class Call>
__attribute__((noinline)) void PLCallOut(Call&& call) {
    kd::platform::FaultRecoveryPoint point;
    if (__builtin_setjmp(point.env) != 0) PLThrowRecoveredFault();
    kd::platform::ArmFaultRecovery(point);
    struct Disarm {
        kd::platform::FaultRecoveryPoint& point;
        ~Disarm() { kd::platform::DisarmFaultRecovery(point); }
    } disarm{point};
    call();
}

#endif  // KD_PLSEHEXCEPTION_H
