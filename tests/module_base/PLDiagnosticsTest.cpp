// The diagnostics writer, end to end through a socket bound by the test: record bytes, the
// clock, profiles and the profile mask, channel failures, long records, concurrency and the
// signal-safe record.
#include "module_base/PLDiagnostics.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "DiagRecord.h"
#include "module_base/PLDiagnosticsRecord.h"
#include "module_base/PLError.h"
#include "platform/Text.h"
#include "platform/Thread.h"
#include "support/DiagReceiver.h"
#include "support/HResult.h"

namespace {

using namespace kdtest;

constexpr std::u16string_view kNow = u"3/7/2025 1:07:02 PM";
PLDiagnosticsTime g_fixedTime;
void FixedClock(PLDiagnosticsTime* now) {
    *now = g_fixedTime;
}

std::u16string ThisThread() {
    return Wide(Hex8(kd::platform::CurrentThreadId()));
}

std::string Utf8(std::u16string_view text) {
    return kd::platform::Utf16ToUtf8(text);
}

// The value of the first column called `name`, as libxml2 reads the record (its UTF-16 bytes
// without the two leading characters and the terminator); nothing when the record is not
// well-formed XML or has no such column.
std::optional<std::string> XmlValue(std::u16string_view record, const char* name) {
    if (record.starts_with(u"\u00FF\u00FE")) record.remove_prefix(2);
    if (record.ends_with(u'\0')) record.remove_suffix(1);
    const std::vector<uint8_t> bytes = LittleEndianBytes(record);
    const std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(
        xmlReadMemory(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), nullptr, "UTF-16LE",
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        &xmlFreeDoc);
    const xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    for (const xmlNode* part = root ? root->children : nullptr; part != nullptr; part = part->next) {
        for (xmlNode* c = part->children; c != nullptr; c = c->next) {
            const std::unique_ptr<xmlChar, void (*)(void*)> attribute(
                c->type == XML_ELEMENT_NODE ? xmlGetProp(c, BAD_CAST "name") : nullptr, xmlFree);
            if (!attribute || !xmlStrEqual(attribute.get(), BAD_CAST name)) continue;
            const std::unique_ptr<xmlChar, void (*)(void*)> content(xmlNodeGetContent(c), xmlFree);
            return std::string(reinterpret_cast<const char*>(content.get()));
        }
    }
    return std::nullopt;
}

std::u16string Text(const std::optional<std::vector<uint8_t>>& datagram) {
    return datagram ? DatagramText(*datagram) : u"(no datagram)";
}

// A whole error record at the fixed time, from this thread unless `thread` says otherwise.
std::u16string ErrorRecord(std::u16string_view message, std::u16string_view module, std::u16string_view className,
                           std::u16string_view method, std::u16string_view file, std::u16string_view line,
                           std::u16string_view result = u"0x80004005", std::u16string thread = ThisThread()) {
    return Record(u"error", kNow, ErrorColumns(thread, result, message, module, className, method, file, line));
}

HRESULT WriteError(const char16_t* message = u"x", const char16_t* file = u"", ULONG line = 0) {
    return PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, message, file, line);
}

class DiagnosticsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_TRUE(receiver->ok());
        g_fixedTime = {2025, 3, 7, 13, 7, 2};
        PLSetDiagnosticsClock(&FixedClock);
        WriteRegistry(std::string(kKey) + "\"Log Profile\"=dword:0000007f\r\n");
    }
    void TearDown() override {
        PLSetDiagnosticsClock(nullptr);
        PLResetDiagnosticsProfileMask();
    }

    // Writes the registry file and forgets the loaded mask.
    void WriteRegistry(const std::string& text) {
        std::ofstream(registryPath, std::ios::binary | std::ios::trunc) << text;
        PLResetDiagnosticsProfileMask();
    }

    static constexpr const char* kKey = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\r\n";
    TempDir dir;
    std::string socketPath = dir / "diagInfo";
    std::string registryPath = dir / "registry.reg";
    ScopedEnv socketEnv{"KDTRACE_DIAG_SOCKET", socketPath};
    ScopedEnv registryEnv{"KDTRACE_REGISTRY", registryPath};
    std::optional<DiagReceiver> receiver{std::in_place, socketPath};
};

// ---- the record ----

// "]]>" splits the CDATA section and a carriage return goes between sections as a reference
// (values of every kind are read back through a parser below).
TEST_F(DiagnosticsTest, EveryRecordedErrorReachesTheConsoleExactly) {
    EXPECT_HR(PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 3, u"a]]>b <c> & \u00E9\r\n", u"/src/a.cpp", 7),
              S_OK);
    EXPECT_EQ(receiver->Receive(), LittleEndianBytes(ErrorRecord(u"a]]]]><![CDATA[>b <c> & \u00E9]]>&#13;<![CDATA[\n",
                                                                 u"Core", u"A", u"B", u"/src/a.cpp", u"7")));
}

TEST_F(DiagnosticsTest, AGuardedThrowIsRecordedWithItsPositionUnlessTheThreadIsSuspended) {
    int throwLine = 0;
    PLGuardNamed("Core", "A", "B", [&](HRESULT& hr) {
        throwLine = __LINE__ + 1;
        PL_THROW_ERROR(hr = E_FAIL, "x", 1);
    });
    EXPECT_EQ(Text(receiver->Receive()),
              ErrorRecord(u"x", u"Core", u"A", u"B", PLWiden(__FILE__).view(), Wide(std::to_string(throwLine))));
    // A suspended thread records nothing, in its list or on the channel.
    {
        CPLThreadErrorSuspender suspend;
        PLGuardNamed("Core", "A", "D", [&](HRESULT& hr) { PL_THROW_ERROR(hr = E_FAIL, "hidden", 1); });
    }
    EXPECT_FALSE(receiver->Receive(200));
}

TEST_F(DiagnosticsTest, TimeUsesTheTwelveHourClock) {
    const struct {
        PLDiagnosticsTime time;
        std::u16string_view text;
    } cases[] = {
        {{2025, 1, 5, 0, 5, 9}, u"1/5/2025 12:05:09 AM"},
        {{2025, 1, 5, 12, 0, 0}, u"1/5/2025 12:00:00 PM"},
        {{2024, 12, 31, 11, 59, 59}, u"12/31/2024 11:59:59 AM"},
    };
    for (const auto& c : cases) {
        g_fixedTime = c.time;
        CDiagnosticsWriter writer(PL_DIAG_PROFILE_ERROR);
        ASSERT_EQ(writer.Send(false), PL_DIAG_SENT);
        EXPECT_EQ(writer.GetRecordText() + u'\0', Record(u"error", c.text, u""));
    }
}

TEST_F(DiagnosticsTest, EachSendBuildsTheWholeRecordAnew) {
    CDiagnosticsWriter writer(PL_DIAG_PROFILE_WORKFLOW);
    writer.AddColumn(u"first", u"1");
    writer.AddColumn(u"second", u"2");
    writer.AddColumn(u"first", u"3");
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(writer.Send(false), PL_DIAG_SENT);
        EXPECT_EQ(Text(receiver->Receive()),
                  Record(u"workflow", kNow, Column(u"first", u"1") + Column(u"second", u"2") + Column(u"first", u"3")));
    }
    writer.Clear();
    ASSERT_EQ(writer.Send(false), PL_DIAG_SENT);
    EXPECT_EQ(Text(receiver->Receive()), Record(u"workflow", kNow, u""));
}

// ---- profiles and the profile mask ----

TEST_F(DiagnosticsTest, ProfileHeadersRefusalsAndForcedSends) {
    const struct {
        ULONG profile;
        int32_t unforced;
        std::u16string_view header;
    } cases[] = {
        {1, PL_DIAG_REFUSED, u"db"}, {4, PL_DIAG_REFUSED, u"file"}, {32, PL_DIAG_REFUSED, u"vbscript"},
        {2, PL_DIAG_SENT, u"error"}, {3, PL_DIAG_SENT, u""},  // not a profile: no header
        {0, PL_DIAG_REFUSED, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        CDiagnosticsWriter writer(c.profile);
        writer.AddColumn(u"n", u"v");
        const std::u16string expected = Record(c.header, kNow, Column(u"n", u"v"));
        EXPECT_EQ(writer.Send(false), c.unforced);
        if (c.unforced == PL_DIAG_SENT) {
            EXPECT_EQ(Text(receiver->Receive()), expected);
        }
        // A forced send goes out whatever the profile.
        EXPECT_EQ(writer.Send(true), PL_DIAG_SENT);
        EXPECT_EQ(Text(receiver->Receive()), expected);
    }
    EXPECT_FALSE(receiver->Receive(100));
}

TEST_F(DiagnosticsTest, LogProfileDecidesTheOtherProfilesIsReadOnceAndZeroLeavesOnlyErrorAndWorkflow) {
    WriteRegistry(std::string(kKey) + "\"Log Profile\"=dword:8\r\n");
    EXPECT_EQ(PLGetDiagnosticsProfileMask(), 8u);
    EXPECT_FALSE(CDiagnosticsWriter(PL_DIAG_PROFILE_TCVERBOSE).IsEnabled());
    EXPECT_HR(PLWriteDiagnosticTrace(nullptr, u"Mod", u"Cls", u"Meth", u"hello", u"f.cpp", 12), S_OK);
    EXPECT_EQ(Text(receiver->Receive()),
              Record(u"ldap", kNow,
                     Column(u"Module", u"Mod") + Column(u"Class", u"Cls") + Column(u"Method", u"Meth") +
                         Column(u"ThreadID", ThisThread()) + Column(u"SourceFile", u"f.cpp") +
                         Column(u"SourceLine", u"12") + Column(u"Message", u"hello")));
    // The mask is read once per process: a changed file is seen only when it is loaded again.
    std::ofstream(registryPath, std::ios::trunc) << kKey << "\"Log Profile\"=dword:0\r\n";
    EXPECT_TRUE(CDiagnosticsWriter(PL_DIAG_PROFILE_LDAP).IsEnabled());
    PLResetDiagnosticsProfileMask();
    // With 0 only error and workflow records go out.
    EXPECT_HR(PLWriteDiagnosticTrace(nullptr, u"Mod", u"Cls", u"Meth", u"hello", u"f.cpp", 12), S_FALSE);
    for (ULONG profile : {1u, 4u, 8u, 32u, 64u}) EXPECT_FALSE(CDiagnosticsWriter(profile).IsEnabled());
    EXPECT_TRUE(CDiagnosticsWriter(PL_DIAG_PROFILE_WORKFLOW).IsEnabled());
    EXPECT_HR(WriteError(), S_OK);
    EXPECT_TRUE(receiver->Receive());
}

TEST_F(DiagnosticsTest, UnreadableRegistryGivesMaskZeroAndOneFailureRecord) {
    // No file, and a file without a usable value (what the reader refuses is checked with the
    // reader; every refusal is handled alike).
    const std::optional<std::string> cases[] = {std::nullopt,
                                                std::string(kKey) + "\"Log Profile\"=\"8\"\n"};  // not a dword
    for (const auto& file : cases) {
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

        const auto records = receiver->Drain(150);
        ASSERT_EQ(records.size(), 1u);
        const std::u16string text = DatagramText(records[0]);
        EXPECT_EQ(ColumnValue(text, u"Class"), u"CDiagnosticsWriter");
        EXPECT_TRUE(ColumnValue(text, u"SourceFile").value_or(u"").ends_with(u"PLDiagnostics.cpp"));
        // The writer that sent it kept none of its columns.
        writer.AddColumn(u"own", u"1");
        EXPECT_EQ(writer.Send(true), PL_DIAG_SENT);
        EXPECT_EQ(Text(receiver->Receive()), Record(u"tcverbose", kNow, Column(u"own", u"1")));
    }
}

// ---- the channel ----

TEST_F(DiagnosticsTest, WithoutAUsableConsoleRecordsAreDroppedAtOnce) {
    receiver.reset();
    // Nothing at the path: columns are not even kept.
    EXPECT_HR(WriteError(), S_FALSE);
    CDiagnosticsWriter writer(PL_DIAG_PROFILE_ERROR);
    EXPECT_FALSE(writer.IsOpen());
    writer.AddColumn(u"ignored", u"1");
    EXPECT_EQ(writer.Send(false), PL_DIAG_NOT_OPEN);
    EXPECT_EQ(writer.Send(true), PL_DIAG_WRITE_FAILED);
    EXPECT_EQ(writer.GetRecordText().find(u"ignored"), std::u16string::npos);
    EXPECT_HR(PLRecordErrorMessage("Core", "A", "B", E_FAIL, 0, u"x", 1), S_FALSE);

    // A socket file left behind by a console that died: nothing is bound there.
    ASSERT_EQ(BindDatagramSocket(socketPath, true), -1);
    EXPECT_HR(WriteError(), S_FALSE);
    ::unlink(socketPath.c_str());

    // A path too long for a socket address. (A file that is not a socket is refused as a
    // missing one is.)
    ScopedEnv tooLong("KDTRACE_DIAG_SOCKET", dir.path() + "/" + std::string(120, 'p'));
    EXPECT_HR(WriteError(), S_FALSE);
}

TEST_F(DiagnosticsTest, AConsoleStartedLaterReceivesRecords) {
    // A writer trusts the channel's absence for a short while; a console that binds meanwhile
    // gets the records from then on, and a console at another path at once.
    const std::string otherPath = dir / "other";
    DiagReceiver other(otherPath);
    ASSERT_TRUE(other.ok());
    {
        ScopedEnv elsewhere("KDTRACE_DIAG_SOCKET", dir / "nobody");
        EXPECT_HR(WriteError(), S_FALSE);
        ::setenv("KDTRACE_DIAG_SOCKET", otherPath.c_str(), 1);
        EXPECT_HR(WriteError(), S_OK);
        EXPECT_TRUE(other.Receive());
    }
    receiver.reset();
    EXPECT_HR(WriteError(), S_FALSE);
    receiver.emplace(socketPath);
    ASSERT_TRUE(receiver->ok());
    HRESULT hr = S_FALSE;
    const auto start = std::chrono::steady_clock::now();
    while (hr == S_FALSE && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        hr = WriteError();
        if (hr == S_FALSE) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_HR(hr, S_OK);
    EXPECT_TRUE(receiver->Receive());
}

// Writers on several threads fill a console's queue that is never read: no send waits for the
// reader (it would hang here), and exactly the records reported as sent (E_FAIL: the queue was
// full) arrive, each one whole and once.
TEST_F(DiagnosticsTest, ConcurrentRecordsArriveWholeAndAFullQueueDoesNotBlock) {
    constexpr int kThreads = 4;
    std::vector<std::u16string> sent[kThreads];
    std::atomic<int> full{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 150; ++i) {
                const std::u16string message =  // of different lengths per thread
                    Wide(std::to_string(t) + '-' + std::to_string(i) + std::string(3000u * t, '.'));
                const HRESULT hr = PLRecordErrorMessage("Core", "Worker", "Run", E_FAIL, 0, message.c_str(), 1);
                if (hr == S_OK)
                    sent[t].push_back(ErrorRecord(message, u"Core", u"Worker", u"Run", u"", u"0"));
                else if (hr == E_FAIL)
                    ++full;
                else
                    ADD_FAILURE() << "unexpected result " << hr;
            }
        });
    }
    for (auto& w : writers) w.join();
    EXPECT_GT(full.load(), 0) << "the queue never filled";
    std::set<std::u16string> expected;
    for (const auto& records : sent) expected.insert(records.begin(), records.end());
    const auto received = receiver->Drain(100);
    EXPECT_EQ(received.size(), expected.size());
    for (const auto& d : received) EXPECT_EQ(expected.erase(DatagramText(d)), 1u) << Ascii(DatagramText(d));
}

// ---- long records ----

TEST_F(DiagnosticsTest, LongRecordsAreCutToFitAndKeepTheirShape) {
    // A message of surrogate pairs, sent with file names of both parities, so that one of the
    // cuts would fall inside a pair.
    std::u16string message;
    for (int i = 0; i < 60000; ++i) message += u"\U0001F600";
    for (const char16_t* file : {u"a.cpp", u"ab.cpp"}) {
        EXPECT_HR(WriteError(message.c_str(), file, 9), S_OK);
        const auto datagram = receiver->Receive();
        ASSERT_TRUE(datagram);
        EXPECT_LE(datagram->size(), kd::platform::kDiagMaxRecordBytes);
        EXPECT_GE(datagram->size(), kd::platform::kDiagMaxRecordBytes - 8);
        const std::u16string text = DatagramText(*datagram);
        const std::u16string cut = ColumnValue(text, u"Message").value_or(u"");
        EXPECT_EQ(cut.size() % 2, 0u) << "a surrogate pair was split";
        EXPECT_EQ(cut, message.substr(0, cut.size()));
        // The short columns after it are whole, and the trailer ends it.
        EXPECT_TRUE(text.ends_with(Column(u"SourceFile", file) + Column(u"SourceLine", u"9") +
                                   Column(u"Severity", u"Error") + u"</columns></diagInfo>" + u'\0'));
    }
    // Two long values share the room: each is cut to the same length.
    const std::u16string longFile(40000, u'f');
    EXPECT_HR(WriteError(std::u16string(40000, u'm').c_str(), longFile.c_str(), 9), S_OK);
    const std::u16string text = Text(receiver->Receive());
    EXPECT_EQ(ColumnValue(text, u"Message").value_or(u"").size(),
              ColumnValue(text, u"SourceFile").value_or(u"").size());
    EXPECT_GT(ColumnValue(text, u"Message").value_or(u"").size(), 16000u);  // half of the 32768 characters
}

// Values no XML reader could take, built as wide and as narrow text, whole and cut: a parser
// that is not ours reads every record, and each value comes back exactly (characters XML cannot
// hold as U+FFFD), through the parser and through the console's reader alike.
TEST(DiagnosticsRecordTest, HostileValuesReadBackThroughAnXmlParser) {
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0xDBFF};
    const struct {
        std::u16string value;
        std::u16string expected;
    } cases[] = {
        {u"]]]]>>]]", u"]]]]>>]]"},
        {u"]]", u"]]"},
        {u"]]\r>", u"]]\r>"},
        {u"\r\n\r\rend\r", u"\r\n\r\rend\r"},
        {u"<a b=\"&amp;\">&#1;</a> \t\n\U0001F600", u"<a b=\"&amp;\">&#1;</a> \t\n\U0001F600"},
        {std::u16string(u"\x01\x08\x0B\x1F\uFFFE\uFFFF\0z", 8), u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDz"},
        {std::u16string(lone, 5), u"a\uFFFDb\uFFFD\uFFFD"},
    };
    const PLDiagnosticsTime time{2025, 1, 2, 3, 4, 5};
    for (const auto& c : cases) {
        const std::string narrow = Utf8(c.value);  // unpaired surrogates cannot be narrow text
        for (const bool wide : {true, false}) {
            if (!wide && c.value == std::u16string(lone, 5)) continue;
            const PLDiagColumn columns[] = {
                {PLDiagText::Wide(u"V"), wide ? PLDiagText::Wide(c.value) : PLDiagText::Narrow(narrow)},
                {PLDiagText::Wide(u"Next"), PLDiagText::Wide(u"]]>")}};
            std::vector<char16_t> buffer(PLDiagRecordLength(PL_DIAG_PROFILE_ERROR, time, columns, 2));
            const std::size_t n =
                PLBuildDiagRecord(buffer.data(), buffer.size(), PL_DIAG_PROFILE_ERROR, time, columns, 2);
            ASSERT_EQ(n, buffer.size()) << Utf8(c.value);
            const std::u16string record(buffer.data(), n);
            EXPECT_EQ(XmlValue(record, "V"), Utf8(c.expected)) << Utf8(c.value);
            EXPECT_EQ(XmlValue(record, "Next"), "]]>");
            kddiag::Record read;
            ASSERT_TRUE(kddiag::ParseRecord(record, &read));
            EXPECT_EQ(*read.Find("V"), Utf8(c.expected));
        }
    }
    // Cut anywhere in a value full of what must be rewritten, the record stays well-formed and
    // the value is a beginning of the whole one.
    std::u16string value;
    for (int i = 0; i < 200; ++i) value += u"]]>\r\x01]\U0001F600";
    std::u16string expected;
    for (int i = 0; i < 200; ++i) expected += u"]]>\r\uFFFD]\U0001F600";
    const PLDiagColumn columns[] = {{PLDiagText::Wide(u"V"), PLDiagText::Wide(value)}};
    const std::size_t full = PLDiagRecordLength(PL_DIAG_PROFILE_ERROR, time, columns, 1);
    for (std::size_t room = full; room + 3000 > full; room -= 29) {
        std::vector<char16_t> buffer(room);
        const std::size_t n = PLBuildDiagRecord(buffer.data(), room, PL_DIAG_PROFILE_ERROR, time, columns, 1);
        ASSERT_GT(n, 0u);
        ASSERT_LE(n, room);
        const std::optional<std::string> read = XmlValue(std::u16string(buffer.data(), n), "V");
        ASSERT_TRUE(read) << "room " << room;
        EXPECT_EQ(Utf8(expected).compare(0, read->size(), *read), 0) << "room " << room;
    }
}

TEST(DiagnosticsRecordTest, ColumnsThatCannotFitAreLeftOffFromTheEnd) {
    const PLDiagnosticsTime time{2025, 1, 2, 3, 4, 5};
    const PLDiagColumn columns[] = {{PLDiagText::Wide(u"one"), PLDiagText::Narrow("1")},
                                    {PLDiagText::Wide(u"three"), PLDiagText::Wide(u"3")}};
    const std::size_t full = PLDiagRecordLength(PL_DIAG_PROFILE_ERROR, time, columns, 2);
    std::vector<char16_t> buffer(full);
    // Room for the first column but not the second's name: the second is left off.
    const std::size_t room = full - Column(u"three", u"3").size();
    const std::size_t n = PLBuildDiagRecord(buffer.data(), room, PL_DIAG_PROFILE_ERROR, time, columns, 2);
    EXPECT_EQ(std::u16string(buffer.data(), n), Record(u"error", u"1/2/2025 3:04:05 AM", Column(u"one", u"1")));
    // Not even the frame fits.
    EXPECT_EQ(PLBuildDiagRecord(buffer.data(), 40, PL_DIAG_PROFILE_ERROR, time, columns, 2), 0u);
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
        EXPECT_HR(g_handlerResult.load(), S_OK);
        EXPECT_TRUE(g_handlerKeptErrno.load());
        ASSERT_HR(WriteError(u"x", u"/src/a.cpp", 7), S_OK);
        const auto fromHandler = receiver->Receive();
        const auto ordinary = receiver->Receive();
        ASSERT_TRUE(fromHandler && ordinary);
        same = *fromHandler == *ordinary;
    }
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_TRUE(same);
}

TEST_F(DiagnosticsTest, SignalSafeRecordDecodesRewritesAndCutsItsText) {
    // UTF-8 text is decoded (a malformed byte becomes U+FFFD); null text is empty.
    EXPECT_HR(PLWriteDiagnosticErrorSignalSafe(nullptr, nullptr, nullptr, PL_E_VERIFY, "\xC3\xA9\xF0\x9F\x98\x80 \xFF",
                                               nullptr, 0),
              S_OK);
    EXPECT_EQ(Text(receiver->Receive()),
              ErrorRecord(u"\u00E9\U0001F600 \uFFFD", u"", u"", u"", u"", u"0", u"0x80040004"));
    // Records longer than its stack buffer are cut like any other.
    EXPECT_HR(PLWriteDiagnosticErrorSignalSafe("Core", "A", "B", E_FAIL, std::string(10000, 'L').c_str(), "f", 1),
              S_OK);
    const auto datagram = receiver->Receive();
    ASSERT_TRUE(datagram);
    EXPECT_LE(datagram->size(), 4096u);
    EXPECT_TRUE(DatagramText(*datagram).ends_with(Column(u"Severity", u"Error") + u"</columns></diagInfo>" + u'\0'));
    // No console: S_FALSE.
    ScopedEnv none("KDTRACE_DIAG_SOCKET", dir / "nobody");
    EXPECT_HR(PLWriteDiagnosticErrorSignalSafe("Core", "A", "B", E_FAIL, "x", "f", 1), S_FALSE);
}

}  // namespace
