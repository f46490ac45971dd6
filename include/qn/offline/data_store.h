// How generated offline programs read and write the database: a
// QNDataStoreProvider runs the program's cursors by number. The program's
// data-store helper (a QNDataStoreHelperBase subclass) knows each cursor's
// SQL text and builds the text of dynamic cursors; the provider applies
// runtime comparison operators, binds the parameters, executes on the
// manager's "DEFAULT" connection and keeps the command as the open cursor
// until the program closes it.
//
// Runtime operators: a statement may hold placeholders "{{name}}" (found
// ignoring case) where a comparison operator is chosen at run time. Only
// "<", "<=", ">", ">=", "=", "<>" and "like" are accepted, only the first
// occurrence of each placeholder is replaced, and never one inside a quoted
// literal; values always travel as bound parameters. A substitution that
// fails leaves the cursor closed.
//
// Statuses are the command's (see <qn/offline/db.h>); a cursor that is not
// open answers 101.
//
// A provider belongs to one program instance and is used by one thread at a
// time; any number of providers may share the connection.
#pragma once

#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/offline/db.h>
#include <qn/value.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace qn {

// Status masks generated code tests (the library's commands answer 1, 4 and
// 32; the others are for generated code's own use).
inline constexpr std::uint32_t QN_NOMASK = 0;
inline constexpr std::uint32_t QN_MASKNOTFOUND = 2;
inline constexpr std::uint32_t QN_MASKOBJEXIST = 8;
inline constexpr std::uint32_t QN_MASKLOOPLOCK = 16;
inline constexpr std::uint32_t QN_ROLLBACKSAVEPOINT = 64;

// One cursor definition: its generated name and SQL text (which may hold
// operator placeholders), or the marker "scmdbuf" for a dynamic cursor.
class QN_API QNCursor {
public:
    static constexpr StringView kDynamicMarker = u"scmdbuf";

    QNCursor(String name, String statement)
        : name_(std::move(name)), statement_(std::move(statement)) {}
    virtual ~QNCursor();

    const String& name() const noexcept { return name_; }
    const String& statement() const noexcept { return statement_; }

private:
    String name_;
    String statement_;
};

// A reading cursor and a changing one; the provider treats them alike.
class QN_API ForEachCursor : public QNCursor {
public:
    using QNCursor::QNCursor;
};
class QN_API UpdateCursor : public QNCursor {
public:
    using QNCursor::QNCursor;
};

// Placeholder name -> operator, applied in this order.
using QNRuntimeOperators = std::vector<std::pair<String, String>>;

class QN_API QNDataStoreHelperProtocol {
public:
    virtual ~QNDataStoreHelperProtocol();
    // The cursor of that number, or null.
    virtual std::shared_ptr<const QNCursor> getCursor(std::int64_t cursor) = 0;
    // For a dynamic cursor, two elements: the SQL text and an Array of
    // integers, one per parameter position, 0 when that parameter is bound.
    // Any other shape means there is no dynamic text.
    virtual std::vector<Value> getDynamicStatement(std::int64_t cursor,
                                                   const std::vector<Value>& values) = 0;
};

// What generated helpers derive from.
class QN_API QNDataStoreHelperBase : public Object, public QNDataStoreHelperProtocol {
    QN_OBJECT(QNDataStoreHelperBase)
public:
    std::shared_ptr<const QNCursor> getCursor(std::int64_t) override { return nullptr; }
    std::vector<Value> getDynamicStatement(std::int64_t, const std::vector<Value>&) override {
        return {};
    }
    // " WHERE <condition>" when `where` is empty, else
    // "<where> AND <condition>".
    virtual String addWhere(StringView where, StringView condition);
};

class QN_API QNDataStoreProvider {
public:
    QNDataStoreProvider();
    QNDataStoreProvider(std::shared_ptr<QNDataStoreHelperProtocol> helper,
                        std::vector<std::vector<Value>> buffers);
    virtual ~QNDataStoreProvider();
    QNDataStoreProvider(const QNDataStoreProvider&) = delete;
    QNDataStoreProvider& operator=(const QNDataStoreProvider&) = delete;

    const std::shared_ptr<QNDataStoreHelperProtocol>& dataStoreHelper() const noexcept {
        return helper_;
    }
    // Kept for the generated program; the provider does not use them.
    const std::vector<std::vector<Value>>& buffers() const noexcept { return buffers_; }
    std::map<std::int64_t, Ref<QNDBCommand>>& openCursors() noexcept { return openCursors_; }
    std::map<std::int64_t, String>& dynStatements() noexcept { return dynStatements_; }
    std::map<std::int64_t, std::vector<std::int64_t>>& dynStatementParams() noexcept {
        return dynStatementParams_;
    }

    // Runs the cursor with its parameters (one null flag per value; a set
    // flag binds NULL) and runtime operators, and keeps the command as the
    // open cursor, whose status tells how it went. When no command can be
    // made (no helper, no such cursor, a refused operator, no connection)
    // the cursor is closed, an earlier command of it included: its status
    // is then 101, and a refused operator is on the thread's error list.
    virtual void execute(std::int64_t cursor, const std::vector<Value>& parameters,
                         const std::vector<bool>& nullFlags, const QNRuntimeOperators& runtime);
    // Moves an open cursor to its next row.
    virtual void readNext(std::int64_t cursor);
    // Closes the cursor's command and forgets it (dynamic texts are kept).
    virtual void close(std::int64_t cursor);
    // The open command's status; 101 when the cursor is not open.
    virtual std::int64_t getStatus(std::int64_t cursor);
    // The open command, to read columns. For a cursor that is not open the
    // fatal-error hook is told; when it lets the program go on, an inert
    // command answers (empty values, status 101).
    virtual Ref<QNDBCommand> getDBCommand(std::int64_t cursor);
    // Builds the dynamic text of a cursor from the first element of
    // `values` through the helper.
    virtual void dynParam(std::int64_t cursor, const std::vector<std::vector<Value>>& values);

    // Blob files written or removed by the current work, on the connection
    // (which waits for a database creation in progress).
    virtual void addInsertedBlobURLAbsoluteString(StringView url);
    virtual void addDeletedBlobURLAbsoluteString(StringView url);

    // The statement with the runtime operators applied (see above); absent
    // when a substitution fails. "scmdbuf" comes back unchanged.
    static std::optional<String> applyRuntimeOperators(StringView statement,
                                                       const QNRuntimeOperators& runtime);

private:
    std::shared_ptr<QNDataStoreHelperProtocol> helper_;
    std::vector<std::vector<Value>> buffers_;
    std::map<std::int64_t, Ref<QNDBCommand>> openCursors_;
    std::map<std::int64_t, String> dynStatements_;
    std::map<std::int64_t, std::vector<std::int64_t>> dynStatementParams_;
};

}  // namespace qn
