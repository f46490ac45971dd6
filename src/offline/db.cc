// The abstract connection and command, the connection registry and QNDbFile.
#include <qn/host/data_layer.h>
#include <qn/host/errors.h>
#include <qn/offline/db.h>
#include <qn/runtime/strings.h>
#include <qn/util/qnutil.h>

#include <mutex>

#include "host/paths.h"

namespace qn {

QN_REGISTER_CLASS(QNDBConnection, Object)
QN_REGISTER_CLASS(QNDBCommand, Object)

namespace {

// The one registry slot (type 0), replaced under its lock.
struct Registry {
    std::mutex mutex;
    const ClassInfo* sqlite = nullptr;
};

Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: threads may outlive exit
    return *r;
}

[[noreturn]] void abstract(std::string_view operation) {
    throw InvalidArgumentException::mustBeOverridden(operation);
}

}  // namespace

// --- QNDBConnection --------------------------------------------------------------

void QNDBConnection::registerConnectionClassForType(const ClassInfo* connectionClass,
                                                    std::uint8_t type) {
    if (type != 0) return;
    std::lock_guard lock(registry().mutex);
    registry().sqlite = connectionClass;
}

Ref<QNDBConnection> QNDBConnection::createConnectionOfTypeWithIdentifierConnectionString(
    std::uint8_t type, StringView identifier, StringView connectionString) {
    if (type != 0) return nullptr;
    const ClassInfo* connectionClass;
    {
        std::lock_guard lock(registry().mutex);
        connectionClass = registry().sqlite;
    }
    if (connectionClass == nullptr) return nullptr;
    auto connection = std::dynamic_pointer_cast<QNDBConnection>(connectionClass->create());
    if (connection) connection->initWithIdConnectionString(identifier, connectionString);
    return connection;
}

void QNDBConnection::initWithIdConnectionString(StringView, StringView) {}

std::uint8_t QNDBConnection::connectionType() const {
    abstract("-[QNDBConnection connectionType]");
}
String QNDBConnection::connectionIdentifier() const {
    abstract("-[QNDBConnection connectionIdentifier]");
}
String QNDBConnection::connectionString() const {
    abstract("-[QNDBConnection connectionString]");
}
bool QNDBConnection::isDatabaseCreated() const {
    abstract("-[QNDBConnection isDatabaseCreated]");
}
void QNDBConnection::connect() {
    abstract("-[QNDBConnection connect]");
}
void QNDBConnection::disconnect() {
    abstract("-[QNDBConnection disconnect]");
}
void QNDBConnection::beginTransaction() {
    abstract("-[QNDBConnection beginTransaction]");
}
void QNDBConnection::endTransaction() {
    abstract("-[QNDBConnection endTransaction]");
}
void QNDBConnection::commit() {
    abstract("-[QNDBConnection commit]");
}
void QNDBConnection::rollback() {
    abstract("-[QNDBConnection rollback]");
}
bool QNDBConnection::hasAnyOpenTransaction() const {
    abstract("-[QNDBConnection hasAnyOpenTransaction]");
}
Ref<QNDBCommand> QNDBConnection::internal_commandWithSQLStatement(StringView) {
    abstract("-[QNDBConnection internal_commandWithSQLStatement:]");
}
void QNDBConnection::addInsertedBlobURLAbsoluteString(StringView) {
    abstract("-[QNDBConnection addInsertedBlobURLAbsoluteString:]");
}
void QNDBConnection::addDeletedBlobURLAbsoluteString(StringView) {
    abstract("-[QNDBConnection addDeletedBlobURLAbsoluteString:]");
}

// --- QNDBCommand -------------------------------------------------------------------

bool QNDBCommand::isQuery() const {
    const auto startsWith = [this](std::u16string_view word) {
        if (statement_.size() < word.size()) return false;
        for (std::size_t i = 0; i < word.size(); ++i) {
            char16_t c = statement_[i];
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
            if (c != word[i]) return false;
        }
        return true;
    };
    return startsWith(u"select") || startsWith(u"pragma");
}

std::vector<Value> QNDBCommand::resolvedCommandParameters() const {
    if (!parameters_) return {};
    std::vector<Value> resolved = *parameters_;
    if (nullParameters_) {
        const std::size_t n = std::min(resolved.size(), nullParameters_->size());
        for (std::size_t i = 0; i < n; ++i)
            if ((*nullParameters_)[i]) resolved[i] = Value::null();
    }
    return resolved;
}

void QNDBCommand::fetchFirst() {
    execute();
    fetch();
}

std::uint32_t QNDBCommand::execute() {
    abstract("-[QNDBCommand execute]");
}
Value QNDBCommand::executeScalar() {
    abstract("-[QNDBCommand executeScalar]");
}
void QNDBCommand::fetch() {
    abstract("-[QNDBCommand fetch]");
}
bool QNDBCommand::eof() {
    abstract("-[QNDBCommand eof]");
}
std::uint32_t QNDBCommand::status() const {
    abstract("-[QNDBCommand status]");
}
void QNDBCommand::close() {
    abstract("-[QNDBCommand close]");
}

std::uint64_t QNDBCommand::columnCount() {
    abstract("-[QNDBCommand columnCount]");
}
String QNDBCommand::columnNameAtIndex(std::uint64_t) {
    abstract("-[QNDBCommand columnNameAtIndex:]");
}
QNDBCommand::ColumnType QNDBCommand::columnTypeAtIndex(std::uint64_t) {
    abstract("-[QNDBCommand columnTypeAtIndex:]");
}

#define QN_ABSTRACT_GETTER(Type, name, Arg)    \
    Type QNDBCommand::name(Arg) {              \
        abstract("-[QNDBCommand " #name ":]"); \
    }
QN_ABSTRACT_GETTER(String, stringValueForColumn, StringView)
QN_ABSTRACT_GETTER(String, stringValueForColumnAtIndex, std::uint64_t)
QN_ABSTRACT_GETTER(DateTime, dateValueForColumn, StringView)
QN_ABSTRACT_GETTER(DateTime, dateValueForColumnAtIndex, std::uint64_t)
QN_ABSTRACT_GETTER(Value, numberValueForColumn, StringView)
QN_ABSTRACT_GETTER(Value, numberValueForColumnAtIndex, std::uint64_t)
QN_ABSTRACT_GETTER(std::int64_t, intValueForColumn, StringView)
QN_ABSTRACT_GETTER(std::int64_t, int64ValueForColumn, StringView)
QN_ABSTRACT_GETTER(double, doubleValueForColumn, StringView)
QN_ABSTRACT_GETTER(bool, booleanValueForColumn, StringView)
QN_ABSTRACT_GETTER(bool, booleanValueForColumnAtIndex, std::uint64_t)
QN_ABSTRACT_GETTER(Decimal, decimalValueForColumn, StringView)
QN_ABSTRACT_GETTER(Decimal, decimalValueForColumnAtIndex, std::uint64_t)
QN_ABSTRACT_GETTER(Bytes, dataValueForColumn, StringView)
QN_ABSTRACT_GETTER(Bytes, dataValueForColumnAtIndex, std::uint64_t)
QN_ABSTRACT_GETTER(QNUUID, uuidValueForColumn, StringView)
QN_ABSTRACT_GETTER(QNUUID, uuidValueForColumnAtIndex, std::uint64_t)
QN_ABSTRACT_GETTER(String, uriValueForColumn, StringView)
QN_ABSTRACT_GETTER(String, uriValueForColumnAtIndex, std::uint64_t)
QN_ABSTRACT_GETTER(bool, valueIsNullForColumn, StringView)
QN_ABSTRACT_GETTER(bool, valueIsNullForColumnAtIndex, std::uint64_t)
#undef QN_ABSTRACT_GETTER

// --- QNDbFile ------------------------------------------------------------------------

String QNDbFile::fileName(StringView path) {
    String last = internal::lastPathComponent(path);
    const String extension = internal::pathExtension(last);
    if (!extension.empty()) last.resize(last.size() - extension.size() - 1);
    return last;
}

String QNDbFile::fileType(StringView path) {
    return internal::pathExtension(path);
}

String QNDbFile::uriFromURL(StringView url) {
    String path = QNutil::newBlobRelativeFilePathForURLString(url);
    if (auto service = QNDataLayerServices::synchronizationBlobDownloadService())
        service->downloadBlobDataFromURLStringToRelativePath(url, path);
    return path;
}

String QNDbFile::uriFromFileNameTypePath(StringView name, StringView type, StringView path) {
    String n = qnStringByTrimming(name);
    String t = qnStringByTrimming(type);
    if (n.empty() && t.empty() && !path.empty()) {
        n = fileName(path);
        t = fileType(path);
    }
    return (n.empty() ? String(u"multimedia-file") : n) + u"." + (t.empty() ? String(u"tmp") : t);
}

String QNDbFile::urlFromBlobUri(StringView blob, StringView uri) {
    return qnStringByTrimming(blob).empty() ? String() : String(uri);
}

}  // namespace qn
