// kddiag: the diagnostics console. It binds the diagnostics channel and shows every record that
// processes of the same user send to it: each error the trace services module records, and any
// other diagInfo record.
#include <getopt.h>
#include <signal.h>

#include <time.h>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <kdtrace/version.h>

#include "DiagRecord.h"
#include "platform/DiagChannel.h"

namespace {

constexpr const char* kUsage =
    "usage: kddiag [--raw | --json] [--count N] [--timeout SECONDS] [--socket PATH]\n"
    "\n"
    "Listens on the diagnostics channel and shows each record as it arrives: every error that a\n"
    "process of this user records through the trace services module, with its time, profile,\n"
    "result, module/class/method, message, source file and line, and thread.\n"
    "\n"
    "options:\n"
    "  --raw              print each record's XML text, one record per line\n"
    "  --json             print each record as one JSON object per line:\n"
    "                       "
    "{\"time\":...,\"recorded\":...,\"received\":...,\"profile\":...,\"pid\":...,\"columns\":{...}}\n"
    "                     (\"time\": the record's time as written; \"recorded\": the same time in\n"
    "                     RFC 3339 with this machine's UTC offset; \"received\": when the console\n"
    "                     received it, RFC 3339 with milliseconds)\n"
    "  --count N          stop after N records\n"
    "  --timeout SECONDS  stop after SECONDS seconds (fractions allowed)\n"
    "  --socket PATH      the channel to bind (default: $KDTRACE_DIAG_SOCKET, else\n"
    "                     $XDG_RUNTIME_DIR/kdtrace/diagInfo, else /tmp/kdtrace-<uid>/diagInfo)\n"
    "  -h, --help         show this text\n"
    "  --version          show the version\n"
    "\n"
    "The channel's directory is created with mode 0700 when missing. Only one console can listen\n"
    "on a path; the socket is removed when kddiag ends (also on Ctrl-C or SIGTERM). Records sent\n"
    "by other users are ignored.\n"
    "\n"
    "exit status: 0 when stopped by --count, --timeout or a signal; 1 when --timeout ended the\n"
    "wait before --count records arrived, or on a receive or output error; 2 for a usage error;\n"
    "3 when the channel cannot be bound (for example another console listens there).\n";

enum class Mode { Readable, Raw, Json };

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) {
    g_stopSignal = signal;
}

bool ParseCount(const char* text, int64_t* count) {
    char* end = nullptr;
    errno = 0;
    const int64_t n = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != 0 || n <= 0) return false;
    *count = n;
    return true;
}

bool ParseSeconds(const char* text, double* seconds) {
    char* end = nullptr;
    errno = 0;
    const double s = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != 0 || !std::isfinite(s) || s < 0 || s > 1e9) return false;
    *seconds = s;
    return true;
}

double MonotonicSeconds() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kddiag: %s\n(see kddiag --help)\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Mode mode = Mode::Readable;
    int64_t count = 0;    // 0: no limit
    double timeout = -1;  // negative: no limit
    std::string path;

    enum { kRaw = 1000, kJson, kCount, kTimeout, kSocket, kVersion };
    static const struct option kOptions[] = {{"raw", no_argument, nullptr, kRaw},
                                             {"json", no_argument, nullptr, kJson},
                                             {"count", required_argument, nullptr, kCount},
                                             {"timeout", required_argument, nullptr, kTimeout},
                                             {"socket", required_argument, nullptr, kSocket},
                                             {"help", no_argument, nullptr, 'h'},
                                             {"version", no_argument, nullptr, kVersion},
                                             {nullptr, 0, nullptr, 0}};
    for (int option; (option = ::getopt_long(argc, argv, "h", kOptions, nullptr)) != -1;) {
        switch (option) {
            case 'h':
                std::fputs(kUsage, stdout);
                return 0;
            case kVersion:
                std::printf("kddiag %s\n", KDTRACE_VERSION);
                return 0;
            case kRaw:
            case kJson: {
                const Mode wanted = option == kRaw ? Mode::Raw : Mode::Json;
                if (mode != Mode::Readable && mode != wanted) return UsageError("--raw and --json exclude each other");
                mode = wanted;
                break;
            }
            case kCount:
                if (!ParseCount(optarg, &count)) return UsageError("--count needs a positive whole number");
                break;
            case kTimeout:
                if (!ParseSeconds(optarg, &timeout)) return UsageError("--timeout needs a number of seconds");
                break;
            case kSocket:
                if (*optarg == 0) return UsageError("--socket needs a path");
                path = optarg;
                break;
            default:  // getopt_long has said what is wrong
                return UsageError("unknown or incomplete option");
        }
    }
    if (optind < argc) return UsageError("unknown argument: " + std::string(argv[optind]));
    if (path.empty()) path = kd::platform::DiagChannelPath();

    // The stop signals are blocked except while waiting for a record, so that one arriving
    // between two waits is not lost.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, s);
    sigset_t waitMask;
    ::sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&waitMask, s);
    struct sigaction action {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(s, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    kd::platform::DiagChannelListener console;
    std::string error;
    if (!console.Open(path, &error)) {
        std::fprintf(stderr, "kddiag: %s\n", error.c_str());
        return 3;
    }
    std::fprintf(stderr, "kddiag: listening on %s\n", path.c_str());

    const double deadline = timeout >= 0 ? MonotonicSeconds() + timeout : 0;
    int64_t shown = 0;
    int status = 0;
    std::vector<char> datagram;
    while (count == 0 || shown < count) {
        int waitMs = -1;
        if (timeout >= 0) {
            const double left = deadline - MonotonicSeconds();
            if (left <= 0) {
                if (count != 0) status = 1;
                break;
            }
            waitMs = static_cast<int>(std::ceil(left * 1000));
        }
        kd::platform::DiagSender sender;
        bool truncated = false;
        const auto received = console.Receive(datagram, &sender, &truncated, waitMs, &waitMask);
        if (received == kd::platform::DiagChannelListener::ReceiveStatus::Interrupted) {
            if (g_stopSignal != 0) break;
            continue;
        }
        if (received == kd::platform::DiagChannelListener::ReceiveStatus::Timeout) continue;
        if (received == kd::platform::DiagChannelListener::ReceiveStatus::Failed) {
            std::fprintf(stderr, "kddiag: cannot receive: %s\n", std::strerror(errno));
            status = 1;
            break;
        }

        kddiag::Origin origin;
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        origin.received = kddiag::ReceivedTime(now.tv_sec, static_cast<int32_t>(now.tv_nsec));
        origin.pid = sender.pid;
        origin.bytes = datagram.size();
        origin.truncated = truncated;
        const std::u16string text = kddiag::DatagramText(datagram.data(), datagram.size());
        kddiag::Record record;
        const bool parsed = kddiag::ParseRecord(text, &record);
        std::string out;
        switch (mode) {
            case Mode::Raw:
                out = kddiag::RecordXml(text) + '\n';
                break;
            case Mode::Json:
                out = (parsed ? kddiag::FormatJson(record, origin) : kddiag::FormatMalformedJson(origin)) + '\n';
                break;
            case Mode::Readable:
                out = parsed ? kddiag::FormatReadable(record, origin) : kddiag::FormatMalformedReadable(origin);
                break;
        }
        if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0) {
            status = 1;  // the reader of our output went away
            break;
        }
        ++shown;
    }
    if (timeout >= 0 && count != 0 && shown < count && status == 1)
        std::fprintf(stderr, "kddiag: timed out after %" PRId64 " of %" PRId64 " records\n", shown, count);
    console.Close();
    return status;
}
