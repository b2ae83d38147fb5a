// Reads and writes a file through page data and a file stream: a UTF-16 text file is loaded
// into page data, written out again as UTF-8 (with a byte-order mark), and that file is read
// back line by line through a file stream and, in part, through a sub-stream.
//
//   example_file_and_page_data [MODULE]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <kdtrace/host.h>
#include <kdtrace/kdtrace.h>

using kdtrace::host::ComPtr;
using kdtrace::host::ToUtf16;
using kdtrace::host::ToUtf8;

namespace {

const char* const kLines[] = {"Invoice 2026-0314\n", "Grüße aus Köln\n", "Total: 19,95 €\n"};

// A file of UTF-16 little-endian text with its byte-order mark.
bool WriteUtf16File(const std::string& path) {
    std::u16string text = u"\uFEFF";
    for (const char* line : kLines) text += ToUtf16(line);
    std::ofstream out(path, std::ios::binary);
    for (const char16_t c : text) out.put(static_cast<char>(c & 0xFF)).put(static_cast<char>(c >> 8));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    kdtrace::host::Module module;
    if (!module.Load(argc > 1 ? argv[1] : "")) {
        std::fprintf(stderr, "%s\n", module.Error().c_str());
        return 1;
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string base =
        std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/kdtrace-example-" + std::to_string(::getpid());
    const std::string source = base + "-utf16.txt", target = base + "-utf8.txt";
    if (!WriteUtf16File(source)) return 1;

    // Page data: load the file, convert it. Paths are UTF-16 like all the module's text.
    ComPtr<IPLPageData> page = module.Create<IPLPageData>(CLSID_PLPageData);
    LONG length = 0;
    if (!page || FAILED(page->LoadFromFile(ToUtf16(source).c_str())) || FAILED(page->GetDataLength(&length)) ||
        FAILED(page->SaveToFileAsUTF8(ToUtf16(target).c_str(), PLTextEncodingUtf16LE))) {
        std::fprintf(stderr, "%s", module.TakeErrorText().c_str());
        return 1;
    }
    // Loading a file records where it came from in the page's own property bag.
    ComPtr<IPLPropertyBag> properties;
    ComPtr<IPLVariant> origin;
    page->GetProperties(properties.Put());
    WCHAR originPath[512] = {};
    if (properties->GetProperty(u"originalFilePath", origin.Put()) == S_OK) origin->GetValueString(originPath, 512);
    std::printf("page data: %d bytes from %s\n", length, ToUtf8(originPath).c_str());

    // A file stream over the whole UTF-8 file (size -1): one line per ReadString.
    ComPtr<IPLFileStreamPriv> stream = module.Create<IPLFileStreamPriv>(CLSID_PLFileStream);
    if (!stream || FAILED(stream->Initialize(ToUtf16(target).c_str(), FALSE, 0, -1))) {
        std::fprintf(stderr, "%s", module.TakeErrorText().c_str());
        return 1;
    }
    LONG size = 0;
    stream->GetSize(&size);
    std::string expected = "\xEF\xBB\xBF";
    for (const char* line : kLines) expected += line;
    std::string read;
    char line[256];
    for (LONG got = 0; SUCCEEDED(stream->ReadString(line, sizeof line, &got)) && got > 0;) read.append(line, got);
    std::printf("UTF-8 file: %d bytes, read back %s", size, read == expected ? "unchanged:\n" : "DIFFERENT:\n");
    std::printf("%s", read.c_str() + 3);

    // A sub-stream over the second line only: offset and length within the stream's segment.
    const LONG offset = static_cast<LONG>(3 + std::string(kLines[0]).size());
    const LONG count = static_cast<LONG>(std::string(kLines[1]).size());
    ComPtr<IPLStream> part;
    char bytes[64] = {};
    LONG got = 0;
    const bool partOk = SUCCEEDED(stream->GetSubstream(offset, count, part.Put())) &&
                        SUCCEEDED(part->Read(reinterpret_cast<BYTE*>(bytes), sizeof bytes, &got)) &&
                        std::string(bytes, got) == kLines[1];
    std::printf("second line through a sub-stream: %s", std::string(bytes, got).c_str());

    stream->Close();
    std::remove(source.c_str());
    std::remove(target.c_str());
    const bool ok = read == expected && partOk && length == 2 * static_cast<LONG>(ToUtf16(expected).size());
    std::puts(ok ? "ok" : "MISMATCH");
    return ok ? 0 : 1;
}
