#include "support/test_support.h"

#include <qn/host/log.h>

#include <set>
#include <sstream>

namespace qn {
namespace {

// gtest's capture redirects file descriptor 2 itself, so it also sees the
// logger's raw writes.
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

TEST(LogTest, StandardErrorWritesUtf8LinesAtOrAboveTheMinimumOrForTheConsole) {
    QNStandardErrorLogger logger(QNLogLevelError);
    CaptureStderr();
    logger.logMessage(u"dropped debug", QNLogTypeFiles, QNLogLevelDebug);
    logger.logMessage(u"dropped info", QNLogTypeFiles, QNLogLevelInfo);
    logger.logMessage(u"console info", QNLogTypeFiles, QNLogLevelInfo, true);
    // "é", then U+1F600 as a surrogate pair.
    logger.logMessage(u"caf\u00e9 \U0001F600", QNLogTypeNetwork, QNLogLevelError);
    logger.logMessage(u"", QNLogTypeDatabase, QNLogLevelFatal);
    EXPECT_EQ(GetCapturedStderr(),
              "qn[1][0] console info\nqn[2][1] caf\xC3\xA9 \xF0\x9F\x98\x80\nqn[3][3] \n");
}

TEST(LogTest, ServiceReplacementReturnsThePreviousLoggerAndNullRestoresTheDefault) {
    auto original = QNLog::loggerService();
    auto capturing = std::make_shared<QNCapturingLogger>();
    EXPECT_EQ(QNLog::setLoggerService(capturing), original);
    QNLog::loggerService()->logMessage(u"to the capture", QNLogTypeFiles, QNLogLevelDebug);
    EXPECT_TRUE(capturing->contains(u"to the capture"));

    EXPECT_EQ(QNLog::setLoggerService(nullptr), capturing);
    auto restored = QNLog::loggerService();
    EXPECT_NE(dynamic_cast<QNStandardErrorLogger*>(restored.get()), nullptr);
    QNLog::setLoggerService(original);
}

TEST(LogConcurrentTest, LoggerReplacedWhileOtherThreadsLog) {
    auto original = QNLog::loggerService();
    auto a = std::make_shared<QNCapturingLogger>();
    auto b = std::make_shared<QNCapturingLogger>();
    QNLog::setLoggerService(a);

    constexpr int kThreads = 4;
    constexpr int kLines = 500;
    std::atomic<int> running{kThreads};
    std::vector<std::thread> loggers;
    for (int t = 0; t < kThreads; ++t) {
        loggers.emplace_back([&] {
            for (int i = 0; i < kLines; ++i) {
                QNLog::loggerService()->logMessage(u"line", QNLogTypeSynchronization,
                                                   QNLogLevelInfo);
            }
            --running;
        });
    }
    // Swap back and forth until the loggers are done; a previous logger
    // returned here must stay usable by threads still holding it.
    for (int swaps = 0; running.load() > 0 || swaps < 10; ++swaps) {
        QNLog::setLoggerService(swaps % 2 == 0 ? std::shared_ptr<QNLogger>(b) : a);
        std::this_thread::yield();
    }
    for (auto& thread : loggers)
        thread.join();
    QNLog::setLoggerService(original);

    EXPECT_EQ(a->lines().size() + b->lines().size(), std::size_t{kThreads * kLines});
}

TEST(LogConcurrentTest, StandardErrorLinesAreNeverInterleaved) {
    QNStandardErrorLogger logger(QNLogLevelDebug);
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    // Long enough that a line written in pieces would likely be split.
    const String payload(300, u'x');
    CaptureStderr();
    test::onThreads(kThreads, [&](int t) {
        for (int i = 0; i < kLines; ++i)
            logger.logMessage(payload, t, QNLogLevelInfo);
    });
    std::istringstream text(GetCapturedStderr());

    std::set<std::string> whole;
    for (int t = 0; t < kThreads; ++t)
        whole.insert("qn[1][" + std::to_string(t) + "] " + std::string(300, 'x'));
    int count = 0;
    for (std::string line; std::getline(text, line); ++count)
        ASSERT_EQ(whole.count(line), 1u) << line;
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
}  // namespace qn
