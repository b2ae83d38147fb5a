// The file version our shared libraries carry, read from the file without loading it.
//
// Each library has an ELF note (name "KDTRACE", type 1, in a section ".note.kdtrace.version")
// whose content, the version block, is a sequence of zero-terminated "key=value" entries, e.g.
// "FileVersion=4.0.0.1". The build adds it (cmake/KdFileVersion.cmake).
#ifndef KD_PLATFORM_VERSION_NOTE_H
#define KD_PLATFORM_VERSION_NOTE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kd::platform {

inline constexpr char kVersionNoteName[] = "KDTRACE";
inline constexpr std::uint32_t kVersionNoteType = 1;
// The largest version block read; a larger note is not ours.
inline constexpr std::size_t kMaxVersionBlock = 64 * 1024;

// Random access to the bytes of a file image.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Size() const noexcept = 0;
    // False when the range is not wholly inside the image or cannot be read.
    virtual bool Read(std::uint64_t offset, void* out, std::size_t size) const noexcept = 0;
};

// The version block of an ELF image of this machine's byte order (32- or 64-bit), looked for in
// the note segments and then in the note sections. Nothing when the image is not such an ELF
// file or carries no version note.
std::optional<std::string> FindVersionBlock(const ByteSource& image);
std::optional<std::string> FindVersionBlock(std::span<const std::uint8_t> image);
// The same for a file on disk; nothing also when the file cannot be opened.
std::optional<std::string> ReadVersionBlock(const std::string& path);

// The value of the first entry `key=...` of a version block.
std::optional<std::string> VersionBlockValue(std::string_view block, std::string_view key);

}  // namespace kd::platform

#endif  // KD_PLATFORM_VERSION_NOTE_H
