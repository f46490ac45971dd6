// Symmetric encryption of texts with a block cipher chosen by name: DES,
// Triple DES or AES with a 128-, 192- or 256-bit key, in CBC mode with
// PKCS #7 padding. The object makes its own random key and initialisation
// vector the first time they are read and hands both out as Base64 text;
// ciphertext travels as Base64 text, plaintext as UTF-8.
//
// Each cipher is a small algorithm object that names its key size, block
// size and cipher identifier; one shared routine of the base algorithm does
// the work, so a subclass that supplies those three values is a new cipher.
#pragma once

#include <qn/core/object.h>
#include <qn/core/string.h>
#include <qn/crypto/crypto_error.h>
#include <qn/export.h>

#include <cstdint>
#include <optional>

namespace qn {

// The algorithm protocol: an error of the last call, the sizes in bytes, the
// cipher identifier (0 AES, 1 DES, 2 Triple DES) and the two operations.
// `key` and `iv` are Base64 texts; a result is absent on failure.
class QN_API QNCryptoSymmetricEncryptAlgorithm {
public:
    virtual ~QNCryptoSymmetricEncryptAlgorithm();

    virtual Ref<QNCryptoError> error() const = 0;
    virtual void setError(Ref<QNCryptoError> error) = 0;
    virtual std::int64_t keySize() const = 0;
    virtual std::int64_t blockSize() const = 0;
    virtual std::uint32_t commonCryptoAlgorithm() const = 0;
    virtual std::optional<String> encryptString(StringView text, StringView key,
                                                std::optional<StringView> iv) = 0;
    virtual std::optional<String> decryptString(StringView text, StringView key,
                                                std::optional<StringView> iv) = 0;
};

// The shared routine. A result is absent on failure, and `error` says which:
// 102 for a text to decrypt that is not Base64, 5 "Invalid key" for a key or
// vector that is not Base64, 201 for a key shorter than keySize, 202 for a
// cipher failure (with OpenSSL's packed error code, or -1 when OpenSSL names
// none), 305 "Could not decrypt text" for a plaintext that is not UTF-8.
//
// Thread-compatible.
class QN_API QNCryptoSymmetricEncryptBaseAlgorithm : public Object,
                                                     public QNCryptoSymmetricEncryptAlgorithm {
    QN_OBJECT(QNCryptoSymmetricEncryptBaseAlgorithm)
public:
    Ref<QNCryptoError> error() const override { return error_; }
    void setError(Ref<QNCryptoError> error) override { error_ = std::move(error); }
    std::optional<String> encryptString(StringView text, StringView key,
                                        std::optional<StringView> iv) override;
    std::optional<String> decryptString(StringView text, StringView key,
                                        std::optional<StringView> iv) override;

private:
    Ref<QNCryptoError> error_;
};

class QN_API QNCryptoSymmetricEncryptDESAlgorithm : public QNCryptoSymmetricEncryptBaseAlgorithm {
    QN_OBJECT(QNCryptoSymmetricEncryptDESAlgorithm)
public:
    std::int64_t keySize() const override { return 8; }
    std::int64_t blockSize() const override { return 8; }
    std::uint32_t commonCryptoAlgorithm() const override { return 1; }
};

class QN_API QNCryptoSymmetricEncryptAES128Algorithm
    : public QNCryptoSymmetricEncryptBaseAlgorithm {
    QN_OBJECT(QNCryptoSymmetricEncryptAES128Algorithm)
public:
    std::int64_t keySize() const override { return 16; }
    std::int64_t blockSize() const override { return 16; }
    std::uint32_t commonCryptoAlgorithm() const override { return 0; }
};

class QN_API QNCryptoSymmetricEncryptAES192Algorithm
    : public QNCryptoSymmetricEncryptBaseAlgorithm {
    QN_OBJECT(QNCryptoSymmetricEncryptAES192Algorithm)
public:
    std::int64_t keySize() const override { return 24; }
    std::int64_t blockSize() const override { return 16; }
    std::uint32_t commonCryptoAlgorithm() const override { return 0; }
};

class QN_API QNCryptoSymmetricEncryptAES256Algorithm
    : public QNCryptoSymmetricEncryptBaseAlgorithm {
    QN_OBJECT(QNCryptoSymmetricEncryptAES256Algorithm)
public:
    std::int64_t keySize() const override { return 32; }
    std::int64_t blockSize() const override { return 16; }
    std::uint32_t commonCryptoAlgorithm() const override { return 0; }
};

class QN_API QNCryptoSymmetricEncryptTripleDESAlgorithm
    : public QNCryptoSymmetricEncryptBaseAlgorithm {
    QN_OBJECT(QNCryptoSymmetricEncryptTripleDESAlgorithm)
public:
    std::int64_t keySize() const override { return 24; }
    std::int64_t blockSize() const override { return 8; }
    std::uint32_t commonCryptoAlgorithm() const override { return 2; }
};

// The object generated code uses. `algorithm` names the cipher, chosen afresh
// on every use: "DES"; "Rijndael" (AES-192 when keySize is 24, AES-128 when
// 16, AES-256 otherwise); "TripleDES"; anything else, "" and absent give
// AES-256. Names are compared exactly. The key and vector are made from
// OpenSSL's secure random generator on first read and kept, even when the
// algorithm changes later (a key then too short for the new cipher fails
// with 201).
//
// Thread-compatible.
class QN_API QNCryptoSymmetricEncrypt : public QNCryptoBaseType {
    QN_OBJECT(QNCryptoSymmetricEncrypt)
public:
    const std::optional<String>& algorithm() const noexcept { return algorithm_; }
    void setAlgorithm(std::optional<String> algorithm) { algorithm_ = std::move(algorithm); }
    // Bytes; keySize picks the AES variant for "Rijndael", blockSize is only kept.
    std::int64_t keySize() const noexcept { return keySize_; }
    void setKeySize(std::int64_t bytes) noexcept { keySize_ = bytes; }
    std::int64_t blockSize() const noexcept { return blockSize_; }
    void setBlockSize(std::int64_t bytes) noexcept { blockSize_ = bytes; }

    // The chosen cipher's sizes in bits; the setters store bits / 8.
    std::int64_t keySizeInBits() const;
    void setKeySizeInBits(std::int64_t bits) noexcept { keySize_ = bits / 8; }
    std::int64_t blockSizeInBits() const;
    void setBlockSizeInBits(std::int64_t bits) noexcept { blockSize_ = bits / 8; }

    // Base64 of the key and of the vector, made on first read ("" only if the
    // random generator fails, and then tried again on the next read).
    const String& key();
    const String& iv();

    // Base64 ciphertext of the text's UTF-8 form, or "".
    String encrypt(StringView text);
    // The plaintext of a Base64 ciphertext, or "".
    String decrypt(StringView text);

private:
    Ref<QNCryptoSymmetricEncryptBaseAlgorithm> chosenAlgorithm() const;
    // Copies the algorithm's error (none reads as success) into the error pair.
    void takeOutcome(const QNCryptoSymmetricEncryptAlgorithm& algorithm);

    std::optional<String> algorithm_ = String();
    std::optional<String> key_;
    std::optional<String> iv_;
    std::int64_t keySize_ = 0;
    std::int64_t blockSize_ = 0;
};

}  // namespace qn
