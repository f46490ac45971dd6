#include <qn/crypto/hash.h>

namespace qn {

QN_REGISTER_CLASS(QNCryptoHash, QNCryptoBaseType)

String QNCryptoHash::compute(StringView, StringView) {
    setError(*QNCryptoError::QNCryptoHashError_InvalidAlgorithm());
    return {};
}

}  // namespace qn
