#include <gtest/gtest.h>
#include <qn/host.h>
#include <qn/runtime.h>

#include "support/test_support.h"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qn {
namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

// A supplementary character: two code units.
const String kSmile = u"\U0001F600";

TEST(StringBlanksTest, BlanksAreTabAndTheUnicodeSpaceSeparators) {
    for (char16_t c : StringView(u" \t\u00A0\u1680\u2000\u200A\u202F\u205F\u3000"))
        EXPECT_TRUE(qnIsBlank(c)) << std::hex << static_cast<unsigned>(c);
    // Line breaks, other controls, zero-width and formerly-space characters
    // are content.
    for (char16_t c : StringView(u"\n\r\v\f\u001F\u0085\u180E\u200B\u2028\uFEFFa"))
        EXPECT_FALSE(qnIsBlank(c)) << std::hex << static_cast<unsigned>(c);

    EXPECT_EQ(qnLength(u"ab  "), 2);
    EXPECT_EQ(qnLength(u"  ab"), 4);
    EXPECT_EQ(qnLength(u"a\t\u00A0\u3000"), 1);
    EXPECT_EQ(qnLength(u"ab\n"), 3);
    EXPECT_FALSE(qnIsEmpty(u"  "));
    const String padded = u" \t\u2003a b\u202F ";
    EXPECT_EQ(qnStringByTrimming(padded), u"a b");
    EXPECT_EQ(QNutil::ltrim(padded), u"a b\u202F ");
    EXPECT_EQ(QNutil::rtrim(padded), u" \t\u2003a b");
    EXPECT_EQ(qnStringByTrimming(u"  "), u"");
    EXPECT_EQ(qnEmptyStringOfLength(3), u"   ");
    EXPECT_EQ(qnEmptyStringOfLength(-4), u"");
}

TEST(StringSubstringTest, PositionsAndLengthsClampOrGiveEmpty) {
    struct Case {
        std::int64_t from, length;
        const char16_t* expected;
    };
    const Case cases[] = {
        {3, -1, u"cdef"},  {5, 10, u"ef"},      {1, 7, u"abcdef"}, {6, 1, u"f"}, {0, 2, u""},
        {7, 1, u""},       {7, -1, u""},        {1, -2, u""},      {2, 0, u""},  {kMin, -1, u""},
        {kMax, kMax, u""}, {2, kMax, u"bcdef"}, {1, kMin, u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qnSubstringFromLength(u"abcdef", c.from, c.length), c.expected)
            << "from " << c.from << " length " << c.length;
    }
    EXPECT_EQ(qnSubstringFrom(u"abcdef", 3), u"cdef");
    EXPECT_EQ(qnCharAt(u"abcdef", 0), u"");
    // Code units: half of a surrogate pair is a unit like any other.
    EXPECT_EQ(qnCharAt(u"a" + kSmile, 2), String(1, kSmile[0]));
}

TEST(StringSearchTest, ForwardAndBackwardBounds) {
    struct Case {
        String text, pattern;
        std::int64_t start, expected;
    };
    const Case forward[] = {
        {u"abab", u"b", 3, 4},
        {u"abab", u"b", 0, 2},
        {u"abab", u"b", 9, 0},
        {u"abab", u"b", 4, 4},
        {u"abab", u"b", kMin, 2},
        {u"abab", u"b", kMax, 0},
        {u"abab", u"", 1, 0},
        {u"aaa", u"aa", 2, 2},
        // Positions count code units.
        {kSmile + u"b", u"b", 1, 3},
        {kSmile + u"b" + kSmile, kSmile, 2, 4},
    };
    for (const auto& c : forward) {
        EXPECT_EQ(qnSearchForStart(c.text, c.pattern, c.start), c.expected)
            << toUtf8(c.pattern) << " in " << toUtf8(c.text) << " from " << c.start;
    }
    const Case backward[] = {
        {u"abab", u"ab", -1, 3},
        {u"abab", u"ab", 4, 1},
        {u"abcabc", u"abc", 6, 1},
        {u"abcabc", u"abc", 7, 4},
        {u"abcabc", u"abc", 99, 4},
        {u"abcabc", u"abc", 0, 0},
        {u"abcabc", u"abc", -2, 0},
        {u"abcabc", u"abc", kMin, 0},
        {u"abab", u"", -1, 0},
        {u"aaa", u"aa", -1, 2},
        // A pair counts only when it lies wholly before `start`.
        {u"a" + kSmile, kSmile, 3, 0},
        {u"a" + kSmile, kSmile, 4, 2},
    };
    for (const auto& c : backward) {
        EXPECT_EQ(qnSearchBackwardForStart(c.text, c.pattern, c.start), c.expected)
            << toUtf8(c.pattern) << " in " << toUtf8(c.text) << " from " << c.start;
    }
    EXPECT_EQ(qnSearchFor(u"abab", u"ba"), 2);
    EXPECT_EQ(qnSearchBackwardFor(u"abab", u"ab"), 3);
}

TEST(StringSearchTest, ReplaceAndAffixes) {
    EXPECT_EQ(qnSearchAndReplaceWith(u"aaa", u"aa", u"b"), u"ba");
    EXPECT_EQ(qnSearchAndReplaceWith(u"a.b.c", u".", u"--"), u"a--b--c");
    EXPECT_EQ(qnSearchAndReplaceWith(u"abc", u"", u"y"), u"abc");
    EXPECT_EQ(qnSearchAndReplaceWith(u"abab", u"ab", u"abab"), u"abababab");

    EXPECT_TRUE(qnStartsWith(u"abc", u"") && qnEndsWith(u"abc", u"") && qnContains(u"", u""));
    EXPECT_TRUE(qnStartsWith(u"abc", u"ab") && !qnStartsWith(u"abc", u"bc"));
    EXPECT_TRUE(qnEndsWith(u"abc", u"bc") && !qnEndsWith(u"abc", u"abcd"));
    EXPECT_TRUE(qnContains(u"abc", u"b") && !qnContains(u"abc", u"B"));
    EXPECT_EQ(qnStartsWith2(u"abc", u"a"), Value(true));
    EXPECT_EQ(qnContains2(u"abc", u"x"), Value(false));
}

TEST(StringPaddingTest, PadsCutsAndOvershootsWithLongFills) {
    struct Case {
        const char16_t* text;
        std::int64_t length;
        std::optional<StringView> fill;
        const char16_t* left;
        const char16_t* right;
    };
    const Case cases[] = {
        {u"12345", 3, std::nullopt, u"345", u"123"},
        {u"7", 3, u"0", u"007", u"700"},
        {u"7", 0, u"0", u"", u""},
        {u"7", -1, u"0", u"", u""},
        {u"7", kMin, u"0", u"", u""},
        {u"ab", 4, u"xy", u"xyxyab", u"abxyxy"},
        {u"ab", 4, u"", u"  ab", u"ab  "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qnStringOfLengthByAppendingLeftOccurrencesOfString(c.text, c.length, c.fill),
                  c.left);
        EXPECT_EQ(qnStringOfLengthByAppendingRightOccurrencesOfString(c.text, c.length, c.fill),
                  c.right);
    }
    EXPECT_EQ(qnStringOfLengthByAppendingBlanksOnLeft(u"ab", 3), u" ab");
    // A size no string can have fails cleanly, without overflowing first.
    EXPECT_THROW(qnStringOfLengthByAppendingLeftOccurrencesOfString(u"a", kMax, u"xyz"),
                 std::length_error);
    EXPECT_THROW(qnEmptyStringOfLength(kMax), std::length_error);

    EXPECT_EQ(qnStringByConcatenatingWithStringSeparator(u"ab  ", u"  cd", u"-"), u"ab-  cd");
    EXPECT_EQ(qnStringByConcatenatingWithString(u" ab\t", u"cd "), u" abcd ");
}

TEST(StringCharacterCodeTest, AsciiAndUnicodeValues) {
    const std::pair<String, std::int64_t> ascii[] = {
        {u"", 0}, {u"A", 65}, {u"\u00E9", -23}, {u"\u0100", 0}, {u"\u0080", -128}, {kSmile, 0x3D},
    };
    for (const auto& [s, code] : ascii)
        EXPECT_EQ(qnAsciiValue(s), code) << toUtf8(s);
    EXPECT_EQ(qnFromAsciiValue(65 + 256), u"A");
    EXPECT_EQ(qnFromAsciiValue(-23), u"\u00E9");

    EXPECT_EQ(qnUnicodeValue(u""), 0);
    EXPECT_EQ(qnUnicodeValue(kSmile + u"x"), 0x1F600);
    EXPECT_EQ(qnUnicodeValue(String{kSmile[1], kSmile[0]}), kSmile[1]) << "lone surrogate";
    for (std::int64_t code : {0x41, 0xFFFD, 0x1F600, 0x10FFFF, 0}) {
        const String s = qnFromUnicodeValue(code);
        EXPECT_EQ(s.size(), code > 0xFFFF ? 2u : 1u);
        EXPECT_EQ(qnUnicodeValue(s), code);
    }
    EXPECT_EQ(qnFromUnicodeValue(kMin), u"");
}

TEST(StringCharacterCodeTest, InvalidScalarsGoToTheFatalErrorHook) {
    test::ScopedCapturingLogger log;
    {
        test::ScopedFatalErrorPolicy recover(QNUtilities::FatalErrorPolicy::Recover);
        for (std::int64_t code : {std::int64_t{0x110000}, std::int64_t{0xD800}, kMax})
            EXPECT_EQ(qnFromUnicodeValue(code), u"");
        EXPECT_TRUE(log->contains(u"Could not create Unicode scalar for Chr function: 1114112"));
        EXPECT_TRUE(log->contains(u"Could not create Unicode scalar for Chr function: 55296"));
    }
    try {
        qnFromUnicodeValue(0xDFFF);
        FAIL() << "the default policy raises";
    } catch (const FatalError& e) {
        EXPECT_EQ(e.reason(), u"Could not create Unicode scalar for Chr function: 57343");
    }
}

TEST(StringTransformTest, DiacriticsAndJSON) {
    const std::pair<String, String> stripped[] = {
        {u"Cr\u00E8me Br\u00FBl\u00E9e", u"Creme Brulee"},
        {u"e\u0301\u1EC7", u"ee"},                       // decomposed; two marks
        {u"\u00E6\u00F8\u00DF", u"\u00E6\u00F8\u00DF"},  // letters, not marks
        {u"\u304C\uAC00", u"\u304B\uAC00"},              // kana mark; Hangul recomposes
        {kSmile + u"\u00E9", kSmile + u"e"},
    };
    for (const auto& [in, out] : stripped)
        EXPECT_EQ(qnStringByRemovingDiacritics(in), out) << toUtf8(in);

    const std::pair<String, String> json[] = {
        {u"say \"hi\"\tnow", u"say \\\"hi\\\"\\tnow"},
        {u"a\nb\rc\bd\fe", u"a\\nb\\rc\\bd\\fe"},
        // Backslashes and the other controls too, so the text reads back.
        {u"C:\\new", u"C:\\\\new"},
        {String(1, u'\0') + u"\x1F\x7F", u"\\u0000\\u001f\x7F"},
        {u"\u2028" + kSmile, u"\u2028" + kSmile},
    };
    for (const auto& [in, out] : json)
        EXPECT_EQ(qnJSONEncode(in), out) << toUtf8(in);
}

TEST(StringFormatTest, PlaceholdersAndTextReadings) {
    EXPECT_EQ(QNutil::format(u"%1-%2-%3", Value(u"a"), Value(1), Value(u"")), u"a-1-");
    EXPECT_EQ(QNutil::format(u"%9%1", 1, 2, 3, 4, 5, 6, 7, 8, 9), u"91");
    EXPECT_EQ(qnStringWithFormatValues(u"%2 of %1, %3 %10", {Value(u"x"), Value(2.5)}),
              u"2.5 of x, #{3} #{10}");
    // The argument forms stop at the first Absent value.
    EXPECT_EQ(qnStringWithFormat(u"%1 %2 %3", {Value(u"a"), Value(), Value(u"c")}), u"a #{2} #{3}");
    EXPECT_EQ(qnStringWithFormatArguments(u"%1%2", {Value(true), Value::null(), Value()}),
              u"1<null>");

    EXPECT_TRUE(qnBoolValue(u"  -00Yes"));
    EXPECT_EQ(qnBooleanValue(u"0"), Value(false));
    EXPECT_EQ(qnIntValue(u"\t-42x"), -42);
    EXPECT_EQ(qnIntValue(u"99999999999999999999"), kMax);
}

TEST(QNutilStringTest, LeftAndRight) {
    struct Case {
        const char16_t* text;
        std::int64_t n;
        const char16_t* left;
        const char16_t* right;
    };
    const Case cases[] = {
        {u"abc", -1, u"abc", u"abc"}, {u"abc", 0, u"", u""}, {u"abc", 2, u"ab", u"bc"},
        {u"abc", 5, u"abc", u"abc"},  {u"", 2, u"", u""},    {u"abc", kMin, u"abc", u"abc"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QNutil::left(c.text, c.n), c.left) << c.n;
        EXPECT_EQ(QNutil::right(c.text, c.n), c.right) << c.n;
    }
}

TEST(QNutilStringTest, StrcmpOrdersDecomposedCodeUnits) {
    struct Case {
        String a, b;
        std::int64_t expected;
    };
    const Case cases[] = {
        {u"a", u"b", -1},
        {u"a", u"A", 1},  // case-sensitive
        {u"", u"a", -1},
        // Canonically equivalent spellings are equal.
        {u"\u00E9", u"e\u0301", 0},
        {u"s\u0307\u0323", u"\u1E69", 0},  // marks in either order
        {u"\u212B", u"\u00C5", 0},
        // Decomposed, "e" + mark sorts before "f" though U+00E9 > "f".
        {u"\u00E9", u"f", -1},
        // Code units, not code points: a high surrogate sorts below U+FF21.
        {kSmile, u"\uFF21", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QNutil::strcmp(c.a, c.b), c.expected) << toUtf8(c.a) << " vs " << toUtf8(c.b);
        EXPECT_EQ(QNutil::strcmp(c.b, c.a), -c.expected);
        EXPECT_EQ(QNutil::strcmp2(c.a, c.b), c.expected == 0);
    }
}

TEST(QNutilStringTest, ByteCountPerCharset) {
    const String text = u"h\u00E9llo" + kSmile;  // 1 + 2 + 3 + 4 UTF-8 bytes
    struct Case {
        String text;
        const char16_t* charset;
        std::int64_t expected;
    };
    const Case cases[] = {
        {text, u"UTF-8", 10},
        {text, u"UTF-16", 10},  // counted as UTF-8
        {text, u"no-such-charset", 10},
        {u"h\u00E9llo", u"ISO-8859-1", 5},
        {u"h\u00E9llo", u"UTF-16LE", 10},
        // Not convertible: user-perceived characters instead.
        {u"\u20ACx", u"ISO-8859-1", 2},
        {u"e\u0301" + kSmile + u"\U0001F1EB\U0001F1F7", u"latin1", 3},
        {u"", u"ISO-8859-1", 0},
        {String{kSmile[0]}, u"UTF-8", 3},  // a lone surrogate as U+FFFD
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QNutil::byteCount(c.text, c.charset), c.expected)
            << toUtf8(c.text) << " in " << toUtf8(c.charset);
    }
}

TEST(QNutilStringTest, UrlEncoding) {
    EXPECT_EQ(QNutil::urlEncode(u"http://example.com/a b?q=\u00E9"),
              u"http://example.com/a%20b?q=%C3%A9");
    EXPECT_EQ(QNutil::urlEncode(u"not a url/?"), u"not%20a%20url%2F%3F");
    EXPECT_EQ(QNutil::urlParameterEncode(u"a b&c=d/\u00E9~"), u"a%20b%26c%3Dd%2F%C3%A9~");
}

TEST(QNutilStringTest, CompareOrderedValues) {
    struct Case {
        Value a;
        const char16_t* op;
        Value b;
        bool expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {Value(1), u"<", Value(2), true},
        {Value(2), u"<=", Value(2.0), true},
        {Value(3), u"=", Value(Decimal::fromString("3.00")), true},
        {Value(0.1), u"=", Value(Decimal::fromString("0.1")), true},
        {Value(kMax), u">", Value(kMax - 1), true},  // not through doubles
        {Value(kMax), u"<", Value(1e300), true},     // beyond the decimal range
        {Value(nan), u"=", Value(nan), false},
        {Value(nan), u"<>", Value(1), true},
        {Value(u"\u00E9"), u"=", Value(u"e\u0301"), true},
        {Value(u"b"), u">", Value(u"B"), true},
        {Value(DateTime(100.0)), u"<", Value(DateTime(200.0)), true},
        {Value(u"Riverside"), u"like", Value(u"River%"), true},
        {Value(1), u"like", Value(u"1"), false},
        // No common ordering: only equality answers.
        {Value(u"1"), u"<>", Value(1), true},
        {Value(u"1"), u"<", Value(2), false},
        {Value::null(), u"=", Value::null(), true},
        // Unknown operators.
        {Value(1), u"==", Value(1), false},
        {Value(u"a"), u"LIKE", Value(u"a"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QNutil::compare(c.a, c.op, c.b), c.expected)
            << toUtf8(c.a.description()) << " " << toUtf8(c.op) << " " << toUtf8(c.b.description());
    }
}

TEST(StringsConcurrentTest, IcuBackedBuiltInsFromSeveralThreads) {
    // The transliterator, break iterator and normaliser are shared or cloned
    // per thread; each thread must get right answers on its own.
    std::vector<std::thread> threads;
    std::vector<int> wrong(6, 0);
    for (std::size_t t = 0; t < wrong.size(); ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 200; ++i) {
                wrong[t] += qnStringByRemovingDiacritics(u"Cr\u00E8me") != u"Creme";
                wrong[t] += QNutil::byteCount(u"\u20ACx", u"ISO-8859-1") != 2;
                wrong[t] += QNutil::strcmp(u"\u00E9", u"e\u0301") != 0;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(wrong.size(), 0));
}

}  // namespace
}  // namespace qn
