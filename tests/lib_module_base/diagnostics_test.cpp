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
    return u"<column name=\"" + std::u16string(name) + u"\"><![CDATA[" + std::u16string(value) + u"]]></column>";
}

std::u16string Record(std::u16string_view header, std::u16string_view time, std::u16string_view columns) {
    return u"\u00FF\u00FE" + std::u16string(header) + u"<time><![CDATA[" + std::u16string(time) +
           u"]]></time><columns>" + std::u16string(columns) + u"</columns></diagInfo>";
}

constexpr std::u16string_view kErrorHeader = u"<diagInfo><type><![CDATA[error-profile]]></type>";

std::u16string ThisThread() {
    return Wide(kdtest::Hex8(kd::platform::CurrentThreadId()));
}

std::u16string ErrorColumns(std::u16string_view thread, std::u16string_view result, std::u16string_view message,
                            std::u16string_view module, std::u16string_view className, std::u16string_view method,
                            std::u16string_view file, std::u16string_view line) {
    return Column(u"ThreadID", thread) + Column(u"Result", result) + Column(u"Message", message) +
           Column(u"Module", module) + Column(u"Class", className) + Column(u"Method", method) +
           Column(u"SourceFile", file) + Column(u"SourceLine", line) + Column(u"Severity", u"Error");
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
    std::vector<uint8_t> expected = LittleEndianBytes(
        Record(kErrorHeader, u"3/7/2025 1:07:02 PM",
               ErrorColumns(ThisThread(), u"0x80004005", u"x", u"Core", u"A", u"B", u"/src/a.cpp", u"7")));
    expected.insert(expected.end(), {0, 0});
    EXPECT_EQ(*datagram, expected);
    EXPECT_EQ(std::vector<uint8_t>(datagram->begin(), datagram->begin() + 4),
              (std::vector<uint8_t>{0xFF, 0x00, 0xFE, 0x00}));

    // "]]>" ends the CDATA section early: the record is then not well-formed XML, and that is
    // what consoles have always received.
    const std::u16string message = u"a]]>b <c attr=\"1\"> & \u00E9\U0001F600\n";
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, message.c_str(), nullptr, 0), S_OK);
    const auto odd = receiver.Receive();
    ASSERT_TRUE(odd);
    EXPECT_NE(DatagramText(*odd).find(Column(u"Message", message)), std::u16string::npos);
}

TEST_F(DiagnosticsTest, EveryRecordedErrorReachesTheConsole) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    int throwLine = 0;
    EXPECT_EQ(PLGuard("Core", "A", "B",
                      [&](HRESULT& hr) {
                          hr = E_FAIL;
                          throwLine = __LINE__ + 1;
                          PL_THROW_ERROR(hr, "x", 1);
                      }),
              E_FAIL);
    auto datagram = receiver.Receive();
    ASSERT_TRUE(datagram);
    EXPECT_EQ(DatagramText(*datagram), Record(kErrorHeader, u"3/7/2025 1:07:02 PM",
                                              ErrorColumns(ThisThread(), u"0x80004005", u"x", u"Core", u"A", u"B",
                                                           PLWiden(__FILE__).view(), Wide(std::to_string(throwLine)))) +
                                           u'\0');

    // A bare negative code caught at the edge: "Error 0x%08x occurred.", no source position.
    PLGuard("Core", "A", "C", [&](HRESULT& hr) {
        hr = E_INVALIDARG;
        throw hr;
    });
    datagram = receiver.Receive();
    ASSERT_TRUE(datagram);
    EXPECT_EQ(DatagramText(*datagram), Record(kErrorHeader, u"3/7/2025 1:07:02 PM",
                                              ErrorColumns(ThisThread(), u"0x80070057", u"Error 0x80070057 occurred.",
                                                           u"Core", u"A", u"C", u"", u"0")) +
                                           u'\0');

    // A suspended thread records nothing, in its list or on the channel.
    {
        CPLThreadErrorSuspender suspend;
        PLGuard("Core", "A", "D", [&](HRESULT& hr) {
            hr = E_FAIL;
            PL_THROW_ERROR(hr, "hidden", 1);
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
        {{2025, 1, 5, 0, 5, 9}, u"1/5/2025 12:05:09 AM"},      {{2025, 1, 5, 12, 0, 0}, u"1/5/2025 12:00:00 PM"},
        {{2025, 1, 5, 13, 7, 2}, u"1/5/2025 1:07:02 PM"},      {{2024, 12, 31, 11, 59, 59}, u"12/31/2024 11:59:59 AM"},
        {{1999, 10, 10, 23, 0, 0}, u"10/10/1999 11:00:00 PM"},
    };
    for (const auto& c : cases) {
        g_fixedTime = c.time;
        CDiagnosticsWriter writer(PL_DIAG_PROFILE_ERROR);
        ASSERT_EQ(writer.Send(false), PL_DIAG_SENT);
        EXPECT_EQ(writer.GetRecordText(), Record(kErrorHeader, c.text, u""));
    }
}

TEST_F(DiagnosticsTest, EachSendBuildsTheWholeRecordAnew) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    CDiagnosticsWriter writer(PL_DIAG_PROFILE_WORKFLOW);
    writer.AddColumn(u"first", u"1");
    writer.AddColumn(u"second", u"2");
    writer.AddColumn(u"first", u"3");
    const std::u16string expected =
        Record(u"<diagInfo><type><![CDATA[workflow-profile]]></type>", u"3/7/2025 1:07:02 PM",
               Column(u"first", u"1") + Column(u"second", u"2") + Column(u"first", u"3"));
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(writer.Send(false), PL_DIAG_SENT);
        const auto datagram = receiver.Receive();
        ASSERT_TRUE(datagram);
        EXPECT_EQ(DatagramText(*datagram), expected + u'\0');
    }
    writer.Clear();
    EXPECT_TRUE(writer.GetRecordText().empty());
    ASSERT_EQ(writer.Send(false), PL_DIAG_SENT);
    EXPECT_EQ(writer.GetRecordText(),
              Record(u"<diagInfo><type><![CDATA[workflow-profile]]></type>", u"3/7/2025 1:07:02 PM", u""));
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
        const std::u16string expected = Record(c.header, u"3/7/2025 1:07:02 PM", Column(u"n", u"v")) + u'\0';
        EXPECT_EQ(writer.Send(false), c.unforced);
        if (c.unforced == PL_DIAG_SENT) {
            EXPECT_EQ(DatagramText(receiver.Receive().value()), expected);
        }
        // A forced send goes out whatever the profile.
        EXPECT_EQ(writer.Send(true), PL_DIAG_SENT);
        EXPECT_EQ(DatagramText(receiver.Receive().value()), expected);
    }
    EXPECT_FALSE(receiver.Receive(100));
}

TEST_F(DiagnosticsTest, LogProfileDecidesTheOtherProfiles) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    WriteLogProfile(8);
    PLResetDiagnosticsProfileMask();
    EXPECT_EQ(PLGetDiagnosticsProfileMask(), 8u);
    EXPECT_FALSE(CDiagnosticsWriter(PL_DIAG_PROFILE_TCVERBOSE).IsEnabled());
    EXPECT_EQ(PLWriteDiagnosticTrace(nullptr, u"Mod", u"Cls", u"Meth", u"hello", u"f.cpp", 12), S_OK);
    EXPECT_EQ(DatagramText(receiver.Receive().value()),
              Record(u"<diagInfo><type><![CDATA[ldap-profile]]></type>", u"3/7/2025 1:07:02 PM",
                     Column(u"Module", u"Mod") + Column(u"Class", u"Cls") + Column(u"Method", u"Meth") +
                         Column(u"ThreadID", ThisThread()) + Column(u"SourceFile", u"f.cpp") +
                         Column(u"SourceLine", u"12") + Column(u"Message", u"hello")) +
                  u'\0');

    // The mask is read once per process: a changed file is seen only when it is loaded again.
    WriteLogProfile(0);
    EXPECT_TRUE(CDiagnosticsWriter(PL_DIAG_PROFILE_LDAP).IsEnabled());
    PLResetDiagnosticsProfileMask();
    // With 0 only error and workflow records go out.
    EXPECT_EQ(PLWriteDiagnosticTrace(nullptr, u"Mod", u"Cls", u"Meth", u"hello", u"f.cpp", 12), S_FALSE);
    for (ULONG profile : {1u, 4u, 8u, 32u, 64u}) EXPECT_FALSE(CDiagnosticsWriter(profile).IsEnabled());
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
    const std::optional<std::string> files[] = {
        std::nullopt,                        // no file at all
        key + "\"Other\"=dword:00000008\n",  // no value
        key + "\"Log Profile\"=\"8\"\n",     // a string, not a dword
        key + "Log Profile = 8\n",           // malformed
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.value_or("(no file)"));
        ::unlink(registryPath.c_str());
        if (file) WriteRegistry(*file);
        PLResetDiagnosticsProfileMask();
        // Several writers, from several threads: one load, one failure record (sent by the
        // thread that loaded).
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t)
            threads.emplace_back([] { EXPECT_FALSE(CDiagnosticsWriter(PL_DIAG_PROFILE_LDAP).IsEnabled()); });
        for (auto& t : threads) t.join();
        CDiagnosticsWriter writer(PL_DIAG_PROFILE_TCVERBOSE);
        EXPECT_EQ(PLGetDiagnosticsProfileMask(), 0u);

        const auto records = receiver.Drain(150);
        ASSERT_EQ(records.size(), 1u);
        const std::u16string text = DatagramText(records[0]);
        const std::optional<std::u16string> source = ColumnValue(text, u"SourceFile");
        ASSERT_TRUE(source && source->ends_with(u"PLDiagnostics.cpp"));
        EXPECT_EQ(text, Record(kErrorHeader, u"3/7/2025 1:07:02 PM",
                               ErrorColumns(ColumnValue(text, u"ThreadID").value(), u"0x80004005",
                                            u"Unable to read Brackwell diagnostics registry key value",
                                            u"Core Services", u"CDiagnosticsWriter", u"_init", *source,
                                            ColumnValue(text, u"SourceLine").value())) +
                            u'\0');
        // The writer that sent it kept none of its columns.
        writer.AddColumn(u"own", u"1");
        EXPECT_EQ(writer.Send(true), PL_DIAG_SENT);
        EXPECT_EQ(DatagramText(receiver.Receive().value()),
                  Record(u"<diagInfo><type><![CDATA[tcverbose-profile]]></type>", u"3/7/2025 1:07:02 PM",
                         Column(u"own", u"1")) +
                      u'\0');
    }
}

// ---- the channel ----

TEST_F(DiagnosticsTest, WithoutAUsableConsoleRecordsAreDroppedAtOnce) {
    // Nothing at the path: columns are not even kept.
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_FALSE);
    CDiagnosticsWriter writer(PL_DIAG_PROFILE_ERROR);
    EXPECT_FALSE(writer.IsOpen());
    writer.AddColumn(u"ignored", u"1");
    EXPECT_EQ(writer.Send(false), PL_DIAG_NOT_OPEN);
    EXPECT_EQ(writer.Send(true), PL_DIAG_WRITE_FAILED);
    EXPECT_EQ(writer.GetRecordText().find(u"ignored"), std::u16string::npos);
    EXPECT_EQ(PLRecordErrorMessage("Core", "A", "B", E_FAIL, 0, u"x", 1), S_FALSE);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(PLWriteDiagnosticError(u"C", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_FALSE);
    // A guard against waiting, not a speed target (the benchmark measures that).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    // A socket file left behind by a console that died: nothing is bound there.
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_FALSE);
    ::unlink(socketPath.c_str());

    // Paths that cannot be a console's: too long for a socket address, a regular file.
    ScopedEnv tooLong("KDTRACE_DIAG_SOCKET", dir.path() + "/" + std::string(120, 'p'));
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_FALSE);
    std::ofstream(dir / "file") << "not a socket";
    ScopedEnv file("KDTRACE_DIAG_SOCKET", dir / "file");
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"", 0), S_FALSE);
}

TEST_F(DiagnosticsTest, ChannelsOfOtherUsersAreRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
    const uid_t stranger = 54321;
    const std::string foreignDir = dir / "foreign";
    ASSERT_EQ(::mkdir(foreignDir.c_str(), 0755), 0);
    ASSERT_EQ(::chown(foreignDir.c_str(), stranger, stranger), 0);
    // A directory that another user owns, then a socket that another user owns.
    DiagReceiver inForeignDir(foreignDir + "/diagInfo");
    DiagReceiver foreignSocket(socketPath);
    ASSERT_TRUE(inForeignDir.ok() && foreignSocket.ok());
    ASSERT_EQ(::chown(socketPath.c_str(), stranger, stranger), 0);
    for (DiagReceiver* receiver : {&inForeignDir, &foreignSocket}) {
        ScopedEnv env("KDTRACE_DIAG_SOCKET", receiver->path());
        EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"secret", u"", 0), S_FALSE);
        EXPECT_FALSE(receiver->Receive(100));
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
            if (auto d = receiver.Receive(200))
                received.push_back(std::move(*d));
            else if (!sending.load())
                break;
        }
    });
    std::atomic<int> sent{0};
    std::atomic<int> dropped{0};
    std::u16string threadIds[kThreads];
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            threadIds[t] = ThisThread();
            for (int i = 0; i < kRecords; ++i) {
                // Messages of different lengths per thread: "<thread>-<record>...".
                std::string message = std::to_string(t);
                message += '-';
                message += std::to_string(i);
                message.append(static_cast<std::size_t>(50 * t), '.');
                const HRESULT hr =
                    PLRecordErrorMessage("Core", "Worker", "Run", E_FAIL, 0, PLWiden(message.c_str()), 1);
                if (hr == S_OK)
                    ++sent;
                else if (hr == E_FAIL)
                    ++dropped;  // the reader's queue was full
                else
                    ADD_FAILURE() << "unexpected result " << hr;
            }
        });
    }
    for (auto& w : writers) w.join();
    sending = false;
    reader.join();

    EXPECT_EQ(sent + dropped, kThreads * kRecords);
    // Exactly the records reported as sent arrived, each one whole and once.
    ASSERT_EQ(static_cast<int>(received.size()), sent.load());
    std::set<std::pair<int, int>> seen;
    for (const auto& datagram : received) {
        const std::u16string text = DatagramText(datagram);
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(kdtest::Ascii(ColumnValue(text, u"Message").value()).c_str(), "%d-%d", &t, &i), 2);
        ASSERT_TRUE(t >= 0 && t < kThreads && i >= 0 && i < kRecords);
        EXPECT_TRUE(seen.emplace(t, i).second);
        const std::u16string message = Wide(std::to_string(t)) + u'-' + Wide(std::to_string(i)) +
                                       std::u16string(static_cast<std::size_t>(50 * t), u'.');
        EXPECT_EQ(text,
                  Record(kErrorHeader, u"3/7/2025 1:07:02 PM",
                         ErrorColumns(threadIds[t], u"0x80004005", message, u"Core", u"Worker", u"Run", u"", u"0")) +
                      u'\0');
    }
}

// ---- long records ----

TEST_F(DiagnosticsTest, LongRecordsAreCutToFitAndKeepTheirShape) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    // A message of surrogate pairs, sent with file names of both parities, so that one of the
    // cuts would fall inside a pair.
    std::u16string message;
    for (int i = 0; i < 60000; ++i) message += u"\U0001F600";
    for (const char16_t* file : {u"a.cpp", u"ab.cpp"}) {
        EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, message.c_str(), file, 9), S_OK);
        const auto datagram = receiver.Receive();
        ASSERT_TRUE(datagram);
        EXPECT_LE(datagram->size(), kd::platform::kDiagMaxRecordBytes);
        EXPECT_GE(datagram->size(), kd::platform::kDiagMaxRecordBytes - 8);
        const std::u16string text = DatagramText(*datagram);
        const std::u16string cut = ColumnValue(text, u"Message").value();
        EXPECT_EQ(cut.size() % 2, 0u) << "a surrogate pair was split";
        EXPECT_EQ(cut, message.substr(0, cut.size()));
        // The short columns after it are whole, and the trailer ends it.
        EXPECT_TRUE(text.ends_with(Column(u"SourceFile", file) + Column(u"SourceLine", u"9") +
                                   Column(u"Severity", u"Error") + u"</columns></diagInfo>" + u'\0'));
    }
    // Two long values share the room: each is cut to the same length.
    const std::u16string longFile(40000, u'f');
    const std::u16string longMessage(40000, u'm');
    EXPECT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, longMessage.c_str(), longFile.c_str(), 9), S_OK);
    const std::u16string text = DatagramText(receiver.Receive().value());
    EXPECT_EQ(ColumnValue(text, u"Message")->size(), ColumnValue(text, u"SourceFile")->size());
    EXPECT_GT(ColumnValue(text, u"Message")->size(), 16000u);  // half of the 32768 characters
}

TEST(DiagnosticsRecordTest, ColumnsThatCannotFitAreLeftOffFromTheEnd) {
    const PLDiagnosticsTime time{2025, 1, 2, 3, 4, 5};
    const PLDiagColumn columns[] = {
        {PLDiagText::Wide(u"one"), PLDiagText::Narrow("1")},
        {PLDiagText::Narrow("two\xC3\xA9"), PLDiagText::Narrow("\xF0\x9F\x98\x80 \xFF")},
        {PLDiagText::Wide(u"three"), PLDiagText::Wide(u"3")},
    };
    // UTF-8 is decoded; a malformed byte becomes U+FFFD.
    const std::u16string firstTwo = Column(u"one", u"1") + Column(u"two\u00E9", u"\U0001F600 \uFFFD");
    const std::size_t full = PLDiagRecordLength(PL_DIAG_PROFILE_ERROR, time, columns, 3);
    std::vector<char16_t> buffer(full);
    ASSERT_EQ(PLBuildDiagRecord(buffer.data(), full, PL_DIAG_PROFILE_ERROR, time, columns, 3), full);
    EXPECT_EQ(std::u16string(buffer.data(), full),
              Record(kErrorHeader, u"1/2/2025 3:04:05 AM", firstTwo + Column(u"three", u"3")) + u'\0');
    // Room for two names but not the third: the third column is left off.
    const std::size_t room = full - Column(u"three", u"3").size();
    const std::size_t n = PLBuildDiagRecord(buffer.data(), room, PL_DIAG_PROFILE_ERROR, time, columns, 3);
    EXPECT_EQ(std::u16string(buffer.data(), n), Record(kErrorHeader, u"1/2/2025 3:04:05 AM", firstTwo) + u'\0');
    // Not even the frame fits.
    EXPECT_EQ(PLBuildDiagRecord(buffer.data(), 40, PL_DIAG_PROFILE_ERROR, time, columns, 3), 0u);
}

// ---- the signal-safe record ----

std::atomic<HRESULT> g_handlerResult{E_UNEXPECTED};
std::atomic<bool> g_handlerKeptErrno{false};

void RecordingHandler(int) {
    errno = 4321;
    g_handlerResult = PLWriteDiagnosticErrorSignalSafe("Core", "A", "B", E_FAIL, "x", "/src/a.cpp", 7);
    g_handlerKeptErrno = errno == 4321;
}

TEST_F(DiagnosticsTest, SignalSafeRecordMatchesTheOrdinaryOne) {
    DiagReceiver receiver(socketPath);
    ASSERT_TRUE(receiver.ok());
    // From a signal handler, with the system's clock: the same bytes as an ordinary record
    // (retrying when a second boundary falls between the two).
    PLSetDiagnosticsClock(nullptr);
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = &RecordingHandler;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    bool same = false;
    for (int attempt = 0; attempt < 5 && !same; ++attempt) {
        ::raise(SIGUSR1);
        EXPECT_EQ(g_handlerResult.load(), S_OK);
        EXPECT_TRUE(g_handlerKeptErrno.load());
        ASSERT_EQ(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, u"x", u"/src/a.cpp", 7), S_OK);
        const auto fromHandler = receiver.Receive();
        const auto ordinary = receiver.Receive();
        ASSERT_TRUE(fromHandler && ordinary);
        same = *fromHandler == *ordinary;
    }
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_TRUE(same);

    // UTF-8 text is decoded; null text is empty.
    PLSetDiagnosticsClock(&FixedClock);
    EXPECT_EQ(PLWriteDiagnosticErrorSignalSafe(nullptr, nullptr, nullptr, PL_E_VERIFY, "\xC3\xA9\xF0\x9F\x98\x80",
                                               nullptr, 0),
              S_OK);
    EXPECT_EQ(DatagramText(receiver.Receive().value()),
              Record(kErrorHeader, u"3/7/2025 1:07:02 PM",
                     ErrorColumns(ThisThread(), u"0x80040004", u"\u00E9\U0001F600", u"", u"", u"", u"", u"0")) +
                  u'\0');
    // Records longer than its stack buffer are cut like any other.
    const std::string longMessage(10000, 'L');
    EXPECT_EQ(PLWriteDiagnosticErrorSignalSafe("Core", "A", "B", E_FAIL, longMessage.c_str(), "f", 1), S_OK);
    const auto datagram = receiver.Receive();
    ASSERT_TRUE(datagram);
    EXPECT_LE(datagram->size(), 4096u);
    EXPECT_TRUE(DatagramText(*datagram).ends_with(Column(u"Severity", u"Error") + u"</columns></diagInfo>" + u'\0'));
    // No console: S_FALSE.
    ScopedEnv none("KDTRACE_DIAG_SOCKET", dir / "nobody");
    EXPECT_EQ(PLWriteDiagnosticErrorSignalSafe("Core", "A", "B", E_FAIL, "x", "f", 1), S_FALSE);
}

}  // namespace
