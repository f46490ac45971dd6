// The SQLite connection and command on real database files in fresh
// folders; what they store is checked through a second sqlite3 handle of
// the test's own.
#include <qn/files/file_system_object.h>
#include <qn/host/errors.h>
#include <qn/host/utilities.h>
#include <qn/offline/db.h>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

using namespace qn;

namespace {

// The test's own view of a database file.
class Peek {
public:
    explicit Peek(const std::filesystem::path& file) {
        sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    }
    ~Peek() { sqlite3_close_v2(db_); }
    // The first column of the first row: its type and its text.
    std::pair<int, std::string> first(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr);
        std::pair<int, std::string> out{SQLITE_NULL, ""};
        if (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
            out.first = sqlite3_column_type(stmt, 0);
            const auto* text = sqlite3_column_text(stmt, 0);
            out.second = text ? reinterpret_cast<const char*>(text) : "";
            if (out.first == SQLITE_BLOB)
                out.second = std::to_string(sqlite3_column_bytes(stmt, 0));
        }
        sqlite3_finalize(stmt);
        return out;
    }

private:
    sqlite3* db_ = nullptr;
};

class SQLiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        QNThreadErrorHandler::errorHandler().clear();
        file_ = dir_.path() / "offline.db";
        connection_ = QNDBConnection::createConnectionOfTypeWithIdentifierConnectionString(
            0, u"DEFAULT", fromUtf8(file_.string()));
        ASSERT_TRUE(connection_);
    }
    std::uint32_t run(StringView sql, std::vector<Value> parameters = {}) {
        auto command = connection_->commandWithSQLStatement(sql);
        command->setParameters(std::move(parameters));
        return command->execute();
    }
    test::TempDir dir_;
    std::filesystem::path file_;
    Ref<QNDBConnection> connection_;
};

TEST_F(SQLiteTest, TheRegistryMakesTheSQLiteConnectionForTypeZeroOnly) {
    EXPECT_TRUE(std::dynamic_pointer_cast<QNSQLiteConnection>(connection_));
    EXPECT_EQ(connection_->connectionIdentifier(), u"DEFAULT");
    EXPECT_FALSE(QNDBConnection::createConnectionOfTypeWithIdentifierConnectionString(1, u"", u""));
    QNDBConnection::registerConnectionClassForType(QNDBConnection::staticClassInfo(), 1);
    EXPECT_TRUE(std::dynamic_pointer_cast<QNSQLiteConnection>(
        QNDBConnection::createConnectionOfTypeWithIdentifierConnectionString(0, u"", u"x")));

    QNDBConnection base;
    try {
        base.connect();
        FAIL() << "the base has no database";
    } catch (const InvalidArgumentException& e) {
        EXPECT_EQ(e.reason(), u"-[QNDBConnection connect] must be overridden in a subclass.");
    }
}

TEST_F(SQLiteTest, CommandBasicsOfTheBase) {
    EXPECT_TRUE(QNDBCommand(u"SELECT 1").isQuery());
    EXPECT_TRUE(QNDBCommand(u"Pragma user_version").isQuery());
    EXPECT_FALSE(QNDBCommand(u" select 1").isQuery());
    EXPECT_FALSE(QNDBCommand(u"WITH x AS (SELECT 1) SELECT * FROM x").isQuery());
    QNDBCommand command(u"x");
    command.setParameters(std::vector<Value>{Value(1), Value(2), Value(3)});
    command.setNullParameters(std::vector<bool>{false, true});
    const auto resolved = command.resolvedCommandParameters();
    ASSERT_EQ(resolved.size(), 3u);
    EXPECT_TRUE(resolved[1].isNull());
    EXPECT_EQ(resolved[2], Value(3));

    EXPECT_EQ(QNDbFile::uriFromFileNameTypePath(u"", u"", u"/a/b/photo.jpg"), u"photo.jpg");
    EXPECT_EQ(QNDbFile::uriFromFileNameTypePath(u"  x ", u"", u""), u"x.tmp");
    EXPECT_EQ(QNDbFile::uriFromFileNameType(u"", u""), u"multimedia-file.tmp");
    EXPECT_EQ(QNDbFile::urlFromBlobUri(u"   ", u"u"), u"");
    EXPECT_EQ(QNDbFile::urlFromBlobUri(u"b", u"u"), u"u");
}

// Each kind of value bound, as SQLite keeps it and as the getters read it.
TEST_F(SQLiteTest, ValuesAreBoundAndReadBackByKind) {
    ASSERT_EQ(run(u"CREATE TABLE t (id INTEGER PRIMARY KEY, n NUMERIC, x, s TEXT, d TEXT, b BLOB)"),
              0u);
    const Decimal d15 = Decimal::fromString(u"12345.6789012345");                         // 15
    const Decimal d16 = Decimal::fromString(u"1234567.890123456");                        // 16
    const Decimal d38 = Decimal::fromString(u"1234567890123456789012.3456789012345678");  // 38
    const DateTime when = DateTime::fromCivilUTC({2024, 2, 29, 13, 5, 9, 250});
    const QNUUID guid = *QNUUID::fromString(u"0f8fad5b-d9cb-469f-a165-70867728950e");
    struct Row {
        std::int64_t id;
        Value value;
        const char* column;
        int storedType;
    };
    const Row rows[] = {
        {1, Value(d15), "n", SQLITE_FLOAT},
        {2, Value(d16), "n", SQLITE_FLOAT},
        {3, Value(d16), "x", SQLITE_TEXT},
        {4, Value(d38), "x", SQLITE_TEXT},
        {5, Value(Decimal(42)), "n", SQLITE_INTEGER},
        {6, Value(when), "d", SQLITE_TEXT},
        {7, Value(qnEmptyDate()), "d", SQLITE_TEXT},
        {8, Value(guid), "s", SQLITE_TEXT},
        {9, Value(Bytes{1, 2, 3}), "b", SQLITE_BLOB},
        {10, Value::null(), "s", SQLITE_NULL},
        {11, Value(String(u"caf\u00e9 \U0001F600")), "s", SQLITE_TEXT},
        {12, Value(true), "x", SQLITE_INTEGER},
    };
    for (const Row& row : rows) {
        const std::string sql = std::string("INSERT INTO t (id, ") + row.column + ") VALUES (?, ?)";
        ASSERT_EQ(run(fromUtf8(sql), {Value(row.id), row.value}), 0u) << row.id;
    }
    connection_->commit();

    Peek peek(file_);
    for (const Row& row : rows) {
        const auto [type, text] = peek.first(std::string("SELECT ") + row.column +
                                             " FROM t WHERE id = " + std::to_string(row.id));
        EXPECT_EQ(type, row.storedType) << row.id << " " << text;
    }
    EXPECT_EQ(peek.first("SELECT d FROM t WHERE id = 6").second, "2024-02-29 13:05:09.250");
    EXPECT_EQ(peek.first("SELECT d FROM t WHERE id = 7").second, "0001-01-01 00:00:00.000");
    EXPECT_EQ(peek.first("SELECT s FROM t WHERE id = 8").second,
              "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(peek.first("SELECT x FROM t WHERE id = 4").second,
              "1234567890123456789012.3456789012345678");
    // A column with numeric affinity turns a longer decimal's text into REAL,
    // keeping 15 significant digits (SQLite's rule): a 16-digit value bound
    // as text to such a column reads back rounded.
    EXPECT_EQ(peek.first("SELECT n FROM t WHERE id = 2").first, SQLITE_FLOAT);

    auto select = connection_->commandWithSQLStatement(u"SELECT * FROM t ORDER BY id");
    ASSERT_EQ(select->execute(), 0u);
    EXPECT_TRUE(select->eof()) << "after execute no row is current";
    auto next = [&] {
        select->fetch();
        return select->status();
    };
    ASSERT_EQ(select->columnCount(), 6u);
    EXPECT_EQ(select->columnNameAtIndex(3), u"s");
    ASSERT_EQ(next(), 0u);
    EXPECT_EQ(select->columnTypeAtIndex(1), QNDBCommand::QNDBColumnFloat);
    EXPECT_EQ(select->columnTypeAtIndex(3), QNDBCommand::QNDBColumnNull);
    EXPECT_EQ(select->decimalValueForColumn(u"N"), d15) << "15 digits come back exactly";
    ASSERT_EQ(next(), 0u);
    EXPECT_EQ(select->decimalValueForColumn(u"n").toString(), u"1234567.89012346");
    ASSERT_EQ(next(), 0u);
    EXPECT_EQ(select->decimalValueForColumn(u"x"), d16) << "no affinity: the text as bound";
    ASSERT_EQ(next(), 0u);
    EXPECT_EQ(select->decimalValueForColumn(u"x"), d38);
    ASSERT_EQ(next(), 0u);
    EXPECT_EQ(select->numberValueForColumn(u"n"), Value(42));
    EXPECT_EQ(select->intValueForColumn(u"n"), 42);
    ASSERT_EQ(next(), 0u);
    EXPECT_EQ(select->dateValueForColumn(u"d"), when);
    ASSERT_EQ(next(), 0u);
    EXPECT_EQ(select->dateValueForColumn(u"d"), qnEmptyDate());
    EXPECT_TRUE(select->valueIsNullForColumn(u"n"));
    EXPECT_EQ(select->decimalValueForColumn(u"n"), Decimal()) << "NULL reads as the empty value";
    ASSERT_EQ(next(), 0u);
    EXPECT_EQ(select->uuidValueForColumn(u"s"), guid);
    ASSERT_EQ(next(), 0u);
    EXPECT_EQ(select->dataValueForColumn(u"b"), (Bytes{1, 2, 3}));
    ASSERT_EQ(next(), 0u);
    EXPECT_TRUE(select->valueIsNullForColumn(u"s"));
    EXPECT_EQ(select->stringValueForColumn(u"s"), u"");
    ASSERT_EQ(next(), 0u);
    EXPECT_EQ(select->stringValueForColumn(u"S"), u"caf\u00e9 \U0001F600");
    EXPECT_EQ(select->stringValueForColumnAtIndex(3), u"caf\u00e9 \U0001F600");
    ASSERT_EQ(next(), 0u);
    EXPECT_TRUE(select->booleanValueForColumn(u"x"));
    EXPECT_EQ(next(), 101u);
    EXPECT_TRUE(select->eof());
    EXPECT_EQ(next(), 101u) << "and stays at the end";

    // A UUID stored as 16 bytes reads back too.
    sqlite3* raw = nullptr;
    sqlite3_open(file_.c_str(), &raw);
    sqlite3_exec(raw, "INSERT INTO t (id, b) VALUES (20, x'0F8FAD5BD9CB469FA16570867728950E')",
                 nullptr, nullptr, nullptr);
    sqlite3_close(raw);
    auto blob = connection_->commandWithSQLStatement(u"SELECT b FROM t WHERE id = 20");
    blob->fetchFirst();
    EXPECT_EQ(blob->uuidValueForColumnAtIndex(0), guid);

    const auto policy = QNUtilities::fatalErrorPolicy();
    QNUtilities::setFatalErrorPolicy(QNUtilities::FatalErrorPolicy::kRecover);
    EXPECT_EQ(blob->stringValueForColumn(u"nope"), u"") << "an unknown column is reported";
    EXPECT_EQ(blob->stringValueForColumnAtIndex(9), u"");
    QNUtilities::setFatalErrorPolicy(policy);
}

// Decimals of 15 or fewer significant digits go through REAL and come back
// exactly, whatever their scale.
TEST_F(SQLiteTest, ShortDecimalsComeBackFromREALExactly) {
    ASSERT_EQ(run(u"CREATE TABLE t (id INTEGER PRIMARY KEY, v REAL)"), 0u);
    const char16_t* texts[] = {u"0.1",
                               u"-9.99",
                               u"123456789012345",
                               u"1E+20",
                               u"1.5E-10",
                               u"0.000001",
                               u"2.5",
                               u"999999999999.999",
                               u"-0.000000000000001",
                               u"1234.5678901234",
                               u"7E-128",
                               u"3.14159265358979"};
    std::int64_t id = 0;
    for (const char16_t* text : texts)
        ASSERT_EQ(run(u"INSERT INTO t VALUES (?, ?)",
                      {Value(++id), Value(Decimal::fromString(StringView(text)))}),
                  0u);
    auto select = connection_->commandWithSQLStatement(u"SELECT v FROM t ORDER BY id");
    select->execute();
    for (const char16_t* text : texts) {
        select->fetch();
        ASSERT_EQ(select->status(), 0u);
        EXPECT_EQ(select->columnTypeAtIndex(0), QNDBCommand::QNDBColumnFloat);
        EXPECT_EQ(select->decimalValueForColumnAtIndex(0), Decimal::fromString(StringView(text)))
            << toUtf8(String(text));
    }
}

TEST_F(SQLiteTest, FailuresGiveTheirStatusAndAnError) {
    ASSERT_EQ(run(u"CREATE TABLE p (id INTEGER PRIMARY KEY)"), 0u);
    ASSERT_EQ(run(u"CREATE TABLE c (id INTEGER PRIMARY KEY, p INTEGER REFERENCES p(id))"), 0u);
    ASSERT_EQ(run(u"INSERT INTO p VALUES (1)"), 0u);
    QNThreadErrorHandler::errorHandler().clear();
    EXPECT_EQ(run(u"INSERT INTO p VALUES (1)"), QN_MASKDUPKEY);
    ASSERT_EQ(QNThreadErrorHandler::errorHandler().errors().size(), 1u);
    EXPECT_EQ(QNThreadErrorHandler::errorHandler().errors()[0].code(), 19);
    EXPECT_EQ(run(u"INSERT INTO c VALUES (1, 99)"), QN_MASKFOREIGNKEY);
    EXPECT_EQ(run(u"SELEC 1"), 1001u);
    EXPECT_EQ(run(u"INSERT INTO p VALUES (5); DELETE FROM p"), 1001u)
        << "a second statement is refused, not left out";
    EXPECT_EQ(run(u"INSERT INTO p VALUES (5); -- done\n"), 0u);
    EXPECT_EQ(run(u"SELECT ?", {Value(1), Value(2)}), 1025u) << "more parameters than it has";
    connection_->commit();

    // Another connection holding the write lock: busy past the timeout.
    sqlite3* other = nullptr;
    sqlite3_open(file_.c_str(), &other);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(run(u"INSERT INTO p VALUES (2)"), QN_MASKLOCKERR);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(run(u"INSERT INTO p VALUES (2)"), 0u);
    connection_->commit();
}

TEST_F(SQLiteTest, WritesRunInATransactionThatCommitOrRollbackEnds) {
    ASSERT_EQ(run(u"CREATE TABLE t (v)"), 0u);
    connection_->commit();
    ASSERT_EQ(run(u" insert into t values (1)"), 0u) << "a leading blank is still a write";
    EXPECT_TRUE(connection_->hasAnyOpenTransaction());
    connection_->rollback();
    EXPECT_FALSE(connection_->hasAnyOpenTransaction());
    auto returning = connection_->commandWithSQLStatement(u"INSERT INTO t VALUES (7) RETURNING v");
    ASSERT_EQ(returning->execute(), 0u);
    EXPECT_TRUE(connection_->hasAnyOpenTransaction()) << "RETURNING writes";
    returning->fetch();
    EXPECT_EQ(returning->intValueForColumn(u"v"), 7);
    returning->close();
    connection_->commit();
    Peek peek(file_);
    EXPECT_EQ(peek.first("SELECT count(*) FROM t").second, "1");
    EXPECT_EQ(peek.first("PRAGMA journal_mode").second, "wal");

    struct stat info {};
    ASSERT_EQ(::stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the database is the user's alone";
    EXPECT_TRUE(connection_->isDatabaseCreated());
}

TEST_F(SQLiteTest, CommandsThatOutliveDisconnectAreDetached) {
    ASSERT_EQ(run(u"CREATE TABLE t (v)"), 0u);
    ASSERT_EQ(run(u"INSERT INTO t VALUES (1), (2)"), 0u);
    connection_->commit();
    auto open = connection_->commandWithSQLStatement(u"SELECT v FROM t");
    ASSERT_EQ(open->execute(), 0u);
    open->fetch();
    connection_->disconnect();
    QNThreadErrorHandler::errorHandler().clear();
    open->fetch();
    EXPECT_EQ(open->status(), 1021u);
    EXPECT_EQ(open->execute(), 1021u);
    EXPECT_EQ(open->intValueForColumn(u"v"), 0);
    EXPECT_FALSE(QNThreadErrorHandler::errorHandler().errors().empty());
    // The connection opens again when a new command needs it.
    auto again = connection_->commandWithSQLStatement(u"SELECT count(*) FROM t");
    again->fetchFirst();
    EXPECT_EQ(again->numberValueForColumnAtIndex(0), Value(2));
}

// One connection shared by threads: its mutex covers commands and
// transactions, so every row of every thread arrives.
TEST_F(SQLiteTest, ConcurrentCommandsOnOneConnection) {
    ASSERT_EQ(run(u"CREATE TABLE t (thread INTEGER, n INTEGER)"), 0u);
    connection_->commit();
    constexpr int kRows = 200;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            auto insert = connection_->commandWithSQLStatement(u"INSERT INTO t VALUES (?, ?)");
            auto count = connection_->commandWithSQLStatement(u"SELECT count(*) FROM t");
            for (int n = 0; n < kRows; ++n) {
                insert->setParameters(std::vector<Value>{Value(t), Value(n)});
                if (insert->execute() != 0) ++failures;
                if (n % 50 == 49) connection_->commit();
                count->fetchFirst();
                (void)count->numberValueForColumnAtIndex(0);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    connection_->commit();
    EXPECT_EQ(failures.load(), 0);
    Peek peek(file_);
    EXPECT_EQ(peek.first("SELECT count(*) FROM t").second, std::to_string(4 * kRows));
}

// Files written by work that rolls back go; files removed by work go only
// once it commits; nothing outside the blob and upload folders is touched.
TEST_F(SQLiteTest, BlobFilesFollowTheWorkThatRecordedThem) {
    const std::filesystem::path blobs = toUtf8(QNFileSystemObject::blobDataPath());
    std::filesystem::create_directories(blobs);
    const auto make = [&](const char* name) {
        const auto path = blobs / name;
        test::writeFile(path, "x");
        return fromUtf8(path.string());
    };
    ASSERT_EQ(run(u"CREATE TABLE t (v)"), 0u);
    connection_->commit();

    const String written = make("written.jpg");
    const String removed = make("removed.jpg");
    ASSERT_EQ(run(u"INSERT INTO t VALUES (1)"), 0u);
    connection_->addInsertedBlobURLAbsoluteString(u"file://" + written);
    connection_->addDeletedBlobURLAbsoluteString(removed);
    EXPECT_TRUE(std::filesystem::exists(toUtf8(removed))) << "not before the commit";
    connection_->rollback();
    EXPECT_FALSE(std::filesystem::exists(toUtf8(written)));
    EXPECT_TRUE(std::filesystem::exists(toUtf8(removed)));

    ASSERT_EQ(run(u"INSERT INTO t VALUES (2)"), 0u);
    connection_->addDeletedBlobURLAbsoluteString(removed);
    connection_->commit();
    EXPECT_FALSE(std::filesystem::exists(toUtf8(removed)));

    // Outside the roots nothing is removed, in or out of a transaction.
    const auto outside = dir_.write("keep.txt", "k");
    connection_->addDeletedBlobURLAbsoluteString(fromUtf8(outside.string()));
    connection_->addDeletedBlobURLAbsoluteString(u"file:///etc/hostname");
    connection_->addDeletedBlobURLAbsoluteString(fromUtf8((blobs / ".." / "keep.txt").string()));
    EXPECT_TRUE(std::filesystem::exists(outside));
    EXPECT_TRUE(std::filesystem::exists("/etc/hostname"));
}

}  // namespace
