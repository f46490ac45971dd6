// The string built-ins: UTF-8 conversion (ICU as the reference), blanks,
// substrings, searching, padding, character codes, transforms, formats,
// comparisons and like patterns.
#include <qn/core/string.h>
#include <qn/host.h>
#include <qn/runtime.h>
#include <unicode/ustring.h>

#include "runtime/like_reference.h"
#include "support/test_support.h"

#include <cstdio>
#include <random>
#include <stdexcept>

namespace qn {
namespace {

String repeat(const String& s, int n) {
    String out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

// ICU's own conversions, U+FFFD for what is ill-formed: the reference for the
// converter's hand-decoded fast paths and for the validator.
String icuRepair(const std::string& bytes) {
    std::u16string out(bytes.size() + 1, u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, bytes.data(),
                         static_cast<int32_t>(bytes.size()), 0xFFFD, nullptr, &status);
    out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
    return out;
}
std::string icuUtf8(const String& text) {
    std::string out(text.size() * 3 + 1, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                       static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
    return out;
}

// The decoder takes ASCII 16 and 8 bytes at a time and stores whole blocks:
// random ASCII runs between well-formed and ill-formed sequences put a
// sequence (or a bad byte) at every offset of a block and end texts inside
// one. ICU, replacing what is ill-formed with U+FFFD, is the reference.
TEST(Utf8Blocks, AsciiRunsAroundAnySequenceAgreeWithIcu) {
    const std::string_view pieces[] = {"\xC3\xA9",     "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                       "\x80",         "\xC3",         "\xE2\x82",
                                       "\xF0\x9F\x98", "\xED\xA0\x80", "\xFF"};
    std::mt19937 random(11);
    for (int i = 0; i < 20000; ++i) {
        std::string bytes;
        for (int run = static_cast<int>(random() % 4); run >= 0; --run) {
            bytes.append(random() % 40, static_cast<char>('a' + random() % 26));
            if (random() % 2) bytes += pieces[random() % std::size(pieces)];
        }
        SCOPED_TRACE(::testing::PrintToString(bytes));
        const String repaired = icuRepair(bytes);
        ASSERT_EQ(fromUtf8(bytes), repaired);
        // Well-formed input, and only that, survives the repair unchanged.
        ASSERT_EQ(isValidUtf8(bytes), toUtf8(repaired) == bytes);
    }
}

TEST(Utf8Conversion, RoundTripsEveryPlaneAndLongTextsPastTheStackBuffer) {
    const String samples[] = {
        u"", u"plain ASCII", u"caf\u00e9 \u00fcber \u00df \u65e5\u672c\u8a9e \u20ac \U0001F600",
        // The first and last code point of each encoded length, around the surrogates.
        u"\u0080\u07FF\u0800\uD7FF\uE000\uFFFD\uFFFF\U00010000\U0010FFFF",
        String(1, u'\0') + u"embedded NUL"};
    for (const String& s : samples) {
        EXPECT_EQ(fromUtf8(toUtf8(s)), s);
        EXPECT_TRUE(isValidUtf8(toUtf8(s)));
    }
    // Lengths around the point where the conversion stops using the stack.
    for (int n : {1, 51, 52, 68, 69, 341, 342, 5000}) {
        const String mixed = repeat(u"a\u00e9\u20ac\U0001F600", n);
        const std::string utf8 = toUtf8(mixed);
        EXPECT_EQ(utf8.size(), static_cast<std::size_t>(n) * 10);
        EXPECT_EQ(fromUtf8(utf8), mixed);
        EXPECT_EQ(toUtf8(String(n, u'x')), std::string(n, 'x'));
    }
}

TEST(Utf8Conversion, IllFormedInputAgreesWithIcu) {
    const auto lone = [](std::initializer_list<char16_t> units) { return String(units); };
    // Lone surrogates: low before high is two, not a pair; a high one at the
    // very end swallows nothing; also past the stack buffer.
    for (const String& text :
         {lone({0xD800}), lone({0xDFFF}), lone({0xDC00, 0xD800}), lone({u'a', 0xD83D}),
          lone({0xD83D, u'b'}), String(1200, u'x') + char16_t(0xD800)}) {
        EXPECT_EQ(toUtf8(text), icuUtf8(text));
        EXPECT_NE(toUtf8(text).find("\xEF\xBF\xBD"), std::string::npos);
    }
    // Overlong forms, encoded surrogates, code points above U+10FFFF;
    // truncated sequences (one replacement for the whole prefix); lone
    // continuation bytes, also after an ASCII run long enough for the
    // word-at-a-time scan.
    for (const std::string bytes :
         {"\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF", "\xF0\x8F\xBF\xBF",
          "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF8\x88\x80\x80\x80", "\xFF\xFE", "\xC2",
          "\xE1\x80", "\xF1\x80\x80", "ok\xC3", "\xC2\x41", "\xF0\x9F\x98\x41", "\xE1\x80\xC0",
          "\x80\x61\xBF", "0123456789abcde\x80"}) {
        EXPECT_FALSE(isValidUtf8(bytes)) << ::testing::PrintToString(bytes);
        EXPECT_EQ(fromUtf8(bytes), icuRepair(bytes)) << ::testing::PrintToString(bytes);
    }
    EXPECT_EQ(fromUtf8("\xF0\x9F\x98\x41"), u"\uFFFDA");
    EXPECT_EQ(fromUtf8("\xF8\x88\x80\x80\x80"), String(5, u'\uFFFD'));

    // Random bytes; runs of ASCII around the odd bytes exercise the
    // eight-byte path too.
    std::mt19937 random(7);
    const unsigned char alphabet[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                                      0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    for (int i = 0; i < 20000; ++i) {
        std::string bytes(random() % 24, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 3 ? alphabet[random() % sizeof alphabet] : 'a');
        SCOPED_TRACE(::testing::PrintToString(bytes));
        const String repaired = icuRepair(bytes);
        ASSERT_EQ(fromUtf8(bytes), repaired);
        // Well-formed input, and only well-formed input, survives the repair.
        ASSERT_EQ(isValidUtf8(bytes), toUtf8(repaired) == bytes);
    }
    // Random UTF-16 with runs of ASCII, so that the encoder's wider paths
    // meet every kind of unit, lone surrogates among them.
    const char16_t units[] = {0x00,   0x7F,   0x80,   0x7FF,  0x800,  0xD7FF, 0xD800,
                              0xD83D, 0xDBFF, 0xDC00, 0xDE00, 0xDFFF, 0xE000, 0xFFFF};
    for (int i = 0; i < 20000; ++i) {
        String text(random() % 40, u'a');
        for (char16_t& c : text)
            if (random() % 4 == 0) c = units[random() % std::size(units)];
        ASSERT_EQ(toUtf8(text), icuUtf8(text)) << ::testing::PrintToString(text);
    }
}

// --- Built-ins -------------------------------------------------------------

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
    EXPECT_EQ(QNBuiltins::ltrim(padded), u"a b\u202F ");
    EXPECT_EQ(QNBuiltins::rtrim(padded), u" \t\u2003a b");
    EXPECT_EQ(qnStringByTrimming(u"  "), u"");
}

TEST(StringSubstringTest, PositionsAndLengthsClampOrGiveEmpty) {
    const std::tuple<std::int64_t, std::int64_t, const char16_t*> cases[] = {
        {3, -1, u"cdef"},  {5, 10, u"ef"},      {1, 7, u"abcdef"}, {6, 1, u"f"}, {0, 2, u""},
        {7, 1, u""},       {7, -1, u""},        {1, -2, u""},      {2, 0, u""},  {kMin, -1, u""},
        {kMax, kMax, u""}, {2, kMax, u"bcdef"}, {1, kMin, u""}};
    for (const auto& [from, length, expected] : cases)
        EXPECT_EQ(qnSubstringFromLength(u"abcdef", from, length), expected)
            << from << " " << length;
    // Code units: half of a surrogate pair is a unit like any other.
    EXPECT_EQ(qnSubstringFromLength(u"a" + kSmile, 2, 1), String(1, kSmile[0]));

    // Left and right: a negative or too large count gives the whole text.
    const std::tuple<std::int64_t, const char16_t*, const char16_t*> counts[] = {
        {-1, u"abc", u"abc"},
        {0, u"", u""},
        {2, u"ab", u"bc"},
        {5, u"abc", u"abc"},
        {kMin, u"abc", u"abc"}};
    for (const auto& [n, left, right] : counts) {
        EXPECT_EQ(QNBuiltins::left(u"abc", n), left) << n;
        EXPECT_EQ(QNBuiltins::right(u"abc", n), right) << n;
    }
    EXPECT_EQ(QNBuiltins::right(u"", 2), u"");
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
    const Case cases[] = {{u"12345", 3, std::nullopt, u"345", u"123"},
                          {u"7", 3, u"0", u"007", u"700"},
                          {u"7", 0, u"0", u"", u""},
                          {u"7", -1, u"0", u"", u""},
                          {u"7", kMin, u"0", u"", u""},
                          {u"ab", 4, u"xy", u"xyxyab", u"abxyxy"},
                          {u"ab", 4, u"", u"  ab", u"ab  "}};
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
        {u"", 0}, {u"A", 65}, {u"\u00E9", -23}, {u"\u0100", 0}, {u"\u0080", -128}, {kSmile, 0x3D}};
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

TEST(StringTransformTest, DiacriticsJSONAndURLs) {
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
        {u"\u2028" + kSmile, u"\u2028" + kSmile}};
    for (const auto& [in, out] : json)
        EXPECT_EQ(qnJSONEncode(in), out) << toUtf8(in);

    // A URL keeps its syntax; other text is escaped whole (parameters escape
    // as the host's simple escape, tested there).
    EXPECT_EQ(QNBuiltins::urlEncode(u"http://example.com/a b?q=\u00E9"),
              u"http://example.com/a%20b?q=%C3%A9");
    EXPECT_EQ(QNBuiltins::urlEncode(u"not a url/?"), u"not%20a%20url%2F%3F");
}

TEST(StringFormatTest, PlaceholdersAndTextReadings) {
    EXPECT_EQ(QNBuiltins::format(u"%9%1", 1, 2, 3, 4, 5, 6, 7, 8, 9), u"91");
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
        EXPECT_EQ(QNBuiltins::strcmp(a, b), expected) << toUtf8(a) << " vs " << toUtf8(b);
        EXPECT_EQ(QNBuiltins::strcmp(b, a), -expected);
        EXPECT_EQ(QNBuiltins::strcmp2(a, b), expected == 0);
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
        EXPECT_EQ(QNBuiltins::byteCount(s, charset), expected)
            << toUtf8(s) << " " << toUtf8(charset);
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
        EXPECT_EQ(QNBuiltins::compare(a, op, b), expected) << toUtf8(a.description()) << toUtf8(op);
}

TEST(StringsConcurrentTest, IcuBackedBuiltInsFromSeveralThreads) {
    // The transliterator, break iterator and normaliser are shared or cloned
    // per thread; each thread must get right answers on its own.
    std::vector<int> wrong(6, 0);
    test::onThreads(static_cast<int>(wrong.size()), [&wrong](int t) {
        for (int i = 0; i < 200; ++i) {
            wrong[t] += qnStringByRemovingDiacritics(u"Cr\u00E8me") != u"Creme";
            wrong[t] += QNBuiltins::byteCount(u"\u20ACx", u"ISO-8859-1") != 2;
            wrong[t] += QNBuiltins::strcmp(u"\u00E9", u"e\u0301") != 0;
        }
    });
    EXPECT_EQ(wrong, std::vector<int>(wrong.size(), 0));
}

// --- Like ------------------------------------------------------------------

TEST(LikeTest, MatchesInBothEscapeModes) {
    // Each pattern with a subject that matches and one that does not. Escapes
    // on: only the start is anchored; every "_" not after a backslash is a
    // wildcard; a lone backslash is literal, a doubled one is one literal
    // backslash that still escapes the sign after it; metacharacters are
    // literal while braces stay a quantifier; "_" takes a whole surrogate
    // pair; "%" does not cross a line break.
    const std::tuple<const char16_t*, const char16_t*, const char16_t*> cases[] = {
        {u"Riv", u"Rivers", u"iRivers"},
        {u"R%z", u"Rxyz", u"Rxy"},
        {u"%_", u"x", u""},
        {u"a__b", u"axyb", u"axb"},
        {u"50\\%", u"50%", u"50x"},
        {u"a\\_b", u"a_b", u"axb"},
        {u"\\__", u"_x", u"xx"},
        {u"a\\b", u"a\\b", u"ab"},
        {u"a\\\\%", u"a\\%", u"a\\x"},
        {u"a.c", u"a.c", u"abc"},
        {u"f(x)[ab]|$^?+*", u"f(x)[ab]|$^?+*", u"fx"},
        {u"a{2}", u"aa", u"a{2}"},
        {u"_x", u"\U0001F600x", u"abx"},
        {u"a%b", u"a-b", u"a\nb"}};
    for (const auto& [pattern, like, unlike] : cases) {
        EXPECT_TRUE(qnIsLikeString(like, pattern)) << toUtf8(pattern);
        EXPECT_FALSE(qnIsLikeString(unlike, pattern)) << toUtf8(pattern);
    }
    EXPECT_TRUE(qnIsLikeString(u"", u"%") && qnIsLikeString(u"abc", u""));
    EXPECT_FALSE(qnIsLikeString(u"a{", u"a{")) << "does not compile";
    // Escapes off: the backslash is an ordinary character.
    EXPECT_TRUE(qnIsLikeStringUseEscapeCharacter(u"50\\x", u"50\\%", false));
}

TEST(LikeTest, CacheKeepsPatternsAndEscapeModesApart) {
    // More patterns than the cache holds, twice round, with both modes of one
    // pattern interleaved (escapes off is unanchored): evictions must never
    // hand back the wrong regex.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 200; ++i) {
            const String n = asciiString(std::to_string(i));
            const String pattern = u"id" + n + u"\\_%";
            EXPECT_TRUE(qnIsLikeString(u"id" + n + u"_tail", pattern)) << i;
            EXPECT_FALSE(qnIsLikeString(u"id" + n + u"xtail", pattern)) << i;
            EXPECT_FALSE(qnIsLikeStringUseEscapeCharacter(u"id" + n + u"_tail", pattern, false));
            EXPECT_FALSE(qnIsLikeString(u"Riverside", u"side"));
            EXPECT_TRUE(qnIsLikeStringUseEscapeCharacter(u"Riverside", u"side", false));
        }
    }
}

TEST(LikeTest, LongPatternsAndSubjects) {
    // Patterns beyond the cached size are compiled for the call.
    const String longPattern = String(3000, u'a') + u"%z";
    EXPECT_TRUE(qnIsLikeString(String(3000, u'a') + u"bbz", longPattern));
    EXPECT_FALSE(qnIsLikeString(String(2999, u'a') + u"bbz", longPattern));
    // A long subject neither overflows the backtracking stack nor is cut short.
    const String subject = String(1'000'000, u'a') + u"b";
    EXPECT_TRUE(qnIsLikeString(subject, u"%ab"));
    EXPECT_FALSE(qnIsLikeString(subject, u"a%c"));
}

TEST(LikeTest, IntervalsKeepTheirBoundsAndLimits) {
    // Long repeats are counted, not unrolled; a bound above ICU's largest
    // makes the pattern invalid, so it matches nothing.
    const String a3000(3000, u'a');
    EXPECT_TRUE(qnIsLikeString(a3000 + u"b", u"a{3000}b"));
    EXPECT_FALSE(qnIsLikeString(a3000.substr(1) + u"b", u"a{3000}b"));
    EXPECT_FALSE(qnIsLikeString(a3000 + u"ab", u"a{1,3000}b"));
    EXPECT_TRUE(qnIsLikeString(u"", u"a{0,16777215}"));
    EXPECT_FALSE(qnIsLikeString(u"", u"a{0,16777216}"));
    // An interval on the anchor: "^{0}" makes the start optional.
    EXPECT_TRUE(qnIsLikeString(u"xab", u"{0}ab"));
    EXPECT_FALSE(qnIsLikeString(u"xab", u"{1}ab"));
}

TEST(LikeTest, ManyPercentSignsAnswerRightOnLongSubjects) {
    // A first line that almost matches at every start, then a second line
    // that does: backtracking explores polynomially many ways to fail on the
    // first line, and the old work budget gave up and answered "not like".
    const String subject = String(5000, u'a') + u"\naaaaab";
    const String pattern = u"%a%a%a%a%a%b";
    EXPECT_TRUE(qnIsLikeString(subject, pattern));
    EXPECT_TRUE(qnIsLikeStringUseEscapeCharacter(subject, u"a%a%a%a%a%b", false));
    EXPECT_FALSE(qnIsLikeString(subject.substr(0, subject.size() - 1), pattern));
}

TEST(LikeTest, UnpairedSurrogatesStandAlone) {
    // A lone surrogate is a code point of its own on both sides; it never
    // matches half of a pair (ICU compared literal runs by code units here,
    // and crashed on the first pattern).
    EXPECT_FALSE(qnIsLikeString(u"a\U0001F600b}", u"a\xD83D%\\%{2}a"));
    EXPECT_FALSE(qnIsLikeString(u"a\U0001F600", u"a\xD83D"));
    EXPECT_TRUE(qnIsLikeString(u"a\xD83Dx", u"a\xD83D"));
    EXPECT_TRUE(qnIsLikeString(u"\xDE00\xD83Dx", u"__x"));
}

// Random patterns and subjects over a small alphabet rich in the signs that
// matter (wildcards, escapes, braces, line breaks, surrogates), so both
// answers are common; the matcher must agree with ICU's regex engine on the
// expression each pattern stands for, in both escape modes.
TEST(LikeTest, AgreesWithTheRegexItStandsFor) {
    // (Patterns are well-formed UTF-16: see UnpairedSurrogatesStandAlone.)
    const std::vector<String> patternPieces = {
        u"a", u"b", u"%",   u"_",     u"\\",   u"\\%", u"\\_", u"\n", u"\U0001F600", u".", u"(",
        u"^", u"*", u"{2}", u"{0,1}", u"{1,}", u"{0}", u"{",   u"}",  u"{2,1}",      u",", u"1"};
    const std::vector<String> textPieces = {u"a",      u"b",      u"\n", u"\r", u"\U0001F600",
                                            u"\xD83D", u"\xDE00", u"%",  u"_",  u"\\",
                                            u".",      u"{",      u"}",  u"(",  u"^"};
    std::mt19937 random(20261206);
    auto pick = [&random](const std::vector<String>& pieces) {
        return pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
    };
    auto upTo = [&random](int n) { return std::uniform_int_distribution<int>(0, n)(random); };
    auto show = [](const String& text) {
        std::string out;
        for (char16_t c : text) {
            if (c >= 0x20 && c < 0x7F) {
                out += static_cast<char>(c);
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(c));
                out += hex;
            }
        }
        return out;
    };

    int likes = 0;
    int unlikes = 0;
    for (int round = 0; round < 4000; ++round) {
        std::vector<String> pieces;
        for (int n = upTo(7); n > 0; --n)
            pieces.push_back(pick(patternPieces));
        String pattern;
        for (const String& piece : pieces)
            pattern += piece;
        for (const bool useEscapes : {true, false}) {
            like_reference::Matcher reference(pattern, useEscapes);
            for (int k = 0; k < 5; ++k) {
                // Three in five subjects are the pattern filled in, so they often match.
                String subject;
                for (int n = upTo(2); n > 0; --n)
                    subject += pick(textPieces);
                if (k % 2 == 0) {
                    for (const String& piece : pieces) {
                        if (piece == u"%") {
                            for (int n = upTo(3); n > 0; --n)
                                subject += pick(textPieces);
                        } else if (piece == u"_") {
                            subject += pick(textPieces);
                        } else if (piece.size() == 2 && piece[0] == u'\\' && useEscapes) {
                            subject += piece[1];
                        } else {
                            subject += piece;
                        }
                    }
                }
                for (int n = upTo(3); n > 0; --n)
                    subject += pick(textPieces);
                const bool expected = reference.matches(subject);
                ASSERT_EQ(qnIsLikeStringUseEscapeCharacter(subject, pattern, useEscapes), expected)
                    << "pattern '" << show(pattern) << "' escapes " << useEscapes << " subject '"
                    << show(subject) << "'";
                ++(expected ? likes : unlikes);
            }
        }
    }
    // Both answers must be well represented for the agreement to mean much.
    EXPECT_GT(likes, 8000);
    EXPECT_GT(unlikes, 8000);
}

TEST(LikeConcurrentTest, ThreadsMatchWithTheirOwnCaches) {
    std::atomic<int> wrong{0};
    test::onThreads(8, [&wrong](int t) {
        // Shared and per-thread patterns, so caches both hit and evict.
        for (int i = 0; i < 3000; ++i) {
            const String n = asciiString(std::to_string((i * 7 + t) % 97));
            wrong += !qnIsLikeString(u"row" + n + u"-end", u"row" + n + u"-%");
            wrong += qnIsLikeString(u"row" + n, u"%x%");
            wrong += !qnIsLikeStringUseEscapeCharacter(u"Riverside", u"side", false);
        }
    });
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace qn
