#include "platform/CrashReport.h"

#include "platform/NumberText.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/SafeMemory.h"

namespace kd::platform {
namespace {

char g_directory[1024] = "/tmp";
std::atomic<unsigned> g_sequence{0};
constexpr int kStackWords = 64;

#if defined(__x86_64__)
constexpr const char* kRegisterNames[23] = {"r8",  "r9",  "r10",    "r11", "r12",    "r13",     "r14", "r15",
                                            "rdi", "rsi", "rbp",    "rbx", "rdx",    "rax",     "rcx", "rsp",
                                            "rip", "efl", "csgsfs", "err", "trapno", "oldmask", "cr2"};
#else
constexpr const char* kRegisterNames[23] = {"x0",  "x1",  "x2",  "x3",  "x4",  "x5",  "x6",  "x7",
                                            "x8",  "x9",  "x10", "x11", "x12", "x13", "x14", "x15",
                                            "x16", "x17", "x18", "x19", "x20", "x21", "x22"};
#endif

const char* SignalName(int signal) noexcept {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        case SIGABRT:
            return "SIGABRT";
        case SIGTRAP:
            return "SIGTRAP";
        default:
            return "signal";
    }
}

// Buffered output to a file descriptor with nothing but write().
class Writer {
public:
    explicit Writer(int fd) noexcept : m_fd(fd) {}
    ~Writer() { Flush(); }
    bool ok() const noexcept { return m_ok; }

    Writer& Text(const char* text) noexcept {
        while (text != nullptr && *text != 0) Char(*text++);
        return *this;
    }
    Writer& Char(char c) noexcept {
        if (m_used == sizeof m_buffer) Flush();
        m_buffer[m_used++] = c;
        return *this;
    }
    Writer& Hex(std::uint64_t value, int digits) noexcept {
        char text[17];
        HexDigits(value, digits, text);
        text[digits] = 0;
        Text("0x");
        return Text(text);
    }
    Writer& Decimal(std::int64_t value) noexcept {
        char text[20];
        const std::uint64_t magnitude =
            value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        const std::size_t n = DecimalDigits(magnitude, text);
        if (value < 0) Char('-');
        for (std::size_t i = 0; i < n; ++i) Char(text[i]);
        return *this;
    }
    void Raw(const char* data, std::size_t size) noexcept {
        Flush();
        WriteAll(data, size);
    }
    void Flush() noexcept {
        if (m_used == 0) return;
        WriteAll(m_buffer, m_used);
        m_used = 0;
    }

private:
    void WriteAll(const char* data, std::size_t size) noexcept {
        while (size > 0 && m_ok) {
            const ssize_t n = ::write(m_fd, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                m_ok = false;
                break;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
        }
    }

    int m_fd;
    bool m_ok = true;
    std::size_t m_used = 0;
    char m_buffer[1024];
};

// Appends text to a fixed buffer, always terminated.
void Append(char* out, std::size_t size, std::size_t& used, const char* text) noexcept {
    while (*text != 0 && used + 1 < size) out[used++] = *text++;
    out[used] = 0;
}

void AppendDecimal(char* out, std::size_t size, std::size_t& used, std::uint64_t value) noexcept {
    char text[21];
    text[DecimalDigits(value, text)] = 0;
    Append(out, size, used, text);
}

int OpenReportFile(char* path, std::size_t pathSize) noexcept {
    const std::uint64_t pid = static_cast<std::uint64_t>(::getpid());
    const std::uint64_t tid = static_cast<std::uint64_t>(::syscall(SYS_gettid));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::size_t used = 0;
        path[0] = 0;
        Append(path, pathSize, used, g_directory);
        Append(path, pathSize, used, "/kdtrace-crash-");
        AppendDecimal(path, pathSize, used, pid);
        Append(path, pathSize, used, "-");
        AppendDecimal(path, pathSize, used, tid);
        Append(path, pathSize, used, "-");
        AppendDecimal(path, pathSize, used, g_sequence.fetch_add(1, std::memory_order_relaxed));
        Append(path, pathSize, used, ".txt");
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

void PrepareCrashReports() noexcept {
    const char* directory = std::getenv("KDTRACE_DUMP_DIR");
    if (directory == nullptr || directory[0] == 0) directory = std::getenv("TMPDIR");
    if (directory == nullptr || directory[0] == 0) directory = "/tmp";
    const std::size_t n = std::strlen(directory);
    if (n >= sizeof g_directory) return;
    std::memcpy(g_directory, directory, n + 1);
    // "dir/" and "dir" name the same directory.
    std::size_t end = n;
    while (end > 1 && g_directory[end - 1] == '/') g_directory[--end] = 0;
}

const char* CrashReportDirectory() noexcept {
    return g_directory;
}

bool WriteCrashReport(const CrashReportInput& input, char* pathOut, std::size_t pathSize) noexcept {
    const int savedErrno = errno;
    char path[sizeof g_directory + 96];
    const int fd = OpenReportFile(path, sizeof path);
    if (fd < 0) {
        errno = savedErrno;
        return false;
    }
    bool ok;
    {
        Writer out(fd);
        out.Text("kdtrace crash report\nprocess ").Decimal(::getpid());
        out.Text(" thread ").Decimal(static_cast<std::int64_t>(::syscall(SYS_gettid))).Char('\n');
        out.Text("signal ").Decimal(input.signal).Text(" (").Text(SignalName(input.signal)).Text(") code ");
        out.Decimal(input.signalCode).Char('\n');
        out.Text("exception code ").Hex(input.code, 8).Char('\n');
        out.Text("fault address ").Hex(input.faultAddress, 16).Char('\n');
        out.Text("instruction pointer ").Hex(input.ip, 16).Char('\n');
        out.Text("stack pointer ").Hex(input.sp, 16).Char('\n');
        out.Text("frame pointer ").Hex(input.fp, 16).Char('\n');
        if (input.gregs != nullptr) {
            out.Text("\nregisters\n");
            for (int i = 0; i < 23; ++i)
                out.Text("  ").Text(kRegisterNames[i]).Char(' ').Hex(input.gregs[i], 16).Char('\n');
        }
        out.Text("\nstack\n");
        for (int i = 0; i < kStackWords; ++i) {
            const std::uint64_t address = input.sp + static_cast<std::uint64_t>(i) * 8;
            std::uint64_t word = 0;
            out.Text("  ").Hex(address, 16).Char(' ');
            if (SafeRead(static_cast<std::uintptr_t>(address), &word, sizeof word))
                out.Hex(word, 16).Char('\n');
            else
                out.Text("unreadable\n");
        }
        out.Text("\nmemory map\n");
        const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
        if (maps >= 0) {
            char chunk[4096];
            for (;;) {
                const ssize_t n = ::read(maps, chunk, sizeof chunk);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                out.Raw(chunk, static_cast<std::size_t>(n));
            }
            ::close(maps);
        } else {
            out.Text("unavailable\n");
        }
        out.Flush();
        ok = out.ok();
    }
    ::close(fd);
    if (ok && pathOut != nullptr && pathSize > 0) {
        std::size_t used = 0;
        pathOut[0] = 0;
        Append(pathOut, pathSize, used, path);
    }
    errno = savedErrno;
    return ok;
}

}  // namespace kd::platform
