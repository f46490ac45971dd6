#include <qn/core/string.h>

#include <gtest/gtest.h>
#include <unicode/ustring.h>

#include <random>
#include <string>

namespace qn {
namespace {

String repeat(const String& s, int n) {
    String out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

// Replacement characters, as UTF-16 and as UTF-8.
String fffd(int n) {
    return String(static_cast<std::size_t>(n), u'\uFFFD');
}
const std::string kFFFD = "\xEF\xBF\xBD";

TEST(Utf8Conversion, RoundTripsEveryPlaneAndTheEncodingBoundaries) {
    const String samples[] = {
        u"",
        u"plain ASCII",
        u"caf\u00e9 \u00fcber \u00df \u65e5\u672c\u8a9e \u20ac \U0001F600",
        // The first and last code point of each encoded length, around the surrogates.
        u"\u0080\u07FF\u0800\uD7FF\uE000\uFFFD\uFFFF\U00010000\U0010FFFF",
        String(1, u'\0') + u"embedded NUL",
    };
    for (const String& s : samples) {
        EXPECT_EQ(fromUtf8(toUtf8(s)), s);
        EXPECT_TRUE(isValidUtf8(toUtf8(s)));
    }
    EXPECT_EQ(toUtf8(u"\u00e9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(fromUtf8("\xE2\x82\xAC"), u"\u20ac");
}

TEST(Utf8Conversion, LongTextsPastTheStackBufferConvertWhole) {
    // Lengths around the point where the conversion stops using the stack.
    for (int n : {1, 51, 52, 68, 69, 341, 342, 5000}) {
        const String mixed = repeat(u"a\u00e9\u20ac\U0001F600", n);
        const std::string utf8 = toUtf8(mixed);
        EXPECT_EQ(utf8.size(), static_cast<std::size_t>(n) * 10);
        EXPECT_EQ(fromUtf8(utf8), mixed);
        const String ascii(static_cast<std::size_t>(n), u'x');
        EXPECT_EQ(toUtf8(ascii), std::string(static_cast<std::size_t>(n), 'x'));
    }
}

TEST(Utf8Conversion, LoneSurrogatesBecomeReplacementCharacters) {
    const std::pair<String, std::string> cases[] = {
        {String{char16_t(0xD800)}, kFFFD},
        {String{char16_t(0xDFFF)}, kFFFD},
        // Low before high is two lone surrogates, not a pair.
        {String{char16_t(0xDC00), char16_t(0xD800)}, kFFFD + kFFFD},
        // A high surrogate at the very end must not swallow anything.
        {String{u'a', char16_t(0xD83D)}, "a" + kFFFD},
        {String{char16_t(0xD83D), u'b'}, kFFFD + "b"},
        // Past the stack buffer too.
        {String(1200, u'x') + char16_t(0xD800), std::string(1200, 'x') + kFFFD},
    };
    for (const auto& [text, utf8] : cases)
        EXPECT_EQ(toUtf8(text), utf8);
}

TEST(Utf8Conversion, MalformedBytesAreInvalidAndBecomeOneReplacementPerMaximalSubpart) {
    const std::pair<const char*, String> cases[] = {
        // Overlong forms, encoded surrogates, code points above U+10FFFF.
        {"\xC1\xBF", fffd(2)},
        {"\xE0\x9F\xBF", fffd(3)},
        {"\xED\xA0\x80", fffd(3)},
        {"\xED\xBF\xBF", fffd(3)},
        {"\xF0\x8F\xBF\xBF", fffd(4)},
        {"\xF4\x90\x80\x80", fffd(4)},
        {"\xF5\x80\x80\x80", fffd(4)},
        {"\xF8\x88\x80\x80\x80", fffd(5)},
        {"\xFF\xFE", fffd(2)},
        // Truncated sequences: one replacement for the whole prefix.
        {"\xC2", fffd(1)},
        {"\xE1\x80", fffd(1)},
        {"\xF1\x80\x80", fffd(1)},
        {"ok\xC3", u"ok" + fffd(1)},
        {"\xC2\x41", fffd(1) + u"A"},
        {"\xF0\x9F\x98\x41", fffd(1) + u"A"},
        {"\xE1\x80\xC0", fffd(2)},
        // Lone continuation bytes, also after an ASCII run long enough for
        // the word-at-a-time scan.
        {"\x80\x61\xBF", fffd(1) + u"a" + fffd(1)},
        {"0123456789abcde\x80", u"0123456789abcde" + fffd(1)},
    };
    for (const auto& [bytes, repaired] : cases) {
        SCOPED_TRACE(bytes);
        EXPECT_FALSE(isValidUtf8(bytes));
        EXPECT_EQ(fromUtf8(bytes), repaired);
    }
}

// ICU's own repair of a byte string: the reference for both the converter's
// hand-decoded fast path and the validator.
String icuRepair(const std::string& bytes) {
    std::u16string out(bytes.size() + 1, u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, bytes.data(),
                         static_cast<int32_t>(bytes.size()), 0xFFFD, nullptr, &status);
    out.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
    return out;
}

TEST(Utf8Conversion, AgreesWithIcuOnRandomBytes) {
    std::mt19937 random(7);
    const unsigned char alphabet[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                                      0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    for (int i = 0; i < 20000; ++i) {
        // Runs of ASCII around the odd bytes exercise the eight-byte path too.
        std::string bytes(random() % 24, '\0');
        for (char& c : bytes)
            c = static_cast<char>(random() % 3 ? alphabet[random() % sizeof alphabet] : 'a');
        SCOPED_TRACE(::testing::PrintToString(bytes));
        const String repaired = icuRepair(bytes);
        ASSERT_EQ(fromUtf8(bytes), repaired);
        // Well-formed input, and only well-formed input, survives the repair.
        ASSERT_EQ(isValidUtf8(bytes), toUtf8(repaired) == bytes);
    }
}

}  // namespace
}  // namespace qn
