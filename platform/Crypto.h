// Digests and symmetric encryption for signed texts and stored secrets.
//
// A SymmetricKey is RC2 in CBC mode with PKCS#5 padding: the 16-byte key is the leading bytes
// of the SHA-1 digest of the key material, used with an effective key length of 128 bits, and
// every message starts from the same 8-byte initialisation vector. Both sides of whatever such a
// key protects are this library, so the derivation is ours alone. A key is not changed after it
// is made: one key may serve any number of threads at once.
#ifndef KD_PLATFORM_CRYPTO_H
#define KD_PLATFORM_CRYPTO_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kd::platform {

inline constexpr std::size_t kSha1Size = 20;
inline constexpr std::size_t kCipherBlockSize = 8;

using Sha1Digest = std::array<uint8_t, kSha1Size>;

// The SHA-1 digest of `size` bytes.
Sha1Digest Sha1(const void* data, std::size_t size) noexcept;

class SymmetricKey {
public:
    // Derives the key from `size` bytes of key material; `iv` is the initialisation vector.
    SymmetricKey(const void* material, std::size_t size, const std::array<uint8_t, kCipherBlockSize>& iv);
    ~SymmetricKey();
    SymmetricKey(const SymmetricKey&) = delete;
    SymmetricKey& operator=(const SymmetricKey&) = delete;

    // The encrypted form of `size` bytes: padded to the next whole block (a whole block of
    // padding when `size` is a multiple of the block size).
    std::vector<uint8_t> Encrypt(const void* data, std::size_t size) const;
    // Decrypts `size` bytes into `out`. False, with `out` empty, when `size` is not a positive
    // multiple of the block size or the padding is not well formed.
    bool Decrypt(const void* data, std::size_t size, std::vector<uint8_t>& out) const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace kd::platform

#endif  // KD_PLATFORM_CRYPTO_H
