// Signed property strings: the signed form, tampering anywhere, the signature's own length, the
// time window.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

#include "module_base/PLHex.h"
#include "module_base/PLSignedPropertyString.h"
#include "platform/Crypto.h"
#include "support/ErrorList.h"
#include "support/HResult.h"
#include "tests/module_base/StreamTestSupport.h"

namespace {

// "securityKey:<key>;" + signedText, with the key made by the test from `plain` bytes.
std::u16string WithKey(const std::vector<uint8_t>& plain, const std::u16string& signedText) {
    // The key every peer shares; pinned here so that a change to it, or to how the key is derived,
    // breaks these tests rather than the peers.
    static const kd::platform::SymmetricKey key("6A1D4C92-3E7B-4F05-9B28-D47C1E30A5F6", 36,
                                                std::array<uint8_t, 8>{1, 4, 9, 16, 25, 36, 49, 64});
    const auto sealed = key.Encrypt(plain.data(), plain.size());
    return u"securityKey:" + std::u16string(PLHexFromBytes(sealed.data(), sealed.size()).view()) + u";" + signedText;
}
std::vector<uint8_t> DigestBytes(const std::u16string& text) {
    const auto d = kd::platform::Sha1(text.data(), text.size() * 2);
    return {d.begin(), d.end()};
}

std::u16string Signed(const std::u16string& properties, IPLDateTime* at) {
    PLString text(std::u16string_view{properties});
    EXPECT_HR(SignPropertyString(text, at), S_OK);
    return std::u16string(text.view());
}

TEST(PLSignedPropertyStringTest, SignedFormIsKeyStampAndPropertiesAndAnyChangeFailsVerification) {
    const auto at = kdtest::DateAt(3, 14, 2026, 9, 5, 7);
    // A peer holding the key reproduces the signature from the digest of every byte.
    for (const std::u16string properties : {u"", u"a:1;b:2"}) {
        const std::u16string signedText = u"timeStamp:03-14-2026-09-05-07;" + properties;
        const std::u16string text = Signed(properties, at.Get());
        EXPECT_EQ(text, WithKey(DigestBytes(signedText), signedText));
        EXPECT_HR(VerifySignedPropertyString(text.c_str(), at.Get()), S_OK);
    }
    // Changing any character, in its low or its high byte, fails.
    const std::u16string text = Signed(u"user:Jane Doe;role: auditor ;pages:1-12;zone:\u00e9\u4e2d", at.Get());
    for (std::size_t i = 0; i < text.size(); ++i)
        for (const char16_t flip : {u'\x0001', u'\x0100'}) {
            std::u16string changed = text;
            changed[i] ^= flip;
            EXPECT_LT(VerifySignedPropertyString(changed.c_str(), at.Get()), 0)
                << "character " << i << " flipped by " << static_cast<int>(flip);
        }
}

TEST(PLSignedPropertyStringTest, TruncatedReorderedOrMalformedTextFails) {
    const auto at = kdtest::DateAt(3, 14, 2026, 12, 0, 0);
    const std::u16string stamped = u"timeStamp:03-14-2026-12-00-00;a:1",
                         unstamped = u"a:1;timeStamp:03-14-2026-12-00-00";
    const auto digest = DigestBytes(stamped);
    std::vector<uint8_t> longer = digest;
    longer.insert(longer.end(), 4, 0);
    const std::pair<std::u16string, HRESULT> cases[] = {
        {Signed(u"a:1;b:2", at.Get()) + u";c:3", E_FAIL},
        {u"securityKey:00", E_FAIL},  // too short
        {u"key:00;" + stamped, E_FAIL},
        {u"securityKey:0;" + stamped, E_INVALIDARG},  // not hex
        {u"securityKey:;" + stamped, E_FAIL},         // does not decrypt
        // The signature must decrypt to the digest exactly: neither its first bytes nor more.
        {WithKey(std::vector<uint8_t>(digest.begin(), digest.begin() + 19), stamped), E_FAIL},
        {WithKey(longer, stamped), E_FAIL},
        {WithKey(DigestBytes(unstamped), unstamped), E_FAIL},  // signed, but with no time stamp first
    };
    for (const auto& [changed, hr] : cases) EXPECT_HR(VerifySignedPropertyString(changed.c_str(), at.Get()), hr);
    EXPECT_HR(VerifySignedPropertyString(WithKey(digest, stamped).c_str(), at.Get()), S_OK);
}

TEST(PLSignedPropertyStringTest, TimeStampMustLieWithinTwoWholeMinutesEitherWay) {
    const auto signedAt = kdtest::DateAt(3, 14, 2026, 23, 59, 0);
    const std::u16string text = Signed(u"a:1", signedAt.Get());
    // Day, hour, minute, second, result.
    const std::tuple<LONG, LONG, LONG, LONG, HRESULT> cases[] = {
        {15, 0, 1, 59, S_OK},    {14, 23, 56, 1, S_OK},   {14, 23, 56, 0, E_FAIL},
        {13, 23, 59, 0, E_FAIL}, {15, 23, 59, 0, E_FAIL},
    };
    for (const auto& [day, hour, minute, second, hr] : cases) {
        SCOPED_TRACE(testing::Message() << day << " " << hour << ":" << minute << ":" << second);
        EXPECT_HR(VerifySignedPropertyString(text.c_str(), kdtest::DateAt(3, day, 2026, hour, minute, second).Get()),
                  hr);
    }
    const auto later = kdtest::DateAt(3, 15, 2026, 0, 2, 0);  // three minutes on
    EXPECT_HR(VerifySignedPropertyString(text.c_str(), later.Get()), E_FAIL);
    EXPECT_TRUE(
        kdtest::Recorded(u"Signed Property String has exceeded time window. lMinutes = '3', Token Date was "
                         u"'03-14-2026-23-59-00', Passed Date was '03-15-2026-00-02-00'"));
}

}  // namespace
