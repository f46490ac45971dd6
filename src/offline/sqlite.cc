// The SQLite connection and command.
//
// A connection's state lives in a Shared block that its commands hold too,
// so a command never outlives what it points at: disconnect finalizes the
// statements of live commands and marks them detached, and a connection
// destroyed before its commands leaves them detached as well.
//
// Statements are prepared once per SQL text and kept (SQLITE_PREPARE_PERSISTENT)
// in the connection's cache while no command uses them; a command takes one
// out for its life, so two live commands never share a statement.
#include <qn/core/string.h>
#include <qn/files/file_system_object.h>
#include <qn/host/dates.h>
#include <qn/host/errors.h>
#include <qn/host/utilities.h>
#include <qn/offline/db.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "host/paths.h"
#include "host/url.h"

namespace qn {

QN_REGISTER_CLASS(QNSQLiteConnection, QNDBConnection)
QN_REGISTER_CLASS(QNSQLiteCommand, QNDBCommand)

namespace {

constexpr int kBusyTimeoutMs = 5000;
// take()'s answer for a text of more than one statement (reported as a
// plain SQL error).
constexpr int kMoreThanOneStatement = -1;
constexpr std::uint32_t kMisuse = 1000 + SQLITE_MISUSE;

// The column names of a prepared statement, lower-cased (ASCII), built once
// per statement and kept with it in the cache.
struct ColumnNames {
    std::vector<std::string> names;
    std::unordered_map<std::string, int> byName;  // for wide rows

    explicit ColumnNames(sqlite3_stmt* stmt) {
        const int n = sqlite3_column_count(stmt);
        names.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            const char* name = sqlite3_column_name(stmt, i);
            std::string lower = name ? name : "";
            for (char& c : lower)
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            names.push_back(lower);
            if (n > 8) byName.emplace(std::move(lower), i);  // the first of a name wins
        }
    }

    static char16_t fold(char16_t c) noexcept {
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
    }
    static bool equalsFolded(StringView name, const std::string& lower) noexcept {
        if (name.size() != lower.size()) return false;
        for (std::size_t i = 0; i < name.size(); ++i)
            if (fold(name[i]) != static_cast<unsigned char>(lower[i])) return false;
        return true;
    }

    // The position of a column name in any ASCII letter case; -1 when none.
    int find(StringView name) const {
        if (byName.empty()) {
            for (std::size_t i = 0; i < names.size(); ++i)
                if (equalsFolded(name, names[i])) return static_cast<int>(i);
            return -1;
        }
        std::string key = toUtf8(name);
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const auto found = byName.find(key);
        return found == byName.end() ? -1 : found->second;
    }
};

struct CachedStatement {
    sqlite3_stmt* stmt = nullptr;
    std::shared_ptr<const ColumnNames> names;  // built on first use by name
    int columns = 0;                           // sqlite3_column_count, kept
};

// "yyyy-MM-dd HH:mm:ss.SSS" in UTC.
std::string dateText(DateTime date) {
    const CivilDateTime c = date.toCivilUTC();
    char buffer[48];
    const int n = std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d %02d:%02d:%02d.%03d",
                                static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute,
                                c.second, c.millisecond);
    return std::string(buffer, static_cast<std::size_t>(std::max(n, 0)));
}

// Reads "yyyy-MM-dd", "yyyy-MM-dd HH:mm[:ss[.S...]]" (or with a "T"); absent
// for anything else.
std::optional<DateTime> parseDateText(std::string_view text) {
    auto number = [&](std::size_t at, std::size_t width, int& out) {
        if (at + width > text.size()) return false;
        const auto* first = text.data() + at;
        const auto result = std::from_chars(first, first + width, out);
        return result.ec == std::errc() && result.ptr == first + width;
    };
    CivilDateTime c;
    int year = 0;
    if (!number(0, 4, year) || text.size() < 10 || text[4] != '-' || text[7] != '-' ||
        !number(5, 2, c.month) || !number(8, 2, c.day))
        return std::nullopt;
    c.year = year;
    if (text.size() > 10) {
        if ((text[10] != ' ' && text[10] != 'T') || !number(11, 2, c.hour) || text.size() < 16 ||
            text[13] != ':' || !number(14, 2, c.minute))
            return std::nullopt;
        if (text.size() > 16) {
            if (text[16] != ':' || !number(17, 2, c.second)) return std::nullopt;
            if (text.size() > 19) {
                if (text[19] != '.') return std::nullopt;
                int millis = 0;
                int digits = 0;
                for (std::size_t i = 20; i < text.size(); ++i) {
                    if (text[i] < '0' || text[i] > '9') return std::nullopt;
                    if (digits < 3) millis = millis * 10 + (text[i] - '0');
                    ++digits;
                }
                for (; digits < 3; ++digits)
                    millis *= 10;
                c.millisecond = millis;
            }
        }
    }
    if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour > 23 || c.minute > 59 ||
        c.second > 60)
        return std::nullopt;
    return DateTime::fromCivilUTC(c);
}

// Significant digits of a decimal (trailing zeros of its coefficient aside).
int significantDigits(const Decimal& d) {
    auto c = d.coefficient();
    if (c == 0) return 0;
    while (c % 10 == 0)
        c /= 10;
    int digits = 0;
    for (; c != 0; c /= 10)
        ++digits;
    return digits;
}

// A REAL as the decimal it was bound from: its 15-significant-digit text
// (a decimal of at most 15 digits is the one such text whose double it is).
// The common case, a value with few decimal places, is found by scaling:
// r / 10^k == v with r below 10^15 names that decimal exactly.
Decimal decimalOfReal(double v) {
    if (!std::isfinite(v)) return Decimal();
    const double magnitude = std::fabs(v);
    double scale = 1;
    for (int k = 0; k <= 15; ++k, scale *= 10) {
        const double r = std::nearbyint(magnitude * scale);
        if (r >= 1e15) break;
        if (r / scale == magnitude) return Decimal::fromParts(v < 0, static_cast<uint128>(r), -k);
    }
    char buffer[40];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 15);
    const Decimal d = Decimal::fromString(std::string_view(buffer, end.ptr));
    return d.isNaN() ? Decimal() : d;
}

bool isUnder(const std::filesystem::path& path, const std::filesystem::path& root) {
    return path != root && internal::pathIsWithinRoot(internal::fromSystemPath(path),
                                                      internal::fromSystemPath(root));
}

}  // namespace

// --- The connection's shared state ------------------------------------------------------

struct QNSQLiteConnection::Shared {
    std::recursive_mutex mutex;
    String identifier;
    String path;
    sqlite3* db = nullptr;
    std::unordered_map<std::string, std::vector<CachedStatement>> idle;
    std::unordered_set<QNSQLiteCommand::Impl*> live;
    std::vector<String> insertedBlobs;
    std::vector<String> deletedBlobs;

    ~Shared() { close(); }

    // Reports a failure of the database (code, message) and answers the
    // status generated code tests.
    std::uint32_t fail(int rc) {
        const int primary = rc & 0xff;
        const char* message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        QNThreadErrorHandler::errorHandler().addError(
            QNError(String(QNError::kDomain), primary, fromUtf8(message ? message : "")));
        switch (primary) {
            case SQLITE_CONSTRAINT:
                if (rc == SQLITE_CONSTRAINT_PRIMARYKEY || rc == SQLITE_CONSTRAINT_UNIQUE)
                    return QN_MASKDUPKEY;
                if (rc == SQLITE_CONSTRAINT_FOREIGNKEY) return QN_MASKFOREIGNKEY;
                return 1000 + SQLITE_CONSTRAINT;
            case SQLITE_BUSY:
            case SQLITE_LOCKED:
                return QN_MASKLOCKERR;
            default:
                return 1000 + static_cast<std::uint32_t>(primary);
        }
    }

    std::uint32_t failWith(int rc, std::string_view message) {
        QNThreadErrorHandler::errorHandler().addError(
            QNError(String(QNError::kDomain), rc & 0xff, fromUtf8(message)));
        return 1000 + static_cast<std::uint32_t>(rc & 0xff);
    }

    // Opens the database when it is not; 0, or the status of the failure.
    std::uint32_t open() {
        if (db) return 0;
        const std::string file = toUtf8(path);
        std::error_code error;
        const bool existed = std::filesystem::exists(file, error);
        // The caches folder the database lives in is made on demand (and may
        // have been purged).
        if (!existed) {
            const auto folder = std::filesystem::path(file).parent_path();
            if (!folder.empty()) std::filesystem::create_directories(folder, error);
        }
        const int rc = sqlite3_open_v2(
            file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
            nullptr);
        if (rc != SQLITE_OK) {
            const std::uint32_t status = fail(rc);
            sqlite3_close_v2(db);
            db = nullptr;
            return status;
        }
        // The database holds the user's data: owner only (SQLite gives its
        // side files the same mode).
        if (!existed) ::chmod(file.c_str(), S_IRUSR | S_IWUSR);
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        // Switching a new file to WAL while another process opens it too is
        // refused at once (SQLite does not wait there, to avoid a deadlock):
        // it is tried again within the busy timeout.
        int pragmas = SQLITE_BUSY;
        for (int waited = 0; waited <= kBusyTimeoutMs; waited += 10) {
            pragmas = sqlite3_exec(db,
                                   "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; "
                                   "PRAGMA foreign_keys=ON;",
                                   nullptr, nullptr, nullptr);
            if ((pragmas & 0xff) != SQLITE_BUSY && (pragmas & 0xff) != SQLITE_LOCKED) break;
            sqlite3_sleep(10);
        }
        if (pragmas != SQLITE_OK) {
            const std::uint32_t status = fail(pragmas);
            sqlite3_close_v2(db);
            db = nullptr;
            return status;
        }
        return 0;
    }

    bool inTransaction() const { return db && sqlite3_get_autocommit(db) == 0; }

    // BEGIN IMMEDIATE unless a transaction is open; 0 or the failure.
    std::uint32_t begin() {
        if (const std::uint32_t status = open()) return status;
        if (inTransaction()) return 0;
        const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        return rc == SQLITE_OK ? 0 : fail(rc);
    }

    // A statement for the text: one kept idle, else a new one.
    int take(const std::string& sql, CachedStatement& out) {
        if (auto found = idle.find(sql); found != idle.end() && !found->second.empty()) {
            out = std::move(found->second.back());
            found->second.pop_back();
            return SQLITE_OK;
        }
        out = {};
        const char* tail = nullptr;
        const int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                          SQLITE_PREPARE_PERSISTENT, &out.stmt, &tail);
        if (rc != SQLITE_OK || !out.stmt || !tail) return rc;
        // A command runs one statement: a second one would be left out
        // without a word, so it is refused (blanks and comments may follow).
        sqlite3_stmt* next = nullptr;
        const int nextRc = sqlite3_prepare_v2(
            db, tail, static_cast<int>(sql.data() + sql.size() - tail), &next, nullptr);
        const bool more = nextRc != SQLITE_OK || next != nullptr;
        sqlite3_finalize(next);
        if (!more) return SQLITE_OK;
        sqlite3_finalize(out.stmt);
        out.stmt = nullptr;
        return kMoreThanOneStatement;
    }

    void giveBack(const std::string& sql, CachedStatement statement) {
        if (!statement.stmt) return;
        if (!db) {
            sqlite3_finalize(statement.stmt);
            return;
        }
        sqlite3_reset(statement.stmt);
        sqlite3_clear_bindings(statement.stmt);
        idle[sql].push_back(std::move(statement));
    }

    // --- Blob files ---------------------------------------------------------------

    // Removes a blob file, only when it lies under the blob or pending-upload
    // folder (a recorded URL never reaches anything else).
    static void removeBlob(const String& url) {
        String path;
        if (StringView(url).starts_with(u"file:")) {
            auto file = internal::pathOfFileURL(url);
            if (!file) return;
            path = *file;
        } else if (!url.empty() && url[0] == u'/') {
            path = url;
        } else if (QNFileSystemObject::filePathIsRelativeToBlobDataPath(url) ||
                   StringView(url).starts_with(u"$UPLOADS/")) {
            path = QNFileSystemObject::absoluteFilePathForRelativePath(StringView(url));
        } else {
            return;
        }
        std::error_code error;
        const auto target = std::filesystem::weakly_canonical(toUtf8(path), error);
        if (error) return;
        const auto blobs =
            std::filesystem::weakly_canonical(toUtf8(QNFileSystemObject::blobDataPath()), error);
        if (error) return;
        const auto uploads = std::filesystem::weakly_canonical(
            toUtf8(QNFileSystemObject::pendingUploadsPath()), error);
        if (error) return;
        if (!isUnder(target, blobs) && !isUnder(target, uploads)) return;
        if (!std::filesystem::is_regular_file(target, error)) return;
        std::filesystem::remove(target, error);
    }

    // The work ended: after a commit the files it removed go; after a
    // rollback the files it wrote go.
    void settle(bool committed) {
        for (const String& url : committed ? deletedBlobs : insertedBlobs)
            removeBlob(url);
        insertedBlobs.clear();
        deletedBlobs.clear();
    }

    std::uint32_t commit() {
        if (!inTransaction()) {
            settle(true);
            return 0;
        }
        const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            settle(true);
            return 0;
        }
        const std::uint32_t status = fail(rc);
        rollback();
        return status;
    }

    void rollback() {
        if (inTransaction()) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        settle(false);
    }

    void detachAll();

    void close() {
        if (!db) return;
        rollback();
        detachAll();
        for (auto& [sql, statements] : idle)
            for (auto& statement : statements)
                sqlite3_finalize(statement.stmt);
        idle.clear();
        sqlite3_close_v2(db);
        db = nullptr;
    }
};

// --- The command -------------------------------------------------------------------------

struct QNSQLiteCommand::Impl {
    std::shared_ptr<QNSQLiteConnection::Shared> connection;
    std::string sql;
    CachedStatement statement;
    // The bound values: strings and data are bound without a copy, so they
    // live here until the next execute or close.
    std::vector<Value> bound;
    bool detached = false;
    bool pendingRow = false;  // stepped onto a row that fetch makes current
    bool rowCurrent = false;
    bool done = false;

    sqlite3_stmt* stmt() const noexcept { return statement.stmt; }

    void release() {
        if (statement.stmt) connection->giveBack(sql, std::move(statement));
        statement = {};
        bound.clear();
        pendingRow = rowCurrent = false;
        done = true;
    }

    void detach() {
        if (statement.stmt) sqlite3_finalize(statement.stmt);
        statement = {};
        bound.clear();
        detached = true;
        pendingRow = rowCurrent = false;
        done = true;
    }

    std::uint32_t detachedFailure() {
        QNThreadErrorHandler::errorHandler().addError(QNError(
            String(QNError::kDomain), SQLITE_MISUSE, u"The command's connection was closed"));
        return kMisuse;
    }

    int bind(int position, const Value& value) {
        sqlite3_stmt* s = stmt();
        switch (value.kind()) {
            case ValueKind::kAbsent:
            case ValueKind::kNull:
                return sqlite3_bind_null(s, position);
            case ValueKind::kBool:
                return sqlite3_bind_int64(s, position, value.boolValue() ? 1 : 0);
            case ValueKind::kInt:
                return sqlite3_bind_int64(s, position, value.integerValue());
            case ValueKind::kDouble:
                return sqlite3_bind_double(s, position, value.doubleValue());
            case ValueKind::kDecimal: {
                const Decimal d = value.decimalValue();
                if (d.isNaN()) return sqlite3_bind_null(s, position);
                if (d.isInteger() && d.compare(Decimal(d.toInt64())) == 0)
                    return sqlite3_bind_int64(s, position, d.toInt64());
                if (significantDigits(d) <= 15)
                    return sqlite3_bind_double(s, position, d.toDouble());
                const std::string text = d.toStdString();
                return sqlite3_bind_text(s, position, text.data(), static_cast<int>(text.size()),
                                         SQLITE_TRANSIENT);
            }
            case ValueKind::kString: {
                const String& text = value.asString();
                return sqlite3_bind_text16(s, position, text.data(),
                                           static_cast<int>(text.size() * sizeof(char16_t)),
                                           SQLITE_STATIC);
            }
            case ValueKind::kDate: {
                const std::string text = dateText(value.asDate());
                return sqlite3_bind_text(s, position, text.data(), static_cast<int>(text.size()),
                                         SQLITE_TRANSIENT);
            }
            case ValueKind::kData: {
                const Bytes& data = value.asData();
                return sqlite3_bind_blob(s, position, data.data(), static_cast<int>(data.size()),
                                         SQLITE_STATIC);
            }
            case ValueKind::kUuid: {
                const std::string text = toUtf8(value.asUuid().uuidString());
                return sqlite3_bind_text(s, position, text.data(), static_cast<int>(text.size()),
                                         SQLITE_TRANSIENT);
            }
            default: {
                const std::string text = toUtf8(value.description());
                return sqlite3_bind_text(s, position, text.data(), static_cast<int>(text.size()),
                                         SQLITE_TRANSIENT);
            }
        }
    }

    // The column of a name for a getter; -1 (reported) when there is none.
    int column(StringView name) {
        if (!stmt()) return -1;
        if (!statement.names) statement.names = std::make_shared<ColumnNames>(stmt());
        const int index = statement.names->find(name);
        if (index < 0) {
            QNUtilities::tryRecoverFatalError(u"Unknown column " + String(name) + u" in " +
                                              fromUtf8(sql));
        }
        return index;
    }
    int column(std::uint64_t index) const {
        if (!stmt()) return -1;
        if (index >= static_cast<std::uint64_t>(statement.columns)) {
            QNUtilities::tryRecoverFatalError(u"Column position " +
                                              fromUtf8(std::to_string(index)) +
                                              u" out of range in " + fromUtf8(sql));
            return -1;
        }
        return static_cast<int>(index);
    }
    // The type of a column of the current row; SQLITE_NULL without a row.
    int type(int index) const {
        return index < 0 || !rowCurrent ? SQLITE_NULL : sqlite3_column_type(stmt(), index);
    }
    std::string_view text(int index) const {
        const auto* bytes = sqlite3_column_text(stmt(), index);
        const int n = sqlite3_column_bytes(stmt(), index);
        return bytes ? std::string_view(reinterpret_cast<const char*>(bytes),
                                        static_cast<std::size_t>(n))
                     : std::string_view();
    }

    // NULL has no text (sqlite3_column_text answers none), so one call
    // tells the empty value apart.
    String stringAt(int index) const {
        return index < 0 || !rowCurrent ? String() : fromUtf8(text(index));
    }
    DateTime dateAt(int index) const {
        if (type(index) != SQLITE_TEXT) return qnEmptyDate();
        return parseDateText(text(index)).value_or(qnEmptyDate());
    }
    Value numberAt(int index) const {
        switch (type(index)) {
            case SQLITE_INTEGER:
                return Value(static_cast<std::int64_t>(sqlite3_column_int64(stmt(), index)));
            case SQLITE_FLOAT:
                return Value(sqlite3_column_double(stmt(), index));
            case SQLITE_TEXT: {
                const Decimal d = Decimal::fromString(text(index));
                return d.isNaN() ? Value(std::int64_t{0}) : Value(d);
            }
            default:
                return Value(std::int64_t{0});
        }
    }
    std::int64_t int64At(int index) const {
        return type(index) == SQLITE_NULL ? 0 : sqlite3_column_int64(stmt(), index);
    }
    double doubleAt(int index) const {
        return type(index) == SQLITE_NULL ? 0 : sqlite3_column_double(stmt(), index);
    }
    bool boolAt(int index) const {
        switch (type(index)) {
            case SQLITE_INTEGER:
                return sqlite3_column_int64(stmt(), index) != 0;
            case SQLITE_FLOAT:
                return sqlite3_column_double(stmt(), index) != 0;
            case SQLITE_TEXT:
                return Value(fromUtf8(text(index))).boolValue();
            default:
                return false;
        }
    }
    Decimal decimalAt(int index) const {
        switch (type(index)) {
            case SQLITE_INTEGER:
                return Decimal(static_cast<std::int64_t>(sqlite3_column_int64(stmt(), index)));
            case SQLITE_FLOAT:
                return decimalOfReal(sqlite3_column_double(stmt(), index));
            case SQLITE_TEXT: {
                const Decimal d = Decimal::fromString(text(index));
                return d.isNaN() ? Decimal() : d;
            }
            default:
                return Decimal();
        }
    }
    Bytes dataAt(int index) const {
        const int t = type(index);
        if (t == SQLITE_NULL) return {};
        const auto* bytes = static_cast<const std::uint8_t*>(
            t == SQLITE_BLOB ? sqlite3_column_blob(stmt(), index)
                             : static_cast<const void*>(sqlite3_column_text(stmt(), index)));
        const int n = sqlite3_column_bytes(stmt(), index);
        return bytes ? Bytes(bytes, bytes + n) : Bytes();
    }
    QNUUID uuidAt(int index) const {
        switch (type(index)) {
            case SQLITE_TEXT:
                return QNUUID::fromString(fromUtf8(text(index))).value_or(QNUUID::emptyUUID());
            case SQLITE_BLOB: {
                if (sqlite3_column_bytes(stmt(), index) != 16) return QNUUID::emptyUUID();
                QNUUID::Bytes16 bytes;
                const auto* p =
                    static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt(), index));
                std::copy(p, p + 16, bytes.begin());
                return QNUUID(bytes);
            }
            default:
                return QNUUID::emptyUUID();
        }
    }
};

void QNSQLiteConnection::Shared::detachAll() {
    for (QNSQLiteCommand::Impl* command : live)
        command->detach();
    live.clear();
}

// --- QNSQLiteConnection ------------------------------------------------------------------

QNSQLiteConnection::QNSQLiteConnection() : shared_(std::make_shared<Shared>()) {}

QNSQLiteConnection::~QNSQLiteConnection() {
    std::lock_guard lock(shared_->mutex);
    shared_->close();
}

void QNSQLiteConnection::initWithIdConnectionString(StringView identifier,
                                                    StringView connectionString) {
    std::lock_guard lock(shared_->mutex);
    shared_->identifier = String(identifier);
    shared_->path = String(connectionString);
}

String QNSQLiteConnection::connectionIdentifier() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->identifier;
}

String QNSQLiteConnection::connectionString() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->path;
}

bool QNSQLiteConnection::isDatabaseCreated() const {
    std::string file;
    {
        std::lock_guard lock(shared_->mutex);
        file = toUtf8(shared_->path);
    }
    std::ifstream in(file, std::ios::binary);
    char header[16] = {};
    return in.read(header, sizeof header) &&
           std::string_view(header, sizeof header) == std::string_view("SQLite format 3\0", 16);
}

void QNSQLiteConnection::connect() {
    std::lock_guard lock(shared_->mutex);
    shared_->open();
}

void QNSQLiteConnection::disconnect() {
    std::lock_guard lock(shared_->mutex);
    shared_->close();
}

void QNSQLiteConnection::beginTransaction() {
    std::lock_guard lock(shared_->mutex);
    shared_->begin();
}

void QNSQLiteConnection::endTransaction() {
    commit();
}

void QNSQLiteConnection::commit() {
    std::lock_guard lock(shared_->mutex);
    shared_->commit();
}

void QNSQLiteConnection::rollback() {
    std::lock_guard lock(shared_->mutex);
    shared_->rollback();
}

bool QNSQLiteConnection::hasAnyOpenTransaction() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->inTransaction();
}

Ref<QNDBCommand> QNSQLiteConnection::internal_commandWithSQLStatement(StringView statement) {
    return makeRef<QNSQLiteCommand>(shared_, String(statement));
}

void QNSQLiteConnection::addInsertedBlobURLAbsoluteString(StringView url) {
    std::lock_guard lock(shared_->mutex);
    // Outside a transaction the file is kept at once: nothing to remember.
    if (shared_->inTransaction()) shared_->insertedBlobs.emplace_back(url);
}

void QNSQLiteConnection::addDeletedBlobURLAbsoluteString(StringView url) {
    std::lock_guard lock(shared_->mutex);
    if (shared_->inTransaction()) {
        shared_->deletedBlobs.emplace_back(url);
    } else {
        Shared::removeBlob(String(url));
    }
}

// --- QNSQLiteCommand ----------------------------------------------------------------------

QNSQLiteCommand::QNSQLiteCommand() : d_(std::make_unique<Impl>()) {
    d_->detached = true;  // made without a connection: nothing to run on
}

QNSQLiteCommand::QNSQLiteCommand(std::shared_ptr<QNSQLiteConnection::Shared> connection,
                                 String statement)
    : QNDBCommand(std::move(statement)), d_(std::make_unique<Impl>()) {
    d_->connection = std::move(connection);
    d_->sql = toUtf8(this->statement());
    std::lock_guard lock(d_->connection->mutex);
    d_->connection->live.insert(d_.get());
}

QNSQLiteCommand::~QNSQLiteCommand() {
    if (!d_->connection) return;
    std::lock_guard lock(d_->connection->mutex);
    d_->connection->live.erase(d_.get());
    if (!d_->detached) d_->release();
}

std::uint32_t QNSQLiteCommand::execute() {
    if (!d_->connection) return status_ = d_->detachedFailure();
    auto& connection = *d_->connection;
    std::lock_guard lock(connection.mutex);
    Impl& d = *d_;
    if (d.detached) return status_ = d.detachedFailure();
    d.pendingRow = d.rowCurrent = d.done = false;
    if (const std::uint32_t failure = connection.open()) return status_ = failure;
    if (!d.stmt()) {
        CachedStatement taken;
        const int rc = connection.take(d.sql, taken);
        if (rc == kMoreThanOneStatement) {
            d.done = true;
            return status_ = connection.failWith(
                       SQLITE_ERROR, "A command runs one statement; the text holds more than one");
        }
        if (rc != SQLITE_OK) {
            d.done = true;
            return status_ = connection.fail(rc);
        }
        if (!taken.stmt) {  // only blanks or a comment: nothing to run
            d.done = true;
            return status_ = QN_STATUS_OK;
        }
        taken.columns = sqlite3_column_count(taken.stmt);
        d.statement = std::move(taken);
    } else {
        sqlite3_reset(d.stmt());
        sqlite3_clear_bindings(d.stmt());
    }
    d.bound = resolvedCommandParameters();
    const int declared = sqlite3_bind_parameter_count(d.stmt());
    if (static_cast<int>(d.bound.size()) > declared) {
        d.done = true;
        return status_ =
                   connection.failWith(SQLITE_RANGE, "More parameters than the statement has");
    }
    for (std::size_t i = 0; i < d.bound.size(); ++i) {
        const int rc = d.bind(static_cast<int>(i) + 1, d.bound[i]);
        if (rc != SQLITE_OK) {
            d.done = true;
            return status_ = connection.fail(rc);
        }
    }
    // What the statement does is SQLite's to say (a leading blank, WITH or
    // RETURNING would mislead a look at its text): one that writes runs
    // inside a transaction.
    if (!sqlite3_stmt_readonly(d.stmt())) {
        if (const std::uint32_t failure = connection.begin()) {
            d.done = true;
            return status_ = failure;
        }
    }
    const int rc = sqlite3_step(d.stmt());
    if (rc == SQLITE_ROW) {
        d.pendingRow = true;
        return status_ = QN_STATUS_OK;
    }
    d.done = true;
    if (rc == SQLITE_DONE) return status_ = QN_STATUS_OK;
    const std::uint32_t failure = connection.fail(rc);
    sqlite3_reset(d.stmt());
    return status_ = failure;
}

Value QNSQLiteCommand::executeScalar() {
    if (execute() != QN_STATUS_OK) return Value();
    fetch();
    if (status_ != QN_STATUS_OK) return Value();
    std::lock_guard lock(d_->connection->mutex);
    const int t = d_->type(0);
    switch (t) {
        case SQLITE_INTEGER:
        case SQLITE_FLOAT:
            return d_->numberAt(0);
        case SQLITE_TEXT:
            return Value(d_->stringAt(0));
        case SQLITE_BLOB:
            return Value(d_->dataAt(0));
        default:
            return Value::null();
    }
}

void QNSQLiteCommand::fetch() {
    if (!d_->connection) {
        status_ = d_->detachedFailure();
        return;
    }
    auto& connection = *d_->connection;
    std::lock_guard lock(connection.mutex);
    Impl& d = *d_;
    if (d.detached) {
        status_ = d.detachedFailure();
        return;
    }
    if (d.pendingRow) {
        d.pendingRow = false;
        d.rowCurrent = true;
        status_ = QN_STATUS_OK;
        return;
    }
    d.rowCurrent = false;
    if (d.done || !d.stmt()) {
        status_ = QN_STATUS_NO_ROWS;
        return;
    }
    const int rc = sqlite3_step(d.stmt());
    if (rc == SQLITE_ROW) {
        d.rowCurrent = true;
        status_ = QN_STATUS_OK;
        return;
    }
    d.done = true;
    if (rc == SQLITE_DONE) {
        status_ = QN_STATUS_NO_ROWS;
        sqlite3_reset(d.stmt());  // ends the statement's read of the database
        return;
    }
    status_ = connection.fail(rc);
    sqlite3_reset(d.stmt());
}

bool QNSQLiteCommand::eof() {
    if (!d_->connection) return true;
    std::lock_guard lock(d_->connection->mutex);
    return !d_->rowCurrent;
}

void QNSQLiteCommand::close() {
    status_ = QN_STATUS_NO_ROWS;
    if (!d_->connection) return;
    std::lock_guard lock(d_->connection->mutex);
    if (!d_->detached) d_->release();
}

std::uint64_t QNSQLiteCommand::columnCount() {
    if (!d_->connection) return 0;
    std::lock_guard lock(d_->connection->mutex);
    return d_->stmt() ? static_cast<std::uint64_t>(sqlite3_column_count(d_->stmt())) : 0;
}

String QNSQLiteCommand::columnNameAtIndex(std::uint64_t index) {
    if (!d_->connection) return {};
    std::lock_guard lock(d_->connection->mutex);
    const int column = d_->column(index);
    if (column < 0) return {};
    const char* name = sqlite3_column_name(d_->stmt(), column);
    return name ? fromUtf8(name) : String();
}

QNDBCommand::ColumnType QNSQLiteCommand::columnTypeAtIndex(std::uint64_t index) {
    if (!d_->connection) return QNDBColumnNull;
    std::lock_guard lock(d_->connection->mutex);
    switch (d_->type(d_->column(index))) {
        case SQLITE_INTEGER:
            return QNDBColumnInteger;
        case SQLITE_FLOAT:
            return QNDBColumnFloat;
        case SQLITE_TEXT:
            return QNDBColumnText;
        case SQLITE_BLOB:
            return QNDBColumnBlob;
        default:
            return QNDBColumnNull;
    }
}

// Getters: under the connection's lock, on the current row.
#define QN_SQLITE_GETTER(Type, name, Arg, body)      \
    Type QNSQLiteCommand::name(Arg key) {            \
        if (!d_->connection) return Type{};          \
        std::lock_guard lock(d_->connection->mutex); \
        const int index = d_->column(key);           \
        return body;                                 \
    }

QN_SQLITE_GETTER(String, stringValueForColumn, StringView, d_->stringAt(index))
QN_SQLITE_GETTER(String, stringValueForColumnAtIndex, std::uint64_t, d_->stringAt(index))
QN_SQLITE_GETTER(Value, numberValueForColumn, StringView, d_->numberAt(index))
QN_SQLITE_GETTER(Value, numberValueForColumnAtIndex, std::uint64_t, d_->numberAt(index))
QN_SQLITE_GETTER(std::int64_t, intValueForColumn, StringView, d_->int64At(index))
QN_SQLITE_GETTER(std::int64_t, int64ValueForColumn, StringView, d_->int64At(index))
QN_SQLITE_GETTER(double, doubleValueForColumn, StringView, d_->doubleAt(index))
QN_SQLITE_GETTER(bool, booleanValueForColumn, StringView, d_->boolAt(index))
QN_SQLITE_GETTER(bool, booleanValueForColumnAtIndex, std::uint64_t, d_->boolAt(index))
QN_SQLITE_GETTER(Decimal, decimalValueForColumn, StringView, d_->decimalAt(index))
QN_SQLITE_GETTER(Decimal, decimalValueForColumnAtIndex, std::uint64_t, d_->decimalAt(index))
QN_SQLITE_GETTER(Bytes, dataValueForColumn, StringView, d_->dataAt(index))
QN_SQLITE_GETTER(Bytes, dataValueForColumnAtIndex, std::uint64_t, d_->dataAt(index))
QN_SQLITE_GETTER(QNUUID, uuidValueForColumn, StringView, d_->uuidAt(index))
QN_SQLITE_GETTER(QNUUID, uuidValueForColumnAtIndex, std::uint64_t, d_->uuidAt(index))
QN_SQLITE_GETTER(String, uriValueForColumn, StringView, d_->stringAt(index))
QN_SQLITE_GETTER(String, uriValueForColumnAtIndex, std::uint64_t, d_->stringAt(index))
QN_SQLITE_GETTER(bool, valueIsNullForColumn, StringView, d_->type(index) == SQLITE_NULL)
QN_SQLITE_GETTER(bool, valueIsNullForColumnAtIndex, std::uint64_t, d_->type(index) == SQLITE_NULL)
#undef QN_SQLITE_GETTER

DateTime QNSQLiteCommand::dateValueForColumn(StringView column) {
    if (!d_->connection) return qnEmptyDate();
    std::lock_guard lock(d_->connection->mutex);
    return d_->dateAt(d_->column(column));
}

DateTime QNSQLiteCommand::dateValueForColumnAtIndex(std::uint64_t index) {
    if (!d_->connection) return qnEmptyDate();
    std::lock_guard lock(d_->connection->mutex);
    return d_->dateAt(d_->column(index));
}

// Registered when the library loads, so a connection can be made whatever
// the order in which the application starts.
namespace {
const bool sqliteRegistered = [] {
    QNDBConnection::registerConnectionClassForType(QNSQLiteConnection::staticClassInfo(), 0);
    return true;
}();
}  // namespace

}  // namespace qn
