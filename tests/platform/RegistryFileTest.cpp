#include "platform/RegistryFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <vector>

#include "support/DiagReceiver.h"

namespace {

using kd::platform::RegistryStatus;

constexpr std::u16string_view kKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics";
const std::string kSection = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\n";

std::pair<RegistryStatus, uint32_t> Parse(std::string_view text) {
    uint32_t value = 0xDEADBEEF;
    // (A braced list is evaluated in order: the value is read after the call.)
    return {kd::platform::ParseRegistryDword(text, kKey, u"Log Profile", &value), value};
}

TEST(RegistryFileTest, FindsTheDwordInTheForms) {
    const std::pair<std::string, uint32_t> cases[] = {
        // The editor's header, CRLF, comments, other keys and other kinds of value.
        {"Windows Registry Editor Version 5.00\r\n\r\n; settings\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
         "\"Log Profile\"=dword:00000001\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\r\n"
         "@=\"default\"\r\n\"Other\"=hex:01,02,\\\r\n  03\r\n\"Log Profile\"=dword:0000007f\r\n",
         0x7F},
        // Letter case of key, name and digits, HKLM, blanks.
        {"REGEDIT4\n[hklm\\software\\BRACKWELL\\diagnostics]\n  \"log profile\" = dword:FFFFFFFF  \n", 0xFFFFFFFF},
        // A UTF-8 byte-order mark, short digits, no final newline.
        {"\xEF\xBB\xBF" + kSection + "\"Log Profile\"=dword:8", 8},
        // The last assignment wins, across repeated sections.
        {kSection + "\"Log Profile\"=dword:00000001\n" + kSection + "\"Log Profile\"=dword:00000002\n", 2},
        // A key written with a closing backslash, tabs, escaped quotes and backslashes in names.
        {"[HKLM\\SOFTWARE\\Brackwell\\Diagnostics\\]\n\t\"Log \\\"Profile\\\\\"=dword:1\n\"Log Profile\"\t=dword:aB\n",
         0xAB},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(Parse(text), std::make_pair(RegistryStatus::Ok, value)) << text;
    // As the registry editor exports it: UTF-16 with a byte-order mark (and big-endian too).
    for (const bool big : {false, true}) {
        std::string bytes = big ? "\xFE\xFF" : "\xFF\xFE";
        for (const char c : "Windows Registry Editor Version 5.00\r\n\r\n" + kSection + "\"Log Profile\"=dword:10\r\n")
            bytes += big ? std::string{'\0', c} : std::string{c, '\0'};
        EXPECT_EQ(Parse(bytes), std::make_pair(RegistryStatus::Ok, 0x10u)) << (big ? "big-endian" : "little-endian");
    }
}

TEST(RegistryFileTest, ReportsWhatIsWrongAndSetsNothing) {
    const std::pair<std::string, RegistryStatus> cases[] = {
        {"", RegistryStatus::KeyMissing},
        {"[HKLM]\n[\\]\n", RegistryStatus::KeyMissing},
        {kSection + "\"Log\"=dword:1\n", RegistryStatus::ValueMissing},
        {kSection + "\"Log Profile\"=dword:1\n\"Log Profile\"=-\n", RegistryStatus::ValueMissing},
        {std::string("\xFF\xFE[\0H", 5), RegistryStatus::Malformed},  // an odd number of UTF-16 bytes
        {kSection + "Log Profile=dword:1\n", RegistryStatus::Malformed},
    };
    for (const auto& [text, status] : cases) EXPECT_EQ(Parse(text), std::make_pair(status, 0xDEADBEEFu)) << text;
    // What follows "Log Profile"= in the key's section: a value of another type, or a malformed one
    // ("hex:aB, 123" has three digits).
    const std::pair<RegistryStatus, std::vector<std::string>> values[] = {
        {RegistryStatus::WrongType, {"\"8\"", "hex(4):08,00,00,00", "hex(aF):08"}},
        {RegistryStatus::Malformed,
         {"dword:000000008", "dword:", "dword:12g4", "dword:!", "\"8\" x", "\"8", "hex():08", "hex(4x):08", "hex(!):08",
          "hex:aB, 123", "hex:g", "hex:!", "hex", ""}}};
    for (const auto& [status, list] : values)
        for (const std::string& value : list)
            EXPECT_EQ(Parse(kSection + "\"Log Profile\"=" + value + "\n"), std::make_pair(status, 0xDEADBEEFu))
                << value;
    // The diagnostics log names each status in words of its own (and a value out of range).
    std::set<std::string> texts;
    for (int s = 0; s <= 7; ++s) texts.insert(kd::platform::RegistryStatusText(static_cast<RegistryStatus>(s)));
    EXPECT_EQ(texts.size(), 8u);
}

TEST(RegistryFileTest, ReadsFilesAndRefusesWhatIsNotOne) {
    kdtest::TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::ofstream(dir / "big.reg") << std::string(kd::platform::kRegistryFileMaxBytes + 1, ';');
    std::ofstream(dir / "good.reg") << kSection << "\"Log Profile\"=dword:2a\n";
    using Row = std::pair<std::string, RegistryStatus>;
    for (const auto& [path, status] :
         {Row{dir / "absent.reg", RegistryStatus::FileMissing}, Row{dir.path(), RegistryStatus::Unreadable},
          Row{dir / "fifo", RegistryStatus::Unreadable}, Row{dir / "big.reg", RegistryStatus::Unreadable},
          Row{dir / "good.reg", RegistryStatus::Ok}}) {
        uint32_t value = 0;
        EXPECT_EQ(kd::platform::ReadRegistryDword(path, kKey, u"Log Profile", &value), status) << path;
        EXPECT_EQ(value, status == RegistryStatus::Ok ? 42u : 0u) << path;
    }
}

}  // namespace
