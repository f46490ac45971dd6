// Worker processes (qn_db_worker) driven through pipes, and the tests' own
// sqlite3 view of a database file, for the multi-process tests.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace qn::test {

// A pipe end above the standard descriptors (the test may run with some of
// them closed) that the workers do not inherit.
inline int privateDescriptor(int fd) {
    if (fd > STDERR_FILENO) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

// One qn_db_worker process, its standard input and output on pipes. Its
// standard error is the test's, so what a sanitizer says there shows.
class Worker {
public:
    Worker() {
        int in[2] = {-1, -1};
        int out[2] = {-1, -1};
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        for (int* fd : {&in[0], &in[1], &out[0], &out[1]})
            *fd = privateDescriptor(*fd);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        // The test ignores SIGPIPE; the worker must not, so that it ends when
        // the test has gone.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        char* argv[] = {const_cast<char*>(QN_DB_WORKER), nullptr};
        const int spawned =
            ::posix_spawn(&pid_, QN_DB_WORKER, &actions, &attributes, argv, environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        toWorker_ = in[1];
        fromWorker_ = out[0];
        if (spawned != 0) pid_ = -1;
    }

    // A worker still running when a test ends (it failed) is killed.
    ~Worker() {
        if (pid_ > 0) kill9();
        if (toWorker_ >= 0) ::close(toWorker_);
        if (fromWorker_ >= 0) ::close(fromWorker_);
    }

    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    pid_t pid() const noexcept { return pid_; }

    bool send(const std::string& command) {
        if (pid_ <= 0) return false;
        const std::string line = command + "\n";
        for (std::size_t at = 0; at < line.size();) {
            const ssize_t n = ::write(toWorker_, line.data() + at, line.size() - at);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            at += static_cast<std::size_t>(n);
        }
        return true;
    }

    // The next line; none at the end of the output.
    std::optional<std::string> readLine() {
        for (;;) {
            if (const auto end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            char chunk[4096];
            const ssize_t n = ::read(fromWorker_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Reads until the line `wanted`. On the way to "committed K" the
    // smaller counts of a command's earlier transactions are progress; a
    // status line, any other line or the end of the output is a failure.
    ::testing::AssertionResult until(const std::string& wanted) {
        const std::string progress = "committed ";
        const bool counting = wanted.rfind(progress, 0) == 0;
        for (;;) {
            const auto line = readLine();
            if (!line)
                return ::testing::AssertionFailure()
                       << "worker " << pid_ << " ended before \"" << wanted << "\"";
            if (*line == wanted) return ::testing::AssertionSuccess();
            if (!counting || line->rfind(progress, 0) != 0)
                return ::testing::AssertionFailure() << "worker " << pid_ << " said \"" << *line
                                                     << "\" before \"" << wanted << "\"";
        }
    }

    ::testing::AssertionResult ask(const std::string& command, const std::string& wanted) {
        if (!send(command))
            return ::testing::AssertionFailure()
                   << "worker " << pid_ << " cannot be sent \"" << command << "\"";
        return until(wanted);
    }

    // SIGKILL; answers the wait status.
    int kill9() {
        ::kill(pid_, SIGKILL);
        return reap();
    }

    // Lets the worker leave as it does at the end of its input (a sanitizer's
    // exit checks run then); answers the wait status.
    int quit() {
        send("quit");
        ::close(toWorker_);
        toWorker_ = -1;
        return reap();
    }

private:
    int reap() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

    pid_t pid_ = -1;
    int toWorker_ = -1;
    int fromWorker_ = -1;
    std::string buffer_;
};

inline bool killedBySigkill(int status) {
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

inline bool exitedCleanly(int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The test's own view of the file: a plain read-write handle, so opening it
// after a crash recovers the log as any other process would.
class Peek {
public:
    explicit Peek(const std::filesystem::path& file) {
        sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    }
    ~Peek() { sqlite3_close_v2(db_); }
    Peek(const Peek&) = delete;
    Peek& operator=(const Peek&) = delete;

    // Every row of the statement, its columns as text.
    std::vector<std::vector<std::string>> rows(const std::string& sql) {
        std::vector<std::vector<std::string>> out;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
            return out;
        }
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            auto& row = out.emplace_back();
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const auto* text = sqlite3_column_text(stmt, i);
                row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
            }
        }
        if (rc != SQLITE_DONE) ADD_FAILURE() << sql << ": " << sqlite3_errmsg(db_);
        sqlite3_finalize(stmt);
        return out;
    }
    std::string text(const std::string& sql) {
        const auto all = rows(sql);
        return all.empty() || all[0].empty() ? "" : all[0][0];
    }
    std::vector<std::int64_t> ids() {
        std::vector<std::int64_t> out;
        for (const auto& row : rows("SELECT id FROM item ORDER BY id"))
            out.push_back(std::stoll(row[0]));
        return out;
    }

private:
    sqlite3* db_ = nullptr;
};

}  // namespace qn::test
