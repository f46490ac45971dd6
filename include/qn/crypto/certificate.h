// Certificates and asymmetric encryption.
//
// A QNCryptoCertificate is loaded from a file: a PKCS #12 bundle ("pfx",
// protected by a password) gives a private key with its certificate (the
// identity) and the certificate's public key (the trust); a DER-encoded X.509
// certificate ("cer") gives a public key only. QNCryptoAsymmetricEncrypt
// encrypts with the public key and decrypts with the private key, always
// with RSA-OAEP using SHA-256 for the digest and the mask generation.
//
//   auto certificate = qn::makeRef<qn::QNCryptoCertificate>();
//   certificate->load(u"server.pfx", u"secret");          // 0: loaded
//   qn::QNCryptoAsymmetricEncrypt rsa;
//   rsa.setCertificate(certificate);
//   qn::String sealed = rsa.encrypt(u"text");              // Base64
//   qn::String text = rsa.decrypt(sealed);
#pragma once

#include <qn/core/object.h>
#include <qn/core/string.h>
#include <qn/crypto/crypto_error.h>
#include <qn/export.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace qn {

// Thread-compatible. Owns its keys and certificates; asymmetric objects that
// use it share it.
class QN_API QNCryptoCertificate : public QNCryptoBaseType {
    QN_OBJECT(QNCryptoCertificate)
public:
    QNCryptoCertificate();
    ~QNCryptoCertificate() override;

    // Loads a certificate, first as a resource of the main bundle named
    // `path` (extension included), else from the file-system path `path`.
    // Forgets what was loaded before. Answers errCode: 0 when loaded; 204
    // for an absent path or a file that cannot be read; 203 for an extension
    // other than pfx or cer (any case); 302 for a bundle without a password;
    // for a wrong password or bytes that are no certificate, OpenSSL's error
    // (its packed code + 1000, "Error: " and its text), else 302 (bundle) or
    // 301 (certificate). A failed load loads nothing.
    std::int64_t load(const std::optional<String>& path, const std::optional<String>& password);
    // Not offered: errCode 11; loads nothing.
    void fromBase64(StringView text);

    // What the last load gave.
    bool hasIdentity() const noexcept;
    bool hasTrust() const noexcept;
    bool hasCertificate() const noexcept;

    struct Impl;  // the OpenSSL objects, private to the library

private:
    friend class QNCryptoAsymmetricEncrypt;
    std::unique_ptr<Impl> impl_;
};

// RSA-OAEP-SHA-256 with a certificate's keys. `algorithm` is kept for the
// caller but chooses nothing. The error pair follows each operation's
// failures; a success leaves it as it was, and so does a ciphertext that is
// not exactly one key block long.
//
// Thread-compatible.
class QN_API QNCryptoAsymmetricEncrypt : public QNCryptoBaseType {
    QN_OBJECT(QNCryptoAsymmetricEncrypt)
public:
    const std::optional<String>& algorithm() const noexcept { return algorithm_; }
    void setAlgorithm(std::optional<String> algorithm) { algorithm_ = std::move(algorithm); }
    const Ref<QNCryptoCertificate>& certificate() const noexcept { return certificate_; }
    void setCertificate(Ref<QNCryptoCertificate> certificate) {
        certificate_ = std::move(certificate);
    }

    // Base64 ciphertext of the text's UTF-8 form (one block), or "".
    String encrypt(StringView text);
    // The plaintext of a Base64 ciphertext, or "".
    String decrypt(StringView text);

private:
    std::optional<String> algorithm_;
    Ref<QNCryptoCertificate> certificate_;
};

}  // namespace qn
