#include "DiagRecord.h"

#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

#include "support/DiagReceiver.h"

namespace {

using namespace kddiag;
using kdtest::Column;
using namespace std::string_literals;

const std::u16string kExample = kdtest::Record(
    u"error", u"3/7/2025 1:07:02 PM",
    Column(u"ThreadID", u"0x00001A2B") + Column(u"Result", u"0x80004005") +
        Column(u"Message", u"x ]]> y\nsecond line") + Column(u"Module", u"Core") + Column(u"Class", u"A") +
        Column(u"Method", u"B") + Column(u"SourceFile", u"/src/a.cpp") + Column(u"SourceLine", u"7") +
        Column(u"Severity", u"Error") + Column(u"Extra", u"\u00E9\x1B[31m"));

TEST(KddiagRecordTest, ReadsTheRecordFrameAndRefusesWhatIsNotARecord) {
    // Through the datagram's bytes, little-endian; an odd last byte is dropped.
    const std::vector<uint8_t> bytes = kdtest::LittleEndianBytes(kExample + u'x');
    EXPECT_EQ(kddiag::DatagramText(reinterpret_cast<const char*>(bytes.data()), bytes.size() - 1), kExample);
    kddiag::Record r;
    ASSERT_TRUE(ParseRecord(kExample, &r));
    EXPECT_EQ(std::tie(r.profile, r.time), std::tuple("error", "3/7/2025 1:07:02 PM"));
    ASSERT_EQ(r.columns.size(), 10u);
    // "]]>" inside a value does not end it.
    EXPECT_EQ(*r.Find("Message"), "x ]]> y\nsecond line");
    EXPECT_EQ(*r.Find("Extra"), "\xC3\xA9\x1B[31m");

    // A record of no profile has no header; a record may have no columns.
    ASSERT_TRUE(ParseRecord(kdtest::Record(u"", u"t", u""), &r));
    EXPECT_EQ(std::pair(r.profile, r.columns.size()), std::pair(std::string(), std::size_t{0}));

    // What is not a record is refused.
    const std::u16string cases[] = {
        u"",
        kExample.substr(2),                        // no leading characters
        kExample.substr(0, kExample.size() - 10),  // trailer cut off
        kdtest::Record(u"", u"t", u"junk"),
        kdtest::Record(u"", u"t", u"<column name=\"a\"><![CDATA[v"),  // a column never closed
    };
    for (const auto& text : cases) EXPECT_FALSE(ParseRecord(text, &r)) << kdtest::Ascii(text);
}

TEST(KddiagRecordTest, ReadableAndJsonForms) {
    kddiag::Record r;
    ASSERT_TRUE(ParseRecord(kExample, &r));
    kddiag::Origin origin;
    origin.pid = 4242;
    EXPECT_EQ(FormatReadable(r, origin),
              "3/7/2025 1:07:02 PM  error  0x80004005  Core | A::B  [thread 0x00001A2B, pid 4242]\n"
              "    x ]]> y\n    second line\n    at /src/a.cpp:7\n    Extra: \xC3\xA9\\x1B[31m\n");
    kdtest::ScopedEnv tz("TZ", "UTC0");
    ::tzset();
    EXPECT_EQ(FormatJson(r, origin),
              "{\"time\":\"3/7/2025 1:07:02 PM\",\"recorded\":\"2025-03-07T13:07:02+00:00\",\"profile\":\"error\","
              "\"pid\":4242,\"columns\":{"
              "\"ThreadID\":\"0x00001A2B\",\"Result\":\"0x80004005\",\"Message\":\"x ]]> y\\nsecond line\","
              "\"Module\":\"Core\",\"Class\":\"A\",\"Method\":\"B\",\"SourceFile\":\"/src/a.cpp\",\"SourceLine\":\"7\","
              "\"Severity\":\"Error\",\"Extra\":\"\xC3\xA9\\u001B[31m\"}}");

    // A method that carries its class already names it once.
    kddiag::Record qualified{"error", "t", {{"Class", "CPLVariant"}, {"Method", "CPLVariant::Convert"}}};
    EXPECT_EQ(FormatReadable(qualified, {}), "t  error  CPLVariant::Convert\n");

    // A method without module or class; repeated names stay apart in JSON.
    kddiag::Record bare{"ldap", "t", {{"Method", "PLCreateInstance"}, {"n", "1"}, {"n", "2"}, {"n#2", "3"}}};
    EXPECT_EQ(FormatReadable(bare, {}), "t  ldap  PLCreateInstance\n    n: 1\n    n: 2\n    n#2: 3\n");
    EXPECT_EQ(FormatJson(bare, {}),
              "{\"time\":\"t\",\"profile\":\"ldap\",\"pid\":0,\"columns\":{\"Method\":\"PLCreateInstance\","
              "\"n\":\"1\",\"n#2\":\"2\",\"n#2#2\":\"3\"}}");
    origin.bytes = 3;
    origin.truncated = true;
    EXPECT_EQ(kddiag::FormatMalformedJson(origin), "{\"malformed\":true,\"bytes\":3,\"pid\":4242}");
    EXPECT_NE(FormatJson(bare, origin).find("\"truncated\":true"), std::string::npos);

    // The time of receipt, when known, follows the record's own time.
    origin.truncated = false;
    origin.received = "2026-12-06T11:29:14.123+00:00";
    EXPECT_TRUE(FormatJson(bare, origin)
                    .starts_with("{\"time\":\"t\",\"received\":\"2026-12-06T11:29:14.123+00:00\",\"profile\":"));

    // Strings escape what JSON requires and nothing else.
    EXPECT_EQ(kddiag::JsonString("a\"b\\c/d\n\r\t\b\f\x01\x1F\0 \xE2\x82\xAC"s),
              "\"a\\\"b\\\\c/d\\n\\r\\t\\b\\f\\u0001\\u001F\\u0000 \xE2\x82\xAC\"");
}

TEST(KddiagRecordTest, TimesAreRfc3339WithTheLocalOffset) {
    const std::pair<const char*, const char*> zones[] = {
        {"UTC0", "2026-12-06T11:29:14.123+00:00"},
        {"<+0530>-5:30", "2026-12-06T16:59:14.123+05:30"},
    };
    for (const auto& [zone, expected] : zones) {
        kdtest::ScopedEnv tz("TZ", zone);
        ::tzset();
        EXPECT_EQ(kddiag::ReceivedTime(1796556554, 123999999), expected) << zone;
    }
    // The record's own time, with the offset the zone had on that day (summer time in July).
    {
        kdtest::ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
        ::tzset();
        const std::pair<const char*, const char*> records[] = {{"3/7/2025 1:07:02 PM", "2025-03-07T13:07:02+01:00"},
                                                               {"7/7/2025 12:05:09 AM", "2025-07-07T00:05:09+02:00"},
                                                               {"12/6/2026 12:00:00 PM", "2026-12-06T12:00:00+01:00"}};
        for (const auto& [text, expected] : records) EXPECT_EQ(kddiag::RecordedTime(text), expected) << text;
        // Not a time: none.
        for (const char* text :
             {"2/30/2026 1:00:00 PM", "13/1/2026 1:00:00 PM", "3/7/2025 13:07:02 PM", "3/7/2025 1:07:02 PM x", "t"})
            EXPECT_EQ(kddiag::RecordedTime(text), "") << text;
        kddiag::Record r{"error", "3/7/2025 1:07:02 PM", {}};
        EXPECT_TRUE(FormatJson(r, {}).starts_with(
            "{\"time\":\"3/7/2025 1:07:02 PM\",\"recorded\":\"2025-03-07T13:07:02+01:00\",\"profile\":"));
    }
    ::tzset();
}

}  // namespace
