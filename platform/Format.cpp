#include "platform/Format.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "platform/Text.h"

namespace kd::platform {
namespace {

struct Directive {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    int width = 0;
    int precision = -1;
    int bits = 32;        // integer size the conversion names
    bool narrow = false;  // h / S / C: narrow text or character
    bool wide = false;    // l / w: wide text or character
    char16_t conv = 0;
};

void AppendAscii(std::u16string& out, std::string_view s) {
    out.append(s.begin(), s.end());
}

void Placeholder(std::u16string& out, char16_t conv, std::string_view why) {
    out += u"%!";
    if (conv != 0) out.push_back(conv);
    out.push_back(u'(');
    AppendAscii(out, why);
    out.push_back(u')');
}

void Pad(std::u16string& out, int count, char16_t fill) {
    if (count > 0) out.append(static_cast<std::size_t>(count), fill);
}

// Writes `body` (already converted) with the directive's width and justification.
void Justify(std::u16string& out, const Directive& directive, std::u16string_view body) {
    const int pad = directive.width - static_cast<int>(body.size());
    if (!directive.left) Pad(out, pad, u' ');
    out.append(body);
    if (directive.left) Pad(out, pad, u' ');
}

void FormatInteger(std::u16string& out, const Directive& directive, const FormatArg& arg) {
    if (arg.kind() != FormatArg::Kind::Signed && arg.kind() != FormatArg::Kind::Unsigned) {
        Placeholder(out, directive.conv, "bad argument");
        return;
    }
    // Cut or extend the 64-bit value to the size the conversion names, as printf would read it.
    const std::uint64_t raw = arg.AsUnsigned();
    const bool isSigned = directive.conv == u'd' || directive.conv == u'i';
    std::uint64_t magnitude;
    bool negative = false;
    if (isSigned) {
        std::int64_t v;
        switch (directive.bits) {
            case 8:
                v = static_cast<std::int8_t>(raw);
                break;
            case 16:
                v = static_cast<std::int16_t>(raw);
                break;
            case 32:
                v = static_cast<std::int32_t>(raw);
                break;
            default:
                v = static_cast<std::int64_t>(raw);
                break;
        }
        negative = v < 0;
        magnitude = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    } else {
        switch (directive.bits) {
            case 8:
                magnitude = static_cast<std::uint8_t>(raw);
                break;
            case 16:
                magnitude = static_cast<std::uint16_t>(raw);
                break;
            case 32:
                magnitude = static_cast<std::uint32_t>(raw);
                break;
            default:
                magnitude = raw;
                break;
        }
    }
    int base = 10;
    if (directive.conv == u'x' || directive.conv == u'X') base = 16;
    if (directive.conv == u'o') base = 8;

    char digits[72];
    int ndigits = 0;
    if (!(directive.precision == 0 && magnitude == 0)) {
        auto res = std::to_chars(digits, digits + sizeof digits, magnitude, base);
        ndigits = static_cast<int>(res.ptr - digits);
        if (directive.conv == u'X')
            for (int i = 0; i < ndigits; ++i)
                if (digits[i] >= 'a' && digits[i] <= 'f') digits[i] = static_cast<char>(digits[i] - 32);
    }
    std::string_view prefix;
    if (isSigned) {
        if (negative)
            prefix = "-";
        else if (directive.plus)
            prefix = "+";
        else if (directive.space)
            prefix = " ";
    } else if (directive.alt && magnitude != 0) {
        if (base == 16)
            prefix = directive.conv == u'X' ? "0X" : "0x";
        else if (base == 8 && (directive.precision <= ndigits))
            prefix = "0";
    }
    int zeros = directive.precision > ndigits ? directive.precision - ndigits : 0;
    const int used = static_cast<int>(prefix.size()) + zeros + ndigits;
    if (directive.zero && !directive.left && directive.precision < 0 && directive.width > used)
        zeros += directive.width - used;
    const int total = static_cast<int>(prefix.size()) + zeros + ndigits;
    if (!directive.left) Pad(out, directive.width - total, u' ');
    AppendAscii(out, prefix);
    Pad(out, zeros, u'0');
    AppendAscii(out, std::string_view(digits, static_cast<std::size_t>(ndigits)));
    if (directive.left) Pad(out, directive.width - total, u' ');
}

void FormatFloat(std::u16string& out, const Directive& directive, const FormatArg& arg) {
    double value;
    switch (arg.kind()) {
        case FormatArg::Kind::Double:
            value = arg.AsDouble();
            break;
        case FormatArg::Kind::Signed:
            value = static_cast<double>(arg.AsSigned());
            break;
        case FormatArg::Kind::Unsigned:
            value = static_cast<double>(arg.AsUnsigned());
            break;
        default:
            Placeholder(out, directive.conv, "bad argument");
            return;
    }
    char fmt[32];
    char* p = fmt;
    *p++ = '%';
    if (directive.left) *p++ = '-';
    if (directive.plus) *p++ = '+';
    if (directive.space) *p++ = ' ';
    if (directive.alt) *p++ = '#';
    if (directive.zero) *p++ = '0';
    *p++ = '*';
    *p++ = '.';
    *p++ = '*';
    *p++ = static_cast<char>(directive.conv);
    *p = 0;
    const int width = directive.width;
    const int precision = directive.precision;  // negative: as if none were given (%a then prints exactly)
    char stackBuf[512];
    const int n = std::snprintf(stackBuf, sizeof stackBuf, fmt, width, precision, value);
    if (n < 0) {
        Placeholder(out, directive.conv, "bad argument");
        return;
    }
    if (static_cast<std::size_t>(n) < sizeof stackBuf) {
        AppendAscii(out, std::string_view(stackBuf, static_cast<std::size_t>(n)));
        return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), fmt, width, precision, value);
    big.pop_back();
    AppendAscii(out, big);
}

void FormatString(std::u16string& out, const Directive& directive, const FormatArg& arg) {
    std::u16string converted;
    std::u16string_view text;
    const std::size_t limit = directive.precision >= 0 ? static_cast<std::size_t>(directive.precision) : SIZE_MAX;
    switch (arg.kind()) {
        case FormatArg::Kind::Wide:
            if (arg.AsWide() == nullptr) {
                text = u"(null)";
            } else if (arg.Length() >= 0) {
                text = std::u16string_view(arg.AsWide(), static_cast<std::size_t>(arg.Length()));
            } else {
                text = std::u16string_view(arg.AsWide(), Utf16Length(arg.AsWide(), limit));
            }
            break;
        case FormatArg::Kind::Narrow:
            if (arg.AsNarrow() == nullptr) {
                text = u"(null)";
            } else {
                const std::size_t n =
                    arg.Length() >= 0 ? static_cast<std::size_t>(arg.Length()) : std::strlen(arg.AsNarrow());
                AppendUtf8AsUtf16(converted, std::string_view(arg.AsNarrow(), n));
                text = converted;
            }
            break;
        case FormatArg::Kind::Pointer:
            if (arg.AsPointer() == nullptr) {
                text = u"(null)";
                break;
            }
            [[fallthrough]];
        default:
            Placeholder(out, directive.conv, "bad argument");
            return;
    }
    if (text.size() > limit) text = text.substr(0, limit);
    Justify(out, directive, text);
}

void FormatChar(std::u16string& out, const Directive& directive, const FormatArg& arg) {
    if (arg.kind() != FormatArg::Kind::Signed && arg.kind() != FormatArg::Kind::Unsigned) {
        Placeholder(out, directive.conv, "bad argument");
        return;
    }
    char16_t c;
    if (directive.narrow) {
        const auto b = static_cast<std::uint8_t>(arg.AsUnsigned());
        c = b < 0x80 ? b : char16_t{0xFFFD};
    } else {
        c = static_cast<char16_t>(arg.AsUnsigned());
    }
    Justify(out, directive, std::u16string_view(&c, 1));
}

void FormatPointer(std::u16string& out, const Directive& directive, const FormatArg& arg) {
    std::uint64_t v;
    switch (arg.kind()) {
        case FormatArg::Kind::Pointer:
            v = reinterpret_cast<std::uintptr_t>(arg.AsPointer());
            break;
        case FormatArg::Kind::Wide:
            v = reinterpret_cast<std::uintptr_t>(arg.AsWide());
            break;
        case FormatArg::Kind::Narrow:
            v = reinterpret_cast<std::uintptr_t>(arg.AsNarrow());
            break;
        case FormatArg::Kind::Signed:
        case FormatArg::Kind::Unsigned:
            v = arg.AsUnsigned();
            break;
        default:
            Placeholder(out, directive.conv, "bad argument");
            return;
    }
    char16_t buf[16];
    for (int i = 15; i >= 0; --i, v >>= 4) buf[i] = u"0123456789ABCDEF"[v & 0xF];
    Justify(out, directive, std::u16string_view(buf, 16));
}

// Widths and precisions are capped so that a hostile format cannot ask for gigabytes.
constexpr int kMaxWidth = 65536;

// Reads a decimal number, capped at kMaxWidth, advancing `i`.
int ReadNumber(std::u16string_view f, std::size_t& i) {
    int v = 0;
    while (i < f.size() && f[i] >= u'0' && f[i] <= u'9') {
        if (v <= kMaxWidth) v = v * 10 + (f[i] - u'0');
        ++i;
    }
    return v > kMaxWidth ? kMaxWidth : v;
}

}  // namespace

void FormatAppend(std::u16string& out, std::u16string_view f, FormatArgs args) {
    std::size_t next = 0;
    auto take = [&]() -> const FormatArg* { return next < args.size() ? &args[next++] : nullptr; };
    std::size_t i = 0;
    while (i < f.size()) {
        const std::size_t pct = f.find(u'%', i);
        if (pct == std::u16string_view::npos) {
            out.append(f.substr(i));
            break;
        }
        out.append(f.substr(i, pct - i));
        i = pct + 1;
        if (i >= f.size()) {
            out.push_back(u'%');
            break;
        }
        if (f[i] == u'%') {
            out.push_back(u'%');
            ++i;
            continue;
        }
        Directive directive;
        for (bool more = true; more && i < f.size();) {
            switch (f[i]) {
                case u'-':
                    directive.left = true, ++i;
                    break;
                case u'+':
                    directive.plus = true, ++i;
                    break;
                case u' ':
                    directive.space = true, ++i;
                    break;
                case u'#':
                    directive.alt = true, ++i;
                    break;
                case u'0':
                    directive.zero = true, ++i;
                    break;
                default:
                    more = false;
                    break;
            }
        }
        bool missing = false;
        if (i < f.size() && f[i] == u'*') {
            ++i;
            const FormatArg* a = take();
            if (a == nullptr || (a->kind() != FormatArg::Kind::Signed && a->kind() != FormatArg::Kind::Unsigned)) {
                missing = true;
            } else {
                std::int64_t w = static_cast<std::int32_t>(a->AsUnsigned());
                if (w < 0) directive.left = true, w = -w;
                directive.width = w > kMaxWidth ? kMaxWidth : static_cast<int>(w);
            }
        } else {
            directive.width = ReadNumber(f, i);
        }
        if (i < f.size() && f[i] == u'.') {
            ++i;
            if (i < f.size() && f[i] == u'*') {
                ++i;
                const FormatArg* a = take();
                if (a == nullptr || (a->kind() != FormatArg::Kind::Signed && a->kind() != FormatArg::Kind::Unsigned)) {
                    missing = true;
                } else {
                    const std::int64_t p = static_cast<std::int32_t>(a->AsUnsigned());
                    directive.precision = p < 0 ? -1 : static_cast<int>(p > kMaxWidth ? kMaxWidth : p);
                }
            } else {
                directive.precision = ReadNumber(f, i);
            }
        }
        // Size prefixes.
        if (i < f.size()) {
            const std::u16string_view rest = f.substr(i);
            if (rest.starts_with(u"I64"))
                directive.bits = 64, i += 3;
            else if (rest.starts_with(u"I32"))
                directive.bits = 32, i += 3;
            else if (rest.starts_with(u"hh"))
                directive.bits = 8, directive.narrow = true, i += 2;
            else if (rest.starts_with(u"ll"))
                directive.bits = 64, i += 2;
            else if (rest[0] == u'h')
                directive.bits = 16, directive.narrow = true, ++i;
            else if (rest[0] == u'l' || rest[0] == u'w')
                directive.wide = true, ++i;
            else if (rest[0] == u'L' || rest[0] == u'j')
                directive.bits = 64, ++i;
            else if (rest[0] == u'I' || rest[0] == u'z' || rest[0] == u't')
                directive.bits = 64, ++i;
        }
        if (i >= f.size()) {
            Placeholder(out, 0, "incomplete");
            break;
        }
        directive.conv = f[i++];
        if (missing) {
            Placeholder(out, directive.conv, "missing");
            continue;
        }
        // Formats the next argument with `format`, or prints the missing placeholder.
        const auto withArgument = [&](auto format) {
            if (const FormatArg* a = take())
                format(out, directive, *a);
            else
                Placeholder(out, directive.conv, "missing");
        };
        switch (directive.conv) {
            case u'd':
            case u'i':
            case u'u':
            case u'x':
            case u'X':
            case u'o': {
                withArgument(FormatInteger);
                break;
            }
            case u'f':
            case u'F':
            case u'e':
            case u'E':
            case u'g':
            case u'G':
            case u'a':
            case u'A': {
                withArgument(FormatFloat);
                break;
            }
            case u'S':
                directive.narrow = true;
                [[fallthrough]];
            case u's': {
                withArgument(FormatString);
                break;
            }
            case u'C':
                directive.narrow = true;
                [[fallthrough]];
            case u'c': {
                withArgument(FormatChar);
                break;
            }
            case u'p': {
                withArgument(FormatPointer);
                break;
            }
            case u'n':
                take();
                Placeholder(out, directive.conv, "unsupported");
                break;
            default:
                Placeholder(out, directive.conv, "unknown conversion");
                break;
        }
    }
}

void FormatAppend(std::u16string& out, std::string_view format, FormatArgs args) {
    FormatAppend(out, std::u16string_view(Utf8ToUtf16(format)), args);
}

}  // namespace kd::platform
