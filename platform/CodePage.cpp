#include "platform/CodePage.h"

#include <errno.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>

namespace kd::platform {
namespace {

struct CodePageName {
    uint32_t codePage;
    const char* name;
};

// Sorted by number.
constexpr CodePageName kCodePages[] = {
    {0, "UTF-8"},  // the system's narrow text
    {1, "UTF-8"},
    {2, "UTF-8"},
    {3, "UTF-8"},
    {37, "ibm-37_P100-1995"},
    {437, "ibm-437_P100-1995"},
    {737, "ibm-737_P100-1997"},
    {775, "ibm-775_P100-1996"},
    {850, "ibm-850_P100-1995"},
    {852, "ibm-852_P100-1995"},
    {855, "ibm-855_P100-1995"},
    {857, "ibm-857_P100-1995"},
    {858, "ibm-858_P100-1997"},
    {860, "ibm-860_P100-1995"},
    {861, "ibm-861_P100-1995"},
    {862, "ibm-862_P100-1995"},
    {863, "ibm-863_P100-1995"},
    {864, "ibm-864_X110-1999"},
    {865, "ibm-865_P100-1995"},
    {866, "ibm-866_P100-1995"},
    {869, "ibm-869_P100-1995"},
    {874, "windows-874-2000"},
    {932, "ibm-943_P15A-2003"},
    {936, "windows-936-2000"},
    {949, "windows-949-2000"},
    {950, "windows-950-2000"},
    {1200, "UTF-16LE"},
    {1201, "UTF-16BE"},
    {1250, "windows-1250"},
    {1251, "windows-1251"},
    {1252, "windows-1252"},
    {1253, "windows-1253"},
    {1254, "windows-1254"},
    {1255, "windows-1255"},
    {1256, "windows-1256"},
    {1257, "windows-1257"},
    {1258, "windows-1258"},
    {10000, "macos-0_2-10.2"},
    {12000, "UTF-32LE"},
    {12001, "UTF-32BE"},
    {20127, "US-ASCII"},
    {20866, "KOI8-R"},
    {21866, "KOI8-U"},
    {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},
    {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"},
    {28605, "ISO-8859-15"},
    {50220, "ISO-2022-JP"},
    {51932, "EUC-JP"},
    {51949, "EUC-KR"},
    {54936, "GB18030"},
    {65000, "UTF-7"},
    {65001, "UTF-8"},
};

struct ConverterCloser {
    void operator()(UConverter* converter) const noexcept { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter OpenConverter(uint32_t codePage) {
    const char* name = CodePageConverterName(codePage);
    if (name == nullptr) return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(name, &status));
    if (U_FAILURE(status)) return nullptr;
    return converter;
}

// Decoding substitutes U+FFFD for every byte sequence that is invalid or has no mapping, in
// every code page (ICU's own substitute is U+001A in most code pages that are not Unicode).
void SubstituteReplacementCharacter(const void*, UConverterToUnicodeArgs* args, const char*, int32_t,
                                    UConverterCallbackReason reason, UErrorCode* status) {
    if (reason > UCNV_IRREGULAR) return;  // resetting, closing or cloning: nothing to write
    *status = U_ZERO_ERROR;
    static const UChar kReplacement = 0xFFFD;
    ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, status);
}

}  // namespace

const char* CodePageConverterName(uint32_t codePage) noexcept {
    const auto* found = std::lower_bound(std::begin(kCodePages), std::end(kCodePages), codePage,
                                         [](const CodePageName& entry, uint32_t n) { return entry.codePage < n; });
    return found != std::end(kCodePages) && found->codePage == codePage ? found->name : nullptr;
}

bool IsDecodableCodePage(uint32_t codePage) noexcept {
    return OpenConverter(codePage) != nullptr;
}

int AppendCodePageAsUtf16(std::u16string& out, uint32_t codePage, std::string_view bytes) {
    Converter converter = OpenConverter(codePage);
    if (!converter) return EINVAL;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setToUCallBack(converter.get(), SubstituteReplacementCharacter, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) return EINVAL;
    // Every byte yields at most two UTF-16 units (four-byte sequences give a surrogate pair).
    const std::size_t start = out.size();
    try {
        out.resize(start + bytes.size() * 2 + 2);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
    UChar* target = reinterpret_cast<UChar*>(out.data() + start);
    UChar* const targetEnd = reinterpret_cast<UChar*>(out.data() + out.size());
    const char* source = bytes.data();
    ucnv_toUnicode(converter.get(), &target, targetEnd, &source, bytes.data() + bytes.size(), nullptr, true, &status);
    out.resize(static_cast<std::size_t>(target - reinterpret_cast<UChar*>(out.data())));
    if (U_FAILURE(status)) return status == U_MEMORY_ALLOCATION_ERROR ? ENOMEM : EINVAL;
    return 0;
}

int AppendUtf16AsUtf8Bulk(std::string& out, std::u16string_view text, char32_t substitute) {
    // At most three bytes a unit (a surrogate pair: four bytes for two units; the substitute of
    // a unit without its pair: at most three). ICU takes 32-bit
    // lengths: convert in slices.
    constexpr std::size_t kSlice = std::size_t{1} << 28;
    for (std::size_t done = 0; done < text.size();) {
        std::size_t n = std::min(kSlice, text.size() - done);
        // A slice never ends between the units of a pair.
        if (done + n < text.size() && text[done + n - 1] >= 0xD800 && text[done + n - 1] <= 0xDBFF) --n;
        const std::size_t start = out.size();
        try {
            out.resize(start + n * 3);
        } catch (const std::bad_alloc&) {
            return ENOMEM;
        }
        int32_t length = 0;
        UErrorCode status = U_ZERO_ERROR;
        u_strToUTF8WithSub(out.data() + start, static_cast<int32_t>(n * 3), &length,
                           reinterpret_cast<const UChar*>(text.data() + done), static_cast<int32_t>(n),
                           static_cast<UChar32>(substitute), nullptr, &status);
        if (U_FAILURE(status)) return ENOMEM;
        out.resize(start + static_cast<std::size_t>(length));
        done += n;
    }
    return 0;
}

}  // namespace kd::platform
