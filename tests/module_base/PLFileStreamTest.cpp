// Reference files and file streams over real files in a temporary directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "module_base/PLFileStream.h"
#include "module_base/PLRefFile.h"
#include "platform/Text.h"
#include "support/DiagReceiver.h"
#include "support/Process.h"
#include "support/TraceFakes.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

using kd::platform::Utf16ToUtf8;
using kd::platform::Utf8ToUtf16;
using kdtest::Patterned;
using kdtest::Sub;

struct FileStreamTest : ::testing::Test {
    void SetUp() override { kdtest::TakeThreadErrors(); }

    // A file of `size` bytes: the pattern throughout or, given a `mark`, only in the 8 KiB around
    // it and a hole (zeros) elsewhere, so that large files cost no writing.
    std::u16string MakeFile(const std::string& name, int64_t size, int64_t mark = 0) {
        const std::string path = m_dir / name;
        const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, size), 0);
        const int64_t from = mark == 0 ? 0 : mark - 4096;
        const auto bytes = Patterned(from, mark == 0 ? size : 8192);
        EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), from), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
        return Utf8ToUtf16(path);
    }

    static PLComPtr<IPLRefFilePriv> RefFile(const std::u16string& path, BOOL deleteOnRelease = FALSE) {
        PLComPtr<IPLRefFilePriv> ref;
        EXPECT_HR(PLCreateRefFile(path.c_str(), deleteOnRelease, ref.Put()), S_OK);
        return ref;
    }

    static PLComPtr<IPLStream> Open(IPLRefFilePriv* ref, LONG start, LONG size, HRESULT expected = S_OK) {
        PLComPtr<IPLStream> stream;
        EXPECT_HR(PLCreateStreamOnRefFile(ref, start, size, stream.Put()), expected);
        return stream;
    }
    static std::vector<BYTE> Read(IPLStream* s, LONG count) { return kdtest::ReadBytes(s, count); }

    kdtest::TempDir m_dir;
};

// Segments of the file, and sub-streams of the segment at file offsets 10 to 29: each reports its
// size, starts at its first byte and reads only the bytes that are there.
TEST_F(FileStreamTest, SegmentsAndSubstreamsReadTheirBytesOnly) {
    auto ref = RefFile(MakeFile("hundred", 100));
    auto parent = Open(ref.Get(), 10, 20);
    // Whether a sub-stream (`start` and `size` within the parent), start, size, result, the file
    // offset of the first byte, the size reported.
    const std::tuple<bool, LONG, LONG, HRESULT, LONG, LONG> cases[] = {
        {false, 10, 20, S_OK, 10, 20},
        {false, 10, -1, S_OK, 10, 90},  // the rest of the file from the start, not the whole file
        {false, 90, 50, S_OK, 90, 50},  // past the end of the file: only what is there
        {false, 100, -1, S_OK, 100, 0},
        {false, 101, 5, PL_E_INVALID_START_OFFSET, 0, 0},
        {true, 15, 50, S_OK, 25, 5},  // cut at the parent's end
        {true, 20, 5, S_OK, 30, 0},
        {true, 21, 1, E_INVALIDARG, 0, 0},
    };
    for (const auto& [sub, start, size, hr, from, reportedSize] : cases) {
        SCOPED_TRACE(testing::Message() << sub << " " << start);
        auto stream = sub ? Sub(parent.Get(), start, size, hr) : Open(ref.Get(), start, size, hr);
        EXPECT_EQ(static_cast<bool>(stream), hr >= 0) << "a stream exactly when one is made";
        if (hr < 0) continue;
        const auto there = Patterned(from, std::min<LONG>(reportedSize, 100 - from));
        EXPECT_EQ(kdtest::LongOf(stream.Get(), &IPLStream::GetSize), reportedSize);
        EXPECT_EQ(kdtest::LongOf(stream.Get(), &IPLStream::GetPosition), from);
        EXPECT_EQ(Read(stream.Get(), 100), there);
        // A sub-stream of it stays inside it.
        EXPECT_EQ(Read(Sub(stream.Get(), 0, 100).Get(), 100), there);
    }
    // Seeking and skipping within and around the segment.
    using Step = kdtest::Step;
    kdtest::RunSteps(parent.Get(),
                     {
                         {Step::Seek, 5, 1, S_OK, 25},
                         {Step::Seek, 3, 0, S_OK, 13},
                         {Step::Seek, 2, 2, S_OK, 15},
                         {Step::Seek, -11, 0, E_FAIL, 15},
                         {Step::Seek, INT32_MAX, 2, E_FAIL, 15},
                         {Step::Skip, INT32_MAX, 0, E_FAIL, 15},
                         {Step::Skip, 30, 0, S_OK, 45},  // no bounds check: reads there give nothing
                         {Step::Read, 5, 0, S_OK, 45},
                     },
                     kdtest::PatternAt);
    // Start and offset add up in 64 bits: from a start at the last offset no sub-stream is left.
    ASSERT_HR(kdtest::As<IPLFileStreamPriv>(parent)->ResetStart(INT32_MAX), S_OK);
    Sub(parent.Get(), 10, 5, PL_E_INVALID_START_OFFSET);
}

TEST_F(FileStreamTest, ReopeningReadsTheSameBytesWithABaseOffset) {
    auto ref = RefFile(MakeFile("hundred", 100));
    ASSERT_HR(ref->SetBaseOffset(1000), S_OK);
    auto stream = Open(ref.Get(), 1010, 20);  // file offsets 10 to 29
    ASSERT_TRUE(stream);
    EXPECT_EQ(Read(stream.Get(), 4), Patterned(10, 4));
    EXPECT_HR(stream->Open(), PL_E_STREAM_ALREADY_OPEN);

    ASSERT_HR(stream->Close(), S_OK);
    EXPECT_HR(stream->Seek(1, 0), E_FAIL);

    // A Read reopens the stream at its (already translated) start; so do sub-streams and clones.
    EXPECT_EQ(Read(stream.Get(), 4), Patterned(10, 4));
    EXPECT_EQ(Read(Sub(stream.Get(), 2, 3).Get(), 10), Patterned(12, 3));
    EXPECT_EQ(Read(kdtest::Clone(stream).Get(), 2), Patterned(14, 2));
    EXPECT_EQ(Read(stream.Get(), 2), Patterned(14, 2)) << "the clone reads with its own descriptor";
}

TEST_F(FileStreamTest, ReadStringReadsLinesWithinTheSegment) {
    std::ofstream(m_dir / "lines") << "ab\ncd\n\nlast";
    auto ref = RefFile(Utf8ToUtf16(m_dir / "lines"));
    // Segment size, buffer size, the lines read until a read of 0.
    const std::tuple<LONG, LONG, std::vector<std::string>> cases[] = {
        {-1, 64, {"ab\n", "cd\n", "\n", "last"}},
        {4, 64, {"ab\n", "c"}},  // a line never runs past the segment
        {-1, 1, {}},             // room for the terminator only
    };
    for (const auto& [size, room, expected] : cases) {
        SCOPED_TRACE(size * 100 + room);
        auto stream = Open(ref.Get(), 0, size);
        std::vector<std::string> lines;
        std::vector<char> buffer(static_cast<std::size_t>(room) + 4, 'x');
        for (LONG read = -1; read != 0 && lines.size() < 10;) {
            ASSERT_HR(stream->ReadString(buffer.data(), room, &read), S_OK);
            ASSERT_EQ(buffer[static_cast<std::size_t>(read)], 0);
            EXPECT_EQ(buffer[static_cast<std::size_t>(room)], 'x') << "written past the buffer";
            if (read != 0) lines.emplace_back(buffer.data(), static_cast<std::size_t>(read));
        }
        EXPECT_EQ(lines, expected);
        EXPECT_TRUE(kdtest::Recorded(u""));
    }
}

TEST_F(FileStreamTest, FilesOfTwoGiBAndMoreAreRefusedNotWrapped) {
    auto ref = RefFile(MakeFile("huge", (int64_t{1} << 31) + 10, INT32_MAX - 8));
    EXPECT_EQ(Read(Open(ref.Get(), INT32_MAX - 8, 8).Get(), 100), Patterned(INT32_MAX - 8, 8));
    for (const auto& [start, size] : {std::pair{0, -1}, {INT32_MAX - 8, 9}, {10, INT32_MAX}})
        Open(ref.Get(), start, size, E_FAIL);
}

TEST_F(FileStreamTest, BadFilesAndFilesChangedUnderneath) {
    const auto path = MakeFile("hundred", 100);
    LONG read = 0;
    BYTE bytes[10];
    for (const std::string& bad : {m_dir / "missing", m_dir.path()}) {
        auto stream = kdtest::New<IPLFileStreamPriv>(CLSID_PLFileStream);
        EXPECT_HR(stream->Initialize(Utf8ToUtf16(bad).c_str(), FALSE, 0, -1), E_FAIL);
        EXPECT_HR(stream->Read(bytes, 1, &read), E_FAIL) << "stays closed; reopening fails again";
    }
    EXPECT_HR(kdtest::New<IPLFileStreamPriv>(CLSID_PLFileStream)->Open(), E_FAIL);

    // A file whose reads fail.
    auto failing = Open(RefFile(u"/proc/self/mem").Get(), 0, 10);
    ASSERT_TRUE(failing);
    EXPECT_HR(failing->Read(bytes, 10, &read), E_FAIL);

    // Truncated under an open stream: reads report what is left.
    auto stream = Open(RefFile(path).Get(), 10, 50);
    ASSERT_EQ(::truncate(Utf16ToUtf8(path).c_str(), 30), 0);
    EXPECT_EQ(Read(stream.Get(), 100), Patterned(10, 20));
}

// Only regular files open, without waiting on a FIFO (streams, reference files, page data); and no
// descriptor is inherited by the programs the process starts, whatever the caller asks.
TEST_F(FileStreamTest, OnlyRegularFilesOpenAndNoDescriptorIsInherited) {
    auto ref = RefFile(MakeFile("hundred", 100));
    auto stream = Open(ref.Get(), 0, -1);
    PLFileHandle handle = PL_INVALID_FILE_HANDLE;
    ASSERT_HR(ref->OpenHandle(PL_GENERIC_READ, 0, TRUE, PL_OPEN_EXISTING, 0, &handle), S_OK);
    FILE* file = nullptr;
    ASSERT_HR(ref->OpenStdHandle(u"rb", &file), S_OK);
    EXPECT_EQ(std::fgetc(file), kdtest::PatternAt(0));
    const std::string seen = kdtest::Output("ls -l /proc/self/fd/");
    EXPECT_NE(seen.find("->"), std::string::npos);
    EXPECT_EQ(seen.find("hundred"), std::string::npos) << seen;
    EXPECT_HR(ref->CloseHandle(handle), S_OK);
    EXPECT_HR(ref->CloseStdHandle(file), S_OK);

    const std::string fifo = m_dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::u16string name = Utf8ToUtf16(fifo);
    auto fifoRef = RefFile(name);
    const std::function<HRESULT()> opens[] = {
        [&] { return kdtest::New<IPLFileStreamPriv>(CLSID_PLFileStream)->Initialize(name.c_str(), FALSE, 0, -1); },
        [&] { return fifoRef->OpenHandle(PL_GENERIC_READ, 0, FALSE, PL_OPEN_EXISTING, 0, &handle); },
        [&] { return fifoRef->OpenStdHandle(u"rb", &file); },
        [&] { return kdtest::New<IPLPageData>(CLSID_PLPageData)->LoadFromFile(name.c_str()); },
        [&] { return kdtest::New<IPLPersistFile>(CLSID_PLPageData)->Load(name.c_str(), 0); },
    };
    for (const auto& open : opens) EXPECT_TRUE(kdtest::FailsAtOnce(fifo, open));
}

// A page at file offset 70.
struct FakePage : kdtest::Fake<IPLFilePage> {
    FakePage() : Fake(IID_IPLFilePage) {}
    HRESULT GetPageNumber(LONG*) override { return E_NOTIMPL; }
    HRESULT GetFileOffset(LONG* offset) override { return *offset = 70, S_OK; }
};

TEST_F(FileStreamTest, RefFilePathOffsetsAndHandles) {
    const auto path = MakeFile("hundred", 100);
    auto ref = RefFile(path);
    EXPECT_HR(ref->Initialize(path.c_str(), FALSE), E_FAIL);

    // The path whole or not at all.
    const LONG length = static_cast<LONG>(path.size());
    std::vector<WCHAR> buffer(path.size() + 2, u'x');
    EXPECT_HR(ref->GetLocalPath(buffer.data(), length), E_INVALIDARG);
    EXPECT_EQ(buffer[0], 0) << "never a cut path";
    EXPECT_HR(ref->GetLocalPath(buffer.data(), length + 1), S_OK);
    EXPECT_EQ(std::u16string(buffer.data()), path);

    ASSERT_HR(ref->SetBaseOffset(40), S_OK);
    LONG offset = 0;
    EXPECT_HR(ref->TranslateOffset(INT32_MIN, &offset), E_INVALIDARG) << "no wrap-around";
    FakePage page;
    EXPECT_HR(ref->GetPageOffset(&page, &offset), S_OK);
    EXPECT_EQ(offset, 30);

    PLFileHandle handle = PL_INVALID_FILE_HANDLE;
    auto missing = RefFile(Utf8ToUtf16(m_dir / "missing"));
    EXPECT_TRUE(kdtest::Reports(missing->OpenHandle(PL_GENERIC_READ, 0, FALSE, PL_OPEN_EXISTING, 0, &handle), E_FAIL,
                                u"Failed to open file (last error: 2)"));
    EXPECT_EQ(handle, PL_INVALID_FILE_HANDLE);
    // Creation dispositions reach the file system.
    ASSERT_HR(missing->OpenHandle(PL_GENERIC_WRITE, 0, FALSE, PL_CREATE_NEW, 0, &handle), S_OK);
    EXPECT_HR(missing->CloseHandle(handle), S_OK);

    // Missing arguments and places for results are refused, by the reference file and its streams.
    auto stream = Open(ref.Get(), 40, -1);  // past the base offset
    ASSERT_TRUE(stream);
    auto fresh = kdtest::New<IPLFileStreamPriv>(CLSID_PLFileStream);
    FILE* file = nullptr;
    BYTE byte = 0;
    char text[4];
    LONG read = 0;
    for (const HRESULT hr :
         {ref->GetLocalPath(nullptr, 4), ref->Initialize(nullptr, FALSE), ref->OpenStdHandle(nullptr, &file),
          ref->OpenStdHandle(u"rb", nullptr), ref->OpenHandle(PL_GENERIC_READ, 0, FALSE, PL_OPEN_EXISTING, 0, nullptr),
          ref->CloseStdHandle(nullptr), ref->GetPageOffset(nullptr, &offset), ref->GetPageOffset(&page, nullptr),
          PLCreateRefFile(path.c_str(), FALSE, nullptr), stream->Read(nullptr, 1, &read),
          stream->Read(&byte, 1, nullptr), stream->ReadString(nullptr, 4, &read), stream->ReadString(text, 4, nullptr),
          stream->GetPosition(nullptr), stream->GetSubstream(0, 1, nullptr), fresh->Initialize(nullptr, FALSE, 0, -1),
          fresh->InitializeFromRefFile(nullptr, 0, -1), PLCreateStreamOnRefFile(ref.Get(), 0, -1, nullptr)})
        EXPECT_HR(hr, E_POINTER);
    EXPECT_HR(ref->GetLocalPath(buffer.data(), 0), E_INVALIDARG);
    EXPECT_HR(stream->ReadString(text, 0, &read), E_INVALIDARG);
    EXPECT_HR(ref->TranslateOffset(5, nullptr), S_OK);  // nothing asked for
}

// Threads share one reference file: each opens streams, sub-streams, clones and handles on it
// and drops them, and the main thread drops its own reference while they run; the last release,
// on whichever thread, deletes the file.
TEST_F(FileStreamTest, ThreadsShareOneReferenceFile) {
    const auto path = MakeFile("shared", 4096);
    auto ref = RefFile(path, TRUE);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&failures, shared = ref, t] {
            for (int i = 0; i < 50; ++i) {
                const LONG start = (t * 50 + i) % 4000;
                PLComPtr<IPLStream> stream, sub, clone;
                PLComPtr<IPLCloneable> cloneable;
                PLFileHandle handle = PL_INVALID_FILE_HANDLE;
                BYTE bytes[8];
                LONG read = 0;
                if (PLCreateStreamOnRefFile(shared.Get(), start, 64, stream.Put()) < 0 ||
                    stream->GetSubstream(8, 8, sub.Put()) < 0 || stream.As(cloneable) < 0 ||
                    cloneable->Clone(IID_IPLStream, clone.PutVoid()) < 0 || sub->Read(bytes, 8, &read) < 0 ||
                    read != 8 || bytes[0] != kdtest::PatternAt(start + 8) ||
                    shared->OpenHandle(PL_GENERIC_READ, 0, FALSE, PL_OPEN_EXISTING, 0, &handle) < 0 ||
                    shared->CloseHandle(handle) < 0)
                    ++failures;
            }
        });
    ref = nullptr;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_FALSE(std::filesystem::exists(Utf16ToUtf8(path)));
}

}  // namespace
