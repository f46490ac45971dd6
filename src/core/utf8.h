// Hand-coding of UTF-8, shared by the converters of the library: text at its
// edges is mostly ASCII and well-formed, and converting it here is several
// times faster than a library call per string.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// What the encoder does with a surrogate that is not half of a pair: it has
// no UTF-8 form, and each caller has its own rule for it.
enum class LoneSurrogate {
    kReplace,  // U+FFFD in its place, as ICU's converters write it
    kStop,     // stop before it, for a caller that writes it its own way
};

// What the encoder does with U+0000: most callers encode it like any other
// unit; one that hands the text on as a C string, which U+0000 would cut
// short, stops before it.
enum class Nul {
    kEncode,
    kStop,
};

struct Utf16Prefix {
    const char16_t* stop;  // the first unit not encoded (the end when all were)
    char* out;             // past the last byte written
};

// Encodes [p, end) as UTF-8 into `out` (room for three bytes per unit: a pair
// gives four for two), up to the end or the first unit a kStop names.
//
// Inline in every caller: most texts are short (keys, names, attribute
// values), and a call per text costs more than converting one. Text
// alternates between runs of ASCII, taken several units at a time, and
// runs of other units, taken one character at a time without going back to
// the ASCII test in between (CJK text is one long such run).
template <LoneSurrogate kLone, Nul kNul = Nul::kEncode>
[[gnu::always_inline]] inline Utf16Prefix encodeUtf8(const char16_t* p, const char16_t* const end,
                                                     char* out) noexcept {
    constexpr bool kStopAtNul = kNul == Nul::kStop;
    // The units the fast paths take: ASCII, without U+0000 when it stops them.
    constexpr auto plain = [](unsigned c) { return kStopAtNul ? c - 1u < 0x7Fu : c < 0x80u; };
    while (p != end) {
#if defined(__SSE2__)
        // Adding 0x7F80 with saturation sets the top bit of a unit from U+0080
        // up; subtracting 1 first (U+0000 wraps round) flags U+0000 too.
        const __m128i one = _mm_set1_epi16(1);
        const __m128i flag = _mm_set1_epi16(kStopAtNul ? 0x7F81 : 0x7F80);
        while (end - p >= 8) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i shifted = kStopAtNul ? _mm_sub_epi16(units, one) : units;
            if (_mm_movemask_epi8(_mm_adds_epu16(shifted, flag)) & 0xAAAA) break;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(units, units));
            out += 8;
            p += 8;
        }
#endif
        if constexpr (std::endian::native == std::endian::little) {
            while (end - p >= 4) {
                std::uint64_t units;
                std::memcpy(&units, p, sizeof units);
                if (units & 0xFF80FF80FF80FF80ULL) break;
                // A zero unit borrows into its top bit (and may make a
                // neighbour look zero too: the unit-wise loop below decides).
                if (kStopAtNul && ((units - 0x0001000100010001ULL) & 0x8000800080008000ULL)) break;
                const auto packed = static_cast<std::uint32_t>(
                    (units & 0xFFULL) | ((units >> 8) & 0xFF00ULL) | ((units >> 16) & 0xFF0000ULL) |
                    ((units >> 24) & 0xFF000000ULL));
                std::memcpy(out, &packed, sizeof packed);
                out += 4;
                p += 4;
            }
        }
        // The ASCII left before the next other unit (or the end).
        while (p != end && plain(*p))
            *out++ = static_cast<char>(*p++);
        if (kStopAtNul && p != end && *p == 0) return {p, out};
        while (p != end && *p >= 0x80) {
            unsigned c = *p;
            if (c < 0x800) {
                *out++ = static_cast<char>(0xC0 | c >> 6);
                *out++ = static_cast<char>(0x80 | (c & 0x3F));
                ++p;
                continue;
            }
            if ((c & 0xF800) == 0xD800) {
                if (c < 0xDC00 && end - p >= 2 && (p[1] & 0xFC00) == 0xDC00) {
                    const unsigned cp = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00u);
                    *out++ = static_cast<char>(0xF0 | cp >> 18);
                    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
                    p += 2;
                    continue;
                }
                if constexpr (kLone == LoneSurrogate::kStop) return {p, out};
                c = 0xFFFD;
            }
            *out++ = static_cast<char>(0xE0 | c >> 12);
            *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
            ++p;
        }
    }
    return {p, out};
}

}  // namespace qn::internal
