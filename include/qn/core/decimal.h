// The 38-digit decimal number of generated code.
//
// A Decimal is sign, coefficient (0 .. 10^38 - 1) and exponent (-128 .. 127),
// value = coefficient x 10^exponent, plus a distinguished not-a-number. It has
// no heap storage and is trivially copyable, so it can live in tight loops and
// inside qn::Value without allocation. Values are not normalised: 1.0 and 1
// are stored differently but compare and hash equal.
//
// Text form: plain digits, never an exponent, no trailing fractional zeros
// ("12.5", "-3", "0.001"); not-a-number is "NaN".
//
// Immutable value type: thread-safe.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qn {

__extension__ typedef unsigned __int128 uint128;
__extension__ typedef __int128 int128;

// How a value that has more digits than wanted loses them.
enum class DecimalRounding {
    kHalfAwayFromZero,  // 2.5 -> 3, -2.5 -> -3 (the arithmetic's own rule)
    kHalfEven,          // 2.5 -> 2, 3.5 -> 4
    kTowardZero,        // 2.9 -> 2, -2.9 -> -2
};

class QN_API Decimal {
public:
    static constexpr int kMaxDigits = 38;
    static constexpr int kMinExponent = -128;
    static constexpr int kMaxExponent = 127;
    // Longest text toChars can produce: sign, 38 digits, up to 127 trailing
    // zeros or "0." with up to 127 leading zeros, and the terminating NUL.
    static constexpr std::size_t kMaxTextLength = 1 + 2 + 128 + kMaxDigits + 1;

    // Zero.
    constexpr Decimal() noexcept = default;
    // Exact.
    constexpr explicit Decimal(std::int64_t value) noexcept
        : lo_(magnitude(value)), negative_(value < 0) {}

    static constexpr Decimal notANumber() noexcept {
        Decimal d;
        d.nan_ = true;
        return d;
    }

    // sign x coefficient x 10^exponent. A coefficient of more than 38 digits
    // is rounded half away from zero; an exponent below the range loses
    // digits the same way (down to zero); a value too large for the range is
    // not-a-number.
    static Decimal fromParts(bool negative, uint128 coefficient, int exponent) noexcept;

    // The whole text as a number: optional surrounding ASCII white space,
    // optional sign, digits with an optional "." (at least one digit), and an
    // optional exponent ("e" or "E", optional sign, digits). Anything else is
    // not-a-number. More than 38 significant digits round half away from zero.
    static Decimal fromString(std::string_view text) noexcept;
    static Decimal fromString(StringView text) noexcept;

    // Reads the longest number that starts at `text[0]` (no leading white
    // space is skipped) and stores in `consumed` how many code units it took.
    // Not-a-number with consumed == 0 when no number starts there.
    static Decimal scan(std::string_view text, std::size_t& consumed) noexcept;
    static Decimal scan(StringView text, std::size_t& consumed) noexcept;

    // The double's shortest round-trip decimal text, read exactly. Infinities
    // and NaN give not-a-number.
    static Decimal fromDouble(double value) noexcept;

    bool isNaN() const noexcept { return nan_; }
    bool isZero() const noexcept { return !nan_ && lo_ == 0 && hi_ == 0; }
    bool isNegative() const noexcept { return negative_ && !isZero() && !nan_; }
    // -1, 0 or 1 (0 for not-a-number).
    int sign() const noexcept;
    // True for a value with no fractional part (and not not-a-number).
    bool isInteger() const noexcept;

    uint128 coefficient() const noexcept { return (static_cast<uint128>(hi_) << 64) | lo_; }
    int exponent() const noexcept { return exponent_; }

    // Correctly rounded nearest double; NaN for not-a-number.
    double toDouble() const noexcept;
    // Truncated toward zero and saturated at the 64-bit limits; 0 for
    // not-a-number.
    std::int64_t toInt64() const noexcept;

    // Writes the text form and a terminating NUL into `buffer` (at least
    // kMaxTextLength bytes) and returns the text's length. No allocation.
    std::size_t toChars(char* buffer) const noexcept;
    std::string toStdString() const;
    String toString() const;

    // Numeric three-way comparison. Not-a-number equals itself and orders
    // before every number, so sorting and hashing stay consistent.
    int compare(const Decimal& other) const noexcept;
    friend bool operator==(const Decimal& a, const Decimal& b) noexcept {
        return a.compare(b) == 0;
    }
    friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) noexcept {
        return a.compare(b) <=> 0;
    }

    // Equal values (1.0 and 1) hash equal.
    std::size_t hash() const noexcept;

    // --- Arithmetic -------------------------------------------------------
    // Exact while the result fits 38 significant digits, else rounded half
    // away from zero; a result beyond the exponent range is not-a-number (too
    // large) or loses digits down to zero (too small). Not-a-number in gives
    // not-a-number out. No allocation.
    Decimal add(const Decimal& other) const noexcept;
    Decimal subtract(const Decimal& other) const noexcept;
    Decimal multiply(const Decimal& other) const noexcept;
    // Not-a-number for a zero divisor.
    Decimal divide(const Decimal& other) const noexcept;
    // The negation of zero is zero.
    Decimal negated() const noexcept;
    Decimal abs() const noexcept;
    // base^exponent by repeated multiplication (each step exact up to 38
    // digits, then rounded); 1 for exponent 0 (also 0^0); not-a-number for a
    // not-a-number base.
    static Decimal power(const Decimal& base, std::uint64_t exponent) noexcept;

    // The value with at most `decimals` fractional digits (a negative count
    // rounds to tens, hundreds, ...). A value that already fits is returned
    // unchanged (trailing zeros are not added).
    Decimal rounded(int decimals,
                    DecimalRounding mode = DecimalRounding::kHalfAwayFromZero) const noexcept;
    // The integral part (toward zero).
    Decimal integralPart() const noexcept { return rounded(0, DecimalRounding::kTowardZero); }

    friend Decimal operator+(const Decimal& a, const Decimal& b) noexcept { return a.add(b); }
    friend Decimal operator-(const Decimal& a, const Decimal& b) noexcept { return a.subtract(b); }
    friend Decimal operator*(const Decimal& a, const Decimal& b) noexcept { return a.multiply(b); }
    friend Decimal operator/(const Decimal& a, const Decimal& b) noexcept { return a.divide(b); }
    friend Decimal operator-(const Decimal& a) noexcept { return a.negated(); }
    Decimal& operator+=(const Decimal& b) noexcept { return *this = add(b); }
    Decimal& operator-=(const Decimal& b) noexcept { return *this = subtract(b); }
    Decimal& operator*=(const Decimal& b) noexcept { return *this = multiply(b); }
    Decimal& operator/=(const Decimal& b) noexcept { return *this = divide(b); }

private:
    friend class DecimalBuilder;  // builds values from parts, src/runtime/decimal_internal.h

    static constexpr std::uint64_t magnitude(std::int64_t v) noexcept {
        return v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    }

    std::uint64_t lo_ = 0;  // coefficient, low 64 bits
    std::uint64_t hi_ = 0;  // coefficient, high 64 bits
    std::int8_t exponent_ = 0;
    bool negative_ = false;
    bool nan_ = false;
    // Named padding: copies move all 24 bytes as 16 + 8, the same pieces the
    // arithmetic stores, so a chained `total += x` is forwarded on x86
    // instead of stalling on a load that straddles two stores.
    std::uint8_t reserved_[5] = {};
};

}  // namespace qn

template <>
struct std::hash<qn::Decimal> {
    std::size_t operator()(const qn::Decimal& d) const noexcept { return d.hash(); }
};
