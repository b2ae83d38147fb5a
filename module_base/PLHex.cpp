#include "module_base/PLHex.h"

#include "module_base/PLError.h"

namespace {
constexpr const char* kGroup = "Core Services";
constexpr const char* kClass = "Utility Functions";
constexpr char16_t kDigits[] = u"0123456789ABCDEF";
}  // namespace

PLString PLHexFromBytes(const uint8_t* bytes, std::size_t size) {
    std::u16string text(size * 2, u'0');
    for (std::size_t i = 0; i < size; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return PLString(std::u16string_view(text));
}

bool PLBytesFromHex(std::u16string_view hex, std::vector<uint8_t>& out) {
    out.clear();
    if (hex.size() % 2 != 0) return false;
    out.resize(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int high = PLHexDigitValue(hex[2 * i]);
        const int low = PLHexDigitValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            out.clear();
            return false;
        }
        out[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

// Both functions read and write the caller's memory with their own loops, inside the guarded
// region, so that an unreadable or unwritable buffer ends the call as a translated fault.

HRESULT PLConvertDataToHex(const BYTE* bytes, LONG count, WCHAR* buffer, LONG size) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        PL_THROW_IF_FAILED(bytes == nullptr || buffer == nullptr ? E_POINTER : S_OK);
        PL_THROW_IF_FAILED(count < 1 || size < 1 ? E_INVALIDARG : S_OK);
        PL_THROW_ERROR(size <= int64_t{count} * 2 ? E_FAIL : S_OK, kPLHexBufferTooSmall, 1);
        for (LONG i = 0; i < count; ++i) {
            buffer[2 * i] = kDigits[bytes[i] >> 4];
            buffer[2 * i + 1] = kDigits[bytes[i] & 0x0F];
        }
        buffer[2 * count] = 0;
    });
}

HRESULT PLConvertHexToData(const WCHAR* hex, BYTE* bytes, LONG* count) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        PL_THROW_IF_FAILED(hex == nullptr || bytes == nullptr || count == nullptr ? E_POINTER : S_OK);
        int64_t length = 0;
        while (hex[length] != 0) ++length;
        PL_THROW_ERROR(length % 2 != 0 ? E_INVALIDARG : S_OK, kPLHexOddLength, 1);
        for (int64_t i = 0; i < length; ++i)
            PL_THROW_ERROR(PLHexDigitValue(hex[i]) < 0 ? E_INVALIDARG : S_OK, kPLHexNotADigit, 1);
        PL_THROW_ERROR(*count < length / 2 ? E_INVALIDARG : S_OK, kPLHexDataTooSmall, 1);
        for (int64_t i = 0; i < length / 2; ++i)
            bytes[i] = static_cast<BYTE>(PLHexDigitValue(hex[2 * i]) << 4 | PLHexDigitValue(hex[2 * i + 1]));
        *count = static_cast<LONG>(length / 2);
    });
}
