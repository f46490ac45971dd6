// The crypto error codes and texts, and the crossing of a cipher library's
// error into them.
#include <qn/crypto/crypto_error.h>

#include <string>
#include <utility>

namespace qn {

QN_REGISTER_CLASS(QNCryptoError, Object)
QN_REGISTER_CLASS(QNCryptoBaseType, Object)

namespace {

Ref<QNCryptoError> make(std::int64_t code, const char16_t* text) {
    return makeRef<QNCryptoError>(code, String(text));
}

}  // namespace

QNCryptoError::QNCryptoError(std::int64_t code, String description)
    : code_(code), desc_(std::move(description)) {}

String QNCryptoError::description() const {
    return u"<QNCryptoError " + asciiString(std::to_string(code_)) + u": " + desc_ + u">";
}

Ref<QNCryptoError> QNCryptoError::QNCryptoError_ExecutionOK() {
    return make(0, u"");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoError_NotImplemented() {
    return make(11, u"Algorithm not implemented");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoHashError_UnsupportedKey() {
    return make(3,
                u"Algorithm does not support Hashing with Key. Please use HMAC instead or remove "
                u"the Key parameter");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoHashError_KeyIsRequired() {
    return make(4, u"Key must be specified");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoHashError_InvalidKey() {
    return make(5, u"Invalid key");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoHashError_WrongInputString() {
    return make(102, u"Could not read input string");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoHashError_InvalidAlgorithm() {
    return make(103, u"Specified algorithm is not valid");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoSymmetricError_InvalidaKeyLength() {
    return make(201, u"Invalid Key length");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoSymmetricErrorTemplate_CouldNotPerformOperationWithStatus(
    std::int32_t status) {
    return makeRef<QNCryptoError>(
        202, u"Could not perform operation (" + asciiString(std::to_string(status)) + u")");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoSymmetricError_UnsupportedCertificateType() {
    return make(203, u"Unsupported certificate type");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoSymmetricError_CertificateFileNotFound() {
    return make(204, u"Could not find certificate's file");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoAsymmetricError_MissingPublicKey() {
    return make(301, u"Could not get public key from certificate");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoAsymmetricError_MissingPrivateKey() {
    return make(302, u"Could not get private key from certificate");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoAsymmetricError_AlgorithmNotSupported() {
    return make(303, u"Specified algorithm is not valid for current certificate");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoAsymmetricError_CouldNotEncrypt() {
    return make(304, u"Could not encrypt text");
}

Ref<QNCryptoError> QNCryptoError::QNCryptoAsymmetricError_CouldNotDecrypt() {
    return make(305, u"Could not decrypt text");
}

Ref<QNCryptoError> QNCryptoError::cryptoErrorFromNSError(const QNError& error) {
    return makeRef<QNCryptoError>(error.code() + 1000, u"Error: " + error.localizedDescription());
}

}  // namespace qn
