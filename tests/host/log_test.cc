#include <gtest/gtest.h>

#include <qn/host/log.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace qn {
namespace {

// Sends file descriptor 2 to a temporary file while in scope.
class StandardErrorCapture {
public:
    StandardErrorCapture() : file_(std::tmpfile()), saved_(::dup(STDERR_FILENO)) {
        if (file_ != nullptr && saved_ >= 0) ::dup2(::fileno(file_), STDERR_FILENO);
    }
    ~StandardErrorCapture() {
        restore();
        if (file_ != nullptr) std::fclose(file_);
    }
    bool ok() const { return file_ != nullptr && saved_ >= 0; }
    // Restores standard error and returns what was written meanwhile.
    std::string finish() {
        restore();
        std::string text;
        if (file_ == nullptr) return text;
        std::rewind(file_);
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
            text.append(buffer, n);
        return text;
    }

private:
    void restore() {
        if (saved_ >= 0) {
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
    }
    std::FILE* file_;
    int saved_;
};

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(LogTest, StandardErrorLineFormatIsUtf8) {
    QNStandardErrorLogger logger(QNLogLevelDebug);
    StandardErrorCapture capture;
    ASSERT_TRUE(capture.ok());
    // "é", then U+1F600 as a surrogate pair.
    logger.logMessage(u"caf\u00e9 \U0001F600", QNLogTypeNetwork, QNLogLevelError);
    logger.logMessage(u"", QNLogTypeDatabase, QNLogLevelDebug);
    EXPECT_EQ(capture.finish(), "qn[2][1] caf\xC3\xA9 \xF0\x9F\x98\x80\nqn[0][3] \n");
}

TEST(LogTest, StandardErrorDropsLinesBelowTheMinimumUnlessForTheConsole) {
    QNStandardErrorLogger logger(QNLogLevelError);
    StandardErrorCapture capture;
    ASSERT_TRUE(capture.ok());
    logger.logMessage(u"dropped debug", QNLogTypeFiles, QNLogLevelDebug);
    logger.logMessage(u"dropped info", QNLogTypeFiles, QNLogLevelInfo);
    logger.logMessage(u"console info", QNLogTypeFiles, QNLogLevelInfo, true);
    logger.logMessage(u"error", QNLogTypeFiles, QNLogLevelError);
    logger.logMessage(u"fatal", QNLogTypeFiles, QNLogLevelFatal);
    EXPECT_EQ(capture.finish(), "qn[1][0] console info\nqn[2][0] error\nqn[3][0] fatal\n");
}

TEST(LogTest, CapturingLoggerKeepsEveryLine) {
    QNCapturingLogger logger;
    logger.logMessage(u"first line", QNLogTypeFiles, QNLogLevelDebug);
    logger.logMessage(u"second line", QNLogTypeDatabase, QNLogLevelFatal, true);
    auto lines = logger.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, u"first line");
    EXPECT_EQ(lines[0].level, QNLogLevelDebug);
    EXPECT_FALSE(lines[0].console);
    EXPECT_EQ(lines[1].type, QNLogTypeDatabase);
    EXPECT_TRUE(lines[1].console);

    EXPECT_TRUE(logger.contains(u"nd li"));
    EXPECT_TRUE(logger.contains(u""));
    EXPECT_FALSE(logger.contains(u"third"));
    logger.clear();
    EXPECT_TRUE(logger.lines().empty());
    EXPECT_FALSE(logger.contains(u""));
}

TEST(LogTest, ServiceReplacementReturnsThePreviousLoggerAndNullRestoresTheDefault) {
    auto original = QNLog::loggerService();
    ASSERT_NE(original, nullptr);

    auto capturing = std::make_shared<QNCapturingLogger>();
    EXPECT_EQ(QNLog::setLoggerService(capturing), original);
    QNLog::loggerService()->logMessage(u"to the capture", QNLogTypeFiles, QNLogLevelInfo);
    EXPECT_TRUE(capturing->contains(u"to the capture"));

    EXPECT_EQ(QNLog::setLoggerService(nullptr), capturing);
    auto restored = QNLog::loggerService();
    ASSERT_NE(restored, nullptr);
    EXPECT_NE(dynamic_cast<QNStandardErrorLogger*>(restored.get()), nullptr);
    // The default is one shared instance, not a new logger per restore.
    QNLog::setLoggerService(nullptr);
    EXPECT_EQ(QNLog::loggerService(), restored);

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
    std::string text;
    {
        StandardErrorCapture capture;
        ASSERT_TRUE(capture.ok());
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kLines; ++i) {
                    logger.logMessage(payload, t, QNLogLevelInfo);
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
        text = capture.finish();
    }
    auto lines = splitLines(text);
    ASSERT_EQ(lines.size(), std::size_t{kThreads * kLines});
    for (const auto& line : lines) {
        ASSERT_EQ(line.size(), 9u + 300u) << line;
        ASSERT_EQ(line.compare(0, 6, "qn[1]["), 0) << line;
        ASSERT_TRUE(line[6] >= '0' && line[6] <= '3') << line;
        ASSERT_EQ(line.compare(7, 2, "] "), 0) << line;
        ASSERT_EQ(line.find_first_not_of('x', 9), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace qn
