// The diagnostics channel: every recorded error is also offered to a diagnostics console as
// one diagInfo record.
//
// A record is one datagram of UTF-16 little-endian text: the two characters U+00FF U+00FE, the
// profile header, "<time><![CDATA[M/D/YYYY h:mm:ss AM]]></time><columns>", one
// "<column name="NAME"><![CDATA[VALUE]]></column>" per column in insertion order,
// "</columns></diagInfo>" and a terminating U+0000. Names and values are written as they are,
// without escaping. A record longer than the channel's limit is cut: the longest values are
// shortened (at a character boundary) until it fits, and it still ends with the trailer.
//
// Which profiles are sent is decided by the "Log Profile" dword under
// HKEY_LOCAL_MACHINE\SOFTWARE\Brackwell\Diagnostics in the registry file, read once per
// process; error and workflow records are always sent.
#ifndef KD_PLDIAGNOSTICS_H
#define KD_PLDIAGNOSTICS_H

#include <string>
#include <utility>
#include <vector>

#include <kdtrace/types.h>

#include "module_base/PLString.h"
#include "platform/DiagChannel.h"

// Record profiles, one bit each.
inline constexpr ULONG PL_DIAG_PROFILE_DB = 1;
inline constexpr ULONG PL_DIAG_PROFILE_ERROR = 2;
inline constexpr ULONG PL_DIAG_PROFILE_FILE = 4;
inline constexpr ULONG PL_DIAG_PROFILE_LDAP = 8;
inline constexpr ULONG PL_DIAG_PROFILE_WORKFLOW = 16;
inline constexpr ULONG PL_DIAG_PROFILE_VBSCRIPT = 32;
inline constexpr ULONG PL_DIAG_PROFILE_TCVERBOSE = 64;

// Results of CDiagnosticsWriter::Send.
inline constexpr int32_t PL_DIAG_SENT = 1;
inline constexpr int32_t PL_DIAG_WRITE_FAILED = 0;
inline constexpr int32_t PL_DIAG_REFUSED = -1;   // profile refused or not enabled
inline constexpr int32_t PL_DIAG_NOT_OPEN = -2;  // no console listens

// The wall-clock time a record carries.
struct PLDiagnosticsTime {
    int32_t year;
    int32_t month;   // 1 to 12
    int32_t day;     // 1 to 31
    int32_t hour;    // 0 to 23
    int32_t minute;  // 0 to 59
    int32_t second;  // 0 to 60
};

// Where records take their time from. Null (the default) is the local time of the system. A
// clock set here is also used by PLWriteDiagnosticErrorSignalSafe, so it must be safe to call
// from a signal handler.
using PLDiagnosticsClock = void (*)(PLDiagnosticsTime* now);
void PLSetDiagnosticsClock(PLDiagnosticsClock clock) noexcept;

// Builds and sends one record. Writers are short-lived and used on one thread.
class CDiagnosticsWriter {
public:
    // Opens the channel and decides whether the profile is enabled: error and workflow always
    // are; any other profile needs its bit in the process's profile mask, which the first such
    // writer loads.
    explicit CDiagnosticsWriter(ULONG profile);
    ~CDiagnosticsWriter();
    CDiagnosticsWriter(const CDiagnosticsWriter&) = delete;
    CDiagnosticsWriter& operator=(const CDiagnosticsWriter&) = delete;

    // Appends a column; does nothing when no console listens.
    void AddColumn(const PLString& name, const PLString& value);
    // Builds the record and sends it. Unless forced: PL_DIAG_NOT_OPEN when no console listens,
    // PL_DIAG_REFUSED for the db, file and vbscript profiles and when the profile is not
    // enabled. Otherwise PL_DIAG_SENT, or PL_DIAG_WRITE_FAILED when the record could not be
    // delivered (no console, or the console's queue is full).
    int32_t Send(bool force);
    // Empties the record text and the columns.
    void Clear();

    bool IsOpen() const noexcept { return m_channel.IsOpen(); }
    bool IsEnabled() const noexcept { return m_enabled; }
    ULONG GetProfile() const noexcept { return m_profile; }
    // The text of the record last built by Send (without the terminating U+0000).
    const std::u16string& GetRecordText() const noexcept { return m_text; }

private:
    void LoadProfileMask();

    kd::platform::DiagChannelTarget m_channel;
    bool m_enabled = false;
    std::u16string m_text;
    std::vector<std::pair<PLString, PLString>> m_columns;
    ULONG m_profile;
};

// Writes the error record for one recorded error (the message type is not written). S_OK when
// a console received it, S_FALSE when none listens (or the profile is refused), E_FAIL when the
// write failed.
HRESULT PLWriteDiagnosticError(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                               LONG messageType, const WCHAR* message, const WCHAR* sourceFile,
                               ULONG sourceLine) noexcept;

// Writes a trace record (ldap profile, sent when the profile mask has its bit). The first
// argument is not used. Results as PLWriteDiagnosticError.
HRESULT PLWriteDiagnosticTrace(const void* reserved, const WCHAR* module, const WCHAR* className, const WCHAR* method,
                               const WCHAR* message, const WCHAR* sourceFile, ULONG sourceLine) noexcept;

// The error record, from a signal handler: narrow UTF-8 inputs (null is empty), built in a
// fixed buffer on the stack (about 6 KB of stack in all) with async-signal-safe calls only. The
// time is local time from the UTC offset seen by the last ordinary record (or at load).
// Records longer than the buffer (2048 characters) are cut as any long record is. Results as
// PLWriteDiagnosticError.
HRESULT PLWriteDiagnosticErrorSignalSafe(const char* module, const char* className, const char* method, HRESULT result,
                                         const char* message, const char* sourceFile, ULONG sourceLine) noexcept;

// The process's profile mask, loading it first if no writer has yet.
ULONG PLGetDiagnosticsProfileMask();
// Forgets the loaded profile mask, so that the next writer that needs it reads the registry file
// again (a process normally reads it once).
void PLResetDiagnosticsProfileMask() noexcept;

#endif  // KD_PLDIAGNOSTICS_H
