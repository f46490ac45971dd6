#include <gtest/gtest.h>
#include <qn/host.h>

#include "support/test_support.h"

namespace qn {
namespace {

using Policy = QNUtilities::FatalErrorPolicy;

TEST(FatalErrorPolicyTest, RaiseIsTheDefaultAndThrowsTheGivenNameAndText) {
    EXPECT_EQ(QNUtilities::fatalErrorPolicy(), Policy::kRaise);
    test::ScopedCapturingLogger log;
    bool ran = false;
    try {
        QNUtilities::tryRecoverFatalError(u"Collection.Item() argument was out of range (5).",
                                          QNUtilities::kRangeExceptionName, [&] {
                                              ran = true;
                                              return true;
                                          });
        FAIL() << "nothing was thrown";
    } catch (const FatalError& e) {
        EXPECT_EQ(e.name(), u"NSRangeException");
        EXPECT_EQ(e.reason(), u"Collection.Item() argument was out of range (5).");
        EXPECT_NE(std::string(e.what()).find("out of range (5)"), std::string::npos);
    }
    EXPECT_FALSE(ran) << "the recovery block must not run when raising";
    EXPECT_TRUE(log->contains(u"out of range (5)"));

    EXPECT_THROW(QNUtilities::tryRecoverFatalError(u"plain"), FatalError);
    try {
        QNUtilities::tryRecoverFatalErrorWithExceptionName(u"x", u"");
    } catch (const FatalError& e) {
        EXPECT_EQ(e.name(), QNUtilities::kGenericExceptionName)
            << "an empty name gets the generic one";
    }
}

TEST(FatalErrorPolicyTest, RecoverLogsRunsTheBlockAndReturnsItsAnswer) {
    test::ScopedFatalErrorPolicy recover(Policy::kRecover);
    test::ScopedCapturingLogger log;
    int runs = 0;
    EXPECT_FALSE(QNUtilities::tryRecoverFatalErrorWithRecoveryBlock(u"no item", [&] {
        ++runs;
        return false;
    }));
    EXPECT_TRUE(QNUtilities::tryRecoverFatalErrorWithExceptionNameRecoveryBlock(
        u"made one", QNUtilities::kRangeExceptionName, [&] {
            ++runs;
            return true;
        }));
    EXPECT_TRUE(QNUtilities::tryRecoverFatalError(u"no block at all"));
    EXPECT_EQ(runs, 2);
    auto lines = log->lines();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines)
        EXPECT_EQ(line.level, QNLogLevelError);
    EXPECT_NE(lines[1].text.find(u"NSRangeException"), String::npos);
}

TEST(FatalErrorPolicyTest, AbstractOperationsRaiseInvalidArgument) {
    try {
        throw InvalidArgumentException::mustBeOverridden("execute");
    } catch (const FatalError& e) {
        EXPECT_EQ(e.name(), u"NSInvalidArgumentException");
        EXPECT_EQ(e.reason(), u"execute must be overridden in a subclass.");
    }
}

TEST(UtilitiesTest, TextOfObjects) {
    EXPECT_EQ(QNUtilities::stringFromObject(Value(u"abc")), u"abc");
    EXPECT_EQ(QNUtilities::stringFromObject(Value(12)), u"12");
    EXPECT_EQ(QNUtilities::stringFromObject(Value()), u"");
    EXPECT_EQ(QNUtilities::stringFromObject(Value::null()), u"");
    EXPECT_FALSE(QNUtilities::nonEmptyStringFromObject(Value(u"")));
    EXPECT_FALSE(QNUtilities::nonEmptyStringFromObject(Value()));
    EXPECT_EQ(QNUtilities::nonEmptyStringFromObject(Value(u" ")), u" ");
}

TEST(UtilitiesTest, SplitAtTheFirstOccurrenceOnly) {
    String left = u"keep", right = u"keep";
    EXPECT_TRUE(QNUtilities::splitStringByFirstOcurrenceOfStringToLeftAndRigth(u"a=b=c", u"=", left,
                                                                               right));
    EXPECT_EQ(left, u"a");
    EXPECT_EQ(right, u"b=c");
    EXPECT_TRUE(
        QNUtilities::splitStringByFirstOcurrenceOfStringToLeftAndRigth(u"=x", u"=", left, right));
    EXPECT_EQ(left, u"");
    EXPECT_EQ(right, u"x");
    left = right = u"keep";
    EXPECT_FALSE(
        QNUtilities::splitStringByFirstOcurrenceOfStringToLeftAndRigth(u"abc", u"::", left, right));
    EXPECT_FALSE(
        QNUtilities::splitStringByFirstOcurrenceOfStringToLeftAndRigth(u"abc", u"", left, right));
    EXPECT_EQ(left, u"keep") << "outputs untouched when not found";
}

TEST(UtilitiesTest, CharsetNamesMapToEncodings) {
    auto utf8 = QNUtilities::stringEncodingFromCharsetString(u"utf8");
    ASSERT_TRUE(utf8);
    EXPECT_TRUE(utf8->isUTF8());
    EXPECT_TRUE(QNUtilities::stringEncodingFromCharsetString(u" \"UTF-8\" ")->isUTF8());
    EXPECT_TRUE(QNUtilities::stringEncodingFromCharsetString(u"utf-16")->isUTF16());
    EXPECT_TRUE(QNUtilities::stringEncodingFromCharsetString(u"UTF-16LE")->isUTF16());
    auto latin1 = QNUtilities::stringEncodingFromCharsetString(u"latin1");
    ASSERT_TRUE(latin1);
    EXPECT_EQ(latin1, QNUtilities::stringEncodingFromCharsetString(u"ISO-8859-1"));
    EXPECT_EQ(QNUtilities::stringEncodingFromCharsetString(u"windows-1252")->name(),
              "windows-1252");
    EXPECT_FALSE(QNUtilities::stringEncodingFromCharsetString(u"no-such-charset"));
    EXPECT_FALSE(QNUtilities::stringEncodingFromCharsetString(u""));
    EXPECT_FALSE(QNUtilities::stringEncodingFromCharsetString(u"utf\u00e98"));
    EXPECT_FALSE(QNUtilities::stringEncodingFromCharsetString(String(500, u'x')));
}

TEST(UtilitiesTest, PlaceholderSubstitution) {
    auto f = [](StringView format, std::vector<Value> values) {
        return QNUtilities::stringWithQNFormatValues(format, values);
    };
    EXPECT_EQ(f(u"%1-%2-%3", {Value(u"a"), Value(1), Value(u"")}), u"a-1-");
    EXPECT_EQ(f(u"%2 then %1", {Value(u"x"), Value(u"y")}), u"y then x");
    EXPECT_EQ(f(u"%1 and %3", {Value(u"a")}), u"a and #{3}")
        << "a placeholder without value stays braced";
    EXPECT_EQ(f(u"%12%", {}), u"#{12}%");
    EXPECT_EQ(f(u"100%", {Value(1)}), u"100%");
}

TEST(UtilitiesTest, URLEscaping) {
    EXPECT_EQ(QNUtilities::urlSimpleEscapeString(u"a b&c=d/\u00e9~"), u"a%20b%26c%3Dd%2F%C3%A9~");
    EXPECT_EQ(QNUtilities::urlFromMaybeEscapedURLString(u"https://h.example/a b?q=\u00e9&x=%41"),
              u"https://h.example/a%20b?q=%C3%A9&x=%41");
    EXPECT_EQ(QNUtilities::urlFromMaybeEscapedURLString(u"http://h/100%"), u"http://h/100%25");
    EXPECT_FALSE(QNUtilities::urlFromMaybeEscapedURLString(u"no scheme here"));
    EXPECT_FALSE(QNUtilities::urlFromMaybeEscapedURLString(u"1http://x"));
    EXPECT_FALSE(QNUtilities::urlFromMaybeEscapedURLString(u"mailto:"));
    EXPECT_FALSE(QNUtilities::urlFromMaybeEscapedURLString(u""));
}

TEST(UtilitiesTest, ShortDateCodesBecomeSlashPatterns) {
    EXPECT_EQ(qnDateFormatForShortQNFormat(u"YMD"), u"yy/MM/dd");
    EXPECT_EQ(qnDateFormatForShortQNFormat(u"MDY"), u"MM/dd/yy");
    EXPECT_EQ(qnDateFormatForShortQNFormat(u"DMY"), u"dd/MM/yy");
    EXPECT_EQ(qnDateFormatForShortQNFormat(u"Y4MD"), u"yyyy/MM/dd");
    EXPECT_EQ(qnDateFormatForShortQNFormat(u"MDY4"), u"MM/dd/yyyy");
    EXPECT_EQ(qnDateFormatForShortQNFormat(u"DMY4"), u"dd/MM/yyyy");
    EXPECT_FALSE(qnDateFormatForShortQNFormat(u"dmy"));
    EXPECT_FALSE(qnDateFormatForShortQNFormat(u""));
}

TEST(UtilitiesTest, DeviceNameAndBackupExclusion) {
    EXPECT_FALSE(QNUtilities::deviceName().empty());
    test::TempDir dir;
    EXPECT_TRUE(QNUtilities::excludePathFromBackup(dir.path().string()));
    EXPECT_FALSE(QNUtilities::excludePathFromBackup((dir.path() / "missing").string()));
}

}  // namespace
}  // namespace qn
