#include <qn/core/decimal.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <tuple>

namespace {

using qn::Decimal;
using qn::DecimalRounding;
using qn::uint128;

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

Decimal dec(std::string_view text) {
    return Decimal::fromString(text);
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
        uint128 limit = 1;
        for (int i = 0; i < Decimal::kMaxDigits; ++i)
            limit *= 10;
        EXPECT_LT(d.coefficient(), limit);
        EXPECT_GE(d.exponent(), Decimal::kMinExponent);
        EXPECT_LE(d.exponent(), Decimal::kMaxExponent);
    }
}

// --- Differential: Python's decimal module as the oracle -------------------------

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
        {"2", '^', "127", "170141183460469231731687303715884105730"},
    };
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
        {kNines38 + "e127", -128, "NaN", "NaN", std::string(37, '9') + zeros(128)},
    };
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
