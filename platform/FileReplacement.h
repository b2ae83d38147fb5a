// Writing a file whole or not at all: the bytes go to a new file beside the target, which
// replaces the target only when everything was written. A failed or abandoned write leaves the
// target as it was.
#ifndef KD_PLATFORM_FILEREPLACEMENT_H
#define KD_PLATFORM_FILEREPLACEMENT_H

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
    // A target that exists and is not a regular file is refused (EISDIR for a directory).
    int Open(const std::string& target) noexcept;
    // The file being written; null before Open.
    FILE* File() const noexcept { return m_file; }
    // Flushes and closes the file, then puts it in the target's place: 0 or an errno value
    // (the target unchanged).
    int Commit() noexcept;
    // Closes and removes the unfinished file.
    void Abandon() noexcept;

private:
    std::string m_target;
    std::string m_temporary;
    FILE* m_file = nullptr;
};

}  // namespace kd::platform

#endif  // KD_PLATFORM_FILEREPLACEMENT_H
