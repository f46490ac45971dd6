// Errors (QNError, the per-thread error lists, fatal errors and their
// policy) and the host's small utilities.
#include <qn/host.h>
#include <qn/host/errors.h>

#include "support/test_support.h"

namespace qn {
namespace {

using Policy = QNUtilities::FatalErrorPolicy;
using Fields = std::tuple<String, std::int64_t, String, String>;

Fields fields(const QNError& e) {
    return {e.domain(), e.code(), e.localizedDescription(), e.developerDescription()};
}

// The user keeps seeing the generic text; the developer sees the detail.
TEST(QNErrorTest, DeveloperDetailNeverReachesTheUser) {
    const String generic = u"An unexpected error has occurred.";
    EXPECT_EQ(fields(QNError::defaultQNErrorWithDeveloperDescription(u"socket closed")),
              Fields(u"QNErrorDomain", -1, generic, u"socket closed"));
}

// Codes of the current thread's errors, in order.
std::vector<std::int64_t> codes() {
    std::vector<std::int64_t> result;
    for (const auto& error : QNThreadErrorHandler::errorHandler().errors())
        result.push_back(error.code());
    return result;
}

TEST(ThreadErrorHandlerTest, EachThreadKeepsItsOwnListInOrder) {
    auto& handler = QNThreadErrorHandler::errorHandler();
    handler.clear();
    constexpr int kThreads = 4;
    std::vector<std::vector<std::int64_t>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen] {
            auto& mine = QNThreadErrorHandler::errorHandler();
            for (int i = 0; i < 100; ++i) {
                mine.addErrorWithCodeDescription(t, u"mine");
                mine.addErrorWithCodeDescription(-1, u"removed");
                std::this_thread::yield();
            }
            mine.removeErrorsWithCode(-1);
            seen[t] = codes();
        });
    }

    EXPECT_EQ(handler.lastError(), nullptr);
    handler.addErrorWithCodeDescription(7, u"first seven");
    handler.addError(QNError(u"Other", 3, u"three"));
    handler.addErrorWithCodeDescription(7, u"second seven");
    handler.addErrorWithCodeDescription(9, u"nine");
    EXPECT_EQ(codes(), (std::vector<std::int64_t>{7, 3, 7, 9}));
    EXPECT_EQ(fields(handler.errors()[0]),
              Fields(u"QNErrorDomain", 7, u"first seven", u"first seven"));
    EXPECT_EQ(handler.lastError(), &handler.errors().back());
    // Every error with the code goes, whatever its domain or position; the
    // others keep their order.
    handler.removeErrorsWithCode(7);
    handler.removeErrorsWithCode(12345);
    EXPECT_EQ(codes(), (std::vector<std::int64_t>{3, 9}));

    for (auto& thread : threads)
        thread.join();
    // Each new thread started empty and saw only its own errors.
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(seen[t], std::vector<std::int64_t>(100, t));
    EXPECT_EQ(codes(), (std::vector<std::int64_t>{3, 9}));
    handler.clear();
}

TEST(FatalErrorTest, NameReasonAndUtf8What) {
    EXPECT_STREQ(FatalError(u"NSRangeException", u"index 3 \u2192 [0 .. 2]").what(),
                 "NSRangeException: index 3 \xE2\x86\x92 [0 .. 2]");
    const FatalError& overridden =
        InvalidArgumentException::mustBeOverridden("r\xC3\xA9sum\xC3\xA9");
    EXPECT_EQ(overridden.name(), u"NSInvalidArgumentException");
    EXPECT_EQ(overridden.reason(), u"r\u00e9sum\u00e9 must be overridden in a subclass.");
    EXPECT_STREQ(overridden.what(),
                 "NSInvalidArgumentException: r\xC3\xA9sum\xC3\xA9 must be overridden in a "
                 "subclass.");
}

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
        FAIL() << "nothing was thrown";
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

TEST(UtilitiesTest, TextOfObjectsAndSplitting) {
    EXPECT_EQ(QNUtilities::stringFromObject(Value(12)), u"12");
    EXPECT_EQ(QNUtilities::stringFromObject(Value()), u"");
    EXPECT_EQ(QNUtilities::stringFromObject(Value::null()), u"");
    EXPECT_FALSE(QNUtilities::nonEmptyStringFromObject(Value(u"")));
    EXPECT_FALSE(QNUtilities::nonEmptyStringFromObject(Value()));
    EXPECT_EQ(QNUtilities::nonEmptyStringFromObject(Value(u" ")), u" ");

    // At the first occurrence only; the outputs are untouched when not found.
    auto split = [](StringView text, StringView separator) {
        String left = u"keep", right = u"keep";
        const bool found = QNUtilities::splitStringByFirstOcurrenceOfStringToLeftAndRigth(
            text, separator, left, right);
        return std::tuple(found, left, right);
    };
    EXPECT_EQ(split(u"a=b=c", u"="), std::tuple(true, String(u"a"), String(u"b=c")));
    EXPECT_EQ(split(u"=x", u"="), std::tuple(true, String(u""), String(u"x")));
    EXPECT_EQ(split(u"abc", u"::"), std::tuple(false, String(u"keep"), String(u"keep")));
    EXPECT_EQ(split(u"abc", u""), std::tuple(false, String(u"keep"), String(u"keep")));
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
    for (const String& unknown :
         {String(u"no-such-charset"), String(u""), String(u"utf\u00e98"), String(500, u'x')})
        EXPECT_FALSE(QNUtilities::stringEncodingFromCharsetString(unknown)) << toUtf8(unknown);
}

TEST(UtilitiesTest, PlaceholderSubstitutionAndURLEscaping) {
    auto f = [](StringView format, std::vector<Value> values) {
        return QNUtilities::stringWithQNFormatValues(format, values);
    };
    EXPECT_EQ(f(u"%1-%2-%3", {Value(u"a"), Value(1), Value(u"")}), u"a-1-");
    EXPECT_EQ(f(u"%2 then %1", {Value(u"x"), Value(u"y")}), u"y then x");
    EXPECT_EQ(f(u"%1 and %3", {Value(u"a")}), u"a and #{3}")
        << "a placeholder without value stays braced";
    EXPECT_EQ(f(u"%12%", {}), u"#{12}%");
    EXPECT_EQ(f(u"100%", {Value(1)}), u"100%");

    EXPECT_EQ(QNUtilities::urlSimpleEscapeString(u"a b&c=d/\u00e9~"), u"a%20b%26c%3Dd%2F%C3%A9~");
    EXPECT_EQ(QNUtilities::urlFromMaybeEscapedURLString(u"https://h.example/a b?q=\u00e9&x=%41"),
              u"https://h.example/a%20b?q=%C3%A9&x=%41");
    EXPECT_EQ(QNUtilities::urlFromMaybeEscapedURLString(u"http://h/100%"), u"http://h/100%25");
    for (const char16_t* bad : {u"no scheme here", u"1http://x", u"mailto:", u""})
        EXPECT_FALSE(QNUtilities::urlFromMaybeEscapedURLString(bad)) << toUtf8(bad);
}

TEST(UtilitiesTest, BackupExclusion) {
    test::TempDir dir;
    EXPECT_TRUE(QNUtilities::excludePathFromBackup(dir.path().string()));
    EXPECT_FALSE(QNUtilities::excludePathFromBackup((dir.path() / "missing").string()));
}

}  // namespace
}  // namespace qn
