// UTF-8 <-> UTF-16 at the edges of the library.
//
// Malformed input never fails and never truncates: it becomes U+FFFD, as ICU
// repairs it. Both directions are coded by hand (core/utf8.h); only the
// ill-formed runs of UTF-8 go to ICU. The output is sized for the worst case
// once (no preflight pass over the input) and trimmed afterwards. ICU counts
// in int32_t, so inputs beyond that are handed to it in chunks split on
// sequence boundaries; the result is the same as one pass.
#include <qn/core/string.h>

#include <unicode/ustring.h>
#include <unicode/utypes.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/utf8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qn {
namespace {

constexpr UChar32 kReplacement = 0xFFFD;
// Chunk size in input bytes for ICU, well inside an int32_t.
constexpr std::size_t kChunk = std::size_t{1} << 28;
// Outputs up to this many units are built on the stack, then copied once into
// an exact-size string.
constexpr std::size_t kStackBytes = 1024;

// Trims `s` to `length` and gives back the worst-case slack when it is large.
template <class S>
void trimTo(S& s, std::size_t length) {
    s.resize(length);
    const std::size_t slack = s.capacity() - length;
    if (slack > 64 && slack > s.capacity() / 4) s.shrink_to_fit();
}

// One ICU call; `out` has room for the worst case. Returns units written.
std::size_t fromUtf8Chunk(const char* src, std::size_t n, char16_t* out, std::size_t cap) {
    int32_t written = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out, static_cast<int32_t>(cap), &written, src, static_cast<int32_t>(n),
                         kReplacement, nullptr, &status);
    if (U_FAILURE(status) || written < 0) return 0;
    return static_cast<std::size_t>(written);
}

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Converts all of `text` into `out` (room for the worst case).
std::size_t toUtf8Into(StringView text, char* out) {
    const internal::Utf16Prefix done = internal::encodeUtf8<internal::LoneSurrogate::kReplace>(
        text.data(), text.data() + text.size(), out);
    return static_cast<std::size_t>(done.out - out);
}

// Hands ICU `text` in pieces it can count, split so that no sequence (valid
// or a maximal invalid subpart, at most four bytes) is cut.
std::size_t fromUtf8ByICU(std::string_view text, char16_t* out) {
    std::size_t done = 0, written = 0;
    while (done < text.size()) {
        std::size_t n = std::min(kChunk, text.size() - done);
        if (done + n < text.size()) {
            for (std::size_t back = 0; back < 4; ++back) {
                if (!isContinuation(text[done + n - back])) {
                    n -= back;
                    break;
                }
            }
        }
        written += fromUtf8Chunk(text.data() + done, n, out + written, n);
        done += n;
    }
    return written;
}

// Well-formed UTF-8 is decoded by hand; ICU takes each ill-formed run, up to
// the next ASCII byte (which no sequence or ill-formed subpart contains), so
// the result is exactly ICU's over the whole text.
std::size_t fromUtf8Into(std::string_view text, char16_t* out) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = p + text.size();
    char16_t* o = out;
    while (p < end) {
        const internal::Utf8Prefix done = internal::decodeWellFormedUtf8(p, end, o);
        p = done.stop;
        o = done.out;
        if (p == end) break;
        const auto* next = p + 1;
        while (next < end && *next >= 0x80)
            ++next;
        o += fromUtf8ByICU(
            std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(next - p)),
            o);
        p = next;
    }
    return static_cast<std::size_t>(o - out);
}

// The number of ASCII bytes that open [p, p + 8), written to `out` as units
// when kWrite (all eight are written; those past the count are scratch).
template <bool kWrite>
[[gnu::always_inline]] inline unsigned asciiPrefix8(const unsigned char* p,
                                                    char16_t* out) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
#if defined(__SSE2__)
    if constexpr (kWrite) {
        const __m128i bytes = _mm_cvtsi64_si128(static_cast<long long>(word));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_unpacklo_epi8(bytes, _mm_setzero_si128()));
    }
#else
    if constexpr (kWrite) {
        for (int k = 0; k < 8; ++k)
            out[k] = p[k];
    }
#endif
    const std::uint64_t high = word & 0x8080808080808080ULL;
    if constexpr (std::endian::native == std::endian::little) {
        return high == 0 ? 8u : static_cast<unsigned>(std::countr_zero(high)) / 8;
    } else {
        unsigned n = 0;
        while (n < 8 && p[n] < 0x80)
            ++n;
        return n;
    }
}

// Decodes (or, without output, only checks) well-formed UTF-8 up to the first
// ill-formed sequence.
//
// ASCII is taken a block at a time: a block is widened and stored whole,
// and the position moves past its ASCII prefix, so text that mixes a few
// other characters into ASCII costs no byte-by-byte loop and no mispredicted
// branch per ASCII byte. Storing a whole block needs room for one unit per
// byte from the current position on, which the caller's buffer has.
template <bool kWrite>
internal::Utf8Prefix scanUtf8(const unsigned char* p, const unsigned char* end,
                              char16_t* out) noexcept {
    while (p < end) {
#if defined(__SSE2__)
        while (end - p >= 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if constexpr (kWrite) {
                const __m128i zero = _mm_setzero_si128();
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8),
                                 _mm_unpackhi_epi8(bytes, zero));
            }
            const auto high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
            const unsigned ascii = high == 0 ? 16u : static_cast<unsigned>(std::countr_zero(high));
            p += ascii;
            if constexpr (kWrite) out += ascii;
            if (high != 0) break;
        }
#endif
        if (end - p >= 8 && *p < 0x80) {
            const unsigned ascii = asciiPrefix8<kWrite>(p, out);
            p += ascii;
            if constexpr (kWrite) out += ascii;
            if (ascii == 8) continue;
        }
        while (p != end && *p < 0x80) {
            if constexpr (kWrite) *out++ = static_cast<char16_t>(*p);
            ++p;
            // A long ASCII run goes back to the block loops.
            if (end - p >= 8 && *p < 0x80) break;
        }
        // The other characters up to the next ASCII byte, one at a time.
        while (p != end && *p >= 0x80) {
            const unsigned c = *p;
            // Lead byte: sequence length and the allowed range of the second
            // byte (excludes overlong forms, surrogates and values above
            // U+10FFFF).
            unsigned lo = 0x80, hi = 0xBF;
            std::ptrdiff_t length;
            unsigned cp;
            if (c >= 0xC2 && c <= 0xDF) {
                length = 2;
                cp = c & 0x1F;
            } else if (c >= 0xE0 && c <= 0xEF) {
                length = 3;
                cp = c & 0x0F;
                if (c == 0xE0) lo = 0xA0;
                if (c == 0xED) hi = 0x9F;
            } else if (c >= 0xF0 && c <= 0xF4) {
                length = 4;
                cp = c & 0x07;
                if (c == 0xF0) lo = 0x90;
                if (c == 0xF4) hi = 0x8F;
            } else {
                return {p, out};
            }
            if (end - p < length || p[1] < lo || p[1] > hi) return {p, out};
            cp = cp << 6 | (p[1] & 0x3F);
            for (std::ptrdiff_t i = 2; i < length; ++i) {
                if ((p[i] & 0xC0) != 0x80) return {p, out};
                cp = cp << 6 | (p[i] & 0x3F);
            }
            p += length;
            if constexpr (kWrite) {
                if (cp < 0x10000) {
                    *out++ = static_cast<char16_t>(cp);
                } else {
                    cp -= 0x10000;
                    *out++ = static_cast<char16_t>(0xD800 | cp >> 10);
                    *out++ = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
                }
            }
        }
    }
    return {p, out};
}

}  // namespace

std::string toUtf8(StringView text) {
    // Each UTF-16 unit gives at most three bytes (a pair gives four for two).
    const std::size_t worst = 3 * text.size();
    if (worst <= kStackBytes) {
        std::array<char, kStackBytes> buffer;
        return std::string(buffer.data(), toUtf8Into(text, buffer.data()));
    }
    std::string out;
    out.resize(worst);
    trimTo(out, toUtf8Into(text, out.data()));
    return out;
}

String fromUtf8(std::string_view text) {
    // Each byte gives at most one UTF-16 unit (four bytes give a pair).
    const std::size_t worst = text.size();
    if (worst <= kStackBytes / 2) {
        std::array<char16_t, kStackBytes / 2> buffer;
        return String(buffer.data(), fromUtf8Into(text, buffer.data()));
    }
    String out;
    out.resize(worst);
    trimTo(out, fromUtf8Into(text, out.data()));
    return out;
}

bool isValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    return scanUtf8<false>(p, p + text.size(), nullptr).stop == p + text.size();
}

internal::Utf8Prefix internal::decodeWellFormedUtf8(const unsigned char* p,
                                                    const unsigned char* end,
                                                    char16_t* out) noexcept {
    return scanUtf8<true>(p, end, out);
}

}  // namespace qn
