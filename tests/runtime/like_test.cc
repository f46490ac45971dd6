#include <gtest/gtest.h>
#include <qn/runtime.h>

#include "runtime/like.h"

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace qn {
namespace {

TEST(LikePatternTest, TranslatesToTheExpectedRegexText) {
    // Escapes on: leading "%" drop the "^" anchor, other "%" runs become ".*".
    const std::tuple<const char16_t*, bool, const char16_t*> cases[] = {
        {u"abc", true, u"^abc"},
        {u"%", true, u""},
        {u"%%abc%", true, u"abc.*"},
        {u"a%%%b%", true, u"^a.*b.*"},
        // Every "_" not after a backslash is a wildcard, even one right after
        // another "_" or at the front once leading "%" are gone.
        {u"a__b", true, u"^a..b"},
        {u"%_", true, u"."},
        {u"_%", true, u"^..*"},
        // Escaped signs: the doubled backslash loses one copy and escapes the
        // sign for the regex.
        {u"50\\%", true, u"^50\\%"},
        {u"a\\_b", true, u"^a\\_b"},
        {u"\\%%", true, u"^\\%.*"},
        {u"\\_\\_", true, u"^\\_\\_"},
        {u"\\__", true, u"^\\_."},
        // A lone backslash is literal; before a sign it escapes that sign.
        {u"a\\b", true, u"^a\\\\b"},
        {u"a\\\\%", true, u"^a\\\\\\%"},
        // Regex syntax is escaped, braces are not.
        {u".*[]()$^|?+", true, u"^\\.\\*\\[\\]\\(\\)\\$\\^\\|\\?\\+"},
        {u"a{2}", true, u"^a{2}"},
        // A surrogate pair is carried over whole.
        {u"\U0001F600%", true, u"^\U0001F600.*"},
        // Escapes off: no anchor, every run and every "_" is a wildcard.
        {u"%a%%b_", false, u".*a.*b."},
        {u"50\\%", false, u"50\\\\.*"},
    };
    for (const auto& [pattern, useEscapes, regex] : cases)
        EXPECT_EQ(internal::likePatternToRegex(pattern, useEscapes), regex) << toUtf8(pattern);
}

TEST(LikeTest, MatchesInBothEscapeModes) {
    // What the regex engine makes of translated patterns, each with a subject
    // that matches and one that does not. Escapes on: only the start is
    // anchored; metacharacters are literal while braces stay a quantifier;
    // "_" takes a whole surrogate pair; "%" does not cross a line break.
    const std::tuple<const char16_t*, const char16_t*, const char16_t*> cases[] = {
        {u"Riv", u"Rivers", u"iRivers"},
        {u"R%z", u"Rxyz", u"Rxy"},
        {u"%_", u"x", u""},
        {u"50\\%", u"50%", u"50x"},
        {u"a\\_b", u"a_b", u"axb"},
        {u"a.c", u"a.c", u"abc"},
        {u"f(x)[ab]|$^?+*", u"f(x)[ab]|$^?+*", u"fx"},
        {u"a{2}", u"aa", u"a{2}"},
        {u"_x", u"\U0001F600x", u"abx"},
        {u"a%b", u"a-b", u"a\nb"},
    };
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

TEST(LikeConcurrentTest, ThreadsMatchWithTheirOwnCaches) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &wrong] {
            // Shared and per-thread patterns, so caches both hit and evict.
            for (int i = 0; i < 3000; ++i) {
                const String n = asciiString(std::to_string((i * 7 + t) % 97));
                wrong += !qnIsLikeString(u"row" + n + u"-end", u"row" + n + u"-%");
                wrong += qnIsLikeString(u"row" + n, u"%x%");
                wrong += !qnIsLikeStringUseEscapeCharacter(u"Riverside", u"side", false);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace qn
