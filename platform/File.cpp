#include "platform/File.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Text.h"

namespace kd::platform {

std::string NativePath(std::u16string_view path) {
    return Utf16ToUtf8(path);
}

namespace {

// 0 for a regular file, else the errno a file open of it reports.
int CheckRegular(int fd) noexcept {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errno;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    if (!S_ISREG(info.st_mode)) return ENODEV;
    return 0;
}

// Opens `path` with `flags` when it is a regular file. The open itself never waits: a FIFO with
// nobody at its other end, or a device, would hold a blocking open() for good. Blocking mode is
// restored once the file is known to be regular (where it changes nothing).
int OpenRegular(const std::string& path, int flags, int* fd) noexcept {
    *fd = -1;
    int opened = -1;
    do {
        opened = ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) return errno;
    int error = CheckRegular(opened);
    if (error == 0) {
        const int status = ::fcntl(opened, F_GETFL);
        if (status < 0 || ::fcntl(opened, F_SETFL, status & ~O_NONBLOCK) != 0) error = errno;
    }
    if (error != 0) {
        ::close(opened);
        return error;
    }
    *fd = opened;
    return 0;
}

}  // namespace

int OpenFile(const std::string& path, const FileOpenOptions& options, int* fd) noexcept {
    int flags = options.write ? (options.read ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (options.disposition) {
        case FileDisposition::CreateNew:
            flags |= O_CREAT | O_EXCL;
            break;
        case FileDisposition::CreateAlways:
            flags |= O_CREAT | O_TRUNC;
            break;
        case FileDisposition::OpenExisting:
            break;
        case FileDisposition::OpenAlways:
            flags |= O_CREAT;
            break;
        case FileDisposition::TruncateExisting:
            flags |= O_TRUNC;
            break;
    }
    // A directory opens read-only on Linux; O_TRUNC on one fails with EISDIR anyway.
    return OpenRegular(path, flags, fd);
}

int ReadFileAt(int fd, void* buffer, std::size_t count, int64_t offset, std::size_t* got) noexcept {
    *got = 0;
    if (offset < 0) return EINVAL;
    auto* out = static_cast<char*>(buffer);
    while (*got < count) {
        const ssize_t n = ::pread(fd, out + *got, count - *got, static_cast<off_t>(offset + *got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) break;
        *got += static_cast<std::size_t>(n);
    }
    return 0;
}

int GetFileSize(int fd, int64_t* size) noexcept {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errno;
    *size = static_cast<int64_t>(info.st_size);
    return 0;
}

int CloseFile(int fd) noexcept {
    // The descriptor is gone whatever close reports (EINTR included): never retry.
    return ::close(fd) == 0 ? 0 : errno;
}

int DeleteFile(const std::string& path) noexcept {
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

int OpenStdFile(const std::string& path, const std::string& mode, FILE** file) noexcept {
    *file = nullptr;
    int flags = 0;
    switch (mode.empty() ? '\0' : mode[0]) {
        case 'r':
            flags = O_RDONLY;
            break;
        case 'w':
            flags = O_WRONLY | O_CREAT | O_TRUNC;
            break;
        case 'a':
            flags = O_WRONLY | O_CREAT | O_APPEND;
            break;
        default:
            return EINVAL;
    }
    // As fopen reads a mode: the modifiers follow the first letter, up to a ",ccs=" suffix.
    bool update = false;
    for (std::size_t i = 1; i < mode.size() && mode[i] != ','; ++i) {
        if (mode[i] == '+') update = true;
        if (mode[i] == 'x') flags |= O_EXCL;
    }
    if (update) flags = (flags & ~O_ACCMODE) | O_RDWR;
    int fd = -1;
    if (const int error = OpenRegular(path, flags, &fd); error != 0) return error;
    const char plain[3] = {mode[0], update ? '+' : '\0', '\0'};
    *file = ::fdopen(fd, plain);
    if (*file == nullptr) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    return 0;
}

int CloseStdFile(FILE* file) noexcept {
    return ::fclose(file) == 0 ? 0 : errno;
}

}  // namespace kd::platform
