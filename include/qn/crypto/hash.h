// Hashing of texts, as generated code asks for it. No hash algorithm is
// offered by this library: every computation reports the invalid-algorithm
// error (103) and answers "", so code that hashes builds, runs and sees a
// defined failure.
#pragma once

#include <qn/core/string.h>
#include <qn/crypto/crypto_error.h>
#include <qn/export.h>

#include <optional>

namespace qn {

// Thread-compatible.
class QN_API QNCryptoHash : public QNCryptoBaseType {
    QN_OBJECT(QNCryptoHash)
public:
    const std::optional<String>& algorithm() const noexcept { return algorithm_; }
    void setAlgorithm(std::optional<String> algorithm) { algorithm_ = std::move(algorithm); }

    // "" with errCode 103, whatever the text, key and algorithm.
    String compute(StringView text, StringView key);

private:
    std::optional<String> algorithm_;
};

}  // namespace qn
