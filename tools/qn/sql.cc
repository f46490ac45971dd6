// `qn sql`: one statement on a database file through the library's
// connection (type 0), as generated offline code runs its statements.

#include <qn/host/errors.h>
#include <qn/offline/db.h>

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace qntool {

namespace {

using qn::QNDBCommand;
using qn::String;
using qn::Value;

constexpr const char* kUsage =
    "usage: qn sql DBFILE 'STATEMENT' [VALUE...]\n"
    "  Runs one statement on DBFILE (created when missing; a text of more than\n"
    "  one statement is refused), each ? taking the next VALUE: an integer when it\n"
    "  reads as one (-?DIGITS, 64 bits), a decimal when it reads as one\n"
    "  (-?DIGITS[.DIGITS], at most 38 significant digits), the null marker for\n"
    "  null (lower case), otherwise the text as given.\n"
    "  A statement that answers rows prints a line of column names, then one\n"
    "  line per row, tab-separated: NULL as null, blobs as X'hex', and \\, tab,\n"
    "  newline and carriage return in text as \\\\, \\t, \\n and \\r. Any other\n"
    "  statement prints its status. What the statement wrote is committed.\n"
    "  On failure the status and the errors go to stderr, nothing is committed\n"
    "  and the exit code is 1.";

int usage(const std::string& message) {
    std::cerr << "qn sql: " << message << "\n" << kUsage << "\n";
    return 2;
}

// A VALUE argument as the parameter it stands for.
Value parameterValue(const std::string& arg) {
    if (arg == "null") return Value::null();
    const std::size_t start = !arg.empty() && arg[0] == '-' ? 1 : 0;
    const std::size_t point = arg.find('.', start);
    const std::string whole = arg.substr(start, point - start);
    const std::string fraction = point == std::string::npos ? "" : arg.substr(point + 1);
    const auto allDigits = [](const std::string& s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!allDigits(whole) || (point != std::string::npos && !allDigits(fraction)))
        return Value(qn::fromUtf8(arg));
    if (point == std::string::npos) {
        std::int64_t integer = 0;
        const auto [end, error] = std::from_chars(arg.data(), arg.data() + arg.size(), integer);
        if (error == std::errc() && end == arg.data() + arg.size()) return Value(integer);
    }
    // A decimal holds 38 significant digits down to 10^-128; a VALUE that
    // would lose digits stays text.
    const std::string digits = whole + fraction;
    const std::size_t first = digits.find_first_not_of('0');
    const std::size_t last = digits.find_last_not_of('0');
    const std::size_t significant = first == std::string::npos ? 0 : last - first + 1;
    const std::size_t places = fraction.find_last_not_of('0') + 1;  // npos + 1 == 0
    const qn::Decimal decimal = qn::Decimal::fromString(arg);
    if (significant > qn::Decimal::kMaxDigits || places > 128 || decimal.isNaN())
        return Value(qn::fromUtf8(arg));
    return Value(decimal);
}

// Text on one line of output.
std::string escaped(const String& text) {
    std::string out;
    for (const char c : qn::toUtf8(text)) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// The current row's column read through the getter its kind of value calls for.
std::string cell(QNDBCommand& command, std::uint64_t index) {
    if (command.valueIsNullForColumnAtIndex(index)) return "null";
    switch (command.columnTypeAtIndex(index)) {
        case QNDBCommand::QNDBColumnNull:
            return "null";
        case QNDBCommand::QNDBColumnInteger:
        case QNDBCommand::QNDBColumnFloat:
            return qn::toUtf8(command.numberValueForColumnAtIndex(index).description());
        case QNDBCommand::QNDBColumnText:
            return escaped(command.stringValueForColumnAtIndex(index));
        case QNDBCommand::QNDBColumnBlob: {
            static constexpr char kHex[] = "0123456789ABCDEF";
            std::string out = "X'";
            for (const std::uint8_t byte : command.dataValueForColumnAtIndex(index)) {
                out += kHex[byte >> 4];
                out += kHex[byte & 0xF];
            }
            return out + "'";
        }
    }
    return "";
}

// What failed (the status, or the commit) and the thread's errors.
int failed(const std::string& what, qn::QNDBConnection& connection) {
    connection.rollback();
    std::cerr << "qn sql: " << what << "\n";
    for (const qn::QNError& error : qn::QNThreadErrorHandler::errorHandler().errors())
        std::cerr << "qn sql: error " << error.code() << ": "
                  << qn::toUtf8(error.developerDescription()) << "\n";
    return 1;
}

}  // namespace

int runSql(const std::vector<std::string>& args) {
    if (args.size() < 2) return usage("a database file and a statement are needed");
    std::error_code error;
    const std::filesystem::path file = std::filesystem::absolute(args[0], error);
    if (error) return usage("no path for " + args[0]);
    auto connection = qn::QNDBConnection::createConnectionOfTypeWithIdentifierConnectionString(
        0, u"qn", qn::fromUtf8(file.string()));
    if (!connection) {
        std::cerr << "qn sql: the library has no connection for type 0\n";
        return 1;
    }
    auto& errors = qn::QNThreadErrorHandler::errorHandler();
    errors.clear();

    auto command = connection->commandWithSQLStatement(qn::fromUtf8(args[1]));
    std::vector<Value> parameters;
    for (std::size_t i = 2; i < args.size(); ++i)
        parameters.push_back(parameterValue(args[i]));
    command->setParameters(std::move(parameters));
    const std::uint32_t status = command->execute();
    if (status != qn::QN_STATUS_OK) return failed("status " + std::to_string(status), *connection);

    // Whether a statement answers rows is the database's to say: WITH,
    // VALUES and RETURNING answer rows too.
    const std::uint64_t columns = command->columnCount();
    if (columns > 0) {
        for (std::uint64_t i = 0; i < columns; ++i)
            std::cout << (i ? "\t" : "") << escaped(command->columnNameAtIndex(i));
        std::cout << "\n";
        for (command->fetch(); command->status() == qn::QN_STATUS_OK; command->fetch()) {
            for (std::uint64_t i = 0; i < columns; ++i)
                std::cout << (i ? "\t" : "") << cell(*command, i);
            std::cout << "\n";
        }
        if (command->status() != qn::QN_STATUS_NO_ROWS)
            return failed("status " + std::to_string(command->status()), *connection);
    } else {
        std::cout << "status " << status << "\n";
    }
    command->close();
    // A failed commit rolls back and leaves its error.
    connection->commit();
    if (errors.hasErrors()) return failed("the commit failed", *connection);
    return 0;
}

}  // namespace qntool
