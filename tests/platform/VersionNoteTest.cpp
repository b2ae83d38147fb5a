#include "platform/VersionNote.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using kd::platform::FindVersionBlock;
using Image = std::vector<std::uint8_t>;

const auto BytesOf = [](const auto& value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); };

// A minimal 64-bit ELF image: the header, a program header describing the notes and an empty
// section header, then the notes.
Image Elf64(const std::string& notes) {
    Elf64_Ehdr header{};
    const unsigned char ident[] = {ELFMAG0, ELFMAG1, ELFMAG2, ELFMAG3, ELFCLASS64, ELFDATA2LSB, EV_CURRENT};
    std::memcpy(header.e_ident, ident, sizeof ident);
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

TEST(VersionNoteTest, FindsOurNoteAmongOthersAndNothingPastTheAddressSpace) {
    EXPECT_EQ(FindVersionBlock(Elf64(Note("GNU", 3, std::string(20, 'x')) + Note("KDTRACE", 1, kBlock))), kBlock);
    // Same name, other type; other name, same type: not ours.
    EXPECT_FALSE(FindVersionBlock(Elf64(Note("KDTRACE", 2, kBlock) + Note("KDTRACX", 1, kBlock))).has_value());
    // A segment past the end of the address space gives nothing. (Damaged images of every kind are
    // the fuzz target's; here the one whose offsets overflow.)
    Image bad = Elf64(Note("KDTRACE", 1, kBlock));
    const std::string offset = BytesOf(UINT64_MAX - 4);
    std::memcpy(bad.data() + sizeof(Elf64_Ehdr) + offsetof(Elf64_Phdr, p_offset), offset.data(), offset.size());
    EXPECT_FALSE(FindVersionBlock(bad).has_value());
}

}  // namespace
