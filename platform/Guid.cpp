#include "platform/Guid.h"

#include <uuid/uuid.h>

namespace kd::platform {
namespace {

constexpr char16_t kHex[] = u"0123456789ABCDEF";

template <class C>
void WriteHex(C*& out, std::uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) out[i] = static_cast<C>(kHex[value & 0xF]), value >>= 4;
    out += digits;
}

template <class C>
void Write36(const GUID& g, C* out) {
    WriteHex(out, g.Data1, 8);
    *out++ = '-';
    WriteHex(out, g.Data2, 4);
    *out++ = '-';
    WriteHex(out, g.Data3, 4);
    *out++ = '-';
    WriteHex(out, g.Data4[0], 2);
    WriteHex(out, g.Data4[1], 2);
    *out++ = '-';
    for (int i = 2; i < 8; ++i) WriteHex(out, g.Data4[i], 2);
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

}  // namespace

bool GuidToText(const GUID& guid, char16_t* buffer, std::size_t size) noexcept {
    if (buffer == nullptr || size == 0) return false;
    if (size < 37) {
        buffer[0] = 0;
        return false;
    }
    Write36(guid, buffer);
    buffer[36] = 0;
    return true;
}

std::u16string GuidToString(const GUID& guid) {
    std::u16string s(36, u'0');
    Write36(guid, s.data());
    return s;
}

std::string GuidToNarrowString(const GUID& guid) {
    std::string s(36, '0');
    Write36(guid, s.data());
    return s;
}

bool GuidFromText(std::u16string_view text, GUID* guid) noexcept {
    if (guid == nullptr) return false;
    if (text.size() == 38 && text.front() == u'{' && text.back() == u'}') text = text.substr(1, 36);
    if (text.size() != 36) return false;
    std::uint8_t bytes[16];
    int nb = 0;
    for (std::size_t i = 0; i < 36;) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != u'-') return false;
            ++i;
            continue;
        }
        const int hi = HexValue(text[i]);
        const int lo = HexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes[nb++] = static_cast<std::uint8_t>(hi * 16 + lo);
        i += 2;
    }
    guid->Data1 =
        (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
    guid->Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    guid->Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int i = 0; i < 8; ++i) guid->Data4[i] = bytes[8 + i];
    return true;
}

GUID CreateGuid() noexcept {
    uuid_t u;
    ::uuid_generate_random(u);
    // uuid_t is big-endian throughout; a GUID keeps its first three fields in host order.
    GUID g;
    g.Data1 = (std::uint32_t{u[0]} << 24) | (std::uint32_t{u[1]} << 16) | (std::uint32_t{u[2]} << 8) | u[3];
    g.Data2 = static_cast<std::uint16_t>((u[4] << 8) | u[5]);
    g.Data3 = static_cast<std::uint16_t>((u[6] << 8) | u[7]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = u[8 + i];
    return g;
}

}  // namespace kd::platform
