// Signing and verifying a style string of 1,024 characters beside the floor: the SHA-1 digest of
// the same bytes and the RC2-CBC encryption (or decryption and comparison) of the digest through
// nettle directly, with the key already expanded, as the library's is.
//
//   build/release/bin/bench_signed_property_string
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include <nettle/arctwo.h>
#include <nettle/cbc.h>
#include <nettle/sha1.h>

#include "module_base/PLComObject.h"
#include "module_base/PLSignedPropertyString.h"

namespace {

std::u16string StyleString() {
    std::u16string text;
    for (int i = 0; text.size() < 1024; ++i) text += u"property" + std::u16string(1, u'A' + i % 26) + u":value;";
    return text.substr(0, 1024);
}

PLComPtr<IPLDateTime> Now() {
    PLComPtr<IPLDateTime> date;
    PLCreateInstance(CLSID_PLDateTime, date);
    date->Initialize(6, 1, 2026, 12, 0, 0);
    return date;
}

struct Floor {
    arctwo_ctx key;
    Floor() {
        uint8_t material[SHA1_DIGEST_SIZE];
        sha1_ctx ctx;
        sha1_init(&ctx);
        sha1_update(&ctx, 36, reinterpret_cast<const uint8_t*>("6A1D4C92-3E7B-4F05-9B28-D47C1E30A5F6"));
        sha1_digest(&ctx, sizeof material, material);
        arctwo_set_key_ekb(&key, 16, material, 128);
    }
    static void Encrypt(const void* k, size_t n, uint8_t* dst, const uint8_t* src) {
        arctwo_encrypt(static_cast<arctwo_ctx*>(const_cast<void*>(k)), n, dst, src);
    }
    static void Decrypt(const void* k, size_t n, uint8_t* dst, const uint8_t* src) {
        arctwo_decrypt(static_cast<arctwo_ctx*>(const_cast<void*>(k)), n, dst, src);
    }
    void Digest(const std::u16string& text, uint8_t* out) const {
        sha1_ctx ctx;
        sha1_init(&ctx);
        sha1_update(&ctx, text.size() * 2, reinterpret_cast<const uint8_t*>(text.data()));
        sha1_digest(&ctx, SHA1_DIGEST_SIZE, out);
    }
};

void BM_Sign(benchmark::State& state) {
    const PLString properties(std::u16string_view{StyleString()});
    const auto now = Now();
    for (auto _ : state) {
        PLString text = properties;
        benchmark::DoNotOptimize(SignPropertyString(text, now.Get()));
        benchmark::DoNotOptimize(text.c_str());
    }
}

void BM_SignFloor(benchmark::State& state) {
    const Floor floor;
    const std::u16string text = u"timeStamp:06-01-2026-12-00-00;" + StyleString();
    for (auto _ : state) {
        uint8_t block[24];
        floor.Digest(text, block);
        std::memset(block + 20, 4, 4);
        uint8_t iv[8] = {1, 4, 9, 16, 25, 36, 49, 64};
        cbc_encrypt(&floor.key, Floor::Encrypt, 8, iv, 24, block, block);
        benchmark::DoNotOptimize(block);
    }
}

void BM_Verify(benchmark::State& state) {
    const auto now = Now();
    PLString text(std::u16string_view{StyleString()});
    SignPropertyString(text, now.Get());
    for (auto _ : state) {
        if (VerifySignedPropertyString(text.c_str(), now.Get()) != S_OK) state.SkipWithError("did not verify");
    }
}

void BM_VerifyFloor(benchmark::State& state) {
    const Floor floor;
    const std::u16string text = u"timeStamp:06-01-2026-12-00-00;" + StyleString();
    uint8_t signature[24];
    floor.Digest(text, signature);
    std::memset(signature + 20, 4, 4);
    uint8_t iv[8] = {1, 4, 9, 16, 25, 36, 49, 64};
    cbc_encrypt(&floor.key, Floor::Encrypt, 8, iv, 24, signature, signature);
    for (auto _ : state) {
        uint8_t plain[24], digest[20];
        uint8_t vector[8] = {1, 4, 9, 16, 25, 36, 49, 64};
        cbc_decrypt(&floor.key, Floor::Decrypt, 8, vector, 24, plain, signature);
        floor.Digest(text, digest);
        benchmark::DoNotOptimize(std::memcmp(plain, digest, 20));
    }
}

}  // namespace

BENCHMARK(BM_Sign);
BENCHMARK(BM_SignFloor);
BENCHMARK(BM_Verify);
BENCHMARK(BM_VerifyFloor);
BENCHMARK_MAIN();
