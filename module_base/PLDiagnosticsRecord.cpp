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

// Length of a text in UTF-16 units.
std::size_t Units(const PLDiagText& t) noexcept {
    if (t.narrow == nullptr) return t.size;
    std::size_t units = 0;
    for (std::size_t i = 0; i < t.size;) units += DecodeUtf8(t.narrow, t.size, &i) >= 0x10000 ? 2 : 1;
    return units;
}

// Writes at most `limit` units of a text, never splitting a surrogate pair; returns the units
// written.
std::size_t WriteText(char16_t* out, const PLDiagText& t, std::size_t limit) noexcept {
    if (t.narrow == nullptr) {
        std::size_t n = t.size < limit ? t.size : limit;
        if (n > 0 && n < t.size && IsHighSurrogate(t.wide[n - 1])) --n;
        for (std::size_t k = 0; k < n; ++k) out[k] = t.wide[k];
        return n;
    }
    std::size_t written = 0;
    for (std::size_t i = 0; i < t.size;) {
        const char32_t c = DecodeUtf8(t.narrow, t.size, &i);
        if (c >= 0x10000) {
            if (written + 2 > limit) break;
            out[written++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out[written++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            if (written + 1 > limit) break;
            out[written++] = static_cast<char16_t>(c);
        }
    }
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
    for (std::size_t i = 0; i < count; ++i) length += kColumnFixed + Units(columns[i].name) + Units(columns[i].value);
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

    // Values share the budget: the largest cap that lets every value up to it fit, so short
    // values stay whole and only the longest are shortened.
    // (Lengths of the first columns are kept, so that narrow values are not decoded again for
    // every step of the search.)
    constexpr std::size_t kCached = 16;
    std::size_t cached[kCached];
    const auto valueUnits = [&](std::size_t i) { return i < kCached ? cached[i] : Units(columns[i].value); };
    std::size_t total = 0;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < kept; ++i) {
        if (i < kCached) cached[i] = Units(columns[i].value);
        const std::size_t n = valueUnits(i);
        total += n;
        if (n > longest) longest = n;
    }
    std::size_t cap = longest;
    if (total > budget) {
        std::size_t lo = 0;
        std::size_t hi = longest;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo + 1) / 2;
            std::size_t sum = 0;
            for (std::size_t i = 0; i < kept && sum <= budget; ++i) {
                const std::size_t n = valueUnits(i);
                sum += n < mid ? n : mid;
            }
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
        p += WriteText(p, columns[i].name, static_cast<std::size_t>(-1));
        p = Put(p, kColumnValue);
        p += WriteText(p, columns[i].value, cap);
        p = Put(p, kColumnClose);
    }
    p = Put(p, kTrailer);
    *p++ = 0;
    return static_cast<std::size_t>(p - out);
}
