// The diagnostics writer, end to end through a socket bound by the test: record bytes, the
// clock, profiles and the profile mask, channel failures, long records, concurrency and the
// signal-safe record.
#include "inc_module_base/PLDiagnostics.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "inc_module_base/PLError.h"
#include "lib_module_base/PLDiagnosticsRecord.h"
#include "platform/thread.h"
#include "support/diag_receiver.h"

namespace {

using kdtest::DatagramText;
using kdtest::DiagReceiver;
using kdtest::LittleEndianBytes;
using kdtest::ScopedEnv;
using kdtest::TempDir;
using kdtest::Wide;

PLDiagnosticsTime g_fixedTime{2025, 3, 7, 13, 7, 2};
void FixedClock(PLDiagnosticsTime* now) {
    *now = g_fixedTime;
}

std::u16string Column(std::u16string_view name, std::u16string_view value) {
    return u"<column name=\"" + std::u16string(name) + u"\"><![CDATA[" + std::u16string(value) +
           u"]]></column>";
}

std::u16string Record(std::u16string_view header, std::u16string_view time,
                      std::u16string_view columns) {
    return u"\u00FF\u00FE" + std::u16string(header) + u"<time><![CDATA[" + std::u16string(time) +
           u"]]></time><columns>" + std::u16string(columns) + u"</columns></diagInfo>";
}

constexpr std::u16string_view kErrorHeader = u"<diagInfo><type><![CDATA[error-profile]]></type>";

std::u16string ThisThread() {
    return Wide(kdtest::Hex8(kd::platform::CurrentThreadId()));
}

std::u16string ErrorColumns(std::u16string_view thread, std::u16string_view result,
                            std::u16string_view message, std::u16string_view module,
                            std::u16string_view className, std::u16string_view method,
                            std::u16string_view file, std::u16string_view line) {
    return Column(u"ThreadID", thread) + Column(u"Result", result) + Column(u"Message", message) +
           Column(u"Module", module) + Column(u"Class", className) + Column(u"Method", method) +
           Column(u"SourceFile", file) + Column(u"SourceLine", line) +
           Column(u"Severity", u"Error");
}

// The value of the first column called `name`, or nothing.
std::optional<std::u16string> ColumnValue(std::u16string_view record, std::u16string_view name) {
    const std::u16string open = u"<column name=\"" + std::u16string(name) + u"\"><![CDATA[";
    const std::size_t start = record.find(open);
    if (start == std::u16string_view::npos) return std::nullopt;
    const std::size_t from = start + open.size();
    const std::size_t end = record.find(u"]]></column>", from);
    if (end == std::u16string_view::npos) return std::nullopt;
    return std::u16string(record.substr(from, end - from));
}

// "t<thread>" and "t<thread>-<record>". (Built by appending: GCC 12 at -O3 warns wrongly about
// "literal" + std::string.)
std::string WorkerLabel(int thread) {
    std::string label("t");
    label += std::to_string(thread);
    return label;
}
std::string WorkerMessage(int thread, int record) {
    std::string message = WorkerLabel(thread);
    message += '-';
    message += std::to_string(record);
    return message;
}

class DiagnosticsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        g_fixedTime = {2025, 3, 7, 13, 7, 2};
        PLSetDiagnosticsClock(&FixedClock);
        PLResetDiagnosticsProfileMask();
        WriteLogProfile(0x7F);
    }
    void TearDown() override {
        PLSetDiagnosticsClock(nullptr);
        PLResetDiagnosticsProfileMask();
    }

    void WriteRegistry(const std::string& text) {
        std::ofstream out(registryPath, std::ios::binary | std::ios::trunc);
        out << text;
    }
    void WriteLogProfile(uint32_t mask) {
        char value[16];
        std::snprintf(value, sizeof value, "%08x", mask);
        WriteRegistry(std::string("Windows Registry Editor Version 5.00\r\n\r\n"
                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\r\n"
                                  "\"Log Profile\"=dword:") +
                      value + "\r\n");
    }

    TempDir dir;
    std::string socketPath = dir / "diagInfo";
    std::string registryPath = dir / "registry.reg";
    ScopedEnv socketEnv{"KDTRACE_DIAG_SOCKET", socketPath};
    ScopedEnv registryEnv{"KDTRACE_REGISTRY", registryPath};
};

// ---- the record ----

TEST_F(DiagnosticsTest, ErrorRecordHasTheExactBytes) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 3, u"x", u"/src/a.cpp", 7), S_OK);
    const auto datagram = receiver.Receive();
    ASSERT_TRUE(datagram);

    std::vector<uint8_t> expected = LittleEndianBytes(Record(
        kErrorHeader, u"3/7/2025 1:07:02 PM",
        ErrorColumns(ThisThread(), u"0x80004005", u"x", u"Core", u"A", u"B", u"/src/a.cpp", u"7")));
    expected.push_back(0);
    expected.push_back(0);
    EXPECT_EQ(*datagram, expected);
    ASSERT_GE(datagram->size(), 4u);
    EXPECT_EQ((*datagram)[0], 0xFF);
    EXPECT_EQ((*datagram)[1], 0x00);
    EXPECT_EQ((*datagram)[2], 0xFE);
    EXPECT_EQ((*datagram)[3], 0x00);
}

TEST_F(DiagnosticsTest, EveryRecordedErrorReachesTheConsole) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    int throwLine = 0;
    const HRESULT hr = PLGuard("Core", "A", "B", [&](HRESULT& result) {
        result = E_FAIL;
        throwLine = __LINE__ + 1;
        PL_THROW_ERROR(result, "x", 1);
    });
    EXPECT_EQ(hr, E_FAIL);
    auto datagram = receiver.Receive();
    ASSERT_TRUE(datagram);
    std::u16string text = DatagramText(*datagram);
    EXPECT_EQ(ColumnValue(text, u"Message"), u"x");
    EXPECT_EQ(ColumnValue(text, u"Module"), u"Core");
    EXPECT_EQ(ColumnValue(text, u"Class"), u"A");
    EXPECT_EQ(ColumnValue(text, u"Method"), u"B");
    EXPECT_EQ(ColumnValue(text, u"SourceFile"), PLWiden(__FILE__).view());
    EXPECT_EQ(ColumnValue(text, u"SourceLine"), Wide(std::to_string(throwLine)));

    // A bare negative code caught at the edge: "Error 0x%08x occurred.", no source position.
    PLGuard("Core", "A", "C", [&](HRESULT& result) {
        result = static_cast<HRESULT>(0x80070057);
        throw result;
    });
    datagram = receiver.Receive();
    ASSERT_TRUE(datagram);
    text = DatagramText(*datagram);
    EXPECT_EQ(ColumnValue(text, u"Message"), u"Error 0x80070057 occurred.");
    EXPECT_EQ(ColumnValue(text, u"Result"), u"0x80070057");
    EXPECT_EQ(ColumnValue(text, u"SourceFile"), u"");
    EXPECT_EQ(ColumnValue(text, u"SourceLine"), u"0");

    // A suspended thread records nothing, in its list or on the channel.
    {
        CPLThreadErrorSuspender suspend;
        PLGuard("Core", "A", "D", [&](HRESULT& result) {
            result = E_FAIL;
            PL_THROW_ERROR(result, "hidden", 1);
        });
    }
    EXPECT_FALSE(receiver.Receive(200));
}

TEST_F(DiagnosticsTest, TimeUsesTheTwelveHourClock) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    const struct {
        PLDiagnosticsTime time;
        std::u16string_view text;
    } cases[] = {
        {{2025, 1, 5, 0, 5, 9}, u"1/5/2025 12:05:09 AM"},
        {{2025, 1, 5, 12, 0, 0}, u"1/5/2025 12:00:00 PM"},
        {{2025, 1, 5, 13, 7, 2}, u"1/5/2025 1:07:02 PM"},
        {{2024, 12, 31, 11, 59, 59}, u"12/31/2024 11:59:59 AM"},
        {{1999, 10, 10, 23, 0, 0}, u"10/10/1999 11:00:00 PM"},
    };
    for (const auto& c : cases) {
        g_fixedTime = c.time;
        CDiagnosticsWriter writer(PL_DIAG_PROFILE_ERROR);
        ASSERT_EQ(writer.Send(false), PL_DIAG_SENT);
        const std::u16string& text = writer.GetRecordText();
        EXPECT_NE(text.find(u"<time><![CDATA[" + std::u16string(c.text) + u"]]></time>"),
                  std::u16string::npos)
            << kdtest::Ascii(text);
    }
}

TEST_F(DiagnosticsTest, MessagesAreWrittenUnchanged) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    // "]]>" ends the CDATA section early: the record is then not well-formed XML, and that is
    // what consoles have always received.
    const std::u16string message = u"a]]>b <c attr=\"1\"> & \u00E9\U0001F600\n\ttab";
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, message.c_str(), u"", 0),
              S_OK);
    const auto datagram = receiver.Receive();
    ASSERT_TRUE(datagram);
    const std::u16string text = DatagramText(*datagram);
    EXPECT_NE(text.find(Column(u"Message", message)), std::u16string::npos);
}

TEST_F(DiagnosticsTest, WriterColumnsClearAndRepeatedSends) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    CDiagnosticsWriter writer(PL_DIAG_PROFILE_WORKFLOW);
    EXPECT_TRUE(writer.IsOpen());
    EXPECT_TRUE(writer.IsEnabled());
    writer.AddColumn(u"first", u"1");
    writer.AddColumn(u"second", u"2");
    writer.AddColumn(u"first", u"3");
    ASSERT_EQ(writer.Send(false), PL_DIAG_SENT);
    ASSERT_EQ(writer.Send(false), PL_DIAG_SENT);
    const std::u16string expected =
        Record(u"<diagInfo><type><![CDATA[workflow-profile]]></type>", u"3/7/2025 1:07:02 PM",
               Column(u"first", u"1") + Column(u"second", u"2") + Column(u"first", u"3"));
    for (int i = 0; i < 2; ++i) {
        const auto datagram = receiver.Receive();
        ASSERT_TRUE(datagram);
        EXPECT_EQ(DatagramText(*datagram), expected + u'\0');
    }
    EXPECT_EQ(writer.GetRecordText(), expected);
    writer.Clear();
    EXPECT_TRUE(writer.GetRecordText().empty());
    ASSERT_EQ(writer.Send(false), PL_DIAG_SENT);
    const auto empty = receiver.Receive();
    ASSERT_TRUE(empty);
    EXPECT_EQ(DatagramText(*empty), Record(u"<diagInfo><type><![CDATA[workflow-profile]]></type>",
                                           u"3/7/2025 1:07:02 PM", u"") +
                                        u'\0');
}

// ---- profiles and the profile mask ----

TEST_F(DiagnosticsTest, ProfileHeadersRefusalsAndForcedSends) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    const struct {
        ULONG profile;
        int32_t unforced;
        std::u16string_view header;
    } cases[] = {
        {1, PL_DIAG_REFUSED, u"<diagInfo><type><![CDATA[db-profile]]></type>"},
        {2, PL_DIAG_SENT, u"<diagInfo><type><![CDATA[error-profile]]></type>"},
        {4, PL_DIAG_REFUSED, u"<diagInfo><type><![CDATA[file-profile]]></type>"},
        {8, PL_DIAG_SENT, u"<diagInfo><type><![CDATA[ldap-profile]]></type>"},
        {16, PL_DIAG_SENT, u"<diagInfo><type><![CDATA[workflow-profile]]></type>"},
        {32, PL_DIAG_REFUSED, u"<diagInfo><type><![CDATA[vbscript-profile]]></type>"},
        {64, PL_DIAG_SENT, u"<diagInfo><type><![CDATA[tcverbose-profile]]></type>"},
        {3, PL_DIAG_SENT, u""},  // not a profile: an empty header
        {0, PL_DIAG_REFUSED, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        CDiagnosticsWriter writer(c.profile);
        writer.AddColumn(u"n", u"v");
        EXPECT_EQ(writer.Send(false), c.unforced);
        if (c.unforced == PL_DIAG_SENT) {
            const auto datagram = receiver.Receive();
            ASSERT_TRUE(datagram);
            EXPECT_EQ(DatagramText(*datagram),
                      Record(c.header, u"3/7/2025 1:07:02 PM", Column(u"n", u"v")) + u'\0');
        }
        // A forced send goes out whatever the profile.
        EXPECT_EQ(writer.Send(true), PL_DIAG_SENT);
        const auto forced = receiver.Receive();
        ASSERT_TRUE(forced);
        EXPECT_EQ(DatagramText(*forced),
                  Record(c.header, u"3/7/2025 1:07:02 PM", Column(u"n", u"v")) + u'\0');
    }
    EXPECT_FALSE(receiver.Receive(100));
}

TEST_F(DiagnosticsTest, LogProfileDecidesTheOtherProfiles) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());

    WriteLogProfile(8);
    PLResetDiagnosticsProfileMask();
    EXPECT_EQ(PLGetDiagnosticsProfileMask(), 8u);
    EXPECT_TRUE(CDiagnosticsWriter(PL_DIAG_PROFILE_LDAP).IsEnabled());
    EXPECT_FALSE(CDiagnosticsWriter(PL_DIAG_PROFILE_TCVERBOSE).IsEnabled());
    EXPECT_EQ(PLWriteDiagnosticTrace(nullptr, u"Mod", u"Cls", u"Meth", u"hello", u"f.cpp", 12),
              S_OK);
    auto datagram = receiver.Receive();
    ASSERT_TRUE(datagram);
    EXPECT_EQ(
        DatagramText(*datagram),
        Record(u"<diagInfo><type><![CDATA[ldap-profile]]></type>", u"3/7/2025 1:07:02 PM",
               Column(u"Module", u"Mod") + Column(u"Class", u"Cls") + Column(u"Method", u"Meth") +
                   Column(u"ThreadID", ThisThread()) + Column(u"SourceFile", u"f.cpp") +
                   Column(u"SourceLine", u"12") + Column(u"Message", u"hello")) +
            u'\0');

    // The mask is read once per process: a changed file is not seen...
    WriteLogProfile(0);
    EXPECT_TRUE(CDiagnosticsWriter(PL_DIAG_PROFILE_LDAP).IsEnabled());
    // ...until it is loaded again. With 0 only error and workflow records go out.
    PLResetDiagnosticsProfileMask();
    EXPECT_EQ(PLWriteDiagnosticTrace(nullptr, u"Mod", u"Cls", u"Meth", u"hello", u"f.cpp", 12),
              S_FALSE);
    for (ULONG profile : {1u, 4u, 8u, 32u, 64u})
        EXPECT_FALSE(CDiagnosticsWriter(profile).IsEnabled()) << profile;
    EXPECT_TRUE(CDiagnosticsWriter(PL_DIAG_PROFILE_ERROR).IsEnabled());
    EXPECT_TRUE(CDiagnosticsWriter(PL_DIAG_PROFILE_WORKFLOW).IsEnabled());
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_OK);
    EXPECT_TRUE(receiver.Receive());
    // A vbscript writer never sends unless forced, whatever the mask.
    WriteLogProfile(0xFFFFFFFF);
    PLResetDiagnosticsProfileMask();
    CDiagnosticsWriter vbscript(PL_DIAG_PROFILE_VBSCRIPT);
    EXPECT_TRUE(vbscript.IsEnabled());
    EXPECT_EQ(vbscript.Send(false), PL_DIAG_REFUSED);
    EXPECT_FALSE(receiver.Receive(100));
}

TEST_F(DiagnosticsTest, UnreadableRegistryGivesMaskZeroAndOneFailureRecord) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\n";
    const struct {
        const char* what;
        std::optional<std::string> file;  // nothing: no file at all
    } cases[] = {
        {"missing file", std::nullopt},
        {"missing key",
         std::string("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"Log Profile\"=dword:00000008\n")},
        {"missing value", key + "\"Other\"=dword:00000008\n"},
        {"string value", key + "\"Log Profile\"=\"8\"\n"},
        {"binary value", key + "\"Log Profile\"=hex:08,00,00,00\n"},
        {"malformed line", key + "Log Profile = 8\n"},
        {"bad digits", key + "\"Log Profile\"=dword:0000000g\n"},
        {"too many digits", key + "\"Log Profile\"=dword:000000008\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(registryPath.c_str());
        if (c.file) WriteRegistry(*c.file);
        PLResetDiagnosticsProfileMask();
        // Several writers, from several threads: one load, one failure record.
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back(
                [] { EXPECT_FALSE(CDiagnosticsWriter(PL_DIAG_PROFILE_LDAP).IsEnabled()); });
        for (auto& t : threads) t.join();
        CDiagnosticsWriter writer(PL_DIAG_PROFILE_TCVERBOSE);
        EXPECT_FALSE(writer.IsEnabled());
        EXPECT_EQ(PLGetDiagnosticsProfileMask(), 0u);

        const auto records = receiver.Drain(150);
        ASSERT_EQ(records.size(), 1u);
        const std::u16string text = DatagramText(records[0]);
        EXPECT_EQ(text.substr(0, 2 + kErrorHeader.size()),
                  u"\u00FF\u00FE" + std::u16string(kErrorHeader));
        EXPECT_EQ(ColumnValue(text, u"Result"), u"0x80004005");
        EXPECT_EQ(ColumnValue(text, u"Message"),
                  u"Unable to read Brackwell diagnostics registry key value");
        EXPECT_EQ(ColumnValue(text, u"Module"), u"Core Services");
        EXPECT_EQ(ColumnValue(text, u"Class"), u"CDiagnosticsWriter");
        EXPECT_EQ(ColumnValue(text, u"Method"), u"_init");
        EXPECT_EQ(ColumnValue(text, u"Severity"), u"Error");
        const auto file = ColumnValue(text, u"SourceFile");
        ASSERT_TRUE(file);
        EXPECT_TRUE(file->ends_with(u"PLDiagnostics.cpp")) << kdtest::Ascii(*file);
        EXPECT_NE(ColumnValue(text, u"SourceLine"), u"0");

        // The writer that sent it kept none of its columns.
        writer.AddColumn(u"own", u"1");
        EXPECT_EQ(writer.Send(true), PL_DIAG_SENT);
        const auto own = receiver.Receive();
        ASSERT_TRUE(own);
        EXPECT_EQ(DatagramText(*own),
                  Record(u"<diagInfo><type><![CDATA[tcverbose-profile]]></type>",
                         u"3/7/2025 1:07:02 PM", Column(u"own", u"1")) +
                      u'\0');
    }
}

// ---- the channel ----

TEST_F(DiagnosticsTest, WithoutAConsoleRecordsAreDroppedAtOnce) {
    // Nothing at the path.
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_FALSE);
    CDiagnosticsWriter writer(PL_DIAG_PROFILE_ERROR);
    EXPECT_FALSE(writer.IsOpen());
    writer.AddColumn(u"ignored", u"1");
    EXPECT_EQ(writer.Send(false), PL_DIAG_NOT_OPEN);
    EXPECT_EQ(writer.Send(true), PL_DIAG_WRITE_FAILED);
    EXPECT_EQ(writer.GetRecordText().find(u"ignored"), std::u16string::npos);
    // Recording still succeeds in the thread's list; the channel's answer is S_FALSE.
    EXPECT_EQ(PLRecordErrorMessage("Core", "A", "B", E_FAIL, 0, u"x", 1), S_FALSE);

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(PLWriteDiagnosticError(u"C", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_FALSE);
    // A guard against waiting, not a speed target (the benchmark measures that).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    // A socket file left behind by a console that died: nothing is bound there.
    {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_FALSE);
    ::unlink(socketPath.c_str());
}

TEST_F(DiagnosticsTest, UnusableChannelPathsDropTheRecord) {
    // Too long for a socket address.
    {
        const std::string longPath = dir.path() + "/" + std::string(120, 'p');
        ScopedEnv env("KDTRACE_DIAG_SOCKET", longPath);
        EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_FALSE);
    }
    // A regular file, and a directory.
    std::ofstream(socketPath) << "not a socket";
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_FALSE);
    std::string content;
    std::getline(std::ifstream(socketPath), content);
    EXPECT_EQ(content, "not a socket");
    ::unlink(socketPath.c_str());
    ASSERT_EQ(::mkdir(socketPath.c_str(), 0700), 0);
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_FALSE);
    ::rmdir(socketPath.c_str());
}

TEST_F(DiagnosticsTest, ChannelsOfOtherUsersAreRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
    const uid_t stranger = 54321;
    // A directory that another user owns.
    const std::string foreignDir = dir / "foreign";
    ASSERT_EQ(::mkdir(foreignDir.c_str(), 0755), 0);
    ASSERT_EQ(::chown(foreignDir.c_str(), stranger, stranger), 0);
    {
        DiagReceiver receiver(foreignDir + "/diagInfo");
        ASSERT_TRUE(receiver.ok());
        ScopedEnv env("KDTRACE_DIAG_SOCKET", receiver.path());
        EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"secret", u"", 0),
                  S_FALSE);
        EXPECT_FALSE(receiver.Receive(100));
    }
    // A socket that another user owns, in our own directory.
    {
        DiagReceiver receiver(socketPath);
        ASSERT_TRUE(receiver.ok());
        ASSERT_EQ(::chown(socketPath.c_str(), stranger, stranger), 0);
        EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"secret", u"", 0),
                  S_FALSE);
        EXPECT_FALSE(receiver.Receive(100));
    }
}

TEST_F(DiagnosticsTest, AConsoleThatNeverReadsDoesNotBlockTheHost) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    const std::u16string big(20000, u'b');  // 40 KB records fill any queue quickly
    std::map<HRESULT, int> results;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 300; ++i)
        ++results[PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, big.c_str(), u"", 0)];
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_GT(results[S_OK], 0);
    EXPECT_GT(results[E_FAIL], 0) << "the queue never filled";
    EXPECT_EQ(results[S_OK] + results[E_FAIL], 300);
    // Every record reported as sent is there, whole.
    const auto records = receiver.Drain(100);
    EXPECT_EQ(static_cast<int>(records.size()), results[S_OK]);
    for (const auto& r : records) EXPECT_EQ(ColumnValue(DatagramText(r), u"Message"), big);
}

TEST_F(DiagnosticsTest, ConcurrentRecordsArriveWhole) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    constexpr int kThreads = 4;
    constexpr int kRecords = 150;
    std::atomic<bool> sending{true};
    std::vector<std::vector<uint8_t>> received;
    std::thread reader([&] {
        for (;;) {
            if (auto d = receiver.Receive(200)) {
                received.push_back(std::move(*d));
            } else if (!sending.load()) {
                break;
            }
        }
    });
    std::atomic<int> sentCount{0};
    std::atomic<int> failedCount{0};
    std::map<std::u16string, std::u16string> threadIds;  // message prefix -> thread column
    std::mutex idsLock;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            {
                std::lock_guard<std::mutex> lock(idsLock);
                threadIds[Wide(WorkerLabel(t))] = ThisThread();
            }
            for (int i = 0; i < kRecords; ++i) {
                const std::u16string message =
                    Wide(WorkerMessage(t, i)) +
                    std::u16string(static_cast<std::size_t>(50 * t), u'.');
                const HRESULT hr =
                    PLRecordErrorMessage("Core", "Worker", "Run", E_FAIL, 0, message.c_str(), 1);
                if (hr == S_OK)
                    ++sentCount;
                else if (hr == E_FAIL)
                    ++failedCount;
                else
                    ADD_FAILURE() << "unexpected result " << hr;
            }
        });
    }
    for (auto& w : writers) w.join();
    sending = false;
    reader.join();

    EXPECT_EQ(sentCount + failedCount, kThreads * kRecords);
    EXPECT_GT(sentCount.load(), 0);
    // Exactly the records reported as sent arrived, each one whole.
    ASSERT_EQ(static_cast<int>(received.size()), sentCount.load());
    std::set<std::pair<int, int>> seen;
    for (const auto& datagram : received) {
        const std::u16string text = DatagramText(datagram);
        const auto message = ColumnValue(text, u"Message");
        ASSERT_TRUE(message);
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(kdtest::Ascii(*message).c_str(), "t%d-%d", &t, &i), 2);
        ASSERT_TRUE(t >= 0 && t < kThreads && i >= 0 && i < kRecords);
        EXPECT_TRUE(seen.emplace(t, i).second) << "record delivered twice";
        const std::u16string expectedMessage =
            Wide(WorkerMessage(t, i)) + std::u16string(static_cast<std::size_t>(50 * t), u'.');
        EXPECT_EQ(text,
                  Record(kErrorHeader, u"3/7/2025 1:07:02 PM",
                         ErrorColumns(threadIds[Wide(WorkerLabel(t))], u"0x80004005",
                                      expectedMessage, u"Core", u"Worker", u"Run", u"", u"0")) +
                      u'\0');
    }
}

// ---- long records ----

TEST_F(DiagnosticsTest, LongRecordsAreCutToFitAndKeepTheirShape) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    // A message of surrogate pairs, so that a cut at an odd place would split one.
    std::u16string message;
    for (int i = 0; i < 60000; ++i) message += u"\U0001F600";
    for (const char16_t* file : {u"a.cpp", u"ab.cpp"}) {
        SCOPED_TRACE(kdtest::Ascii(file));
        EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, message.c_str(), file, 9),
                  S_OK);
        const auto datagram = receiver.Receive();
        ASSERT_TRUE(datagram);
        EXPECT_LE(datagram->size(), kd::platform::kDiagMaxRecordBytes);
        EXPECT_GE(datagram->size(), kd::platform::kDiagMaxRecordBytes - 8);
        const std::u16string text = DatagramText(*datagram);
        EXPECT_TRUE(text.ends_with(std::u16string(u"]]></column></columns></diagInfo>") + u'\0'));
        const auto cut = ColumnValue(text, u"Message");
        ASSERT_TRUE(cut);
        EXPECT_LT(cut->size(), message.size());
        EXPECT_EQ(cut->size() % 2, 0u) << "a surrogate pair was split";
        EXPECT_EQ(*cut, message.substr(0, cut->size()));
        // The short columns after it are whole.
        EXPECT_EQ(ColumnValue(text, u"SourceFile"), std::u16string(file));
        EXPECT_EQ(ColumnValue(text, u"SourceLine"), u"9");
        EXPECT_EQ(ColumnValue(text, u"Severity"), u"Error");
    }
    // Two long values share the room: each is cut to the same length.
    const std::u16string longFile(40000, u'f');
    const std::u16string longMessage(40000, u'm');
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, longMessage.c_str(),
                                     longFile.c_str(), 9),
              S_OK);
    const auto datagram = receiver.Receive();
    ASSERT_TRUE(datagram);
    const std::u16string text = DatagramText(*datagram);
    const auto m = ColumnValue(text, u"Message");
    const auto f = ColumnValue(text, u"SourceFile");
    ASSERT_TRUE(m && f);
    EXPECT_EQ(m->size(), f->size());
    EXPECT_GT(m->size(), 16000u);  // half of the 32768 characters a record may have
}

TEST(DiagnosticsRecordTest, ColumnsThatCannotFitAreLeftOffFromTheEnd) {
    const PLDiagnosticsTime time{2025, 1, 2, 3, 4, 5};
    const PLDiagColumn columns[] = {
        {PLDiagText::Wide(u"one"), PLDiagText::Narrow("1")},
        {PLDiagText::Narrow("two\xC3\xA9"), PLDiagText::Narrow("\xF0\x9F\x98\x80 \xFF")},
        {PLDiagText::Wide(u"three"), PLDiagText::Wide(u"3")},
    };
    const std::size_t full = PLDiagRecordLength(PL_DIAG_PROFILE_ERROR, time, columns, 3);
    std::vector<char16_t> buffer(full + 10, u'#');
    ASSERT_EQ(
        PLBuildDiagRecord(buffer.data(), buffer.size(), PL_DIAG_PROFILE_ERROR, time, columns, 3),
        full);
    const std::u16string whole(buffer.data(), full);
    // UTF-8 is decoded; a malformed byte becomes U+FFFD.
    EXPECT_EQ(whole, Record(kErrorHeader, u"1/2/2025 3:04:05 AM",
                            Column(u"one", u"1") + Column(u"two\u00E9", u"\U0001F600 \uFFFD") +
                                Column(u"three", u"3")) +
                         u'\0');

    // Room for the first two names but not the third: the third column is left off, the rest
    // still ends with the trailer.
    const std::size_t withoutThird = full - Column(u"three", u"3").size();
    std::vector<char16_t> small(withoutThird);
    const std::size_t n =
        PLBuildDiagRecord(small.data(), small.size(), PL_DIAG_PROFILE_ERROR, time, columns, 3);
    ASSERT_GT(n, 0u);
    const std::u16string cut(small.data(), n);
    EXPECT_EQ(cut, Record(kErrorHeader, u"1/2/2025 3:04:05 AM",
                          Column(u"one", u"1") + Column(u"two\u00E9", u"\U0001F600 \uFFFD")) +
                       u'\0');
    // Not even the frame fits.
    std::vector<char16_t> tiny(40);
    EXPECT_EQ(PLBuildDiagRecord(tiny.data(), tiny.size(), PL_DIAG_PROFILE_ERROR, time, columns, 3),
              0u);
}

// ---- the signal-safe record ----

TEST_F(DiagnosticsTest, SignalSafeRecordMatchesTheOrdinaryOne) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    EXPECT_EQ(PLWriteDiagnosticErrorSignalSafe("Core", "A", "B", E_FAIL, "x", "/src/a.cpp", 7),
              S_OK);
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"/src/a.cpp", 7), S_OK);
    const auto safe = receiver.Receive();
    const auto ordinary = receiver.Receive();
    ASSERT_TRUE(safe && ordinary);
    EXPECT_EQ(*safe, *ordinary);

    // UTF-8 text is decoded; null text is empty.
    EXPECT_EQ(PLWriteDiagnosticErrorSignalSafe(nullptr, nullptr, nullptr, PL_E_VERIFY,
                                               "\xC3\xA9\xF0\x9F\x98\x80", nullptr, 0),
              S_OK);
    auto datagram = receiver.Receive();
    ASSERT_TRUE(datagram);
    EXPECT_EQ(DatagramText(*datagram),
              Record(kErrorHeader, u"3/7/2025 1:07:02 PM",
                     ErrorColumns(ThisThread(), u"0x80040004", u"\u00E9\U0001F600", u"", u"", u"",
                                  u"", u"0")) +
                  u'\0');

    // Records longer than its stack buffer are cut like any other.
    const std::string longMessage(10000, 'L');
    EXPECT_EQ(
        PLWriteDiagnosticErrorSignalSafe("Core", "A", "B", E_FAIL, longMessage.c_str(), "f", 1),
        S_OK);
    datagram = receiver.Receive();
    ASSERT_TRUE(datagram);
    EXPECT_LE(datagram->size(), 4096u);
    const std::u16string text = DatagramText(*datagram);
    EXPECT_TRUE(text.ends_with(Column(u"Severity", u"Error") + u"</columns></diagInfo>" + u'\0'));
    EXPECT_TRUE(ColumnValue(text, u"Message")->starts_with(u"LLLL"));

    // No console: S_FALSE.
    ScopedEnv none("KDTRACE_DIAG_SOCKET", dir / "nobody");
    EXPECT_EQ(PLWriteDiagnosticErrorSignalSafe("Core", "A", "B", E_FAIL, "x", "f", 1), S_FALSE);
}

std::atomic<HRESULT> g_handlerResult{E_UNEXPECTED};
std::atomic<bool> g_handlerKeptErrno{false};

void RecordingHandler(int) {
    errno = 4321;
    g_handlerResult =
        PLWriteDiagnosticErrorSignalSafe("Core", "Handler", "OnSignal", E_UNEXPECTED,
                                         "STACK_OVERFLOW encountered.", "handler.cpp", 3);
    g_handlerKeptErrno = errno == 4321;
}

TEST_F(DiagnosticsTest, SignalSafeRecordFromASignalHandlerWithTheSystemClock) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    PLSetDiagnosticsClock(nullptr);
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = &RecordingHandler;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    ::raise(SIGUSR1);
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(g_handlerResult.load(), S_OK);
    EXPECT_TRUE(g_handlerKeptErrno.load());

    // Its local time agrees with an ordinary record's (retrying if a second boundary falls
    // between the two).
    bool same = false;
    for (int attempt = 0; attempt < 5 && !same; ++attempt) {
        // (the first record came from the handler; later attempts send directly)
        const HRESULT a = attempt == 0 ? S_OK
                                       : PLWriteDiagnosticErrorSignalSafe(
                                             "Core", "Handler", "OnSignal", E_UNEXPECTED,
                                             "STACK_OVERFLOW encountered.", "handler.cpp", 3);
        ASSERT_EQ(a, S_OK);
        ASSERT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_OK);
        const auto fromSignal = receiver.Receive();
        const auto ordinary = receiver.Receive();
        ASSERT_TRUE(fromSignal && ordinary);
        const std::u16string s = DatagramText(*fromSignal);
        const std::u16string o = DatagramText(*ordinary);
        EXPECT_EQ(ColumnValue(s, u"Method"), u"OnSignal");
        const auto timeOf = [](const std::u16string& r) {
            const std::size_t from = r.find(u"<time>");
            return r.substr(from, r.find(u"</time>") - from);
        };
        same = timeOf(s) == timeOf(o);
    }
    EXPECT_TRUE(same);
}

}  // namespace
