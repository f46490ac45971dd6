// The logger service and the two loggers the library ships.
//
// The service lives in a state object that is allocated once and never
// destroyed: background workers may still log while the process exits, after
// ordinary statics have gone.
#include <qn/host/log.h>

#include <cerrno>
#include <string>
#include <utility>

#include <unistd.h>

#include "host/internal.h"

namespace qn {

QNLogger::~QNLogger() = default;

namespace {

// A failing standard error is ignored: there is nowhere to report it.
void writeToStandardError(const std::string& line) {
    (void)internal::writeAll(STDERR_FILENO, line);
}

struct LogService {
    std::mutex mutex;
    std::shared_ptr<QNLogger> current;
};

const std::shared_ptr<QNLogger>& defaultLogger() {
    static const auto* logger =
        new std::shared_ptr<QNLogger>(std::make_shared<QNStandardErrorLogger>());
    return *logger;
}

LogService& service() {
    static auto* state = new LogService{{}, defaultLogger()};
    return *state;
}

}  // namespace

void QNStandardErrorLogger::logMessageForTypeWithLevelLogToConsole(const String& text, int type,
                                                                   int level, bool logToConsole) {
    if (level < minimumLevel_ && !logToConsole) return;
    // The line is built before taking the lock so the lock covers only the write.
    std::string line = "qn[" + std::to_string(level) + "][" + std::to_string(type) + "] ";
    line += toUtf8(text);
    line += '\n';
    std::lock_guard lock(mutex_);
    writeToStandardError(line);
}

void QNCapturingLogger::logMessageForTypeWithLevelLogToConsole(const String& text, int type,
                                                               int level, bool logToConsole) {
    Line line{text, type, level, logToConsole};
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
}

std::vector<QNCapturingLogger::Line> QNCapturingLogger::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool QNCapturingLogger::contains(StringView fragment) const {
    std::lock_guard lock(mutex_);
    for (const auto& line : lines_) {
        if (StringView(line.text).find(fragment) != StringView::npos) return true;
    }
    return false;
}

void QNCapturingLogger::clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

std::shared_ptr<QNLogger> QNLog::loggerService() {
    auto& s = service();
    std::lock_guard lock(s.mutex);
    return s.current;
}

std::shared_ptr<QNLogger> QNLog::setLoggerService(std::shared_ptr<QNLogger> logger) {
    if (!logger) logger = defaultLogger();
    auto& s = service();
    std::shared_ptr<QNLogger> previous;
    {
        std::lock_guard lock(s.mutex);
        previous = std::exchange(s.current, std::move(logger));
    }
    // Returned outside the lock: if the caller drops it, the previous logger's
    // destructor must not run while the service is locked.
    return previous;
}

}  // namespace qn
