// Files: open, positioned reads, size, close and delete, with UTF-8 paths and 64-bit offsets.
//
// Every function returns 0 or the errno value of the failure; nothing throws. Only regular files
// open: a directory or a device given as a file fails with EISDIR or ENODEV, as the system
// expects of a file open, and a FIFO or a device is refused without waiting for its other end.
// Every descriptor is opened close-on-exec: a file the library opens is never inherited by a
// program the process starts (on Linux no descriptor can safely be left inheritable, as another
// thread may start a program at any moment).
#ifndef KD_PLATFORM_FILE_H
#define KD_PLATFORM_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace kd::platform {

// A UTF-16 path as the file system takes it (UTF-8; an unpaired surrogate becomes "?").
std::string NativePath(std::u16string_view path);

enum class FileDisposition { CreateNew, CreateAlways, OpenExisting, OpenAlways, TruncateExisting };

struct FileOpenOptions {
    bool read = true;
    bool write = false;
    FileDisposition disposition = FileDisposition::OpenExisting;
};

// Opens `path`; `*fd` is the descriptor, or -1 on failure.
int OpenFile(const std::string& path, const FileOpenOptions& options, int* fd) noexcept;
// Reads up to `count` bytes at `offset` (the descriptor's own offset is not moved), retrying short
// reads until `count` bytes or the end of the file; `*got` = bytes read.
int ReadFileAt(int fd, void* buffer, std::size_t count, int64_t offset, std::size_t* got) noexcept;
int GetFileSize(int fd, int64_t* size) noexcept;
int CloseFile(int fd) noexcept;
int DeleteFile(const std::string& path) noexcept;
// A C library FILE for `path` opened with an fopen mode ("r", "w", "a", each with "+" and "x",
// "b" and "t" accepted and ignored); `*file` is null on failure, EINVAL for a mode that is none.
int OpenStdFile(const std::string& path, const std::string& mode, FILE** file) noexcept;
int CloseStdFile(FILE* file) noexcept;

}  // namespace kd::platform

#endif  // KD_PLATFORM_FILE_H
