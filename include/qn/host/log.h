// The host logger. Library code logs one line at a time with a type (what
// part of the system it concerns) and a level; the logger service decides
// where lines go. The default service writes to standard error; an embedding
// application or a test installs its own (QNCapturingLogger keeps lines in
// memory).
//
// Thread-safe: any thread may log or replace the service.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>

#include <memory>
#include <mutex>
#include <vector>

namespace qn {

// What a line concerns.
enum QNLogType : int {
    QNLogTypeFiles = 0,
    QNLogTypeNetwork = 1,
    QNLogTypeSynchronization = 2,  // synchronization and business components
    QNLogTypeDatabase = 3,
};

// How severe a line is; higher is more severe.
enum QNLogLevel : int {
    QNLogLevelDebug = 0,
    QNLogLevelInfo = 1,
    QNLogLevelError = 2,
    QNLogLevelFatal = 3,
};

class QN_API QNLogger {
public:
    virtual ~QNLogger();
    // Logs one line. `logToConsole` asks for the line on the console as well
    // as in the log.
    virtual void logMessageForTypeWithLevelLogToConsole(const String& text, int type, int level,
                                                        bool logToConsole) = 0;
    void logMessage(const String& text, int type, int level, bool logToConsole = false) {
        logMessageForTypeWithLevelLogToConsole(text, type, level, logToConsole);
    }
};

// Writes "qn[<level>][<type>] <text>" lines to standard error (level and
// type as numbers, text as UTF-8, each line in one write), at or above a
// minimum level (console lines always).
class QN_API QNStandardErrorLogger final : public QNLogger {
public:
    explicit QNStandardErrorLogger(int minimumLevel = QNLogLevelInfo)
        : minimumLevel_(minimumLevel) {}
    void logMessageForTypeWithLevelLogToConsole(const String& text, int type, int level,
                                                bool logToConsole) override;

private:
    int minimumLevel_;
    std::mutex mutex_;
};

// Keeps every line in memory, for tests and for applications that show a log.
class QN_API QNCapturingLogger final : public QNLogger {
public:
    struct Line {
        String text;
        int type;
        int level;
        bool console;
    };
    void logMessageForTypeWithLevelLogToConsole(const String& text, int type, int level,
                                                bool logToConsole) override;
    std::vector<Line> lines() const;
    // True when some line contains `fragment`.
    bool contains(StringView fragment) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};

class QN_API QNLog {
public:
    // The logger in use (never null).
    static std::shared_ptr<QNLogger> loggerService();
    // Installs a logger; null restores the standard-error logger. Returns the
    // previous one so a caller can put it back.
    static std::shared_ptr<QNLogger> setLoggerService(std::shared_ptr<QNLogger> logger);
};

}  // namespace qn
