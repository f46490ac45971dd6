#include <qn/host.h>
#include <qn/runtime.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/test_support.h"

namespace qn {
namespace {

Decimal dec(const char* text) {
    return Decimal::fromString(std::string_view(text));
}
std::string text(const Decimal& d) {
    return d.toStdString();
}

// --- Number to text ----------------------------------------------------------

TEST(NumberToText, StrPicture) {
    struct Case {
        Value number;
        std::int64_t length, decimals;
        const char16_t* expected;
    };
    const Case cases[] = {
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
        {Value(5), -(std::int64_t{1} << 32) + 2, 0, u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qnStringFromNumberTotalLengthDecimals(c.number, c.length, c.decimals), c.expected)
            << toUtf8(c.number.description()) << " (" << c.length << ", " << c.decimals << ")";
    }
}

TEST(NumberToText, DefaultsSeparatorsAndTrimming) {
    EXPECT_EQ(qnStringFromNumber(Value(dec("2.5"))), u"         3");
    EXPECT_EQ(qnStringFromNumberTotalLength(Value(2.5), 3), u"  3");
    EXPECT_EQ(QNutil::str(std::int64_t{7}, 4, 1), u" 7.0");
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
        EXPECT_EQ(QNutil::notNumeric(digits), !numeric) << toUtf8(digits);
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
    const Case cases[] = {
        {u" 12abc", u".", "12", "0"},
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
        {u"7", u"", nullptr, "7"},
    };
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
