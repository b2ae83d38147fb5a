/// \file
/// The debugging companion "kddbghlp" (libkddbghlp.so): the list of modules loaded in the process
/// and a crash report written when a processor fault is translated. The module loads it by name
/// at run time (beside itself first); when it is absent the module simply goes without both.
/// Hosts do not call it; this is the interface between the module and the companion.
#ifndef KDTRACE_DBGHLP_H
#define KDTRACE_DBGHLP_H

#include <stdint.h>

#include <kdtrace/types.h>
#include <kdtrace/unknwn.h>

KDTRACE_BEGIN_DECLS

// clang-format off
/// Identifier of IPLModuleSet.
inline constexpr GUID IID_IPLModuleSet = {0xC33F21DC, 0x7C94, 0x4B33, {0x81, 0xA7, 0x6D, 0xEC, 0x54, 0x8A, 0x62, 0x20}};
// clang-format on

/// A processor fault as the fault handler saw it.
struct PLExceptionRecord {
    uint32_t ExceptionCode = 0;     ///< 0xC0000005 (access violation), 0xC0000094 (integer divide), ...
    uint32_t ExceptionFlags = 0;    ///< 1: the fault cannot be continued
    uint64_t ExceptionAddress = 0;  ///< the instruction that faulted
    uint32_t NumberParameters = 0;  ///< the entries of ExceptionInformation in use
    /// Access violations: [0] 0 read, 1 write, 8 instruction fetch; [1] the faulting data address.
    uint64_t ExceptionInformation[15] = {};
};

/// The faulting thread's registers (x86-64 names; on other processors Rip, Rsp and Rbp hold the
/// program counter, stack pointer and frame pointer).
struct PLThreadContext {
    uint64_t Rip = 0;  ///< the program counter
    uint64_t Rsp = 0;  ///< the stack pointer
    uint64_t Rbp = 0;  ///< the frame pointer
    /// The general registers in the kernel's signal-frame order (on x86-64: r8 to r15, rdi, rsi,
    /// rbp, rbx, rdx, rax, rcx, rsp, rip, eflags, csgsfs, err, trapno, oldmask, cr2).
    uint64_t Gregs[23] = {};
};

/// What the crash report receives. The signal fields are those of the signal that reported the
/// fault.
struct PLExceptionPointers {
    PLExceptionRecord* ExceptionRecord;  ///< the fault
    PLThreadContext* ContextRecord;      ///< the registers
    int32_t Signal;                      ///< the signal number (SIGSEGV, ...)
    int32_t SignalCode;                  ///< its si_code
    const void* SignalInfo;              ///< the kernel's siginfo_t, or null
    const void* UserContext;             ///< the kernel's ucontext_t, or null
};

/// The modules loaded in the process when the set was made, by index from 0.
struct IPLModuleSet : IUnknown {
    /// Slot 3: the number of modules.
    /// \param count  receives it
    /// \return S_OK; E_POINTER.
    virtual HRESULT GetCount(ULONG* count) = 0;
    /// Slot 4: a module's full path.
    /// \param index   0 to count - 1
    /// \param buffer  receives the path, cut to `size` - 1 characters, always terminated
    /// \param size    the buffer's size in characters
    /// \return S_OK; S_FALSE when cut; E_INVALIDARG for an index out of range; E_POINTER.
    virtual HRESULT GetModulePath(ULONG index, WCHAR* buffer, ULONG size) = 0;
    /// Slot 5: the address a module is loaded at.
    /// \param index  0 to count - 1
    /// \param base   receives it
    /// \return S_OK; E_INVALIDARG for an index out of range; E_POINTER.
    virtual HRESULT GetBaseAddress(ULONG index, ULONGLONG* base) = 0;
};

/// The export "PLDBGHLP_CreateMiniDump": writes a crash report file for the fault (a text file:
/// signal, fault code and address, registers, stack words, memory map) into $KDTRACE_DUMP_DIR,
/// else $TMPDIR, else /tmp, as read when the library loaded; named
/// kdtrace-crash-PID-TID-N.txt. Only async-signal-safe calls: it runs inside the fault
/// handler.
/// \param pointers  the fault
/// \return S_OK when the report was written.
typedef HRESULT (*PFN_PLDBGHLP_CreateMiniDump)(const PLExceptionPointers* pointers);
/// The export "PLDBGHLP_GetModuleSet": a new module set. Not for use inside a signal handler.
/// \param set  receives it, with one reference
/// \return S_OK; E_POINTER.
typedef HRESULT (*PFN_PLDBGHLP_GetModuleSet)(IPLModuleSet** set);

KDTRACE_END_DECLS

#endif  // KDTRACE_DBGHLP_H
