// The diagnostics channel: a local datagram socket that a diagnostics console binds and that
// writers send one record per datagram to.
//
// Where it is: $KDTRACE_DIAG_SOCKET if set, else $XDG_RUNTIME_DIR/kdtrace/diagInfo, else
// /tmp/kdtrace-<uid>/diagInfo. The environment is read on every use, so a process (or a test)
// can point itself at another console at any time.
//
// Writers never block: nothing bound means the record is dropped at once, a console whose
// queue is full means the record is dropped. A writer sends only to a socket that belongs to
// its own user, in a directory that belongs to its own user or to root.
//
// The console holds an exclusive lock on "<path>.lock" while it listens, so a second console on
// the same path is refused; it replaces a stale socket file left by a console that died, and
// accepts only datagrams sent by its own user.
#ifndef KD_PLATFORM_DIAG_CHANNEL_H
#define KD_PLATFORM_DIAG_CHANNEL_H

#include <signal.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kd::platform {

// The largest record a writer sends, in bytes. Larger records are cut to fit by the writer.
inline constexpr std::size_t kDiagMaxRecordBytes = 65536;
// Room for a socket path, terminator included (the size of sockaddr_un's sun_path).
inline constexpr std::size_t kDiagMaxPathBytes = 108;

// The channel's path. The buffer form writes a zero-terminated path and returns its length, or 0
// when it does not fit into `size` bytes; it allocates nothing and may be called from a signal
// handler.
std::size_t DiagChannelPath(char* buffer, std::size_t size) noexcept;
std::string DiagChannelPath();

// The calling thread's kernel identifier, read with a system call (safe in a signal handler,
// where thread-local storage of a loaded module is not).
uint32_t SignalSafeThreadId() noexcept;

// How long a writer trusts that the channel is absent (see OpenUnlessRecentlyAbsent).
inline constexpr int64_t kDiagAbsentRecheckMs = 100;

// A writer's handle on the channel. Opening checks that a console's socket is there (the path
// fits, names a socket of this user, in a directory of this user or root); every step is
// async-signal-safe and allocates nothing.
class DiagChannelTarget {
public:
    enum class SendResult { Sent, NoListener, Dropped };

    // Opens the channel at DiagChannelPath().
    bool Open() noexcept;
    // Opens the channel at DiagChannelPath() as Open() does, except that a channel this thread
    // found absent less than kDiagAbsentRecheckMs ago, at the same path, is taken to be still
    // absent without asking the file system. A console started meanwhile receives the records
    // written once that time has passed; a changed path is looked at at once. Not for signal
    // handlers (it keeps thread-local state).
    bool OpenUnlessRecentlyAbsent() noexcept;
    // Opens the channel at `path`.
    bool Open(const char* path) noexcept;
    bool IsOpen() const noexcept { return m_length != 0; }
    void Close() noexcept { m_length = 0; }

    // Sends one datagram without waiting. NoListener when nothing is bound at the path (a stale
    // socket file, or the console just went away); Dropped when the console's queue is full or
    // the datagram cannot be sent.
    SendResult Send(const void* data, std::size_t bytes) const noexcept;

private:
    bool OpenChecked(const char* path, std::size_t length, uint32_t uid) noexcept;

    char m_path[kDiagMaxPathBytes] = {};
    std::size_t m_length = 0;
};

// Who sent a datagram, from the kernel's credentials.
struct DiagSender {
    int32_t pid = 0;
    uint32_t uid = 0;
};

// The console's end of the channel.
class DiagChannelListener {
public:
    enum class ReceiveStatus { Record, Timeout, Interrupted, Failed };

    DiagChannelListener() = default;
    ~DiagChannelListener() { Close(); }
    DiagChannelListener(const DiagChannelListener&) = delete;
    DiagChannelListener& operator=(const DiagChannelListener&) = delete;

    // Creates the directory (mode 0700) when it is missing, takes the console lock, replaces a
    // stale socket and binds. On failure returns false with a readable reason in `error`.
    bool Open(const std::string& path, std::string* error);
    // Unbinds: removes the socket file (if it is still this console's) and releases the lock.
    void Close() noexcept;
    bool IsOpen() const noexcept { return m_fd >= 0; }
    const std::string& Path() const noexcept { return m_path; }

    // Waits up to `timeoutMs` milliseconds (negative: no limit) for a datagram from this user and
    // stores it in `datagram` (datagrams of other users are dropped and counted). While waiting
    // the signal mask is `waitMask` when given, so that a caller that blocks its stop signals
    // elsewhere gets Interrupted without a race. `truncated` tells that the datagram was longer
    // than the receive buffer.
    ReceiveStatus Receive(std::vector<char>& datagram, DiagSender* sender, bool* truncated, int timeoutMs,
                          const sigset_t* waitMask = nullptr);
    uint64_t ForeignDatagramsDropped() const noexcept { return m_foreign; }

private:
    int m_fd = -1;
    int m_lockFd = -1;
    std::string m_path;
    uint64_t m_device = 0;
    uint64_t m_inode = 0;
    uint64_t m_foreign = 0;
    std::vector<char> m_buffer;
};

}  // namespace kd::platform

#endif  // KD_PLATFORM_DIAG_CHANNEL_H
