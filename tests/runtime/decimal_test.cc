#include <qn/core/decimal.h>

#include "support/test_support.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <random>

namespace {

using qn::Decimal;
using qn::DecimalRounding;
using qn::uint128;

struct ParseVector {
    const char* text;
    const char* canonical;
    std::int64_t toInt64;
    const char* toDouble;
    bool isInteger;
};
struct PartsVector {
    bool negative;
    std::uint64_t high, low;
    int exponent;
    const char* canonical;
};
struct CompareVector {
    int a, b, result;
};

struct BinaryVector {
    const char *a, *b, *sum, *difference, *product, *quotient;
    int compare;
};
struct RoundVector {
    const char* a;
    int decimals;
    const char *halfAway, *halfEven, *towardZero;
};
struct PowerVector {
    const char* base;
    std::uint64_t exponent;
    const char* result;
};

#include "decimal_arith_vectors.inc"
#include "decimal_vectors.inc"

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::u16string widen(std::string_view s) {
    return std::u16string(s.begin(), s.end());
}

Decimal dec(std::string_view text) {
    return Decimal::fromString(text);
}

// Sign, zero and negative follow from the canonical text.
void expectSignOf(const Decimal& d, std::string_view text) {
    EXPECT_EQ(d.isZero(), text == "0");
    EXPECT_EQ(d.isNegative(), text.starts_with('-'));
    EXPECT_EQ(d.sign(), text.starts_with('-') ? -1 : (text == "0" || text == "NaN") ? 0 : 1);
}

uint128 pow10(int n) {
    uint128 p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

const std::string kNines38(38, '9');
const std::string kTen38 = "1" + std::string(38, '0');

std::string zeros(int n) {
    return std::string(static_cast<std::size_t>(n), '0');
}

// The result's text is the expected one, it reads back as the same value with
// the same hash, and its parts are within range.
void expectResult(const Decimal& d, const std::string& expected) {
    EXPECT_EQ(d.toStdString(), expected);
    const Decimal again = dec(expected);
    EXPECT_EQ(again.compare(d), 0);
    EXPECT_EQ(again.hash(), d.hash());
    if (!d.isNaN()) {
        EXPECT_LT(d.coefficient(), pow10(Decimal::kMaxDigits));
        EXPECT_GE(d.exponent(), Decimal::kMinExponent);
        EXPECT_LE(d.exponent(), Decimal::kMaxExponent);
    }
}

// --- Differential: Python's decimal module as the oracle --------------------

TEST(DecimalVectors, ParseMatchesPython) {
    for (const auto& v : kParseVectors) {
        SCOPED_TRACE(v.text);
        const Decimal d = dec(v.text);
        EXPECT_EQ(d.toStdString(), v.canonical);
        EXPECT_EQ(d.toInt64(), v.toInt64);
        if (std::strcmp(v.toDouble, "nan") == 0) {
            EXPECT_TRUE(std::isnan(d.toDouble()));
        } else {
            double expected = 0;
            std::from_chars(v.toDouble, v.toDouble + std::strlen(v.toDouble), expected);
            EXPECT_EQ(d.toDouble(), expected);
        }
        EXPECT_EQ(d.isInteger(), v.isInteger);
        expectSignOf(d, v.canonical);
        // The UTF-16 reader is the same parser (ASCII inputs only: a
        // byte-wise widening of UTF-8 would not be the same text).
        if (std::string_view(v.text).find_first_of("\x80\xff") == std::string_view::npos) {
            EXPECT_EQ(Decimal::fromString(widen(v.text)).toStdString(), v.canonical);
        }
        // The text form reads back as the same value.
        const Decimal again = dec(d.toStdString());
        EXPECT_EQ(again.compare(d), 0);
        EXPECT_EQ(again.hash(), d.hash());
    }
}

TEST(DecimalVectors, FromPartsMatchesPython) {
    for (const auto& v : kPartsVectors) {
        const uint128 coefficient = (static_cast<uint128>(v.high) << 64) | v.low;
        const Decimal d = Decimal::fromParts(v.negative, coefficient, v.exponent);
        SCOPED_TRACE(std::to_string(v.high) + " " + std::to_string(v.low) + "e" +
                     std::to_string(v.exponent));
        EXPECT_EQ(d.toStdString(), v.canonical);
        expectSignOf(d, v.canonical);
        if (!d.isNaN()) {
            EXPECT_LT(d.coefficient(), pow10(38));
            EXPECT_GE(d.exponent(), Decimal::kMinExponent);
            EXPECT_LE(d.exponent(), Decimal::kMaxExponent);
        }
    }
}

TEST(DecimalVectors, CompareMatchesPython) {
    for (const auto& v : kCompareVectors) {
        const Decimal a = dec(kParseVectors[v.a].text), b = dec(kParseVectors[v.b].text);
        SCOPED_TRACE(std::string(kParseVectors[v.a].text) + " vs " + kParseVectors[v.b].text);
        EXPECT_EQ(a.compare(b), v.result);
        EXPECT_EQ(b.compare(a), -v.result);
        EXPECT_EQ(a == b, v.result == 0);
        EXPECT_EQ(a < b, v.result < 0);
        if (v.result == 0) {
            EXPECT_EQ(a.hash(), b.hash());
        }
    }
}

// --- Parsing -----------------------------------------------------------------

TEST(DecimalParse, ScanReadsTheLongestNumberAndReportsItsLength) {
    const std::tuple<const char*, std::size_t, const char*> cases[] = {
        {"12abc", 2, "12"},  {"1e5x", 3, "100000"},
        {"1e", 1, "1"},      {"1e+", 1, "1"},
        {"1E-x", 1, "1"},    {"-.5e-1z", 6, "-0.05"},
        {"5.e2", 4, "500"},  {"1.2.3", 3, "1.2"},
        {"+0007,5", 5, "7"}, {".e1", 0, "NaN"},
        {"+", 0, "NaN"},     {"-.", 0, "NaN"},
        {" 1", 0, "NaN"},    {"", 0, "NaN"},
        {"e5", 0, "NaN"},    {"1e99999999999999999999999", 25, "NaN"}};
    for (const auto& [text, length, value] : cases) {
        SCOPED_TRACE(text);
        std::size_t consumed = 99;
        EXPECT_EQ(Decimal::scan(std::string_view(text), consumed).toStdString(), value);
        EXPECT_EQ(consumed, length);
        consumed = 99;
        const std::u16string wide = widen(text);
        EXPECT_EQ(Decimal::scan(qn::StringView(wide), consumed).toStdString(), value);
        EXPECT_EQ(consumed, length);
    }

    // Full-width digits, a non-ASCII space, and a unit that truncates to '1'.
    for (const char16_t* text : {u"\uFF11", u"\u00A01", u"\u0131"})
        EXPECT_TRUE(Decimal::fromString(qn::StringView(text)).isNaN());
    std::size_t consumed = 0;
    EXPECT_EQ(Decimal::scan(qn::StringView(u"2\u0130"), consumed).toStdString(), "2");
    EXPECT_EQ(consumed, 1u);
}

TEST(DecimalParse, HugeExponentsAndLongTextsStayExactAndRoundOnce) {
    const std::pair<std::string, std::string> cases[] = {
        {"1e99999999999999999999999999", "NaN"},
        {"1e-99999999999999999999999999", "0"},
        {"0e99999999999999999999999999", "0"},
        // Fraction digits and exponent cancel out exactly.
        {"0." + std::string(300, '0') + "1e301", "1"},
        {std::string(300, '1') + "e-300", "0." + std::string(38, '1')},
        {std::string(100000, '7'), "NaN"},
        {"0." + std::string(100000, '0') + "9", "0"},
        {std::string(100000, '0') + "42", "42"},
        // 0.4999...(40 nines) x 10^-128: rounding to 38 digits first would
        // give 0.5 and then 1 x 10^-128; one rounding to the last place gives 0.
        {"4" + std::string(40, '9') + "e-169", "0"},
        {"5" + std::string(40, '0') + "e-169", "0." + std::string(127, '0') + "1"}};
    for (const auto& [text, canonical] : cases)
        EXPECT_EQ(dec(text).toStdString(), canonical) << text.substr(0, 40);
}

// --- Conversions ---------------------------------------------------------------

TEST(DecimalConvert, FromDoubleUsesTheShortestTextAndRoundTrips) {
    const std::pair<double, const char*> cases[] = {{0.1, "0.1"},
                                                    {-2.5, "-2.5"},
                                                    {1e20, "100000000000000000000"},
                                                    {123456789012345678.0, "123456789012345680"},
                                                    {1.5e-7, "0.00000015"},
                                                    {-0.0, "0"},
                                                    {5e-324, "0"},
                                                    {1e300, "NaN"},
                                                    {kInf, "NaN"},
                                                    {-kNaN, "NaN"}};
    for (const auto& [d, text] : cases)
        EXPECT_EQ(Decimal::fromDouble(d).toStdString(), text) << d;
    // Random doubles in range come back unchanged: exercises both the exact
    // fast path and the correctly rounded text path of toDouble.
    std::mt19937_64 random(12345);
    for (int checked = 0; checked < 20000;) {
        const std::uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d) || std::fabs(d) < 1e-110 || std::fabs(d) > 1e160) continue;
        ++checked;
        ASSERT_EQ(Decimal::fromDouble(d).toDouble(), d) << d;
    }
}

TEST(DecimalConvert, ToInt64TruncatesAndSaturatesAndTextNeverExceedsTheBuffer) {
    const std::pair<const char*, std::int64_t> cases[] = {
        {"9223372036854775807", kMax},
        {"9223372036854775808", kMax},
        {"-9223372036854775808", kMin},
        {"-9223372036854775809", kMin},
        {"-9223372036854775807.9", -9223372036854775807},
        {"922337203685477580.7e1", kMax},
        {"1e18", 1000000000000000000},
        {"1e19", kMax},
        {"-1e127", kMin},
        {"-0.9", 0}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(dec(text).toInt64(), expected) << text;
    EXPECT_EQ(Decimal(kMin).toStdString(), "-9223372036854775808");
    EXPECT_EQ(Decimal(kMin).toInt64(), kMin);

    for (const Decimal& d :
         {Decimal::fromParts(true, pow10(38) - 1, 127), Decimal::fromParts(true, 1, -128),
          Decimal::fromParts(true, pow10(37) + 1, -128)}) {
        char buffer[Decimal::kMaxTextLength];
        const std::size_t n = d.toChars(buffer);
        EXPECT_LT(n, Decimal::kMaxTextLength);
        EXPECT_EQ(buffer[n], '\0');
        EXPECT_EQ(dec(std::string_view(buffer, n)).compare(d), 0);
    }
}

// --- Ordering and hashing -----------------------------------------------------------

TEST(DecimalOrder, ComparesAcrossTheRangeAndEqualValuesHashAlike) {
    EXPECT_LT(Decimal::notANumber(), dec("-1e127"));
    EXPECT_GT(dec("1e127"), dec("1e-128"));
    EXPECT_LT(dec("-1e127"), dec("-1e-128"));
    // Same leading digit position, exponents 37 apart.
    const uint128 big = pow10(37);
    EXPECT_EQ(Decimal::fromParts(false, 1, 37), Decimal::fromParts(false, big, 0));
    EXPECT_LT(Decimal::fromParts(false, 1, 37), Decimal::fromParts(false, big + 1, 0));
    EXPECT_GT(Decimal::fromParts(false, 2, 37), Decimal::fromParts(false, big * 2 - 1, 0));

    for (const Decimal& d : {dec("1.0"), dec("1.000000"), Decimal::fromParts(false, 10, -1),
                             Decimal(1), Decimal::fromParts(false, 1, 0)}) {
        EXPECT_EQ(d, dec("1"));
        EXPECT_EQ(d.hash(), dec("1").hash());
    }
    EXPECT_NE(dec("1").hash(), dec("-1").hash());
    EXPECT_NE(dec("1").hash(), dec("10").hash());
}

// --- Arithmetic -------------------------------------------------------------

TEST(DecimalArithVectors, AddSubtractMultiplyDivideCompareMatchPython) {
    for (const auto& v : kBinaryVectors) {
        SCOPED_TRACE(std::string(v.a) + " , " + v.b);
        const Decimal a = dec(v.a), b = dec(v.b);
        expectResult(a + b, v.sum);
        expectResult(a - b, v.difference);
        expectResult(a * b, v.product);
        expectResult(a / b, v.quotient);
        EXPECT_EQ(a.compare(b), v.compare);
        // The operand order must not matter where it should not.
        EXPECT_EQ((b + a).toStdString(), v.sum);
        EXPECT_EQ((b * a).toStdString(), v.product);
        EXPECT_EQ((-(b - a)).toStdString(), v.difference);
    }
}

TEST(DecimalArithVectors, RoundedAndPowerMatchPython) {
    for (const auto& v : kRoundVectors) {
        SCOPED_TRACE(std::string(v.a) + " to " + std::to_string(v.decimals));
        const Decimal a = dec(v.a);
        expectResult(a.rounded(v.decimals), v.halfAway);
        expectResult(a.rounded(v.decimals, DecimalRounding::kHalfEven), v.halfEven);
        expectResult(a.rounded(v.decimals, DecimalRounding::kTowardZero), v.towardZero);
        EXPECT_TRUE(v.decimals != 0 || a.integralPart().toStdString() == v.towardZero);
    }
    for (const auto& v : kPowerVectors) {
        SCOPED_TRACE(std::string(v.base) + " ^ " + std::to_string(v.exponent));
        expectResult(Decimal::power(dec(v.base), v.exponent), v.result);
    }
}

// --- Edge cases the vectors do not reach well ---------------------------------------

Decimal apply(char op, const Decimal& a, const Decimal& b) {
    if (op == '+') return a + b;
    if (op == '-') return a - b;
    if (op == '*') return a * b;
    if (op == '^') return Decimal::power(a, std::stoull(b.toStdString()));
    return a / b;
}

TEST(DecimalArith, CarriesRangeLimitsAndPowersRoundOnce) {
    const std::string nines37(37, '9'), third = "0." + std::string(38, '3');
    const std::string tiny = "0." + zeros(127) + "1";  // 10^-128
    const std::string u64max = std::to_string(UINT64_MAX);
    const std::tuple<std::string, char, std::string, std::string> cases[] = {
        // A carry that adds a digit; 39 significant digits round, 38 do not.
        {kNines38, '+', "1", kTen38},
        {kNines38, '+', "0.5", kTen38},
        {kNines38, '+', "0.49", kNines38},
        {"-" + kNines38, '-', "0.5", "-" + kTen38},
        {"1" + zeros(37), '+', "0.5", "1" + zeros(36) + "1"},
        {"1" + zeros(36), '+', "0.5", "1" + zeros(36) + ".5"},
        // Exponents far apart: the small operand only decides the rounding.
        {"1e100", '-', "4.9e61", "1" + zeros(100)},
        {"1e100", '-', "5.1e61", kNines38 + zeros(62)},
        {"-1", '+', "1e-128", "-1"},
        // Full 256-bit products and two-limb divisors; ties go away from zero.
        {kNines38, '*', kNines38, nines37 + "8" + zeros(38)},
        {"23456789012345678901234567890123456789", '/', "-2",
         "-11728394506172839450617283945061728395"},
        {"24691357802469135780246913578024691358", '/', "12345678901234567890123456789012345679",
         "2"},
        {"1", '/', "1" + zeros(36) + "1", "0." + zeros(37) + nines37},
        {"1", '/', "3", third},
        {third, '*', "3", "0." + kNines38},
        // Exponent limits: too large is NaN, too small loses digits to zero.
        {"1e-64", '*', "1e-64", tiny},
        {"-5e-65", '*', "1e-64", "-" + tiny},
        {"4.9e-65", '*', "1e-64", "0"},
        {"1e100", '*', "1e65", "NaN"},
        {kNines38 + "e127", '*', "1.0000000000000000000000000000000000001", "NaN"},
        {kNines38 + "e127", '+', "0.5e127", "NaN"},
        {kNines38 + "e127", '+', "0.4e127", kNines38 + zeros(127)},
        {"1e-128", '/', "2", tiny},
        {"1", '/', "1e-128", "1" + zeros(128)},
        {"1e127", '/', "1e-128", "NaN"},
        // Powers: squaring stays exact until the end, then limits apply.
        {"0", '^', "0", "1"},
        {"-1", '^', u64max, "-1"},
        {"1.0", '^', u64max, "1"},
        {"2", '^', u64max, "NaN"},
        {"10", '^', "164", "1" + zeros(164)},
        {"10", '^', "165", "NaN"},
        {"0.1", '^', "128", tiny},
        {"0.1", '^', "129", "0"},
        {"2", '^', "127", "170141183460469231731687303715884105730"}};
    for (const auto& [a, op, b, expected] : cases) {
        SCOPED_TRACE(a + " " + op + " " + b);
        expectResult(apply(op, dec(a), dec(b)), expected);
    }
    EXPECT_NE(Decimal(1) / Decimal(3) * Decimal(3), Decimal(1));
}

TEST(DecimalArith, ZeroResultsAreNeverNegative) {
    const Decimal results[] = {dec("-1") + dec("1"),
                               dec("-0.5") * Decimal(),
                               Decimal() / dec("-3"),
                               dec("-1e-128") * dec("1e-128"),
                               dec("-1e-128") / dec("1e127"),
                               dec("-0.4").rounded(0),
                               dec("-0.5").rounded(0, DecimalRounding::kHalfEven),
                               dec("-0.9").integralPart(),
                               -Decimal(),
                               dec("-0").abs(),
                               Decimal::power(dec("-0.1"), 129)};
    for (const Decimal& z : results) {
        EXPECT_EQ(z.toStdString(), "0");
        EXPECT_TRUE(z.isZero() && !z.isNegative() && z.sign() == 0);
        EXPECT_EQ(z.hash(), Decimal().hash());
    }
}

TEST(DecimalArith, NaNInGivesNaNOutAndZeroDivisorGivesNaN) {
    const Decimal nan = Decimal::notANumber();
    for (const Decimal& x : {Decimal(), Decimal(1), dec("-1e127"), nan}) {
        for (const char op : {'+', '-', '*', '/'})
            EXPECT_TRUE(apply(op, nan, x).isNaN() && apply(op, x, nan).isNaN());
        EXPECT_TRUE((x / Decimal()).isNaN() && (x / dec("-0.000")).isNaN());
    }
    EXPECT_TRUE((-nan).isNaN() && nan.abs().isNaN() && nan.rounded(2).isNaN());
    EXPECT_TRUE(nan.integralPart().isNaN() && Decimal::power(nan, 0).isNaN());
}

TEST(DecimalArith, RoundedTiesFollowTheMode) {
    // {value, decimals, half away from zero, half even, toward zero}
    const std::tuple<std::string, int, std::string, std::string, std::string> cases[] = {
        {"2.5", 0, "3", "2", "2"},
        {"-2.5", 0, "-3", "-2", "-2"},
        {"3.5", 0, "4", "4", "3"},
        {"2.45", 1, "2.5", "2.4", "2.4"},
        {"2.4500000000000000000000000000000000001", 1, "2.5", "2.5", "2.4"},
        {"1250", -2, "1300", "1200", "1200"},
        {"5e-128", 127, "0." + zeros(126) + "1", "0", "0"},
        {"55555", -5, "100000", "100000", "0"},
        {"12.5", INT_MAX, "12.5", "12.5", "12.5"},
        {"12.5", INT_MIN, "0", "0", "0"},
        // Rounding up past 10^38 at the largest exponent.
        {kNines38 + "e90", -91, "1" + zeros(128), "1" + zeros(128),
         std::string(37, '9') + zeros(91)},
        {kNines38 + "e127", -128, "NaN", "NaN", std::string(37, '9') + zeros(128)}};
    for (const auto& [text, decimals, away, even, toward] : cases) {
        SCOPED_TRACE(text + " to " + std::to_string(decimals));
        const Decimal d = dec(text);
        expectResult(d.rounded(decimals), away);
        expectResult(d.rounded(decimals, DecimalRounding::kHalfEven), even);
        expectResult(d.rounded(decimals, DecimalRounding::kTowardZero), toward);
    }
    EXPECT_EQ(dec("1.50").rounded(2).exponent(), -2) << "fitting values keep their stored form";
}

}  // namespace
