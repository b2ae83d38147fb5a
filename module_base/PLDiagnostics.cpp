// The diagnostics writer and the records of the base library: error records, trace records and
// the record of a registry file that cannot be read.
#include "module_base/PLDiagnostics.h"

#include <atomic>
#include <bit>
#include <cerrno>

#include "module_base/PLDiagnosticsRecord.h"
#include "module_base/PLError.h"
#include "platform/DebugOutput.h"
#include "platform/LocalTime.h"
#include "platform/Mutex.h"
#include "platform/NumberText.h"
#include "platform/RegistryFile.h"
#include "platform/Thread.h"

// Records go on the wire as UTF-16 little-endian: the text is sent as it lies in memory.
static_assert(std::endian::native == std::endian::little, "records are sent in the host's byte order");

namespace {

constexpr std::size_t kMaxRecordUnits = kd::platform::kDiagMaxRecordBytes / 2;
// Records built in a signal handler live on its (alternate) stack.
constexpr std::size_t kSignalSafeRecordUnits = 2048;

constexpr const WCHAR* kRegistryKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics";
constexpr const WCHAR* kRegistryValue = u"Log Profile";

std::atomic<PLDiagnosticsClock> g_clock{nullptr};

// The profile mask, loaded once per process by the first writer that needs it.
kd::platform::Mutex g_maskLock;
std::atomic<bool> g_maskLoaded{false};
std::atomic<ULONG> g_mask{0};

PLDiagnosticsTime FromFields(const kd::platform::LocalTimeFields& f) noexcept {
    return {f.year, f.month, f.day, f.hour, f.minute, f.second};
}

PLDiagnosticsTime Now() noexcept {
    if (const PLDiagnosticsClock clock = g_clock.load(std::memory_order_acquire)) {
        PLDiagnosticsTime t{};
        clock(&t);
        return t;
    }
    return FromFields(kd::platform::LocalTimeNow());
}

PLDiagnosticsTime NowSignalSafe() noexcept {
    if (const PLDiagnosticsClock clock = g_clock.load(std::memory_order_acquire)) {
        PLDiagnosticsTime t{};
        clock(&t);
        return t;
    }
    return FromFields(kd::platform::LocalTimeNowSignalSafe());
}

HRESULT ToHResult(int32_t sendResult) noexcept {
    if (sendResult == PL_DIAG_SENT) return S_OK;
    if (sendResult == PL_DIAG_WRITE_FAILED) return E_FAIL;
    return S_FALSE;
}

const WCHAR* OrEmpty(const WCHAR* s) noexcept {
    return s == nullptr ? u"" : s;
}

// "0x%08X" into a narrow buffer of at least 11 bytes.
std::size_t HexText(uint32_t value, char* out) noexcept {
    out[0] = '0';
    out[1] = 'x';
    kd::platform::HexDigits(value, 8, out + 2);
    out[10] = 0;
    return 10;
}

std::size_t DecimalText(uint32_t value, char* out) noexcept {
    const std::size_t n = kd::platform::DecimalDigits(value, out);
    out[n] = 0;
    return n;
}

PLString Narrow(const char* text, std::size_t length) {
    return PLString::FromUtf8(std::string_view(text, length));
}

// The nine columns of an error record, in their order.
void AddErrorColumns(CDiagnosticsWriter& writer, HRESULT result, const WCHAR* message, const WCHAR* module,
                     const WCHAR* className, const WCHAR* method, const WCHAR* sourceFile, ULONG sourceLine) {
    char text[16];
    writer.AddColumn(u"ThreadID", Narrow(text, HexText(kd::platform::CurrentThreadId(), text)));
    writer.AddColumn(u"Result", Narrow(text, HexText(static_cast<uint32_t>(result), text)));
    writer.AddColumn(u"Message", OrEmpty(message));
    writer.AddColumn(u"Module", OrEmpty(module));
    writer.AddColumn(u"Class", OrEmpty(className));
    writer.AddColumn(u"Method", OrEmpty(method));
    writer.AddColumn(u"SourceFile", OrEmpty(sourceFile));
    writer.AddColumn(u"SourceLine", Narrow(text, DecimalText(sourceLine, text)));
    writer.AddColumn(u"Severity", u"Error");
}

}  // namespace

void PLSetDiagnosticsClock(PLDiagnosticsClock clock) noexcept {
    g_clock.store(clock, std::memory_order_release);
}

// ---- the writer ----

CDiagnosticsWriter::CDiagnosticsWriter(ULONG profile) : m_profile(profile) {
    // With no console a record costs no file-system lookup: the channel's absence is trusted for
    // a short time.
    m_channel.OpenUnlessRecentlyAbsent();
    if (profile == PL_DIAG_PROFILE_ERROR || profile == PL_DIAG_PROFILE_WORKFLOW) {
        m_enabled = true;
        return;
    }
    LoadProfileMask();
    m_enabled = (g_mask.load(std::memory_order_acquire) & profile) != 0;
}

CDiagnosticsWriter::~CDiagnosticsWriter() {
    m_channel.Close();
}

void CDiagnosticsWriter::LoadProfileMask() {
    if (g_maskLoaded.load(std::memory_order_acquire)) return;
    kd::platform::LockGuard lock(g_maskLock);
    if (g_maskLoaded.load(std::memory_order_relaxed)) return;
    const std::string path = kd::platform::RegistryFilePath();
    uint32_t mask = 0;
    const kd::platform::RegistryStatus status =
        kd::platform::ReadRegistryDword(path, kRegistryKey, kRegistryValue, &mask);
    if (status != kd::platform::RegistryStatus::Ok) {
        g_mask.store(0, std::memory_order_release);
        kd::platform::DebugOutput("kdtrace: cannot read \"Log Profile\" from " + path + ": " +
                                  kd::platform::RegistryStatusText(status) + "\n");
        // Tell the console, as an error record that is sent whatever this writer's profile.
        const ULONG own = m_profile;
        m_profile = PL_DIAG_PROFILE_ERROR;
        if (IsOpen()) {
            AddErrorColumns(*this, E_FAIL, u"Unable to read Brackwell diagnostics registry key value", u"Core Services",
                            u"CDiagnosticsWriter", u"_init", PLWiden(__FILE__), __LINE__);
            Send(true);
        }
        m_profile = own;
        Clear();
    } else {
        g_mask.store(mask, std::memory_order_release);
    }
    g_maskLoaded.store(true, std::memory_order_release);
}

void CDiagnosticsWriter::AddColumn(const PLString& name, const PLString& value) {
    if (!IsOpen()) return;
    m_columns.emplace_back(name, value);
}

int32_t CDiagnosticsWriter::Send(bool force) {
    if (!force) {
        if (!IsOpen()) return PL_DIAG_NOT_OPEN;
        if (m_profile == PL_DIAG_PROFILE_DB || m_profile == PL_DIAG_PROFILE_FILE ||
            m_profile == PL_DIAG_PROFILE_VBSCRIPT || !m_enabled)
            return PL_DIAG_REFUSED;
    }
    // Each send builds the whole record anew from the columns.
    std::vector<PLDiagColumn> columns;
    columns.reserve(m_columns.size());
    for (const auto& [name, value] : m_columns)
        columns.push_back({PLDiagText::Wide(name.view()), PLDiagText::Wide(value.view())});
    const PLDiagnosticsTime time = Now();
    const std::size_t full = PLDiagRecordLength(m_profile, time, columns.data(), columns.size());
    const std::size_t capacity = full < kMaxRecordUnits ? full : kMaxRecordUnits;
    m_text.assign(capacity, u'\0');
    const std::size_t units =
        PLBuildDiagRecord(m_text.data(), capacity, m_profile, time, columns.data(), columns.size());
    m_text.resize(units);
    if (units == 0) return PL_DIAG_WRITE_FAILED;
    const auto sent = m_channel.Send(m_text.data(), units * sizeof(char16_t));
    m_text.pop_back();  // the terminator is part of the datagram, not of the text
    switch (sent) {
        case kd::platform::DiagChannelTarget::SendResult::Sent:
            return PL_DIAG_SENT;
        case kd::platform::DiagChannelTarget::SendResult::NoListener:
            // The console went away (or left a stale socket): as if it had never listened.
            return force ? PL_DIAG_WRITE_FAILED : PL_DIAG_NOT_OPEN;
        case kd::platform::DiagChannelTarget::SendResult::Dropped:
            break;
    }
    return PL_DIAG_WRITE_FAILED;
}

void CDiagnosticsWriter::Clear() {
    m_text.clear();
    m_columns.clear();
}

ULONG PLGetDiagnosticsProfileMask() {
    if (!g_maskLoaded.load(std::memory_order_acquire)) CDiagnosticsWriter loader(PL_DIAG_PROFILE_TCVERBOSE);
    return g_mask.load(std::memory_order_acquire);
}

void PLResetDiagnosticsProfileMask() noexcept {
    kd::platform::LockGuard lock(g_maskLock);
    g_mask.store(0, std::memory_order_release);
    g_maskLoaded.store(false, std::memory_order_release);
}

// ---- records ----

HRESULT PLWriteDiagnosticError(const WCHAR* module, const WCHAR* className, const WCHAR* method, HRESULT result,
                               LONG /*messageType*/, const WCHAR* message, const WCHAR* sourceFile,
                               ULONG sourceLine) noexcept {
    try {
        CDiagnosticsWriter writer(PL_DIAG_PROFILE_ERROR);
        // With no console there is nothing to format.
        if (writer.IsOpen())
            AddErrorColumns(writer, result, message, module, className, method, sourceFile, sourceLine);
        return ToHResult(writer.Send(false));
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT PLWriteDiagnosticTrace(const void* /*reserved*/, const WCHAR* module, const WCHAR* className,
                               const WCHAR* method, const WCHAR* message, const WCHAR* sourceFile,
                               ULONG sourceLine) noexcept {
    try {
        CDiagnosticsWriter writer(PL_DIAG_PROFILE_LDAP);
        if (writer.IsOpen()) {
            char text[16];
            writer.AddColumn(u"Module", OrEmpty(module));
            writer.AddColumn(u"Class", OrEmpty(className));
            writer.AddColumn(u"Method", OrEmpty(method));
            writer.AddColumn(u"ThreadID", Narrow(text, HexText(kd::platform::CurrentThreadId(), text)));
            writer.AddColumn(u"SourceFile", OrEmpty(sourceFile));
            writer.AddColumn(u"SourceLine", Narrow(text, DecimalText(sourceLine, text)));
            writer.AddColumn(u"Message", OrEmpty(message));
        }
        return ToHResult(writer.Send(false));
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT PLWriteDiagnosticErrorSignalSafe(const char* module, const char* className, const char* method, HRESULT result,
                                         const char* message, const char* sourceFile, ULONG sourceLine) noexcept {
    // A signal handler must leave errno as it found it.
    const int savedErrno = errno;
    HRESULT hr = S_FALSE;
    kd::platform::DiagChannelTarget channel;
    if (channel.Open()) {
        const auto text = [](const char* s) {
            std::size_t n = 0;
            if (s != nullptr)
                while (s[n] != 0) ++n;
            return PLDiagText::Narrow(std::string_view(s == nullptr ? "" : s, n));
        };
        char threadText[16];
        char resultText[16];
        char lineText[16];
        const std::size_t threadLength = HexText(kd::platform::SignalSafeThreadId(), threadText);
        const std::size_t resultLength = HexText(static_cast<uint32_t>(result), resultText);
        const std::size_t lineLength = DecimalText(sourceLine, lineText);
        const PLDiagColumn columns[] = {
            {PLDiagText::Wide(u"ThreadID"), PLDiagText::Narrow({threadText, threadLength})},
            {PLDiagText::Wide(u"Result"), PLDiagText::Narrow({resultText, resultLength})},
            {PLDiagText::Wide(u"Message"), text(message)},
            {PLDiagText::Wide(u"Module"), text(module)},
            {PLDiagText::Wide(u"Class"), text(className)},
            {PLDiagText::Wide(u"Method"), text(method)},
            {PLDiagText::Wide(u"SourceFile"), text(sourceFile)},
            {PLDiagText::Wide(u"SourceLine"), PLDiagText::Narrow({lineText, lineLength})},
            {PLDiagText::Wide(u"Severity"), PLDiagText::Wide(u"Error")},
        };
        char16_t record[kSignalSafeRecordUnits];
        const std::size_t units = PLBuildDiagRecord(record, kSignalSafeRecordUnits, PL_DIAG_PROFILE_ERROR,
                                                    NowSignalSafe(), columns, sizeof columns / sizeof columns[0]);
        if (units == 0) {
            hr = E_FAIL;
        } else {
            switch (channel.Send(record, units * sizeof(char16_t))) {
                case kd::platform::DiagChannelTarget::SendResult::Sent:
                    hr = S_OK;
                    break;
                case kd::platform::DiagChannelTarget::SendResult::NoListener:
                    hr = S_FALSE;
                    break;
                case kd::platform::DiagChannelTarget::SendResult::Dropped:
                    hr = E_FAIL;
                    break;
            }
        }
    }
    errno = savedErrno;
    return hr;
}
