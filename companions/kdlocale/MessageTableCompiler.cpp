// Build tool: compiles the message table source (messages.txt) into a C++ table for
// libkdlocale.so and a header with the symbolic names.
//
//   kd_msgtable_compiler SOURCE TABLE.cpp NAMES.h
//
// The source format is described at the top of messages.txt. Errors name the source line and
// fail the build.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Message {
    uint32_t id = 0;
    std::string symbol;
    std::map<uint32_t, std::u16string> texts;  // language -> text
};

[[noreturn]] void Fail(const std::string& source, int line, const std::string& what) {
    std::cerr << source << ":" << line << ": error: " << what << "\n";
    std::exit(1);
}

std::string Trim(const std::string& s) {
    const std::size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const std::size_t last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

bool ParseNumber(const std::string& text, uint32_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != 0 || v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

// UTF-8 to UTF-16; false for malformed input.
bool Decode(const std::string& in, std::u16string& out) {
    for (std::size_t i = 0; i < in.size();) {
        const unsigned char b = static_cast<unsigned char>(in[i]);
        uint32_t c;
        int extra;
        if (b < 0x80)
            c = b, extra = 0;
        else if ((b & 0xE0) == 0xC0)
            c = b & 0x1F, extra = 1;
        else if ((b & 0xF0) == 0xE0)
            c = b & 0x0F, extra = 2;
        else if ((b & 0xF8) == 0xF0)
            c = b & 0x07, extra = 3;
        else
            return false;
        if (i + extra >= in.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            const unsigned char cont = static_cast<unsigned char>(in[i + k]);
            if ((cont & 0xC0) != 0x80) return false;
            c = (c << 6) | (cont & 0x3F);
        }
        i += 1 + extra;
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return true;
}

std::string Literal(const std::u16string& text) {
    std::string out = "u\"";
    char buf[16];
    for (char16_t c : text) {
        if (c == u'"' || c == u'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    out += '"';
    return out;
}

bool IsIdentifier(const std::string& s) {
    if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
    for (char c : s)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

void Usage(std::ostream& out) {
    out << "usage: kd_msgtable_compiler SOURCE TABLE.cpp NAMES.h\n"
           "Compiles a message table source into the C++ table of libkdlocale.so and a header of\n"
           "symbolic message identifiers.\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        Usage(std::cout);
        return 0;
    }
    if (argc != 4) {
        Usage(std::cerr);
        return 2;
    }
    const std::string source = argv[1];
    std::ifstream in(source);
    if (!in) {
        std::cerr << source << ": error: cannot open\n";
        return 1;
    }

    std::map<std::string, uint32_t> languages;
    std::vector<Message> messages;
    std::set<uint32_t> ids;
    std::set<std::string> symbols;
    std::string line;
    int lineNo = 0;
    bool haveId = false;
    uint32_t lastId = 0;
    // Text block state.
    bool inText = false;
    uint32_t textLanguage = 0;
    std::vector<std::string> textLines;
    int textStart = 0;

    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (inText) {
            if (line == ".") {
                std::u16string text;
                for (const std::string& l : textLines) {
                    std::u16string decoded;
                    if (!Decode(l, decoded)) Fail(source, textStart, "text is not valid UTF-8");
                    text += decoded;
                    text += u"\r\n";
                }
                Message& m = messages.back();
                if (!m.texts.emplace(textLanguage, text).second)
                    Fail(source, textStart, "a second text in the same language");
                inText = false;
                textLines.clear();
            } else {
                textLines.push_back(line);
            }
            continue;
        }
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == ';') continue;
        const std::size_t eq = trimmed.find('=');
        if (eq == std::string::npos) Fail(source, lineNo, "expected KEY=VALUE");
        const std::string key = Trim(trimmed.substr(0, eq));
        const std::string value = Trim(trimmed.substr(eq + 1));
        if (key == "LanguageNames") {
            // (Name=0x0409)
            if (value.size() < 2 || value.front() != '(' || value.back() != ')')
                Fail(source, lineNo, "expected LanguageNames=(Name=number)");
            const std::string inner = value.substr(1, value.size() - 2);
            const std::size_t e = inner.find('=');
            uint32_t id = 0;
            if (e == std::string::npos || !ParseNumber(Trim(inner.substr(e + 1)), id) || id == 0 || id > 0xFFFF)
                Fail(source, lineNo, "expected LanguageNames=(Name=number)");
            if (!languages.emplace(Trim(inner.substr(0, e)), id).second) Fail(source, lineNo, "language named twice");
        } else if (key == "MessageId") {
            uint32_t id = 0;
            if (value.empty()) {
                if (!haveId) Fail(source, lineNo, "the first message needs a number");
                id = lastId + 1;
            } else if (!ParseNumber(value, id)) {
                Fail(source, lineNo, "bad message number");
            }
            if (!ids.insert(id).second) Fail(source, lineNo, "message " + std::to_string(id) + " defined twice");
            Message m;
            m.id = id;
            messages.push_back(m);
            haveId = true;
            lastId = id;
        } else if (key == "SymbolicName") {
            if (messages.empty()) Fail(source, lineNo, "SymbolicName before MessageId");
            if (!IsIdentifier(value)) Fail(source, lineNo, "bad symbolic name");
            if (!symbols.insert(value).second) Fail(source, lineNo, "symbolic name used twice");
            messages.back().symbol = value;
        } else if (key == "Language") {
            if (messages.empty()) Fail(source, lineNo, "Language before MessageId");
            const auto it = languages.find(value);
            if (it == languages.end()) Fail(source, lineNo, "unknown language " + value);
            inText = true;
            textLanguage = it->second;
            textStart = lineNo;
        } else {
            Fail(source, lineNo, "unknown key " + key);
        }
    }
    if (inText) Fail(source, textStart, "text without its closing full stop");
    for (const Message& m : messages)
        if (m.texts.empty()) Fail(source, lineNo, "message " + std::to_string(m.id) + " has no text");

    std::ostringstream table;
    table << "// Generated by kd_msgtable_compiler from " << source << ". Do not edit.\n"
          << "#include \"companions/kdlocale/MessageTable.h\"\n\n"
          << "namespace kdlocale {\n\n"
          << "const MessageText kMessageTexts[] = {\n";
    std::size_t count = 0;
    std::map<std::pair<uint32_t, uint32_t>, const std::u16string*> ordered;
    for (const Message& m : messages)
        for (const auto& [language, text] : m.texts) ordered.emplace(std::make_pair(m.id, language), &text);
    for (const auto& [key, text] : ordered) {
        table << "    {" << key.first << "u, 0x" << std::hex << key.second << std::dec << "u, " << Literal(*text)
              << "},\n";
        ++count;
    }
    table << "};\n\nconst std::size_t kMessageTextCount = " << count << ";\n\n}  // namespace kdlocale\n";

    std::ostringstream names;
    names << "// Generated by kd_msgtable_compiler from " << source << ". Do not edit.\n"
          << "// Message identifiers of the language companion's message table.\n"
          << "#ifndef KDLOCALE_MESSAGES_H\n#define KDLOCALE_MESSAGES_H\n\n#include "
             "<kdtrace/types.h>\n\n";
    for (const Message& m : messages)
        if (!m.symbol.empty()) names << "inline constexpr DWORD " << m.symbol << " = " << m.id << ";\n";
    names << "\n#endif  // KDLOCALE_MESSAGES_H\n";

    const auto write = [](const std::string& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        return static_cast<bool>(out);
    };
    if (!write(argv[2], table.str()) || !write(argv[3], names.str())) {
        std::cerr << "kd_msgtable_compiler: error: cannot write the output\n";
        return 1;
    }
    return 0;
}
