#include "platform/DiagChannel.h"

#include "platform/NumberText.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kd::platform {

static_assert(sizeof(sockaddr_un::sun_path) == kDiagMaxPathBytes, "socket path size");

namespace {

// Appends `text` to the buffer at `*pos`; false when it does not fit with a terminator.
bool Append(char* buffer, std::size_t size, std::size_t* pos, const char* text) noexcept {
    const std::size_t n = std::strlen(text);
    if (*pos + n + 1 > size) return false;
    std::memcpy(buffer + *pos, text, n);
    *pos += n;
    buffer[*pos] = 0;
    return true;
}

// Decimal text of `value` into `out` (at least 11 bytes).
void UnsignedText(uint32_t value, char* out) noexcept {
    out[DecimalDigits(value, out)] = 0;
}

// The environment variables that place the channel, read once per use.
struct ChannelEnvironment {
    const char* explicitPath = nullptr;  // $KDTRACE_DIAG_SOCKET, when set and not empty
    const char* runtimeDir = nullptr;    // $XDG_RUNTIME_DIR, when absolute (and no explicit path)

    static ChannelEnvironment Read() noexcept {
        ChannelEnvironment env;
        const char* explicitPath = std::getenv("KDTRACE_DIAG_SOCKET");
        if (explicitPath != nullptr && *explicitPath != 0) {
            env.explicitPath = explicitPath;
            return env;
        }
        // A relative runtime directory is ignored, as the base-directory rules say.
        const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
        if (runtimeDir != nullptr && runtimeDir[0] == '/') env.runtimeDir = runtimeDir;
        return env;
    }
    // Whether the path names the user.
    bool UsesUid() const noexcept { return explicitPath == nullptr && runtimeDir == nullptr; }
};

// The path for a given effective uid, into the buffer; 0 when it does not fit.
std::size_t PathFor(const ChannelEnvironment& env, uint32_t uid, char* buffer, std::size_t size) noexcept {
    if (size == 0) return 0;
    buffer[0] = 0;
    std::size_t pos = 0;
    if (env.explicitPath != nullptr) return Append(buffer, size, &pos, env.explicitPath) ? pos : 0;
    if (env.runtimeDir != nullptr) {
        if (Append(buffer, size, &pos, env.runtimeDir) && Append(buffer, size, &pos, "/kdtrace/diagInfo")) return pos;
        return 0;
    }
    char uidText[11];
    UnsignedText(uid, uidText);
    if (Append(buffer, size, &pos, "/tmp/kdtrace-") && Append(buffer, size, &pos, uidText) &&
        Append(buffer, size, &pos, "/diagInfo"))
        return pos;
    return 0;
}

constexpr uint32_t kUnknownUid = 0xFFFFFFFFu;  // (uid_t)-1 is never a user

// The directory part of a path: "." for a bare name, "/" for a file in the root.
std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// Creates each missing directory of `dir` with mode 0700.
bool MakeDirectories(const std::string& dir, std::string* error) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        *error = dir + " exists and is not a directory";
        return false;
    }
    if (errno != ENOENT) {
        *error = "cannot reach " + dir + ": " + ErrnoText(errno);
        return false;
    }
    const std::string parent = DirectoryOf(dir);
    if (parent != dir && parent != "." && !MakeDirectories(parent, error)) return false;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot create " + dir + ": " + ErrnoText(errno);
        return false;
    }
    return true;
}

}  // namespace

std::size_t DiagChannelPath(char* buffer, std::size_t size) noexcept {
    const ChannelEnvironment env = ChannelEnvironment::Read();
    return PathFor(env, env.UsesUid() ? static_cast<uint32_t>(::geteuid()) : 0, buffer, size);
}

std::string DiagChannelPath() {
    // Long enough for any path the system accepts.
    std::string path(4096, '\0');
    const std::size_t n = DiagChannelPath(path.data(), path.size());
    path.resize(n);
    return path;
}

uint32_t SignalSafeThreadId() noexcept {
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}

// ---- writer ----

bool DiagChannelTarget::Open() noexcept {
    m_length = 0;
    // A path longer than a socket address can hold is never usable: the buffer is sized so.
    char path[kDiagMaxPathBytes];
    // The user is asked only when the path needs it, or once a socket is found.
    const ChannelEnvironment env = ChannelEnvironment::Read();
    const uint32_t uid = env.UsesUid() ? static_cast<uint32_t>(::geteuid()) : kUnknownUid;
    const std::size_t length = PathFor(env, uid, path, sizeof path);
    if (length == 0) return false;
    return OpenChecked(path, length, uid);
}

namespace {

// The channel this thread last found absent: its path, the user the path was built for, and
// when (monotonic, coarse: read without a system call).
struct AbsentChannel {
    char path[kDiagMaxPathBytes];
    std::size_t length = 0;
    uint32_t uid = kUnknownUid;
    int64_t sinceNs = 0;
};
thread_local AbsentChannel t_absent;

int64_t CoarseNowNs() noexcept {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

}  // namespace

bool DiagChannelTarget::OpenUnlessRecentlyAbsent() noexcept {
    m_length = 0;
    AbsentChannel& absent = t_absent;
    const int64_t now = CoarseNowNs();
    const bool recent = absent.length != 0 && now - absent.sinceNs < kDiagAbsentRecheckMs * 1000000;
    const ChannelEnvironment env = ChannelEnvironment::Read();
    const bool usesUid = env.UsesUid();
    // Within the interval the user the path was built for is taken again (asking is a system
    // call); a path built for another user cannot match the one remembered.
    const uint32_t uid =
        usesUid ? (recent && absent.uid != kUnknownUid ? absent.uid : static_cast<uint32_t>(::geteuid())) : kUnknownUid;
    char path[kDiagMaxPathBytes];
    const std::size_t length = PathFor(env, uid, path, sizeof path);
    if (length == 0) return false;
    if (recent && length == absent.length && std::memcmp(path, absent.path, length) == 0) return false;
    if (OpenChecked(path, length, uid)) {
        absent.length = 0;
        return true;
    }
    std::memcpy(absent.path, path, length);
    absent.length = length;
    absent.uid = uid;
    absent.sinceNs = now;
    return false;
}

bool DiagChannelTarget::Open(const char* path) noexcept {
    m_length = 0;
    if (path == nullptr) return false;
    const std::size_t length = ::strnlen(path, kDiagMaxPathBytes);
    if (length == 0 || length >= kDiagMaxPathBytes) return false;
    return OpenChecked(path, length, kUnknownUid);
}

bool DiagChannelTarget::OpenChecked(const char* path, std::size_t length, uint32_t uid) noexcept {
    // The socket first: when no console listens it is usually absent, and one failed stat is
    // the whole cost of a record.
    struct stat st {};
    if (::stat(path, &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
    if (uid == kUnknownUid) uid = static_cast<uint32_t>(::geteuid());
    if (st.st_uid != uid) return false;

    // A directory that another user owns could have its socket replaced by that user.
    char dir[kDiagMaxPathBytes];
    std::size_t slash = length;
    while (slash > 0 && path[slash - 1] != '/') --slash;
    if (slash == 0) {
        dir[0] = '.';
        dir[1] = 0;
    } else if (slash == 1) {
        dir[0] = '/';
        dir[1] = 0;
    } else {
        std::memcpy(dir, path, slash - 1);
        dir[slash - 1] = 0;
    }
    if (::stat(dir, &st) != 0 || !S_ISDIR(st.st_mode) || (st.st_uid != uid && st.st_uid != 0)) return false;

    std::memcpy(m_path, path, length);
    m_path[length] = 0;
    m_length = length;
    return true;
}

DiagChannelTarget::SendResult DiagChannelTarget::Send(const void* data, std::size_t bytes) const noexcept {
    if (m_length == 0) return SendResult::NoListener;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return SendResult::Dropped;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, m_path, m_length + 1);
    const socklen_t addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + m_length + 1);
    ssize_t sent;
    do {
        sent = ::sendto(fd, data, bytes, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                        addressLength);
    } while (sent < 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (sent >= 0 && static_cast<std::size_t>(sent) == bytes) return SendResult::Sent;
    if (sent < 0 && (error == ENOENT || error == ECONNREFUSED || error == ENOTSOCK)) return SendResult::NoListener;
    return SendResult::Dropped;
}

// ---- console ----

bool DiagChannelListener::Open(const std::string& path, std::string* error) {
    std::string ignored;
    if (error == nullptr) error = &ignored;
    Close();
    if (path.empty()) {
        *error = "the channel path is empty";
        return false;
    }
    if (path.size() >= kDiagMaxPathBytes) {
        *error = "the channel path " + path + " is longer than a socket path may be (" +
                 std::to_string(kDiagMaxPathBytes - 1) + " bytes)";
        return false;
    }
    const std::string dir = DirectoryOf(path);
    if (!MakeDirectories(dir, error)) return false;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
        *error = "cannot reach " + dir + ": " + ErrnoText(errno);
        return false;
    }
    const uid_t uid = ::geteuid();
    if (st.st_uid != uid && st.st_uid != 0) {
        *error = "the directory " + dir + " belongs to another user";
        return false;
    }

    // One console per path.
    const std::string lockPath = path + ".lock";
    const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0) {
        *error = "cannot open the lock file " + lockPath + ": " + ErrnoText(errno);
        return false;
    }
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(lockFd);
        *error = e == EWOULDBLOCK ? "another console is already listening on " + path
                                  : "cannot lock " + lockPath + ": " + ErrnoText(e);
        return false;
    }

    // Holding the lock, any socket file there is a stale one.
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            ::close(lockFd);
            *error = path + " exists and is not a socket";
            return false;
        }
        ::unlink(path.c_str());
    }

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        const int e = errno;
        ::close(lockFd);
        *error = "cannot create a socket: " + ErrnoText(e);
        return false;
    }
    // Credentials must be on before the first datagram can arrive.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    const int receiveBuffer = 4 * 1024 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address),
               static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1)) != 0) {
        const int e = errno;
        ::close(fd);
        ::close(lockFd);
        *error = "cannot bind " + path + ": " + ErrnoText(e);
        return false;
    }
    ::chmod(path.c_str(), 0600);
    if (::stat(path.c_str(), &st) == 0) {
        m_device = static_cast<uint64_t>(st.st_dev);
        m_inode = static_cast<uint64_t>(st.st_ino);
    }
    m_fd = fd;
    m_lockFd = lockFd;
    m_path = path;
    m_foreign = 0;
    return true;
}

void DiagChannelListener::Close() noexcept {
    if (m_fd >= 0) {
        // Remove the socket file only while it is still the one this console bound.
        struct stat st {};
        if (::lstat(m_path.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == m_device &&
            static_cast<uint64_t>(st.st_ino) == m_inode)
            ::unlink(m_path.c_str());
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_lockFd >= 0) {
        // The lock file stays: removing it would let two consoles lock two different files.
        ::close(m_lockFd);
        m_lockFd = -1;
    }
}

DiagChannelListener::ReceiveStatus DiagChannelListener::Receive(std::vector<char>& datagram, DiagSender* sender,
                                                                bool* truncated, int timeoutMs,
                                                                const sigset_t* waitMask) {
    if (m_fd < 0) return ReceiveStatus::Failed;
    // Room for the largest datagram the kernel accepts by default (about 208 KB); allocated once.
    if (m_buffer.empty()) m_buffer.resize(256 * 1024);
    struct timespec deadline {};
    if (timeoutMs >= 0) {
        ::clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += timeoutMs / 1000;
        deadline.tv_nsec += static_cast<int64_t>(timeoutMs % 1000) * 1000000;
        if (deadline.tv_nsec >= 1000000000) {
            deadline.tv_nsec -= 1000000000;
            ++deadline.tv_sec;
        }
    }
    for (;;) {
        struct timespec wait {};
        struct timespec* waitPointer = nullptr;
        if (timeoutMs >= 0) {
            struct timespec now {};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            int64_t ns =
                (static_cast<int64_t>(deadline.tv_sec) - now.tv_sec) * 1000000000 + (deadline.tv_nsec - now.tv_nsec);
            if (ns < 0) ns = 0;
            wait.tv_sec = static_cast<time_t>(ns / 1000000000);
            wait.tv_nsec = static_cast<decltype(wait.tv_nsec)>(ns % 1000000000);
            waitPointer = &wait;
        }
        pollfd pfd{m_fd, POLLIN, 0};
        const int ready = ::ppoll(&pfd, 1, waitPointer, waitMask);
        if (ready < 0) {
            if (errno == EINTR) return ReceiveStatus::Interrupted;
            return ReceiveStatus::Failed;
        }
        if (ready == 0) return ReceiveStatus::Timeout;

        iovec io{m_buffer.data(), m_buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(m_fd, &message, MSG_DONTWAIT | MSG_TRUNC | MSG_CMSG_CLOEXEC);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return ReceiveStatus::Failed;
        }
        const ucred* credentials = nullptr;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c))
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
                c->cmsg_len >= CMSG_LEN(sizeof(ucred)))
                credentials = reinterpret_cast<const ucred*>(CMSG_DATA(c));
        if (credentials == nullptr || credentials->uid != ::geteuid()) {
            ++m_foreign;
            continue;
        }
        const bool cut = static_cast<std::size_t>(n) > m_buffer.size() || (message.msg_flags & MSG_TRUNC) != 0;
        const std::size_t kept = cut ? m_buffer.size() : static_cast<std::size_t>(n);
        datagram.assign(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(kept));
        if (truncated != nullptr) *truncated = cut;
        if (sender != nullptr) {
            sender->pid = credentials->pid;
            sender->uid = credentials->uid;
        }
        return ReceiveStatus::Record;
    }
}

}  // namespace kd::platform
