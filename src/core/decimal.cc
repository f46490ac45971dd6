// qn::Decimal: parsing, rounding, text, conversion and ordering.
//
// Everything here works on the stack: a 128-bit coefficient, a small digit
// buffer while parsing and a fixed-size text buffer. Rounding is half away
// from zero and happens once, to the final exponent, so that an input that
// both has too many digits and falls below the exponent range is not
// rounded twice.
#include <qn/core/decimal.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "core/ascii.h"
#include "core/decimal_internal.h"
#include "core/hash.h"

namespace qn {
namespace {

using internal::digitCount;
using internal::kCoefficientLimit;
using internal::kPow10;
constexpr std::uint64_t kTen19 = 10000000000000000000ULL;
// Exponent digits beyond this cannot change the outcome (the text would need
// that many fraction digits to bring the value back into range), so the
// parsed exponent saturates here and stays far from int64 overflow.
constexpr std::int64_t kExponentCap = 100000000000000000;  // 10^17

// Writes the digits of c (non-zero) and returns their count, at most 39.
int writeDigits(uint128 c, char* out) noexcept {
    if ((c >> 64) == 0) {
        return static_cast<int>(std::to_chars(out, out + 20, static_cast<std::uint64_t>(c)).ptr -
                                out);
    }
    const auto high = static_cast<std::uint64_t>(c / kTen19);
    auto low = static_cast<std::uint64_t>(c % kTen19);
    const int n = static_cast<int>(std::to_chars(out, out + 20, high).ptr - out);
    for (int i = n + 18; i >= n; --i) {
        out[i] = static_cast<char>('0' + low % 10);
        low /= 10;
    }
    return n + 19;
}

using internal::isAsciiDigit;
using internal::mixHash;

template <class Char>
bool isAsciiSpace(Char c) noexcept {
    return c == Char(' ') || (c >= Char('\t') && c <= Char('\r'));
}

// The significant digits of a parsed number: the first kKeep of them and
// how many there were in all. One digit beyond the 38 kept decides rounding.
struct Digits {
    static constexpr int kKeep = Decimal::kMaxDigits + 1;
    std::array<std::uint8_t, kKeep> first;  // only [0, min(total, kKeep)) is meaningful
    std::int64_t total = 0;
};

std::uint64_t accumulate(const std::uint8_t* d, int n) noexcept {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v * 10 + d[i];
    return v;
}

// The digits of a number's text: the integer part [intBegin, intEnd) and the
// fraction [fracBegin, fracEnd), read as one digit sequence.
template <class Char>
struct DigitText {
    const Char* p;
    std::size_t intBegin, intEnd, fracBegin, fracEnd;

    std::size_t size() const noexcept { return intEnd - intBegin + fracEnd - fracBegin; }
    unsigned operator[](std::size_t k) const noexcept {
        const std::size_t intLength = intEnd - intBegin;
        const Char c = k < intLength ? p[intBegin + k] : p[fracBegin + k - intLength];
        return static_cast<unsigned>(c - Char('0'));
    }
};

// Builds the value digits x 10^lastExponent, where `lastExponent` is the
// exponent of the last significant digit. Rounds once, to the final exponent.
class TextReader {
public:
    static Decimal make(bool negative, uint128 coefficient, std::int64_t exponent) noexcept {
        return DecimalBuilder::make(negative, coefficient, exponent);
    }

    static Decimal fromDigits(bool negative, const Digits& digits,
                              std::int64_t lastExponent) noexcept {
        std::int64_t kept = std::min<std::int64_t>(digits.total, Decimal::kMaxDigits);
        std::int64_t exponent = lastExponent + (digits.total - kept);
        if (exponent < Decimal::kMinExponent) {
            kept -= Decimal::kMinExponent - exponent;
            exponent = Decimal::kMinExponent;
            if (kept < 0) return make(false, 0, exponent);
        }
        const auto n = static_cast<int>(kept);
        const std::uint8_t* d = digits.first.data();
        uint128 coefficient;
        if (n <= 19) {
            coefficient = accumulate(d, n);
        } else {
            coefficient = static_cast<uint128>(accumulate(d, 19)) * kPow10[n - 19] +
                          accumulate(d + 19, n - 19);
        }
        if (kept < digits.total && d[n] >= 5) {
            ++coefficient;
            if (coefficient == kCoefficientLimit) {
                coefficient /= 10;
                ++exponent;
            }
        }
        if (coefficient == 0) return make(false, 0, exponent);
        return make(negative, coefficient, exponent);
    }

    template <class Char>
    static Decimal fromText(bool negative, const DigitText<Char>& text,
                            std::int64_t exponent) noexcept {
        const std::size_t all = text.size();
        std::size_t k = 0;
        while (k < all && text[k] == 0)
            ++k;  // leading zeros
        const std::int64_t lastExponent =
            exponent - static_cast<std::int64_t>(text.fracEnd - text.fracBegin);
        if (k == all) return make(false, 0, lastExponent);
        // Up to 19 digits within the exponent range, the common case: exact,
        // nothing to round.
        if (all - k <= 19 && lastExponent >= Decimal::kMinExponent) {
            std::uint64_t value = 0;
            for (; k < all; ++k)
                value = value * 10 + text[k];
            return make(negative, value, lastExponent);
        }
        Digits digits;
        digits.total = static_cast<std::int64_t>(all - k);
        for (int i = 0; i < Digits::kKeep && k < all; ++i, ++k)
            digits.first[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(text[k]);
        return fromDigits(negative, digits, lastExponent);
    }

    // The longest number at the start of [p, p + n).
    template <class Char>
    static Decimal scan(const Char* p, std::size_t n, std::size_t& consumed) noexcept {
        consumed = 0;
        std::size_t i = 0;
        bool negative = false;
        if (i < n && (p[i] == Char('+') || p[i] == Char('-'))) negative = p[i++] == Char('-');

        DigitText<Char> text{p, i, i, 0, 0};
        while (i < n && isAsciiDigit(p[i]))
            ++i;
        text.intEnd = text.fracBegin = text.fracEnd = i;
        if (i < n && p[i] == Char('.')) {
            std::size_t j = i + 1;
            while (j < n && isAsciiDigit(p[j]))
                ++j;
            // "." needs a digit on one side to be part of a number.
            if (text.intEnd > text.intBegin || j > i + 1) {
                text.fracBegin = i + 1;
                text.fracEnd = i = j;
            }
        }
        if (text.size() == 0) return Decimal::notANumber();

        std::int64_t exponent = 0;
        if (i < n && (p[i] == Char('e') || p[i] == Char('E'))) {
            std::size_t j = i + 1;
            bool exponentNegative = false;
            if (j < n && (p[j] == Char('+') || p[j] == Char('-')))
                exponentNegative = p[j++] == Char('-');
            if (j < n && isAsciiDigit(p[j])) {
                for (; j < n && isAsciiDigit(p[j]); ++j) {
                    if (exponent < kExponentCap) exponent = exponent * 10 + (p[j] - Char('0'));
                }
                if (exponentNegative) exponent = -exponent;
                i = j;
            }
        }
        consumed = i;
        return fromText(negative, text, exponent);
    }

    template <class Char>
    static Decimal parse(const Char* p, std::size_t n) noexcept {
        while (n > 0 && isAsciiSpace(*p))
            ++p, --n;
        while (n > 0 && isAsciiSpace(p[n - 1]))
            --n;
        std::size_t consumed = 0;
        const Decimal d = scan(p, n, consumed);
        return consumed == n && n > 0 ? d : Decimal::notANumber();
    }
};

}  // namespace

Decimal Decimal::fromParts(bool negative, uint128 coefficient, int exponent) noexcept {
    if (coefficient == 0) return DecimalBuilder::make(false, 0, exponent);
    const int digits = digitCount(coefficient);
    std::int64_t e = exponent;
    std::int64_t drop = std::max(digits - kMaxDigits, 0);
    if (e + drop < kMinExponent) drop = kMinExponent - e;
    if (drop > 0) {
        // At most 39 digits: dropping them all (or more) leaves less than half
        // a unit of 10^drop only when drop exceeds the digit count.
        if (drop > digits || drop > kMaxDigits) return DecimalBuilder::make(false, 0, kMinExponent);
        const uint128 unit = kPow10[static_cast<std::size_t>(drop)];
        const uint128 remainder = coefficient % unit;
        coefficient /= unit;
        if (remainder >= unit / 2) ++coefficient;
        e += drop;
        if (coefficient == kCoefficientLimit) {
            coefficient /= 10;
            ++e;
        }
        if (coefficient == 0) return DecimalBuilder::make(false, 0, e);
    }
    return DecimalBuilder::make(negative, coefficient, e);
}

Decimal Decimal::fromString(std::string_view text) noexcept {
    return TextReader::parse(text.data(), text.size());
}

Decimal Decimal::fromString(StringView text) noexcept {
    return TextReader::parse(text.data(), text.size());
}

Decimal Decimal::scan(std::string_view text, std::size_t& consumed) noexcept {
    return TextReader::scan(text.data(), text.size(), consumed);
}

Decimal Decimal::scan(StringView text, std::size_t& consumed) noexcept {
    return TextReader::scan(text.data(), text.size(), consumed);
}

Decimal Decimal::fromDouble(double value) noexcept {
    if (!std::isfinite(value)) return notANumber();
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (result.ec != std::errc()) return notANumber();
    return TextReader::parse(buffer, static_cast<std::size_t>(result.ptr - buffer));
}

int Decimal::sign() const noexcept {
    if (nan_ || isZero()) return 0;
    return negative_ ? -1 : 1;
}

bool Decimal::isInteger() const noexcept {
    if (nan_) return false;
    if (isZero() || exponent_ >= 0) return true;
    const int fraction = -exponent_;
    // A non-zero coefficient is below 10^38, so it has fewer than 38 zeros.
    if (fraction >= kMaxDigits) return false;
    return coefficient() % kPow10[static_cast<std::size_t>(fraction)] == 0;
}

double Decimal::toDouble() const noexcept {
    if (nan_) return std::numeric_limits<double>::quiet_NaN();
    const uint128 c = coefficient();
    if (c == 0) return 0.0;
    double magnitude;
    static constexpr double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (c < (uint128{1} << 53) && exponent_ >= -22 && exponent_ <= 22) {
        // Both operands are exact doubles, so one IEEE operation rounds correctly.
        const auto x = static_cast<double>(static_cast<std::uint64_t>(c));
        magnitude = exponent_ >= 0 ? x * kExact[exponent_] : x / kExact[-exponent_];
    } else {
        char buffer[48];
        int n = writeDigits(c, buffer);
        buffer[n++] = 'e';
        n = static_cast<int>(std::to_chars(buffer + n, buffer + sizeof buffer, int{exponent_}).ptr -
                             buffer);
        magnitude = 0.0;
        std::from_chars(buffer, buffer + n, magnitude);
    }
    return negative_ ? -magnitude : magnitude;
}

std::int64_t Decimal::toInt64() const noexcept {
    if (nan_) return 0;
    uint128 c = coefficient();
    if (c == 0) return 0;
    constexpr uint128 kLimit = uint128{1} << 63;  // magnitude of INT64_MIN
    if (exponent_ >= 0) {
        // Any non-zero coefficient times 10^19 or more is beyond 64 bits.
        if (exponent_ > 18 || c > kLimit / kPow10[exponent_])
            c = kLimit;
        else
            c *= kPow10[exponent_];
    } else {
        const int fraction = -exponent_;
        c = fraction > kMaxDigits ? 0 : c / kPow10[static_cast<std::size_t>(fraction)];
    }
    if (negative_)
        return c >= kLimit ? std::numeric_limits<std::int64_t>::min()
                           : -static_cast<std::int64_t>(static_cast<std::uint64_t>(c));
    return c >= kLimit ? std::numeric_limits<std::int64_t>::max()
                       : static_cast<std::int64_t>(static_cast<std::uint64_t>(c));
}

std::size_t Decimal::toChars(char* buffer) const noexcept {
    if (nan_) {
        std::memcpy(buffer, "NaN", 4);
        return 3;
    }
    const uint128 c = coefficient();
    if (c == 0) {
        std::memcpy(buffer, "0", 2);
        return 1;
    }
    char digits[40];
    int n = writeDigits(c, digits);
    int e = exponent_;
    while (e < 0 && digits[n - 1] == '0') {
        --n;
        ++e;
    }
    char* out = buffer;
    if (negative_) *out++ = '-';
    if (e >= 0) {
        std::memcpy(out, digits, static_cast<std::size_t>(n));
        out += n;
        std::memset(out, '0', static_cast<std::size_t>(e));
        out += e;
    } else {
        const int whole = n + e;  // digits before the point
        if (whole > 0) {
            std::memcpy(out, digits, static_cast<std::size_t>(whole));
            out += whole;
            *out++ = '.';
            std::memcpy(out, digits + whole, static_cast<std::size_t>(n - whole));
            out += n - whole;
        } else {
            *out++ = '0';
            *out++ = '.';
            std::memset(out, '0', static_cast<std::size_t>(-whole));
            out += -whole;
            std::memcpy(out, digits, static_cast<std::size_t>(n));
            out += n;
        }
    }
    *out = '\0';
    return static_cast<std::size_t>(out - buffer);
}

std::string Decimal::toStdString() const {
    char buffer[kMaxTextLength];
    return std::string(buffer, toChars(buffer));
}

String Decimal::toString() const {
    char buffer[kMaxTextLength];
    const std::size_t n = toChars(buffer);
    return String(buffer, buffer + n);
}

int Decimal::compare(const Decimal& other) const noexcept {
    if (nan_ || other.nan_) return nan_ == other.nan_ ? 0 : (nan_ ? -1 : 1);
    const int a = sign(), b = other.sign();
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
    const uint128 ca = coefficient(), cb = other.coefficient();
    const int da = digitCount(ca), db = digitCount(cb);
    // Position of the leading digit decides unless it is the same.
    const int adjustedA = da + exponent_, adjustedB = db + other.exponent_;
    int magnitude;
    if (adjustedA != adjustedB) {
        magnitude = adjustedA < adjustedB ? -1 : 1;
    } else {
        // Same leading position: the exponent gap equals the digit-count gap
        // (at most 37), and scaling the shorter one up gives at most 38 digits.
        uint128 x = ca, y = cb;
        if (exponent_ > other.exponent_)
            x *= kPow10[exponent_ - other.exponent_];
        else if (other.exponent_ > exponent_)
            y *= kPow10[other.exponent_ - exponent_];
        magnitude = x == y ? 0 : (x < y ? -1 : 1);
    }
    return a > 0 ? magnitude : -magnitude;
}

std::size_t Decimal::hash() const noexcept {
    if (nan_) return mixHash(0x4E614E);
    uint128 c = coefficient();
    if (c == 0) return mixHash(0);
    // Strip trailing zeros so that 1.0 and 1 hash alike.
    int e = exponent_;
    if ((c >> 64) == 0) {
        auto small = static_cast<std::uint64_t>(c);
        while (small % 10 == 0)
            small /= 10, ++e;
        c = small;
    } else {
        while (c % 10 == 0)
            c /= 10, ++e;
    }
    const std::uint64_t head = static_cast<std::uint64_t>(e) << 1 | (negative_ ? 1 : 0);
    return mixHash(static_cast<std::uint64_t>(c) ^
                   mixHash(static_cast<std::uint64_t>(c >> 64) ^ mixHash(head)));
}

}  // namespace qn
