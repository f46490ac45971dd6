// What decimal.cc (text, ordering) and decimal_arith.cc (arithmetic) share:
// the powers of ten, digit counting, and the one place that builds a Decimal
// from a coefficient and an exponent. Not part of the public API.
#pragma once

#include <qn/core/decimal.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qn {
namespace internal {

constexpr std::array<uint128, Decimal::kMaxDigits + 1> makePowersOf10() {
    std::array<uint128, Decimal::kMaxDigits + 1> table{};
    uint128 p = 1;
    for (auto& entry : table) {
        entry = p;
        p *= 10;
    }
    return table;
}

inline constexpr auto kPow10 = makePowersOf10();
inline constexpr uint128 kCoefficientLimit = kPow10[Decimal::kMaxDigits];  // 10^38

// Decimal digits of c; 0 for 0.
inline int digitCount(uint128 c) noexcept {
    if (c == 0) return 0;
    const auto hi = static_cast<std::uint64_t>(c >> 64);
    const int bits =
        hi != 0 ? 128 - std::countl_zero(hi) : 64 - std::countl_zero(static_cast<std::uint64_t>(c));
    const int guess = (bits * 1233) >> 12;  // floor(bits * log10(2)), at most 38
    return guess + (c >= kPow10[static_cast<std::size_t>(guess)] ? 1 : 0);
}

}  // namespace internal

// Builds Decimals from parts; the only code besides Decimal that touches its
// fields.
class DecimalBuilder {
public:
    // A coefficient below 10^38 and an exponent within range: stored as is.
    static Decimal exact(bool negative, uint128 coefficient, int exponent) noexcept {
        Decimal d;
#if defined(__x86_64__)
        // One 16-byte store for the coefficient and one 8-byte store for the
        // rest: a caller copying the result (total += x) loads it back in
        // the same two pieces, which the store buffer forwards; split stores
        // would stall each such load for a dozen cycles.
        static_assert(sizeof(Decimal) == 24 && offsetof(Decimal, exponent_) == 16 &&
                      offsetof(Decimal, negative_) == 17 && offsetof(Decimal, nan_) == 18);
        typedef std::uint64_t Words __attribute__((vector_size(16)));
        const Words words = {static_cast<std::uint64_t>(coefficient),
                             static_cast<std::uint64_t>(coefficient >> 64)};
        const std::uint64_t tail = static_cast<std::uint8_t>(exponent) |
                                   static_cast<std::uint64_t>(negative && coefficient != 0) << 8;
        std::memcpy(static_cast<void*>(&d), &words, sizeof words);
        std::memcpy(reinterpret_cast<unsigned char*>(&d) + 16, &tail, sizeof tail);
#else
        d.lo_ = static_cast<std::uint64_t>(coefficient);
        d.hi_ = static_cast<std::uint64_t>(coefficient >> 64);
        d.exponent_ = static_cast<std::int8_t>(exponent);
        d.negative_ = negative && coefficient != 0;
#endif
        return d;
    }

    // A coefficient below 10^38 with any exponent at or above the minimum: an
    // exponent above the range is traded for coefficient digits while they
    // last, then the value is not-a-number. Zero is never negative.
    static Decimal make(bool negative, uint128 coefficient, std::int64_t exponent) noexcept {
        if (coefficient == 0)
            return exact(false, 0,
                         static_cast<int>(std::clamp<std::int64_t>(exponent, Decimal::kMinExponent,
                                                                   Decimal::kMaxExponent)));
        if (exponent > Decimal::kMaxExponent) {
            const std::int64_t need = exponent - Decimal::kMaxExponent;
            if (need > Decimal::kMaxDigits ||
                internal::digitCount(coefficient) + need > Decimal::kMaxDigits)
                return Decimal::notANumber();
            coefficient *= internal::kPow10[static_cast<std::size_t>(need)];
            exponent = Decimal::kMaxExponent;
        }
        return exact(negative, coefficient, static_cast<int>(exponent));
    }
};

}  // namespace qn
