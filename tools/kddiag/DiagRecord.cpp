#include "DiagRecord.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include <kdtrace/host.h>

#include "platform/DiagWire.h"
#include "platform/Text.h"

namespace kddiag {

namespace {

using namespace kd::platform::diagwire;

constexpr std::u16string_view kNextColumn = u"]]></column><column name=\"";

std::string Utf8(std::u16string_view text) {
    return kd::platform::Utf16ToUtf8(text);
}

// Text for a terminal: control characters other than tab and line feed are shown as \xNN, so a
// record cannot move the cursor or change colours.
std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\n') || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
            out += escaped;
        } else if (c == '\n') {
            out += "\n    ";
        } else {
            out += c;
        }
    }
    return out;
}

// A value as it was sent: its CDATA sections joined again. Records of older writers, whose values
// were written unchanged, contain neither joint and read as they are.
std::string Value(std::u16string_view raw) {
    std::u16string value;
    value.reserve(raw.size());
    while (!raw.empty()) {
        if (raw.starts_with(kSectionSplit)) {
            raw.remove_prefix(kSectionSplit.size());
        } else if (raw.starts_with(kCarriageReturn)) {
            value += u'\r';
            raw.remove_prefix(kCarriageReturn.size());
        } else {
            value += raw.front();
            raw.remove_prefix(1);
        }
    }
    return Utf8(value);
}

}  // namespace

const std::string* Record::Find(std::string_view name) const {
    for (const Column& c : columns)
        if (c.name == name) return &c.value;
    return nullptr;
}

std::u16string DatagramText(const char* data, std::size_t size) {
    std::u16string text;
    text.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                             (static_cast<unsigned char>(data[i + 1]) << 8)));
    return text;
}

std::string RecordXml(std::u16string_view text) {
    if (text.starts_with(kLead)) text.remove_prefix(kLead.size());
    while (!text.empty() && text.back() == 0) text.remove_suffix(1);
    return Utf8(text);
}

bool ParseRecord(std::u16string_view t, Record* record) {
    *record = Record{};
    if (!t.starts_with(kLead)) return false;
    t.remove_prefix(kLead.size());
    while (!t.empty() && t.back() == 0) t.remove_suffix(1);

    // A record of a value that is not a profile has no header at all.
    if (t.starts_with(kTypeOpen)) {
        const std::size_t end = t.find(kTypeClose, kTypeOpen.size());
        if (end == std::u16string_view::npos) return false;
        std::u16string_view type = t.substr(kTypeOpen.size(), end - kTypeOpen.size());
        if (type.ends_with(u"-profile")) type.remove_suffix(8);
        record->profile = Utf8(type);
        t.remove_prefix(end + kTypeClose.size());
    }
    if (!t.starts_with(kTimeOpen)) return false;
    const std::size_t timeEnd = t.find(kTimeClose, kTimeOpen.size());
    if (timeEnd == std::u16string_view::npos) return false;
    record->time = Utf8(t.substr(kTimeOpen.size(), timeEnd - kTimeOpen.size()));
    t.remove_prefix(timeEnd + kTimeClose.size());
    if (!t.ends_with(kTrailer)) return false;
    t.remove_suffix(kTrailer.size());

    while (!t.empty()) {
        if (!t.starts_with(kColumnOpen)) return false;
        t.remove_prefix(kColumnOpen.size());
        const std::size_t nameEnd = t.find(kColumnValue);
        if (nameEnd == std::u16string_view::npos) return false;
        Column column;
        column.name = Utf8(t.substr(0, nameEnd));
        t.remove_prefix(nameEnd + kColumnValue.size());
        const std::size_t next = t.find(kNextColumn);
        if (next == std::u16string_view::npos) {
            if (!t.ends_with(kColumnClose)) return false;
            column.value = Value(t.substr(0, t.size() - kColumnClose.size()));
            t = {};
        } else {
            column.value = Value(t.substr(0, next));
            t.remove_prefix(next + kColumnClose.size());
        }
        record->columns.push_back(std::move(column));
    }
    return true;
}

std::string FormatReadable(const Record& record, const Origin& origin) {
    static constexpr std::string_view kKnown[] = {"ThreadID", "Result",     "Message",    "Module",  "Class",
                                                  "Method",   "SourceFile", "SourceLine", "Severity"};
    const auto value = [&](std::string_view name) {
        const std::string* v = record.Find(name);
        return v != nullptr ? *v : std::string();
    };
    std::string out = Printable(record.time);
    out += "  ";
    out += record.profile.empty() ? "(no profile)" : Printable(record.profile);
    if (const std::string* result = record.Find("Result")) out += "  " + Printable(*result);

    // Where: "Module | Class::Method", leaving out what is empty and naming the class once (the
    // module's methods often carry it already: "CPLVariant::Convert").
    std::string where = kdtrace::host::QualifiedName(value("Class"), value("Method"));
    const std::string module = value("Module");
    if (!module.empty()) where = where.empty() ? module : module + " | " + where;
    if (!where.empty()) out += "  " + Printable(where);

    std::string who;
    if (const std::string* thread = record.Find("ThreadID")) who = "thread " + Printable(*thread);
    if (origin.pid != 0) who += (who.empty() ? "" : ", ") + std::string("pid ") + std::to_string(origin.pid);
    if (!who.empty()) out += "  [" + who + "]";
    out += '\n';

    if (const std::string* message = record.Find("Message")) out += "    " + Printable(*message) + '\n';
    const std::string file = value("SourceFile");
    const std::string line = value("SourceLine");
    if (!file.empty())
        out += "    at " + Printable(file) + (line.empty() || line == "0" ? "" : ":" + Printable(line)) + '\n';
    const std::string severity = value("Severity");
    if (!severity.empty() && severity != "Error") out += "    severity: " + Printable(severity) + '\n';
    for (const Column& c : record.columns) {
        bool known = false;
        for (const std::string_view k : kKnown) known = known || c.name == k;
        if (!known) out += "    " + Printable(c.name) + ": " + Printable(c.value) + '\n';
    }
    if (origin.truncated) out += "    (the record was longer than the console's buffer and is cut)\n";
    return out;
}

std::string FormatJson(const Record& record, const Origin& origin) {
    std::string out = "{\"time\":" + JsonString(record.time);
    if (const std::string recorded = RecordedTime(record.time); !recorded.empty())
        out += ",\"recorded\":" + JsonString(recorded);
    if (!origin.received.empty()) out += ",\"received\":" + JsonString(origin.received);
    out += ",\"profile\":" + JsonString(record.profile) + ",\"pid\":" + std::to_string(origin.pid);
    if (origin.truncated) out += ",\"truncated\":true";
    out += ",\"columns\":{";
    // Names repeat rarely; a repeated one is told apart as "name#2", "name#3", ...
    std::vector<std::string> used;
    for (std::size_t i = 0; i < record.columns.size(); ++i) {
        std::string key = record.columns[i].name;
        for (int n = 2; std::find(used.begin(), used.end(), key) != used.end(); ++n)
            key = record.columns[i].name + "#" + std::to_string(n);
        used.push_back(key);
        if (i > 0) out += ',';
        out += JsonString(key) + ':' + JsonString(record.columns[i].value);
    }
    out += "}}";
    return out;
}

std::string ReceivedTime(int64_t seconds, int32_t nanoseconds) {
    const time_t t = static_cast<time_t>(seconds);
    struct tm local {};
    if (::localtime_r(&t, &local) == nullptr) return {};
    const int32_t offset = static_cast<int32_t>(local.tm_gmtoff / 60);  // minutes east of UTC
    const int32_t magnitude = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(nanoseconds / 1000000), offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return text;
}

std::string RecordedTime(std::string_view time) {
    // "M/D/YYYY h:mm:ss AM": the writer's fixed form.
    struct tm local {};
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0, used = 0;
    char marker[3] = {};
    const std::string text(time);
    if (std::sscanf(text.c_str(), "%2d/%2d/%4d %2d:%2d:%2d %2[AP]M%n", &month, &day, &year, &hour, &minute, &second,
                    marker, &used) != 7 ||
        static_cast<std::size_t>(used) != text.size() || month < 1 || month > 12 || day < 1 || day > 31 || year < 1 ||
        hour < 1 || hour > 12 || minute > 59 || second > 60)
        return {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour % 12 + (marker[0] == 'P' ? 12 : 0);
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;  // as the clock showed it then
    struct tm normal = local;
    if (::mktime(&normal) == static_cast<time_t>(-1) || normal.tm_mday != day) return {};
    const int32_t offset = static_cast<int32_t>(normal.tm_gmtoff / 60);  // minutes east of UTC
    const int32_t magnitude = offset < 0 ? -offset : offset;
    char out[64];
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", year, month, day, local.tm_hour, minute,
                  second, offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return out;
}

std::string FormatMalformedReadable(const Origin& origin) {
    return "(not a diagInfo record: " + std::to_string(origin.bytes) + " bytes from pid " + std::to_string(origin.pid) +
           ")\n";
}

std::string FormatMalformedJson(const Origin& origin) {
    return "{\"malformed\":true,\"bytes\":" + std::to_string(origin.bytes) + ",\"pid\":" + std::to_string(origin.pid) +
           "}";
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (u < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04X", u);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace kddiag
