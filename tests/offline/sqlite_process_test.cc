// Writers in processes of their own (qn_db_worker) on one database file: two
// at once, and writers killed with SIGKILL at points they reported. The test
// waits only on the lines a worker prints (blocking reads on its pipe); a
// worker that ends early closes the pipe, which is a failure, so nothing
// here depends on the clock. What is left in the file is read through a
// sqlite3 handle of the test's own.
#include <qn/offline/db.h>

#include <map>

#include "offline/process_support.h"
#include "support/test_support.h"

using namespace qn;
using namespace qn::test;

namespace {

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
