// CSEHExceptionWrapper: a processor fault (access violation, division by zero, ...) turned into
// a C++ exception that the ordinary catch clauses of every method take.
#ifndef KD_PLSEHEXCEPTION_H
#define KD_PLSEHEXCEPTION_H

#include <cstdint>

#include <kdtrace/types.h>

class PLString;

// Fault codes, as the system names them.
inline constexpr uint32_t PL_EXCEPTION_ACCESS_VIOLATION = 0xC0000005u;
inline constexpr uint32_t PL_EXCEPTION_IN_PAGE_ERROR = 0xC0000006u;
inline constexpr uint32_t PL_EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001Du;
inline constexpr uint32_t PL_EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008Eu;
inline constexpr uint32_t PL_EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094u;
inline constexpr uint32_t PL_EXCEPTION_STACK_OVERFLOW = 0xC00000FDu;

// What the fault handler saw: the fault itself.
struct PLExceptionRecord {
    uint32_t ExceptionCode = 0;
    uint32_t ExceptionFlags = 0;
    uint64_t ExceptionAddress = 0;   // instruction that faulted
    uint32_t NumberParameters = 0;
    uint64_t ExceptionInformation[15] = {};  // [0] read (0) / write (1), [1] faulting data address
};

// What the fault handler saw: the faulting thread's registers (x86-64 names).
struct PLThreadContext {
    uint64_t Rip = 0;
    uint64_t Rsp = 0;
    uint64_t Rbp = 0;
    uint64_t Gregs[23] = {};  // the general registers in the kernel's signal-frame order
};

class CSEHExceptionWrapper {
public:
    CSEHExceptionWrapper(const PLExceptionRecord& record, const PLThreadContext& context) noexcept
        : m_record(record), m_context(context) {}

    uint32_t GetExceptionCode() const noexcept { return m_record.ExceptionCode; }
    const PLExceptionRecord& GetExceptionRecord() const noexcept { return m_record; }
    const PLThreadContext& GetContextRecord() const noexcept { return m_context; }

    // The fault's name from the table of known codes ("ACCESS_VIOLATION", ...); empty if unknown.
    PLString GetExceptionName() const;
    // "0x%016llX~" per address: the faulting instruction, then each return address of the frame
    // chain walked from the saved frame pointer.
    PLString GetCallStack() const;
    // Records "<name> encountered. @CALL_STACK: <stack>" (error flag 1), then the loaded modules.
    void Report(const char* group, const char* className, const char* method, HRESULT result) const;

private:
    PLExceptionRecord m_record;
    PLThreadContext m_context;
};

// Records one "@@MODULE:<path>[0x<base>]" line per module loaded in the process.
void PLRecordLoadedModules(const char* group, const char* className, const char* method, HRESULT result);

#endif  // KD_PLSEHEXCEPTION_H
