// qn::Decimal arithmetic.
//
// Each operation forms its exact result on the stack (at most 256 bits: the
// product of two 38-digit coefficients, or a coefficient scaled by 10^39) and
// rounds it once, half away from zero, to 38 digits and the exponent range.
// With half-away rounding only the first dropped digit decides, so whatever
// lies below it (an addend far smaller than the other, the digits of a
// quotient beyond the first dropped one) need not be computed. Division
// takes exactly 38 quotient digits and rounds them by comparing the
// remainder with half the divisor.
//
// The common business cases (coefficients of up to 19 digits, equal or close
// exponents) never leave 128-bit arithmetic.
#include <qn/core/decimal.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <utility>

#include "core/decimal_internal.h"

namespace qn {
namespace {

using internal::digitCount;
using internal::kCoefficientLimit;
using internal::kPow10;

constexpr int kMaxDigits = Decimal::kMaxDigits;
constexpr std::uint64_t kTen19 = 10000000000000000000ULL;

constexpr std::uint64_t lo64(uint128 v) noexcept {
    return static_cast<std::uint64_t>(v);
}
constexpr std::uint64_t hi64(uint128 v) noexcept {
    return static_cast<std::uint64_t>(v >> 64);
}

// (hi:lo) / d and its remainder; requires hi < d so the quotient fits.
inline std::uint64_t divide128(std::uint64_t hi, std::uint64_t lo, std::uint64_t d,
                               std::uint64_t& remainder) noexcept {
#if defined(__x86_64__)
    // One instruction; the compiler would call __udivti3 for the general case.
    std::uint64_t q;
    __asm__("divq %[d]" : "=a"(q), "=d"(remainder) : [d] "r"(d), "a"(lo), "d"(hi));
    return q;
#else
    const uint128 n = (static_cast<uint128>(hi) << 64) | lo;
    remainder = static_cast<std::uint64_t>(n % d);
    return static_cast<std::uint64_t>(n / d);
#endif
}

// Unsigned 256-bit integer, 64-bit limbs, least significant first. Wide
// enough for any product of two coefficients and for any coefficient times
// 10^39 (10^77 < 2^256).
struct U256 {
    std::array<std::uint64_t, 4> w{};

    constexpr U256() = default;
    constexpr explicit U256(uint128 v) : w{lo64(v), hi64(v), 0, 0} {}

    constexpr bool fits128() const noexcept { return (w[2] | w[3]) == 0; }
    constexpr uint128 low128() const noexcept { return (static_cast<uint128>(w[1]) << 64) | w[0]; }
};

constexpr bool operator<(const U256& a, const U256& b) noexcept {
    for (int i = 3; i >= 0; --i) {
        if (a.w[i] != b.w[i]) return a.w[i] < b.w[i];
    }
    return false;
}

// a * m; the caller knows the product fits.
constexpr U256 times(const U256& a, std::uint64_t m) noexcept {
    U256 out;
    std::uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
        const uint128 t = static_cast<uint128>(a.w[i]) * m + carry;
        out.w[i] = lo64(t);
        carry = hi64(t);
    }
    return out;
}

U256 wideProduct(uint128 a, uint128 b) noexcept {
    const uint128 p00 = static_cast<uint128>(lo64(a)) * lo64(b);
    const uint128 p01 = static_cast<uint128>(lo64(a)) * hi64(b);
    const uint128 p10 = static_cast<uint128>(hi64(a)) * lo64(b);
    const uint128 p11 = static_cast<uint128>(hi64(a)) * hi64(b);
    // Each sum is at most three 64-bit values plus a carry: no overflow.
    const uint128 mid = static_cast<uint128>(hi64(p00)) + lo64(p01) + lo64(p10);
    const uint128 top = static_cast<uint128>(hi64(mid)) + hi64(p01) + hi64(p10) + lo64(p11);
    U256 out;
    out.w = {lo64(p00), lo64(mid), lo64(top), hi64(top) + hi64(p11)};
    return out;
}

U256 sum(const U256& a, const U256& b) noexcept {
    U256 out;
    std::uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
        const uint128 t = static_cast<uint128>(a.w[i]) + b.w[i] + carry;
        out.w[i] = lo64(t);
        carry = hi64(t);
    }
    return out;
}

// a - b - borrowIn for a >= b + borrowIn.
U256 difference(const U256& a, const U256& b, std::uint64_t borrowIn = 0) noexcept {
    U256 out;
    std::uint64_t borrow = borrowIn;
    for (int i = 0; i < 4; ++i) {
        const uint128 t = static_cast<uint128>(a.w[i]) - b.w[i] - borrow;
        out.w[i] = lo64(t);
        borrow = hi64(t) != 0 ? 1 : 0;
    }
    return out;
}

// a /= d; answers the remainder.
std::uint64_t divideInPlace(U256& a, std::uint64_t d) noexcept {
    int i = 3;
    while (i > 0 && a.w[i] == 0)
        --i;
    std::uint64_t r = 0;
    for (; i >= 0; --i)
        a.w[i] = divide128(r, a.w[i], d, r);
    return r;
}

// a /= v for a divisor of two limbs (v >= 2^64): Knuth's algorithm D with
// 64-bit digits. Answers the remainder.
uint128 divideInPlace(U256& a, uint128 v) noexcept {
    const int shift = std::countl_zero(hi64(v));
    const uint128 vn = v << shift;
    const std::uint64_t vh = hi64(vn), vl = lo64(vn);
    std::array<std::uint64_t, 5> u{};
    u[4] = shift == 0 ? 0 : a.w[3] >> (64 - shift);
    for (int i = 3; i > 0; --i)
        u[i] = (a.w[i] << shift) | (shift == 0 ? 0 : a.w[i - 1] >> (64 - shift));
    u[0] = a.w[0] << shift;

    U256 q;
    for (int j = 2; j >= 0; --j) {
        const uint128 top = (static_cast<uint128>(u[j + 2]) << 64) | u[j + 1];
        uint128 qhat = top / vh;
        uint128 rhat = top % vh;
        while (hi64(qhat) != 0 || qhat * vl > ((rhat << 64) | u[j])) {
            --qhat;
            rhat += vh;
            if (hi64(rhat) != 0) break;
        }
        // With a two-limb divisor the test above compared qhat x v with the
        // whole partial remainder, so qhat is exact: the remainder fits the
        // two lower limbs and the top one (zero now) is not read again.
        const std::uint64_t digit = lo64(qhat);
        const uint128 p0 = static_cast<uint128>(digit) * vl;
        const uint128 p1 = static_cast<uint128>(digit) * vh + hi64(p0);
        const uint128 t0 = static_cast<uint128>(u[j]) - lo64(p0);
        u[j] = lo64(t0);
        u[j + 1] = u[j + 1] - lo64(p1) - (hi64(t0) != 0 ? 1 : 0);
        q.w[j] = digit;
    }
    a = q;
    return ((static_cast<uint128>(u[1]) << 64) | u[0]) >> shift;
}

constexpr std::array<U256, 2 * kMaxDigits + 2> makeWidePowersOf10() {
    std::array<U256, 2 * kMaxDigits + 2> table{};
    U256 p(1);
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] = p;
        if (i + 1 < table.size()) p = times(p, 10);
    }
    return table;
}

constexpr auto kWidePow10 = makeWidePowersOf10();  // 10^0 .. 10^77

int digitCount(const U256& a) noexcept {
    int i = 3;
    while (i > 1 && a.w[i] == 0)
        --i;
    if (i <= 1) return digitCount(a.low128());
    const int bits = 64 * i + 64 - std::countl_zero(a.w[i]);
    const int guess = (bits * 1233) >> 12;  // floor(bits * log10(2)), at most 77
    return guess + (a < kWidePow10[static_cast<std::size_t>(guess)] ? 0 : 1);
}

// a x 10^n for n up to 76.
U256 multiplyByPow10(uint128 a, int n) noexcept {
    const int first = std::min(n, kMaxDigits);
    U256 out = wideProduct(a, kPow10[static_cast<std::size_t>(first)]);
    for (n -= first; n > 0; n -= 19)
        out = times(out,
                    static_cast<std::uint64_t>(kPow10[static_cast<std::size_t>(std::min(n, 19))]));
    return out;
}

// The exact value sign x c x 10^exponent, rounded half away from zero to 38
// digits and to the exponent range. Only the first dropped digit decides, so
// callers may pass a value truncated below that digit.
[[gnu::noinline]] Decimal finish(bool negative, U256 c, int exponent) noexcept {
    if (c.fits128() && c.low128() < kCoefficientLimit && exponent >= Decimal::kMinExponent)
        return DecimalBuilder::make(negative, c.low128(), exponent);
    const int digits = digitCount(c);
    const int drop = std::max(digits - kMaxDigits, Decimal::kMinExponent - exponent);
    // Every digit goes and the first dropped one is below the leading digit.
    if (drop > digits) return DecimalBuilder::make(false, 0, Decimal::kMinExponent);
    int rest = drop;
    for (; rest > 19; rest -= 19)
        divideInPlace(c, kTen19);
    const auto unit = static_cast<std::uint64_t>(kPow10[static_cast<std::size_t>(rest)]);
    const std::uint64_t remainder = divideInPlace(c, unit);
    uint128 q = c.low128();  // at most 10^38 now
    if (remainder >= unit / 2) ++q;
    exponent += drop;
    if (q == kCoefficientLimit) {
        q /= 10;
        ++exponent;
    }
    return DecimalBuilder::make(negative, q, exponent);
}

struct Operand {
    uint128 c;
    int e;
    bool negative;
};

// x + y when x's coefficient scaled to y's exponent would not fit 128 bits,
// or lies more than 38 digits above y.
[[gnu::noinline]] Decimal addWide(const Operand& x, const Operand& y) noexcept {
    if (x.c == 0) return DecimalBuilder::exact(y.negative, y.c, y.e);
    if (y.c == 0) return DecimalBuilder::exact(x.negative, x.c, x.e);
    const int gap = x.e - y.e;
    U256 big, small;
    int exponent;
    std::uint64_t sticky = 0;  // y had digits below the last kept one
    if (gap <= kMaxDigits) {
        big = wideProduct(x.c, kPow10[static_cast<std::size_t>(gap)]);
        small = U256(y.c);
        exponent = y.e;
    } else {
        // Give x 39 more digits: the sum then has at least 40, so rounding
        // drops at least one, and whatever of y lies below x's last digit
        // only needs to be known as non-zero.
        big = times(wideProduct(x.c, kCoefficientLimit), 10);
        exponent = x.e - (kMaxDigits + 1);
        const int below = gap - (kMaxDigits + 1);
        if (below == 0) {
            small = U256(y.c);
        } else if (below <= kMaxDigits) {
            const uint128 unit = kPow10[static_cast<std::size_t>(below)];
            small = U256(y.c / unit);
            sticky = y.c % unit != 0 ? 1 : 0;
        } else {
            sticky = 1;
        }
    }
    // big >= 10^38 > small: x decides the sign.
    if (x.negative == y.negative) return finish(x.negative, sum(big, small), exponent);
    // With a sticky y the true difference lies strictly between
    // big - small - 1 and big - small; its floor keeps the digits exact.
    return finish(x.negative, difference(big, small, sticky), exponent);
}

// Two 64-bit coefficients at one exponent (sums of amounts): at most 65 bits.
inline Decimal addSmall(std::uint64_t a, bool aNegative, std::uint64_t b, bool bNegative,
                        int exponent) noexcept {
    if (aNegative == bNegative)
        return DecimalBuilder::exact(aNegative, static_cast<uint128>(a) + b, exponent);
    if (a >= b) return DecimalBuilder::exact(aNegative, a - b, exponent);
    return DecimalBuilder::exact(bNegative, b - a, exponent);
}

[[gnu::noinline]] Decimal addOperands(Operand x, Operand y) noexcept {
    if (x.e < y.e) std::swap(x, y);
    const int gap = x.e - y.e;
    if (gap <= kMaxDigits && x.c < kPow10[static_cast<std::size_t>(kMaxDigits - gap)]) {
        // Both below 10^38 at y's exponent: the total fits 128 bits.
        const uint128 scaled = gap == 0 ? x.c : x.c * kPow10[static_cast<std::size_t>(gap)];
        uint128 total;
        bool negative;
        if (x.negative == y.negative) {
            total = scaled + y.c;
            negative = x.negative;
        } else if (scaled >= y.c) {
            total = scaled - y.c;
            negative = x.negative;
        } else {
            total = y.c - scaled;
            negative = y.negative;
        }
        if (total < kCoefficientLimit) return DecimalBuilder::exact(negative, total, y.e);
        return finish(negative, U256(total), y.e);
    }
    return addWide(x, y);
}

// Removes trailing zeros of an exact quotient while its exponent stays at or
// below `ideal`, the exponent an exact quotient naturally has.
void stripZeros(U256& q, int& exponent, int ideal) noexcept {
    for (const int step : {16, 8, 4, 2, 1}) {
        const auto unit = static_cast<std::uint64_t>(kPow10[static_cast<std::size_t>(step)]);
        while (ideal - exponent >= step) {
            U256 trial = q;
            if (divideInPlace(trial, unit) != 0) break;
            q = trial;
            exponent += step;
        }
    }
}

}  // namespace

Decimal Decimal::add(const Decimal& other) const noexcept {
    if ((hi_ | other.hi_) == 0 && exponent_ == other.exponent_ && !(nan_ | other.nan_))
        return addSmall(lo_, negative_, other.lo_, other.negative_, exponent_);
    if (nan_ || other.nan_) return notANumber();
    return addOperands({coefficient(), exponent_, negative_},
                       {other.coefficient(), other.exponent_, other.negative_});
}

Decimal Decimal::subtract(const Decimal& other) const noexcept {
    if ((hi_ | other.hi_) == 0 && exponent_ == other.exponent_ && !(nan_ | other.nan_))
        return addSmall(lo_, negative_, other.lo_, !other.negative_, exponent_);
    if (nan_ || other.nan_) return notANumber();
    return addOperands({coefficient(), exponent_, negative_},
                       {other.coefficient(), other.exponent_, !other.negative_});
}

Decimal Decimal::multiply(const Decimal& other) const noexcept {
    if (nan_ || other.nan_) return notANumber();
    const bool negative = negative_ != other.negative_;
    const int exponent = exponent_ + other.exponent_;
    if ((hi_ | other.hi_) == 0) {
        const uint128 product = static_cast<uint128>(lo_) * other.lo_;
        if (product < kCoefficientLimit && exponent >= kMinExponent && exponent <= kMaxExponent)
            return DecimalBuilder::exact(negative, product, exponent);
        return finish(negative, U256(product), exponent);
    }
    return finish(negative, wideProduct(coefficient(), other.coefficient()), exponent);
}

Decimal Decimal::divide(const Decimal& other) const noexcept {
    if (nan_ || other.nan_ || other.isZero()) return notANumber();
    const bool negative = negative_ != other.negative_;
    const int ideal = exponent_ - other.exponent_;
    if (isZero()) return DecimalBuilder::make(false, 0, ideal);
    const uint128 a = coefficient(), b = other.coefficient();
    if ((hi_ | other.hi_) == 0 && lo_ % other.lo_ == 0)  // 10 / 2, 12.34 / 2: exact at once
        return finish(negative, U256(lo_ / other.lo_), ideal);

    // Scale the dividend so that the quotient has exactly 38 digits; the
    // remainder then rounds it, with no second division.
    const int shift = digitCount(a) - digitCount(b);
    const bool aLeads = shift >= 0 ? a >= b * kPow10[static_cast<std::size_t>(shift)]
                                   : a * kPow10[static_cast<std::size_t>(-shift)] >= b;
    const int scale = (aLeads ? kMaxDigits - 1 : kMaxDigits) - shift;  // 0 .. 75
    U256 n = multiplyByPow10(a, scale);
    const uint128 remainder =
        hi64(b) == 0 ? uint128{divideInPlace(n, lo64(b))} : divideInPlace(n, b);
    int exponent = ideal - scale;
    // Below the exponent range digits of the quotient go too: its first
    // dropped digit decides, the remainder lies below that.
    if (exponent < kMinExponent) return finish(negative, n, exponent);
    if (remainder == 0) {
        stripZeros(n, exponent, ideal);
        return finish(negative, n, exponent);
    }
    // Rounding up never reaches 10^38: b x 10^38 - a x 10^scale is a
    // positive multiple of 10^scale, and 10^scale >= b, so the exact
    // quotient lies at least 1 below 10^38.
    uint128 q = n.low128();
    if (remainder >= b - remainder) ++q;  // twice the remainder >= b: half or more
    return DecimalBuilder::make(negative, q, exponent);
}

Decimal Decimal::negated() const noexcept {
    Decimal d = *this;
    if (!nan_) d.negative_ = !negative_ && (lo_ | hi_) != 0;
    return d;
}

Decimal Decimal::abs() const noexcept {
    Decimal d = *this;
    d.negative_ = false;
    return d;
}

Decimal Decimal::power(const Decimal& base, std::uint64_t exponent) noexcept {
    if (base.nan_) return notANumber();
    Decimal result(1);
    Decimal square = base;
    // Right to left: result takes the squares that the exponent's bits select.
    while (exponent != 0) {
        if ((exponent & 1) != 0) result = result.multiply(square);
        exponent >>= 1;
        if (exponent == 0) break;
        square = square.multiply(square);
        // A square that overflowed or vanished decides the result.
        if (square.nan_) return notANumber();
        if (square.isZero()) return Decimal();
    }
    return result;
}

Decimal Decimal::rounded(int decimals, DecimalRounding mode) const noexcept {
    const std::int64_t target = -static_cast<std::int64_t>(decimals);
    if (nan_ || exponent_ >= target || isZero()) return *this;
    const std::int64_t drop = target - exponent_;
    const uint128 c = coefficient();
    uint128 q = 0;
    bool up = false;
    // Dropping more digits than the coefficient has leaves less than half a
    // unit: zero in every mode.
    if (drop <= digitCount(c)) {
        uint128 remainder, half;
        if (hi_ == 0 && drop <= 19) {
            const auto unit = static_cast<std::uint64_t>(kPow10[static_cast<std::size_t>(drop)]);
            q = lo_ / unit;
            remainder = lo_ % unit;
            half = unit / 2;
        } else {
            const uint128 unit = kPow10[static_cast<std::size_t>(drop)];
            q = c / unit;
            remainder = c % unit;
            half = unit / 2;
        }
        switch (mode) {
            case DecimalRounding::kHalfAwayFromZero:
                up = remainder >= half;
                break;
            case DecimalRounding::kHalfEven:
                up = remainder > half || (remainder == half && (q & 1) != 0);
                break;
            case DecimalRounding::kTowardZero:
                break;
        }
    }
    if (up) ++q;
    // Past the exponent range the result may no longer fit: make() decides.
    return DecimalBuilder::make(negative_, q, target);
}

}  // namespace qn
