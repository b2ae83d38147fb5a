// The digest and the symmetric key: known answers from another implementation, padding, and
// ciphertexts that must not decrypt.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Crypto.h"

namespace {

const std::array<uint8_t, 8> kIv = {1, 4, 9, 16, 25, 36, 49, 64};
constexpr char kMaterial[] = "6A1D4C92-3E7B-4F05-9B28-D47C1E30A5F6";

std::string Hex(const uint8_t* p, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += {digits[p[i] >> 4], digits[p[i] & 15]};
    return s;
}

TEST(CryptoTest, MatchesRc2With128BitEffectiveKeyCbcAndPkcs5PaddingAndRefusesMalformedCiphertext) {
    const auto digest = kd::platform::Sha1("abc", 3);
    EXPECT_EQ(Hex(digest.data(), digest.size()), "a9993e364706816aba3e25717850c26c9cd0d89d");

    // Ciphertexts of OpenSSL's rc2-cbc with the first 16 bytes of SHA-1 of the material as key.
    const kd::platform::SymmetricKey key(kMaterial, 36, kIv);
    const std::pair<std::string, const char*> known[] = {{"abc", "012220f10b611462"},
                                                         {"abcdefgh", "95afb5e4de5aefc4fc2bf66196ce6819"}};
    for (const auto& [plain, cipher] : known) {
        const auto sealed = key.Encrypt(plain.data(), plain.size());
        EXPECT_EQ(Hex(sealed.data(), sealed.size()), cipher);
        std::vector<uint8_t> opened;
        ASSERT_TRUE(key.Decrypt(sealed.data(), sealed.size(), opened));
        EXPECT_EQ(std::string(opened.begin(), opened.end()), plain);
    }
    // Malformed ciphertext is refused.
    const auto sealed = key.Encrypt("twenty bytes exactly", 20);
    std::vector<uint8_t> out{1};
    EXPECT_FALSE(key.Decrypt(sealed.data(), 0, out));
    EXPECT_FALSE(key.Decrypt(sealed.data(), 23, out));
    EXPECT_TRUE(out.empty());
    // A change in the block before the last reaches the last padding byte through the chaining.
    std::vector<uint8_t> changed = sealed;
    changed[15] ^= 0x5A;
    EXPECT_FALSE(key.Decrypt(changed.data(), changed.size(), out));
}

}  // namespace
