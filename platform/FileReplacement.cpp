#include "platform/FileReplacement.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace kd::platform {

FileReplacement::~FileReplacement() {
    Abandon();
}

int FileReplacement::Open(const std::string& target) noexcept {
    Abandon();
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return EISDIR;
        if (!S_ISREG(info.st_mode)) return ENODEV;
    } else if (errno != ENOENT) {
        return errno;
    }
    // A new name beside the target, created exclusively with the permissions an ordinary
    // create gets (the umask applies).
    static std::atomic<uint32_t> counter{0};
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".%d.%u.tmp", static_cast<int>(::getpid()),
                      counter.fetch_add(1, std::memory_order_relaxed));
        try {
            m_target = target;
            m_temporary = target + suffix;
        } catch (...) {
            return ENOMEM;
        }
        fd = ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            const int error = errno;
            m_temporary.clear();
            return error;
        }
    }
    if (fd < 0) {
        m_temporary.clear();
        return EEXIST;
    }
    m_file = ::fdopen(fd, "wb");
    if (m_file == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
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
    if (error == 0 && ::rename(m_temporary.c_str(), m_target.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(m_temporary.c_str());
    m_temporary.clear();
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
