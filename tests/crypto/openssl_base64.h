// Base64 through OpenSSL, independent of the library's own coder: the
// reference the crypto tests read ciphertexts and keys with.
#pragma once

#include <qn/core/string.h>

#include <openssl/evp.h>

#include <string>
#include <string_view>

namespace qn::test {

// The bytes of `base64`; "" when it is not Base64.
inline std::string bytesOf(StringView base64) {
    const std::string text = toUtf8(base64);
    std::string bytes(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0) return {};
    bytes.resize(static_cast<std::size_t>(n));
    for (auto it = text.rbegin(); it != text.rend() && *it == '='; ++it)
        bytes.pop_back();
    return bytes;
}

inline String base64(std::string_view bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(n));
    return fromUtf8(text);
}

}  // namespace qn::test
