#include "platform/VersionNote.h"

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
using Image = std::vector<std::uint8_t>;

template <class T>
std::string BytesOf(const T& value) {
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// A minimal 64-bit ELF image: the header, a program header describing the notes and an empty
// section header, then the notes.
Image Elf64(const std::string& notes) {
    Elf64_Ehdr header{};
    std::memcpy(header.e_ident, ELFMAG, SELFMAG);
    header.e_ident[EI_CLASS] = ELFCLASS64;
    header.e_ident[EI_DATA] = ELFDATA2LSB;
    header.e_ident[EI_VERSION] = EV_CURRENT;
    header.e_type = ET_DYN;
    header.e_phoff = sizeof header;
    header.e_phentsize = sizeof(Elf64_Phdr);
    header.e_phnum = 1;
    Elf64_Phdr ph{};
    ph.p_type = PT_NOTE;
    ph.p_offset = sizeof header + sizeof ph + sizeof(Elf64_Shdr);
    ph.p_filesz = notes.size();
    const std::string image = BytesOf(header) + BytesOf(ph) + BytesOf(Elf64_Shdr{}) + notes;
    return Image(image.begin(), image.end());
}

std::string Note(const std::string& name, std::uint32_t type, const std::string& desc) {
    const auto padded = [](std::string s) { return s.append((4 - s.size() % 4) % 4, '\0'); };
    return BytesOf(static_cast<std::uint32_t>(name.size() + 1)) + BytesOf(static_cast<std::uint32_t>(desc.size())) +
           BytesOf(type) + padded(name + '\0') + padded(desc);
}

const std::string kBlock("ProductName=kdtrace\0FileVersion=4.0.1.5\0", 40);

TEST(VersionNoteTest, FindsOurNoteAmongOthers) {
    const auto block = FindVersionBlock(Elf64(Note("GNU", 3, std::string(20, 'x')) + Note("KDTRACE", 1, kBlock)));
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(*block, kBlock);
    // Same name, other type; other name, same type: not ours.
    EXPECT_FALSE(FindVersionBlock(Elf64(Note("KDTRACE", 2, kBlock) + Note("KDTRACX", 1, kBlock))).has_value());
}

TEST(VersionNoteTest, DamagedImagesGiveNothing) {
    const Image good = Elf64(Note("KDTRACE", 1, kBlock));  // found, as the test above shows
    // Every truncation of the image.
    for (std::size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(FindVersionBlock(std::span<const std::uint8_t>(good.data(), n)).has_value()) << n;
    // A content size running past the segment, a segment past the file end, not ELF, the other
    // byte order.
    const std::size_t notesAt = sizeof(Elf64_Ehdr) + sizeof(Elf64_Phdr) + sizeof(Elf64_Shdr);
    const auto found = [&](std::size_t at, const std::string& bytes) {
        Image bad = good;
        std::memcpy(bad.data() + at, bytes.data(), bytes.size());
        return FindVersionBlock(bad).has_value();
    };
    EXPECT_FALSE(found(notesAt + 4, "\xFF"));
    EXPECT_FALSE(found(sizeof(Elf64_Ehdr) + offsetof(Elf64_Phdr, p_offset), BytesOf(UINT64_MAX - 4)));
    EXPECT_FALSE(found(0, "X"));
    EXPECT_FALSE(found(EI_DATA, BytesOf(std::uint8_t{ELFDATA2MSB})));
}

TEST(VersionNoteTest, BlockValuesMatchWholeKeysAndTheBuiltLibrariesCarryTheirVersions) {
    EXPECT_EQ(VersionBlockValue(kBlock, "FileVersion"), "4.0.1.5");
    EXPECT_FALSE(VersionBlockValue(std::string("FileVersionX=1\0FileVersion\0", 27), "FileVersion").has_value());
    EXPECT_EQ(VersionBlockValue(std::string("FileVersion=4.1.0.0", 19), "FileVersion"), "4.1.0.0");

    // (The test libraries' versions, and a library without one, are read by PLVersionTest.)
    EXPECT_EQ(VersionBlockValue(ReadVersionBlock(KDTRACE_MODULE_PATH).value_or(""), "FileVersion"), "4.0.0.1");
    EXPECT_FALSE(ReadVersionBlock(KDTRACE_TEST_LIB_DIR "/no-such-library.so").has_value());
}

}  // namespace
