// Page data against its floors, in the same run:
//   LoadFromFile and IPLPersistFile::Load of a 64 MB file
//                                        vs  the read floor
//   SaveToFile and IPLPersistFile::Save of 64 MB of content
//                                        vs  the write floor
//   SaveToFileAsUTF8 of 16 MB of UTF-16 vs  ICU's u_strToUTF8 into a buffer, then the write floor
//   16 MB appended in 4 KiB Appends     vs  std::string appending the same pieces
// Every file lives in one directory ($TMPDIR, else /tmp), so that paths and floors meet the same
// file system; name it with the figures, as it shapes the saves (ext4, for one, starts writing a
// file back when it replaces or truncates another). The file read stays in the page cache. The
// page is reached through its table, as a host reaches it. On a shared machine the CPU column is
// the steadier one.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unicode/ustring.h>
#include <unistd.h>

#include <sys/stat.h>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "module_base/PLPageData.h"
#include "platform/Text.h"

namespace {

constexpr std::size_t kFileSize = 64 << 20;
constexpr std::size_t kTextUnits = 8 << 20;  // 16 MB of UTF-16
constexpr std::size_t kAppended = 16 << 20;
constexpr std::size_t kPiece = 4096;

std::string TempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/kd-pagedatabench-" + std::to_string(::getpid()) + name;
}

struct Files {
    // Each save writes a file of its own, so that each replaces or truncates what it wrote before.
    std::string in = TempPath("-in"), out = TempPath("-out"), persisted = TempPath("-persisted"),
                floor = TempPath("-floor"), text8 = TempPath("-utf8"), text8Floor = TempPath("-utf8-floor");
    std::vector<BYTE> bytes = std::vector<BYTE>(kFileSize);
    std::u16string text;
    Files() {
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i * 31);
        const int fd = ::open(in.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
        ::close(fd);
        // Mixed text: ASCII, two- and three-byte UTF-8, and surrogate pairs.
        const std::u16string sample = u"Page text, caf\u00E9 \u0420\u0443\u0441 \u65E5\u672C \U0001F600\n";
        while (text.size() < kTextUnits) text += sample;
        text.resize(kTextUnits);
    }
    ~Files() {
        for (const std::string* path : {&in, &out, &persisted, &floor, &text8, &text8Floor}) ::unlink(path->c_str());
    }
};

Files& TheFiles() {
    static Files files;
    return files;
}

PLComPtr<IPLPageDataPriv> NewPage() {
    PLComPtr<IPLPageDataPriv> page;
    if (PLCreateInstance(CLSID_PLPageData, page) < 0) std::abort();
    return page;
}

void WritePlain(const std::string& path, const void* bytes, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::write(fd, bytes, size) != static_cast<ssize_t>(size)) std::abort();
    ::close(fd);
}

void BM_LoadFromFile(benchmark::State& state) {
    const std::u16string path = kd::platform::Utf8ToUtf16(TheFiles().in);
    PLComPtr<IPLPageDataPriv> page = NewPage();
    for (auto _ : state)
        if (page->LoadFromFile(path.c_str()) < 0) std::abort();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_PersistFileLoad(benchmark::State& state) {
    const std::u16string path = kd::platform::Utf8ToUtf16(TheFiles().in);
    PLComPtr<IPLPersistFile> page;
    if (NewPage().As(page) < 0) std::abort();
    for (auto _ : state)
        if (page->Load(path.c_str(), 0) < 0) std::abort();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

// The read floor: open(), fstat() for the size, a new buffer of that size (plus the two bytes a
// page allocates beyond its content), one read() into it and close().
void BM_ReadFloor(benchmark::State& state) {
    for (auto _ : state) {
        const int fd = ::open(TheFiles().in.c_str(), O_RDONLY);
        struct stat info {};
        ::fstat(fd, &info);
        std::unique_ptr<BYTE[]> buffer(new BYTE[static_cast<std::size_t>(info.st_size) + 2]);
        if (::read(fd, buffer.get(), static_cast<std::size_t>(info.st_size)) != info.st_size) std::abort();
        ::close(fd);
        benchmark::DoNotOptimize(buffer.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_SaveToFile(benchmark::State& state) {
    const std::u16string path = kd::platform::Utf8ToUtf16(TheFiles().out);
    PLComPtr<IPLPageDataPriv> page = NewPage();
    if (page->LoadFromBytes(TheFiles().bytes.data(), static_cast<LONG>(kFileSize)) < 0) std::abort();
    for (auto _ : state)
        if (page->SaveToFile(path.c_str()) < 0) std::abort();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_PersistFileSave(benchmark::State& state) {
    const std::u16string path = kd::platform::Utf8ToUtf16(TheFiles().persisted);
    PLComPtr<IPLPageDataPriv> page = NewPage();
    if (page->LoadFromBytes(TheFiles().bytes.data(), static_cast<LONG>(kFileSize)) < 0) std::abort();
    PLComPtr<IPLPersistFile> persist;
    if (page.As(persist) < 0) std::abort();
    for (auto _ : state)
        if (persist->Save(path.c_str()) < 0) std::abort();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

// The write floor: open() with O_CREAT|O_TRUNC over the file the last round wrote, one write()
// of the content and close(), without fsync().
void BM_WriteFloor(benchmark::State& state) {
    for (auto _ : state) WritePlain(TheFiles().floor, TheFiles().bytes.data(), kFileSize);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_SaveToFileAsUTF8(benchmark::State& state) {
    const std::u16string path = kd::platform::Utf8ToUtf16(TheFiles().text8);
    PLComPtr<IPLPageDataPriv> page = NewPage();
    const std::u16string& text = TheFiles().text;
    if (page->LoadFromBytes(reinterpret_cast<const BYTE*>(text.data()), static_cast<LONG>(text.size() * 2)) < 0)
        std::abort();
    for (auto _ : state)
        if (page->SaveToFileAsUTF8(path.c_str(), PLTextEncodingUtf16LE) < 0) std::abort();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size() * 2));
}

void BM_Utf16ToUtf8Floor(benchmark::State& state) {
    const std::u16string& text = TheFiles().text;
    std::string out(text.size() * 3 + 3, '\0');
    for (auto _ : state) {
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8(out.data() + 3, static_cast<int32_t>(out.size() - 3), &length, text.data(),
                    static_cast<int32_t>(text.size()), &status);
        if (U_FAILURE(status)) std::abort();
        WritePlain(TheFiles().text8Floor, out.data(), static_cast<std::size_t>(length) + 3);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size() * 2));
}

void BM_Append(benchmark::State& state) {
    const BYTE* bytes = TheFiles().bytes.data();
    for (auto _ : state) {
        PLComPtr<IPLPageDataPriv> page = NewPage();
        for (std::size_t at = 0; at < kAppended; at += kPiece)
            if (page->Append(bytes + at, static_cast<LONG>(kPiece)) < 0) std::abort();
        benchmark::DoNotOptimize(page.Get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAppended));
}

// The floor of Append: a new std::string (which grows geometrically) appending the same pieces,
// each through a call the compiler may not inline, as a host reaches Append through its table.
__attribute__((noinline)) void AppendPiece(std::string& text, const BYTE* bytes, std::size_t count) {
    text.append(reinterpret_cast<const char*>(bytes), count);
}

void BM_AppendFloor(benchmark::State& state) {
    const BYTE* bytes = TheFiles().bytes.data();
    for (auto _ : state) {
        std::string text;
        for (std::size_t at = 0; at < kAppended; at += kPiece) AppendPiece(text, bytes + at, kPiece);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kAppended));
}

}  // namespace

BENCHMARK(BM_LoadFromFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PersistFileLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveToFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PersistFileSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveToFileAsUTF8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf16ToUtf8Floor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Append)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendFloor)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
