// AES-256-CBC of a 64 KB text through QNCryptoSymmetricEncrypt beside raw
// OpenSSL doing the same work.
//
// Library: encrypt(String) converts the UTF-16 text to UTF-8, decodes the
// stored Base64 key and vector, runs EVP (init, update, final with PKCS #7
// padding) and answers the ciphertext as Base64 String.
// Raw: the same key, vector and text already in UTF-8 (std::string); a new
// EVP_CIPHER_CTX with the cipher fetched once, init, update, final, and
// EVP_EncodeBlock of the ciphertext into a std::string.
// The ratio is the wrapper's cost, UTF-16 conversions included.

#include <qn/crypto.h>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <memory>
#include <string>

namespace {

// 64 KiB of ASCII prose.
const std::string& plainText() {
    static const std::string text = [] {
        const std::string line = "The quick brown fox jumps over the lazy dog; 0123456789.\n";
        std::string s;
        while (s.size() < 64 * 1024)
            s += line;
        s.resize(64 * 1024);
        return s;
    }();
    return text;
}

std::string fromBase64(const qn::String& text) {
    const std::string ascii = qn::toUtf8(text);
    std::string bytes(ascii.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                  reinterpret_cast<const unsigned char*>(ascii.data()),
                                  static_cast<int>(ascii.size()));
    bytes.resize(static_cast<std::size_t>(n));
    for (auto it = ascii.rbegin(); it != ascii.rend() && *it == '='; ++it)
        bytes.pop_back();
    return bytes;
}

void BM_QNSymmetricEncryptAES256(benchmark::State& state) {
    const qn::String text = qn::fromUtf8(plainText());
    qn::QNCryptoSymmetricEncrypt cipher;
    cipher.key();
    cipher.iv();
    for (auto _ : state) {
        qn::String sealed = cipher.encrypt(text);
        if (sealed.empty()) state.SkipWithError("encrypt failed");
        benchmark::DoNotOptimize(sealed);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * plainText().size()));
}
BENCHMARK(BM_QNSymmetricEncryptAES256);

void BM_RawEVPEncryptAES256(benchmark::State& state) {
    const std::string& text = plainText();
    qn::QNCryptoSymmetricEncrypt source;
    const std::string key = fromBase64(source.key());
    const std::string iv = fromBase64(source.iv());
    std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> cipher(
        EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr), EVP_CIPHER_free);
    for (auto _ : state) {
        EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
        std::string sealed(text.size() + 16, '\0');
        auto* out = reinterpret_cast<unsigned char*>(sealed.data());
        int n = 0, last = 0;
        const bool ok =
            EVP_EncryptInit_ex2(context, cipher.get(),
                                reinterpret_cast<const unsigned char*>(key.data()),
                                reinterpret_cast<const unsigned char*>(iv.data()), nullptr) == 1 &&
            EVP_EncryptUpdate(context, out, &n, reinterpret_cast<const unsigned char*>(text.data()),
                              static_cast<int>(text.size())) == 1 &&
            EVP_EncryptFinal_ex(context, out + n, &last) == 1;
        EVP_CIPHER_CTX_free(context);
        if (!ok) state.SkipWithError("encrypt failed");
        const int size = n + last;
        std::string base64(4 * ((static_cast<std::size_t>(size) + 2) / 3) + 1, '\0');
        base64.resize(static_cast<std::size_t>(
            EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.data()), out, size)));
        benchmark::DoNotOptimize(base64);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_RawEVPEncryptAES256);

}  // namespace
