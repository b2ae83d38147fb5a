// The module's static probes as the system's tracing tools see them: each probe is in the
// module's note with the argument signature the README documents, and, where the machine lets a
// tool attach, bpftrace receives the values a running host fires.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/Process.h"

namespace {

struct ProbeNote {
    std::set<std::string> signatures;  // argument sizes as readelf shows them ("8 4 -4"), per location
    bool semaphore = true;             // every location names a semaphore
};

// The kdtrace probes in the module's .note.stapsdt, by name.
std::map<std::string, ProbeNote> ReadProbeNotes(const std::string& path) {
    std::map<std::string, ProbeNote> probes;
    std::istringstream lines(kdtest::Output("readelf -n --wide " + path));
    // A field's value runs to the end of its line (the semaphore's is last on the location's line).
    const std::regex field("(Provider|Name|Semaphore|Arguments): (.*)");
    std::string provider, name;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, field)) continue;
        if (m[1] == "Provider") provider = m[2];
        if (m[1] == "Name") name = m[2];
        if (provider != "kdtrace") continue;
        if (m[1] == "Semaphore" && std::strtoull(m.str(2).c_str(), nullptr, 16) == 0) probes[name].semaphore = false;
        if (m[1] != "Arguments") continue;
        std::istringstream arguments(m.str(2));
        std::string argument, signature;
        while (arguments >> argument)
            signature += (signature.empty() ? "" : " ") + argument.substr(0, argument.find('@'));
        probes[name].signatures.insert(signature);
    }
    return probes;
}

TEST(ProbesHostTest, EveryProbeIsInTheNoteWithItsDocumentedArguments) {
    const std::map<std::string, std::string> documented = {
        {"fire", "8 4 -4 -4 4"},    {"error", "-4 8 8 8 8 8 4"},
        {"context_created", "8 4"}, {"context_destroyed", "8 4"},
        {"listener_added", "4 8"},  {"listener_removed", "4 8"},
        {"fault", "4 8"},
    };
    // Each probe's signatures, one for every location that differs, and any missing semaphore.
    std::map<std::string, std::string> found;
    for (const auto& [name, note] : ReadProbeNotes(KDTRACE_MODULE_PATH))
        for (const std::string& signature : note.signatures)
            found[name] += signature + (note.semaphore ? "" : " (no semaphore)");
    EXPECT_EQ(found, documented);
}

// Why bpftrace cannot attach here, or empty when it may.
std::string WhyNoAttach() {
    if (::geteuid() != 0) return "attaching a probe needs root";
    if (kdtest::Output("command -v bpftrace").empty()) return "bpftrace is not installed";
    // Probes on user code reach the kernel as the uprobe event source or through tracefs.
    if (::access("/sys/bus/event_source/devices/uprobe/type", F_OK) != 0 &&
        ::access("/sys/kernel/tracing/uprobe_events", F_OK) != 0 &&
        ::access("/sys/kernel/debug/tracing/uprobe_events", F_OK) != 0)
        return "the kernel offers no uprobes (no uprobe event source, tracefs or debugfs not mounted)";
    return {};
}

// The probe host, running until it is stopped: it fires (7, -9) on "probe.host" every
// millisecond once it has said "ready", and ends when its input closes (at the latest with this
// program).
struct ProbeHost {
    pid_t pid = -1;
    int input[2] = {-1, -1}, output[2] = {-1, -1};

    ProbeHost() {
        if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return;
        if ((pid = ::fork()) == 0) {
            ::dup2(input[0], STDIN_FILENO);
            ::dup2(output[1], STDOUT_FILENO);
            ::execl(KD_PROBE_HOST_PATH, KD_PROBE_HOST_PATH, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(input[0]);
        ::close(output[1]);
    }
    ~ProbeHost() { Stop(); }

    // Whether the host said "ready" within 30 seconds (all it writes; one that cannot start
    // closes its output).
    bool WaitReady() const {
        pollfd ready{output[0], POLLIN, 0};
        char said[7] = {};
        return ::poll(&ready, 1, 30000) == 1 && ::read(output[0], said, 6) == 6 && std::string(said) == "ready\n";
    }

    // Closes the host's input, which ends its loop, and waits for it to end.
    void Stop() {
        if (pid <= 0) return;
        ::close(input[1]);
        ::close(output[0]);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
};

TEST(ProbesHostTest, BpftraceReceivesTheValuesARunningHostFires) {
    if (const std::string reason = WhyNoAttach(); !reason.empty()) GTEST_SKIP() << reason;
    // A probe missing from the module is a failure, never a reason to skip.
    ASSERT_EQ(ReadProbeNotes(KDTRACE_MODULE_PATH).count("fire"), 1u);
    ProbeHost host;
    ASSERT_TRUE(host.WaitReady());  // (also when the host could not be started)
    // One event is enough; the timeout ends bpftrace should none arrive.
    const std::string script = std::string("usdt:") + KDTRACE_MODULE_PATH +
                               ":kdtrace:fire { printf(\"fire %s %u %d %d %u\\n\", str(arg0), arg1, arg2, arg3, "
                               "arg4); exit(); }";
    const std::string said =
        kdtest::Output("timeout -s KILL 60 bpftrace -p " + std::to_string(host.pid) + " -e '" + script + "' 2>&1");
    host.Stop();
    if (said.find("Attaching") == std::string::npos) GTEST_SKIP() << "bpftrace could not attach here: " << said;
    // Context name, identifier (named contexts have 0), the two values, one listener called.
    EXPECT_THAT(said, ::testing::HasSubstr("fire probe.host 0 7 -9 1\n"));
}

}  // namespace
