// Page data over real files in a temporary directory: loading and saving through files, global
// blocks, byte buffers and streams, growth, the streams it hands out, UTF-8 output, the
// persist-file operations and the collection.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "module_base/PLPageData.h"
#include "module_base/PLPropertyBagFunctions.h"
#include "platform/GlobalMemory.h"
#include "platform/Text.h"
#include "support/DiagReceiver.h"
#include "support/Process.h"
#include "support/PropertyBagOf.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

using kdtest::Reports;
using Bytes = std::vector<BYTE>;

struct PageDataTest : ::testing::Test {
    void SetUp() override { kdtest::TakeThreadErrors(); }

    std::string Path(const std::string& name) const { return m_dir / name; }
    static std::u16string Wide(const std::string& text) { return kd::platform::Utf8ToUtf16(text); }
    std::u16string File(const std::string& name) const { return Wide(Path(name)); }
    static void Write(const std::string& path, const Bytes& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static Bytes Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    template <class I>
    PLComPtr<I> As() const {
        return kdtest::As<I>(m_page);
    }
    Bytes Content() const {
        LONG size = 0;
        EXPECT_HR(As<IPLPersistMemory>()->SaveToBytes(nullptr, &size), S_OK);
        Bytes out(static_cast<std::size_t>(size) + 1);
        EXPECT_GE(As<IPLPersistMemory>()->SaveToBytes(out.data(), &size), S_OK);
        out.resize(static_cast<std::size_t>(size));
        return out;
    }
    static Bytes Pattern(int64_t size) { return kdtest::Patterned(0, size); }
    // The three ways to save the content "abc" to a file, with what the file then holds.
    struct Saver {
        const char* name;
        std::function<HRESULT(const std::u16string&)> save;
        Bytes holds;
    };
    std::vector<Saver> Savers() const {
        const Bytes abc = {'a', 'b', 'c'}, marked = {0xEF, 0xBB, 0xBF, 'a', 'b', 'c'};
        using Path = const std::u16string&;
        return {
            {"SaveToFile", [this](Path path) { return m_page->SaveToFile(path.c_str()); }, abc},
            {"SaveToFileAsUTF8", [this](Path path) { return m_page->SaveToFileAsUTF8(path.c_str(), 65001); }, marked},
            {"IPLPersistFile::Save", [this](Path path) { return As<IPLPersistFile>()->Save(path.c_str()); }, abc}};
    }

    kdtest::TempDir m_dir;
    PLComPtr<IPLPageDataPriv> m_page = kdtest::New<IPLPageDataPriv>(CLSID_PLPageData);
};

TEST_F(PageDataTest, GrowthByStepsAndFailedGrowthKeepsTheContent) {
    if (!kdtest::LargeAllocationsFail()) GTEST_SKIP() << "needs the allocator limit of the sanitizer build";
    const Bytes ten = Pattern(10), more = kdtest::Patterned(10, 40000);
    ASSERT_HR(m_page->Append(ten.data(), 10), S_OK);
    ASSERT_HR(m_page->Append(more.data(), 40000), S_OK);
    // 32768 for the first 10 bytes, then 65536 more; the failed request asks for 45777 more steps.
    EXPECT_TRUE(Reports(m_page->ReserveBufferSpace(1500000000), E_OUTOFMEMORY,
                        u"Failed to allocate (1500119040) bytes of memory. Current allocated bytes: 98304"));
    EXPECT_EQ(Content(), Pattern(40010));
}

// A stream handed out keeps reading the bytes it was made over, whatever the page does next
// (under AddressSanitizer a freed buffer would be reported).
TEST_F(PageDataTest, StreamsOutliveTheContentTheyRead) {
    const Bytes first = Pattern(100), second = Pattern(200000);
    ASSERT_HR(m_page->LoadFromBytes(first.data(), 100), S_OK);
    PLComPtr<IPLStream> before, grown;
    // A stream, then one after the content moves to a bigger buffer, then new content.
    for (const HRESULT hr : {m_page->GetStream(before.Put()), m_page->Append(second.data(), 200000),
                             m_page->GetStream(grown.Put()), m_page->LoadFromBytes(second.data(), 5)})
        ASSERT_HR(hr, S_OK);
    ASSERT_HR(As<IPLPersistMemory>()->Load(HGLOBAL{}), S_FALSE);  // clears
    m_page = nullptr;
    for (auto* stream : {before.Get(), grown.Get()}) EXPECT_EQ(kdtest::ReadBytes(stream, 100), first);
}

TEST_F(PageDataTest, GlobalBlocksAreTakenOverCheckedAndCopiedOut) {
    HGLOBAL block = kd::platform::AllocGlobalBlock(kd::platform::kGlobalZeroInit, 100);
    kd::platform::LockGlobalBlock(block)[0] = 42;
    kd::platform::UnlockGlobalBlock(block);
    // A length beyond the block is refused and the block stays the caller's.
    EXPECT_HR(m_page->SetHGLOBAL(&block, 1000), E_INVALIDARG);
    ASSERT_HR(m_page->SetHGLOBAL(&block, 10), S_OK);
    // The content is in a buffer that grows like any other.
    const BYTE tail[2] = {7, 8};
    ASSERT_HR(m_page->Append(tail, 2), S_OK);
    const Bytes expected = {42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 8};
    EXPECT_EQ(Content(), expected);
    // Save hands out a new block, which the caller frees; the page frees its own.
    HGLOBAL copy = nullptr;
    ASSERT_HR(As<IPLPersistMemory>()->Save(0, &copy), S_OK);
    EXPECT_EQ(Bytes(copy->bytes, copy->bytes + copy->size), expected);
    kd::platform::FreeGlobalBlock(copy);
    // The page's own block given back is kept, not freed and then taken again.
    HGLOBAL own = nullptr;
    ASSERT_HR(m_page->GetHGLOBAL(&own), S_OK);
    ASSERT_EQ(own, block);
    ASSERT_HR(m_page->SetHGLOBAL(&own, 5), S_OK);
    EXPECT_EQ(Content(), Bytes(expected.begin(), expected.begin() + 5));
    // Loading a block copies its whole size. The page's own block is copied before the page lets
    // it go.
    ASSERT_HR(As<IPLPersistMemory>()->Load(block), S_OK);
    Bytes whole(100, 0);
    whole[0] = 42;
    EXPECT_EQ(Content(), whole);
    HGLOBAL held = block;
    ASSERT_HR(m_page->GetHGLOBAL(&held), S_OK);
    EXPECT_EQ(held, nullptr);
}

// A new page hands out an empty stream. A held stream (open from its creation) is read whole each
// time the content is asked for; whatever loads content releases it, so that every query answers
// from the loaded bytes. A stream loads from its position on.
TEST_F(PageDataTest, EveryLoadReleasesAHeldStream) {
    PLComPtr<IPLStream> stream;
    ASSERT_HR(m_page->GetStream(stream.Put()), S_OK);
    EXPECT_EQ(kdtest::LongOf(stream.Get(), &IPLStream::GetSize), 0);
    const Bytes fresh = {'n', 'e', 'w'}, later = {'-', '-', 'n', 'e', 'w'};
    Write(Path("new"), fresh);
    const std::function<HRESULT()> loads[] = {
        [&] { return m_page->LoadFromBytes(fresh.data(), 3); },
        [&] { return m_page->LoadFromFile(File("new").c_str()); },
        [&] { return As<IPLPersistFile>()->Load(File("new").c_str(), 0); },
        [&] {
            PLComPtr<IPLStream> source;
            EXPECT_HR(PLCreateStreamOnBytes(later.data(), 5, source.Put()), S_OK);
            EXPECT_HR(source->Seek(2, PLStreamSeekFromStart), S_OK);
            return As<IPLPersistStream>()->Load(source.Get());
        },
        [&] {
            HGLOBAL block = kd::platform::AllocGlobalBlock(0, 3);
            std::copy(fresh.begin(), fresh.end(), block->bytes);
            return m_page->SetHGLOBAL(&block, 3);
        },
    };
    const Bytes old = Pattern(18);
    for (std::size_t i = 0; i < std::size(loads); ++i) {
        SCOPED_TRACE(i);
        ASSERT_HR(PLCreateStreamOnBytes(old.data(), 18, stream.Put()), S_OK);
        ASSERT_HR(m_page->SetStream(stream.Get()), S_OK);
        EXPECT_EQ(Content(), old);
        EXPECT_EQ(Content(), old);
        ASSERT_HR(loads[i](), S_OK);
        EXPECT_EQ(kdtest::LongOf<IPLPageData>(m_page.Get(), &IPLPageData::GetDataLength), 3);
        EXPECT_EQ(Content(), fresh);
        ASSERT_HR(m_page->GetStream(stream.Put()), S_OK);
        EXPECT_EQ(kdtest::ReadBytes(stream.Get(), 100), fresh);
        ASSERT_HR(m_page->SaveToFile(File("out").c_str()), S_OK);
        EXPECT_EQ(Read(Path("out")), fresh);
    }
}

// Files of every read path: empty, small, beyond the one-call read, beyond the persist loads'
// one-call limit; through IPLPageData and through IPLPersistFile. Loading a file records its path
// in the page's bag, which took the quality flag over from the bag before it (only where that
// bag had a readable flag).
TEST_F(PageDataTest, FilesRoundTripAndTheirPathGoesIntoTheProperties) {
    const auto unset = kdtest::BagOf({}), flagged = kdtest::BagOf({{u"qualityReduced", true}}),
               bag = kdtest::BagOf({{u"qualityReduced", false}}), odd = kdtest::BagOf({{u"qualityReduced", u"?"}});
    ASSERT_HR(m_page->SetProperties(odd.Get()), S_OK);
    ASSERT_HR(m_page->SetProperties(unset.Get()), S_OK);
    BOOL present = TRUE;
    EXPECT_HR(unset->ContainsKey(u"qualityReduced", &present), S_FALSE);
    ASSERT_HR(m_page->SetProperties(flagged.Get()), S_OK);
    ASSERT_HR(m_page->SetProperties(bag.Get()), S_OK);
    for (const int64_t size : {0, 10, 2048000 + 5, 32767999 + 1}) {
        SCOPED_TRACE(size);
        const Bytes bytes = Pattern(size);
        Write(Path("in"), bytes);
        ASSERT_HR(m_page->LoadFromFile(File("in").c_str()), S_OK);
        const HRESULT saved = size == 0 ? S_FALSE : S_OK;  // nothing to write
        ASSERT_HR(m_page->SaveToFile(File("out").c_str()), saved);
        EXPECT_EQ(Read(Path("out")), bytes);
        ASSERT_HR(As<IPLPersistFile>()->Load(File("out").c_str(), 0), S_OK);
        ASSERT_HR(As<IPLPersistFile>()->Save(File("again").c_str()), saved);
        EXPECT_EQ(Read(Path("again")), bytes);
    }
    bool flag = false;
    PLString path;
    EXPECT_HR(GetBoolFromPropertyBag(bag.Get(), u"qualityReduced", &flag), S_OK);
    EXPECT_HR(GetPLStringFromPropertyBag(bag.Get(), u"originalFilePath", &path), S_OK);
    EXPECT_EQ(std::pair(flag, std::u16string(path.view())), std::pair(true, File("in")));
}

TEST_F(PageDataTest, FileFailuresAreReported) {
    const std::u16string missing = File("missing"), dir = Wide(m_dir.path());
    EXPECT_TRUE(Reports(m_page->LoadFromFile(missing.c_str()), E_FAIL, u"Failed to open image file (erc=2)."));
    // A file of 2 GiB (sparse) is refused, not read with a negative size.
    ASSERT_EQ(::truncate((Write(Path("huge"), {}), Path("huge")).c_str(), int64_t{1} << 31), 0);
    EXPECT_HR(m_page->LoadFromFile(File("huge").c_str()), E_FAIL);
    EXPECT_HR(As<IPLPersistFile>()->Load(File("huge").c_str(), 0), E_FAIL);
    EXPECT_HR(m_page->SaveToFile(dir.c_str()), E_FAIL);
    EXPECT_TRUE(
        Reports(As<IPLPersistFile>()->Load(missing.c_str(), 0), E_FAIL, u"Failed to open file: '" + missing + u"'"));
    EXPECT_TRUE(Reports(As<IPLPersistFile>()->Save(File("no/such").c_str()), E_FAIL,
                        u"fopen_s() failed to open file: '" + File("no/such") + u"'"));
    // Skipping the read still records the path.
    ASSERT_HR(As<IPLPersistFile>()->Load(missing.c_str(), PL_PERSIST_FILE_NO_READ), S_OK);
    std::vector<WCHAR> buffer(missing.size() + 1, u'x');
    ASSERT_HR(As<IPLPersistFile>()->GetCurrentFile(buffer.data(), static_cast<LONG>(buffer.size())), S_OK);
    EXPECT_EQ(std::u16string(buffer.data()), missing);
}

// Saving replaces the file's content only: its mode and (where the saver may give it) its owner
// stay, a link is followed, and where no new file can be made beside it (a name at the longest
// allowed, a directory the saver may not write), it is no regular file or it has other names
// (hard links), it is written in place.
TEST_F(PageDataTest, SavesKeepWhatTheTargetWas) {
    const BYTE abc[3] = {'a', 'b', 'c'};
    ASSERT_HR(m_page->LoadFromBytes(abc, 3), S_OK);
    const bool root = ::geteuid() == 0;
    const std::string file = Path("file"), locked = Path("locked"), inLocked = locked + "/file",
                      longest = Path(std::string(255, 'n'));
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);
    ASSERT_EQ(::symlink("file", Path("link").c_str()), 0);
    for (const Saver& s : Savers()) {
        SCOPED_TRACE(s.name);
        for (const std::string& path : {file, inLocked, longest}) Write(path, {'x'});
        for (const std::string& path : {file, inLocked})
            ASSERT_TRUE(::chmod(path.c_str(), 0600) == 0 && (!root || ::chown(path.c_str(), 65534, 65534) == 0));
        ASSERT_EQ(::chmod(locked.c_str(), root ? 0755 : 0555), 0);
        ASSERT_HR(s.save(File("file")), S_OK);
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_TRUE(!root || (info.st_uid == 65534 && info.st_gid == 65534));
        ASSERT_HR(s.save(File("link")), S_OK);
        EXPECT_TRUE(::lstat(Path("link").c_str(), &info) == 0 && S_ISLNK(info.st_mode));
        EXPECT_EQ(Read(file), s.holds);
        Write(file, {'x'});  // a second name sees what the first was given
        ASSERT_EQ(::link(file.c_str(), Path("hard").c_str()), 0);
        ASSERT_HR(s.save(File("file")), S_OK);
        EXPECT_EQ(Read(Path("hard")), s.holds);
        ASSERT_EQ(::unlink(Path("hard").c_str()), 0);
        EXPECT_HR(s.save(Wide(longest)), S_OK);
        EXPECT_EQ(Read(longest), s.holds);
        EXPECT_HR(s.save(u"/dev/null"), S_OK);
        int pipe[2];  // reached through a link whose text names no file
        ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
        EXPECT_HR(s.save(Wide("/proc/self/fd/" + std::to_string(pipe[1]))), S_OK);
        Bytes piped(16);
        piped.resize(::close(pipe[1]) == 0 ? std::max<ssize_t>(::read(pipe[0], piped.data(), 16), 0) : 0);
        EXPECT_EQ(piped, s.holds);
        ::close(pipe[0]);
        EXPECT_EQ(kdtest::InChild([&] {
                      if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 2;
                      return s.save(Wide(inLocked)) == S_OK ? 0 : 1;
                  }),
                  0);
        EXPECT_EQ(Read(inLocked), s.holds);
        ASSERT_EQ(::chmod(locked.c_str(), 0755), 0);
    }
}

// A save that cannot be finished (here: past the largest file the process may write) leaves the
// file as it was; so does one to a FIFO nobody reads, which fails at once.
TEST_F(PageDataTest, FailedSavesLeaveTheTargetAsItWas) {
    const Bytes old = Pattern(2 << 20), content(2 << 20, 'n');
    ASSERT_HR(m_page->LoadFromBytes(content.data(), 2 << 20), S_OK);
    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const Saver& s : Savers()) {
        SCOPED_TRACE(s.name);
        Write(Path("target"), old);
        EXPECT_EQ(kdtest::InChild([&] {
                      std::signal(SIGXFSZ, SIG_IGN);
                      const rlimit limit{1 << 20, 1 << 20};
                      return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 && s.save(File("target")) == E_FAIL ? 0 : 1;
                  }),
                  0);
        EXPECT_TRUE(Read(Path("target")) == old);
        EXPECT_TRUE(kdtest::FailsAtOnce(fifo, [&] { return s.save(Wide(fifo)); }));
    }
}

// Every encoding is written as UTF-8; an unsupported one leaves the target alone.
TEST_F(PageDataTest, EveryEncodingIsWrittenAsUtf8) {
    const std::string bom = "\xEF\xBB\xBF", bad = "\xEF\xBF\xBD";
    const struct {
        LONGLONG encoding;
        std::string text, expected;  // in the encoding; what the file holds
    } cases[] = {
        {1252, "abc caf\xE9 \x80", bom + "abc caf\xC3\xA9 \xE2\x82\xAC"},
        {1252 + (LONGLONG{1} << 32), "caf\xE9", bom + "caf\xC3\xA9"},            // the low 32 bits name the code page
        {1200, std::string("a\0b\0\0\0c\0", 8), bom + std::string("ab\0c", 4)},  // past a zero character
        // Marked content: UTF-8 goes out unchanged; a UTF-16 mark becomes the UTF-8 mark.
        {65001, bom + "x", bom + "x"},
        {1200, std::string("\xFF\xFEh\0", 4), bom + "h"},
        // Every invalid sequence becomes U+FFFD, and a mark counts only where it agrees with the
        // encoding: otherwise its bytes are text like any other.
        {65001, bom + "x\xC0", bom + "x" + bad},
        {1200, std::string{'\0', '\xD8', 'a', '\0'}, bom + bad + "a"},
        {1200, std::string("a\0b", 3), bom + "a" + bad},
        {932, "\x82\xA0\x81\x20", bom + "\xE3\x81\x82" + bad + " "},
        {65001, std::string("\xFF\xFEh\0", 4), bom + bad + bad + std::string("h\0", 2)},
        {65001, "+/v8-", bom + "+/v8-"},
        {1200, std::string("\xEF\xBB\xBF\0", 4), bom + "\xEB\xAF\xAF\xC2\xBF"},
    };
    // A new page holds nothing, not even an empty buffer.
    ASSERT_HR(m_page->SaveToFileAsUTF8(File("u8").c_str(), 1200), S_OK);
    EXPECT_EQ(Read(Path("u8")), Bytes(bom.begin(), bom.end()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoding);
        ASSERT_HR(m_page->LoadFromBytes(reinterpret_cast<const BYTE*>(c.text.data()), static_cast<LONG>(c.text.size())),
                  S_OK);
        ASSERT_HR(m_page->SaveToFileAsUTF8(File("u8").c_str(), c.encoding), S_OK);
        EXPECT_EQ(Read(Path("u8")), Bytes(c.expected.begin(), c.expected.end()));
    }
    Write(Path("keep"), {'k'});
    for (const LONGLONG encoding : {1201, 65000, 99999}) {
        EXPECT_TRUE(Reports(m_page->SaveToFileAsUTF8(File("keep").c_str(), encoding), E_FAIL,
                            u"Unsupported encoding detected: " + Wide(std::to_string(encoding))));
        EXPECT_EQ(Read(Path("keep")), Bytes{'k'});
    }
    EXPECT_HR(m_page->SaveToFileAsUTF8(Wide(m_dir.path()).c_str(), 1252), E_FAIL);
    EXPECT_EQ(::access(m_dir.path().c_str(), F_OK), 0);
}

// SaveToBytes copies what fits. Every interface refuses a missing argument, path or place for
// its result (a null block is refused only where it holds bytes), and the content stays as it was.
TEST_F(PageDataTest, SaveToBytesCopiesWhatFitsAndMissingArgumentsChangeNothing) {
    const Bytes ten = Pattern(10);
    Bytes out(4);
    LONG size = 4;
    EXPECT_HR(As<IPLPersistMemory>()->SaveToBytes(out.data(), &size), S_FALSE);  // no content
    EXPECT_EQ(size, 0);
    ASSERT_HR(m_page->LoadFromBytes(ten.data(), 10), S_OK);
    size = 4;
    EXPECT_HR(As<IPLPersistMemory>()->SaveToBytes(out.data(), &size), S_FALSE);
    EXPECT_EQ(std::pair(size, out), std::pair(LONG{4}, Bytes(ten.begin(), ten.begin() + 4)));
    WCHAR buffer[1];
    HGLOBAL* noBlock = nullptr;
    for (const HRESULT hr :
         {m_page->GetDataLength(nullptr), m_page->GetStream(nullptr), m_page->GetProperties(nullptr),
          m_page->LoadFromBytes(nullptr, 1), m_page->LoadFromFile(nullptr), m_page->SaveToFile(nullptr),
          m_page->SaveToFileAsUTF8(nullptr, 65001), m_page->Append(nullptr, 1), m_page->SetProperties(nullptr),
          m_page->SetHGLOBAL(noBlock, 0), As<IPLPersistMemory>()->Save(0, nullptr),
          As<IPLPersistMemory>()->SaveToBytes(nullptr, nullptr), As<IPLPersistMemory>()->LoadFromBytes(nullptr, 1),
          As<IPLPersistStream>()->Load(nullptr), As<IPLPersistFile>()->GetCurrentFile(nullptr, 4),
          As<IPLPersistFile>()->Save(nullptr), As<IPLPersistFile>()->Load(nullptr, 0),
          As<IPLPersistFile>()->SetFileFlags(nullptr)})
        EXPECT_HR(hr, E_POINTER);
    EXPECT_HR(As<IPLPersistFile>()->GetCurrentFile(buffer, 0), E_INVALIDARG);
    EXPECT_HR(m_page->Append(nullptr, 0), S_OK);  // nothing to append
    EXPECT_EQ(Content(), ten);
}

}  // namespace
