#include <qn/core/decimal.h>

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

using qn::Decimal;
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
    std::uint64_t high;
    std::uint64_t low;
    int exponent;
    const char* canonical;
};
struct CompareVector {
    int a;
    int b;
    int result;
};

#include "decimal_vectors.inc"

double parseDouble(const char* text) {
    if (std::strcmp(text, "nan") == 0) return std::numeric_limits<double>::quiet_NaN();
    double d = 0;
    std::from_chars(text, text + std::strlen(text), d);
    return d;
}

std::u16string widen(std::string_view s) {
    return std::u16string(s.begin(), s.end());
}

Decimal dec(std::string_view text) {
    return Decimal::fromString(text);
}

uint128 pow10(int n) {
    uint128 p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

// --- Differential: Python's decimal module as the oracle --------------------

TEST(DecimalVectors, ParseMatchesPython) {
    for (const auto& v : kParseVectors) {
        SCOPED_TRACE(v.text);
        const Decimal d = dec(v.text);
        EXPECT_EQ(d.toStdString(), v.canonical);
        EXPECT_EQ(d.toInt64(), v.toInt64);
        const double expected = parseDouble(v.toDouble);
        if (std::isnan(expected)) {
            EXPECT_TRUE(std::isnan(d.toDouble()));
        } else {
            EXPECT_EQ(d.toDouble(), expected);
        }
        EXPECT_EQ(d.isInteger(), v.isInteger);

        // The UTF-16 reader is the same parser (ASCII inputs only: a
        // byte-wise widening of UTF-8 would not be the same text).
        const bool ascii =
            std::string_view(v.text).find_first_of("\x80\xff") == std::string_view::npos;
        if (ascii) {
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
        EXPECT_EQ(d.toStdString(), v.canonical) << v.high << " " << v.low << "e" << v.exponent;
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

TEST(DecimalParse, KeepsTheWrittenScale) {
    const Decimal d = dec("1.50");
    EXPECT_EQ(d.coefficient(), 150u);
    EXPECT_EQ(d.exponent(), -2);
    EXPECT_EQ(d.toStdString(), "1.5");
}

TEST(DecimalParse, ScanReadsTheLongestNumberAndReportsItsLength) {
    struct Case {
        const char* text;
        std::size_t consumed;
        const char* value;
    };
    const Case cases[] = {
        {"12abc", 2, "12"},  {"1e5x", 3, "100000"},
        {"1e", 1, "1"},      {"1e+", 1, "1"},
        {"1E-x", 1, "1"},    {"-.5e-1z", 6, "-0.05"},
        {"5.e2", 4, "500"},  {"1.2.3", 3, "1.2"},
        {"+0007,5", 5, "7"}, {".e1", 0, "NaN"},
        {"+", 0, "NaN"},     {"-.", 0, "NaN"},
        {" 1", 0, "NaN"},    {"", 0, "NaN"},
        {"e5", 0, "NaN"},    {"1e99999999999999999999999", 25, "NaN"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::size_t consumed = 99;
        EXPECT_EQ(Decimal::scan(std::string_view(c.text), consumed).toStdString(), c.value);
        EXPECT_EQ(consumed, c.consumed);
        consumed = 99;
        const std::u16string wide = widen(c.text);
        EXPECT_EQ(Decimal::scan(qn::StringView(wide), consumed).toStdString(), c.value);
        EXPECT_EQ(consumed, c.consumed);
    }
}

TEST(DecimalParse, Utf16ReaderRejectsNonAsciiLookalikes) {
    // Full-width digits and a non-ASCII space are not part of the grammar.
    EXPECT_TRUE(Decimal::fromString(qn::StringView(u"\uFF11")).isNaN());
    EXPECT_TRUE(Decimal::fromString(qn::StringView(u"\u00A01")).isNaN());
    // A char16_t that truncates to '1' must not be read as one.
    EXPECT_TRUE(Decimal::fromString(qn::StringView(u"\u0131")).isNaN());
    std::size_t consumed = 0;
    EXPECT_EQ(Decimal::scan(qn::StringView(u"2\u0130"), consumed).toStdString(), "2");
    EXPECT_EQ(consumed, 1u);
}

TEST(DecimalParse, HugeExponentsAndLongTextsStayExact) {
    EXPECT_TRUE(dec("1e99999999999999999999999999").isNaN());
    EXPECT_TRUE(dec("1e-99999999999999999999999999").isZero());
    EXPECT_TRUE(dec("0e99999999999999999999999999").isZero());
    // Fraction digits and exponent cancel out exactly.
    EXPECT_EQ(dec("0." + std::string(300, '0') + "1e301").toStdString(), "1");
    EXPECT_EQ(dec(std::string(300, '1') + "e-300").toStdString(), "0." + std::string(38, '1'));
    EXPECT_TRUE(dec(std::string(100000, '7')).isNaN());
    EXPECT_TRUE(dec("0." + std::string(100000, '0') + "9").isZero());
    EXPECT_EQ(dec(std::string(100000, '0') + "42").toStdString(), "42");
}

TEST(DecimalParse, RoundsOnceWhenDigitsAndRangeBothCut) {
    // 0.4999...(40 nines) x 10^-128: rounding to 38 digits first would give
    // 0.5 and then 1 x 10^-128; one rounding to the last place gives 0.
    EXPECT_TRUE(dec("4" + std::string(40, '9') + "e-169").isZero());
    EXPECT_EQ(dec("5" + std::string(40, '0') + "e-169").toStdString(),
              "0." + std::string(127, '0') + "1");
}

// --- Conversions ---------------------------------------------------------------

TEST(DecimalConvert, FromDoubleUsesTheShortestText) {
    EXPECT_EQ(Decimal::fromDouble(0.1).toStdString(), "0.1");
    EXPECT_EQ(Decimal::fromDouble(-2.5).toStdString(), "-2.5");
    EXPECT_EQ(Decimal::fromDouble(1e20).toStdString(), "100000000000000000000");
    EXPECT_EQ(Decimal::fromDouble(123456789012345678.0).toStdString(), "123456789012345680");
    EXPECT_EQ(Decimal::fromDouble(1.5e-7).toStdString(), "0.00000015");
    EXPECT_TRUE(Decimal::fromDouble(-0.0).isZero());
    EXPECT_TRUE(Decimal::fromDouble(1e300).isNaN());
    EXPECT_TRUE(Decimal::fromDouble(5e-324).isZero());
    EXPECT_TRUE(Decimal::fromDouble(std::numeric_limits<double>::infinity()).isNaN());
    EXPECT_TRUE(Decimal::fromDouble(std::numeric_limits<double>::quiet_NaN()).isNaN());
}

TEST(DecimalConvert, DoublesInRangeRoundTrip) {
    // fromDouble then toDouble must give back the same double: exercises both
    // the exact fast path and the correctly rounded text path of toDouble.
    std::mt19937_64 random(12345);
    int checked = 0;
    while (checked < 20000) {
        const std::uint64_t bits = random();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d) || std::fabs(d) < 1e-110 || std::fabs(d) > 1e160) continue;
        ++checked;
        ASSERT_EQ(Decimal::fromDouble(d).toDouble(), d) << d;
    }
}

TEST(DecimalConvert, ToInt64TruncatesAndSaturates) {
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(dec("9223372036854775807").toInt64(), kMax);
    EXPECT_EQ(dec("9223372036854775808").toInt64(), kMax);
    EXPECT_EQ(dec("-9223372036854775808").toInt64(), kMin);
    EXPECT_EQ(dec("-9223372036854775809").toInt64(), kMin);
    EXPECT_EQ(dec("-9223372036854775807.9").toInt64(), -9223372036854775807);
    EXPECT_EQ(dec("922337203685477580.7e1").toInt64(), kMax);
    EXPECT_EQ(dec("1e18").toInt64(), 1000000000000000000);
    EXPECT_EQ(dec("1e19").toInt64(), kMax);
    EXPECT_EQ(dec("-1e127").toInt64(), kMin);
    EXPECT_EQ(dec("-0.9").toInt64(), 0);
    EXPECT_EQ(Decimal::notANumber().toInt64(), 0);
    EXPECT_EQ(Decimal(kMin).toStdString(), "-9223372036854775808");
    EXPECT_EQ(Decimal(kMin).toInt64(), kMin);
}

TEST(DecimalConvert, TextNeverExceedsTheBuffer) {
    const Decimal widest[] = {
        Decimal::fromParts(true, pow10(38) - 1, 127),
        Decimal::fromParts(true, 1, -128),
        Decimal::fromParts(true, pow10(37) + 1, -128),
    };
    for (const Decimal& d : widest) {
        char buffer[Decimal::kMaxTextLength];
        const std::size_t n = d.toChars(buffer);
        EXPECT_LT(n, Decimal::kMaxTextLength);
        EXPECT_EQ(buffer[n], '\0');
        EXPECT_EQ(dec(std::string_view(buffer, n)).compare(d), 0);
    }
    EXPECT_EQ(Decimal::notANumber().toStdString(), "NaN");
    EXPECT_EQ(Decimal().toString(), u"0");
    EXPECT_EQ(dec("-0.000").toStdString(), "0");
}

// --- Ordering and hashing --------------------------------------------------------

TEST(DecimalOrder, NotANumberIsEqualToItselfAndBelowEveryNumber) {
    const Decimal nan = Decimal::notANumber();
    EXPECT_EQ(nan, Decimal::notANumber());
    EXPECT_LT(nan, dec("-1e127"));
    EXPECT_GT(dec("-1e127"), nan);
    EXPECT_EQ(nan.sign(), 0);
    EXPECT_FALSE(nan.isNegative());
    EXPECT_FALSE(nan.isZero());
    EXPECT_FALSE(nan.isInteger());
    EXPECT_EQ(nan.hash(), Decimal::notANumber().hash());
}

TEST(DecimalOrder, ComparesAcrossTheWholeExponentRange) {
    EXPECT_GT(dec("1e127"), dec("1e-128"));
    EXPECT_LT(dec("-1e127"), dec("-1e-128"));
    EXPECT_GT(dec("1e-128"), dec("-1e127"));
    EXPECT_EQ(dec("-0"), dec("0.000"));
    // Same leading digit position, exponents 37 apart.
    const uint128 big = pow10(37);
    EXPECT_EQ(Decimal::fromParts(false, 1, 37), Decimal::fromParts(false, big, 0));
    EXPECT_LT(Decimal::fromParts(false, 1, 37), Decimal::fromParts(false, big + 1, 0));
    EXPECT_GT(Decimal::fromParts(false, 2, 37), Decimal::fromParts(false, big * 2 - 1, 0));
    EXPECT_EQ(Decimal::fromParts(false, 1, 164), dec("1e164"));
}

TEST(DecimalOrder, EqualValuesHashAlike) {
    const Decimal ones[] = {dec("1"),        dec("1.0"),
                            dec("1.000000"), Decimal::fromParts(false, 10, -1),
                            Decimal(1),      Decimal::fromParts(false, 1, 0)};
    for (const Decimal& d : ones) {
        EXPECT_EQ(d, ones[0]);
        EXPECT_EQ(d.hash(), ones[0].hash());
    }
    EXPECT_EQ(dec("1e164").hash(), Decimal::fromParts(false, 1, 164).hash());
    EXPECT_EQ(dec("0").hash(), dec("-0.00").hash());
    EXPECT_NE(dec("1").hash(), dec("-1").hash());
    EXPECT_NE(dec("1").hash(), dec("10").hash());
}

TEST(DecimalOrder, SignAndIntegerness) {
    EXPECT_EQ(dec("-0.001").sign(), -1);
    EXPECT_EQ(dec("0.001").sign(), 1);
    EXPECT_EQ(dec("-0").sign(), 0);
    EXPECT_TRUE(dec("-0.001").isNegative());
    EXPECT_TRUE(dec("12.000").isInteger());
    EXPECT_FALSE(dec("12.001").isInteger());
    EXPECT_TRUE(dec("1e127").isInteger());
    EXPECT_FALSE(dec("1e-128").isInteger());
}

}  // namespace
