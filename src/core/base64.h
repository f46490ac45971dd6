// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks), the one
// form every text of the library uses: files, HTTP credentials, property
// lists and the ciphers' keys and ciphertexts.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qn::internal {

// Appends the Base64 text of `size` bytes at `data` (exported for the
// white-box tests).
QN_API void appendBase64(std::string& out, const void* data, std::size_t size);
QN_API void appendBase64(String& out, const void* data, std::size_t size);

inline std::string base64Encode(std::string_view bytes) {
    std::string out;
    appendBase64(out, bytes.data(), bytes.size());
    return out;
}

// The same text as a String.
String base64String(const void* data, std::size_t size);

// Strict decoding: only the alphabet, a length that is a multiple of 4, and
// "=" only as one or two final padding characters; absent otherwise (white
// space and line breaks included).
std::optional<std::string> base64DecodeStrict(StringView text);

}  // namespace qn::internal
