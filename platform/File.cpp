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

}  // namespace

int OpenFile(const std::string& path, const FileOpenOptions& options, int* fd) noexcept {
    *fd = -1;
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
    if (!options.inheritable) flags |= O_CLOEXEC;
    // A directory opens read-only on Linux; O_TRUNC on one fails with EISDIR anyway.
    int opened = -1;
    do {
        opened = ::open(path.c_str(), flags, 0666);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0) return errno;
    if (const int error = CheckRegular(opened); error != 0) {
        ::close(opened);
        return error;
    }
    *fd = opened;
    return 0;
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
    *file = ::fopen(path.c_str(), mode.c_str());
    if (*file == nullptr) return errno;
    if (const int error = CheckRegular(::fileno(*file)); error != 0) {
        ::fclose(*file);
        *file = nullptr;
        return error;
    }
    return 0;
}

int CloseStdFile(FILE* file) noexcept {
    return ::fclose(file) == 0 ? 0 : errno;
}

}  // namespace kd::platform
