// Certificates on OpenSSL: PKCS #12 bundles through PKCS12_parse, DER
// certificates through d2i_X509, RSA-OAEP-SHA-256 through EVP_PKEY.
//
// A PKCS #12 bundle yields an identity only when it holds a private key
// together with its certificate; the trust is that certificate's public key.
#include <qn/crypto/certificate.h>
#include <qn/host/bundle.h>
#include <qn/host/log.h>

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/ascii.h"
#include "core/base64.h"
#include "crypto/openssl_error.h"
#include "host/internal.h"

namespace qn {

QN_REGISTER_CLASS(QNCryptoCertificate, QNCryptoBaseType)
QN_REGISTER_CLASS(QNCryptoAsymmetricEncrypt, QNCryptoBaseType)

namespace {

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
struct CertificateDeleter {
    void operator()(X509* certificate) const noexcept { X509_free(certificate); }
};
struct PKCS12Deleter {
    void operator()(PKCS12* bundle) const noexcept { PKCS12_free(bundle); }
};
struct KeyContextDeleter {
    void operator()(EVP_PKEY_CTX* context) const noexcept { EVP_PKEY_CTX_free(context); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using CertificatePtr = std::unique_ptr<X509, CertificateDeleter>;
using PKCS12Ptr = std::unique_ptr<PKCS12, PKCS12Deleter>;
using KeyContextPtr = std::unique_ptr<EVP_PKEY_CTX, KeyContextDeleter>;

// Certificates are small; a larger file is not one and is not read whole.
constexpr std::size_t kMaxCertificateFileBytes = 16u << 20;

void consoleMessage(const String& text) {
    QNLog::loggerService()->logMessage(text, QNLogTypeFiles, QNLogLevelError, true);
}

}  // namespace

struct QNCryptoCertificate::Impl {
    KeyPtr identityKey;  // the identity: a private key with its certificate
    CertificatePtr identityCertificate;
    KeyPtr trustKey;  // the trust: the identity certificate's public key
    CertificatePtr certificate;

    bool loadPKCS12(const std::string& bytes, const std::string& password) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        PKCS12Ptr bundle(d2i_PKCS12(nullptr, &p, static_cast<long>(bytes.size())));
        if (!bundle) return false;
        EVP_PKEY* key = nullptr;
        X509* leaf = nullptr;
        STACK_OF(X509)* chain = nullptr;
        const bool parsed = PKCS12_parse(bundle.get(), password.c_str(), &key, &leaf, &chain) == 1;
        KeyPtr ownedKey(key);
        CertificatePtr ownedLeaf(leaf);
        sk_X509_pop_free(chain, X509_free);
        if (!parsed || !ownedKey || !ownedLeaf) return false;
        KeyPtr publicKey(X509_get_pubkey(ownedLeaf.get()));
        if (!publicKey) return false;
        identityKey = std::move(ownedKey);
        identityCertificate = std::move(ownedLeaf);
        trustKey = std::move(publicKey);
        return true;
    }

    bool loadDER(const std::string& bytes) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        const auto* const end = p + bytes.size();
        CertificatePtr parsed(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
        // Bytes after the certificate mean the file is something else.
        if (!parsed || p != end) return false;
        certificate = std::move(parsed);
        return true;
    }
};

QNCryptoCertificate::QNCryptoCertificate() : impl_(std::make_unique<Impl>()) {}

QNCryptoCertificate::~QNCryptoCertificate() = default;

bool QNCryptoCertificate::hasIdentity() const noexcept {
    return impl_->identityKey != nullptr;
}

bool QNCryptoCertificate::hasTrust() const noexcept {
    return impl_->trustKey != nullptr;
}

bool QNCryptoCertificate::hasCertificate() const noexcept {
    return impl_->certificate != nullptr;
}

std::int64_t QNCryptoCertificate::load(const std::optional<String>& path,
                                       const std::optional<String>& password) {
    setError(*QNCryptoError::QNCryptoError_ExecutionOK());
    *impl_ = Impl();

    std::optional<std::filesystem::path> file;
    if (path) file = QNBundle::mainBundle()->pathForResourceOfType(toUtf8(*path));
    if (!file) {
        if (!path) {
            setError(*QNCryptoError::QNCryptoSymmetricError_CertificateFileNotFound());
            return errCode();
        }
        file = std::filesystem::path(toUtf8(*path));
    }

    std::string extension = file->extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    const bool pkcs12 = internal::equalsIgnoringASCIICase(extension, "pfx");
    if (!pkcs12 && !internal::equalsIgnoringASCIICase(extension, "cer")) {
        setError(*QNCryptoError::QNCryptoSymmetricError_UnsupportedCertificateType());
        return errCode();
    }
    // A bundle needs its password to give its private key.
    if (pkcs12 && !password) {
        setError(*QNCryptoError::QNCryptoAsymmetricError_MissingPrivateKey());
        return errCode();
    }
    const std::optional<std::string> bytes = internal::readFile(*file, kMaxCertificateFileBytes);
    if (!bytes) {
        setError(*QNCryptoError::QNCryptoSymmetricError_CertificateFileNotFound());
        return errCode();
    }
    // A failed import says why at load, not at a later encryption: OpenSSL's
    // error when it gave one (a wrong password is its MAC failure), else the
    // key the file does not give.
    ERR_clear_error();
    const bool imported =
        pkcs12 ? impl_->loadPKCS12(*bytes, toUtf8(*password)) : impl_->loadDER(*bytes);
    if (!imported) {
        if (const std::optional<QNError> error = internal::takeOpenSSLError())
            setError(*QNCryptoError::cryptoErrorFromNSError(*error));
        else
            setError(pkcs12 ? *QNCryptoError::QNCryptoAsymmetricError_MissingPrivateKey()
                            : *QNCryptoError::QNCryptoAsymmetricError_MissingPublicKey());
        *impl_ = Impl();
    }
    ERR_clear_error();
    return errCode();
}

void QNCryptoCertificate::fromBase64(StringView) {
    setError(*QNCryptoError::QNCryptoError_NotImplemented());
}

namespace {

// The public key for encryption: the trust's, else the DER certificate's.
KeyPtr publicKeyOf(const QNCryptoCertificate::Impl& certificate) {
    if (certificate.trustKey) {
        if (EVP_PKEY_up_ref(certificate.trustKey.get()) != 1) return nullptr;
        return KeyPtr(certificate.trustKey.get());
    }
    if (certificate.certificate) return KeyPtr(X509_get_pubkey(certificate.certificate.get()));
    consoleMessage(u"Certificate object not available");
    return nullptr;
}

// The identity's private key, shared with the certificate for the operation.
KeyPtr privateKeyOf(const QNCryptoCertificate::Impl& certificate) {
    if (!certificate.identityKey) {
        consoleMessage(u"Identity object not available");
        return nullptr;
    }
    ERR_clear_error();
    if (EVP_PKEY_up_ref(certificate.identityKey.get()) != 1) {
        consoleMessage(u"Could not get private key (status = " +
                       asciiString(std::to_string(internal::takeOpenSSLStatus())) + u")");
        return nullptr;
    }
    return KeyPtr(certificate.identityKey.get());
}

// RSA-OAEP with SHA-256 is defined for plain RSA keys only (not EC, not
// RSA-PSS, whose keys are restricted to signing).
bool supportsOAEP(EVP_PKEY* key) {
    return EVP_PKEY_is_a(key, "RSA") == 1;
}

// A key context set up for RSA-OAEP-SHA-256 in one direction, or null.
KeyContextPtr oaepContext(EVP_PKEY* key, bool encrypt) {
    KeyContextPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!context) return nullptr;
    EVP_PKEY_CTX* c = context.get();
    const int ready = encrypt ? EVP_PKEY_encrypt_init(c) : EVP_PKEY_decrypt_init(c);
    if (ready != 1 || EVP_PKEY_CTX_set_rsa_padding(c, RSA_PKCS1_OAEP_PADDING) != 1 ||
        EVP_PKEY_CTX_set_rsa_oaep_md(c, EVP_sha256()) != 1 ||
        EVP_PKEY_CTX_set_rsa_mgf1_md(c, EVP_sha256()) != 1) {
        return nullptr;
    }
    return context;
}

// Runs the key operation; absent on failure (OpenSSL's error left queued).
std::optional<std::vector<unsigned char>> runOAEP(EVP_PKEY* key, bool encrypt,
                                                  std::string_view input) {
    const KeyContextPtr context = oaepContext(key, encrypt);
    if (!context) return std::nullopt;
    const auto* in = reinterpret_cast<const unsigned char*>(input.data());
    const auto operation = encrypt ? EVP_PKEY_encrypt : EVP_PKEY_decrypt;
    std::size_t size = 0;
    if (operation(context.get(), nullptr, &size, in, input.size()) != 1) return std::nullopt;
    std::vector<unsigned char> output(size);
    if (operation(context.get(), output.data(), &size, in, input.size()) != 1) return std::nullopt;
    output.resize(size);
    return output;
}

}  // namespace

String QNCryptoAsymmetricEncrypt::encrypt(StringView text) {
    const KeyPtr key = certificate_ ? publicKeyOf(*certificate_->impl_) : nullptr;
    if (!key) {
        setError(*QNCryptoError::QNCryptoAsymmetricError_MissingPublicKey());
        return {};
    }
    if (!supportsOAEP(key.get())) {
        setError(*QNCryptoError::QNCryptoAsymmetricError_AlgorithmNotSupported());
        return {};
    }
    ERR_clear_error();
    const std::optional<std::vector<unsigned char>> sealed = runOAEP(key.get(), true, toUtf8(text));
    if (!sealed) {
        if (const std::optional<QNError> error = internal::takeOpenSSLError()) {
            setError(*QNCryptoError::cryptoErrorFromNSError(*error));
            return {};
        }
    }
    String answer = sealed ? internal::base64String(sealed->data(), sealed->size()) : String();
    setError(answer.empty() ? *QNCryptoError::QNCryptoAsymmetricError_CouldNotEncrypt()
                            : *QNCryptoError::QNCryptoError_ExecutionOK());
    return answer;
}

String QNCryptoAsymmetricEncrypt::decrypt(StringView text) {
    const KeyPtr key = certificate_ ? privateKeyOf(*certificate_->impl_) : nullptr;
    if (!key) {
        setError(*QNCryptoError::QNCryptoAsymmetricError_MissingPrivateKey());
        return {};
    }
    if (!supportsOAEP(key.get())) {
        setError(*QNCryptoError::QNCryptoAsymmetricError_AlgorithmNotSupported());
        return {};
    }
    const std::string sealed = internal::base64DecodeStrict(text).value_or(std::string());
    if (sealed.size() != static_cast<std::size_t>(EVP_PKEY_get_size(key.get()))) {
        setError(*QNCryptoError::QNCryptoAsymmetricError_CouldNotDecrypt());
        return {};
    }

    ERR_clear_error();
    const std::optional<std::vector<unsigned char>> plain = runOAEP(key.get(), false, sealed);
    if (!plain) {
        if (const std::optional<QNError> error = internal::takeOpenSSLError()) {
            setError(*QNCryptoError::cryptoErrorFromNSError(*error));
            return {};
        }
    } else {
        const std::string_view bytes(reinterpret_cast<const char*>(plain->data()), plain->size());
        if (isValidUtf8(bytes)) {
            setError(*QNCryptoError::QNCryptoError_ExecutionOK());
            return fromUtf8(bytes);
        }
    }
    setError(*QNCryptoError::QNCryptoAsymmetricError_CouldNotDecrypt());
    return {};
}

}  // namespace qn
