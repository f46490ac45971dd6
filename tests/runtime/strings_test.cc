#include <gtest/gtest.h>
#include <qn/host.h>
#include <qn/runtime.h>

#include "support/test_support.h"

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
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
    // Near misses: line breaks, other controls, zero-width and formerly-space
    // characters, and the neighbours of each range, are content.
    for (char16_t c : StringView(u"\n\r\v\f\u001F\u0085\u180E\u1FFF\u200B\u2028\u3001\uFEFFa"))
        EXPECT_FALSE(qnIsBlank(c)) << std::hex << static_cast<unsigned>(c);

    EXPECT_EQ(qnLength(u"ab  "), 2);
    EXPECT_EQ(qnLength(u"  ab"), 4);
    EXPECT_EQ(qnLength(u"a\t\u00A0\u3000"), 1);
    EXPECT_EQ(qnLength(u"ab\n"), 3);
    const String padded = u" \t\u2003a b\u202F ";
    EXPECT_EQ(qnStringByTrimming(padded), u"a b");
    EXPECT_EQ(QNutil::ltrim(padded), u"a b\u202F ");
    EXPECT_EQ(QNutil::rtrim(padded), u" \t\u2003a b");
    EXPECT_EQ(qnStringByTrimming(u"  "), u"");
}

TEST(StringSubstringTest, PositionsAndLengthsClampOrGiveEmpty) {
    const std::tuple<std::int64_t, std::int64_t, const char16_t*> cases[] = {
        {3, -1, u"cdef"},  {5, 10, u"ef"},      {1, 7, u"abcdef"}, {6, 1, u"f"}, {0, 2, u""},
        {7, 1, u""},       {7, -1, u""},        {1, -2, u""},      {2, 0, u""},  {kMin, -1, u""},
        {kMax, kMax, u""}, {2, kMax, u"bcdef"}, {1, kMin, u""},
    };
    for (const auto& [from, length, expected] : cases)
        EXPECT_EQ(qnSubstringFromLength(u"abcdef", from, length), expected)
            << from << " " << length;
    // Code units: half of a surrogate pair is a unit like any other.
    EXPECT_EQ(qnSubstringFromLength(u"a" + kSmile, 2, 1), String(1, kSmile[0]));

    // Left and right: a negative or too large count gives the whole text.
    const std::tuple<std::int64_t, const char16_t*, const char16_t*> counts[] = {
        {-1, u"abc", u"abc"}, {0, u"", u""},          {2, u"ab", u"bc"},
        {5, u"abc", u"abc"},  {kMin, u"abc", u"abc"},
    };
    for (const auto& [n, left, right] : counts) {
        EXPECT_EQ(QNutil::left(u"abc", n), left) << n;
        EXPECT_EQ(QNutil::right(u"abc", n), right) << n;
    }
    EXPECT_EQ(QNutil::right(u"", 2), u"");
}

TEST(StringSearchTest, ForwardAndBackwardBounds) {
    using Case = std::tuple<String, String, std::int64_t, std::int64_t>;
    // Positions count code units; a backward match counts only when it lies
    // wholly before `start`, so a pair straddling it is not found.
    const Case forward[] = {{u"abab", u"b", 3, 4},       {u"abab", u"b", 0, 2},
                            {u"abab", u"b", 9, 0},       {u"abab", u"b", 4, 4},
                            {u"abab", u"b", kMin, 2},    {u"abab", u"b", kMax, 0},
                            {u"abab", u"", 1, 0},        {u"aaa", u"aa", 2, 2},
                            {kSmile + u"b", u"b", 1, 3}, {kSmile + u"b" + kSmile, kSmile, 2, 4}};
    for (const auto& [text, pattern, start, expected] : forward)
        EXPECT_EQ(qnSearchForStart(text, pattern, start), expected) << toUtf8(text) << start;
    const Case backward[] = {
        {u"abab", u"ab", -1, 3},    {u"abab", u"ab", 4, 1},        {u"abcabc", u"abc", 6, 1},
        {u"abcabc", u"abc", 7, 4},  {u"abcabc", u"abc", 99, 4},    {u"abcabc", u"abc", 0, 0},
        {u"abcabc", u"abc", -2, 0}, {u"abcabc", u"abc", kMin, 0},  {u"abab", u"", -1, 0},
        {u"aaa", u"aa", -1, 2},     {u"a" + kSmile, kSmile, 3, 0}, {u"a" + kSmile, kSmile, 4, 2}};
    for (const auto& [text, pattern, start, expected] : backward)
        EXPECT_EQ(qnSearchBackwardForStart(text, pattern, start), expected)
            << toUtf8(text) << start;
}

TEST(StringSearchTest, ReplaceAndAffixes) {
    EXPECT_EQ(qnSearchAndReplaceWith(u"aaa", u"aa", u"b"), u"ba");
    EXPECT_EQ(qnSearchAndReplaceWith(u"abc", u"", u"y"), u"abc");
    EXPECT_EQ(qnSearchAndReplaceWith(u"abab", u"ab", u"abab"), u"abababab");

    EXPECT_TRUE(qnStartsWith(u"abc", u"") && qnEndsWith(u"abc", u"") && qnContains(u"", u""));
    EXPECT_TRUE(qnStartsWith(u"abc", u"ab") && !qnStartsWith(u"abc", u"bc"));
    EXPECT_TRUE(qnEndsWith(u"abc", u"bc") && !qnEndsWith(u"abc", u"abcd"));
    EXPECT_TRUE(qnContains(u"abc", u"b") && !qnContains(u"abc", u"B"));
}

TEST(StringPaddingTest, PadsCutsAndOvershootsWithLongFills) {
    using Case = std::tuple<const char16_t*, std::int64_t, std::optional<StringView>,
                            const char16_t*, const char16_t*>;
    const Case cases[] = {
        {u"12345", 3, std::nullopt, u"345", u"123"},
        {u"7", 3, u"0", u"007", u"700"},
        {u"7", 0, u"0", u"", u""},
        {u"7", -1, u"0", u"", u""},
        {u"7", kMin, u"0", u"", u""},
        {u"ab", 4, u"xy", u"xyxyab", u"abxyxy"},
        {u"ab", 4, u"", u"  ab", u"ab  "},
    };
    for (const auto& [text, length, fill, left, right] : cases) {
        EXPECT_EQ(qnStringOfLengthByAppendingLeftOccurrencesOfString(text, length, fill), left);
        EXPECT_EQ(qnStringOfLengthByAppendingRightOccurrencesOfString(text, length, fill), right);
    }
    EXPECT_EQ(qnEmptyStringOfLength(3), u"   ");
    EXPECT_EQ(qnEmptyStringOfLength(-4), u"");
    // A size no string can have is reported, without overflowing first.
    EXPECT_THROW(qnStringOfLengthByAppendingLeftOccurrencesOfString(u"a", kMax, u"xyz"),
                 FatalError);
    {
        test::ScopedFatalErrorPolicy recover(QNUtilities::FatalErrorPolicy::kRecover);
        test::ScopedCapturingLogger log;
        EXPECT_EQ(qnEmptyStringOfLength(kMax), u"");
        EXPECT_EQ(qnStringOfLengthByAppendingRightOccurrencesOfString(u"ab", kMax, u"x"), u"ab");
        EXPECT_TRUE(log->contains(u"Padded string length out of range"));
    }

    // Only the left side loses its trailing blanks.
    EXPECT_EQ(qnStringByConcatenatingWithStringSeparator(u"ab \t", u"  cd ", u"-"), u"ab-  cd ");
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
        test::ScopedFatalErrorPolicy recover(QNUtilities::FatalErrorPolicy::kRecover);
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
    // Decomposed input and stacked marks go; letters such as "ae" stay; the
    // kana voicing mark goes while Hangul recomposes.
    const std::pair<String, String> stripped[] = {{u"Cr\u00E8me Br\u00FBl\u00E9e", u"Creme Brulee"},
                                                  {u"e\u0301\u1EC7", u"ee"},
                                                  {u"\u00E6\u00F8\u00DF", u"\u00E6\u00F8\u00DF"},
                                                  {u"\u304C\uAC00", u"\u304B\uAC00"},
                                                  {kSmile + u"\u00E9", kSmile + u"e"}};
    for (const auto& [in, out] : stripped)
        EXPECT_EQ(qnStringByRemovingDiacritics(in), out) << toUtf8(in);

    // Backslashes and every control are escaped too, so the text reads back.
    const std::pair<String, String> json[] = {
        {u"say \"hi\"\tnow", u"say \\\"hi\\\"\\tnow"},
        {u"a\nb\rc\bd\fe", u"a\\nb\\rc\\bd\\fe"},
        {u"C:\\new", u"C:\\\\new"},
        {String(1, u'\0') + u"\x1F\x7F", u"\\u0000\\u001f\x7F"},
        {u"\u2028" + kSmile, u"\u2028" + kSmile},
    };
    for (const auto& [in, out] : json)
        EXPECT_EQ(qnJSONEncode(in), out) << toUtf8(in);
}

TEST(StringFormatTest, PlaceholdersAndTextReadings) {
    EXPECT_EQ(QNutil::format(u"%9%1", 1, 2, 3, 4, 5, 6, 7, 8, 9), u"91");
    EXPECT_EQ(qnStringWithFormatValues(u"%2 of %1, %3 %10", {Value(u"x"), Value(2.5)}),
              u"2.5 of x, #{3} #{10}");
    // The argument forms stop at the first Absent value.
    EXPECT_EQ(qnStringWithFormat(u"%1 %2 %3", {Value(u"a"), Value(), Value(u"c")}), u"a #{2} #{3}");
    EXPECT_EQ(qnStringWithFormatArguments(u"%1%2", {Value(true), Value::null(), Value()}),
              u"1<null>");

    EXPECT_TRUE(qnBoolValue(u"  -00Yes"));
    EXPECT_FALSE(qnBoolValue(u"0"));
    EXPECT_EQ(qnIntValue(u"\t-42x"), -42);
    EXPECT_EQ(qnIntValue(u"99999999999999999999"), kMax);
}

TEST(QNutilStringTest, StrcmpOrdersDecomposedCodeUnits) {
    using Case = std::tuple<String, String, std::int64_t>;
    // Case-sensitive; canonically equivalent spellings (marks in either order)
    // are equal; decomposed, "e" + mark sorts before "f" though U+00E9 > "f";
    // code units, not code points: a high surrogate sorts below U+FF21.
    const Case cases[] = {{u"a", u"b", -1},
                          {u"a", u"A", 1},
                          {u"", u"a", -1},
                          {u"\u00E9", u"e\u0301", 0},
                          {u"s\u0307\u0323", u"\u1E69", 0},
                          {u"\u212B", u"\u00C5", 0},
                          {u"\u00E9", u"f", -1},
                          {kSmile, u"\uFF21", -1}};
    for (const auto& [a, b, expected] : cases) {
        EXPECT_EQ(QNutil::strcmp(a, b), expected) << toUtf8(a) << " vs " << toUtf8(b);
        EXPECT_EQ(QNutil::strcmp(b, a), -expected);
        EXPECT_EQ(QNutil::strcmp2(a, b), expected == 0);
    }
}

TEST(QNutilStringTest, ByteCountPerCharset) {
    const String text = u"h\u00E9llo" + kSmile;  // 1 + 2 + 3 + 4 UTF-8 bytes
    using Case = std::tuple<String, const char16_t*, std::int64_t>;
    // UTF-16 and unknown charsets count as UTF-8, a lone surrogate as U+FFFD;
    // text a charset cannot hold counts user-perceived characters instead.
    const Case cases[] = {{text, u"UTF-8", 10},
                          {text, u"UTF-16", 10},
                          {text, u"no-such-charset", 10},
                          {u"h\u00E9llo", u"ISO-8859-1", 5},
                          {u"h\u00E9llo", u"UTF-16LE", 10},
                          {u"\u20ACx", u"ISO-8859-1", 2},
                          {u"e\u0301" + kSmile + u"\U0001F1EB\U0001F1F7", u"latin1", 3},
                          {u"", u"ISO-8859-1", 0},
                          {String{kSmile[0]}, u"UTF-8", 3}};
    for (const auto& [s, charset, expected] : cases)
        EXPECT_EQ(QNutil::byteCount(s, charset), expected) << toUtf8(s) << " " << toUtf8(charset);
}

TEST(QNutilStringTest, UrlEncoding) {
    EXPECT_EQ(QNutil::urlEncode(u"http://example.com/a b?q=\u00E9"),
              u"http://example.com/a%20b?q=%C3%A9");
    EXPECT_EQ(QNutil::urlEncode(u"not a url/?"), u"not%20a%20url%2F%3F");
    EXPECT_EQ(QNutil::urlParameterEncode(u"a b&c=d/\u00E9~"), u"a%20b%26c%3Dd%2F%C3%A9~");
}

TEST(QNutilStringTest, CompareOrderedValues) {
    using Case = std::tuple<Value, const char16_t*, Value, bool>;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Integers compare exactly (not through doubles, nor the decimal range);
    // without a common ordering only equality answers; unknown operators are
    // false.
    const Case cases[] = {{Value(2), u"<=", Value(2.0), true},
                          {Value(0.1), u"=", Value(Decimal::fromString("0.1")), true},
                          {Value(kMax), u">", Value(kMax - 1), true},
                          {Value(kMax), u"<", Value(1e300), true},
                          {Value(nan), u"=", Value(nan), false},
                          {Value(nan), u"<>", Value(1), true},
                          {Value(u"\u00E9"), u"=", Value(u"e\u0301"), true},
                          {Value(DateTime(100.0)), u"<", Value(DateTime(200.0)), true},
                          {Value(u"Riverside"), u"like", Value(u"River%"), true},
                          {Value(1), u"like", Value(u"1"), false},
                          {Value(u"1"), u"<>", Value(1), true},
                          {Value(u"1"), u"<", Value(2), false},
                          {Value::null(), u"=", Value::null(), true},
                          {Value(1), u"==", Value(1), false},
                          {Value(u"a"), u"LIKE", Value(u"a"), false}};
    for (const auto& [a, op, b, expected] : cases)
        EXPECT_EQ(QNutil::compare(a, op, b), expected) << toUtf8(a.description()) << toUtf8(op);
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
