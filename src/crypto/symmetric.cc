// Symmetric encryption on OpenSSL's EVP ciphers (CBC, PKCS #7 padding).
//
// The EVP_CIPHER objects are fetched once per process: a fetch looks the
// algorithm up in the provider tables under a lock, which would otherwise
// cost every call. Single DES lives only in OpenSSL 3's legacy provider; it
// is loaded into a library context of its own, on first DES use, so that the
// application's default context never gains the legacy algorithms.
#include <qn/crypto/symmetric.h>

#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "core/base64.h"
#include "crypto/openssl_error.h"

namespace qn {

QN_REGISTER_CLASS(QNCryptoSymmetricEncryptBaseAlgorithm, Object)
QN_REGISTER_CLASS(QNCryptoSymmetricEncryptDESAlgorithm, QNCryptoSymmetricEncryptBaseAlgorithm)
QN_REGISTER_CLASS(QNCryptoSymmetricEncryptAES128Algorithm, QNCryptoSymmetricEncryptBaseAlgorithm)
QN_REGISTER_CLASS(QNCryptoSymmetricEncryptAES192Algorithm, QNCryptoSymmetricEncryptBaseAlgorithm)
QN_REGISTER_CLASS(QNCryptoSymmetricEncryptAES256Algorithm, QNCryptoSymmetricEncryptBaseAlgorithm)
QN_REGISTER_CLASS(QNCryptoSymmetricEncryptTripleDESAlgorithm, QNCryptoSymmetricEncryptBaseAlgorithm)
QN_REGISTER_CLASS(QNCryptoSymmetricEncrypt, QNCryptoBaseType)

QNCryptoSymmetricEncryptAlgorithm::~QNCryptoSymmetricEncryptAlgorithm() = default;

namespace {

constexpr std::uint32_t kAES = 0;
constexpr std::uint32_t kDES = 1;
constexpr std::uint32_t kTripleDES = 2;

// A fetched cipher, or the status of the failed fetch.
struct FetchedCipher {
    EVP_CIPHER* cipher = nullptr;
    std::int32_t status = -1;
};

FetchedCipher fetchCipher(OSSL_LIB_CTX* context, const char* name) {
    ERR_clear_error();
    FetchedCipher fetched;
    fetched.cipher = EVP_CIPHER_fetch(context, name, nullptr);
    if (fetched.cipher == nullptr) fetched.status = internal::takeOpenSSLStatus();
    return fetched;
}

// The ciphers of the default context, kept for the life of the process.
const FetchedCipher& defaultCipher(std::size_t index) {
    static const std::array<FetchedCipher, 4> ciphers = {
        fetchCipher(nullptr, "AES-128-CBC"), fetchCipher(nullptr, "AES-192-CBC"),
        fetchCipher(nullptr, "AES-256-CBC"), fetchCipher(nullptr, "DES-EDE3-CBC")};
    return ciphers[index];
}

// DES from the legacy provider in a private context. A provider that cannot
// be loaded (not installed, modules folder moved) leaves the cipher null and
// every DES call fails with the load's status.
struct LegacyDES {
    OSSL_LIB_CTX* context = nullptr;
    FetchedCipher des;
};

const FetchedCipher& desCipher() {
    static const LegacyDES legacy = [] {
        LegacyDES made;
        ERR_clear_error();
        made.context = OSSL_LIB_CTX_new();
        if (made.context == nullptr) {
            made.des.status = internal::takeOpenSSLStatus();
            return made;
        }
        if (OSSL_PROVIDER_load(made.context, "legacy") == nullptr ||
            OSSL_PROVIDER_load(made.context, "default") == nullptr) {
            made.des.status = internal::takeOpenSSLStatus();
            OSSL_LIB_CTX_free(made.context);
            made.context = nullptr;
            return made;
        }
        made.des = fetchCipher(made.context, "DES-CBC");
        return made;
    }();
    return legacy.des;
}

// The cipher for an identifier and key size, as CCCrypt-style callers name
// it; null with status -1 for a combination no cipher has.
const FetchedCipher& cipherFor(std::uint32_t algorithm, std::int64_t keySize) {
    static const FetchedCipher none;
    if (algorithm == kAES) {
        if (keySize == 16) return defaultCipher(0);
        if (keySize == 24) return defaultCipher(1);
        if (keySize == 32) return defaultCipher(2);
    } else if (algorithm == kTripleDES && keySize == 24) {
        return defaultCipher(3);
    } else if (algorithm == kDES && keySize == 8) {
        return desCipher();
    }
    return none;
}

struct ContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const noexcept { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, ContextDeleter>;

// One run of an algorithm's cipher, fed in pieces. Any failure sets the
// algorithm's error and makes the remaining steps answer false.
class CipherRun {
public:
    CipherRun(QNCryptoSymmetricEncryptAlgorithm& algorithm, bool encrypt, std::string_view key,
              std::string_view iv, std::size_t expectedInput)
        : algorithm_(algorithm) {
        const std::int64_t keySize = algorithm.keySize();
        if (keySize < 0 || key.size() < static_cast<std::size_t>(keySize)) {
            algorithm.setError(QNCryptoError::QNCryptoSymmetricError_InvalidaKeyLength());
            return;
        }
        const FetchedCipher& fetched = cipherFor(algorithm.commonCryptoAlgorithm(), keySize);
        if (fetched.cipher == nullptr) {
            fail(fetched.status);
            return;
        }
        // A vector shorter than the block leaves zeros at the end; the buffer
        // is the cipher's own vector length whatever blockSize a subclass
        // claims.
        std::array<unsigned char, EVP_MAX_IV_LENGTH> vector{};
        const auto vectorLength =
            static_cast<std::size_t>(EVP_CIPHER_get_iv_length(fetched.cipher));
        const auto blockSize =
            static_cast<std::size_t>(std::max<std::int64_t>(0, algorithm.blockSize()));
        std::memcpy(vector.data(), iv.data(), std::min({vectorLength, iv.size(), blockSize}));

        ERR_clear_error();
        context_.reset(EVP_CIPHER_CTX_new());
        if (!context_ || EVP_CipherInit_ex2(context_.get(), fetched.cipher,
                                            reinterpret_cast<const unsigned char*>(key.data()),
                                            vector.data(), encrypt ? 1 : 0, nullptr) != 1) {
            fail(internal::takeOpenSSLStatus());
            return;
        }
        blockBytes_ = static_cast<std::size_t>(EVP_CIPHER_get_block_size(fetched.cipher));
        reserve(expectedInput + blockBytes_);
    }

    bool update(std::string_view bytes) {
        // EVP counts in int: very large inputs go in pieces.
        constexpr std::size_t kMaxPiece = std::size_t{1} << 30;
        const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
        for (std::size_t done = 0; done < bytes.size();) {
            if (!context_) return false;
            const std::size_t n = std::min(kMaxPiece, bytes.size() - done);
            reserve(size_ + n + blockBytes_);
            int written = 0;
            if (EVP_CipherUpdate(context_.get(), output_.get() + size_, &written, in + done,
                                 static_cast<int>(n)) != 1) {
                fail(internal::takeOpenSSLStatus());
                return false;
            }
            size_ += static_cast<std::size_t>(written);
            done += n;
        }
        return context_ != nullptr;
    }

    bool finish() {
        if (!context_) return false;
        reserve(size_ + blockBytes_);
        int written = 0;
        if (EVP_CipherFinal_ex(context_.get(), output_.get() + size_, &written) != 1) {
            fail(internal::takeOpenSSLStatus());
            return false;
        }
        size_ += static_cast<std::size_t>(written);
        return true;
    }

    // Appends the Base64 text of the output so far to `out` and drops it,
    // keeping the bytes of an incomplete group unless this is the end.
    void drainBase64(String& out, bool end) {
        const std::size_t done = end ? size_ : size_ - size_ % 3;
        internal::appendBase64(out, output_.get(), done);
        std::memmove(output_.get(), output_.get() + done, size_ - done);
        size_ -= done;
    }

    const unsigned char* data() const noexcept { return output_.get(); }
    std::size_t size() const noexcept { return size_; }
    std::string_view bytes() const noexcept {
        return {reinterpret_cast<const char*>(output_.get()), size_};
    }

private:
    void fail(std::int32_t status) {
        algorithm_.setError(
            QNCryptoError::QNCryptoSymmetricErrorTemplate_CouldNotPerformOperationWithStatus(
                status));
        context_.reset();
    }

    void reserve(std::size_t capacity) {
        if (capacity <= capacity_) return;
        capacity = std::max(capacity, 2 * capacity_);
        auto grown = std::make_unique_for_overwrite<unsigned char[]>(capacity);
        if (size_ > 0) std::memcpy(grown.get(), output_.get(), size_);
        output_ = std::move(grown);
        capacity_ = capacity;
    }

    QNCryptoSymmetricEncryptAlgorithm& algorithm_;
    CipherContext context_;
    std::size_t blockBytes_ = 0;
    std::unique_ptr<unsigned char[]> output_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// The most UTF-16 units narrowed at a time.
constexpr std::size_t kPiece = 4096;

// Hands the UTF-8 form of `text` to `feed` in pieces, without a copy of the
// whole text. Texts to encrypt are mostly ASCII, which is narrowed here 16
// units at a time; other runs go through qn::toUtf8, so lone surrogates are
// replaced exactly as everywhere else.
template <class Feed>
bool feedUtf8(StringView text, Feed&& feed) {
    std::array<char, kPiece> narrowed;
    const char16_t* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const std::size_t limit = std::min(kPiece, left);
        std::size_t n = 0;
        for (; n + 16 <= limit; n += 16) {
            std::uint64_t any = 0;
            for (std::size_t k = 0; k < 16; k += 4) {
                std::uint64_t word;
                std::memcpy(&word, p + n + k, sizeof word);
                any |= word;
            }
            if ((any & 0xFF80FF80FF80FF80u) != 0) break;
            for (std::size_t k = 0; k < 16; ++k)
                narrowed[n + k] = static_cast<char>(p[n + k]);
        }
        for (; n < limit && p[n] < 0x80; ++n)
            narrowed[n] = static_cast<char>(p[n]);
        if (n == 0) {
            // Both halves of a surrogate pair are non-ASCII, so a run splits
            // a pair only where it meets the piece limit.
            while (n < limit && p[n] >= 0x80)
                ++n;
            if (n == limit && n < left && n > 1 && (p[n - 1] & 0xFC00) == 0xD800) --n;
            if (!feed(std::string_view(toUtf8(StringView(p, n))))) return false;
        } else if (!feed(std::string_view(narrowed.data(), n))) {
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// `vector` absent reads as no bytes (a zero vector).
std::optional<std::string> decodeVector(std::optional<StringView> vector) {
    return vector ? internal::base64DecodeStrict(*vector) : std::string();
}

// A key or vector that is not Base64 cannot be used, which is a failure of
// its own rather than a silent empty answer.
std::optional<String> unreadableKey(QNCryptoSymmetricEncryptBaseAlgorithm& algorithm) {
    algorithm.setError(QNCryptoError::QNCryptoHashError_InvalidKey());
    return std::nullopt;
}

}  // namespace

std::optional<String> QNCryptoSymmetricEncryptBaseAlgorithm::encryptString(
    StringView text, StringView key, std::optional<StringView> iv) {
    setError(QNCryptoError::QNCryptoError_ExecutionOK());
    const std::optional<std::string> keyBytes = internal::base64DecodeStrict(key);
    const std::optional<std::string> vectorBytes = decodeVector(iv);
    if (!keyBytes || !vectorBytes) return unreadableKey(*this);
    // The ciphertext is turned into Base64 as it comes, a piece at a time,
    // so only the answer is ever as large as the text. Its size is known
    // for ASCII text in 16-byte blocks (padding included).
    CipherRun run(*this, true, *keyBytes, *vectorBytes, std::min(text.size(), kPiece));
    String out;
    out.reserve(4 * (((text.size() / 16 + 1) * 16 + 2) / 3));
    if (!feedUtf8(text,
                  [&](std::string_view bytes) {
                      if (!run.update(bytes)) return false;
                      run.drainBase64(out, false);
                      return true;
                  }) ||
        !run.finish()) {
        return std::nullopt;
    }
    run.drainBase64(out, true);
    return out;
}

std::optional<String> QNCryptoSymmetricEncryptBaseAlgorithm::decryptString(
    StringView text, StringView key, std::optional<StringView> iv) {
    setError(QNCryptoError::QNCryptoError_ExecutionOK());
    const std::optional<std::string> input = internal::base64DecodeStrict(text);
    if (!input) {
        // A ciphertext that is not Base64 is a failed decryption, not an empty text.
        setError(QNCryptoError::QNCryptoHashError_WrongInputString());
        return std::nullopt;
    }
    const std::optional<std::string> keyBytes = internal::base64DecodeStrict(key);
    const std::optional<std::string> vectorBytes = decodeVector(iv);
    if (!keyBytes || !vectorBytes) return unreadableKey(*this);
    CipherRun run(*this, false, *keyBytes, *vectorBytes, input->size());
    if (!run.update(*input) || !run.finish()) return std::nullopt;
    if (!isValidUtf8(run.bytes())) {
        // The padding check passed by chance (a wrong key does that once in
        // a few hundred runs) or the ciphertext was made from bytes that are
        // no text: either way nothing readable came out.
        setError(QNCryptoError::QNCryptoAsymmetricError_CouldNotDecrypt());
        return std::nullopt;
    }
    return fromUtf8(run.bytes());
}

Ref<QNCryptoSymmetricEncryptBaseAlgorithm> QNCryptoSymmetricEncrypt::chosenAlgorithm() const {
    if (algorithm_ == u"DES") return makeRef<QNCryptoSymmetricEncryptDESAlgorithm>();
    if (algorithm_ == u"TripleDES") return makeRef<QNCryptoSymmetricEncryptTripleDESAlgorithm>();
    if (algorithm_ == u"Rijndael") {
        if (keySize_ == 24) return makeRef<QNCryptoSymmetricEncryptAES192Algorithm>();
        if (keySize_ == 16) return makeRef<QNCryptoSymmetricEncryptAES128Algorithm>();
    }
    return makeRef<QNCryptoSymmetricEncryptAES256Algorithm>();
}

std::int64_t QNCryptoSymmetricEncrypt::keySizeInBits() const {
    return chosenAlgorithm()->keySize() * 8;
}

std::int64_t QNCryptoSymmetricEncrypt::blockSizeInBits() const {
    return chosenAlgorithm()->blockSize() * 8;
}

namespace {

// Base64 of `count` fresh secure random bytes; absent if the generator fails,
// so no predictable key is ever kept.
std::optional<String> randomBase64(std::int64_t count) {
    std::array<unsigned char, 64> bytes{};
    const auto n = static_cast<int>(std::clamp<std::int64_t>(count, 0, bytes.size()));
    if (RAND_bytes(bytes.data(), n) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    return internal::base64String(bytes.data(), static_cast<std::size_t>(n));
}

const String& storedOrEmpty(const std::optional<String>& value) {
    static const String empty;
    return value ? *value : empty;
}

}  // namespace

const String& QNCryptoSymmetricEncrypt::key() {
    if (!key_) key_ = randomBase64(chosenAlgorithm()->keySize());
    return storedOrEmpty(key_);
}

const String& QNCryptoSymmetricEncrypt::iv() {
    if (!iv_) iv_ = randomBase64(chosenAlgorithm()->blockSize());
    return storedOrEmpty(iv_);
}

String QNCryptoSymmetricEncrypt::encrypt(StringView text) {
    const Ref<QNCryptoSymmetricEncryptBaseAlgorithm> algorithm = chosenAlgorithm();
    std::optional<String> result = algorithm->encryptString(text, key(), iv());
    takeOutcome(*algorithm);
    return result ? std::move(*result) : String();
}

String QNCryptoSymmetricEncrypt::decrypt(StringView text) {
    const Ref<QNCryptoSymmetricEncryptBaseAlgorithm> algorithm = chosenAlgorithm();
    std::optional<String> result = algorithm->decryptString(text, key(), iv());
    takeOutcome(*algorithm);
    return result ? std::move(*result) : String();
}

void QNCryptoSymmetricEncrypt::takeOutcome(const QNCryptoSymmetricEncryptAlgorithm& algorithm) {
    const Ref<QNCryptoError> error = algorithm.error();
    setError(error ? *error : *QNCryptoError::QNCryptoError_ExecutionOK());
}

}  // namespace qn
