#include "platform/registry_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/diag_receiver.h"

namespace {

using kd::platform::ParseRegistryDword;
using kd::platform::ReadRegistryDword;
using kd::platform::RegistryStatus;

constexpr std::u16string_view kKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics";

struct Outcome {
    RegistryStatus status;
    uint32_t value;
};

Outcome Parse(std::string_view text) {
    uint32_t value = 0xDEADBEEF;
    const RegistryStatus status = ParseRegistryDword(text, kKey, u"Log Profile", &value);
    return {status, value};
}

std::string Utf16File(std::u16string_view text, bool littleEndian) {
    std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char16_t c : text) {
        const char lo = static_cast<char>(c & 0xFF);
        const char hi = static_cast<char>(c >> 8);
        bytes += littleEndian ? lo : hi;
        bytes += littleEndian ? hi : lo;
    }
    return bytes;
}

TEST(RegistryFileTest, FindsTheDwordInTheForms) {
    const struct {
        const char* what;
        std::string text;
        uint32_t value;
    } cases[] = {
        {"plain", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\n\"Log Profile\"=dword:00000008\n", 8},
        {"editor header, CRLF, comments, other keys",
         "Windows Registry Editor Version 5.00\r\n\r\n; "
         "settings\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
         "\"Log "
         "Profile\"=dword:00000001\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]"
         "\r\n"
         "@=\"default\"\r\n\"Other\"=hex:01,02,\\\r\n  03\r\n\"Log Profile\"=dword:0000007f\r\n",
         0x7F},
        {"letter case of key, name and digits, HKLM, blanks",
         "REGEDIT4\n[hklm\\software\\BRACKWELL\\diagnostics]\n  \"log profile\" = dword:FFFFFFFF  "
         "\n",
         0xFFFFFFFF},
        {"UTF-8 byte-order mark, short digits, no final newline",
         "\xEF\xBB\xBF[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\n\"Log "
         "Profile\"=dword:8",
         8},
        {"the last assignment wins, across repeated sections",
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\n\"Log Profile\"=dword:00000001\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\n\"Log Profile\"=dword:00000002\n",
         2},
        {"escaped quotes in other names",
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\n\"a \\\"quoted\\\" \\\\ "
         "name\"=\"x\"\n"
         "\"Log Profile\"=dword:00000040\n",
         0x40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome o = Parse(c.text);
        EXPECT_EQ(o.status, RegistryStatus::Ok);
        EXPECT_EQ(o.value, c.value);
    }
    // As the registry editor exports it: UTF-16 with a byte-order mark.
    const std::u16string text =
        u"Windows Registry Editor Version "
        u"5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\r\n"
        u"\"Log Profile\"=dword:00000010\r\n";
    for (const bool little : {true, false}) {
        const Outcome o = Parse(Utf16File(text, little));
        EXPECT_EQ(o.status, RegistryStatus::Ok);
        EXPECT_EQ(o.value, 0x10u);
    }
}

TEST(RegistryFileTest, ReportsWhatIsWrong) {
    const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\n";
    const struct {
        const char* what;
        std::string text;
        RegistryStatus status;
    } cases[] = {
        {"empty file", "", RegistryStatus::KeyMissing},
        {"other key only", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell]\n\"Log Profile\"=dword:1\n",
         RegistryStatus::KeyMissing},
        {"no such value", key + "\"Log\"=dword:1\n", RegistryStatus::ValueMissing},
        {"default value is not the named one", key + "@=dword:1\n", RegistryStatus::ValueMissing},
        {"value deleted", key + "\"Log Profile\"=dword:1\n\"Log Profile\"=-\n", RegistryStatus::ValueMissing},
        {"key deleted", key + "\"Log Profile\"=dword:1\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\n",
         RegistryStatus::ValueMissing},
        {"string", key + "\"Log Profile\"=\"8\"\n", RegistryStatus::WrongType},
        {"binary", key + "\"Log Profile\"=hex:08,00,00,00\n", RegistryStatus::WrongType},
        {"typed hex", key + "\"Log Profile\"=hex(4):08,00,00,00\n", RegistryStatus::WrongType},
        {"bare text line", key + "Log Profile=8\n", RegistryStatus::Malformed},
        {"no equals sign", key + "\"Log Profile\" dword:8\n", RegistryStatus::Malformed},
        {"nine digits", key + "\"Log Profile\"=dword:000000008\n", RegistryStatus::Malformed},
        {"not hex", key + "\"Log Profile\"=dword:0x8\n", RegistryStatus::Malformed},
        {"bad hex bytes", key + "\"Other\"=hex:080\n\"Log Profile\"=dword:8\n", RegistryStatus::Malformed},
        {"malformed line elsewhere", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\ngarbage\n" + key + "\"Log Profile\"=dword:8\n",
         RegistryStatus::Malformed},
        {"unclosed section", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics\n\"Log Profile\"=dword:8\n",
         RegistryStatus::Malformed},
        {"odd UTF-16 file", "\xFF\xFE[\0H", RegistryStatus::Malformed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome o = Parse(c.text);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.value, 0xDEADBEEFu) << "the value is set only on success";
    }
}

TEST(RegistryFileTest, ReadsFilesAndRefusesWhatIsNotOne) {
    kdtest::TempDir dir;
    uint32_t value = 0;
    EXPECT_EQ(ReadRegistryDword(dir / "absent.reg", kKey, u"Log Profile", &value), RegistryStatus::FileMissing);
    EXPECT_EQ(ReadRegistryDword(dir / "absent/deeper.reg", kKey, u"Log Profile", &value), RegistryStatus::FileMissing);
    EXPECT_EQ(ReadRegistryDword(dir.path(), kKey, u"Log Profile", &value), RegistryStatus::Unreadable);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(ReadRegistryDword(dir / "fifo", kKey, u"Log Profile", &value), RegistryStatus::Unreadable);
    {
        std::ofstream big(dir / "big.reg");
        big << std::string(kd::platform::kRegistryFileMaxBytes + 1, ';');
    }
    EXPECT_EQ(ReadRegistryDword(dir / "big.reg", kKey, u"Log Profile", &value), RegistryStatus::Unreadable);
    std::ofstream(dir / "good.reg")
        << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brackwell\\Diagnostics]\n\"Log Profile\"=dword:2a\n";
    EXPECT_EQ(ReadRegistryDword(dir / "good.reg", kKey, u"Log Profile", &value), RegistryStatus::Ok);
    EXPECT_EQ(value, 42u);

    {
        kdtest::ScopedEnv env("KDTRACE_REGISTRY", dir / "good.reg");
        EXPECT_EQ(kd::platform::RegistryFilePath(), dir / "good.reg");
    }
    {
        kdtest::ScopedEnv env("KDTRACE_REGISTRY", nullptr);
        EXPECT_EQ(kd::platform::RegistryFilePath(), "/etc/kdtrace/registry.reg");
    }
}

}  // namespace
