#include <gtest/gtest.h>
#include <qn/runtime.h>

#include "runtime/like.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace qn {
namespace {

using internal::likePatternToRegex;

struct TranslationCase {
    const char16_t* pattern;
    bool useEscapes;
    const char16_t* regex;
};

TEST(LikePatternTest, TranslatesToTheExpectedRegexText) {
    const TranslationCase cases[] = {
        {u"abc", true, u"^abc"},
        {u"%", true, u""},
        {u"%%abc%", true, u"abc.*"},
        {u"a%%%b%", true, u"^a.*b.*"},
        {u"5_", true, u"^5."},
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
        {u"abc", false, u"abc"},
        {u"%a%%b_", false, u".*a.*b."},
        {u"50\\%", false, u"50\\\\.*"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(likePatternToRegex(c.pattern, c.useEscapes), c.regex)
            << toUtf8(c.pattern) << " escapes " << c.useEscapes;
    }
}

struct MatchCase {
    const char16_t* subject;
    const char16_t* pattern;
    bool expected;
};

TEST(LikeTest, MatchesWithEscapes) {
    const MatchCase cases[] = {
        {u"Riverside", u"River%", true},
        {u"Riverside", u"%side", true},
        {u"Riverside", u"Riv", true},  // the end is never anchored
        {u"Riverside", u"iverside", false},
        {u"Riverside", u"R%z", false},
        {u"50", u"5_", true},
        {u"abc", u"a__", true},
        {u"ab", u"a__", false},
        {u"x", u"%_", true},
        {u"", u"%_", false},
        {u"50%", u"50\\%", true},
        {u"a_b", u"a\\_b", true},
        {u"a\\b", u"a\\b", true},
        {u"abc", u"", true},
        {u"", u"%", true},
        // Regex syntax in the pattern is literal.
        {u"f(x)", u"f(x)", true},
        {u"[ab]", u"[ab]", true},
        {u"a", u"[ab]", false},
        {u"a.c", u"a.c", true},
        {u"a$^|?+*", u"a$^|?+*", true},
        {u"a", u"a|b", false},
        // Braces stay a quantifier; an unbalanced one does not compile.
        {u"aa", u"a{2}", true},
        {u"a{2}", u"a{2}", false},
        {u"a{", u"a{", false},
        // "_" is one code point: a surrogate pair is one character.
        {u"\U0001F600x", u"_x", true},
        // No regex options: "." does not cross a line break.
        {u"a\nb", u"a%b", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qnIsLikeString(c.subject, c.pattern), c.expected)
            << "'" << toUtf8(c.subject) << "' like '" << toUtf8(c.pattern) << "'";
        EXPECT_EQ(qnIsLikeStringUseEscapeCharacter(c.subject, c.pattern, true), c.expected);
    }
}

TEST(LikeTest, MatchesWithoutEscapes) {
    const MatchCase cases[] = {
        {u"Riverside", u"side", true},  // no anchor at the start either
        {u"Riverside", u"R%e", true},  {u"50", u"5_", true},
        {u"50%", u"50\\%", false},  // the backslash is literal
        {u"50\\x", u"50\\%", true},    {u"a_b", u"a_b", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(qnIsLikeStringUseEscapeCharacter(c.subject, c.pattern, false), c.expected)
            << "'" << toUtf8(c.subject) << "' like '" << toUtf8(c.pattern) << "'";
    }
}

TEST(LikeTest, CacheKeepsPatternsAndEscapeModesApart) {
    // More patterns than the cache holds, twice round, with both modes of one
    // pattern interleaved: evictions must never hand back the wrong regex.
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

    // A long subject neither overflows the backtracking stack nor is copied
    // short.
    const String subject = String(1'000'000, u'a') + u"b";
    EXPECT_TRUE(qnIsLikeString(subject, u"a%b"));
    EXPECT_TRUE(qnIsLikeString(subject, u"%ab"));
    EXPECT_FALSE(qnIsLikeString(subject, u"a%c"));
}

TEST(LikeConcurrentTest, ThreadsMatchWithTheirOwnCaches) {
    constexpr int kThreads = 8;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 3000; ++i) {
                // A few shared patterns and some per-thread ones, so caches
                // both hit and evict.
                const String n = asciiString(std::to_string((i * 7 + t) % 97));
                if (qnIsLikeString(u"row" + n + u"-end", u"row" + n + u"-%") != true) ++wrong;
                if (qnIsLikeString(u"row" + n, u"%x%") != false) ++wrong;
                if (qnIsLikeString(u"Riverside", u"River%") != true) ++wrong;
                if (qnIsLikeStringUseEscapeCharacter(u"Riverside", u"side", false) != true) ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace qn
