// Date parsing and formatting of arbitrary text through arbitrary masks. The first byte chooses
// the locale, the null-date representation, the text encoding and the output buffer size; the
// rest is the mask, a 0 byte, and the text. A text that parses must give a valid date and time
// that the sortable, the default and the locale's masks write and read back unchanged, in the
// Gregorian and the Thai Buddhist calendars; formatting through the fuzzed mask must stay
// inside the buffer and terminate it.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <kdtrace/datetime.h>

#include "fuzz/FuzzThread.h"
#include "module_base/PLComObject.h"
#include "module_base/PLDateTime.h"
#include "module_base/PLError.h"

namespace {

// Bytes as Latin-1 characters, or (odd settings) pairs of bytes as UTF-16 code units.
std::u16string Decode(const uint8_t* data, size_t size, bool wide) {
    std::u16string out;
    if (!wide) {
        for (size_t i = 0; i < size; ++i) out += static_cast<char16_t>(data[i]);
    } else {
        for (size_t i = 0; i + 1 < size; i += 2) out += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    // The interface takes terminated text: an embedded 0 ends it.
    return out.substr(0, out.find(u'\0'));
}

// A Thai date-time (locale and calendar), made once while the process locale is Thai.
IPLDateTime* ThaiPrototype() {
    static IPLDateTime* const prototype = [] {
        const char* old = std::getenv("LC_ALL");
        const std::string saved = old != nullptr ? old : "";
        ::setenv("LC_ALL", "th_TH.UTF-8", 1);
        IPLDateTime* made = nullptr;
        if (PLCreateDateTime(0x041E, &made) < 0 || made->SetCalendarToCurrentDefault() < 0) std::abort();
        old != nullptr ? ::setenv("LC_ALL", saved.c_str(), 1) : ::unsetenv("LC_ALL");
        return made;
    }();
    return prototype;
}

// A new date-time with `like`'s locale and calendar and the given null-date check.
PLComPtr<IPLDateTime> Sibling(IPLDateTime* like, BOOL checkNullDate) {
    PLComPtr<IPLCloneable> cloneable;
    PLComPtr<IPLDateTimePriv> made;
    if (like->QueryInterface(IID_IPLCloneable, cloneable.PutVoid()) < 0 ||
        cloneable->Clone(IID_IPLDateTimePriv, made.PutVoid()) < 0 || made->SetCheckForPellumNullDate(checkNullDate) < 0)
        std::abort();
    return made;
}

bool DaysFit(LONG month, LONG day, LONG year) {
    static constexpr LONG kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return !(month == 2 && day == 29 && !leap);
}

}  // namespace

KD_FUZZ_TARGET(data, size) {
    if (size < 1) return 0;
    static constexpr LCID kLocales[8] = {0x0409, 0x0407, 0x040C, 0x0416, 0x0411, 0x041E, 0x0400, 0x7FFF};
    const uint8_t settings = data[0];
    const uint8_t* rest = data + 1;
    const size_t restSize = size - 1;
    size_t split = 0;
    while (split < restSize && rest[split] != 0) ++split;
    const bool wide = (settings & 0x10) != 0;
    const std::u16string mask = Decode(rest, split, wide);
    const std::u16string text = split < restSize ? Decode(rest + split + 1, restSize - split - 1, wide) : u"";

    const CPLThreadErrorSuspender quiet;
    IPLDateTime* created = nullptr;
    if (PLCreateDateTime(kLocales[settings & 7], &created) < 0) std::abort();
    PLComPtr<IPLDateTime> dt = PLComPtr<IPLDateTime>::Adopt(created);
    PLComPtr<IPLDateTimePriv> priv;
    if (dt.As(priv) < 0) std::abort();
    if (settings & 0x08) priv->SetCheckForPellumNullDate(FALSE);

    BOOL ok = FALSE;
    if (dt->InitializeFromStringEx(text.c_str(), mask.c_str(), &ok) < 0) std::abort();
    if (ok) {
        LONG m = 0, d = 0, y = 0, h = 0, mi = 0, s = 0;
        dt->GetDateTime(&m, &d, &y, &h, &mi, &s);
        if (!DaysFit(m, d, y) || y < 1753 || y > 2999 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
            std::abort();
        WCHAR sortable[64];
        if (dt->Format(u"%y-%2m-%2d %H:%M:%S", sortable, 64) < 0) std::abort();
        PLComPtr<IPLDateTime> back;
        if (PLCreateDateTime(0x0409, back.Put()) < 0) std::abort();
        if (back->InitializeFromString(sortable, u"%y-%2m-%2d %H:%M:%S") < 0) std::abort();
        LONG m2 = 0, d2 = 0, y2 = 0, h2 = 0, mi2 = 0, s2 = 0;
        back->GetDateTime(&m2, &d2, &y2, &h2, &mi2, &s2);
        if (m2 != m || d2 != d || y2 != y || h2 != h || mi2 != mi || s2 != s) std::abort();

        // What the library writes it reads back, whatever the mask and calendar.
        const BOOL check = (settings & 0x08) ? FALSE : TRUE;
        for (IPLDateTime* like : {dt.Get(), ThaiPrototype()})
            for (const char16_t* writeMask : {u"%m-%d-%y %h:%M:%S %p", u"SYSTEMDATETIME", u"%B %2d %y %H:%M:%S"}) {
                PLComPtr<IPLDateTime> writer = Sibling(like, check), reader = Sibling(like, check);
                if (writer->InitializeFromDateTime(dt.Get()) < 0) std::abort();
                WCHAR written[128];
                if (writer->Format(writeMask, written, 128) < 0) continue;  // an unknown locale has no mask
                if (reader->InitializeFromString(written, writeMask) < 0) std::abort();
                reader->GetDateTime(&m2, &d2, &y2, &h2, &mi2, &s2);
                if (m2 != m || d2 != d || y2 != y || h2 != h || mi2 != mi || s2 != s) std::abort();
            }
    }

    // Formatting through the fuzzed mask: at most size - 1 characters, then the terminator; the
    // rest of the buffer is left alone.
    const LONG bufferSize = 1 + (settings >> 5) * 9;  // 1 to 64
    WCHAR buffer[80];
    for (WCHAR& c : buffer) c = u'#';
    if (dt->Format(mask.c_str(), buffer, bufferSize) >= 0) {
        LONG n = 0;
        while (n < bufferSize && buffer[n] != 0) ++n;
        if (n == bufferSize) std::abort();
    }
    for (LONG i = bufferSize; i < 80; ++i)
        if (buffer[i] != u'#') std::abort();
    return 0;
}
