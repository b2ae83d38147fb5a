#include "platform/VersionNote.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace kd::platform {
namespace {

class SpanSource : public ByteSource {
public:
    explicit SpanSource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    std::uint64_t Size() const noexcept override { return m_bytes.size(); }
    bool Read(std::uint64_t offset, void* out, std::size_t size) const noexcept override {
        if (offset > m_bytes.size() || size > m_bytes.size() - offset) return false;
        if (size != 0) std::memcpy(out, m_bytes.data() + offset, size);
        return true;
    }

private:
    std::span<const std::uint8_t> m_bytes;
};

class FileSource : public ByteSource {
public:
    explicit FileSource(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    std::uint64_t Size() const noexcept override { return m_size; }
    bool Read(std::uint64_t offset, void* out, std::size_t size) const noexcept override {
        if (offset > m_size || size > m_size - offset) return false;
        auto* dest = static_cast<unsigned char*>(out);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pread(m_fd, dest + done, size - done, static_cast<off_t>(offset + done));
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int m_fd;
    std::uint64_t m_size;
};

// Looks through one area of notes for ours.
std::optional<std::string> ScanNotes(const ByteSource& image, std::uint64_t offset, std::uint64_t size,
                                     std::uint64_t align) {
    if (align != 8) align = 4;
    if (offset > image.Size()) return std::nullopt;
    if (size > 16 * kMaxVersionBlock) size = 16 * kMaxVersionBlock;
    const auto roundUp = [align](std::uint64_t n) { return (n + align - 1) & ~(align - 1); };
    std::uint64_t at = 0;
    while (at + 12 <= size) {
        std::uint32_t header[3];  // name size, content size, type
        if (!image.Read(offset + at, header, sizeof header)) return std::nullopt;
        const std::uint64_t nameSize = header[0];
        const std::uint64_t descSize = header[1];
        const std::uint64_t nameAt = at + 12;
        if (nameSize > size - nameAt) return std::nullopt;
        const std::uint64_t descAt = roundUp(nameAt + nameSize);
        if (descAt > size || descSize > size - descAt) return std::nullopt;
        if (header[2] == kVersionNoteType && nameSize == sizeof kVersionNoteName && descSize <= kMaxVersionBlock) {
            char name[sizeof kVersionNoteName];
            if (!image.Read(offset + nameAt, name, sizeof name)) return std::nullopt;
            if (std::memcmp(name, kVersionNoteName, sizeof name) == 0) {
                std::string block(static_cast<std::size_t>(descSize), '\0');
                if (!image.Read(offset + descAt, block.data(), block.size())) return std::nullopt;
                return block;
            }
        }
        const std::uint64_t next = roundUp(descAt + descSize);
        if (next <= at) return std::nullopt;
        at = next;
    }
    return std::nullopt;
}

template <class Ehdr, class Phdr, class Shdr>
std::optional<std::string> FindInElf(const ByteSource& image) {
    Ehdr header;
    if (!image.Read(0, &header, sizeof header)) return std::nullopt;
    if (header.e_phoff != 0 && header.e_phentsize == sizeof(Phdr) && header.e_phnum != PN_XNUM) {
        for (std::uint64_t i = 0; i < header.e_phnum; ++i) {
            Phdr ph;
            if (!image.Read(header.e_phoff + i * sizeof(Phdr), &ph, sizeof ph)) break;
            if (ph.p_type != PT_NOTE) continue;
            if (auto block = ScanNotes(image, ph.p_offset, ph.p_filesz, ph.p_align)) return block;
        }
    }
    if (header.e_shoff != 0 && header.e_shentsize == sizeof(Shdr)) {
        // A count of 0 with sections present means the count is in the first section header;
        // such files have far more sections than a library of ours: no need to follow it.
        for (std::uint64_t i = 0; i < header.e_shnum; ++i) {
            Shdr sh;
            if (!image.Read(header.e_shoff + i * sizeof(Shdr), &sh, sizeof sh)) break;
            if (sh.sh_type != SHT_NOTE) continue;
            if (auto block = ScanNotes(image, sh.sh_offset, sh.sh_size, sh.sh_addralign)) return block;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> FindVersionBlock(const ByteSource& image) {
    unsigned char ident[EI_NIDENT];
    if (!image.Read(0, ident, sizeof ident)) return std::nullopt;
    if (std::memcmp(ident, ELFMAG, SELFMAG) != 0) return std::nullopt;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr unsigned char kNativeData = ELFDATA2LSB;
#else
    constexpr unsigned char kNativeData = ELFDATA2MSB;
#endif
    if (ident[EI_DATA] != kNativeData) return std::nullopt;
    if (ident[EI_CLASS] == ELFCLASS64) return FindInElf<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr>(image);
    if (ident[EI_CLASS] == ELFCLASS32) return FindInElf<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(image);
    return std::nullopt;
}

std::optional<std::string> FindVersionBlock(std::span<const std::uint8_t> image) {
    return FindVersionBlock(SpanSource(image));
}

std::optional<std::string> ReadVersionBlock(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::string> block;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        block = FindVersionBlock(FileSource(fd, static_cast<std::uint64_t>(st.st_size)));
    ::close(fd);
    return block;
}

std::optional<std::string> VersionBlockValue(std::string_view block, std::string_view key) {
    while (!block.empty()) {
        const std::size_t end = block.find('\0');
        const std::string_view entry = block.substr(0, end);
        if (entry.size() > key.size() && entry.substr(0, key.size()) == key && entry[key.size()] == '=')
            return std::string(entry.substr(key.size() + 1));
        if (end == std::string_view::npos) break;
        block.remove_prefix(end + 1);
    }
    return std::nullopt;
}

}  // namespace kd::platform
