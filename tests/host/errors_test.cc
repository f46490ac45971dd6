#include <gtest/gtest.h>

#include <qn/host/errors.h>

#include <cstdint>
#include <thread>
#include <tuple>
#include <vector>

namespace qn {
namespace {

using Fields = std::tuple<String, std::int64_t, String, String>;

Fields fields(const QNError& e) {
    return {e.domain(), e.code(), e.localizedDescription(), e.developerDescription()};
}

TEST(QNErrorTest, DefaultsAndFactories) {
    const String generic = u"An unexpected error has occurred.";
    EXPECT_EQ(fields(QNError()), Fields(u"QNErrorDomain", -1, generic, generic));
    EXPECT_EQ(fields(QNError::defaultQNError()), fields(QNError()));
    // The user keeps seeing the generic text; the developer sees the detail.
    EXPECT_EQ(fields(QNError::defaultQNErrorWithDeveloperDescription(u"socket closed")),
              Fields(u"QNErrorDomain", -1, generic, u"socket closed"));
    EXPECT_EQ(fields(QNError::defaultQNErrorWithLocalizedDescription(u"Sin conexi\u00f3n")),
              Fields(u"QNErrorDomain", -1, u"Sin conexi\u00f3n", u"Sin conexi\u00f3n"));
    EXPECT_EQ(fields(QNError(u"Other", 42, u"user text", u"dev text")),
              Fields(u"Other", 42, u"user text", u"dev text"));
}

// Codes of the current thread's errors, in order.
std::vector<std::int64_t> codes() {
    std::vector<std::int64_t> result;
    for (const auto& error : QNThreadErrorHandler::errorHandler().errors())
        result.push_back(error.code());
    return result;
}

class ThreadErrorHandlerTest : public ::testing::Test {
protected:
    void SetUp() override { QNThreadErrorHandler::errorHandler().clear(); }
    void TearDown() override { QNThreadErrorHandler::errorHandler().clear(); }
};

TEST_F(ThreadErrorHandlerTest, EachThreadKeepsItsOwnListInOrder) {
    constexpr int kThreads = 4;
    std::vector<std::vector<std::int64_t>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen] {
            auto& handler = QNThreadErrorHandler::errorHandler();
            for (int i = 0; i < 100; ++i) {
                handler.addErrorWithCodeDescription(t, u"mine");
                handler.addErrorWithCodeDescription(-1, u"removed");
                std::this_thread::yield();
            }
            handler.removeErrorsWithCode(-1);
            seen[t] = codes();
        });
    }

    auto& handler = QNThreadErrorHandler::errorHandler();
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
}

TEST(FatalErrorTest, NameReasonAndUtf8What) {
    EXPECT_STREQ(FatalError(u"NSRangeException", u"index 3 \u2192 [0 .. 2]").what(),
                 "NSRangeException: index 3 \xE2\x86\x92 [0 .. 2]");
    const FatalError& overridden =
        InvalidArgumentException::mustBeOverridden("r\xC3\xA9sum\xC3\xA9");
    EXPECT_EQ(overridden.reason(), u"r\u00e9sum\u00e9 must be overridden in a subclass.");
    EXPECT_STREQ(overridden.what(),
                 "NSInvalidArgumentException: r\xC3\xA9sum\xC3\xA9 must be overridden in a "
                 "subclass.");
}

}  // namespace
}  // namespace qn
