// The error model every crypto object shares. An operation decides the
// QNCryptoError of its outcome (ExecutionOK on success) and copies its code
// and text into the object's errCode and errDescription, so generated code
// tests errCode == 0 after each call; nothing is thrown.
//
//   code  text
//   0     ""
//   3     "Algorithm does not support Hashing with Key. Please use HMAC
//          instead or remove the Key parameter"
//   4     "Key must be specified"
//   5     "Invalid key"
//   11    "Algorithm not implemented"
//   102   "Could not read input string"
//   103   "Specified algorithm is not valid"
//   201   "Invalid Key length"
//   202   "Could not perform operation (<status>)"
//   203   "Unsupported certificate type"
//   204   "Could not find certificate's file"
//   301   "Could not get public key from certificate"
//   302   "Could not get private key from certificate"
//   303   "Specified algorithm is not valid for current certificate"
//   304   "Could not encrypt text"
//   305   "Could not decrypt text"
//   1000 + c  "Error: <description>"   (a cipher library's error with code c)
#pragma once

#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/errors.h>

#include <cstdint>

namespace qn {

// An outcome: a code and its text. Each factory call makes a new object.
// Thread-compatible.
class QN_API QNCryptoError : public Object {
    QN_OBJECT(QNCryptoError)
public:
    QNCryptoError(std::int64_t code, String description);

    std::int64_t code() const noexcept { return code_; }
    void setCode(std::int64_t code) noexcept { code_ = code; }
    const String& desc() const noexcept { return desc_; }
    void setDesc(String desc) { desc_ = std::move(desc); }
    String description() const override;

    static Ref<QNCryptoError> QNCryptoError_ExecutionOK();
    static Ref<QNCryptoError> QNCryptoError_NotImplemented();
    static Ref<QNCryptoError> QNCryptoHashError_UnsupportedKey();
    static Ref<QNCryptoError> QNCryptoHashError_KeyIsRequired();
    static Ref<QNCryptoError> QNCryptoHashError_InvalidKey();
    static Ref<QNCryptoError> QNCryptoHashError_WrongInputString();
    static Ref<QNCryptoError> QNCryptoHashError_InvalidAlgorithm();
    static Ref<QNCryptoError> QNCryptoSymmetricError_InvalidaKeyLength();
    // "Could not perform operation (%d)" with the cipher library's status.
    static Ref<QNCryptoError> QNCryptoSymmetricErrorTemplate_CouldNotPerformOperationWithStatus(
        std::int32_t status);
    static Ref<QNCryptoError> QNCryptoSymmetricErrorTemplate_CouldNotPerformOperation(
        std::int32_t status) {
        return QNCryptoSymmetricErrorTemplate_CouldNotPerformOperationWithStatus(status);
    }
    static Ref<QNCryptoError> QNCryptoSymmetricError_UnsupportedCertificateType();
    static Ref<QNCryptoError> QNCryptoSymmetricError_CertificateFileNotFound();
    static Ref<QNCryptoError> QNCryptoAsymmetricError_MissingPublicKey();
    static Ref<QNCryptoError> QNCryptoAsymmetricError_MissingPrivateKey();
    static Ref<QNCryptoError> QNCryptoAsymmetricError_AlgorithmNotSupported();
    static Ref<QNCryptoError> QNCryptoAsymmetricError_CouldNotEncrypt();
    static Ref<QNCryptoError> QNCryptoAsymmetricError_CouldNotDecrypt();

    // A cipher library's error: its code + 1000, "Error: " + its description.
    static Ref<QNCryptoError> cryptoErrorFromNSError(const QNError& error);

private:
    std::int64_t code_;
    String desc_;
};

// The base of the crypto objects: the error pair of the last operation.
// Thread-compatible.
class QN_API QNCryptoBaseType : public Object {
    QN_OBJECT(QNCryptoBaseType)
public:
    std::int64_t errCode() const noexcept { return errCode_; }
    void setErrCode(std::int64_t code) noexcept { errCode_ = code; }
    const String& errDescription() const noexcept { return errDescription_; }
    void setErrDescription(String description) { errDescription_ = std::move(description); }

protected:
    // Copies an outcome into the error pair.
    void setError(const QNCryptoError& error) {
        errCode_ = error.code();
        errDescription_ = error.desc();
    }

private:
    std::int64_t errCode_ = 0;
    String errDescription_;
};

}  // namespace qn
