// Recording one error, with no console listening and with a console draining the channel,
// beside the floor: a plain throw and catch of an int.
//
//   build/release/bin/bench_diagnostics
//
// BM_RecordError* throw a PL_ERROR inside a guarded region, which records it in the thread's
// error list and sends (or drops) its diagnostics record. BM_WriteDiagnosticError* measure the
// diagnostics record alone. The "sent" and "dropped" counters tell how many records a console
// received and how many were dropped because its queue was full (never waiting for it).
#include <benchmark/benchmark.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <cstdint>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "module_base/PLDiagnostics.h"
#include "module_base/PLError.h"

namespace {

std::string TempPath(const char* name) {
    static const std::string dir = [] {
        std::string pattern = "/tmp/kdbench-XXXXXX";
        return ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string("/tmp");
    }();
    return dir + "/" + name;
}

// A console that drains the channel on its own thread while it lives.
class DrainingConsole {
public:
    explicit DrainingConsole(const std::string& path) : m_path(path) {
        ::unlink(path.c_str());
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::abort();
        m_thread = std::thread([this] {
            char buffer[1 << 16];
            while (!m_stop.load(std::memory_order_relaxed)) {
                pollfd pfd{m_fd, POLLIN, 0};
                if (::poll(&pfd, 1, 50) > 0 && ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0)
                    m_received.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    ~DrainingConsole() {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
        ::unlink(m_path.c_str());
    }

private:
    std::string m_path;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int64_t> m_received{0};
    std::thread m_thread;
};

void FailOnce() {
    const HRESULT hr = PLGuardNamed("Core", "CBenchmark", "Run", [&](HRESULT& result) {
        result = E_FAIL;
        PL_THROW_ERROR(result, "The benchmark failed on purpose.", 1);
    });
    benchmark::DoNotOptimize(hr);
}

void BM_ThrowCatchFloor(benchmark::State& state) {
    int n = 0;
    for (auto _ : state) {
        try {
            throw n;
        } catch (int v) {
            benchmark::DoNotOptimize(v);
        }
        ++n;
    }
}
BENCHMARK(BM_ThrowCatchFloor);

void BM_RecordErrorNoConsole(benchmark::State& state) {
    ::setenv("KDTRACE_DIAG_SOCKET", TempPath("nobody").c_str(), 1);
    for (auto _ : state) FailOnce();
}
BENCHMARK(BM_RecordErrorNoConsole);
// A fixed number of iterations, for counting system calls: strace -f -c ...
// --benchmark_filter=Fixed
BENCHMARK(BM_RecordErrorNoConsole)->Name("BM_RecordErrorNoConsole_Fixed10000")->Iterations(10000);

void CountOutcome(HRESULT hr, int64_t* sent, int64_t* dropped) {
    if (hr == S_OK)
        ++*sent;
    else if (hr == E_FAIL)
        ++*dropped;
}

void BM_RecordErrorWithConsole(benchmark::State& state) {
    const std::string path = TempPath("console");
    ::setenv("KDTRACE_DIAG_SOCKET", path.c_str(), 1);
    DrainingConsole console(path);
    int64_t sent = 0;
    int64_t dropped = 0;
    for (auto _ : state) {
        const HRESULT hr = PLRecordErrorMessage("Core", "CBenchmark", "Run", E_FAIL, 0, u"The benchmark failed.", 1);
        CountOutcome(hr, &sent, &dropped);
    }
    state.counters["sent"] = static_cast<double>(sent);
    state.counters["dropped"] = static_cast<double>(dropped);
}

void BM_ThrowAndRecordWithConsole(benchmark::State& state) {
    const std::string path = TempPath("console");
    ::setenv("KDTRACE_DIAG_SOCKET", path.c_str(), 1);
    DrainingConsole console(path);
    for (auto _ : state) FailOnce();
}
BENCHMARK(BM_ThrowAndRecordWithConsole);
BENCHMARK(BM_RecordErrorWithConsole);

void BM_WriteDiagnosticErrorNoConsole(benchmark::State& state) {
    ::setenv("KDTRACE_DIAG_SOCKET", TempPath("nobody").c_str(), 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            PLWriteDiagnosticError(u"Core", u"CBenchmark", u"Run", E_FAIL, 0, u"message", u"/src/file.cpp", 42));
}
BENCHMARK(BM_WriteDiagnosticErrorNoConsole);

void BM_WriteDiagnosticErrorWithConsole(benchmark::State& state) {
    const std::string path = TempPath("console");
    ::setenv("KDTRACE_DIAG_SOCKET", path.c_str(), 1);
    DrainingConsole console(path);
    int64_t sent = 0;
    int64_t dropped = 0;
    for (auto _ : state) {
        const HRESULT hr =
            PLWriteDiagnosticError(u"Core", u"CBenchmark", u"Run", E_FAIL, 0, u"message", u"/src/file.cpp", 42);
        CountOutcome(hr, &sent, &dropped);
    }
    state.counters["sent"] = static_cast<double>(sent);
    state.counters["dropped"] = static_cast<double>(dropped);
}
BENCHMARK(BM_WriteDiagnosticErrorWithConsole);

}  // namespace

BENCHMARK_MAIN();
