// Connections and commands: how the library talks to the offline database.
//
// QNDBConnection and QNDBCommand are abstract; the library registers its
// SQLite pair (QNSQLiteConnection, QNSQLiteCommand) for connection type 0 when
// it loads, so a connection can be made whatever the start-up order. An
// operation the base cannot perform throws InvalidArgumentException
// ("-[QNDBConnection connect] must be overridden in a subclass.").
//
// Statuses (QNDBCommand::status, execute): 0 success (after fetch: a row is
// current); 101 no (more) rows, and a closed command; error bits that
// generated code tests: 4 a primary-key or unique violation, 32 a
// foreign-key violation, 1 the database stayed busy past the busy timeout;
// any other failure 1000 + SQLite's primary result code. Every failure also
// adds a QNError (SQLite's primary code, its message) to the thread's list.
//
// The SQLite connection opens its file when a command first needs it (also
// after disconnect), in WAL mode with synchronous=FULL, a 5 s busy timeout
// and foreign keys on; a statement that writes starts a transaction (BEGIN
// IMMEDIATE) when none is open, which commit or rollback ends. One mutex per
// connection covers every command and transaction operation, so commands
// may be used from several threads. Commands that outlive disconnect are
// detached: their statements are finalized and later calls answer 1021
// (misuse) with an error, never touching a closed database.
//
// Values: strings as text, integers and booleans as INTEGER, doubles as
// REAL, decimals as INTEGER when integral within 64 bits, REAL with 15 or
// fewer significant digits, TEXT otherwise (read back exactly; a column with
// numeric affinity keeps 15 significant digits of a longer one, which is
// SQLite's rule); dates as UTC text "yyyy-MM-dd HH:mm:ss.SSS"; data as BLOB;
// UUIDs as their text; the null marker as NULL. Getters read NULL as their
// type's empty value (valueIsNull tells it apart).
#pragma once

#include <qn/core/datetime.h>
#include <qn/core/decimal.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/core/uuid.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace qn {

class QNDBCommand;

class QN_API QNDBConnection : public Object {
    QN_OBJECT(QNDBConnection)
public:
    // Type 0 remembers the class (replacing an earlier one); any other type
    // is ignored. The class must derive from QNDBConnection.
    static void registerConnectionClassForType(const ClassInfo* connectionClass, std::uint8_t type);
    // Type 0: a new instance of the registered class, initialised with the
    // identifier and connection string; null for another type or no class.
    static Ref<QNDBConnection> createConnectionOfTypeWithIdentifierConnectionString(
        std::uint8_t type, StringView identifier, StringView connectionString);

    // Keeps nothing here; the concrete class keeps both.
    virtual void initWithIdConnectionString(StringView identifier, StringView connectionString);

    virtual std::uint8_t connectionType() const;
    virtual String connectionIdentifier() const;
    // The absolute path of the database file.
    virtual String connectionString() const;
    virtual bool isDatabaseCreated() const;
    virtual void connect();
    virtual void disconnect();
    virtual void beginTransaction();
    virtual void endTransaction();
    virtual void commit();
    virtual void rollback();
    virtual bool hasAnyOpenTransaction() const;

    // internal_commandWithSQLStatement.
    Ref<QNDBCommand> commandWithSQLStatement(StringView statement) {
        return internal_commandWithSQLStatement(statement);
    }
    virtual Ref<QNDBCommand> internal_commandWithSQLStatement(StringView statement);

    // Blob files (absolute file URLs or paths) written or removed by the
    // current work: kept or removed when it commits or rolls back.
    virtual void addInsertedBlobURLAbsoluteString(StringView url);
    virtual void addDeletedBlobURLAbsoluteString(StringView url);
};

class QN_API QNDBCommand : public Object {
    QN_OBJECT(QNDBCommand)
public:
    QNDBCommand() = default;
    explicit QNDBCommand(String statement) : statement_(std::move(statement)) {}

    const String& statement() const noexcept { return statement_; }
    const std::optional<std::vector<Value>>& parameters() const noexcept { return parameters_; }
    void setParameters(std::optional<std::vector<Value>> parameters) {
        parameters_ = std::move(parameters);
    }
    const std::optional<std::vector<bool>>& nullParameters() const noexcept {
        return nullParameters_;
    }
    void setNullParameters(std::optional<std::vector<bool>> flags) {
        nullParameters_ = std::move(flags);
    }

    // The statement, lower-cased, begins with "select" or "pragma" (leading
    // blanks are not skipped). The SQLite command does not use it: it asks
    // SQLite what a statement does.
    bool isQuery() const;
    // The parameters with the null marker where a flag says so (flags past
    // the parameters, and parameters past the flags, are left alone); empty
    // without parameters.
    std::vector<Value> resolvedCommandParameters() const;

    // execute, then fetch.
    void fetchFirst();
    virtual std::uint32_t execute();
    virtual Value executeScalar();
    virtual void fetch();
    virtual bool eof();
    virtual std::uint32_t status() const;
    virtual void close();

    // The columns of the statement's rows (0 before the first execute and
    // for a statement that answers none), their names, and the kind of value
    // a column holds in the current row (QNDBColumnNull without a row).
    virtual std::uint64_t columnCount();
    virtual String columnNameAtIndex(std::uint64_t index);
    enum ColumnType {
        QNDBColumnNull,
        QNDBColumnInteger,
        QNDBColumnFloat,
        QNDBColumnText,
        QNDBColumnBlob
    };
    virtual ColumnType columnTypeAtIndex(std::uint64_t index);

    // Typed getters, by column name (any ASCII letter case) and by 0-based
    // position.
    virtual String stringValueForColumn(StringView column);
    virtual String stringValueForColumnAtIndex(std::uint64_t index);
    virtual DateTime dateValueForColumn(StringView column);
    virtual DateTime dateValueForColumnAtIndex(std::uint64_t index);
    virtual Value numberValueForColumn(StringView column);
    virtual Value numberValueForColumnAtIndex(std::uint64_t index);
    virtual std::int64_t intValueForColumn(StringView column);
    virtual std::int64_t int64ValueForColumn(StringView column);
    virtual double doubleValueForColumn(StringView column);
    virtual bool booleanValueForColumn(StringView column);
    virtual bool booleanValueForColumnAtIndex(std::uint64_t index);
    virtual Decimal decimalValueForColumn(StringView column);
    virtual Decimal decimalValueForColumnAtIndex(std::uint64_t index);
    virtual Bytes dataValueForColumn(StringView column);
    virtual Bytes dataValueForColumnAtIndex(std::uint64_t index);
    virtual QNUUID uuidValueForColumn(StringView column);
    virtual QNUUID uuidValueForColumnAtIndex(std::uint64_t index);
    virtual String uriValueForColumn(StringView column);
    virtual String uriValueForColumnAtIndex(std::uint64_t index);
    virtual bool valueIsNullForColumn(StringView column);
    virtual bool valueIsNullForColumnAtIndex(std::uint64_t index);

private:
    String statement_;
    std::optional<std::vector<Value>> parameters_;
    std::optional<std::vector<bool>> nullParameters_;
};

// Class operations generated offline code uses for blob columns.
class QN_API QNDbFile {
public:
    // The last path component without its extension.
    static String fileName(StringView path);
    // The extension of the last path component, without the dot.
    static String fileType(StringView path);
    // A new blob path for the URL; the blob download service is asked to
    // fetch it there, and the path is answered at once.
    static String uriFromURL(StringView url);
    static String uriFromFileNameType(StringView name, StringView type) {
        return uriFromFileNameTypePath(name, type, {});
    }
    // "name.type" ("multimedia-file" and "tmp" standing in for blank ones);
    // blank name and type are taken from the path when there is one.
    static String uriFromFileNameTypePath(StringView name, StringView type, StringView path);
    // The uri when the blob, trimmed, is not empty; else "".
    static String urlFromBlobUri(StringView blob, StringView uri);
};

// Status values and masks of commands.
inline constexpr std::uint32_t QN_STATUS_OK = 0;
inline constexpr std::uint32_t QN_STATUS_NO_ROWS = 101;
inline constexpr std::uint32_t QN_MASKLOCKERR = 1;
inline constexpr std::uint32_t QN_MASKDUPKEY = 4;
inline constexpr std::uint32_t QN_MASKFOREIGNKEY = 32;

// The library's SQLite connection (registered for type 0).
class QN_API QNSQLiteConnection : public QNDBConnection {
    QN_OBJECT(QNSQLiteConnection)
public:
    QNSQLiteConnection();
    ~QNSQLiteConnection() override;

    void initWithIdConnectionString(StringView identifier, StringView connectionString) override;
    std::uint8_t connectionType() const override { return 0; }
    String connectionIdentifier() const override;
    String connectionString() const override;
    // The file exists and holds a database.
    bool isDatabaseCreated() const override;
    // Opens the database now (commands open it when they need it).
    void connect() override;
    // Rolls back open work, detaches the commands, closes the file.
    void disconnect() override;
    // BEGIN IMMEDIATE unless a transaction is open.
    void beginTransaction() override;
    // Commits an open transaction.
    void endTransaction() override;
    void commit() override;
    void rollback() override;
    bool hasAnyOpenTransaction() const override;
    Ref<QNDBCommand> internal_commandWithSQLStatement(StringView statement) override;
    void addInsertedBlobURLAbsoluteString(StringView url) override;
    void addDeletedBlobURLAbsoluteString(StringView url) override;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

// A statement on a QNSQLiteConnection.
class QN_API QNSQLiteCommand : public QNDBCommand {
    QN_OBJECT(QNSQLiteCommand)
public:
    QNSQLiteCommand();
    QNSQLiteCommand(std::shared_ptr<QNSQLiteConnection::Shared> connection, String statement);
    ~QNSQLiteCommand() override;

    // Runs the statement with the resolved parameters: a statement that
    // answers rows is positioned before its first row (fetch moves on); any
    // other runs to its end.
    std::uint32_t execute() override;
    // The first column of the first row; Absent when there is none.
    Value executeScalar() override;
    void fetch() override;
    bool eof() override;
    std::uint32_t status() const override { return status_; }
    // Gives the statement back to the connection's cache.
    void close() override;

    std::uint64_t columnCount() override;
    String columnNameAtIndex(std::uint64_t index) override;
    ColumnType columnTypeAtIndex(std::uint64_t index) override;
    String stringValueForColumn(StringView column) override;
    String stringValueForColumnAtIndex(std::uint64_t index) override;
    DateTime dateValueForColumn(StringView column) override;
    DateTime dateValueForColumnAtIndex(std::uint64_t index) override;
    Value numberValueForColumn(StringView column) override;
    Value numberValueForColumnAtIndex(std::uint64_t index) override;
    std::int64_t intValueForColumn(StringView column) override;
    std::int64_t int64ValueForColumn(StringView column) override;
    double doubleValueForColumn(StringView column) override;
    bool booleanValueForColumn(StringView column) override;
    bool booleanValueForColumnAtIndex(std::uint64_t index) override;
    Decimal decimalValueForColumn(StringView column) override;
    Decimal decimalValueForColumnAtIndex(std::uint64_t index) override;
    Bytes dataValueForColumn(StringView column) override;
    Bytes dataValueForColumnAtIndex(std::uint64_t index) override;
    QNUUID uuidValueForColumn(StringView column) override;
    QNUUID uuidValueForColumnAtIndex(std::uint64_t index) override;
    String uriValueForColumn(StringView column) override;
    String uriValueForColumnAtIndex(std::uint64_t index) override;
    bool valueIsNullForColumn(StringView column) override;
    bool valueIsNullForColumnAtIndex(std::uint64_t index) override;

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
    std::uint32_t status_ = QN_STATUS_NO_ROWS;
};

}  // namespace qn
