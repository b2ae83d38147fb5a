// Hex conversion of arbitrary text and bytes. The first byte chooses the text encoding and the
// room given for the result. Text that decodes must be an even run of hex digits and encode back
// to itself in upper case; bytes must encode to text that decodes back to them. Nothing may be
// written past the room given.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/FuzzThread.h"
#include "module_base/PLError.h"
#include "module_base/PLHex.h"

KD_FUZZ_TARGET(data, size) {
    if (size < 1) return 0;
    // Failures are expected by the thousand: their recording is not what is fuzzed here.
    const CPLThreadErrorSuspender quiet;
    const uint8_t settings = data[0];
    ++data, --size;
    std::u16string text;
    if (settings & 1) {
        for (size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    } else {
        for (size_t i = 0; i < size; ++i) text += static_cast<char16_t>(data[i]);
    }
    text = text.substr(0, text.find(u'\0'));

    const LONG half = static_cast<LONG>(text.size() / 2);
    const LONG room = (settings & 2) ? half : half - (settings >> 2 & 1);
    std::vector<BYTE> bytes(static_cast<size_t>(room < 0 ? 0 : room) + 1, 0xEE);
    LONG count = room;
    const HRESULT hr = PLConvertHexToData(text.c_str(), bytes.data(), &count);
    if (bytes.back() != 0xEE) std::abort();
    if (hr == S_OK) {
        if (count != half) std::abort();
        std::u16string upper = text;
        for (char16_t& c : upper)
            if (c >= u'a' && c <= u'f') c = static_cast<char16_t>(c - 32);
        if (count > 0 && PLHexFromBytes(bytes.data(), static_cast<size_t>(count)).view() != upper) std::abort();
    } else if (count != room) {
        std::abort();
    }

    if (size > 0) {
        const LONG n = static_cast<LONG>(size);
        std::vector<WCHAR> hex(2 * size + 2, u'#');
        const LONG given = (settings & 8) ? 2 * n : 2 * n + 1;
        const HRESULT encoded = PLConvertDataToHex(data, n, hex.data(), given);
        if ((encoded == S_OK) != (given > 2 * n) || hex[given] != u'#') std::abort();
        if (encoded == S_OK) {
            std::vector<uint8_t> back;
            if (!PLBytesFromHex(std::u16string_view(hex.data(), 2 * size), back) ||
                back != std::vector<uint8_t>(data, data + size))
                std::abort();
        }
    }
    PLClearThreadErrors();
    return 0;
}
