#include <qn/core/string.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using qn::fromUtf8;
using qn::isValidUtf8;
using qn::String;
using qn::toUtf8;

const String kFFFD(1, u'\uFFFD');

String repeat(const String& s, int n) {
    String out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

TEST(Utf8Conversion, RoundTripsEveryPlane) {
    const String samples[] = {
        u"",
        u"plain ASCII",
        u"caf\u00e9 \u00fcber \u00df",               // two-byte forms
        u"\u65e5\u672c\u8a9e \u20ac \uFFFD \uFFFF",  // three-byte forms
        u"\U0001F600 \U00010000 \U0010FFFF",         // pairs, four-byte forms
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
    const std::string fffd = "\xEF\xBF\xBD";
    EXPECT_EQ(toUtf8(String(1, char16_t(0xD800))), fffd);
    EXPECT_EQ(toUtf8(String(1, char16_t(0xDFFF))), fffd);
    // Low before high is two lone surrogates, not a pair.
    EXPECT_EQ(toUtf8(String{char16_t(0xDC00), char16_t(0xD800)}), fffd + fffd);
    // A high surrogate at the very end must not swallow anything.
    EXPECT_EQ(toUtf8(String{u'a', char16_t(0xD83D)}), "a" + fffd);
    EXPECT_EQ(toUtf8(String{char16_t(0xD83D), u'b'}), fffd + "b");
    // Past the stack buffer too.
    std::string expected;
    for (int i = 0; i < 600; ++i)
        expected += "xy";
    EXPECT_EQ(toUtf8(repeat(u"xy", 600) + char16_t(0xD800)), expected + fffd);
}

TEST(Utf8Conversion, MalformedBytesBecomeOneReplacementPerMaximalSubpart) {
    struct Case {
        const char* bytes;
        String expected;
    };
    const Case cases[] = {
        {"\xC0\xAF", kFFFD + kFFFD},              // overlong '/'
        {"\xE0\x80\xAF", kFFFD + kFFFD + kFFFD},  // overlong, three bytes
        {"\xED\xA0\x80", kFFFD + kFFFD + kFFFD},  // encoded surrogate
        {"\xF4\x90\x80\x80", repeat(kFFFD, 4)},   // above U+10FFFF
        {"\xE2\x82", kFFFD},                      // truncated at the end
        {"\xF0\x9F\x98"
         "A",
         kFFFD + u"A"},  // truncated before ASCII
        {"\x80"
         "a\xBF",
         kFFFD + u"a" + kFFFD},       // lone continuation bytes
        {"\xFF\xFE", kFFFD + kFFFD},  // never valid
        {"ok\xC3", u"ok" + kFFFD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(fromUtf8(c.bytes), c.expected);
        EXPECT_FALSE(isValidUtf8(c.bytes));
        // The repair is itself valid and stable.
        EXPECT_TRUE(isValidUtf8(toUtf8(fromUtf8(c.bytes))));
    }
}

TEST(Utf8Validation, AcceptsExactlyWellFormedSequences) {
    const char* valid[] = {"",
                           "abc",
                           "\xC2\x80",
                           "\xDF\xBF",
                           "\xE0\xA0\x80",
                           "\xED\x9F\xBF",
                           "\xEE\x80\x80",
                           "\xEF\xBF\xBF",
                           "\xF0\x90\x80\x80",
                           "\xF4\x8F\xBF\xBF",
                           "0123456789abcdef\xC3\xA9"};
    for (const char* s : valid)
        EXPECT_TRUE(isValidUtf8(s)) << s;
    const char* invalid[] = {"\xC1\xBF",
                             "\xE0\x9F\xBF",
                             "\xED\xA0\x80",
                             "\xED\xBF\xBF",
                             "\xF0\x8F\xBF\xBF",
                             "\xF4\x90\x80\x80",
                             "\xF5\x80\x80\x80",
                             "\xC2",
                             "\xE1\x80",
                             "\xF1\x80\x80",
                             "\xC2\x41",
                             "\xE1\x80\xC0",
                             "0123456789abcde\x80",
                             "\xF8\x88\x80\x80\x80"};
    for (const char* s : invalid)
        EXPECT_FALSE(isValidUtf8(s)) << s;
    EXPECT_TRUE(isValidUtf8(std::string_view("\0", 1)));
}

TEST(Utf8Validation, AgreesWithIcuOnRandomBytes) {
    // Well-formed input, and only well-formed input, survives ICU's repair
    // unchanged: an independent check of the hand-written validator.
    std::mt19937 random(7);
    const unsigned char alphabet[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                                      0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
    for (int i = 0; i < 20000; ++i) {
        std::string bytes(random() % 12, '\0');
        for (char& c : bytes)
            c = static_cast<char>(alphabet[random() % sizeof alphabet]);
        ASSERT_EQ(isValidUtf8(bytes), toUtf8(fromUtf8(bytes)) == bytes);
    }
}

}  // namespace
