// Test helpers for the diagnostics channel, written with plain system calls so that they do not
// share code with what they check: a bound receiver socket, a temporary directory, a scoped
// environment variable, and the text of records and their datagram bytes.
#ifndef KDTRACE_TESTS_DIAG_RECEIVER_H
#define KDTRACE_TESTS_DIAG_RECEIVER_H

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kdtest {

// A fresh directory under the temporary directory, removed with its contents.
class TempDir {
public:
    TempDir() : m_path("/tmp/kdtest-XXXXXX") {
        if (::mkdtemp(m_path.data()) == nullptr) m_path.clear();
    }
    ~TempDir() {
        if (!m_path.empty()) std::filesystem::remove_all(m_path, m_ignored);
    }
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
    std::error_code m_ignored;
};

// Sets (or, with null, unsets) an environment variable for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv() { m_old ? ::setenv(m_name.c_str(), m_old->c_str(), 1) : ::unsetenv(m_name.c_str()); }

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// A datagram socket bound at `path` (-1 when that fails); with `leave`, closed at once so that
// only the socket file stays, as a console that died leaves it.
inline int BindDatagramSocket(const std::string& path, bool leave = false) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || leave)) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

// A datagram socket bound at a path, as a console binds it.
class DiagReceiver {
public:
    explicit DiagReceiver(std::string path) : m_path(std::move(path)) {
        ::unlink(m_path.c_str());
        m_fd = BindDatagramSocket(m_path);
    }
    ~DiagReceiver() {
        if (m_fd >= 0) ::close(m_fd);
        ::unlink(m_path.c_str());
    }

    bool ok() const { return m_fd >= 0; }
    const std::string& path() const { return m_path; }

    // One datagram, or nothing when none arrives within `timeoutMs`.
    std::optional<std::vector<uint8_t>> Receive(int timeoutMs = 5000) {
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, timeoutMs) <= 0) return std::nullopt;
        std::vector<uint8_t> buffer(1 << 20);
        const ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0) return std::nullopt;
        buffer.resize(static_cast<std::size_t>(n));
        return buffer;
    }

    // Every datagram that arrives until none has come for `quietMs`.
    std::vector<std::vector<uint8_t>> Drain(int quietMs = 200) {
        std::vector<std::vector<uint8_t>> all;
        while (auto d = Receive(quietMs)) all.push_back(std::move(*d));
        return all;
    }

private:
    std::string m_path;
    int m_fd = -1;
};

// The units of a datagram read as UTF-16 little-endian (a trailing odd byte is ignored).
inline std::u16string DatagramText(const std::vector<uint8_t>& bytes) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    return text;
}

// The bytes of a text as UTF-16 little-endian.
inline std::vector<uint8_t> LittleEndianBytes(std::u16string_view text) {
    std::vector<uint8_t> bytes;
    for (const char16_t c : text)
        bytes.insert(bytes.end(), {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)});
    return bytes;
}

inline std::string Ascii(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

inline std::u16string Wide(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

inline std::string Hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// ---- record text, written out by hand ----

inline std::u16string Column(std::u16string_view name, std::u16string_view value) {
    return u"<column name=\"" + std::u16string(name) + u"\"><![CDATA[" + std::u16string(value) + u"]]></column>";
}

// A whole record of a profile ("error", "ldap"; empty for no header), with its final U+0000.
inline std::u16string Record(std::u16string_view profile, std::u16string_view time, std::u16string_view columns) {
    const std::u16string header =
        profile.empty() ? u"" : u"<diagInfo><type><![CDATA[" + std::u16string(profile) + u"-profile]]></type>";
    return u"\u00FF\u00FE" + header + u"<time><![CDATA[" + std::u16string(time) + u"]]></time><columns>" +
           std::u16string(columns) + u"</columns></diagInfo>" + u'\0';
}

// The columns of an error record, in the order they are written.
inline std::u16string ErrorColumns(std::u16string_view thread, std::u16string_view result, std::u16string_view message,
                                   std::u16string_view module, std::u16string_view className,
                                   std::u16string_view method, std::u16string_view file, std::u16string_view line) {
    return Column(u"ThreadID", thread) + Column(u"Result", result) + Column(u"Message", message) +
           Column(u"Module", module) + Column(u"Class", className) + Column(u"Method", method) +
           Column(u"SourceFile", file) + Column(u"SourceLine", line) + Column(u"Severity", u"Error");
}

// The value of the first column called `name` (up to the first column end after it), or nothing.
inline std::optional<std::u16string> ColumnValue(std::u16string_view record, std::u16string_view name) {
    const std::u16string open = u"<column name=\"" + std::u16string(name) + u"\"><![CDATA[";
    const std::size_t start = record.find(open);
    const std::size_t end = start == record.npos ? record.npos : record.find(u"]]></column>", start + open.size());
    if (end == record.npos) return std::nullopt;
    return std::u16string(record.substr(start + open.size(), end - start - open.size()));
}

}  // namespace kdtest

#endif  // KDTRACE_TESTS_DIAG_RECEIVER_H
