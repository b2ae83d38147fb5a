// Page data loaded from arbitrary bytes in one of its ways and saved in all of them, with an
// arbitrary declared encoding. The first byte chooses the encoding (low three bits) and the way
// in (next two bits); the second byte the size of the pieces appended or the stream position.
//
// Every way out must give back the bytes that went in (from a stream: from its position on).
// SaveToFileAsUTF8 must refuse the encodings it does not convert and otherwise write the UTF-8
// mark and then well-formed UTF-8, checked with ICU; UTF-8 content that is valid comes back as
// it went in (without a mark of its own), and so does valid UTF-16 content once decoded.
#include <unicode/ustring.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <kdtrace/kdtrace.h>

#include "fuzz/FuzzThread.h"
#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "platform/GlobalMemory.h"
#include "platform/Text.h"

namespace {

using Bytes = std::vector<BYTE>;

// The declared encodings: the Unicode ones, single- and multi-byte code pages, a stateful one,
// one that is refused and one that is no code page.
constexpr LONGLONG kEncodings[] = {65001, 1200, 0, 1252, 932, 50220, 1201, 424242};

// The two files each run writes, in $TMPDIR (else /tmp), removed when the program ends.
struct TempFiles {
    static std::string Path(const char* name) {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr && *dir != 0 ? dir : "/tmp") + "/kd-fuzz-pagedata-" +
               std::to_string(::getpid()) + name;
    }
    ~TempFiles() {
        ::unlink(data.c_str());
        ::unlink(text.c_str());
    }
    const std::string data = Path(".bin"), text = Path(".txt");
};

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// `bytes` as UTF-16 when they are well-formed UTF-8; false otherwise.
bool DecodeUtf8(const Bytes& bytes, std::u16string& out) {
    out.assign(bytes.size(), u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()), &length,
                  reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(bytes.size()), &status);
    out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
    return U_SUCCESS(status);
}

bool HasLoneSurrogate(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xDC00 && c <= 0xDFFF) return true;
        if (c >= 0xD800 && c <= 0xDBFF && !(i + 1 < text.size() && text[++i] >= 0xDC00 && text[i] <= 0xDFFF))
            return true;
    }
    return false;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

// Loads `content` into `page` the way `way` says; returns the bytes the page should then hold.
Bytes Load(IPLPageDataPriv* page, int way, BYTE setting, const Bytes& content) {
    const LONG size = static_cast<LONG>(content.size());
    switch (way) {
        case 0:
            Check(page->LoadFromBytes(content.data(), size) == S_OK);
            return content;
        case 1: {
            // In pieces of 1 to 256 bytes.
            const std::size_t piece = std::size_t{setting} + 1;
            for (std::size_t at = 0; at < content.size(); at += piece)
                Check(page->Append(content.data() + at, static_cast<LONG>(std::min(piece, content.size() - at))) ==
                      S_OK);
            return content;
        }
        case 2: {
            // From a stream positioned inside its bytes, held (SetStream) or read (Load).
            PLComPtr<IPLStream> stream;
            const BYTE none = 0;
            Check(PLCreateStreamOnBytes(size == 0 ? &none : content.data(), size, stream.Put()) == S_OK);
            const LONG position = size == 0 ? 0 : setting % (size + 1);
            Check(stream->Seek(position, PLStreamSeekFromStart) == S_OK);
            if (setting & 1) {
                Check(page->SetStream(stream.Get()) == S_OK);
                return content;
            }
            PLComPtr<IPLPersistStream> persist;
            Check(page->QueryInterface(IID_IPLPersistStream, persist.PutVoid()) == S_OK);
            Check(persist->Load(stream.Get()) == S_OK);
            return Bytes(content.begin() + position, content.end());
        }
        default: {
            HGLOBAL block = kd::platform::AllocGlobalBlock(0, content.size());
            if (size > 0) std::copy(content.begin(), content.end(), kd::platform::LockGlobalBlock(block));
            kd::platform::UnlockGlobalBlock(block);
            Check(page->SetHGLOBAL(&block, size) == S_OK);
            return content;
        }
    }
}

}  // namespace

KD_FUZZ_TARGET(data, size) {
    if (size < 2) return 0;
    // Failures are expected: their recording is not what is fuzzed here.
    const CPLThreadErrorSuspender quiet;
    const LONGLONG encoding = kEncodings[data[0] & 7];
    const int way = data[0] >> 3 & 3;
    const BYTE setting = data[1];
    const Bytes content(data + 2, data + size);

    PLComPtr<IPLPageDataPriv> page;
    Check(PLCreateInstance(CLSID_PLPageData, page) == S_OK);
    const Bytes held = Load(page.Get(), way, setting, content);

    // Every way out gives the same bytes.
    PLComPtr<IPLPersistMemory> memory;
    Check(page.As(memory) == S_OK);
    LONG length = -1;
    Check(memory->SaveToBytes(nullptr, &length) == S_OK && length == static_cast<LONG>(held.size()));
    Bytes copied(held.size() + 1, 0xEE);
    length = static_cast<LONG>(copied.size());
    const HRESULT copiedResult = memory->SaveToBytes(copied.data(), &length);
    Check(copiedResult == (held.empty() ? S_FALSE : S_OK) && Bytes(copied.begin(), copied.begin() + length) == held);
    PLComPtr<IPLStream> stream;
    Check(page->GetStream(stream.Put()) == S_OK);
    Bytes streamed(held.size() + 1);
    LONG read = 0;
    Check(stream->Read(streamed.data(), static_cast<LONG>(streamed.size()), &read) == S_OK);
    Check(Bytes(streamed.begin(), streamed.begin() + read) == held);
    static const TempFiles files;
    const std::u16string dataPath = kd::platform::Utf8ToUtf16(files.data),
                         textPath = kd::platform::Utf8ToUtf16(files.text);
    Check(page->SaveToFile(dataPath.c_str()) >= 0 && ReadFile(files.data) == held);

    // The text as UTF-8.
    const HRESULT saved = page->SaveToFileAsUTF8(textPath.c_str(), encoding);
    if (encoding == 1201 || encoding == 424242) {
        Check(saved == E_FAIL);
    } else {
        Check(saved == S_OK);
        const Bytes written = ReadFile(files.text);
        Check(written.size() >= 3 && written[0] == 0xEF && written[1] == 0xBB && written[2] == 0xBF);
        const Bytes body(written.begin() + 3, written.end());
        std::u16string decoded;
        Check(DecodeUtf8(body, decoded));
        std::u16string expected;
        if (encoding == 65001 && DecodeUtf8(held, expected)) {
            const bool marked = held.size() >= 3 && held[0] == 0xEF && held[1] == 0xBB && held[2] == 0xBF;
            Check(body == (marked ? Bytes(held.begin() + 3, held.end()) : held));
        }
        if (encoding == 1200 && held.size() % 2 == 0) {
            expected.resize(held.size() / 2);
            for (std::size_t i = 0; i < expected.size(); ++i)
                expected[i] = static_cast<char16_t>(held[2 * i] | held[2 * i + 1] << 8);
            if (!expected.empty() && expected[0] == u'\uFEFF') expected.erase(0, 1);
            if (!HasLoneSurrogate(expected)) Check(decoded == expected);
        }
    }
    PLClearThreadErrors();
    return 0;
}
