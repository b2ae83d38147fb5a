#include "platform/RegistryFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/Text.h"

namespace kd::platform {

namespace {

std::u16string DecodeFile(std::string_view bytes, bool* ok) {
    *ok = true;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
        const bool little = byte(0) == 0xFF;
        if (bytes.size() % 2 != 0) {
            *ok = false;
            return {};
        }
        std::u16string text;
        text.reserve(bytes.size() / 2 - 1);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const unsigned lo = little ? byte(i) : byte(i + 1);
            const unsigned hi = little ? byte(i + 1) : byte(i);
            text.push_back(static_cast<char16_t>(lo | (hi << 8)));
        }
        return text;
    }
    if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) bytes.remove_prefix(3);
    return Utf8ToUtf16(bytes);
}

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == 0xFEFF;
}

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool StartsWithNoCase(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && CompareNoCase(s.substr(0, prefix.size()), prefix) == 0;
}

// "HKLM\..." is the usual short spelling of the machine hive.
std::u16string NormalizeKey(std::u16string_view key) {
    std::u16string out;
    if (StartsWithNoCase(key, u"HKLM\\") || CompareNoCase(key, u"HKLM") == 0) {
        out = u"HKEY_LOCAL_MACHINE";
        key.remove_prefix(4);
    }
    out.append(key);
    while (!out.empty() && out.back() == u'\\') out.pop_back();
    return out;
}

// Parses a quoted name with \\ and \" escapes at the start of `s`; the rest follows in `s`.
bool TakeQuoted(std::u16string_view& s, std::u16string* out) {
    if (s.empty() || s.front() != u'"') return false;
    out->clear();
    for (std::size_t i = 1; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c == u'\\' && i + 1 < s.size()) {
            out->push_back(s[++i]);
        } else if (c == u'"') {
            s.remove_prefix(i + 1);
            return true;
        } else {
            out->push_back(c);
        }
    }
    return false;
}

enum class ValueKind { Dword, Deleted, Other };

// The data after "=": dword:XXXXXXXX, "string", -, hex:..., hex(N):...; anything else is
// malformed.
bool ParseData(std::u16string_view data, ValueKind* kind, uint32_t* dword) {
    data = Trim(data);
    if (data == u"-") {
        *kind = ValueKind::Deleted;
        return true;
    }
    if (StartsWithNoCase(data, u"dword:")) {
        const std::u16string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8) return false;
        uint32_t v = 0;
        for (const char16_t c : digits) {
            unsigned d;
            if (c >= u'0' && c <= u'9')
                d = c - u'0';
            else if (c >= u'a' && c <= u'f')
                d = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                d = c - u'A' + 10;
            else
                return false;
            v = (v << 4) | d;
        }
        *kind = ValueKind::Dword;
        *dword = v;
        return true;
    }
    if (!data.empty() && data.front() == u'"') {
        std::u16string text;
        std::u16string_view rest = data;
        if (!TakeQuoted(rest, &text) || !Trim(rest).empty()) return false;
        *kind = ValueKind::Other;
        return true;
    }
    if (StartsWithNoCase(data, u"hex")) {
        std::u16string_view rest = data.substr(3);
        if (!rest.empty() && rest.front() == u'(') {
            const std::size_t close = rest.find(u')');
            if (close == std::u16string_view::npos || close == 1) return false;
            for (std::size_t i = 1; i < close; ++i) {
                const char16_t c = rest[i];
                if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'))) return false;
            }
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != u':') return false;
        rest.remove_prefix(1);
        // Comma-separated byte pairs.
        std::size_t digits = 0;
        for (const char16_t c : rest) {
            if (c == u',' || IsBlank(c)) {
                if (digits > 2) return false;
                digits = 0;
            } else if ((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')) {
                if (++digits > 2) return false;
            } else {
                return false;
            }
        }
        *kind = ValueKind::Other;
        return true;
    }
    return false;
}

}  // namespace

std::string RegistryFilePath() {
    const char* path = std::getenv("KDTRACE_REGISTRY");
    if (path != nullptr && *path != 0) return path;
    return "/etc/kdtrace/registry.reg";
}

RegistryStatus ParseRegistryDword(std::string_view fileBytes, std::u16string_view keyPath,
                                  std::u16string_view valueName, uint32_t* value) {
    bool decoded = false;
    const std::u16string text = DecodeFile(fileBytes, &decoded);
    if (!decoded) return RegistryStatus::Malformed;
    const std::u16string wantedKey = NormalizeKey(keyPath);

    bool keySeen = false;
    bool inKey = false;
    bool firstContent = true;
    bool found = false;
    ValueKind foundKind = ValueKind::Deleted;
    uint32_t foundValue = 0;

    std::u16string logical;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        // One logical line: physical lines ending in a backslash continue on the next.
        logical.clear();
        for (;;) {
            std::size_t end = text.find(u'\n', pos);
            if (end == std::u16string::npos) end = text.size();
            std::u16string_view physical = Trim(std::u16string_view(text).substr(pos, end - pos));
            pos = end + 1;
            if (!physical.empty() && physical.back() == u'\\' && pos <= text.size() && physical.front() != u'[') {
                physical.remove_suffix(1);
                logical.append(physical);
                continue;
            }
            logical.append(physical);
            break;
        }
        const std::u16string_view line = Trim(logical);
        if (line.empty() || line.front() == u';') continue;
        if (firstContent) {
            firstContent = false;
            if (line == u"Windows Registry Editor Version 5.00" || line == u"REGEDIT4") continue;
        }
        if (line.front() == u'[') {
            if (line.back() != u']' || line.size() < 3) return RegistryStatus::Malformed;
            std::u16string_view key = line.substr(1, line.size() - 2);
            if (!key.empty() && key.front() == u'-') {
                // A deleted key: its values are gone, and assignments below it are ignored.
                key.remove_prefix(1);
                if (CompareNoCase(NormalizeKey(key), wantedKey) == 0) found = false;
                inKey = false;
                continue;
            }
            inKey = CompareNoCase(NormalizeKey(key), wantedKey) == 0;
            keySeen = keySeen || inKey;
            continue;
        }
        std::u16string name;
        std::u16string_view rest = line;
        if (rest.front() == u'@') {
            rest.remove_prefix(1);
        } else if (!TakeQuoted(rest, &name)) {
            return RegistryStatus::Malformed;
        }
        rest = Trim(rest);
        if (rest.empty() || rest.front() != u'=') return RegistryStatus::Malformed;
        ValueKind kind;
        uint32_t dword = 0;
        if (!ParseData(rest.substr(1), &kind, &dword)) return RegistryStatus::Malformed;
        if (inKey && line.front() != u'@' && CompareNoCase(name, valueName) == 0) {
            found = kind != ValueKind::Deleted;
            foundKind = kind;
            foundValue = dword;
        }
    }
    if (!keySeen) return RegistryStatus::KeyMissing;
    if (!found) return RegistryStatus::ValueMissing;
    if (foundKind != ValueKind::Dword) return RegistryStatus::WrongType;
    if (value != nullptr) *value = foundValue;
    return RegistryStatus::Ok;
}

RegistryStatus ReadRegistryDword(const std::string& filePath, std::u16string_view keyPath,
                                 std::u16string_view valueName, uint32_t* value) {
    const int fd = ::open(filePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? RegistryStatus::FileMissing : RegistryStatus::Unreadable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) > kRegistryFileMaxBytes) {
        ::close(fd);
        return RegistryStatus::Unreadable;
    }
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return RegistryStatus::Unreadable;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(got);
    return ParseRegistryDword(bytes, keyPath, valueName, value);
}

const char* RegistryStatusText(RegistryStatus status) noexcept {
    switch (status) {
        case RegistryStatus::Ok:
            return "ok";
        case RegistryStatus::FileMissing:
            return "the file is missing";
        case RegistryStatus::Unreadable:
            return "the file cannot be read";
        case RegistryStatus::Malformed:
            return "the file is malformed";
        case RegistryStatus::KeyMissing:
            return "the key is missing";
        case RegistryStatus::ValueMissing:
            return "the value is missing";
        case RegistryStatus::WrongType:
            return "the value is not a dword";
    }
    return "unknown";
}

}  // namespace kd::platform
