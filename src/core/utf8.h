// Hand-decoding of well-formed UTF-8, shared by the converters of the
// library: text at its edges is mostly ASCII and well-formed, and decoding it
// here is several times faster than a library call per string.
#pragma once

#include <cstddef>

namespace qn::internal {

struct Utf8Prefix {
    const unsigned char* stop;  // the first byte not decoded (the end when all were)
    char16_t* out;              // past the last unit written
};

// Decodes [p, end) into `out` (room for one unit per byte) up to the first
// ill-formed sequence: an overlong form, an encoded surrogate, a value above
// U+10FFFF, a stray or missing continuation byte.
Utf8Prefix decodeWellFormedUtf8(const unsigned char* p, const unsigned char* end,
                                char16_t* out) noexcept;

}  // namespace qn::internal
