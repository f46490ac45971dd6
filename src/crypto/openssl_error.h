// Where OpenSSL failures cross into the library. OpenSSL reports a failure
// by pushing entries on the calling thread's error queue; the crypto objects
// turn the first entry (the root cause) into a QNError and leave the queue
// empty, so a later failure never reports an earlier one's cause.
#pragma once

#include <qn/core/string.h>
#include <qn/host/errors.h>

#include <openssl/err.h>

#include <array>
#include <cstdint>
#include <optional>

namespace qn::internal {

inline const String kOpenSSLErrorDomain = u"OpenSSL";

// The first queued error as code = OpenSSL's packed error code (library and
// reason, `openssl errstr <hex>` decodes it) and description = OpenSSL's text
// for it; absent when nothing is queued. Clears the queue either way.
inline std::optional<QNError> takeOpenSSLError() {
    const unsigned long packed = ERR_get_error();
    ERR_clear_error();
    if (packed == 0) return std::nullopt;
    std::array<char, 256> text{};
    ERR_error_string_n(packed, text.data(), text.size());
    const String description = fromUtf8(text.data());
    // Packed codes are at most 32 bits; as a signed 32-bit number the system
    // error flag (bit 31) reads negative, as a C caller would see it.
    const auto code = static_cast<std::int32_t>(static_cast<std::uint32_t>(packed));
    return QNError(kOpenSSLErrorDomain, code, description, description);
}

// The status a failed OpenSSL call reports where the library needs a number:
// the packed code of takeOpenSSLError, or -1 when nothing was queued.
inline std::int32_t takeOpenSSLStatus() {
    const std::optional<QNError> error = takeOpenSSLError();
    return error ? static_cast<std::int32_t>(error->code()) : -1;
}

}  // namespace qn::internal
