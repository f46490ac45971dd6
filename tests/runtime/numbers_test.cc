#include <qn/host.h>
#include <qn/runtime.h>

#include <cstdlib>

#include "support/test_support.h"

namespace qn {
namespace {

using Policy = QNUtilities::FatalErrorPolicy;

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

Decimal dec(const char* text) {
    return Decimal::fromString(std::string_view(text));
}
std::string text(const Decimal& d) {
    return d.toStdString();
}
std::string text(const Value& v) {
    return toUtf8(v.description());
}

static_assert(QNNumber<std::int64_t> && QNNumber<int> && QNNumber<std::uint64_t>);
static_assert(QNNumber<double> && QNNumber<Decimal>);
static_assert(!QNNumber<bool> && !QNNumber<char16_t> && !QNNumber<char> && !QNNumber<String>);

// --- Mixed operators -------------------------------------------------------------

TEST(MixedOperators, IntegersMeetDecimalsExactlyInBothOrders) {
    const Decimal half = dec("0.5"), two = dec("2.0");
    EXPECT_EQ(text(3 - half), "2.5");
    EXPECT_EQ(text(half - 3), "-2.5");
    EXPECT_EQ(text(1 / dec("8")), "0.125");
    // Beyond 2^53 the integer still arrives exactly (a double would not).
    EXPECT_EQ(text(kMax + dec("1")), "9223372036854775808");
    EXPECT_EQ(text(std::numeric_limits<std::uint64_t>::max() - dec("0")), "18446744073709551615");
    EXPECT_EQ(text(kMin - dec("1")), "-9223372036854775809");
    EXPECT_TRUE(kMax < dec("9223372036854775808"));
    EXPECT_TRUE((5 / Decimal()).isNaN() && (dec("5") / 0).isNaN());
    EXPECT_TRUE(2 == two && two == 2 && !(2 != two) && 1 < two && two < 3 && two >= 2);
    EXPECT_EQ(toInt(1 <=> two), -1);
    EXPECT_EQ(toInt(two <=> 2), 0);
    // A remainder with a decimal is an integer, worked out from doubles.
    EXPECT_EQ(7 % dec("2.5"), 2);
    EXPECT_EQ(dec("-7.5") % 2, -1);
    EXPECT_EQ(dec("7.5") % -2, 1);
    EXPECT_EQ(dec("10.75") % dec("0.5"), 0);
    EXPECT_EQ(Decimal::notANumber() % 3, 0);
}

// --- Failures C++ leaves undefined --------------------------------------------------

TEST(IntegerArithmetic, RemainderAndQuotientTruncateTowardZero) {
    // a, b, quotient, remainder
    const std::int64_t cases[][4] = {{7, 2, 3, 1},   {-7, 2, -3, -1},  {7, -2, -3, 1},
                                     {-7, -1, 7, 0}, {kMin, -1, 0, 0}, {kMin, 2, kMin / 2, 0}};
    for (const auto& [a, b, quotient, remainder] : cases) {
        EXPECT_TRUE((a == kMin && b == -1) || qnIntegerDivide(a, b) == quotient) << a << " / " << b;
        EXPECT_EQ(qnIntegerRemainder(a, b), remainder) << a << " % " << b;
    }
    EXPECT_EQ(qnIntegerMultiply(-3037000499, 3037000499), -9223372030926249001);
}

TEST(IntegerArithmetic, FailuresAreReportedAndRecoveredWithDocumentedValues) {
    test::ScopedFatalErrorPolicy recover(Policy::kRecover);
    test::ScopedCapturingLogger log;
    EXPECT_EQ(qnIntegerDivide(7, 0), 0);
    EXPECT_TRUE(log->contains(u"Division by zero: 7 / 0."));
    EXPECT_EQ(qnIntegerRemainder(-7, 0), -7);
    EXPECT_TRUE(log->contains(u"Division by zero: -7 % 0."));
    EXPECT_EQ(qnIntegerDivide(kMin, -1), kMax);
    EXPECT_TRUE(log->contains(u"-9223372036854775808 / -1 is outside the 64-bit range"));
    EXPECT_EQ(qnIntegerAdd(kMax, 1), kMax);
    EXPECT_EQ(qnIntegerSubtract(kMin, 1), kMin);
    EXPECT_EQ(qnIntegerSubtract(0, kMin), kMax);
    EXPECT_EQ(qnIntegerMultiply(kMin, -1), kMax);
    EXPECT_EQ(qnIntegerMultiply(kMax, -2), kMin);
    EXPECT_EQ(dec("7.5") % 0, 7);
    EXPECT_TRUE(log->contains(u"remainder of 7.5 by 0"));
    // Conversions to integers saturate.
    EXPECT_EQ(qnIntFromDecimal(dec("1e30")), kMax);
    EXPECT_EQ(qnIntFromDecimal(dec("-1e30")), kMin);
    EXPECT_EQ(qnNumberFromDecimal<std::int32_t>(dec("3000000000")),
              std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(qnNumberFromDecimal<std::uint16_t>(dec("-1")), 0);
    EXPECT_EQ(qnIntFromDouble(-std::numeric_limits<double>::infinity()), kMin);
    EXPECT_EQ(QNBuiltins::qnInt(dec("-1e20")), kMin);
    EXPECT_TRUE(log->contains(u"Value 1e+30 cannot be converted to a signed integer"));
    EXPECT_TRUE(log->contains(u"Decimal value -100000000000000000000 cannot be converted"));
    EXPECT_EQ(log->lines().size(), 15u);
    for (const auto& line : log->lines())
        EXPECT_EQ(line.level, QNLogLevelError);
}

TEST(IntegerArithmetic, FailuresRaiseUnderTheDefaultPolicy) {
    test::ScopedCapturingLogger log;
    try {
        qnIntegerDivide(1, 0);
        FAIL() << "nothing was thrown";
    } catch (const FatalError& e) {
        EXPECT_EQ(e.name(), QNUtilities::kInvalidArgumentExceptionName);
    }
    EXPECT_THROW(qnIntegerMultiply(kMax, kMax), FatalError);
    EXPECT_THROW(qnIntFromDecimal(dec("1e19")), FatalError);
}

// --- QNNumber ------------------------------------------------------------------------

TEST(QNNumberProtocol, ConvertsAndRoundsEachKind) {
    EXPECT_EQ(text(qnToDecimal(std::uint64_t{1} << 63)), "9223372036854775808");
    // A Decimal becomes an integer through a double, which rounds 2^53 + 1 to 2^53; qnInt does not.
    EXPECT_EQ(qnIntFromDecimal(dec("9007199254740993")), 9007199254740992);
    EXPECT_EQ(QNBuiltins::qnInt(dec("9007199254740993.9")), 9007199254740993);
    EXPECT_EQ(qnIntFromDecimal(Decimal::notANumber()), 0);
    // A double rounds by its shortest text: 2.675 is 2.67499999... in binary.
    EXPECT_EQ(text(qnNumberRoundedToDecimals(2.675, 2)), "2.68");
    EXPECT_EQ(text(qnNumberRoundedToEvenDecimals(2.675, 2)), "2.68");
    EXPECT_EQ(text(qnNumberTruncatedToDecimals(2.675, 2)), "2.67");
    EXPECT_EQ(text(qnNumberRoundedToDecimals(std::int64_t{15}, -1)), "20");
    EXPECT_EQ(text(qnNumberRoundedToDecimals(dec("-1.25"), 1)), "-1.3");
    EXPECT_EQ(text(qnNumberRoundedToEvenDecimals(dec("-1.25"), 1)), "-1.2");
    EXPECT_EQ(text(qnNumberTruncatedToDecimals(dec("-1.25"), 1000)), "-1.25");
    EXPECT_EQ(text(DecimalUtil::doubleToDec(1234.567, 6, 2)), "1234.5");
    EXPECT_TRUE(DecimalUtil::doubleToDec(123456, 3, 0).isNaN()) << "str gives asterisks";
    EXPECT_EQ(text(DecimalUtil::stringToDec(u" 1.5e2 ")), "150");
    EXPECT_TRUE(DecimalUtil::stringToDec(u"1,5").isNaN());
    EXPECT_EQ(text(DecimalUtil::pow(dec("1.1"), dec("3"))), "1.331");
}

// --- Boxed numbers -------------------------------------------------------------------

TEST(BoxedNumbers, ArithmeticCountsAnAbsentOperandAsZero) {
    const Value a(dec("7.5")), two(2), none;
    EXPECT_EQ(text(qnDecimalByAddingToNumber(none, two)), "2");
    EXPECT_EQ(text(qnDecimalBySubstractingFromNumber(a, 0.25)), "7.25");
    EXPECT_EQ(text(qnDecimalByMultiplyingBy(0.1, 3)), "0.3") << "doubles enter by shortest text";
    EXPECT_EQ(text(qnDecimalByDividingBy(a, two)), "3.75");
    EXPECT_TRUE(qnDecimalByDividingBy(a, none).decimalValue().isNaN());
    EXPECT_TRUE(qnDecimalByDividingBy(a, 0.0).decimalValue().isNaN());
    EXPECT_EQ(text(qnDecimalByNegating(none)), "0");
    EXPECT_EQ(text(qnDecimalByNegating(a)), "-7.5");
    // Double operations: a zero or absent divisor gives NaN, not an infinity.
    EXPECT_EQ(qnNumberByDividingBy(Value(7.5), two).doubleValue(), 3.75);
    EXPECT_TRUE(std::isnan(qnNumberByDividingBy(a, 0).doubleValue()));
    EXPECT_TRUE(std::isnan(qnNumberByDividingBy(Value(-1), none).doubleValue()));
    EXPECT_TRUE(qnNumberByAddingToNumber(1, 2).isDouble());
}

TEST(BoxedNumbers, DecimalPowerIsExactForWholeExponentsOnly) {
    // base, exponent, result
    const std::tuple<Value, Value, const char*> cases[] = {
        {Value(3), Value(40.0), "12157665459056928801"},  // beyond 2^53: exact
        {Value(), Value(0), "1"},
        {Value(2), Value(), "1"},
        {Value(4), Value(0.5), "2"},
        {Value(2), Value(-2), "0.25"},
        {Value(2), Value(dec("0.5")), "1.4142135623730951"},
        {Value(10), Value(200), "NaN"}  // beyond the Decimal range
    };
    for (const auto& [base, exponent, result] : cases)
        EXPECT_EQ(text(qnDecimalToThePower(base, exponent)), result)
            << text(base) << " ^ " << text(exponent);
}

TEST(BoxedNumbers, Modulus) {
    const std::tuple<Value, Value, std::int64_t> cases[] = {
        {Value(7), Value(0), 7},
        {Value(-7), Value(2), -1},
        {Value(dec("7.5")), Value(2), 1},
        {Value(dec("-7.5")), Value(2), -1},
        {Value(7), Value(-1), 0},
        {Value(kMin), Value(-1), 0},
        {Value(7.25), Value(dec("0.5")), 0},
        {Value(true), Value(2), 1},
        {Value(dec("7")), Value(0.0), 7},  // whole values count as integers
        {Value(dec("7.5")), Value(0), 0},  // decimal division by zero: not-a-number, read as 0
        {Value(7), Value(), 0},            // an absent divisor is a decimal 0
        {Value((std::int64_t{1} << 40) + 5), Value(3), 0}  // all 64 bits take part
    };
    for (const auto& [a, b, result] : cases) {
        const Value m = qnModule(a, b);
        EXPECT_TRUE(m.isInt());
        EXPECT_EQ(m.integerValue(), result) << text(a) << " mod " << text(b);
    }
    EXPECT_EQ(qnModule(dec("7.5"), dec("2")), 1);
    EXPECT_TRUE(qnIsInteger(Value(dec("1e18"))));
    EXPECT_FALSE(qnIsInteger(Value(dec("1e19"))) || qnIsInteger(Value(1e19)) ||
                 qnIsInteger(Value(0.5)) || qnIsInteger(Value()));
}

TEST(BoxedNumbers, IsEmptyToDecimalAndConcatenation) {
    for (const Value& zero :
         {Value(0), Value(-0.0), Value(dec("0.00")), Value(false), Value(), Value::null()})
        EXPECT_TRUE(qnIsEmpty(zero).boolValue()) << text(zero);
    for (const Value& other : {Value(1e-300), Value(Decimal::notANumber()), Value(u"0")})
        EXPECT_FALSE(qnIsEmpty(other).boolValue()) << text(other);
    EXPECT_EQ(text(qnNumberToDecimal(Value(0.1))), "0.1");
    EXPECT_EQ(qnConcat(u"x=", Value(dec("1.50"))), u"x=1.5");
    EXPECT_EQ(qnConcat(u"x=", 0.1), u"x=0.1");
    EXPECT_EQ(qnConcat(u"x=", Value()), u"x=(null)");
}

// --- Random numbers -------------------------------------------------------------------

TEST(RandomNumbers, ReproduceDrand48ForAGivenSeed) {
    // The seed's low 32 bits count, as srand48 takes them from a long.
    for (const std::int64_t seed :
         {std::int64_t{0}, std::int64_t{42}, std::int64_t{-1}, (std::int64_t{1} << 40) + 7}) {
        EXPECT_EQ(QNBuiltins::rseed(Decimal(seed)), 0);
        ::srand48(static_cast<long>(seed));
        for (int i = 0; i < 1000; ++i) {
            const double expected = ::drand48();
            ASSERT_EQ(QNBuiltins::random().toDouble(), expected)
                << "seed " << seed << " draw " << i;
        }
    }
    QNBuiltins::rseed(dec("42.9"));
    ::srand48(42);
    EXPECT_EQ(QNBuiltins::rand().toDouble(), ::drand48());
}

TEST(RandomNumbers, StayInRange) {
    QNBuiltins::rseed(Decimal(7));
    for (int i = 0; i < 20000; ++i) {
        const Decimal r = QNBuiltins::random();
        const std::int64_t a = QNBuiltins::aleat();
        ASSERT_TRUE(r >= 0 && r < 1 && a >= 0 && a <= 32766) << text(r) << ", " << a;
    }
}

TEST(RandomNumbers, ConcurrentCallersShareOneSequence) {
    constexpr int kThreads = 4, kDraws = 5000;
    QNBuiltins::rseed(Decimal(1234));
    std::vector<std::vector<double>> drawn(kThreads);
    test::onThreads(kThreads, [&drawn](int t) {
        for (int i = 0; i < kDraws; ++i)
            drawn[static_cast<std::size_t>(t)].push_back(QNBuiltins::random().toDouble());
    });
    // Every value of the sequence handed out once: none lost, none repeated.
    std::vector<double> all, expected(kThreads * kDraws);
    for (const auto& part : drawn)
        all.insert(all.end(), part.begin(), part.end());
    ::srand48(1234);
    std::generate(expected.begin(), expected.end(), ::drand48);
    std::sort(all.begin(), all.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
}

// --- Number to text ----------------------------------------------------------

TEST(NumberToText, StrPicture) {
    // number, length, decimals, text
    const std::tuple<Value, std::int64_t, std::int64_t, const char16_t*> cases[] = {
        {Value(dec("12.5")), 10, 2, u"     12.50"},
        {Value(123456), 3, 0, u"***"},
        {Value(dec("1234.567")), 6, 2, u"1234.5"},  // rounded to 1234.57, then cut
        {Value(dec("123.45")), 4, 2, u"123."},      // cut, point dropped, point again
        {Value(0.5), 10, 0, u"         1"},
        {Value(dec("-0.5")), 4, 0, u"  -1"},
        {Value(dec("9.999")), 6, 2, u" 10.00"},  // rounding carries into the integer part
        {Value(7), 5, 2, u" 7.00"},
        {Value(7), 3, 2, u"7.0"},  // zeros stop at the length
        {Value(7), 1, 2, u"7"},
        {Value(dec("1234.5")), 4, 2, u"1235"},  // the point lies beyond the length: no decimals
        {Value(1.0e-5), 10, 6, u"  0.000010"},  // a double's plain digits, not "1e-05"
        {Value(0.1 + 0.2), 8, 3, u"   0.300"},
        {Value(-0.0), 3, 0, u"  0"},
        {Value(dec("1e20")), 10, 0, u"**********"},
        {Value(dec("1234.5")), 20, -2, u"                1200"},
        {Value(true), 2, 0, u" 1"},
        {Value(), 5, 2, u"  .00"},  // no number: the empty text, then the picture
        {Value(u"12"), 3, 0, u"   "},
        {Value(dec("12.5")), 0, 2, u""},
        {Value(dec("12.5")), -3, 2, u""},
        {Value(Decimal::notANumber()), 4, 0, u" NaN"},
        // Lengths and decimals beyond 32 bits saturate instead of wrapping.
        {Value(7), 5, (std::int64_t{1} << 32) + 1, u"7.000"},
        {Value(5), -(std::int64_t{1} << 32) + 2, 0, u""}};
    for (const auto& [number, length, decimals, expected] : cases)
        EXPECT_EQ(qnStringFromNumberTotalLengthDecimals(number, length, decimals), expected)
            << toUtf8(number.description()) << " (" << length << ", " << decimals << ")";
}

TEST(NumberToText, DefaultsSeparatorsAndTrimming) {
    EXPECT_EQ(qnStringFromNumber(Value(dec("2.5"))), u"         3");
    EXPECT_EQ(qnStringFromNumberTotalLength(Value(2.5), 3), u"  3");
    EXPECT_EQ(QNBuiltins::str(std::int64_t{7}, 4, 1), u" 7.0");
    EXPECT_EQ(qnStringFromNumberTotalLengthDecimalsDecimalSeparatorThousandSeparator(
                  Value(dec("1234.5")), 9, 2, u",", u"."),
              u"  1234,50");
    EXPECT_EQ(qnStringFromNumber(Value(dec("0.5")), 6, 1, u"#.", u"#"), u"   0#.5");
    EXPECT_EQ(qnStringByTrimmingLeftFromNumber(Value(dec("12.5")), 10, 2), u"12.50");
    EXPECT_EQ(qnStringByTrimmingLeftFromNumber(Value(123456), 3, 0), u"***");
    for (const auto& [digits, numeric] : {std::pair{u"", true},
                                          {u"1234567890", true},
                                          {u"-1", false},
                                          {u"1.5", false},
                                          {u" 1", false},
                                          {u"\u0661", false},
                                          {u"12a", false}})
        EXPECT_EQ(QNBuiltins::notNumeric(digits), !numeric) << toUtf8(digits);
}

// --- Text to number ----------------------------------------------------------

TEST(TextToNumber, NumericValueReadsTheLeadingNumberDecimalValueTheWholeText) {
    // Line and no-break separators count as white space; 1e999 is beyond the Decimal range. A
    // separator other than "." goes through the current language when reading a leading number,
    // which the next test covers.
    struct Case {
        const char16_t *text, *separator;
        const char *leading, *whole;
    };
    const Case cases[] = {{u" 12abc", u".", "12", "0"},
                          {u"\n\t -3.5e2x", u".", "-350", "0"},
                          {u"\u2028\u00a0 7", u".", "7", "0"},
                          {u"+.5", u".", "0.5", "0.5"},
                          {u"12e", u".", "12", "0"},
                          {u"12.", u".", "12", "12"},
                          {u"1,5", u".", "1", "0"},
                          {u"", u".", "0", "0"},
                          {u"-", u".", "0", "0"},
                          {u"1e999", u".", "0", "0"},
                          {u"x 12", u".", "0", "0"},
                          {u" -2.50 ", u".", "-2.5", "-2.5"},
                          {u"1e3", u".", "1000", "1000"},
                          {u"1,5", u",", nullptr, "1.5"},
                          {u"1.5", u",", nullptr, "1.5"},
                          {u"abc", u",", nullptr, "0"},
                          {u"2::5", u"::", nullptr, "2.5"},
                          {u"7", u"", nullptr, "7"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.text) + " with " + toUtf8(c.separator));
        if (c.leading != nullptr) {
            EXPECT_EQ(text(qnNumericValue(c.text)), c.leading);
            EXPECT_EQ(text(qnNumericValueWithSeparator(c.text, c.separator)), c.leading);
        }
        EXPECT_EQ(text(qnDecimalValueWithSeparator(c.text, c.separator)), c.whole);
    }
    EXPECT_EQ(text(qnDecimalValue(u"0.125")), "0.125");
}

TEST(TextToNumber, NumericValueWithSeparatorFollowsTheCurrentLanguage) {
    test::TempDir dir;
    test::writeSampleBundle(dir);
    test::ScopedBundle bundle(dir.path());

    QNResources::setCurrentLanguageName(u"Spanish");  // es_ES: ","
    EXPECT_EQ(text(qnNumericValueWithSeparator(u" 1,5", u",")), "1.5");
    EXPECT_EQ(text(qnNumericValueWithSeparator(u"1.234,5", u",")), "1") << "no grouping";
    EXPECT_EQ(text(qnNumericValueWithSeparator(u"3;25 kg", u";")), "3.25");
    EXPECT_EQ(text(qnNumericValueWithSeparator(u"-3::25", u"::")), "-3.25");
    EXPECT_EQ(text(qnNumericValue(u"1,5")), "1") << "\".\" always reads en_US_POSIX";

    QNResources::setCurrentLanguageName(u"English");  // en_US: "."
    EXPECT_EQ(text(qnNumericValueWithSeparator(u"1,5", u",")), "1.5");
    EXPECT_EQ(text(qnNumericValueWithSeparator(u"1,234.5", u",")), "1.234");
    EXPECT_EQ(text(qnNumericValueWithSeparator(u"abc", u",")), "0");
}

}  // namespace
}  // namespace qn
