// Reading a diagInfo record, as the console receives it, and showing it as text or JSON.
//
// Older writers put values into the record unchanged, so a value may contain "]]>" and such a
// record is not well-formed XML. The reader therefore follows the record's fixed frame instead of
// parsing XML: a value ends where the next column's opening, or the trailer, follows; its CDATA
// sections, split by newer writers, are joined again.
#ifndef KDTRACE_TOOLS_KDDIAG_DIAG_RECORD_H
#define KDTRACE_TOOLS_KDDIAG_DIAG_RECORD_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kddiag {

struct Column {
    std::string name;   // UTF-8
    std::string value;  // UTF-8
};

struct Record {
    std::string profile;  // "error", "ldap", ...; empty when the record has no profile header
    std::string time;     // as written, e.g. "3/7/2025 1:07:02 PM"
    std::vector<Column> columns;

    // The first column of that name, or null.
    const std::string* Find(std::string_view name) const;
};

// Who sent it and how it arrived.
struct Origin {
    int32_t pid = 0;
    std::size_t bytes = 0;
    bool truncated = false;  // longer than the console's buffer
    std::string received;    // when the console received it (ReceivedTime), or empty
};

// A time of receipt in RFC 3339 form, local time with its UTC offset and milliseconds:
// "2026-12-06T11:29:14.123+00:00".
std::string ReceivedTime(int64_t seconds, int32_t nanoseconds);

// A record's own time ("3/7/2025 1:07:02 PM", the writer's local time) in RFC 3339 form with
// this machine's UTC offset at that time: "2025-03-07T13:07:02+01:00". Empty when the text is
// not such a time.
std::string RecordedTime(std::string_view time);

// The datagram's bytes as UTF-16 little-endian text (an odd last byte is dropped).
std::u16string DatagramText(const char* data, std::size_t size);

// The record's XML text in UTF-8: without the two leading characters and the terminator.
std::string RecordXml(std::u16string_view text);

// Reads a record; false when the text is not a diagInfo record.
bool ParseRecord(std::u16string_view text, Record* record);

// One record for a reader: a heading line (time, profile, result, where, thread, process), the
// message, the source position and any other columns, indented. Ends with a newline.
std::string FormatReadable(const Record& record, const Origin& origin);
// One JSON object on one line (no newline):
//   {"time":"...","recorded":"...","received":"...","profile":"error","pid":1234,"columns":{...}}
// ("recorded" only when the time can be read, "received" only when the origin has it).
std::string FormatJson(const Record& record, const Origin& origin);
// What is shown for a datagram that is not a record.
std::string FormatMalformedReadable(const Origin& origin);
std::string FormatMalformedJson(const Origin& origin);

// A JSON string literal (with its quotation marks) for UTF-8 text.
std::string JsonString(std::string_view text);

}  // namespace kddiag

#endif  // KDTRACE_TOOLS_KDDIAG_DIAG_RECORD_H
