#include "platform/version_note.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using kd::platform::FindVersionBlock;
using kd::platform::ReadVersionBlock;
using kd::platform::VersionBlockValue;

// A minimal 64-bit ELF image: the header, one program header for a note segment, the notes.
std::vector<std::uint8_t> ElfWithNotes(const std::vector<std::uint8_t>& notes, bool inSection = false) {
    constexpr std::size_t kHeaders = sizeof(Elf64_Ehdr) + sizeof(Elf64_Phdr) + sizeof(Elf64_Shdr);
    std::vector<std::uint8_t> image(kHeaders + notes.size());
    Elf64_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_DYN;
    const std::uint64_t notesAt = kHeaders;
    Elf64_Phdr ph{};
    Elf64_Shdr sh{};
    if (inSection) {
        header.e_shoff = sizeof(Elf64_Ehdr) + sizeof(Elf64_Phdr);
        header.e_shentsize = sizeof(Elf64_Shdr);
        header.e_shnum = 1;
        sh.sh_type = SHT_NOTE;
        sh.sh_offset = notesAt;
        sh.sh_size = notes.size();
        sh.sh_addralign = 4;
    } else {
        header.e_phoff = sizeof(Elf64_Ehdr);
        header.e_phentsize = sizeof(Elf64_Phdr);
        header.e_phnum = 1;
        ph.p_type = PT_NOTE;
        ph.p_offset = notesAt;
        ph.p_filesz = notes.size();
        ph.p_align = 4;
    }
    std::memcpy(image.data(), &header, sizeof header);
    std::memcpy(image.data() + sizeof header, &ph, sizeof ph);
    std::memcpy(image.data() + sizeof header + sizeof ph, &sh, sizeof sh);
    if (!notes.empty()) std::memcpy(image.data() + kHeaders, notes.data(), notes.size());
    return image;
}

// Notes are built as byte strings (std::string) and turned into images at the end.
void Put32(std::string& out, std::uint32_t v) {
    out.append(reinterpret_cast<const char*>(&v), 4);
}

std::vector<std::uint8_t> Bytes(const std::string& s) {
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

std::vector<std::uint8_t> Note(const std::string& name, std::uint32_t type, const std::string& desc) {
    std::string out;
    Put32(out, static_cast<std::uint32_t>(name.size() + 1));
    Put32(out, static_cast<std::uint32_t>(desc.size()));
    Put32(out, type);
    out += name;
    out.push_back('\0');
    while (out.size() % 4 != 0) out.push_back('\0');
    out += desc;
    while (out.size() % 4 != 0) out.push_back('\0');
    return Bytes(out);
}

std::vector<std::uint8_t> Concat(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    std::string joined(a.begin(), a.end());
    joined.append(b.begin(), b.end());
    return Bytes(joined);
}

const std::string kBlock("ProductName=kdtrace\0FileVersion=4.0.1.5\0", 40);

TEST(VersionNoteTest, FindsOurNoteAmongOthersInSegmentsAndSections) {
    const auto notes = Concat(Note("GNU", 3, std::string(20, 'x')), Note("KDTRACE", 1, kBlock));
    for (bool inSection : {false, true}) {
        const auto block = FindVersionBlock(ElfWithNotes(notes, inSection));
        ASSERT_TRUE(block.has_value());
        EXPECT_EQ(*block, kBlock);
        EXPECT_EQ(VersionBlockValue(*block, "FileVersion"), "4.0.1.5");
    }
    // Same name, other type; other name, same type: not ours.
    const auto others = Concat(Note("KDTRACE", 2, kBlock), Note("KDTRACX", 1, kBlock));
    EXPECT_FALSE(FindVersionBlock(ElfWithNotes(others)).has_value());
}

TEST(VersionNoteTest, ThirtyTwoBitImagesAreReadToo) {
    const auto note = Note("KDTRACE", 1, std::string("FileVersion=13.1.2.3\0", 21));
    constexpr std::size_t kHeaders = sizeof(Elf32_Ehdr) + sizeof(Elf32_Phdr);
    std::vector<std::uint8_t> image(kHeaders + note.size());
    Elf32_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS32;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_phoff = sizeof(Elf32_Ehdr);
    header.e_phentsize = sizeof(Elf32_Phdr);
    header.e_phnum = 1;
    Elf32_Phdr ph{};
    ph.p_type = PT_NOTE;
    ph.p_offset = static_cast<Elf32_Off>(kHeaders);
    ph.p_filesz = static_cast<Elf32_Word>(note.size());
    std::memcpy(image.data(), &header, sizeof header);
    std::memcpy(image.data() + sizeof header, &ph, sizeof ph);
    std::memcpy(image.data() + kHeaders, note.data(), note.size());
    EXPECT_EQ(VersionBlockValue(FindVersionBlock(image).value_or(""), "FileVersion"), "13.1.2.3");
}

TEST(VersionNoteTest, DamagedImagesGiveNothing) {
    const auto good = ElfWithNotes(Note("KDTRACE", 1, kBlock));
    ASSERT_TRUE(FindVersionBlock(good).has_value());
    // Every truncation of the image.
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(FindVersionBlock(std::span<const std::uint8_t>(good.data(), n)).has_value()) << n;
    // A content size running past the segment, a huge name size, a segment past the file end.
    auto bad = good;
    const std::size_t notesAt = sizeof(Elf64_Ehdr) + sizeof(Elf64_Phdr) + sizeof(Elf64_Shdr);
    bad[notesAt + 4] = 0xFF;
    EXPECT_FALSE(FindVersionBlock(bad).has_value());
    bad = good;
    bad[notesAt + 3] = 0xFF;
    EXPECT_FALSE(FindVersionBlock(bad).has_value());
    bad = good;
    Elf64_Phdr ph;
    std::memcpy(&ph, bad.data() + sizeof(Elf64_Ehdr), sizeof ph);
    ph.p_offset = UINT64_MAX - 4;
    std::memcpy(bad.data() + sizeof(Elf64_Ehdr), &ph, sizeof ph);
    EXPECT_FALSE(FindVersionBlock(bad).has_value());
    // Not ELF, or the other byte order.
    bad = good;
    bad[0] = 'X';
    EXPECT_FALSE(FindVersionBlock(bad).has_value());
    bad = good;
    bad[EI_DATA] = ELFDATA2MSB;
    EXPECT_FALSE(FindVersionBlock(bad).has_value());
}

TEST(VersionNoteTest, BlockValuesMatchWholeKeys) {
    EXPECT_EQ(VersionBlockValue(kBlock, "ProductName"), "kdtrace");
    EXPECT_FALSE(VersionBlockValue(kBlock, "File").has_value());
    EXPECT_FALSE(VersionBlockValue(std::string("FileVersionX=1\0FileVersion\0", 27), "FileVersion").has_value());
    EXPECT_EQ(VersionBlockValue("FileVersion=", "FileVersion"), "");  // present, but empty
    EXPECT_EQ(VersionBlockValue(std::string("FileVersion=4.1.0.0", 19), "FileVersion"), "4.1.0.0");
}

TEST(VersionNoteTest, TheBuiltLibrariesCarryTheirVersions) {
    const auto module = ReadVersionBlock(KDTRACE_MODULE_PATH);
    ASSERT_TRUE(module.has_value());
    EXPECT_EQ(VersionBlockValue(*module, "FileVersion"), "4.0.0.1");
    const std::string dir = KDTRACE_TEST_LIB_DIR;
    EXPECT_EQ(VersionBlockValue(ReadVersionBlock(dir + "/libkdver_4_0_2_7.so").value_or(""), "FileVersion"), "4.0.2.7");
    EXPECT_FALSE(ReadVersionBlock(dir + "/libkdver_none.so").has_value());
    EXPECT_FALSE(VersionBlockValue(ReadVersionBlock(dir + "/libkdver_nofile.so").value_or(""), "FileVersion"));
    EXPECT_FALSE(ReadVersionBlock(dir + "/no-such-library.so").has_value());
    EXPECT_FALSE(ReadVersionBlock(dir).has_value());  // a directory
}

}  // namespace
