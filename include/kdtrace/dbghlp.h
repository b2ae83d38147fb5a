// The debugging companion "kddbghlp" (libkddbghlp.so): the list of modules loaded in the process
// and a crash report written when a processor fault is translated. The module loads it by name
// at run time; when it is absent the module simply goes without both.
#ifndef KDTRACE_DBGHLP_H
#define KDTRACE_DBGHLP_H

#include <stdint.h>

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

// clang-format off
inline constexpr GUID IID_IPLModuleSet = {0xC33F21DC, 0x7C94, 0x4B33, {0x81, 0xA7, 0x6D, 0xEC, 0x54, 0x8A, 0x62, 0x20}};
// clang-format on

// A processor fault as the fault handler saw it.
struct PLExceptionRecord {
    uint32_t ExceptionCode = 0;     // 0xC0000005 (access violation), 0xC0000094 (integer divide), ...
    uint32_t ExceptionFlags = 0;    // 1: the fault cannot be continued
    uint64_t ExceptionAddress = 0;  // the instruction that faulted
    uint32_t NumberParameters = 0;
    // Access violations: [0] 0 read, 1 write, 8 instruction fetch; [1] the faulting data address.
    uint64_t ExceptionInformation[15] = {};
};

// The faulting thread's registers (x86-64 names; on other processors Rip, Rsp and Rbp hold the
// program counter, stack pointer and frame pointer).
struct PLThreadContext {
    uint64_t Rip = 0;
    uint64_t Rsp = 0;
    uint64_t Rbp = 0;
    // The general registers in the kernel's signal-frame order (on x86-64: r8 to r15, rdi, rsi,
    // rbp, rbx, rdx, rax, rcx, rsp, rip, eflags, csgsfs, err, trapno, oldmask, cr2).
    uint64_t Gregs[23] = {};
};

// What the crash report receives. The signal fields are those of the signal that reported the
// fault; SignalInfo and UserContext point at the kernel's siginfo_t and ucontext_t (or are null).
struct PLExceptionPointers {
    PLExceptionRecord* ExceptionRecord;
    PLThreadContext* ContextRecord;
    int32_t Signal;
    int32_t SignalCode;
    const void* SignalInfo;
    const void* UserContext;
};

// The modules loaded in the process when the set was made, by index from 0.
struct IPLModuleSet : IUnknown {
    virtual HRESULT GetCount(ULONG* count) = 0;  // slot 3
    // slot 4: the module's full path, cut to size - 1 characters and always terminated; S_FALSE
    // when it was cut. E_INVALIDARG for an index out of range.
    virtual HRESULT GetModulePath(ULONG index, WCHAR* buffer, ULONG size) = 0;
    // slot 5: the address the module is loaded at.
    virtual HRESULT GetBaseAddress(ULONG index, ULONGLONG* base) = 0;
};

// Writes a crash report file for the fault (a text file: signal, fault code and address,
// registers, stack words, memory map) into $KDTRACE_DUMP_DIR, else $TMPDIR, else /tmp, as read
// when the library loaded; named kdtrace-crash-<pid>-<tid>-<n>.txt. Only async-signal-safe
// calls: it runs inside the fault handler. S_OK when the report was written.
typedef HRESULT (*PFN_PLDBGHLP_CreateMiniDump)(const PLExceptionPointers* pointers);
// A new module set (one reference for the caller). Not for use inside a signal handler.
typedef HRESULT (*PFN_PLDBGHLP_GetModuleSet)(IPLModuleSet** set);

KDTRACE_END_DECLS

#endif  // KDTRACE_DBGHLP_H
