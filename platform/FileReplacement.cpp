#include "platform/FileReplacement.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace kd::platform {
namespace {

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

// `target` with symbolic links in its last component followed, link after link, to the name
// they end at (which need not exist). A loop, or a link changed while it is read, is left for
// the open to report; so is a link whose text names something else than the kernel finds
// through it (/proc/self/fd/1 to a pipe): such a target is written through the link.
std::string FollowLinks(const std::string& target) {
    std::string path = target;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) break;
        link.resize(static_cast<std::size_t>(n));
        const std::size_t slash = path.rfind('/');
        path = link[0] == '/' || slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
    }
    struct stat found {};
    struct stat named {};
    if (::stat(target.c_str(), &found) != 0) return path;  // nothing there yet: made where the links end
    const bool same = ::stat(path.c_str(), &named) == 0 && found.st_dev == named.st_dev && found.st_ino == named.st_ino;
    return same ? path : target;
}

}  // namespace

FileReplacement::~FileReplacement() {
    Abandon();
}

int FileReplacement::Open(const std::string& target) noexcept {
    Abandon();
    try {
        m_target = FollowLinks(target);
    } catch (...) {
        return ENOMEM;
    }
    struct stat info {};
    const bool exists = ::stat(m_target.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) return errno;
    if (exists && S_ISDIR(info.st_mode)) return EISDIR;
    // A file with other names is written in place: a new file would leave them with the old
    // content.
    if (!exists || (S_ISREG(info.st_mode) && info.st_nlink <= 1)) {
        const int error = OpenTemporary(exists ? &info : nullptr);
        // Where the new file cannot be had as the target needs it, the target is written itself.
        if (error != EACCES && error != EPERM && error != ENAMETOOLONG) return error;
    }
    return OpenInPlace();
}

int FileReplacement::OpenTemporary(const struct stat* existing) noexcept {
    static std::atomic<uint32_t> counter{0};
    const std::size_t slash = m_target.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".%d.%u.tmp", static_cast<int>(::getpid()),
                      counter.fetch_add(1, std::memory_order_relaxed));
        // A hidden name beside the target, cut so that it fits a directory entry however long
        // the target's name is.
        const std::size_t room = NAME_MAX - 1 - std::strlen(suffix);
        try {
            m_temporary.assign(m_target, 0, nameStart);
            m_temporary.append(".").append(m_target, nameStart, room).append(suffix);
        } catch (...) {
            m_temporary.clear();
            return ENOMEM;
        }
        // A replacement is readable by nobody else until it has the target's mode; a new file
        // gets the permissions an ordinary create gets (the umask applies).
        fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    existing != nullptr ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    int error = fd < 0 ? errno : 0;
    if (fd >= 0 && existing != nullptr) {
        // The owner first: changing it may clear the set-user and set-group bits of the mode.
        struct stat made {};
        if (::fstat(fd, &made) != 0) {
            error = errno;
        } else if ((made.st_uid != existing->st_uid || made.st_gid != existing->st_gid) &&
                   ::fchown(fd, existing->st_uid, existing->st_gid) != 0) {
            error = EPERM;  // another owner would see the content: the target is written instead
        } else if (::fchmod(fd, existing->st_mode & 07777) != 0) {
            error = errno;
        }
    }
    if (error == 0) {
        m_file = ::fdopen(fd, "wb");
        if (m_file != nullptr) return 0;
        error = errno;
    }
    if (fd >= 0) {
        ::close(fd);
        ::unlink(m_temporary.c_str());
    }
    m_temporary.clear();
    return error;
}

int FileReplacement::OpenInPlace() noexcept {
    // Without waiting: a FIFO nobody reads fails at once (ENXIO).
    int fd = -1;
    do {
        fd = ::open(m_target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    const int status = ::fcntl(fd, F_GETFL);
    if (status >= 0 && ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == 0) m_file = ::fdopen(fd, "wb");
    if (m_file == nullptr) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    return 0;
}

int FileReplacement::Commit() noexcept {
    if (m_file == nullptr) return EBADF;
    int error = 0;
    if (::fflush(m_file) != 0) error = errno;
    if (::fclose(m_file) != 0 && error == 0) error = errno;
    m_file = nullptr;
    if (!m_temporary.empty()) {
        if (error == 0 && ::rename(m_temporary.c_str(), m_target.c_str()) != 0) error = errno;
        if (error != 0) ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
    return error;
}

void FileReplacement::Abandon() noexcept {
    if (m_file != nullptr) {
        ::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}

}  // namespace kd::platform
