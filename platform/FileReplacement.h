// Writing a file whole or not at all: the bytes go to a new file beside the target, which
// replaces the target only when everything was written. A failed or abandoned write leaves the
// target as it was.
//
// The target keeps what it was apart from its content: a symbolic link is followed to the file
// it names (the link stays a link), and the new file takes the target's mode and owner before it
// replaces it. Where no such file can be made (a directory the caller may not write, a name that
// leaves no room for the new file's, an owner the caller may not give), the target is no
// regular file (a device, a FIFO somebody reads) or it has other names (hard links, which a new
// file would leave with the old content), the target itself is written instead: it then
// changes as the writing goes, and a failed write leaves it cut short.
#ifndef KD_PLATFORM_FILEREPLACEMENT_H
#define KD_PLATFORM_FILEREPLACEMENT_H

#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace kd::platform {

class FileReplacement {
public:
    FileReplacement() = default;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    // Abandons the write unless it was committed.
    ~FileReplacement();

    // Starts writing a replacement of `target` (opened for binary writing): 0 or an errno value.
    // A directory is refused (EISDIR), and so is a FIFO nobody reads (ENXIO), without waiting.
    int Open(const std::string& target) noexcept;
    // The file being written; null before Open.
    FILE* File() const noexcept { return m_file; }
    // Flushes and closes the file, then puts it in the target's place: 0 or an errno value
    // (the target unchanged, unless it is written in place).
    int Commit() noexcept;
    // Closes and removes the unfinished file.
    void Abandon() noexcept;

private:
    // Creates the new file beside the target, with the mode and owner of `existing` (null for a
    // target that does not exist yet).
    int OpenTemporary(const struct stat* existing) noexcept;
    int OpenInPlace() noexcept;

    std::string m_target;     // the file written, links followed
    std::string m_temporary;  // empty when the target is written in place
    FILE* m_file = nullptr;
};

}  // namespace kd::platform

#endif  // KD_PLATFORM_FILEREPLACEMENT_H
