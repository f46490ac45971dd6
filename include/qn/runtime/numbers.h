// Numbers as generated code mixes them: 64-bit integers, doubles and Decimals.
//
// Generated code keeps a numeric variable as an integer, a binary double or a
// Decimal and combines them freely. C++ already gives integer-with-double
// arithmetic the meaning generated code expects (the integer becomes a
// double), so this header only adds what the language lacks or leaves
// undefined:
//
//   - integer (+ - * /) Decimal and Decimal (+ - * /) integer: the integer is
//     converted exactly, then Decimal arithmetic; comparisons likewise.
//   - `%` with a Decimal on either side: an integer, computed on doubles and
//     truncated (7.5 % 2 is 1, 7 % 2.5 is 2).
//   - qnInteger*: integer arithmetic whose overflow and zero divisors are
//     reported instead of being undefined behaviour.
//   - the QNNumber concept and its requirement functions, the boxed-number
//     operations on Value, DecimalUtil, and conversions to and from text.
//
// Failures that have no defined result (overflow, an integer or remainder
// division by zero, a double or Decimal beyond the integer range) go through
// QNUtilities::tryRecoverFatalError: under the Raise policy it throws
// qn::FatalError; under Recover it logs and the operation returns
//
//   failure                                   recovered result
//   integer + - * overflow                    the saturated result
//   integer division by zero                  0 (so a == q * b + r holds with r = a)
//   INT64_MIN / -1                            INT64_MAX
//   remainder by zero (integer or decimal)    the dividend (as qnModule does)
//   value beyond an integer type's range      that type's nearest limit
//
// Not-a-number converts to the integer 0 without a report.
//
// Thread-safety: every function here is thread-safe; the only state is the
// random generator of QNBuiltins (src/runtime/numbers.cc), behind a mutex.
#pragma once

#include <qn/core/decimal.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cmath>
#include <compare>
#include <concepts>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace qn {

// The type codes of values, in the order generated code numbers them.
enum class TypeConstants {
    byte,
    short_,
    int_,
    long_,
    float_,
    double_,
    string,
    date,
    decimal,
    boolean,
    blob,
    uuid,
    object_COLLECTION,
};

namespace detail {

template <class T>
inline constexpr bool kIsCharacter =
    std::is_same_v<T, char> || std::is_same_v<T, wchar_t> || std::is_same_v<T, char8_t> ||
    std::is_same_v<T, char16_t> || std::is_same_v<T, char32_t>;

// The integer types that count as numbers: not bool, not character types.
template <class T>
concept QNInteger = std::integral<T> && !std::same_as<T, bool> && !kIsCharacter<T>;

// Reports `value` (already known to be outside `typeName`'s range) through
// the fatal-error hook.
QN_API void reportOutOfRange(double value, const char* typeName);

// The double truncated toward zero as I; NaN gives 0; beyond I's range it is
// reported and saturated.
template <QNInteger I>
I truncateDouble(double value) {
    if (std::isnan(value)) return 0;
    // Both limits are exact doubles: -2^k (or 0) and 2^k.
    constexpr double kLow = static_cast<double>(std::numeric_limits<I>::min());
    constexpr double kHigh = static_cast<double>(std::numeric_limits<I>::max()) + 1.0;
    const double whole = std::trunc(value);
    if (whole < kLow) {
        reportOutOfRange(value, std::is_signed_v<I> ? "a signed integer" : "an unsigned integer");
        return std::numeric_limits<I>::min();
    }
    if (whole >= kHigh) {
        reportOutOfRange(value, std::is_signed_v<I> ? "a signed integer" : "an unsigned integer");
        return std::numeric_limits<I>::max();
    }
    return static_cast<I>(whole);
}

// a % b on doubles (sign of the dividend) truncated to an integer; a zero
// divisor is reported and gives the dividend.
QN_API std::int64_t remainderAsInteger(double a, double b);

}  // namespace detail

// --- QNNumber -------------------------------------------------------------

// What generated code treats as a number: the integers, double and Decimal.
template <class T>
concept QNNumber = detail::QNInteger<T> || std::same_as<T, double> || std::same_as<T, Decimal>;

// The number as a decimal: integers exactly, doubles through their shortest
// round-trip text (Decimal::fromDouble).
template <detail::QNInteger I>
Decimal qnToDecimal(I value) noexcept {
    if constexpr (std::is_unsigned_v<I> && sizeof(I) >= sizeof(std::int64_t)) {
        if (value > static_cast<I>(std::numeric_limits<std::int64_t>::max()))
            return Decimal::fromParts(false, value, 0);
    }
    return Decimal(static_cast<std::int64_t>(value));
}
inline Decimal qnToDecimal(double value) noexcept {
    return Decimal::fromDouble(value);
}
inline Decimal qnToDecimal(const Decimal& value) noexcept {
    return value;
}

// The number boxed: integers as Int, doubles as Double, decimals as Decimal.
template <detail::QNInteger I>
Value qnToNSNumber(I value) noexcept {
    return Value(value);
}
inline Value qnToNSNumber(double value) noexcept {
    return Value(value);
}
inline Value qnToNSNumber(const Decimal& value) noexcept {
    return Value(value);
}

// The number of type T that a Decimal stands for: a Decimal itself, the
// nearest double, or for integers the nearest double truncated toward zero
// (not-a-number gives 0; beyond T's range see the table at the top).
template <QNNumber T>
T qnNumberFromDecimal(const Decimal& value) {
    if constexpr (std::same_as<T, Decimal>) {
        return value;
    } else if constexpr (std::same_as<T, double>) {
        return value.toDouble();
    } else {
        return detail::truncateDouble<T>(value.toDouble());
    }
}
// Int (and Int64) from a Decimal, as qnNumberFromDecimal<std::int64_t>.
QN_API std::int64_t qnIntFromDecimal(const Decimal& value);
// Int from a double: truncated toward zero, NaN 0, beyond the range reported
// and saturated.
QN_API std::int64_t qnIntFromDouble(double value);

// The host's rounding of a Decimal to `decimals` fractional digits (a
// negative count rounds to tens, hundreds, ...): halves away from zero,
// halves to the even neighbour, or cut toward zero. A value that already fits
// comes back unchanged; not-a-number stays not-a-number.
QN_API Decimal qnRoundedToDecimals(const Decimal& value, std::int64_t decimals) noexcept;
QN_API Decimal qnRoundedToEvenDecimals(const Decimal& value, std::int64_t decimals) noexcept;
QN_API Decimal qnTruncatedToDecimals(const Decimal& value, std::int64_t decimals) noexcept;

template <QNNumber T>
Decimal qnNumberRoundedToDecimals(const T& number, std::int64_t decimals) noexcept {
    return qnRoundedToDecimals(qnToDecimal(number), decimals);
}
template <QNNumber T>
Decimal qnNumberRoundedToEvenDecimals(const T& number, std::int64_t decimals) noexcept {
    return qnRoundedToEvenDecimals(qnToDecimal(number), decimals);
}
template <QNNumber T>
Decimal qnNumberTruncatedToDecimals(const T& number, std::int64_t decimals) noexcept {
    return qnTruncatedToDecimals(qnToDecimal(number), decimals);
}

// --- Integers ---------------------------------------------------------------

// 64-bit integer arithmetic with the failures C++ leaves undefined reported
// (see the table at the top). Division truncates toward zero; the remainder
// has the sign of the dividend, and a divisor of -1 gives 0.
QN_API std::int64_t qnIntegerAdd(std::int64_t a, std::int64_t b);
QN_API std::int64_t qnIntegerSubtract(std::int64_t a, std::int64_t b);
QN_API std::int64_t qnIntegerMultiply(std::int64_t a, std::int64_t b);
QN_API std::int64_t qnIntegerDivide(std::int64_t a, std::int64_t b);
QN_API std::int64_t qnIntegerRemainder(std::int64_t a, std::int64_t b);

// A three-way comparison as generated code reads it: -1, 0 or 1 (0 for
// unordered).
constexpr std::int64_t toInt(std::partial_ordering order) noexcept {
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// --- Integer and Decimal operators ------------------------------------------

template <detail::QNInteger I>
Decimal operator+(I a, const Decimal& b) noexcept {
    return qnToDecimal(a).add(b);
}
template <detail::QNInteger I>
Decimal operator-(I a, const Decimal& b) noexcept {
    return qnToDecimal(a).subtract(b);
}
template <detail::QNInteger I>
Decimal operator*(I a, const Decimal& b) noexcept {
    return qnToDecimal(a).multiply(b);
}
// Not-a-number for a zero divisor.
template <detail::QNInteger I>
Decimal operator/(I a, const Decimal& b) noexcept {
    return qnToDecimal(a).divide(b);
}
template <detail::QNInteger I>
Decimal operator+(const Decimal& a, I b) noexcept {
    return a.add(qnToDecimal(b));
}
template <detail::QNInteger I>
Decimal operator-(const Decimal& a, I b) noexcept {
    return a.subtract(qnToDecimal(b));
}
template <detail::QNInteger I>
Decimal operator*(const Decimal& a, I b) noexcept {
    return a.multiply(qnToDecimal(b));
}
template <detail::QNInteger I>
Decimal operator/(const Decimal& a, I b) noexcept {
    return a.divide(qnToDecimal(b));
}

// Both orders and all six relations (the others are rewritten from these).
template <detail::QNInteger I>
bool operator==(I a, const Decimal& b) noexcept {
    return qnToDecimal(a).compare(b) == 0;
}
template <detail::QNInteger I>
std::strong_ordering operator<=>(I a, const Decimal& b) noexcept {
    return qnToDecimal(a).compare(b) <=> 0;
}

// The remainder on doubles (sign of the dividend), truncated to an integer.
template <detail::QNInteger I>
std::int64_t operator%(const Decimal& a, I b) {
    return detail::remainderAsInteger(a.toDouble(), static_cast<double>(b));
}
template <detail::QNInteger I>
std::int64_t operator%(I a, const Decimal& b) {
    return detail::remainderAsInteger(static_cast<double>(a), b.toDouble());
}
inline std::int64_t operator%(const Decimal& a, const Decimal& b) {
    return detail::remainderAsInteger(a.toDouble(), b.toDouble());
}

// Decimal's compareTo: -1, 0 or 1.
inline std::int64_t compareTo(const Decimal& self, const Decimal& other) noexcept {
    const int c = self.compare(other);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
// Decimal's qnModule: the boxed-number qnModule of the two, as an integer.
QN_API std::int64_t qnModule(const Decimal& self, const Decimal& other);

// The string followed by the value's text: a decimal's plain digits, any
// other value its description ("(null)" for an absent one).
QN_API String qnConcat(const String& text, const Value& value);

// --- Boxed numbers ------------------------------------------------------------
//
// The number operations on Values. An operand reads as its decimalValue or
// doubleValue (see value.h), so an absent or null operand counts as 0.

// a + b, a - b, a * b in Decimal arithmetic; the quotient is not-a-number
// when b equals 0. Each result is a Decimal.
QN_API Value qnDecimalByAddingToNumber(const Value& a, const Value& b);
QN_API Value qnDecimalBySubstractingFromNumber(const Value& a, const Value& b);
QN_API Value qnDecimalByMultiplyingBy(const Value& a, const Value& b);
QN_API Value qnDecimalByDividingBy(const Value& a, const Value& b);
// -a; the negation of zero is zero.
QN_API Value qnDecimalByNegating(const Value& a);
// base^exponent: exact Decimal powers (38 digits, then rounded) when the
// exponent is a whole number from 0 to 2^63 - 1; otherwise std::pow on the
// doubles, as a Decimal. An absent exponent counts as 0 (the result is 1).
QN_API Value qnDecimalToThePower(const Value& base, const Value& exponent);

// The same on doubles; each result is a Double. The quotient is NaN when the
// divisor's double value is 0.
QN_API Value qnNumberByAddingToNumber(const Value& a, const Value& b);
QN_API Value qnNumberBySubstractingFromNumber(const Value& a, const Value& b);
QN_API Value qnNumberByMultiplyingBy(const Value& a, const Value& b);
QN_API Value qnNumberByDividingBy(const Value& a, const Value& b);
QN_API Value qnNumberByNegating(const Value& a);
QN_API Value qnNumberToThePower(const Value& base, const Value& exponent);

// True for the numbers qnModule treats as integers: Bool, Int, and a Double
// or Decimal holding a whole value within the 64-bit range.
QN_API bool qnIsInteger(const Value& number) noexcept;
// The modulus as an Int. Two integers (qnIsInteger): a divisor of 0 gives
// `a`, -1 gives 0, else the remainder with the sign of `a`. Otherwise in
// Decimals: a - b * trunc(a / b) with its fraction dropped (7.5 mod 2 is 1),
// and a divisor of 0 gives 0.
QN_API Value qnModule(const Value& a, const Value& b);
// The number's decimalValue, as a Decimal.
QN_API Value qnNumberToDecimal(const Value& number);

namespace detail {
QN_API bool numberIsZero(const Value& number) noexcept;
}
// A Bool: true when the number equals 0 (an absent one counts as 0). Only a
// Value receiver: strings, dates and UUIDs have their own qnIsEmpty.
template <std::same_as<Value> V>
Value qnIsEmpty(const V& number) noexcept {
    return Value(detail::numberIsZero(number));
}

// --- Number to text ---------------------------------------------------------
//
// `number` is a number Value (Bool, Int, Double or Decimal); any other kind
// reads as no number. Lengths and decimal counts are read as 32-bit integers
// (saturated).

// The number right-aligned in `length` characters with `decimals`
// fractional digits, rounded half away from zero:
//   1. t := the number's plain text (a double's shortest round-trip digits,
//      never an exponent); no number gives "".
//   2. A point at a position below `length` keeps `decimals`, else it is 0.
//      With more fractional digits than that, t := the number rounded to
//      that many.
//   3. Longer than `length`: without a point t becomes `length` asterisks,
//      with one it is cut to `length` characters.
//   4. A trailing point is dropped.
//   5. t at least `length` long is the result.
//   6. With decimals >= 1 and no point, a point is appended;
//   7. zeros are appended up to `decimals` fractional digits or `length`;
//   8. blanks are prepended up to `length`.
// 12.5 (10, 2) gives "     12.50"; 123456 (3, 0) "***"; 1234.567 (6, 2)
// "1234.5"; 123.45 (4, 2) "123.".
QN_API String qnStringFromNumberTotalLengthDecimals(const Value& number, std::int64_t length,
                                                    std::int64_t decimals);
// Length 10, no decimals.
QN_API String qnStringFromNumber(const Value& number);
QN_API String qnStringFromNumberTotalLength(const Value& number, std::int64_t length);
// The text above with "." and "," replaced by the given separators.
QN_API String qnStringFromNumberTotalLengthDecimalsDecimalSeparatorThousandSeparator(
    const Value& number, std::int64_t length, std::int64_t decimals, StringView decimalSeparator,
    StringView thousandSeparator);
// The text above without its leading blanks.
QN_API String qnStringByTrimmingLeftFromNumber(const Value& number, std::int64_t length,
                                               std::int64_t decimals);

// The value-type spellings.
inline String qnStringFromNumber(const Value& number, std::int64_t length) {
    return qnStringFromNumberTotalLength(number, length);
}
inline String qnStringFromNumber(const Value& number, std::int64_t length, std::int64_t decimals) {
    return qnStringFromNumberTotalLengthDecimals(number, length, decimals);
}
inline String qnStringFromNumber(const Value& number, std::int64_t length, std::int64_t decimals,
                                 StringView decimalSeparator, StringView thousandSeparator) {
    return qnStringFromNumberTotalLengthDecimalsDecimalSeparatorThousandSeparator(
        number, length, decimals, decimalSeparator, thousandSeparator);
}

// --- Text to number ---------------------------------------------------------

// The number at the start of the text, read with a locale: "en_US_POSIX"
// when `separator` is ".", else the current language's locale (the default
// ICU locale when there is none). A separator other than that locale's
// decimal separator is first replaced by it throughout the text. White
// space and line breaks are skipped, then: optional sign, digits with the
// locale's decimal separator, optional exponent. Text after the number is
// ignored; no number (or one beyond the Decimal range) gives 0.
QN_API Decimal qnNumericValueWithSeparator(StringView text, StringView separator);
// With ".".
QN_API Decimal qnNumericValue(StringView text);
// The whole text as a decimal with "." for `separator` (surrounding ASCII
// blanks allowed, an exponent too); anything else, or a value beyond the
// Decimal range, gives 0.
QN_API Decimal qnDecimalValueWithSeparator(StringView text, StringView separator);
QN_API Decimal qnDecimalValue(StringView text) noexcept;

// --- DecimalUtil --------------------------------------------------------------

// Decimal helpers of generated code. Stateless: thread-safe.
class QN_API DecimalUtil {
public:
    static constexpr Decimal ZERO{};

    // The text of the boxed number (a double's is its description).
    template <QNNumber T>
    static String decToString(const T& number) {
        return qnToNSNumber(number).description();
    }
    template <QNNumber T>
    static Decimal doubleToDec(const T& number) noexcept {
        return qnToDecimal(number);
    }
    // The number rounded and cut as str(number, length, decimals) shows it
    // (not-a-number when that text is asterisks).
    template <QNNumber T>
    static Decimal doubleToDec(const T& number, std::int64_t length, std::int64_t decimals) {
        return stringToDec(
            qnStringFromNumberTotalLengthDecimals(qnToNSNumber(number), length, decimals));
    }
    // The whole text as a decimal with "."; not-a-number when it is not one.
    static Decimal stringToDec(StringView text) noexcept;
    template <QNNumber B, QNNumber E>
    static Decimal pow(const B& base, const E& exponent) {
        return qnDecimalToThePower(qnToNSNumber(base), qnToNSNumber(exponent)).decimalValue();
    }
};

}  // namespace qn
