// Writers in processes of their own (qn_db_worker) on one database file: two
// at once, and writers killed with SIGKILL at points they reported. The test
// waits only on the lines a worker prints (blocking reads on its pipe); a
// worker that ends early closes the pipe, which is a failure, so nothing
// here depends on the clock. What is left in the file is read through a
// sqlite3 handle of the test's own.
#include <qn/offline/db.h>

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
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

extern char** environ;

using namespace qn;

namespace {

// A pipe end above the standard descriptors (the test may run with some of
// them closed) that the workers do not inherit.
int privateDescriptor(int fd) {
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

bool killedBySigkill(int status) {
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

bool exitedCleanly(int status) {
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

std::vector<std::int64_t> range(std::int64_t from, std::int64_t count) {
    std::vector<std::int64_t> out;
    for (std::int64_t i = 0; i < count; ++i)
        out.push_back(from + i);
    return out;
}

class SQLiteProcessTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A worker that died answers writes with EPIPE instead of ending us.
        ::signal(SIGPIPE, SIG_IGN);
    }

    void SetUp() override {
        file_ = dir_.path() / "offline.db";
        // The table is made through the library, as the application would.
        auto connection = QNDBConnection::createConnectionOfTypeWithIdentifierConnectionString(
            0, u"DEFAULT", fromUtf8(file_.string()));
        ASSERT_TRUE(connection);
        auto create = connection->commandWithSQLStatement(
            u"CREATE TABLE item (seq INTEGER PRIMARY KEY, id INTEGER NOT NULL UNIQUE, "
            u"writer INTEGER NOT NULL, payload TEXT NOT NULL)");
        ASSERT_EQ(create->execute(), QN_STATUS_OK);
        connection->commit();
        connection->disconnect();
    }

    std::string open() const { return "open " + file_.string(); }
    std::filesystem::path wal() const { return file_.string() + "-wal"; }

    test::TempDir dir_;
    std::filesystem::path file_;
};

// Both workers write at once, round after round, so each one's transactions
// land among the other's; the busy timeout must carry every wait (no status
// at all), and each transaction of 100 must stay whole. The rounds bound
// each wait: SQLite's busy wait is not fair (a writer that commits and
// begins again at once keeps the lock while the other sleeps), so within a
// round one may wait for all of the other's five transactions, far below
// the 5 s timeout.
TEST_F(SQLiteProcessTest, TwoWriterProcessesShareOneFile) {
    constexpr int kRounds = 10;
    constexpr int kPerRound = 500;
    constexpr int kBatch = 100;
    constexpr int kEach = kRounds * kPerRound;
    Worker a;
    Worker b;
    ASSERT_GT(a.pid(), 0);
    ASSERT_GT(b.pid(), 0);
    const std::map<std::string, std::string> perWriter = {
        {std::to_string(a.pid()), std::to_string(kEach)},
        {std::to_string(b.pid()), std::to_string(kEach)}};
    ASSERT_TRUE(a.send(open()));
    ASSERT_TRUE(b.send(open()));
    ASSERT_TRUE(a.until("ready"));
    ASSERT_TRUE(b.until("ready"));
    // a writes ids [0, 5000), b [5000, 10000).
    for (int round = 0; round < kRounds; ++round) {
        const auto command = [&](int first) {
            return "insert " + std::to_string(first + round * kPerRound) + " " +
                   std::to_string(kPerRound) + " " + std::to_string(kBatch);
        };
        ASSERT_TRUE(a.send(command(0)));
        ASSERT_TRUE(b.send(command(kEach)));
        ASSERT_TRUE(a.until("committed " + std::to_string(kPerRound))) << "round " << round;
        ASSERT_TRUE(b.until("committed " + std::to_string(kPerRound))) << "round " << round;
    }
    ASSERT_TRUE(a.ask("report", "no-transaction"));
    EXPECT_TRUE(exitedCleanly(a.quit()));
    EXPECT_TRUE(exitedCleanly(b.quit()));

    Peek peek(file_);
    EXPECT_EQ(peek.text("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(peek.text("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(peek.ids(), range(0, 2 * kEach));
    std::map<std::string, std::string> written;
    for (const auto& row : peek.rows("SELECT writer, COUNT(*) FROM item GROUP BY writer"))
        written[row[0]] = row[1];
    EXPECT_EQ(written, perWriter);

    // In the order rows were written: every run of one writer is whole
    // transactions, and no row of a round comes before one of the round
    // before (each round began after both had committed the last).
    std::vector<std::size_t> runs;
    std::string runWriter;
    int lastRound = 0;
    for (const auto& row : peek.rows("SELECT writer, id FROM item ORDER BY seq")) {
        if (row[0] != runWriter) runs.push_back(0);
        runWriter = row[0];
        ++runs.back();
        const int round = static_cast<int>(std::stoll(row[1]) % kEach / kPerRound);
        EXPECT_GE(round, lastRound) << "id " << row[1];
        lastRound = round;
    }
    for (std::size_t run : runs)
        EXPECT_EQ(run % kBatch, 0u) << "a run of " << run << " rows";
    // How finely the two interleaved, for the record (it depends on the
    // scheduler, so it decides nothing).
    RecordProperty("writer_runs", static_cast<int>(runs.size()));
}

// A writer killed inside a transaction whose pages had already reached the
// log, then one killed right after a commit: the file holds exactly what was
// committed, and a new process writes to it again.
TEST_F(SQLiteProcessTest, KilledWritersLeaveExactlyTheCommittedRows) {
    {
        Worker a;
        ASSERT_TRUE(a.ask(open(), "ready"));
        ASSERT_TRUE(a.ask("insert 0 300 100", "committed 300"));
        ASSERT_TRUE(a.ask("begin", "in-transaction"));
        ASSERT_TRUE(a.ask("insert-one 300", "inserted 1"));
        const auto before = std::filesystem::file_size(wal());
        // 20,000 rows of 200 bytes outgrow SQLite's page cache, which then
        // spills uncommitted pages into the log.
        ASSERT_TRUE(a.ask("insert-open 1000 20000", "inserted 20000"));
        ASSERT_TRUE(a.ask("report", "in-transaction"));
        ASSERT_GT(std::filesystem::file_size(wal()), before + (1u << 20))
            << "the open transaction never reached the log";
        EXPECT_TRUE(killedBySigkill(a.kill9()));
    }
    {
        // Its first write begins the transaction.
        Worker b;
        ASSERT_TRUE(b.ask(open(), "ready"));
        ASSERT_TRUE(b.ask("report", "no-transaction"));
        ASSERT_TRUE(b.ask("insert-open 500 50", "inserted 50"));
        ASSERT_TRUE(b.ask("report", "in-transaction"));
        ASSERT_TRUE(b.ask("commit", "committed 50"));
        EXPECT_TRUE(killedBySigkill(b.kill9()));
    }
    std::vector<std::int64_t> committed = range(0, 300);
    for (std::int64_t id : range(500, 50))
        committed.push_back(id);
    {
        Peek peek(file_);
        EXPECT_EQ(peek.text("PRAGMA integrity_check"), "ok");
        EXPECT_EQ(peek.ids(), committed);
    }
    Worker c;
    ASSERT_TRUE(c.ask(open(), "ready"));
    ASSERT_TRUE(c.ask("count", "rows 350"));
    ASSERT_TRUE(c.ask("insert 300 1 1", "committed 1"));
    EXPECT_TRUE(exitedCleanly(c.quit()));
    committed.insert(committed.begin() + 300, 300);
    Peek peek(file_);
    EXPECT_EQ(peek.text("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(peek.ids(), committed);
}

// Killed while committing batch after batch, wherever it was (writing,
// syncing, checkpointing): every batch it reported is there, and nothing of
// a batch is without the rest of it.
TEST_F(SQLiteProcessTest, AWriterKilledBetweenReportedCommitsKeepsWholeBatches) {
    Worker w;
    ASSERT_TRUE(w.ask(open(), "ready"));
    ASSERT_TRUE(w.send("insert 0 1000000 100"));
    ASSERT_TRUE(w.until("committed 3000"));
    EXPECT_TRUE(killedBySigkill(w.kill9()));

    Peek peek(file_);
    EXPECT_EQ(peek.text("PRAGMA integrity_check"), "ok");
    const auto ids = peek.ids();
    ASSERT_GE(ids.size(), 3000u);
    EXPECT_EQ(ids.size() % 100, 0u);
    EXPECT_EQ(ids, range(0, static_cast<std::int64_t>(ids.size())));
}

}  // namespace
