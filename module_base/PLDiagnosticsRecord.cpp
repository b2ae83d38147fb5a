// The diagInfo record: the exact text a diagnostics console reads.
#include "module_base/PLDiagnosticsRecord.h"

#include "platform/DiagWire.h"
#include "platform/NumberText.h"

#include <cstdint>

namespace {

using namespace kd::platform::diagwire;

constexpr std::size_t kColumnFixed = kColumnOpen.size() + kColumnValue.size() + kColumnClose.size();

constexpr std::u16string_view kHeaders[] = {
    u"<diagInfo><type><![CDATA[db-profile]]></type>",        u"<diagInfo><type><![CDATA[error-profile]]></type>",
    u"<diagInfo><type><![CDATA[file-profile]]></type>",      u"<diagInfo><type><![CDATA[ldap-profile]]></type>",
    u"<diagInfo><type><![CDATA[workflow-profile]]></type>",  u"<diagInfo><type><![CDATA[vbscript-profile]]></type>",
    u"<diagInfo><type><![CDATA[tcverbose-profile]]></type>",
};

bool IsHighSurrogate(char16_t c) noexcept {
    return c >= 0xD800 && c <= 0xDBFF;
}

// Decodes the code point at s[*i], advancing *i. A malformed sequence yields U+FFFD and
// consumes one byte.
char32_t DecodeUtf8(const char* s, std::size_t n, std::size_t* i) noexcept {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(*i);
    std::size_t extra;
    char32_t c;
    char32_t minimum;
    if (b0 < 0x80) {
        ++*i;
        return b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        extra = 1, c = b0 & 0x1F, minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        extra = 2, c = b0 & 0x0F, minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        extra = 3, c = b0 & 0x07, minimum = 0x10000;
    } else {
        ++*i;
        return 0xFFFD;
    }
    if (n - *i <= extra) {
        ++*i;
        return 0xFFFD;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
        const unsigned char b = byte(*i + k);
        if ((b & 0xC0) != 0x80) {
            ++*i;
            return 0xFFFD;
        }
        c = (c << 6) | (b & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++*i;
        return 0xFFFD;
    }
    *i += extra + 1;
    return c;
}

bool IsLowSurrogate(char16_t c) noexcept {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Calls visit(code point) for each code point of a text that fits in `limit` UTF-16 units,
// never splitting a surrogate pair; returns the units consumed. An unpaired surrogate is passed
// on as itself (a value in D800-DFFF).
template <class Visit>
std::size_t ForEachCodePoint(const PLDiagText& t, std::size_t limit, Visit&& visit) noexcept {
    std::size_t consumed = 0;
    if (t.narrow == nullptr) {
        for (std::size_t i = 0; i < t.size;) {
            const char16_t c = t.wide[i];
            const bool pair = IsHighSurrogate(c) && i + 1 < t.size && IsLowSurrogate(t.wide[i + 1]);
            const std::size_t units = pair ? 2 : 1;
            if (consumed + units > limit) break;
            visit(pair ? 0x10000 + ((char32_t{c} - 0xD800) << 10) + (t.wide[i + 1] - 0xDC00) : char32_t{c});
            consumed += units;
            i += units;
        }
        return consumed;
    }
    for (std::size_t i = 0; i < t.size;) {
        const char32_t c = DecodeUtf8(t.narrow, t.size, &i);
        const std::size_t units = c >= 0x10000 ? 2 : 1;
        if (consumed + units > limit) break;
        visit(c);
        consumed += units;
    }
    return consumed;
}

// Length of a text in UTF-16 units.
std::size_t Units(const PLDiagText& t) noexcept {
    if (t.narrow == nullptr) return t.size;
    return ForEachCodePoint(t, static_cast<std::size_t>(-1), [](char32_t) {});
}

// Characters an XML 1.0 document may hold.
bool IsXmlChar(char32_t c) noexcept {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// Writes a value for its CDATA section (or, with a null `out`, only counts): "]]>" in the value
// becomes "]]]]><![CDATA[>" (the section is split between the brackets and ">"), a carriage
// return leaves the section as the reference "&#13;" (a parser would turn it into a line feed
// inside the section), and characters XML cannot hold become U+FFFD. A parser then reads the
// value back exactly, save for those characters.
class ValueWriter {
public:
    explicit ValueWriter(char16_t* out) noexcept : m_out(out) {}
    void operator()(char32_t c) noexcept {
        if (c == u'\r') {
            Put(kCarriageReturn);
            m_brackets = 0;
            return;
        }
        if (!IsXmlChar(c)) c = 0xFFFD;
        if (c == u'>' && m_brackets >= 2) Put(kSectionSplit);
        m_brackets = c == u']' ? m_brackets + 1 : 0;
        if (c >= 0x10000) {
            Put(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            Put(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            Put(static_cast<char16_t>(c));
        }
    }
    std::size_t written() const noexcept { return m_written; }

private:
    void Put(char16_t c) noexcept {
        if (m_out != nullptr) m_out[m_written] = c;
        ++m_written;
    }
    void Put(std::u16string_view s) noexcept {
        for (const char16_t c : s) Put(c);
    }

    char16_t* m_out;
    std::size_t m_written = 0;
    std::size_t m_brackets = 0;  // "]" just before, in the value
};

// The written length of the first `limit` units of a value.
std::size_t ValueLength(const PLDiagText& t, std::size_t limit) noexcept {
    ValueWriter counter(nullptr);
    ForEachCodePoint(t, limit, counter);
    return counter.written();
}

// Writes the first `limit` units of a value; returns the units written.
std::size_t WriteValue(char16_t* out, const PLDiagText& t, std::size_t limit) noexcept {
    ValueWriter writer(out);
    ForEachCodePoint(t, limit, writer);
    return writer.written();
}

// Writes a name as it is.
std::size_t WriteText(char16_t* out, const PLDiagText& t) noexcept {
    std::size_t written = 0;
    ForEachCodePoint(t, static_cast<std::size_t>(-1), [&](char32_t c) {
        if (c >= 0x10000) {
            out[written++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out[written++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out[written++] = static_cast<char16_t>(c);
        }
    });
    return written;
}

// Decimal text of a value with at least `minDigits` digits.
std::size_t IntText(int64_t value, std::size_t minDigits, char16_t* out) noexcept {
    const bool negative = value < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char16_t digits[20];
    const std::size_t n = kd::platform::DecimalDigits(magnitude, digits);
    std::size_t pos = 0;
    if (negative) out[pos++] = u'-';
    for (std::size_t pad = n; pad < minDigits; ++pad) out[pos++] = u'0';
    for (std::size_t i = 0; i < n; ++i) out[pos++] = digits[i];
    return pos;
}

// "M/D/YYYY h:mm:ss AM": a 12-hour clock (0 and 12 are written as 12), no leading zeros but
// on minutes and seconds.
std::size_t TimeText(const PLDiagnosticsTime& t, char16_t* out) noexcept {
    std::size_t pos = 0;
    pos += IntText(t.month, 1, out + pos);
    out[pos++] = u'/';
    pos += IntText(t.day, 1, out + pos);
    out[pos++] = u'/';
    pos += IntText(t.year, 1, out + pos);
    out[pos++] = u' ';
    int32_t hour = t.hour % 12;
    if (hour == 0) hour = 12;
    pos += IntText(hour, 1, out + pos);
    out[pos++] = u':';
    pos += IntText(t.minute, 2, out + pos);
    out[pos++] = u':';
    pos += IntText(t.second, 2, out + pos);
    out[pos++] = u' ';
    out[pos++] = t.hour < 12 ? u'A' : u'P';
    out[pos++] = u'M';
    return pos;
}

constexpr std::size_t kTimeTextMax = 6 * 21 + 10;

std::size_t FixedLength(std::u16string_view header, std::size_t timeLength) noexcept {
    return kLead.size() + header.size() + kTimeOpen.size() + timeLength + kTimeClose.size() + kTrailer.size() + 1;
}

char16_t* Put(char16_t* out, std::u16string_view s) noexcept {
    for (const char16_t c : s) *out++ = c;
    return out;
}

}  // namespace

std::u16string_view PLDiagProfileHeader(ULONG profile) noexcept {
    switch (profile) {
        case PL_DIAG_PROFILE_DB:
            return kHeaders[0];
        case PL_DIAG_PROFILE_ERROR:
            return kHeaders[1];
        case PL_DIAG_PROFILE_FILE:
            return kHeaders[2];
        case PL_DIAG_PROFILE_LDAP:
            return kHeaders[3];
        case PL_DIAG_PROFILE_WORKFLOW:
            return kHeaders[4];
        case PL_DIAG_PROFILE_VBSCRIPT:
            return kHeaders[5];
        case PL_DIAG_PROFILE_TCVERBOSE:
            return kHeaders[6];
        default:
            return {};
    }
}

std::size_t PLDiagRecordLength(ULONG profile, const PLDiagnosticsTime& time, const PLDiagColumn* columns,
                               std::size_t count) noexcept {
    char16_t timeText[kTimeTextMax];
    std::size_t length = FixedLength(PLDiagProfileHeader(profile), TimeText(time, timeText));
    for (std::size_t i = 0; i < count; ++i)
        length += kColumnFixed + Units(columns[i].name) + ValueLength(columns[i].value, static_cast<std::size_t>(-1));
    return length;
}

std::size_t PLBuildDiagRecord(char16_t* out, std::size_t capacity, ULONG profile, const PLDiagnosticsTime& time,
                              const PLDiagColumn* columns, std::size_t count) noexcept {
    const std::u16string_view header = PLDiagProfileHeader(profile);
    char16_t timeText[kTimeTextMax];
    const std::size_t timeLength = TimeText(time, timeText);
    const std::size_t fixed = FixedLength(header, timeLength);
    if (out == nullptr || capacity < fixed) return 0;

    // Names are never cut: leave whole columns off the end while the names alone do not fit.
    std::size_t kept = count;
    std::size_t namesLength = 0;
    for (std::size_t i = 0; i < count; ++i) namesLength += kColumnFixed + Units(columns[i].name);
    while (kept > 0 && fixed + namesLength > capacity) {
        --kept;
        namesLength -= kColumnFixed + Units(columns[kept].name);
    }
    const std::size_t budget = capacity - fixed - namesLength;

    // Values share the budget: the largest cap (in units of the value itself) that lets every
    // value, cut to it and written, fit, so short values stay whole and only the longest are
    // shortened. (Lengths of the first columns are kept, so that values are not walked again for
    // every step of the search when they are not cut.)
    constexpr std::size_t kCached = 16;
    std::size_t cachedUnits[kCached];
    std::size_t cachedWritten[kCached];
    std::size_t total = 0;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < kept; ++i) {
        const std::size_t n = Units(columns[i].value);
        const std::size_t written = ValueLength(columns[i].value, n);
        if (i < kCached) cachedUnits[i] = n, cachedWritten[i] = written;
        total += written;
        if (n > longest) longest = n;
    }
    const auto writtenAt = [&](std::size_t i, std::size_t cap) {
        if (i < kCached && cap >= cachedUnits[i]) return cachedWritten[i];
        return ValueLength(columns[i].value, cap);
    };
    std::size_t cap = longest;
    if (total > budget) {
        std::size_t lo = 0;
        std::size_t hi = longest;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo + 1) / 2;
            std::size_t sum = 0;
            for (std::size_t i = 0; i < kept && sum <= budget; ++i) sum += writtenAt(i, mid);
            if (sum <= budget)
                lo = mid;
            else
                hi = mid - 1;
        }
        cap = lo;
    }

    char16_t* p = out;
    p = Put(p, kLead);
    p = Put(p, header);
    p = Put(p, kTimeOpen);
    p = Put(p, std::u16string_view(timeText, timeLength));
    p = Put(p, kTimeClose);
    for (std::size_t i = 0; i < kept; ++i) {
        p = Put(p, kColumnOpen);
        p += WriteText(p, columns[i].name);
        p = Put(p, kColumnValue);
        p += WriteValue(p, columns[i].value, cap);
        p = Put(p, kColumnClose);
    }
    p = Put(p, kTrailer);
    *p++ = 0;
    return static_cast<std::size_t>(p - out);
}
