#include "platform/ProtectedFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kd::platform {

ProtectedFileStatus ReadProtectedFile(const std::string& path, std::size_t maxSize, std::string& contents, int* error,
                                      uint32_t* owner, uint32_t* mode) {
    contents.clear();
    *error = 0;
    *owner = *mode = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = errno;
        return ProtectedFileStatus::Unreadable;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        *error = errno;
        return ProtectedFileStatus::Unreadable;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = EINVAL;
        return ProtectedFileStatus::Unreadable;
    }
    *owner = info.st_uid;
    *mode = info.st_mode & 07777;
    if (info.st_uid != ::geteuid() && info.st_uid != 0) return ProtectedFileStatus::WrongOwner;
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) return ProtectedFileStatus::OpenToOthers;
    if (static_cast<std::size_t>(info.st_size) > maxSize) {
        *error = EFBIG;
        return ProtectedFileStatus::Unreadable;
    }

    contents.resize(maxSize + 1);
    std::size_t got = 0;
    while (got < contents.size()) {
        const ssize_t n = ::read(fd, contents.data() + got, contents.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = errno;
            contents.clear();
            return ProtectedFileStatus::Unreadable;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got > maxSize) {  // grew since fstat
        *error = EFBIG;
        contents.clear();
        return ProtectedFileStatus::Unreadable;
    }
    contents.resize(got);
    return ProtectedFileStatus::Read;
}

}  // namespace kd::platform
