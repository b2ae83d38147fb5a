#include "module_base/PLSignedPropertyString.h"

#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "module_base/PLComObject.h"
#include "module_base/PLError.h"
#include "module_base/PLHex.h"
#include "module_base/PLStyleString.h"
#include "platform/Crypto.h"

namespace {

constexpr const char* kGroup = "Core Services";
constexpr const char* kClass = "Utility Functions";

// The key material and initialisation vector every signer and checker of these strings shares.
constexpr char kKeyMaterial[] = "6A1D4C92-3E7B-4F05-9B28-D47C1E30A5F6";
constexpr std::array<uint8_t, kd::platform::kCipherBlockSize> kIv = {1, 4, 9, 16, 25, 36, 49, 64};

// What the crypto service reports for a block that does not decrypt (bad length or padding).
constexpr HRESULT kBadData = static_cast<HRESULT>(0x80090005);

constexpr std::size_t kSignatureBytes =
    kd::platform::kSha1Size + kd::platform::kCipherBlockSize - kd::platform::kSha1Size % kd::platform::kCipherBlockSize;
constexpr LONG kSignatureHexLength = static_cast<LONG>(2 * kSignatureBytes);
constexpr LONG kTimeTextSize = 255;

const kd::platform::SymmetricKey& SigningKey() {
    static const kd::platform::SymmetricKey key(kKeyMaterial, sizeof kKeyMaterial - 1, kIv);
    return key;
}

// The digest of every byte of the text in UTF-16LE.
kd::platform::Sha1Digest DigestOf(std::u16string_view text) {
    if constexpr (std::endian::native == std::endian::little) {
        return kd::platform::Sha1(text.data(), text.size() * sizeof(char16_t));
    } else {
        std::vector<uint8_t> bytes(text.size() * 2);
        for (std::size_t i = 0; i < text.size(); ++i) {
            bytes[2 * i] = static_cast<uint8_t>(text[i]);
            bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
        }
        return kd::platform::Sha1(bytes.data(), bytes.size());
    }
}

PLString FormatStamp(IPLDateTime* date) {
    WCHAR text[kTimeTextSize + 1] = {};
    PL_THROW_IF_FAILED(date->Format(kPLSignedTimeStampMask, text, kTimeTextSize));
    return PLString(text);
}

// Seconds from `from` to `to`, from their Julian days and times of day.
int64_t SecondsBetween(IPLDateTime* from, IPLDateTime* to) {
    double fromDay = 0, toDay = 0;
    LONG fromFields[6] = {}, toFields[6] = {};
    PL_THROW_IF_FAILED(from->GetJulianValue(&fromDay));
    PL_THROW_IF_FAILED(to->GetJulianValue(&toDay));
    PL_THROW_IF_FAILED(from->GetDateTime(&fromFields[0], &fromFields[1], &fromFields[2], &fromFields[3], &fromFields[4],
                                         &fromFields[5]));
    PL_THROW_IF_FAILED(
        to->GetDateTime(&toFields[0], &toFields[1], &toFields[2], &toFields[3], &toFields[4], &toFields[5]));
    const auto secondsOfDay = [](const LONG* f) { return int64_t{f[3]} * 3600 + int64_t{f[4]} * 60 + f[5]; };
    const int64_t days = static_cast<int64_t>(toDay - fromDay + (toDay >= fromDay ? 0.5 : -0.5));
    return days * 86400 + secondsOfDay(toFields) - secondsOfDay(fromFields);
}

void Verify(const WCHAR* text, IPLDateTime* now) {
    const PLString input(text);
    // Only the first two properties are checked; the rest is covered by the digest.
    const std::vector<PLStyleProperty> properties = PLParseStyleString(input.view(), 2);
    PL_THROW_ERROR(properties.size() < 2 ? E_FAIL : S_OK, "Property string does not meet minimum length requirements.",
                   1);
    PL_THROW_ERROR(properties[0].name.CompareNoCase(u"securityKey") != 0 ? E_FAIL : S_OK,
                   "securityKey not present at beginning of signedProperties string.", 1);
    const PLString& hex = properties[0].value;
    const std::u16string_view view = input.view();
    const std::u16string_view signedText = view.substr(view.find(u';') + 1);

    // The signature, decoded and decrypted, must be exactly the digest.
    std::vector<BYTE> encrypted(static_cast<std::size_t>(hex.GetLength() / 2) + 1);
    LONG count = static_cast<LONG>(encrypted.size());
    PL_THROW_ERROR(PLConvertHexToData(hex.c_str(), encrypted.data(), &count), "Failed to convert Hex to Data.", 0);
    std::vector<uint8_t> decrypted;
    if (!SigningKey().Decrypt(encrypted.data(), static_cast<std::size_t>(count), decrypted))
        PL_THROW_ERROR_FORMAT(E_FAIL, 1, "CryptDecrypt() library call failed. Get last error returned: %ld",
                              static_cast<int32_t>(kBadData));
    const kd::platform::Sha1Digest digest = DigestOf(signedText);
    const bool matches =
        decrypted.size() == digest.size() && std::memcmp(decrypted.data(), digest.data(), digest.size()) == 0;
    PL_THROW_ERROR(matches ? S_OK : E_FAIL, "Message does not match signature. Failed signed signature validation.", 1);

    PL_THROW_ERROR(properties[1].name.CompareNoCase(u"timeStamp") != 0 ? E_FAIL : S_OK,
                   "timeStamp is missing from signedProperties string.", 1);
    PLComPtr<IPLDateTime> stamp;
    PL_THROW_ERROR(PLCreateInstance(CLSID_PLDateTime, stamp), "Failed to Create DateTime Object.", 0);
    PL_THROW_ERROR(stamp->InitializeFromString(properties[1].value.c_str(), kPLSignedTimeStampMask),
                   "Failed to Initialize DateTime Object From String.", 0);
    const int64_t seconds = SecondsBetween(stamp.Get(), now);
    const int64_t minutes = seconds / 60;  // whole minutes, towards zero
    if (minutes > kPLSignedTimeWindowMinutes || minutes < -kPLSignedTimeWindowMinutes) {
        const PLString stampText = FormatStamp(stamp.Get());
        const PLString nowText = FormatStamp(now);
        const int32_t shown = minutes > INT32_MAX   ? INT32_MAX
                              : minutes < INT32_MIN ? INT32_MIN
                                                    : static_cast<int32_t>(minutes);
        PL_THROW_ERROR_FORMAT(E_FAIL, 1,
                              "Signed Property String has exceeded time window. lMinutes = '%ld', Token Date was "
                              "'%s', Passed Date was '%s'",
                              shown, stampText.c_str(), nowText.c_str());
    }
}

}  // namespace

HRESULT SignPropertyString(PLString& properties, IPLDateTime* signingTime) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        PL_THROW_IF_FAILED(signingTime == nullptr ? E_POINTER : S_OK);
        const PLString signedText = u"timeStamp:" + FormatStamp(signingTime) + u";" + properties;
        const kd::platform::Sha1Digest digest = DigestOf(signedText.view());
        const std::vector<uint8_t> signature = SigningKey().Encrypt(digest.data(), digest.size());
        WCHAR hex[kSignatureHexLength + 1];
        PL_THROW_ERROR(
            PLConvertDataToHex(signature.data(), static_cast<LONG>(signature.size()), hex, kSignatureHexLength + 1),
            "Failed to convert Data to Hex.", 0);
        properties = u"securityKey:" + PLString(hex) + u";" + signedText;
    });
}

HRESULT VerifySignedPropertyString(const WCHAR* signedText, IPLDateTime* now) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT&) {
        PL_THROW_IF_FAILED(signedText == nullptr || now == nullptr ? E_POINTER : S_OK);
        Verify(signedText, now);
    });
}

// ---- exported forms ----

HRESULT PLSignPropertyString(const WCHAR* properties, IPLDateTime* signingTime, BSTR* signedText) {
    return ::PLGuard(PL_GUARD_SITE_AS(kGroup, kClass), [&](HRESULT& hr) {
        PL_THROW_IF_FAILED(properties == nullptr || signedText == nullptr ? E_POINTER : S_OK);
        PLString text(properties);
        hr = SignPropertyString(text, signingTime);  // records its own failure
        if (hr < 0) return;
        PLBStr result = PLBStr::Attach(text.AllocSysString());
        *signedText = result.Get();
        result.Detach();
    });
}

HRESULT PLVerifySignedPropertyString(const WCHAR* signedText, IPLDateTime* now) {
    return VerifySignedPropertyString(signedText, now);
}
