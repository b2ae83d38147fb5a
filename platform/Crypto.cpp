#include "platform/Crypto.h"

#include <cstring>

#include <nettle/arctwo.h>
#include <nettle/cbc.h>
#include <nettle/sha1.h>

namespace kd::platform {

namespace {
constexpr std::size_t kRc2KeySize = 16;
constexpr unsigned kRc2EffectiveBits = 128;

void Rc2Encrypt(const void* ctx, std::size_t length, uint8_t* dst, const uint8_t* src) {
    // The expanded key is only read.
    arctwo_encrypt(static_cast<arctwo_ctx*>(const_cast<void*>(ctx)), length, dst, src);
}
void Rc2Decrypt(const void* ctx, std::size_t length, uint8_t* dst, const uint8_t* src) {
    arctwo_decrypt(static_cast<arctwo_ctx*>(const_cast<void*>(ctx)), length, dst, src);
}
}  // namespace

Sha1Digest Sha1(const void* data, std::size_t size) noexcept {
    sha1_ctx ctx;
    sha1_init(&ctx);
    sha1_update(&ctx, size, static_cast<const uint8_t*>(data));
    Sha1Digest digest;
    sha1_digest(&ctx, digest.size(), digest.data());
    return digest;
}

struct SymmetricKey::State {
    arctwo_ctx cipher;
    std::array<uint8_t, kCipherBlockSize> iv;
};

SymmetricKey::SymmetricKey(const void* material, std::size_t size, const std::array<uint8_t, kCipherBlockSize>& iv)
    : m_state(std::make_unique<State>()) {
    const Sha1Digest hash = Sha1(material, size);
    arctwo_set_key_ekb(&m_state->cipher, kRc2KeySize, hash.data(), kRc2EffectiveBits);
    m_state->iv = iv;
}

SymmetricKey::~SymmetricKey() {
    if (m_state) explicit_bzero(m_state.get(), sizeof(State));
}

std::vector<uint8_t> SymmetricKey::Encrypt(const void* data, std::size_t size) const {
    const std::size_t pad = kCipherBlockSize - size % kCipherBlockSize;
    std::vector<uint8_t> out(size + pad);
    if (size != 0) std::memcpy(out.data(), data, size);
    std::memset(out.data() + size, static_cast<int>(pad), pad);
    std::array<uint8_t, kCipherBlockSize> iv = m_state->iv;
    cbc_encrypt(&m_state->cipher, Rc2Encrypt, kCipherBlockSize, iv.data(), out.size(), out.data(), out.data());
    return out;
}

bool SymmetricKey::Decrypt(const void* data, std::size_t size, std::vector<uint8_t>& out) const {
    out.clear();
    if (size == 0 || size % kCipherBlockSize != 0) return false;
    out.resize(size);
    std::array<uint8_t, kCipherBlockSize> iv = m_state->iv;
    cbc_decrypt(&m_state->cipher, Rc2Decrypt, kCipherBlockSize, iv.data(), size, out.data(),
                static_cast<const uint8_t*>(data));
    const uint8_t pad = out.back();
    bool wellFormed = pad >= 1 && pad <= kCipherBlockSize;
    for (std::size_t i = 0; wellFormed && i < pad; ++i) wellFormed = out[size - 1 - i] == pad;
    if (!wellFormed) {
        explicit_bzero(out.data(), out.size());
        out.clear();
        return false;
    }
    out.resize(size - pad);
    return true;
}

}  // namespace kd::platform
