#include <gtest/gtest.h>

#include <qn/host/errors.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace qn {
namespace {

TEST(QNErrorTest, DefaultsAndFactories) {
    QNError plain;
    EXPECT_EQ(plain.domain(), u"QNErrorDomain");
    EXPECT_EQ(plain.code(), -1);
    EXPECT_EQ(plain.localizedDescription(), u"An unexpected error has occurred.");
    EXPECT_EQ(plain.developerDescription(), plain.localizedDescription());

    auto generic = QNError::defaultQNError();
    EXPECT_EQ(generic.domain(), QNError::kDomain);
    EXPECT_EQ(generic.code(), QNError::kDefaultCode);
    EXPECT_EQ(generic.localizedDescription(), QNError::kDefaultDescription);

    // The user keeps seeing the generic text; the developer sees the detail.
    auto forDeveloper = QNError::defaultQNErrorWithDeveloperDescription(u"socket closed");
    EXPECT_EQ(forDeveloper.localizedDescription(), QNError::kDefaultDescription);
    EXPECT_EQ(forDeveloper.developerDescription(), u"socket closed");
    EXPECT_EQ(forDeveloper.code(), QNError::kDefaultCode);

    auto forUser = QNError::defaultQNErrorWithLocalizedDescription(u"No hay conexi\u00f3n");
    EXPECT_EQ(forUser.localizedDescription(), u"No hay conexi\u00f3n");
    EXPECT_EQ(forUser.developerDescription(), u"No hay conexi\u00f3n");
    EXPECT_EQ(forUser.domain(), QNError::kDomain);

    QNError custom(u"Other", 42, u"user text", u"dev text");
    EXPECT_EQ(custom.domain(), u"Other");
    EXPECT_EQ(custom.code(), 42);
    EXPECT_EQ(custom.localizedDescription(), u"user text");
    EXPECT_EQ(custom.developerDescription(), u"dev text");
}

class ThreadErrorHandlerTest : public ::testing::Test {
protected:
    void SetUp() override { QNThreadErrorHandler::errorHandler().clear(); }
    void TearDown() override { QNThreadErrorHandler::errorHandler().clear(); }
};

TEST_F(ThreadErrorHandlerTest, AddsInOrderAndRemovesByCode) {
    auto& handler = QNThreadErrorHandler::errorHandler();
    EXPECT_EQ(&handler, &QNThreadErrorHandler::errorHandler());
    EXPECT_FALSE(handler.hasErrors());
    EXPECT_EQ(handler.lastError(), nullptr);

    handler.addErrorWithCodeDescription(7, u"first seven");
    handler.addError(QNError(u"Other", 3, u"three"));
    handler.addErrorWithCodeDescription(7, u"second seven");
    handler.addErrorWithCodeDescription(9, u"nine");
    ASSERT_EQ(handler.errors().size(), 4u);
    EXPECT_EQ(handler.errors()[0].domain(), QNError::kDomain);
    EXPECT_EQ(handler.errors()[0].localizedDescription(), u"first seven");
    ASSERT_NE(handler.lastError(), nullptr);
    EXPECT_EQ(handler.lastError()->code(), 9);

    // Every error with the code goes, whatever its domain or position; the
    // others keep their order.
    handler.removeErrorsWithCode(7);
    ASSERT_EQ(handler.errors().size(), 2u);
    EXPECT_EQ(handler.errors()[0].code(), 3);
    EXPECT_EQ(handler.errors()[1].code(), 9);

    handler.removeErrorsWithCode(12345);  // absent: nothing changes
    EXPECT_EQ(handler.errors().size(), 2u);
    handler.removeErrorsWithCode(9);
    EXPECT_EQ(handler.lastError()->code(), 3);

    handler.clear();
    EXPECT_FALSE(handler.hasErrors());
    EXPECT_EQ(handler.lastError(), nullptr);
}

TEST_F(ThreadErrorHandlerTest, EachThreadHasItsOwnList) {
    QNThreadErrorHandler::errorHandler().addErrorWithCodeDescription(1000, u"main thread");

    constexpr int kThreads = 4;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            auto& handler = QNThreadErrorHandler::errorHandler();
            if (handler.hasErrors()) ++failures[t];  // a new thread starts empty
            for (int i = 0; i < 100; ++i) {
                handler.addErrorWithCodeDescription(t, u"mine");
                handler.addErrorWithCodeDescription(-t - 1, u"removed");
                std::this_thread::yield();
            }
            handler.removeErrorsWithCode(-t - 1);
            if (handler.errors().size() != 100) ++failures[t];
            for (const auto& error : handler.errors()) {
                if (error.code() != t) ++failures[t];
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));

    auto& mine = QNThreadErrorHandler::errorHandler();
    ASSERT_EQ(mine.errors().size(), 1u);
    EXPECT_EQ(mine.errors()[0].code(), 1000);
}

TEST(FatalErrorTest, CarriesNameAndReasonAndUtf8What) {
    FatalError error(u"NSRangeException", u"index 3 beyond bounds \u2192 [0 .. 2]");
    EXPECT_EQ(error.name(), u"NSRangeException");
    EXPECT_EQ(error.reason(), u"index 3 beyond bounds \u2192 [0 .. 2]");
    EXPECT_STREQ(error.what(), "NSRangeException: index 3 beyond bounds \xE2\x86\x92 [0 .. 2]");
}

TEST(FatalErrorTest, MustBeOverriddenNamesTheOperation) {
    try {
        throw InvalidArgumentException::mustBeOverridden("entityName");
    } catch (const FatalError& error) {
        EXPECT_EQ(error.name(), u"NSInvalidArgumentException");
        EXPECT_EQ(error.reason(), u"entityName must be overridden in a subclass.");
        EXPECT_STREQ(error.what(),
                     "NSInvalidArgumentException: entityName must be overridden in a subclass.");
    }
    auto unicode = InvalidArgumentException::mustBeOverridden("r\xC3\xA9sum\xC3\xA9");
    EXPECT_EQ(unicode.reason(), u"r\u00e9sum\u00e9 must be overridden in a subclass.");
    const std::exception& asStd = unicode;
    EXPECT_NE(std::strstr(asStd.what(), "r\xC3\xA9sum\xC3\xA9"), nullptr);
}

}  // namespace
}  // namespace qn
