// Reading a 64 MB file, each beside its floor, with the same buffer sizes:
//   the file stream's Read loop          vs  a plain read() loop over the same file
//   the stream opened and read each time vs  open(), the read() loop and close()
// The file is written once before the benchmarks and stays in the page cache.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "module_base/PLFileStream.h"
#include "module_base/PLRefFile.h"
#include "platform/Text.h"

namespace {

constexpr int64_t kFileSize = 64 << 20;

class BenchFile {
public:
    BenchFile() {
        char pattern[] = "/tmp/kd-streambench-XXXXXX";
        const int fd = ::mkstemp(pattern);
        if (fd < 0) std::abort();
        m_path = pattern;
        std::vector<char> block(1 << 20);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31);
        for (int64_t written = 0; written < kFileSize; written += static_cast<int64_t>(block.size()))
            if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) std::abort();
        ::close(fd);
    }
    ~BenchFile() { ::unlink(m_path.c_str()); }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

const BenchFile& File() {
    static BenchFile file;
    return file;
}

PLComPtr<IPLStream> OpenStream() {
    PLComPtr<IPLRefFilePriv> ref;
    PLComPtr<IPLStream> stream;
    if (PLCreateRefFile(kd::platform::Utf8ToUtf16(File().path()).c_str(), FALSE, ref.Put()) < 0 ||
        PLCreateStreamOnRefFile(ref.Get(), 0, -1, stream.Put()) < 0)
        std::abort();
    return stream;
}

int64_t ReadStream(IPLStream* stream, std::vector<BYTE>& buffer) {
    int64_t total = 0;
    LONG read = 1;
    while (read > 0) {
        if (stream->Read(buffer.data(), static_cast<LONG>(buffer.size()), &read) < 0) std::abort();
        total += read;
    }
    return total;
}

int64_t ReadPlain(int fd, std::vector<BYTE>& buffer) {
    int64_t total = 0;
    for (ssize_t n = 1; n > 0; total += n) n = ::read(fd, buffer.data(), buffer.size());
    return total;
}

void Report(benchmark::State& state) {
    state.SetBytesProcessed(state.iterations() * kFileSize);
}

void BM_FileStreamRead(benchmark::State& state) {
    std::vector<BYTE> buffer(static_cast<std::size_t>(state.range(0)));
    PLComPtr<IPLStream> stream = OpenStream();
    for (auto _ : state) {
        stream->Seek(0, 0);
        benchmark::DoNotOptimize(ReadStream(stream.Get(), buffer));
    }
    Report(state);
}
BENCHMARK(BM_FileStreamRead)->Arg(64 << 10)->Arg(2048000);

void BM_Floor_PlainReadLoop(benchmark::State& state) {
    std::vector<BYTE> buffer(static_cast<std::size_t>(state.range(0)));
    const int fd = ::open(File().path().c_str(), O_RDONLY);
    for (auto _ : state) {
        ::lseek(fd, 0, SEEK_SET);
        benchmark::DoNotOptimize(ReadPlain(fd, buffer));
    }
    ::close(fd);
    Report(state);
}
BENCHMARK(BM_Floor_PlainReadLoop)->Arg(64 << 10)->Arg(2048000);

void BM_FileStreamOpenAndRead(benchmark::State& state) {
    std::vector<BYTE> buffer(64 << 10);
    for (auto _ : state) {
        PLComPtr<IPLStream> stream = OpenStream();
        benchmark::DoNotOptimize(ReadStream(stream.Get(), buffer));
    }
    Report(state);
}
BENCHMARK(BM_FileStreamOpenAndRead);

void BM_Floor_OpenReadClose(benchmark::State& state) {
    std::vector<BYTE> buffer(64 << 10);
    for (auto _ : state) {
        const int fd = ::open(File().path().c_str(), O_RDONLY);
        benchmark::DoNotOptimize(ReadPlain(fd, buffer));
        ::close(fd);
    }
    Report(state);
}
BENCHMARK(BM_Floor_OpenReadClose);

}  // namespace

BENCHMARK_MAIN();
