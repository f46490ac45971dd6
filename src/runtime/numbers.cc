// Mixed-type arithmetic, the boxed-number operations and the random numbers
// of generated code.
//
// Everything that C++ leaves undefined (signed overflow, a zero divisor, a
// double beyond an integer's range) is caught before it happens and reported
// through the fatal-error hook; the recovered values are listed in numbers.h.
#include <qn/host/utilities.h>
#include <qn/runtime/builtins.h>
#include <qn/runtime/numbers.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>
#include <mutex>
#include <string>

namespace qn {
namespace {

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr double kTwo63 = 9223372036854775808.0;

// Rounding counts beyond this cannot change a Decimal (38 digits, exponents
// from -128 to 127), so they are clamped here before reaching `rounded`.
constexpr std::int64_t kRoundingLimit = 400;

String numberText(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return asciiString(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

String numberText(std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return asciiString(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

void reportDivisionByZero(const String& operation) {
    QNUtilities::tryRecoverFatalErrorWithExceptionName(u"Division by zero: " + operation + u".",
                                                       QNUtilities::kInvalidArgumentExceptionName);
}

void reportOverflow(const String& operation) {
    QNUtilities::tryRecoverFatalErrorWithExceptionName(
        u"Integer overflow: " + operation + u" is outside the 64-bit range.",
        QNUtilities::kRangeExceptionName);
}

String describe(std::int64_t a, const char16_t* op, std::int64_t b) {
    return numberText(a) + op + numberText(b);
}

// A double truncated and clamped to the 64-bit range, without a report (for
// recovery values that would otherwise be reported twice).
std::int64_t saturated(double value) noexcept {
    if (std::isnan(value)) return 0;
    if (value >= kTwo63) return kInt64Max;
    if (value < -kTwo63) return kInt64Min;
    return static_cast<std::int64_t>(value);
}

// The Decimal truncated toward zero, exactly; beyond the 64-bit range it is
// reported and saturated. Not-a-number gives 0.
std::int64_t exactInt(const Decimal& value) {
    if (value.isNaN()) return 0;
    constexpr Decimal kMax(kInt64Max);
    constexpr Decimal kMin(kInt64Min);
    const Decimal whole = value.integralPart();
    if (whole.compare(kMax) > 0 || whole.compare(kMin) < 0) {
        QNUtilities::tryRecoverFatalErrorWithExceptionName(
            u"Decimal value " + value.toString() +
                u" cannot be converted to Int because it is outside the representable range.",
            QNUtilities::kRangeExceptionName);
        return value.isNegative() ? kInt64Min : kInt64Max;
    }
    return whole.toInt64();
}

std::int32_t clampRounding(std::int64_t decimals) noexcept {
    return static_cast<std::int32_t>(std::clamp(decimals, -kRoundingLimit, kRoundingLimit));
}

}  // namespace

// --- Conversions -------------------------------------------------------------

namespace detail {

void reportOutOfRange(double value, const char* typeName) {
    QNUtilities::tryRecoverFatalErrorWithExceptionName(
        u"Value " + numberText(value) + u" cannot be converted to " + asciiString(typeName) +
            u" because it is outside the representable range.",
        QNUtilities::kRangeExceptionName);
}

std::int64_t remainderAsInteger(double a, double b) {
    if (b == 0.0) {
        reportDivisionByZero(u"remainder of " + numberText(a) + u" by 0");
        return saturated(a);
    }
    return truncateDouble<std::int64_t>(std::fmod(a, b));
}

bool numberIsZero(const Value& number) noexcept {
    switch (number.kind()) {
        case ValueKind::kAbsent:
        case ValueKind::kNull:
            return true;
        case ValueKind::kBool:
        case ValueKind::kInt:
            return number.integerValue() == 0;
        case ValueKind::kDouble:
            return number.doubleValue() == 0.0;
        case ValueKind::kDecimal:
            return number.decimalValue().isZero();
        default:
            return false;
    }
}

}  // namespace detail

std::int64_t qnIntFromDecimal(const Decimal& value) {
    return qnNumberFromDecimal<std::int64_t>(value);
}

std::int64_t qnIntFromDouble(double value) {
    return detail::truncateDouble<std::int64_t>(value);
}

Decimal qnRoundedToDecimals(const Decimal& value, std::int64_t decimals) noexcept {
    return value.rounded(clampRounding(decimals), DecimalRounding::kHalfAwayFromZero);
}

Decimal qnRoundedToEvenDecimals(const Decimal& value, std::int64_t decimals) noexcept {
    return value.rounded(clampRounding(decimals), DecimalRounding::kHalfEven);
}

Decimal qnTruncatedToDecimals(const Decimal& value, std::int64_t decimals) noexcept {
    return value.rounded(clampRounding(decimals), DecimalRounding::kTowardZero);
}

// --- Integers ----------------------------------------------------------------

std::int64_t qnIntegerAdd(std::int64_t a, std::int64_t b) {
    std::int64_t result;
    if (!__builtin_add_overflow(a, b, &result)) return result;
    reportOverflow(describe(a, u" + ", b));
    return b > 0 ? kInt64Max : kInt64Min;
}

std::int64_t qnIntegerSubtract(std::int64_t a, std::int64_t b) {
    std::int64_t result;
    if (!__builtin_sub_overflow(a, b, &result)) return result;
    reportOverflow(describe(a, u" - ", b));
    return b < 0 ? kInt64Max : kInt64Min;
}

std::int64_t qnIntegerMultiply(std::int64_t a, std::int64_t b) {
    std::int64_t result;
    if (!__builtin_mul_overflow(a, b, &result)) return result;
    reportOverflow(describe(a, u" * ", b));
    return (a < 0) == (b < 0) ? kInt64Max : kInt64Min;
}

std::int64_t qnIntegerDivide(std::int64_t a, std::int64_t b) {
    if (b == 0) {
        reportDivisionByZero(describe(a, u" / ", b));
        return 0;
    }
    if (a == kInt64Min && b == -1) {
        reportOverflow(describe(a, u" / ", b));
        return kInt64Max;
    }
    return a / b;
}

std::int64_t qnIntegerRemainder(std::int64_t a, std::int64_t b) {
    if (b == 0) {
        reportDivisionByZero(describe(a, u" % ", b));
        return a;
    }
    // Also keeps INT64_MIN % -1 (undefined in C++) away from the hardware.
    if (b == -1) return 0;
    return a % b;
}

std::int64_t qnModule(const Decimal& self, const Decimal& other) {
    return qnModule(Value(self), Value(other)).integerValue();
}

String qnConcat(const String& text, const Value& value) {
    if (value.isDecimal()) return text + value.decimalValue().toString();
    return text + value.description();
}

// --- Boxed numbers -------------------------------------------------------------

Value qnDecimalByAddingToNumber(const Value& a, const Value& b) {
    return Value(a.decimalValue().add(b.decimalValue()));
}

Value qnDecimalBySubstractingFromNumber(const Value& a, const Value& b) {
    return Value(a.decimalValue().subtract(b.decimalValue()));
}

Value qnDecimalByMultiplyingBy(const Value& a, const Value& b) {
    return Value(a.decimalValue().multiply(b.decimalValue()));
}

Value qnDecimalByDividingBy(const Value& a, const Value& b) {
    const Decimal divisor = b.decimalValue();
    if (divisor.isZero()) return Value(Decimal::notANumber());
    return Value(a.decimalValue().divide(divisor));
}

Value qnDecimalByNegating(const Value& a) {
    return Value(a.decimalValue().negated());
}

Value qnDecimalToThePower(const Value& base, const Value& exponent) {
    // A whole exponent from 0 up to the 64-bit limit: exact Decimal powers.
    bool whole = false;
    std::uint64_t n = 0;
    switch (exponent.kind()) {
        case ValueKind::kAbsent:
        case ValueKind::kNull:
            whole = true;
            break;
        case ValueKind::kBool:
        case ValueKind::kInt:
            whole = exponent.integerValue() >= 0;
            n = static_cast<std::uint64_t>(exponent.integerValue());
            break;
        case ValueKind::kDouble: {
            const double e = exponent.doubleValue();
            whole = e >= 0.0 && e < kTwo63 && std::trunc(e) == e;
            if (whole) n = static_cast<std::uint64_t>(e);
            break;
        }
        case ValueKind::kDecimal: {
            const Decimal e = exponent.decimalValue();
            whole = e.isInteger() && !e.isNegative() && e.compare(Decimal(kInt64Max)) <= 0;
            if (whole) n = static_cast<std::uint64_t>(e.toInt64());
            break;
        }
        default:
            break;
    }
    if (whole) return Value(Decimal::power(base.decimalValue(), n));
    return Value(Decimal::fromDouble(std::pow(base.doubleValue(), exponent.doubleValue())));
}

Value qnNumberByAddingToNumber(const Value& a, const Value& b) {
    return Value(a.doubleValue() + b.doubleValue());
}

Value qnNumberBySubstractingFromNumber(const Value& a, const Value& b) {
    return Value(a.doubleValue() - b.doubleValue());
}

Value qnNumberByMultiplyingBy(const Value& a, const Value& b) {
    return Value(a.doubleValue() * b.doubleValue());
}

Value qnNumberByDividingBy(const Value& a, const Value& b) {
    const double divisor = b.doubleValue();
    if (divisor == 0.0) return Value(std::numeric_limits<double>::quiet_NaN());
    return Value(a.doubleValue() / divisor);
}

Value qnNumberByNegating(const Value& a) {
    return Value(-a.doubleValue());
}

Value qnNumberToThePower(const Value& base, const Value& exponent) {
    return Value(std::pow(base.doubleValue(), exponent.doubleValue()));
}

bool qnIsInteger(const Value& number) noexcept {
    switch (number.kind()) {
        case ValueKind::kBool:
        case ValueKind::kInt:
            return true;
        case ValueKind::kDouble: {
            const double d = number.doubleValue();
            return d >= -kTwo63 && d < kTwo63 && std::trunc(d) == d;
        }
        case ValueKind::kDecimal: {
            const Decimal d = number.decimalValue();
            return d.isInteger() && d.compare(Decimal(kInt64Max)) <= 0 &&
                   d.compare(Decimal(kInt64Min)) >= 0;
        }
        default:
            return false;
    }
}

Value qnModule(const Value& a, const Value& b) {
    if (qnIsInteger(a) && qnIsInteger(b)) {
        // Whole numbers of every size, not only those of 32 bits.
        const std::int64_t x = a.integerValue();
        const std::int64_t y = b.integerValue();
        if (y == 0) return Value(x);
        if (y == -1) return Value(0);
        return Value(x % y);
    }
    const Decimal x = a.decimalValue();
    const Decimal y = b.decimalValue();
    const Decimal quotient = x.divide(y).integralPart();
    return Value(exactInt(x.subtract(y.multiply(quotient))));
}

Value qnNumberToDecimal(const Value& number) {
    return Value(number.decimalValue());
}

// --- DecimalUtil ---------------------------------------------------------------

Decimal DecimalUtil::stringToDec(StringView text) noexcept {
    return Decimal::fromString(text);
}

// --- Random numbers --------------------------------------------------------------

namespace {

// The 48-bit linear congruential generator of drand48, on state of its own
// so that the sequence is the same on every platform. One per process; the
// mutex lets concurrent callers share the sequence without a data race.
class Rand48 {
public:
    static Rand48& shared() {
        static Rand48 generator;
        return generator;
    }

    void seed(std::int64_t seed) {
        std::lock_guard lock(mutex_);
        seedLocked(seed);
    }

    double next() {
        std::lock_guard lock(mutex_);
        if (!seeded_) seedLocked(static_cast<std::int64_t>(std::time(nullptr)));
        state_ = (kMultiplier * state_ + kIncrement) & kMask;
        return std::ldexp(static_cast<double>(state_), -48);
    }

private:
    static constexpr std::uint64_t kMultiplier = 0x5DEECE66DULL;
    static constexpr std::uint64_t kIncrement = 0xB;
    static constexpr std::uint64_t kMask = (std::uint64_t{1} << 48) - 1;

    // As srand48: the seed's low 32 bits above the constant 0x330E.
    void seedLocked(std::int64_t seed) noexcept {
        state_ = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(seed)) << 16) | 0x330E;
        seeded_ = true;
    }

    std::mutex mutex_;
    std::uint64_t state_ = 0;
    bool seeded_ = false;
};

}  // namespace

Decimal QNBuiltins::random() {
    return Decimal::fromDouble(Rand48::shared().next());
}

Decimal QNBuiltins::rand() {
    return random();
}

std::int64_t QNBuiltins::aleat() {
    // [0, 1) x 32767 stays below 32767: the cast cannot leave the range.
    return static_cast<std::int64_t>(random().toDouble() * 32767.0);
}

std::int64_t QNBuiltins::rseed(const Decimal& seed) {
    Rand48::shared().seed(seed.toInt64());
    return 0;
}

std::int64_t QNBuiltins::qnInt(const Decimal& value) {
    return exactInt(value);
}

}  // namespace qn
