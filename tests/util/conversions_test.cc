// QNutil's conversions: value lists, wrapping, links, dynamic comparison,
// JSON from string collections, messages, the workstation name, Base64 text
// and the UUID helpers.
#include <qn/core/json.h>
#include <qn/host/entity_helper.h>
#include <qn/host/environment.h>
#include <qn/host/log.h>
#include <qn/host/model.h>
#include <qn/host/utilities.h>
#include <qn/util/qnutil.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "support/test_support.h"

namespace qn {
namespace {

using test::ScopedBundle;
using test::TempDir;

Ref<QNObjectCollection> collectionOf(std::vector<Value> items) {
    return QNObjectCollection::initWithArray(items);
}

std::vector<String> wrap(StringView text, std::int64_t width) {
    std::vector<String> lines;
    const std::int64_t count = QNutil::qnMLines(text, width);
    for (std::int64_t i = 1; i <= count; ++i)
        lines.push_back(QNutil::qnGetMLine(text, i, width));
    return lines;
}

TEST(ValueListTest, QuotesAreDoubledAndItemsSeparated) {
    auto names = collectionOf({Value(u"O'Brien"), Value(u"a'); DROP TABLE t; --"), Value(u"")});
    EXPECT_EQ(QNutil::toValueList(u"", *names, u"(", u")"),
              u"('O''Brien', 'a''); DROP TABLE t; --', '')");
    EXPECT_EQ(QNutil::toValueListForDBMS(u"", *names, u"(", u")"),
              u"('O''Brien', 'a''); DROP TABLE t; --', '')");

    auto when = DateTime::fromCivilUTC({2026, 3, 4, 5, 6, 7, 890});
    auto mixed = collectionOf(
        {Value(std::int64_t{1}), Value(Decimal::fromString("2.50")), Value(when), Value(u"x")});
    EXPECT_EQ(QNutil::toValueListForDBMS(u"", *mixed, u"IN (", u")"),
              u"IN (1, 2.5, '2026-03-04 05:06:07.890', 'x')");
    EXPECT_EQ(QNutil::toValueList(u"", *mixed, u"(", u")"),
              u"('1', '2.5', '2026-03-04 05:06:07.890', 'x')");

    auto empty = QNObjectCollection::init();
    EXPECT_EQ(QNutil::toValueList(u"", *empty, u"(", u")"), u"1 = 0");
    EXPECT_EQ(QNutil::toValueListForDBMS(u"", *empty, u"(", u")"), u"1 == 0");
}

TEST(WrapTest, BlanksStayAtLineEndsAndEmptyParagraphsGiveNoLine) {
    EXPECT_EQ(wrap(u"the quick brown fox", 10), (std::vector<String>{u"the quick ", u"brown fox"}));
    EXPECT_EQ(QNutil::qnGetMLine(u"the quick brown fox", 3, 10), u"");
    EXPECT_EQ(QNutil::qnGetMLine(u"the quick brown fox", 0, 10), u"");
    EXPECT_EQ(wrap(u"a\n\nb", 5), (std::vector<String>{u"a", u"b"}));
    EXPECT_EQ(wrap(u"abcdefghijkl", 5), (std::vector<String>{u"abcde", u"fghij", u"kl"}));
    EXPECT_EQ(wrap(u"a\tbcdef", 3), (std::vector<String>{u"a\t", u"bcd", u"ef"}));
    EXPECT_EQ(QNutil::qnMLines(u"anything", 0), 0);
    EXPECT_EQ(QNutil::qnMLines(u"anything", -3), 0);
    EXPECT_EQ(QNutil::qnMLines(u"", 5), 0);
}

TEST(WrapTest, CarriageReturnLineFeedIsOneBreak) {
    EXPECT_EQ(wrap(u"ab\r\ncd\r\n\r\nef", 10), (std::vector<String>{u"ab", u"cd", u"ef"}));
    // A carriage return on its own is text.
    EXPECT_EQ(wrap(u"ab\rcd", 10), (std::vector<String>{u"ab\rcd"}));
}

TEST(WrapTest, SurrogatePairsAreNeverCut) {
    const String face = u"\U0001F600";  // two code units
    EXPECT_EQ(wrap(u"abcd" + face + u"ef", 5), (std::vector<String>{u"abcd", face + u"ef"}));
    // A line one unit long cannot hold the pair: it takes it whole.
    EXPECT_EQ(wrap(face + face + u"a", 1), (std::vector<String>{face, face, u"a"}));
    EXPECT_EQ(wrap(u"a" + face, 1), (std::vector<String>{u"a", face}));
}

// Random texts of letters, blanks, tabs, breaks and emoji: the lines give back
// every character but the breaks, in order, no line is longer than allowed,
// and no line starts or ends inside a pair.
TEST(WrapTest, RandomTextsLoseNothing) {
    std::mt19937 rng(7);
    const std::vector<StringView> pieces = {u"a",  u"b",    u" ",          u"\t",
                                            u"\n", u"\r\n", u"\U0001F600", u"\u00e9"};
    for (int round = 0; round < 500; ++round) {
        String text;
        const int length = static_cast<int>(rng() % 60);
        for (int i = 0; i < length; ++i)
            text += pieces[rng() % pieces.size()];
        const std::int64_t width = 1 + static_cast<std::int64_t>(rng() % 8);

        String expected;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == u'\n') continue;
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
            expected.push_back(text[i]);
        }
        String joined;
        for (const String& line : wrap(text, width)) {
            ASSERT_FALSE(line.empty());
            const bool endsWithBlank = line.back() == u' ' || line.back() == u'\t';
            ASSERT_LE(line.size(), static_cast<std::size_t>(width) + (endsWithBlank ? 1 : 0) +
                                       (width == 1 ? 1 : 0))
                << toUtf8(text);
            ASSERT_FALSE(line.front() >= 0xDC00 && line.front() <= 0xDFFF) << toUtf8(text);
            ASSERT_FALSE(line.back() >= 0xD800 && line.back() <= 0xDBFF) << toUtf8(text);
            joined += line;
        }
        ASSERT_EQ(joined, expected) << toUtf8(text) << " at " << width;
    }
}

TEST(LinkTest, ObjectLinksTakeStringParametersAndTheHostMayAnswerFirst) {
    const std::vector<Value> numbers = {Value(u"1"), Value(u"2")};
    EXPECT_EQ(QNutil::formatLink(u"sd:Panel", numbers), u"sd:Panel1,2");
    EXPECT_EQ(QNutil::formatLink(u"prc:Run&x", numbers), u"prc:Run&x,1,2");
    EXPECT_EQ(QNutil::formatLink(u"wbp:Home", std::vector<Value>{Value(u"1"), Value(2)}),
              u"wbp:Home");
    EXPECT_EQ(QNutil::formatLink(u"sdsynchro:All"), u"sdsynchro:All");
    EXPECT_EQ(QNutil::formatLink(u"http://example.com", numbers), u"");

    QNEntityHelper::setWebPanelURLProvider(
        [](StringView name, const std::vector<Value>* parameters) -> std::optional<String> {
            if (name != u"Home") return std::nullopt;
            return String(u"https://app.example/home?") +
                   String(parameters ? parameters->front().asString() : String(u"none"));
        });
    EXPECT_EQ(QNutil::formatLink(u"Home", numbers), u"https://app.example/home?1");
    EXPECT_EQ(QNutil::formatLink(u"Home"), u"https://app.example/home?none");
    EXPECT_EQ(QNutil::formatLink(u"sd:Panel", numbers), u"sd:Panel1,2");
    QNEntityHelper::setWebPanelURLProvider(nullptr);
    EXPECT_EQ(QNutil::formatLink(u"Home"), u"");
}

TEST(DynamicCompareTest, MismatchedKindsAreUnorderedNeverAFailure) {
    EXPECT_TRUE(QNutil::dynamicCompare(Value(u"b"), u">", Value(u"a")));
    EXPECT_FALSE(QNutil::dynamicCompare(Value(u"b"), u"between", Value(u"a")));
    // A string against a non-string compares with "".
    EXPECT_TRUE(QNutil::dynamicCompare(Value(u"b"), u">", Value(5)));
    EXPECT_TRUE(QNutil::dynamicCompare(Value(u""), u"=", Value()));

    EXPECT_TRUE(QNutil::dynamicCompare(Value(2), u"<", Value(Decimal::fromString("2.5"))));
    EXPECT_TRUE(QNutil::dynamicCompare(Value(2.0), u"=", Value(std::int64_t{2})));
    for (StringView op : {u"<", u"<=", u">", u">=", u"="}) {
        EXPECT_FALSE(QNutil::dynamicCompare(Value(5), op, Value(u"5"))) << toUtf8(op);
        EXPECT_FALSE(QNutil::dynamicCompare(Value(5), op, Value())) << toUtf8(op);
        EXPECT_FALSE(
            QNutil::dynamicCompare(Value(std::numeric_limits<double>::quiet_NaN()), op, Value(1)))
            << toUtf8(op);
    }
    EXPECT_TRUE(QNutil::dynamicCompare(Value(5), u"<>", Value(u"5")));
    EXPECT_TRUE(QNutil::dynamicCompare(Value(), u"<>", Value()));

    EXPECT_TRUE(QNutil::dynamicCompare(Value(u"hello"), u"like", Value(u"he%")));
    EXPECT_FALSE(QNutil::dynamicCompare(Value(5), u"like", Value(u"%")));
    EXPECT_FALSE(QNutil::dynamicCompare(Value(u"5"), u"like", Value(5)));

    const auto early = DateTime::fromCivilUTC({2026, 1, 1, 0, 0, 0, 0});
    const auto late = DateTime::fromCivilUTC({2026, 1, 2, 0, 0, 0, 0});
    EXPECT_TRUE(QNutil::dynamicCompare(Value(early), u"<", Value(late)));
    EXPECT_FALSE(QNutil::dynamicCompare(Value(early), u"<", Value(1)));
}

TEST(UUIDHelpersTest, TextInEitherCaseIsTheSameUUID) {
    const QNUUID id = QNUUID::fromString(u"0F8FAD5B-D9CB-469F-A165-70867728950E").value();
    const Value lower(u"0f8fad5b-d9cb-469f-a165-70867728950e");
    EXPECT_EQ(QNUUIDHelpers::compare(id, lower), 0);
    EXPECT_EQ(QNUUIDHelpers::compare(id, Value(id)), 0);
    EXPECT_EQ(QNUUIDHelpers::compare(id, Value(u"1")), -1);
    EXPECT_EQ(QNUUIDHelpers::compare(id, Value(u"0")), 1);
    EXPECT_EQ(QNUUIDHelpers::compare(id, Value(5)), -1);
    EXPECT_EQ(QNUUIDHelpers::qnCompare(lower, Value(id)), 0);
    EXPECT_EQ(QNUUIDHelpers::qnCompare(Value(u"1"), Value(id)), 1);
    EXPECT_EQ(QNUUIDHelpers::qnCompare(Value(2), Value(1)), 1);
    EXPECT_TRUE(QNutil::dynamicCompare(Value(id), u"=", lower));

    EXPECT_EQ(QNUUIDHelpers::fromObject(lower), id);
    EXPECT_EQ(QNUUIDHelpers::fromObject(Value(id)), id);
    EXPECT_TRUE(QNUUIDHelpers::qnIsEmpty(QNUUIDHelpers::fromObject(Value(u"not a uuid"))));
    EXPECT_TRUE(QNUUIDHelpers::qnIsEmpty(QNUUIDHelpers::fromObject(Value(3))));
    EXPECT_TRUE(QNUUIDHelpers::qnObjectIsNull(Value()));
    EXPECT_FALSE(QNUUIDHelpers::qnObjectIsNull(Value::null()));
}

TEST(JSONFromCollectionsTest, CodesAndDescriptionsAreEscapedStrings) {
    auto codes = collectionOf({Value(u"1"), Value(u"2")});
    auto descriptions = collectionOf({Value(u"x \"quoted\""), Value(u"y\\\n")});
    const String text = QNutil::stringCollectionsToJSONWithCodes(*codes, *descriptions);
    EXPECT_EQ(text, u"[[\"1\",\"x \\\"quoted\\\"\"],[\"2\",\"y\\\\\\n\"]]");
    // Whatever the descriptions hold, the text is JSON that reads back to them.
    auto parsed = QNJSON::parse(StringView(text));
    ASSERT_TRUE(parsed);
    ASSERT_TRUE(parsed->isArray());
    EXPECT_EQ(parsed->asArray()->at(1).asArray()->at(1).asString(), u"y\\\n");

    auto none = QNObjectCollection::init();
    EXPECT_EQ(QNutil::stringCollectionsToJSONWithCodes(*none, *collectionOf({Value(u"a")})),
              u"[\"a\"]");
    EXPECT_EQ(QNutil::stringCollectionsToJSONArray(*codes, *none)->jsonStr(), u"[]");
}

TEST(MessagesTest, StatusGoesToAnInstalledLoggerOnce) {
    test::ScopedCapturingLogger log;
    QNutil::msgStatus(u"syncing 3 of 9");
    QNutil::msg(u"console only");
    const auto lines = log->lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, u"syncing 3 of 9");
    EXPECT_EQ(lines[0].type, 0);
    EXPECT_EQ(lines[0].level, 5);
    EXPECT_FALSE(lines[0].console);
}

TEST(WorkstationTest, StoredNameElseDeviceNameAndAFailedStoreAnswersZero) {
    TempDir dir;
    test::writeSampleBundle(dir);
    ScopedBundle bundle(dir.path());
    EXPECT_EQ(QNutil::workstationName(), QNUtilities::deviceName());
    EXPECT_EQ(QNutil::setWorkstationName(std::nullopt), 0);
    EXPECT_EQ(QNutil::setWorkstationName(u"counter-7"), 1);
    QNModel::currentModel().reloadUserData();
    EXPECT_EQ(QNutil::workstationName(), u"counter-7");

    test::ScopedCapturingLogger log;
    bundle.storage().write("blocked", "not a folder");
    QNObjectsModelServices::applicationStorageService().setApplicationSupportDirectory(
        bundle.storage().path() / "blocked" / "x");
    EXPECT_EQ(QNutil::setWorkstationName(u"counter-8"), 0);
    EXPECT_EQ(QNutil::workstationName(), u"counter-7");
}

TEST(SmallConversionsTest, BooleansColoursAndBase64Text) {
    EXPECT_EQ(QNutil::boolToStr(Value(2)), u"true");
    EXPECT_EQ(QNutil::boolToStr(Value(u"no")), u"false");
    EXPECT_TRUE(QNutil::strToBool(u"Yes"));
    EXPECT_FALSE(QNutil::strToBool(u"no"));
    EXPECT_EQ(QNutil::qniif(Value(1), Value(u"a"), Value(2)).asString(), u"a");
    EXPECT_EQ(QNutil::qniif(Value(), Value(u"a"), Value(2)).integerValue(), 2);

    EXPECT_EQ(QNutil::colorValueFromRGB(300, -5, 128), 16711808);
    EXPECT_EQ(QNutil::colorValueFromRGB(1, 2, 3), 66051);

    EXPECT_EQ(QNPrivateUtilities::toBase64(u"h\u00e9llo"), u"aMOpbGxv");
    EXPECT_EQ(QNPrivateUtilities::fromBase64(u"aMOpbGxv"), u"h\u00e9llo");
    EXPECT_FALSE(QNPrivateUtilities::fromBase64(u"aMOpbGxv\n"));
    EXPECT_FALSE(QNPrivateUtilities::fromBase64(u"/w=="));  // 0xFF is no UTF-8
}

}  // namespace
}  // namespace qn
