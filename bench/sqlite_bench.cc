// The offline database's connection and command beside raw sqlite3 calls on
// the same schema, each on a real database file in a fresh temporary folder
// opened as the library opens its own (WAL, synchronous=FULL, foreign keys,
// the same busy timeout), so both sides pay the same journal and syncs.
//
// Inserts: 100,000 rows of three columns (INTEGER, TEXT, a decimal) in one
// transaction, a command made, given its parameters and executed per row as
// generated code does, beside one statement prepared once and bound, stepped
// and reset per row. The raw side keeps its rows as plain C types (UTF-8
// text, the amount as a double), as a hand-written program would.
//
// The data-store provider, as generated programs use it: an insert cursor
// executed, its status read and closed per row (with and without a runtime
// operator in its text), and a select read with readNext, getStatus and the
// getters by name, on the database manager's connection; beside the same raw
// statements.
//
// Reads: a million rows of id, name and amount fetched with the getters by
// name and by position, beside sqlite3_step and sqlite3_column_* copying the
// text into a std::string; and the decimal and date getters alone beside the
// raw column read plus the conversion a program would write by hand
// (Decimal::fromDouble of the REAL; the date text parsed at its fixed
// positions into DateTime::fromCivilUTC). The read database is written once;
// every row is read by both sides and checked against what was written
// before anything is measured.
#include <qn/core/datetime.h>
#include <qn/core/decimal.h>
#include <qn/core/string.h>
#include <qn/host/bundle.h>
#include <qn/host/environment.h>
#include <qn/offline/data_store.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>
#include <qn/value.h>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kInsertRows = 100'000;
constexpr int kReadRows = 1'000'000;

constexpr char16_t kInsertSql[] = u"INSERT INTO items (id, name, amount) VALUES (?, ?, ?)";
constexpr char kCreateInsertTable[] =
    "CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT NOT NULL, amount NUMERIC NOT NULL)";
constexpr char16_t kSelectThree[] = u"SELECT id, name, amount FROM items";
constexpr char16_t kSelectAmount[] = u"SELECT amount FROM items";
constexpr char16_t kSelectCreated[] = u"SELECT created FROM items";

[[noreturn]] void setupFailed(const std::string& what) {
    std::fprintf(stderr, "sqlite_bench: %s\n", what.c_str());
    std::abort();
}

// A fresh folder for the run's databases, removed when the run ends. Made
// before any database that lives in it, so it outlives them.
class Folder {
public:
    static const fs::path& path() {
        static const Folder folder;
        return folder.path_;
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }

private:
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "qn-sqlite-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) setupFailed("cannot make a temporary folder");
        path_ = pattern;
    }
    fs::path path_;
};

// The database file and its WAL side files.
void removeDatabase(const fs::path& file) {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        fs::remove(file.string() + suffix, ec);
}

void rawExec(sqlite3* db, const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string what = std::string(sql) + ": " + (message ? message : "");
        sqlite3_free(message);
        setupFailed(what);
    }
}

// Opened as the library opens its databases.
sqlite3* rawOpen(const fs::path& file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
        setupFailed("cannot open " + file.string());
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 5000);
    rawExec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;");
    return db;
}

sqlite3_stmt* rawPrepare(sqlite3* db, std::string_view sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), 0, &stmt, nullptr) !=
        SQLITE_OK)
        setupFailed(std::string(sql) + ": " + sqlite3_errmsg(db));
    return stmt;
}

qn::Ref<qn::QNDBConnection> libraryConnection(const fs::path& file) {
    auto connection = qn::QNDBConnection::createConnectionOfTypeWithIdentifierConnectionString(
        0, u"DEFAULT", qn::fromUtf8(file.string()));
    if (!connection) setupFailed("no connection class for type 0");
    return connection;
}

// --- The rows --------------------------------------------------------------------------

// Names of 20 to 30 bytes (past both string types' inline buffers), one
// city in five with a non-ASCII letter.
std::string rowName(int i) {
    static const char* const kCities[] = {
        "Montevideo", "Paysand\xC3\xBA",   "Salto",   "Maldonado", "Rivera",
        "Colonia",    "Tacuaremb\xC3\xB3", "Florida", "Rocha",     "Durazno"};
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, "Customer %07d, %s", i, kCities[i % 10]);
    return std::string(buffer, static_cast<std::size_t>(n));
}

// Amounts with two decimals up to 99,999.99, some negative, every hundredth
// whole: the library keeps them as REAL (INTEGER when whole).
qn::Decimal rowAmount(int i) {
    const std::uint64_t cents = (static_cast<std::uint64_t>(i) * 7919u) % 10'000'000u;
    return qn::Decimal::fromParts(i % 13 == 0, i % 100 == 0 ? cents / 100 * 100 : cents, -2);
}

qn::CivilDateTime rowCivil(int i) {
    qn::CivilDateTime c;
    c.year = 2015 + i % 11;
    c.month = 1 + i % 12;
    c.day = 1 + (i / 12) % 28;
    c.hour = (i / 7) % 24;
    c.minute = (i * 7) % 60;
    c.second = (i * 13) % 60;
    c.millisecond = (i * 37) % 1000;
    return c;
}

// As the library stores dates: UTC "yyyy-MM-dd HH:mm:ss.SSS".
std::string rowDateText(int i) {
    const qn::CivilDateTime c = rowCivil(i);
    char buffer[48];
    const int n = std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d %02d:%02d:%02d.%03d",
                                static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute,
                                c.second, c.millisecond);
    return std::string(buffer, static_cast<std::size_t>(n));
}

// --- Hand conversions of the raw side ----------------------------------------------------

// "yyyy-MM-dd HH:mm:ss.SSS" at its fixed positions; absent for other text.
std::optional<qn::DateTime> parseDateByHand(const unsigned char* s, int n) {
    if (!s || n != 23 || s[4] != '-' || s[7] != '-' || s[10] != ' ' || s[13] != ':' ||
        s[16] != ':' || s[19] != '.')
        return std::nullopt;
    bool ok = true;
    auto digits = [&](int at, int count) {
        int value = 0;
        for (int k = 0; k < count; ++k) {
            const unsigned digit = static_cast<unsigned>(s[at + k]) - '0';
            ok = ok && digit <= 9;
            value = value * 10 + static_cast<int>(digit);
        }
        return value;
    };
    qn::CivilDateTime c;
    c.year = digits(0, 4);
    c.month = digits(5, 2);
    c.day = digits(8, 2);
    c.hour = digits(11, 2);
    c.minute = digits(14, 2);
    c.second = digits(17, 2);
    c.millisecond = digits(20, 3);
    if (!ok) return std::nullopt;
    return qn::DateTime::fromCivilUTC(c);
}

qn::Decimal rawAmount(sqlite3_stmt* stmt, int column) {
    return qn::Decimal::fromDouble(sqlite3_column_double(stmt, column));
}

qn::DateTime rawDate(sqlite3_stmt* stmt, int column) {
    return parseDateByHand(sqlite3_column_text(stmt, column), sqlite3_column_bytes(stmt, column))
        .value_or(qn::DateTime());
}

std::string rawText(sqlite3_stmt* stmt, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
                : std::string();
}

// --- Inserts -----------------------------------------------------------------------------

struct RawRow {
    std::int64_t id;
    std::string name;
    double amount;
};

struct InsertRows {
    std::vector<std::vector<qn::Value>> library;
    std::vector<RawRow> raw;

    InsertRows() {
        library.reserve(kInsertRows);
        raw.reserve(kInsertRows);
        for (int i = 0; i < kInsertRows; ++i) {
            const std::string name = rowName(i);
            const qn::Decimal amount = rowAmount(i);
            library.push_back(
                {qn::Value(std::int64_t{i + 1}), qn::Value(qn::fromUtf8(name)), qn::Value(amount)});
            raw.push_back({i + 1, name, amount.toDouble()});
        }
    }
};

// A new file holding the empty table; the library's connection has
// committed it.
qn::Ref<qn::QNDBConnection> freshLibraryDatabase(const fs::path& file) {
    removeDatabase(file);
    auto connection = libraryConnection(file);
    auto create = connection->commandWithSQLStatement(qn::asciiString(kCreateInsertTable));
    if (create->execute() != qn::QN_STATUS_OK) setupFailed("the library cannot create the table");
    create.reset();
    connection->commit();
    return connection;
}

sqlite3* freshRawDatabase(const fs::path& file) {
    removeDatabase(file);
    sqlite3* db = rawOpen(file);
    rawExec(db, kCreateInsertTable);
    return db;
}

// A command per row, as generated code does; the transaction begins with
// the first write and ends with the commit.
bool libraryInsert(qn::QNDBConnection& connection,
                   const std::vector<std::vector<qn::Value>>& rows) {
    for (const auto& row : rows) {
        auto command = connection.commandWithSQLStatement(kInsertSql);
        command->setParameters(row);
        if (command->execute() != qn::QN_STATUS_OK) return false;
    }
    connection.commit();
    return !connection.hasAnyOpenTransaction();
}

// One statement prepared once, bound, stepped and reset per row, in one
// transaction.
bool rawInsertWith(sqlite3* db, const char* sql, const std::vector<RawRow>& rows) {
    rawExec(db, "BEGIN IMMEDIATE");
    sqlite3_stmt* stmt = rawPrepare(db, sql);
    bool ok = true;
    for (const RawRow& row : rows) {
        sqlite3_bind_int64(stmt, 1, row.id);
        sqlite3_bind_text(stmt, 2, row.name.data(), static_cast<int>(row.name.size()),
                          SQLITE_STATIC);
        sqlite3_bind_double(stmt, 3, row.amount);
        ok = sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_reset(stmt);
        if (!ok) break;
    }
    sqlite3_finalize(stmt);
    rawExec(db, ok ? "COMMIT" : "ROLLBACK");
    return ok;
}

bool rawInsert(sqlite3* db, const std::vector<RawRow>& rows) {
    return rawInsertWith(db, "INSERT INTO items (id, name, amount) VALUES (?, ?, ?)", rows);
}

// Aborts unless the two files' tables hold the same rows, each value of the
// same storage class and the same bytes.
void requireSameTables(const fs::path& libraryFile, const fs::path& rawFile) {
    sqlite3* a = rawOpen(libraryFile);
    sqlite3* b = rawOpen(rawFile);
    const char* sql = "SELECT id, name, amount FROM items ORDER BY id";
    sqlite3_stmt* sa = rawPrepare(a, sql);
    sqlite3_stmt* sb = rawPrepare(b, sql);
    int rows = 0;
    for (;; ++rows) {
        const int ra = sqlite3_step(sa);
        const int rb = sqlite3_step(sb);
        if (ra != rb) setupFailed("the inserted tables hold different numbers of rows");
        if (ra != SQLITE_ROW) break;
        for (int column = 0; column < 3; ++column) {
            const int type = sqlite3_column_type(sa, column);
            if (type != sqlite3_column_type(sb, column) ||
                rawText(sa, column) != rawText(sb, column))
                setupFailed("inserted row " + std::to_string(rows) + " column " +
                            std::to_string(column) + " differs: library '" + rawText(sa, column) +
                            "', raw '" + rawText(sb, column) + "'");
        }
    }
    if (rows != kInsertRows) setupFailed("the inserted tables miss rows");
    sqlite3_finalize(sa);
    sqlite3_finalize(sb);
    sqlite3_close_v2(a);
    sqlite3_close_v2(b);
}

// Both sides' rows, checked once to insert the same table.
const InsertRows& insertRows() {
    static const InsertRows rows = [] {
        InsertRows made;
        const fs::path libraryFile = Folder::path() / "insert-check-library.db";
        const fs::path rawFile = Folder::path() / "insert-check-raw.db";
        {
            auto connection = freshLibraryDatabase(libraryFile);
            if (!libraryInsert(*connection, made.library))
                setupFailed("the library's insert failed");
        }
        sqlite3* db = freshRawDatabase(rawFile);
        if (!rawInsert(db, made.raw)) setupFailed("the raw insert failed");
        sqlite3_close_v2(db);
        requireSameTables(libraryFile, rawFile);
        removeDatabase(libraryFile);
        removeDatabase(rawFile);
        return made;
    }();
    return rows;
}

void BM_SQLiteInsert100k_Qn(benchmark::State& state) {
    const auto& rows = insertRows().library;
    const fs::path file = Folder::path() / "insert-library.db";
    for (auto _ : state) {
        state.PauseTiming();
        auto connection = freshLibraryDatabase(file);
        state.ResumeTiming();
        if (!libraryInsert(*connection, rows)) state.SkipWithError("insert failed");
        state.PauseTiming();
        connection.reset();
        state.ResumeTiming();
    }
    removeDatabase(file);
    state.SetItemsProcessed(state.iterations() * kInsertRows);
}
BENCHMARK(BM_SQLiteInsert100k_Qn)->Unit(benchmark::kMillisecond);

void BM_SQLiteInsert100k_Raw(benchmark::State& state) {
    const auto& rows = insertRows().raw;
    const fs::path file = Folder::path() / "insert-raw.db";
    for (auto _ : state) {
        state.PauseTiming();
        sqlite3* db = freshRawDatabase(file);
        state.ResumeTiming();
        if (!rawInsert(db, rows)) state.SkipWithError("insert failed");
        state.PauseTiming();
        sqlite3_close_v2(db);
        state.ResumeTiming();
    }
    removeDatabase(file);
    state.SetItemsProcessed(state.iterations() * kInsertRows);
}
BENCHMARK(BM_SQLiteInsert100k_Raw)->Unit(benchmark::kMillisecond);

// --- Reads -------------------------------------------------------------------------------

// A million rows written once, as the library would store them (checked
// below), and read by every read benchmark; both sides' readers are checked
// against what was written, row by row, before anything is measured.
class ReadDatabase {
public:
    static const ReadDatabase& get() {
        static const ReadDatabase database;
        return database;
    }
    const fs::path& file() const { return file_; }

private:
    ReadDatabase() : file_(Folder::path() / "read.db") {
        write();
        checkLibraryStoresTheSame();
        checkReaders();
    }

    void write() const {
        sqlite3* db = rawOpen(file_);
        rawExec(db,
                "CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT NOT NULL, "
                "amount NUMERIC NOT NULL, created TEXT NOT NULL)");
        rawExec(db, "BEGIN IMMEDIATE");
        sqlite3_stmt* stmt = rawPrepare(db, "INSERT INTO items VALUES (?, ?, ?, ?)");
        for (int i = 0; i < kReadRows; ++i) {
            const std::string name = rowName(i);
            const std::string created = rowDateText(i);
            sqlite3_bind_int64(stmt, 1, i + 1);
            sqlite3_bind_text(stmt, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
            sqlite3_bind_double(stmt, 3, rowAmount(i).toDouble());
            sqlite3_bind_text(stmt, 4, created.data(), static_cast<int>(created.size()),
                              SQLITE_STATIC);
            if (sqlite3_step(stmt) != SQLITE_DONE) setupFailed("cannot write the read database");
            sqlite3_reset(stmt);
        }
        sqlite3_finalize(stmt);
        rawExec(db, "COMMIT");
        sqlite3_close_v2(db);  // checkpoints the WAL into the file
    }

    // A few rows written through the library hold what was written here.
    void checkLibraryStoresTheSame() const {
        const fs::path check = Folder::path() / "store-check.db";
        {
            removeDatabase(check);
            auto connection = libraryConnection(check);
            auto create = connection->commandWithSQLStatement(
                u"CREATE TABLE items (id INTEGER PRIMARY KEY, name TEXT NOT NULL, "
                u"amount NUMERIC NOT NULL, created TEXT NOT NULL)");
            if (create->execute() != qn::QN_STATUS_OK) setupFailed("cannot create the check table");
            create.reset();
            for (int i = 0; i < 1000; ++i) {
                const qn::CivilDateTime c = rowCivil(i);
                auto insert =
                    connection->commandWithSQLStatement(u"INSERT INTO items VALUES (?, ?, ?, ?)");
                insert->setParameters(std::vector<qn::Value>{
                    qn::Value(std::int64_t{i + 1}), qn::Value(qn::fromUtf8(rowName(i))),
                    qn::Value(rowAmount(i)), qn::Value(qn::DateTime::fromCivilUTC(c))});
                if (insert->execute() != qn::QN_STATUS_OK)
                    setupFailed("cannot fill the check table");
            }
            connection->commit();
        }
        sqlite3* a = rawOpen(check);
        sqlite3* b = rawOpen(file_);
        const char* sql =
            "SELECT typeof(name), name, typeof(amount), amount, typeof(created), created "
            "FROM items WHERE id <= 1000 ORDER BY id";
        sqlite3_stmt* sa = rawPrepare(a, sql);
        sqlite3_stmt* sb = rawPrepare(b, sql);
        while (sqlite3_step(sa) == SQLITE_ROW) {
            if (sqlite3_step(sb) != SQLITE_ROW) setupFailed("the read database misses rows");
            for (int column = 0; column < 6; ++column)
                if (rawText(sa, column) != rawText(sb, column))
                    setupFailed("the library stores '" + rawText(sa, column) + "' where '" +
                                rawText(sb, column) + "' was written");
        }
        sqlite3_finalize(sa);
        sqlite3_finalize(sb);
        sqlite3_close_v2(a);
        sqlite3_close_v2(b);
        removeDatabase(check);
    }

    // Every row through every getter the benchmarks use and through the raw
    // reads with their hand conversions: each must give what was written.
    void checkReaders() const {
        auto connection = libraryConnection(file_);
        auto command =
            connection->commandWithSQLStatement(u"SELECT id, name, amount, created FROM items");
        if (command->execute() != qn::QN_STATUS_OK) setupFailed("the library cannot select");
        sqlite3* db = rawOpen(file_);
        sqlite3_stmt* stmt = rawPrepare(db, "SELECT id, name, amount, created FROM items");
        int i = 0;
        for (command->fetch(); command->status() == qn::QN_STATUS_OK; command->fetch(), ++i) {
            if (sqlite3_step(stmt) != SQLITE_ROW) setupFailed("the raw select ends early");
            const std::string name = rowName(i);
            const qn::Decimal amount = rowAmount(i);
            const qn::DateTime created = qn::DateTime::fromCivilUTC(rowCivil(i));
            const std::string where = " at row " + std::to_string(i);
            if (command->intValueForColumn(u"id") != i + 1 ||
                command->numberValueForColumnAtIndex(0).integerValue() != i + 1 ||
                sqlite3_column_int64(stmt, 0) != i + 1)
                setupFailed("ids differ" + where);
            if (qn::toUtf8(command->stringValueForColumn(u"name")) != name ||
                qn::toUtf8(command->stringValueForColumnAtIndex(1)) != name ||
                rawText(stmt, 1) != name)
                setupFailed("names differ" + where);
            if (command->decimalValueForColumn(u"amount") != amount ||
                command->decimalValueForColumnAtIndex(2) != amount || rawAmount(stmt, 2) != amount)
                setupFailed("amounts differ" + where + ": written " + amount.toStdString() +
                            ", library " + command->decimalValueForColumn(u"amount").toStdString() +
                            ", raw " + rawAmount(stmt, 2).toStdString());
            if (command->dateValueForColumn(u"created") != created || rawDate(stmt, 3) != created)
                setupFailed("dates differ" + where);
        }
        if (i != kReadRows || sqlite3_step(stmt) != SQLITE_DONE)
            setupFailed("the selects answer " + std::to_string(i) + " rows");
        sqlite3_finalize(stmt);
        sqlite3_close_v2(db);
    }

    fs::path file_;
};

// The raw side's statement on its own handle, closed at the end.
class RawReader {
public:
    RawReader(const fs::path& file, std::u16string_view sql)
        : db_(rawOpen(file)), stmt_(rawPrepare(db_, qn::toUtf8(sql))) {}
    ~RawReader() {
        sqlite3_finalize(stmt_);
        sqlite3_close_v2(db_);
    }
    sqlite3_stmt* stmt() const { return stmt_; }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_;
};

// The library's loop: a command per pass (its statement comes from the
// connection's cache after the first), fetch until no row is current.
template <class ReadRow>
void libraryRead(benchmark::State& state, std::u16string_view sql, ReadRow readRow) {
    auto connection = libraryConnection(ReadDatabase::get().file());
    connection->connect();  // opened before the clock, as the raw side's handle is
    int rows = 0;
    for (auto _ : state) {
        auto command = connection->commandWithSQLStatement(sql);
        if (command->execute() != qn::QN_STATUS_OK) state.SkipWithError("select failed");
        rows = 0;
        for (command->fetch(); command->status() == qn::QN_STATUS_OK; command->fetch(), ++rows)
            readRow(*command);
    }
    if (rows != kReadRows) state.SkipWithError("rows are missing");
    state.SetItemsProcessed(state.iterations() * kReadRows);
}

template <class ReadRow>
void rawRead(benchmark::State& state, std::u16string_view sql, ReadRow readRow) {
    const RawReader reader(ReadDatabase::get().file(), sql);
    sqlite3_stmt* stmt = reader.stmt();
    int rows = 0;
    for (auto _ : state) {
        rows = 0;
        for (; sqlite3_step(stmt) == SQLITE_ROW; ++rows)
            readRow(stmt);
        sqlite3_reset(stmt);
    }
    if (rows != kReadRows) state.SkipWithError("rows are missing");
    state.SetItemsProcessed(state.iterations() * kReadRows);
}

void BM_SQLiteSelect1M_QnByName(benchmark::State& state) {
    libraryRead(state, kSelectThree, [](qn::QNDBCommand& command) {
        std::int64_t id = command.intValueForColumn(u"id");
        qn::String name = command.stringValueForColumn(u"name");
        qn::Decimal amount = command.decimalValueForColumn(u"amount");
        benchmark::DoNotOptimize(id);
        benchmark::DoNotOptimize(name);
        benchmark::DoNotOptimize(amount);
    });
}
BENCHMARK(BM_SQLiteSelect1M_QnByName)->Unit(benchmark::kMillisecond);

void BM_SQLiteSelect1M_QnByIndex(benchmark::State& state) {
    libraryRead(state, kSelectThree, [](qn::QNDBCommand& command) {
        std::int64_t id = command.numberValueForColumnAtIndex(0).integerValue();
        qn::String name = command.stringValueForColumnAtIndex(1);
        qn::Decimal amount = command.decimalValueForColumnAtIndex(2);
        benchmark::DoNotOptimize(id);
        benchmark::DoNotOptimize(name);
        benchmark::DoNotOptimize(amount);
    });
}
BENCHMARK(BM_SQLiteSelect1M_QnByIndex)->Unit(benchmark::kMillisecond);

void BM_SQLiteSelect1M_Raw(benchmark::State& state) {
    rawRead(state, kSelectThree, [](sqlite3_stmt* stmt) {
        std::int64_t id = sqlite3_column_int64(stmt, 0);
        std::string name = rawText(stmt, 1);
        double amount = sqlite3_column_double(stmt, 2);
        benchmark::DoNotOptimize(id);
        benchmark::DoNotOptimize(name);
        benchmark::DoNotOptimize(amount);
    });
}
BENCHMARK(BM_SQLiteSelect1M_Raw)->Unit(benchmark::kMillisecond);

void BM_SQLiteDecimalColumn1M_Qn(benchmark::State& state) {
    libraryRead(state, kSelectAmount, [](qn::QNDBCommand& command) {
        qn::Decimal amount = command.decimalValueForColumn(u"amount");
        benchmark::DoNotOptimize(amount);
    });
}
BENCHMARK(BM_SQLiteDecimalColumn1M_Qn)->Unit(benchmark::kMillisecond);

void BM_SQLiteDecimalColumn1M_RawFromDouble(benchmark::State& state) {
    rawRead(state, kSelectAmount, [](sqlite3_stmt* stmt) {
        qn::Decimal amount = rawAmount(stmt, 0);
        benchmark::DoNotOptimize(amount);
    });
}
BENCHMARK(BM_SQLiteDecimalColumn1M_RawFromDouble)->Unit(benchmark::kMillisecond);

void BM_SQLiteDateColumn1M_Qn(benchmark::State& state) {
    libraryRead(state, kSelectCreated, [](qn::QNDBCommand& command) {
        qn::DateTime created = command.dateValueForColumn(u"created");
        benchmark::DoNotOptimize(created);
    });
}
BENCHMARK(BM_SQLiteDateColumn1M_Qn)->Unit(benchmark::kMillisecond);

void BM_SQLiteDateColumn1M_RawHandParse(benchmark::State& state) {
    rawRead(state, kSelectCreated, [](sqlite3_stmt* stmt) {
        qn::DateTime created = rawDate(stmt, 0);
        benchmark::DoNotOptimize(created);
    });
}
BENCHMARK(BM_SQLiteDateColumn1M_RawHandParse)->Unit(benchmark::kMillisecond);

// --- The data-store provider ----------------------------------------------------------

constexpr std::int64_t kInsertCursor = 1;
constexpr std::int64_t kInsertWithOperatorCursor = 2;
constexpr std::int64_t kSelectCursor = 3;
constexpr char kInsertWithOperatorRaw[] =
    "INSERT INTO items (id, name, amount) SELECT ?, ?, ? WHERE 1 = 1";

class BenchHelper : public qn::QNDataStoreHelperBase {
public:
    std::shared_ptr<const qn::QNCursor> getCursor(std::int64_t cursor) override {
        switch (cursor) {
            case kInsertCursor:
                return insert_;
            case kInsertWithOperatorCursor:
                return insertWithOperator_;
            case kSelectCursor:
                return select_;
            default:
                return nullptr;
        }
    }

private:
    std::shared_ptr<const qn::QNCursor> insert_ =
        std::make_shared<qn::UpdateCursor>(u"I1", kInsertSql);
    std::shared_ptr<const qn::QNCursor> insertWithOperator_ = std::make_shared<qn::UpdateCursor>(
        u"I2", u"INSERT INTO items (id, name, amount) SELECT ?, ?, ? WHERE 1 {{op}} 1");
    std::shared_ptr<const qn::QNCursor> select_ =
        std::make_shared<qn::ForEachCursor>(u"S1", kSelectThree);
};

// An offline application whose database is <folder>/manager/caches/Bench.sqlite,
// made current (other benchmarks change the main bundle).
fs::path useManagerDatabase() {
    const fs::path root = Folder::path() / "manager";
    static const bool written = [&root] {
        fs::create_directories(root / "bundle");
        std::ofstream(root / "bundle" / "model.json")
            << R"({"appName": "Bench", "connectivitySupport": 1})";
        return true;
    }();
    (void)written;
    qn::QNBundle::setMainBundlePath(root / "bundle");
    qn::QNObjectsModelServices::applicationStorageService().setApplicationCachesDirectory(root /
                                                                                          "caches");
    auto& manager = qn::QNDBManager::sharedInstance();
    manager.resetDatabaseConnections();
    return qn::toUtf8(manager.databasePath());
}

// The manager's database made afresh with the empty table.
void freshManagerDatabase(const fs::path& file) {
    auto& manager = qn::QNDBManager::sharedInstance();
    manager.disconnect();
    removeDatabase(file);
    if (qn::QNDBManager::executeInDatastoreCommandString(
            u"DEFAULT", qn::asciiString(kCreateInsertTable)) != qn::QN_STATUS_OK)
        setupFailed("the provider's table cannot be made");
    manager.commit();
}

bool providerInsert(qn::QNDataStoreProvider& provider, std::int64_t cursor,
                    const qn::QNRuntimeOperators& runtime,
                    const std::vector<std::vector<qn::Value>>& rows) {
    static const std::vector<bool> kFlags{false, false, false};
    for (const auto& row : rows) {
        provider.execute(cursor, row, kFlags, runtime);
        const std::int64_t status = provider.getStatus(cursor);
        provider.close(cursor);
        if (status != qn::QN_STATUS_OK) return false;
    }
    qn::QNDBManager::sharedInstance().commit();
    return true;
}

void providerInsertBenchmark(benchmark::State& state, std::int64_t cursor,
                             const qn::QNRuntimeOperators& runtime) {
    const auto& rows = insertRows().library;
    const fs::path file = useManagerDatabase();
    qn::QNDataStoreProvider provider(std::make_shared<BenchHelper>(), {{}});
    for (auto _ : state) {
        state.PauseTiming();
        freshManagerDatabase(file);
        state.ResumeTiming();
        if (!providerInsert(provider, cursor, runtime, rows)) state.SkipWithError("insert failed");
    }
    // The rows the provider wrote are the ones the raw insert writes.
    qn::QNDBManager::sharedInstance().disconnect();
    const fs::path rawFile = Folder::path() / "provider-check-raw.db";
    sqlite3* db = freshRawDatabase(rawFile);
    if (!rawInsert(db, insertRows().raw)) setupFailed("the raw insert failed");
    sqlite3_close_v2(db);
    requireSameTables(file, rawFile);
    removeDatabase(rawFile);
    removeDatabase(file);
    state.SetItemsProcessed(state.iterations() * kInsertRows);
}

void BM_ProviderInsert100k(benchmark::State& state) {
    providerInsertBenchmark(state, kInsertCursor, {});
}
BENCHMARK(BM_ProviderInsert100k)->Unit(benchmark::kMillisecond);

void BM_ProviderInsert100k_RuntimeOperator(benchmark::State& state) {
    providerInsertBenchmark(state, kInsertWithOperatorCursor, {{u"op", u"="}});
}
BENCHMARK(BM_ProviderInsert100k_RuntimeOperator)->Unit(benchmark::kMillisecond);

void BM_ProviderInsert100k_RuntimeOperator_Raw(benchmark::State& state) {
    const auto& rows = insertRows().raw;
    const fs::path file = Folder::path() / "insert-operator-raw.db";
    for (auto _ : state) {
        state.PauseTiming();
        sqlite3* db = freshRawDatabase(file);
        state.ResumeTiming();
        if (!rawInsertWith(db, kInsertWithOperatorRaw, rows)) state.SkipWithError("insert failed");
        state.PauseTiming();
        sqlite3_close_v2(db);
        state.ResumeTiming();
    }
    removeDatabase(file);
    state.SetItemsProcessed(state.iterations() * kInsertRows);
}
BENCHMARK(BM_ProviderInsert100k_RuntimeOperator_Raw)->Unit(benchmark::kMillisecond);

void BM_ProviderSelect1M_ByName(benchmark::State& state) {
    const fs::path file = useManagerDatabase();
    qn::QNDBManager::sharedInstance().disconnect();
    removeDatabase(file);
    fs::create_directories(file.parent_path());
    fs::copy_file(ReadDatabase::get().file(), file, fs::copy_options::overwrite_existing);
    qn::QNDataStoreProvider provider(std::make_shared<BenchHelper>(), {{}});
    qn::QNDBManager::sharedInstance().connectionForDatastore(u"DEFAULT")->connect();
    int rows = 0;
    for (auto _ : state) {
        provider.execute(kSelectCursor, {}, {}, {});
        rows = 0;
        for (provider.readNext(kSelectCursor); provider.getStatus(kSelectCursor) == 0;
             provider.readNext(kSelectCursor), ++rows) {
            auto command = provider.getDBCommand(kSelectCursor);
            std::int64_t id = command->intValueForColumn(u"id");
            qn::String name = command->stringValueForColumn(u"name");
            qn::Decimal amount = command->decimalValueForColumn(u"amount");
            benchmark::DoNotOptimize(id);
            benchmark::DoNotOptimize(name);
            benchmark::DoNotOptimize(amount);
        }
        provider.close(kSelectCursor);
    }
    if (rows != kReadRows) state.SkipWithError("rows are missing");
    qn::QNDBManager::sharedInstance().disconnect();
    removeDatabase(file);
    state.SetItemsProcessed(state.iterations() * kReadRows);
}
BENCHMARK(BM_ProviderSelect1M_ByName)->Unit(benchmark::kMillisecond);

}  // namespace
