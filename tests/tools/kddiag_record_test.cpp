#include "diag_record.h"

#include <gtest/gtest.h>

namespace {

using kddiag::FormatJson;
using kddiag::FormatReadable;
using kddiag::JsonString;
using kddiag::Origin;
using kddiag::ParseRecord;
using kddiag::Record;

std::u16string Column(std::u16string_view name, std::u16string_view value) {
    return u"<column name=\"" + std::u16string(name) + u"\"><![CDATA[" + std::u16string(value) + u"]]></column>";
}

std::u16string ErrorRecord(std::u16string_view columns) {
    return u"\u00FF\u00FE<diagInfo><type><![CDATA[error-profile]]></type><time><![CDATA[3/7/2025 "
           u"1:07:02 PM]]></time>"
           u"<columns>" +
           std::u16string(columns) + u"</columns></diagInfo>" + u'\0';
}

const std::u16string kExample =
    ErrorRecord(Column(u"ThreadID", u"0x00001A2B") + Column(u"Result", u"0x80004005") +
                Column(u"Message", u"x ]]> y\nsecond line") + Column(u"Module", u"Core") + Column(u"Class", u"A") +
                Column(u"Method", u"B") + Column(u"SourceFile", u"/src/a.cpp") + Column(u"SourceLine", u"7") +
                Column(u"Severity", u"Error") + Column(u"Extra", u"\u00E9\x1B[31m"));

TEST(KddiagRecordTest, ReadsTheRecordFrame) {
    Record r;
    ASSERT_TRUE(ParseRecord(kExample, &r));
    EXPECT_EQ(r.profile, "error");
    EXPECT_EQ(r.time, "3/7/2025 1:07:02 PM");
    ASSERT_EQ(r.columns.size(), 10u);
    EXPECT_EQ(r.columns[0].name, "ThreadID");
    // "]]>" inside a value does not end it.
    EXPECT_EQ(*r.Find("Message"), "x ]]> y\nsecond line");
    EXPECT_EQ(*r.Find("Extra"), "\xC3\xA9\x1B[31m");
    EXPECT_EQ(r.Find("Nothing"), nullptr);

    // Through the datagram's bytes, little-endian.
    std::string bytes;
    for (const char16_t c : kExample) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    bytes += 'x';  // an odd last byte is dropped
    EXPECT_EQ(kddiag::DatagramText(bytes.data(), bytes.size()), kExample);
    EXPECT_EQ(kddiag::RecordXml(kExample).substr(0, 26), "<diagInfo><type><![CDATA[e");
    EXPECT_TRUE(kddiag::RecordXml(kExample).ends_with("</columns></diagInfo>"));

    // A record of no profile has no header; a record may have no columns.
    const std::u16string bare = u"\u00FF\u00FE<time><![CDATA[t]]></time><columns></columns></diagInfo>";
    ASSERT_TRUE(ParseRecord(bare, &r));
    EXPECT_EQ(r.profile, "");
    EXPECT_TRUE(r.columns.empty());
}

TEST(KddiagRecordTest, RefusesWhatIsNotARecord) {
    const std::u16string good = kExample;
    const std::u16string cases[] = {
        u"",
        u"<diagInfo>",
        good.substr(2),                                         // no leading characters
        good.substr(0, good.size() - 10),                       // trailer cut off
        u"\u00FF\u00FE<diagInfo><type><![CDATA[error-profile",  // header never closed
        u"\u00FF\u00FE<time><![CDATA[t]]></time><columns><column name=\"a\"></columns></diagInfo>",
        u"\u00FF\u00FE<time><![CDATA[t]]></time><columns>junk</columns></diagInfo>",
        u"\u00FF\u00FE<time><![CDATA[t]]></time><columns><column "
        u"name=\"a\"><![CDATA[v</columns></diagInfo>",
        u"\u00FF\u00FE<time>t</time><columns></columns></diagInfo>",
    };
    for (const auto& text : cases) {
        Record r;
        EXPECT_FALSE(ParseRecord(text, &r)) << text.size();
    }
}

TEST(KddiagRecordTest, ReadableAndJsonForms) {
    Record r;
    ASSERT_TRUE(ParseRecord(kExample, &r));
    Origin origin;
    origin.pid = 4242;
    const std::string text = FormatReadable(r, origin);
    EXPECT_EQ(text,
              "3/7/2025 1:07:02 PM  error  0x80004005  Core | A::B  [thread 0x00001A2B, pid 4242]\n"
              "    x ]]> y\n"
              "    second line\n"
              "    at /src/a.cpp:7\n"
              "    Extra: \xC3\xA9\\x1B[31m\n");

    const std::string json = FormatJson(r, origin);
    EXPECT_EQ(json,
              "{\"time\":\"3/7/2025 1:07:02 PM\",\"profile\":\"error\",\"pid\":4242,\"columns\":{"
              "\"ThreadID\":\"0x00001A2B\",\"Result\":\"0x80004005\",\"Message\":\"x ]]> "
              "y\\nsecond line\","
              "\"Module\":\"Core\",\"Class\":\"A\",\"Method\":\"B\",\"SourceFile\":\"/src/"
              "a.cpp\",\"SourceLine\":\"7\","
              "\"Severity\":\"Error\",\"Extra\":\"\xC3\xA9\\u001B[31m\"}}");

    // A method without module or class; repeated names stay apart in JSON.
    Record bare;
    bare.time = "t";
    bare.profile = "ldap";
    bare.columns = {{"Method", "PLCreateInstance"}, {"n", "1"}, {"n", "2"}, {"n#2", "3"}};
    EXPECT_EQ(FormatReadable(bare, {}), "t  ldap  PLCreateInstance\n    n: 1\n    n: 2\n    n#2: 3\n");
    EXPECT_EQ(FormatJson(bare, {}),
              "{\"time\":\"t\",\"profile\":\"ldap\",\"pid\":0,\"columns\":{\"Method\":"
              "\"PLCreateInstance\","
              "\"n\":\"1\",\"n#2\":\"2\",\"n#2#2\":\"3\"}}");
    origin.bytes = 3;
    origin.truncated = true;
    EXPECT_EQ(kddiag::FormatMalformedJson(origin), "{\"malformed\":true,\"bytes\":3,\"pid\":4242}");
    EXPECT_NE(FormatJson(bare, origin).find("\"truncated\":true"), std::string::npos);
}

TEST(KddiagRecordTest, JsonStringsEscapeWhatJsonRequires) {
    EXPECT_EQ(JsonString(""), "\"\"");
    EXPECT_EQ(JsonString("a\"b\\c/d"), "\"a\\\"b\\\\c/d\"");
    EXPECT_EQ(JsonString("\n\r\t\b\f"), "\"\\n\\r\\t\\b\\f\"");
    EXPECT_EQ(JsonString(std::string("\x01\x1F\0", 3)), "\"\\u0001\\u001F\\u0000\"");
    EXPECT_EQ(JsonString("\xE2\x82\xAC \xF0\x9F\x98\x80"), "\"\xE2\x82\xAC \xF0\x9F\x98\x80\"");
}

}  // namespace
