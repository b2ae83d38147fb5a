// Crash report files: what a fault handler knows about a fault, written with async-signal-safe
// calls only (no allocation, no stdio, no locks).
//
// The report is a text file: the process and thread, the signal, the fault code and address,
// the registers, the words on the stack from the stack pointer up, and a copy of the memory map
// (/proc/self/maps). It goes to $KDTRACE_DUMP_DIR if set, else $TMPDIR, else /tmp, named
// "kdtrace-crash-<pid>-<tid>-<n>.txt".
#ifndef KD_PLATFORM_CRASH_REPORT_H
#define KD_PLATFORM_CRASH_REPORT_H

#include <cstddef>
#include <cstdint>

namespace kd::platform {

struct CrashReportInput {
    int signal = 0;
    int signalCode = 0;
    std::uint32_t code = 0;  // the fault code in the system's numbering
    std::uint64_t faultAddress = 0;
    std::uint64_t ip = 0;
    std::uint64_t sp = 0;
    std::uint64_t fp = 0;
    const std::uint64_t* gregs = nullptr;  // 23 registers in the kernel's signal-frame order
};

// Reads the report directory from the environment. Call once outside any signal handler (the
// library that writes reports does so when it loads); WriteCrashReport uses what it found.
void PrepareCrashReports() noexcept;
// The directory reports go to (after PrepareCrashReports).
const char* CrashReportDirectory() noexcept;

// Writes one report. On success copies the file's path into `pathOut` (cut to fit, always
// terminated) when given. Async-signal-safe.
bool WriteCrashReport(const CrashReportInput& input, char* pathOut = nullptr, std::size_t pathSize = 0) noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_CRASH_REPORT_H
