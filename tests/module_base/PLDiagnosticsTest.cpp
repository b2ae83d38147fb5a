// The diagnostics writer, end to end through a socket bound by the test: record bytes, the
// clock, profiles and the profile mask, channel failures, long records, concurrency and the
// signal-safe record.
#include "module_base/PLDiagnostics.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <set>
#include <thread>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "module_base/PLDiagnosticsRecord.h"
#include "module_base/PLError.h"
#include "platform/Text.h"
#include "platform/Thread.h"
#include "support/DiagReceiver.h"
#include "support/HResult.h"

namespace {

using namespace kdtest;
constexpr auto* Utf8 = &kd::platform::Utf16ToUtf8;

constexpr std::u16string_view kNow = u"3/7/2025 1:07:02 PM";
PLDiagnosticsTime g_fixedTime;

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
    for (const xmlNode* part = root ? root->children : nullptr; part != nullptr; part = part->next)
        for (xmlNode* c = part->children; c != nullptr; c = c->next) {
            const std::unique_ptr<xmlChar, void (*)(void*)> attribute(
                c->type == XML_ELEMENT_NODE ? xmlGetProp(c, BAD_CAST "name") : nullptr, xmlFree);
            if (!attribute || !xmlStrEqual(attribute.get(), BAD_CAST name)) continue;
            const std::unique_ptr<xmlChar, void (*)(void*)> content(xmlNodeGetContent(c), xmlFree);
            return std::string(reinterpret_cast<const char*>(content.get()));
        }
    return std::nullopt;
}

const auto Text = [](const auto& datagram) { return datagram ? DatagramText(*datagram) : u"(no datagram)"; };

// A whole error record at the fixed time, from this thread.
std::u16string ErrorRecord(std::u16string_view message, std::u16string_view module, std::u16string_view className,
                           std::u16string_view method, std::u16string_view file, std::u16string_view line,
                           std::u16string_view result = u"0x80004005") {
    const std::u16string thread = Wide(Hex8(kd::platform::CurrentThreadId()));
    return Record(u"error", kNow, ErrorColumns(thread, result, message, module, className, method, file, line));
}

HRESULT WriteError(const char16_t* message = u"x", const char16_t* file = u"", ULONG line = 0) {
    return PLWriteDiagnosticError(u"Core", u"A", u"B", E_FAIL, 0, message, file, line);
}

struct DiagnosticsTest : ::testing::Test {
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_TRUE(receiver->ok());
        g_fixedTime = {2025, 3, 7, 13, 7, 2};
        PLSetDiagnosticsClock([](PLDiagnosticsTime* now) { *now = g_fixedTime; });
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
    std::string socketPath = dir / "diagInfo", registryPath = dir / "registry.reg";
    ScopedEnv socketEnv{"KDTRACE_DIAG_SOCKET", socketPath};
    ScopedEnv registryEnv{"KDTRACE_REGISTRY", registryPath};
    std::optional<DiagReceiver> receiver{std::in_place, socketPath};
};

// ---- the record ----

// A guarded throw is recorded with its position (how values are rewritten is read back through a
// parser below).
TEST_F(DiagnosticsTest, AGuardedThrowReachesTheConsoleWithItsPosition) {
    int throwLine = 0;
    PLGuardNamed("Core", "A", "B", [&](HRESULT& hr) {
        throwLine = __LINE__ + 1;
        PL_THROW_ERROR(hr = E_FAIL, "x", 1);
    });
    EXPECT_EQ(Text(receiver->Receive()),
              ErrorRecord(u"x", u"Core", u"A", u"B", PLWiden(__FILE__).view(), Wide(std::to_string(throwLine))));
}

// ---- profiles and the profile mask ----

TEST_F(DiagnosticsTest, ProfileHeadersRefusalsForcedSendsAndTheTwelveHourClock) {
    const std::tuple<ULONG, int32_t, std::u16string_view> cases[] = {
        // profile, unforced send, header
        {1, PL_DIAG_REFUSED, u"db"}, {4, PL_DIAG_REFUSED, u"file"}, {32, PL_DIAG_REFUSED, u"vbscript"},
        {2, PL_DIAG_SENT, u"error"}, {3, PL_DIAG_SENT, u""},  // not a profile: no header
        {0, PL_DIAG_REFUSED, u""},
    };
    for (const auto& [profile, unforced, header] : cases) {
        SCOPED_TRACE(profile);
        CDiagnosticsWriter writer(profile);
        writer.AddColumn(u"n", u"v");
        const std::u16string expected = Record(header, kNow, Column(u"n", u"v"));
        EXPECT_EQ(writer.Send(false), unforced);
        if (unforced == PL_DIAG_SENT) {
            EXPECT_EQ(Text(receiver->Receive()), expected);
        }
        // A forced send goes out whatever the profile.
        EXPECT_EQ(writer.Send(true), PL_DIAG_SENT);
        EXPECT_EQ(Text(receiver->Receive()), expected);
    }
    EXPECT_FALSE(receiver->Receive(100));
    const std::pair<PLDiagnosticsTime, std::u16string_view> times[] = {
        {{2025, 1, 5, 0, 5, 9}, u"1/5/2025 12:05:09 AM"},
        {{2025, 1, 5, 12, 0, 0}, u"1/5/2025 12:00:00 PM"},
    };
    for (const auto& [time, text] : times) {
        g_fixedTime = time;
        CDiagnosticsWriter writer(PL_DIAG_PROFILE_ERROR);
        ASSERT_EQ(writer.Send(false), PL_DIAG_SENT);
        EXPECT_EQ(writer.GetRecordText() + u'\0', Record(u"error", text, u""));
    }
}

TEST_F(DiagnosticsTest, UnreadableRegistryGivesMaskZeroAndOneFailureRecord) {
    // A file without a usable value (what the reader refuses is checked with the reader; every
    // refusal, a missing file too, is handled alike).
    WriteRegistry(std::string(kKey) + "\"Log Profile\"=\"8\"\n");  // not a dword
    // Several writers, from several threads: one load, one failure record (sent by the
    // thread that loaded).
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([] { EXPECT_FALSE(CDiagnosticsWriter(PL_DIAG_PROFILE_LDAP).IsEnabled()); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(PLGetDiagnosticsProfileMask(), 0u);

    const auto records = receiver->Drain(150);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(ColumnValue(DatagramText(records[0]), u"Class"), u"CDiagnosticsWriter");
}

// ---- the channel ----

// Without a usable console records are dropped at once; a writer trusts the channel's absence
// for a short while, and a console that binds meanwhile gets the records from then on.
TEST_F(DiagnosticsTest, WithoutAUsableConsoleRecordsAreDroppedUntilOneBinds) {
    receiver.reset();
    EXPECT_HR(WriteError(), S_FALSE);
    CDiagnosticsWriter writer(PL_DIAG_PROFILE_ERROR);
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(writer.Send(false), PL_DIAG_NOT_OPEN);
    EXPECT_EQ(writer.Send(true), PL_DIAG_WRITE_FAILED);
    // A socket file left behind by a console that died, and a path too long for a socket address.
    ASSERT_EQ(BindDatagramSocket(socketPath, true), -1);
    EXPECT_HR(WriteError(), S_FALSE);
    ::unlink(socketPath.c_str());
    {
        ScopedEnv tooLong("KDTRACE_DIAG_SOCKET", dir.path() + "/" + std::string(120, 'p'));
        EXPECT_HR(WriteError(), S_FALSE);
    }
    receiver.emplace(socketPath);
    ASSERT_TRUE(receiver->ok());
    HRESULT hr = S_FALSE;
    for (int waited = 0; waited < 10000 && (hr = WriteError()) == S_FALSE; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 150; ++i) {
                const std::u16string message =  // of different lengths per thread
                    Wide(std::to_string(t) + '-' + std::to_string(i) + std::string(3000u * t, '.'));
                const HRESULT hr = PLRecordErrorMessage("Core", "Worker", "Run", E_FAIL, 0, message.c_str(), 1);
                EXPECT_TRUE(hr == S_OK || hr == E_FAIL) << "unexpected result " << hr;
                if (hr == S_OK) sent[t].push_back(ErrorRecord(message, u"Core", u"Worker", u"Run", u"", u"0"));
                full += hr == E_FAIL;
            }
        });
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
    // A message of surrogate pairs (a cut inside a pair is checked where records are built).
    std::u16string message;
    for (int i = 0; i < 60000; ++i) message += u"\U0001F600";
    EXPECT_HR(WriteError(message.c_str(), u"a.cpp", 9), S_OK);
    const auto datagram = receiver->Receive().value();  // (none: bad_optional_access fails the test)
    EXPECT_LE(datagram.size(), kd::platform::kDiagMaxRecordBytes);
    EXPECT_GE(datagram.size(), kd::platform::kDiagMaxRecordBytes - 8);
    const std::u16string cut = ColumnValue(DatagramText(datagram), u"Message").value_or(u"");
    EXPECT_EQ(cut, message.substr(0, cut.size()));
    // The short columns after it are whole, and the trailer ends it.
    EXPECT_TRUE(DatagramText(datagram).ends_with(Column(u"SourceFile", u"a.cpp") + Column(u"SourceLine", u"9") +
                                                 Column(u"Severity", u"Error") + u"</columns></diagInfo>" + u'\0'));
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
// hold as U+FFFD).
TEST(DiagnosticsRecordTest, HostileValuesReadBackThroughAnXmlParser) {
    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0xDBFF};
    const std::pair<std::u16string, std::u16string> cases[] = {
        // a value, and what is read back
        {u"]]]]>>]]", u"]]]]>>]]"},
        {u"]]\r>", u"]]\r>"},
        {u"\r\n\r\rend\r", u"\r\n\r\rend\r"},
        {u"<a b=\"&amp;\">&#1;</a> \t\n\U0001F600", u"<a b=\"&amp;\">&#1;</a> \t\n\U0001F600"},
        {std::u16string(u"\x01\x08\x0B\x1F\uFFFE\uFFFF\0z", 8), u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDz"},
        {std::u16string(lone, 5), u"a\uFFFDb\uFFFD\uFFFD"},
    };
    const PLDiagnosticsTime time{2025, 1, 2, 3, 4, 5};
    for (const auto& [value, expected] : cases) {
        const std::string narrow = Utf8(value);  // unpaired surrogates cannot be narrow text
        for (const bool wide : {true, false}) {
            if (!wide && value == std::u16string(lone, 5)) continue;
            const PLDiagColumn columns[] = {
                {PLDiagText::Wide(u"V"), wide ? PLDiagText::Wide(value) : PLDiagText::Narrow(narrow)},
                {PLDiagText::Wide(u"Next"), PLDiagText::Wide(u"]]>")}};
            std::vector<char16_t> buffer(PLDiagRecordLength(PL_DIAG_PROFILE_ERROR, time, columns, 2));
            const std::size_t n =
                PLBuildDiagRecord(buffer.data(), buffer.size(), PL_DIAG_PROFILE_ERROR, time, columns, 2);
            ASSERT_EQ(n, buffer.size()) << narrow;
            const std::u16string record(buffer.data(), n);
            EXPECT_EQ(XmlValue(record, "V"), Utf8(expected)) << narrow;
            EXPECT_EQ(XmlValue(record, "Next"), "]]>");
        }
    }
    // Cut anywhere in a value full of what must be rewritten, the record stays well-formed and
    // the value is a beginning of the whole one.
    std::u16string hostile, readBack;
    for (int i = 0; i < 200; ++i) hostile += u"]]>\r\x01]\U0001F600", readBack += u"]]>\r\uFFFD]\U0001F600";
    const PLDiagColumn columns[] = {{PLDiagText::Wide(u"V"), PLDiagText::Wide(hostile)}};
    const std::size_t full = PLDiagRecordLength(PL_DIAG_PROFILE_ERROR, time, columns, 1);
    for (std::size_t room = full; room + 3000 > full; room -= 29) {
        std::vector<char16_t> buffer(room);
        const std::size_t n = PLBuildDiagRecord(buffer.data(), room, PL_DIAG_PROFILE_ERROR, time, columns, 1);
        ASSERT_LE(n, room);  // (an empty record is not one the parser reads, checked next)
        const std::optional<std::string> read = XmlValue(std::u16string(buffer.data(), n), "V");
        ASSERT_TRUE(read) << "room " << room;
        EXPECT_EQ(Utf8(readBack).compare(0, read->size(), *read), 0) << "room " << room;
    }
    std::vector<char16_t> small(40);  // not even the frame fits
    EXPECT_EQ(PLBuildDiagRecord(small.data(), small.size(), PL_DIAG_PROFILE_ERROR, time, columns, 1), 0u);
}

// ---- the signal-safe record ----

TEST_F(DiagnosticsTest, SignalSafeRecordDecodesRewritesAndCutsItsText) {
    // UTF-8 text is decoded (a malformed byte becomes U+FFFD); null text is empty; errno is kept.
    errno = 4321;
    EXPECT_HR(PLWriteDiagnosticErrorSignalSafe(nullptr, nullptr, nullptr, PL_E_VERIFY, "\xC3\xA9\xF0\x9F\x98\x80 \xFF",
                                               nullptr, 0),
              S_OK);
    EXPECT_EQ(errno, 4321);
    EXPECT_EQ(Text(receiver->Receive()),
              ErrorRecord(u"\u00E9\U0001F600 \uFFFD", u"", u"", u"", u"", u"0", u"0x80040004"));
    // Records longer than its stack buffer are cut like any other.
    EXPECT_HR(PLWriteDiagnosticErrorSignalSafe("Core", "A", "B", E_FAIL, std::string(10000, 'L').c_str(), "f", 1),
              S_OK);
    const auto datagram = receiver->Receive().value();
    EXPECT_LE(datagram.size(), 4096u);
    EXPECT_TRUE(DatagramText(datagram).ends_with(Column(u"Severity", u"Error") + u"</columns></diagInfo>" + u'\0'));
    // No console: S_FALSE.
    ScopedEnv none("KDTRACE_DIAG_SOCKET", dir / "nobody");
    EXPECT_HR(PLWriteDiagnosticErrorSignalSafe("Core", "A", "B", E_FAIL, "x", "f", 1), S_FALSE);
}

}  // namespace
