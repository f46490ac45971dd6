#include <qn/util.h>

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

namespace qn {
namespace {

std::vector<std::string> texts(const Ref<QNObjectCollection>& collection) {
    std::vector<std::string> out;
    for (const Value& item : collection->items())
        out.push_back(toUtf8(item.asString()));
    return out;
}

// Each match as its value followed by its groups.
std::vector<std::vector<std::string>> matchesOf(const Ref<QNObjectCollection>& collection) {
    std::vector<std::vector<std::string>> out;
    for (const Value& item : collection->items()) {
        const auto match = std::dynamic_pointer_cast<QNRegExMatch>(item.asObject());
        if (!match || !match->groups()) {
            out.push_back({"(not a match with groups)"});
            continue;
        }
        out.push_back({toUtf8(match->value())});
        for (const std::string& group : texts(match->groups()))
            out.back().push_back(group);
    }
    return out;
}

// ICU's own matcher over the whole text: the oracle for matches and split.
std::vector<std::vector<std::string>> icuMatches(const String& text, const String& pattern) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString input(text.data(), int32_t(text.size()));
    icu::RegexMatcher matcher(icu::UnicodeString(pattern.data(), int32_t(pattern.size())), input, 0,
                              status);
    std::vector<std::vector<std::string>> out;
    while (matcher.find(status)) {
        out.emplace_back();
        for (int32_t g = 0; g <= matcher.groupCount(); ++g) {
            std::string piece;
            matcher.group(g, status).toUTF8String(piece);
            out.back().push_back(piece);
        }
    }
    EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
    return out;
}

std::vector<std::string> icuSplit(const String& text, const String& pattern) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString input(text.data(), int32_t(text.size()));
    icu::RegexMatcher matcher(icu::UnicodeString(pattern.data(), int32_t(pattern.size())), input, 0,
                              status);
    std::vector<std::string> out;
    int64_t cursor = 0;
    auto add = [&](int64_t end) {
        if (end > cursor) out.push_back(toUtf8(StringView(text).substr(cursor, end - cursor)));
    };
    while (matcher.find(status)) {
        add(matcher.start64(status));
        cursor = matcher.end64(status);
    }
    add(int64_t(text.size()));
    return out;
}

void expectNoError() {
    EXPECT_EQ(QNRegEx::lastErrorCode(), 0);
    EXPECT_EQ(QNRegEx::lastErrorDescription(), u"");
}

void expectError(UErrorCode code) {
    const QNRegExError error = QNRegEx::lastError();
    EXPECT_EQ(error.code, code);
    EXPECT_EQ(toUtf8(error.description).rfind(u_errorName(code), 0), 0u)
        << toUtf8(error.description);
}

using Strings = std::vector<std::string>;
using Matches = std::vector<std::vector<std::string>>;

TEST(RegEx, SplitDropsEveryEmptyPiece) {
    EXPECT_EQ(texts(QNRegEx::splitTextRegExp(u"a,,b", u",")), (Strings{"a", "b"}));
    EXPECT_EQ(texts(QNRegEx::splitTextRegExp(u",a,", u",")), (Strings{"a"}));
    EXPECT_EQ(texts(QNRegEx::splitTextRegExp(u"", u",")), Strings{});
    EXPECT_EQ(texts(QNRegEx::splitTextRegExp(u",,,", u",")), Strings{});
    EXPECT_EQ(texts(QNRegEx::splitTextRegExp(u"abc", u"x")), (Strings{"abc"}));
    // Groups play no part; empty matches cut between characters.
    EXPECT_EQ(texts(QNRegEx::split(u"a1b22c", u"(\\d)+")), (Strings{"a", "b", "c"}));
    EXPECT_EQ(texts(QNRegEx::split(u"abc", u"x*")), (Strings{"a", "b", "c"}));
    expectNoError();
}

TEST(RegEx, MatchesCarryEveryGroupInOrder) {
    EXPECT_EQ(matchesOf(QNRegEx::matchInTextRegExp(u"x1y22", u"([a-z])(\\d+)")),
              (Matches{{"x1", "x", "1"}, {"y22", "y", "22"}}));
    // No groups: each match has an empty group list, not none.
    EXPECT_EQ(matchesOf(QNRegEx::matches(u"a1b2", u"\\d")), (Matches{{"1"}, {"2"}}));
    // A group that takes no part keeps its place as "".
    EXPECT_EQ(matchesOf(QNRegEx::matches(u"b", u"(a)?(b)|(c)")), (Matches{{"b", "", "b", ""}}));
    EXPECT_EQ(matchesOf(QNRegEx::matches(u"", u"x")), Matches{});

    const auto match = QNRegExMatch::initWithValueGroups(
        u"x1", makeRef<QNStringCollection>(std::vector<String>{u"x", u"1"}));
    EXPECT_EQ(match->debugDescription(),
              u"<<QNRegExMatch>\n\tvalue: x1\n\tgroups: <<QNStringCollection>\n\titems: (x, 1)>>");
}

TEST(RegEx, ResultsAgreeWithIcusOwnMatcher) {
    const struct {
        String text, pattern;
    } cases[] = {
        {u"one two  three", u"\\s+"},
        {u"line1\nline2\r\nend", u"^\\w+$"},  // no multi-line: ^ $ at the text's ends
        {u"a\nb", u"a.b"},                    // "." does not take a line end
        {u"Abc abc ABC", u"abc"},             // case-sensitive
        {u"aaa", u"\\Ga"},                    // \G: where the last match ended
        {u"price: 10 EUR, 20 USD", u"(?<=\\s)(\\d+)\\s(?<cur>[A-Z]{3})"},
        {u"baaa", u"a*"},  // empty matches between the others
        {u"k1=v1;k2=;=v3", u"(\\w*)=(\\w*)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.pattern));
        EXPECT_EQ(matchesOf(QNRegEx::matchInTextRegExp(c.text, c.pattern)),
                  icuMatches(c.text, c.pattern));
        EXPECT_EQ(texts(QNRegEx::splitTextRegExp(c.text, c.pattern)), icuSplit(c.text, c.pattern));
        EXPECT_EQ(QNRegEx::isMatchInTextRegExp(c.text, c.pattern),
                  !icuMatches(c.text, c.pattern).empty());
    }
}

TEST(RegEx, PositionsCountUtf16UnitsAcrossSurrogatePairs) {
    // U+1F600 is two code units; a group after it must not be read one unit early.
    EXPECT_EQ(matchesOf(QNRegEx::matches(u"\U0001F600x1\U0001F600y2", u"([a-z])(\\d)")),
              (Matches{{"x1", "x", "1"}, {"y2", "y", "2"}}));
    EXPECT_EQ(texts(QNRegEx::split(u"a\U0001F600b\U0001F600\U0001F600c", u"\U0001F600")),
              (Strings{"a", "b", "c"}));
    // "." and empty matches take a whole pair, never half of one.
    EXPECT_EQ(matchesOf(QNRegEx::matches(u"\U0001F600", u".")), (Matches{{"\U0001F600"}}));
    const auto pieces = QNRegEx::split(u"\U0001F600\U0001F601", u"");
    ASSERT_EQ(pieces->count(), 2u);
    EXPECT_EQ(pieces->items()[0].asString(), u"\U0001F600");
    EXPECT_EQ(QNRegEx::replace(u"\U0001F600a\U0001F600", u"a", u"[$0]"),
              u"\U0001F600[a]\U0001F600");
}

TEST(RegEx, ReplaceUsesGroupsAndEscapes) {
    EXPECT_EQ(QNRegEx::replaceInTextRegExpWith(u"2024-01-31", u"(\\d+)-(\\d+)-(\\d+)", u"$3/$2/$1"),
              u"31/01/2024");
    EXPECT_EQ(QNRegEx::replace(u"a-b", u"-", u"\\$1"), u"a$1b");
    EXPECT_EQ(QNRegEx::replace(u"abc", u"x", u"y"), u"abc");
    expectNoError();
}

TEST(RegEx, BadPatternGivesEmptyResultsAndIcusErrorUntilTheNextGoodCall) {
    // Twice each: the second time the refusal comes from the per-thread cache.
    for (int round = 0; round < 2; ++round) {
        EXPECT_FALSE(QNRegEx::isMatchInTextRegExp(u"(", u"("));
        expectError(U_REGEX_MISMATCHED_PAREN);
        EXPECT_EQ(QNRegEx::qnIsMatchRegExp(u"(", u"(").kind(), ValueKind::kBool);
        EXPECT_EQ(QNRegEx::matchInTextRegExp(u"(a", u"(")->count(), 0u);
        EXPECT_EQ(QNRegEx::splitTextRegExp(u"a(b", u"(")->count(), 0u);
        EXPECT_EQ(QNRegEx::replaceInTextRegExpWith(u"a(b", u"(", u"x"), u"a(b");
        expectError(U_REGEX_MISMATCHED_PAREN);
        EXPECT_NE(QNRegEx::lastErrorDescription().find(u"offset 1"), String::npos);

        EXPECT_TRUE(QNRegEx::isMatchInTextRegExp(u"(", u"\\("));
        expectNoError();
    }
    QNRegEx::splitTextRegExp(u"a", u"[");
    EXPECT_NE(QNRegEx::lastErrorCode(), 0);
    QNRegEx::resetErrorCodeAndDescription();
    expectNoError();
}

TEST(RegEx, BadTemplateLeavesTheTextUnchanged) {
    // ICU stops at the bad reference with the text made so far ("[b][").
    EXPECT_EQ(QNRegEx::replaceInTextRegExpWith(u"abab", u"(b)", u"[$5]"), u"abab");
    expectError(U_INDEX_OUTOFBOUNDS_ERROR);
    EXPECT_EQ(QNRegEx::replaceInTextRegExpWith(u"abab", u"(b)", u"[${1}]"), u"abab");
    expectError(U_REGEX_INVALID_CAPTURE_GROUP_NAME);
    // The same pattern's cached matcher serves the next call.
    EXPECT_EQ(QNRegEx::replaceInTextRegExpWith(u"abab", u"(b)", u"[$1]"), u"a[b]a[b]");
    expectNoError();
}

TEST(RegEx, RunawayBacktrackingStopsWithTheTimeOutError) {
    const String text = String(40, u'a') + u"b";
    const String pattern = u"(a+)+$";
    EXPECT_FALSE(QNRegEx::isMatchInTextRegExp(text, pattern));
    expectError(U_REGEX_TIME_OUT);
    EXPECT_EQ(QNRegEx::replaceInTextRegExpWith(text, pattern, u"x"), text);
    expectError(U_REGEX_TIME_OUT);
    EXPECT_EQ(QNRegEx::splitTextRegExp(u"aa" + text, pattern)->count(), 0u);
    expectError(U_REGEX_TIME_OUT);
    // The matcher that ran out serves the next text, with a fresh budget.
    EXPECT_TRUE(QNRegEx::isMatchInTextRegExp(u"aaa", pattern));
    expectNoError();
}

TEST(RegEx, LongTextsGetABudgetInProportion) {
    // Each start in a long word backtracks through the rest of it: about
    // fifty engine steps per unit, twice the fixed allowance in all.
    String text;
    while (text.size() < 200000)
        text += String(50, u'w') + u" k=1 ";
    const auto found = QNRegEx::matchInTextRegExp(text, u"(\\w+)\\s*=\\s*(\\d+)");
    expectNoError();
    EXPECT_EQ(found->count(), text.size() / 55);
}

TEST(RegEx, ManyPatternsOnOneThreadStayCorrect) {
    // More patterns than the cache holds, each used again after eviction,
    // and one too long to be cached at all.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 100; ++i) {
            const String n = asciiString(std::to_string(i));
            ASSERT_EQ(texts(QNRegEx::split(u"a" + n + u"b" + n + u"c", u"\\Q" + n + u"\\E")),
                      (Strings{"a", "b", "c"}));
        }
    }
    const String longPattern = u"x|" + String(5000, u'y');
    EXPECT_EQ(texts(QNRegEx::split(u"1x2", longPattern)), (Strings{"1", "2"}));
}

TEST(RegEx, ConcurrentCallersGetTheirOwnResultsAndWholeErrorPairs) {
    constexpr int kThreads = 6;
    constexpr int kRounds = 300;
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    std::vector<int> wrong(kThreads, 0);
    // Read by every thread at once: its groups are made on first use.
    const auto shared = QNRegEx::matches(u"a1b2", u"([a-z])(\\d)");
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            wrong[t] += matchesOf(shared) != Matches{{"a1", "a", "1"}, {"b2", "b", "2"}};
            for (int i = 0; i < kRounds; ++i) {
                const String n = asciiString(std::to_string(t * 1000 + i));
                switch ((t + i) % 4) {
                    case 0:
                        wrong[t] += texts(QNRegEx::split(n + u";" + n, u";")) !=
                                    Strings{toUtf8(n), toUtf8(n)};
                        break;
                    case 1:
                        wrong[t] += QNRegEx::replace(n, u"(\\d)(\\d*)", u"$2$1") !=
                                    n.substr(1) + n.substr(0, 1);
                        break;
                    case 2:
                        wrong[t] +=
                            QNRegEx::isMatch(n, u"(") || QNRegEx::replace(n, u"(\\d)", u"$7") != n;
                        break;
                    default:
                        wrong[t] += matchesOf(QNRegEx::matches(u"k=" + n, u"(\\w)=(\\d+)")) !=
                                    Matches{{"k=" + toUtf8(n), "k", toUtf8(n)}};
                }
                // Whatever call of whichever thread came last, code and text
                // belong to the same failure.
                const QNRegExError error = QNRegEx::lastError();
                const std::string description = toUtf8(error.description);
                const bool whole = (error.code == 0 && description.empty()) ||
                                   (error.code == U_REGEX_MISMATCHED_PAREN &&
                                    description.rfind("U_REGEX_MISMATCHED_PAREN", 0) == 0) ||
                                   (error.code == U_INDEX_OUTOFBOUNDS_ERROR &&
                                    description == "U_INDEX_OUTOFBOUNDS_ERROR");
                wrong[t] += !whole;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
}

}  // namespace
}  // namespace qn
