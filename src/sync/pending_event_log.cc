// The pending-event log.
#include <qn/core/containers.h>
#include <qn/core/json.h>
#include <qn/core/uuid.h>
#include <qn/data/record.h>
#include <qn/files/file_system_object.h>
#include <qn/host/errors.h>
#include <qn/host/log.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>
#include <qn/sync/pending_event_log.h>

#include <string>

namespace qn {

namespace {

constexpr StringView kCreateTable =
    u"CREATE TABLE IF NOT EXISTS QNPendingEvent ("
    u"Seq INTEGER PRIMARY KEY AUTOINCREMENT, Id TEXT NOT NULL UNIQUE, BC TEXT NOT NULL, "
    u"Mode TEXT NOT NULL, Message TEXT NOT NULL, Files TEXT NOT NULL)";

Ref<QNDBConnection> connection() {
    return QNDBManager::sharedInstance().connectionForDatastore(QNDBManager::kDefaultDatastoreName);
}

void reportFailure(const String& what) {
    QNLog::loggerService()->logMessage(u"Pending-event log: " + what, QNLogTypeSynchronization,
                                       QNLogLevelError, true);
    QNThreadErrorHandler::errorHandler().addErrorWithCodeDescription(0,
                                                                     u"Pending-event log: " + what);
}

// The absolute path of an upload the log owns; "" for anything else (a
// source file the message kept as it was is the user's, never removed).
String ownedUpload(const String& file) {
    if (!QNFileSystemObject::filePathIsRelativeToPendingUploadsPath(file)) return String();
    return QNFileSystemObject::absoluteFilePathForRelativePath(file);
}

std::vector<String> filesOf(const String& text) {
    std::vector<String> files;
    const auto parsed = QNJSON::parse(toUtf8(text));
    if (const Array* list = parsed ? parsed->asArray() : nullptr)
        for (const Value& file : *list)
            if (file.isString()) files.push_back(file.asString());
    return files;
}

}  // namespace

std::shared_ptr<QNPendingEventLog> QNPendingEventLog::install() {
    auto& manager = QNDBManager::sharedInstance();
    if (QNDBManager::executeInDatastoreCommandString(QNDBManager::kDefaultDatastoreName,
                                                     kCreateTable) != QN_STATUS_OK) {
        manager.rollbackDatastore(QNDBManager::kDefaultDatastoreName);
        return nullptr;
    }
    manager.commitDatastore(QNDBManager::kDefaultDatastoreName);
    auto log = std::make_shared<QNPendingEventLog>();
    QNBusinessComponentChangeLog::install(log);
    return log;
}

void QNPendingEventLog::recordChange(const QNSdtBusinessComponent& record, StringView mode) {
    const String bc = record.bcName();
    if (bc.empty()) return;
    auto db = connection();
    if (!db) return;
    std::vector<String> files;
    const String message = record.generateSynchronizationSendMessage(files, kPlaceholderFormat);
    auto list = makeRef<Array>();
    for (const String& file : files)
        list->append(Value(file));
    const String filesText = QNJSON::generate(Value(list)).value_or(u"[]");

    // The row starts (or joins) the transaction the change is made in.
    auto insert = db->commandWithSQLStatement(
        u"INSERT INTO QNPendingEvent (Id, BC, Mode, Message, Files) VALUES (?, ?, ?, ?, ?)");
    insert->setParameters(std::vector<Value>{Value(QNUUID::createUUID().uuidString()), Value(bc),
                                             Value(mode), Value(message), Value(filesText)});
    const std::uint32_t status = insert->execute();
    insert->close();
    if (status != QN_STATUS_OK) {
        reportFailure(u"the " + String(mode) + u" event of " + bc + u" could not be written");
        return;
    }
    // The copies belong to the event: a rollback removes them with it.
    for (const String& file : files)
        if (const String path = ownedUpload(file); !path.empty())
            db->addInsertedBlobURLAbsoluteString(path);
}

std::vector<QNPendingEventLog::Event> QNPendingEventLog::pendingEvents(std::size_t limit) const {
    std::vector<Event> events;
    auto db = connection();
    if (!db) return events;
    String sql = u"SELECT Seq, Id, BC, Mode, Message, Files FROM QNPendingEvent ORDER BY Seq";
    if (limit > 0) sql += u" LIMIT " + fromUtf8(std::to_string(limit));
    auto select = db->commandWithSQLStatement(sql);
    if (select->execute() == QN_STATUS_OK) {
        for (select->fetch(); select->status() == QN_STATUS_OK; select->fetch()) {
            Event event;
            event.seq = select->int64ValueForColumn(u"Seq");
            event.id = select->stringValueForColumn(u"Id");
            event.bc = select->stringValueForColumn(u"BC");
            event.mode = select->stringValueForColumn(u"Mode");
            event.message = select->stringValueForColumn(u"Message");
            event.files = filesOf(select->stringValueForColumn(u"Files"));
            events.push_back(std::move(event));
        }
    }
    select->close();
    return events;
}

std::int64_t QNPendingEventLog::pendingEventCount() const {
    auto db = connection();
    if (!db) return 0;
    auto count = db->commandWithSQLStatement(u"SELECT COUNT(*) FROM QNPendingEvent");
    const Value n = count->executeScalar();
    count->close();
    return n.integerValue();
}

std::size_t QNPendingEventLog::removeEvents(const std::vector<String>& ids) {
    auto db = connection();
    if (!db || ids.empty()) return 0;
    std::size_t removed = 0;
    for (const String& id : ids) {
        auto files = db->commandWithSQLStatement(u"SELECT Files FROM QNPendingEvent WHERE Id = ?");
        files->setParameters(std::vector<Value>{Value(id)});
        std::vector<String> uploads;
        bool found = false;
        if (files->execute() == QN_STATUS_OK) {
            files->fetch();
            found = files->status() == QN_STATUS_OK;
            if (found) uploads = filesOf(files->stringValueForColumn(u"Files"));
        }
        files->close();
        if (!found) continue;
        auto remove = db->commandWithSQLStatement(u"DELETE FROM QNPendingEvent WHERE Id = ?");
        remove->setParameters(std::vector<Value>{Value(id)});
        if (remove->execute() != QN_STATUS_OK) {
            remove->close();
            db->rollback();
            reportFailure(u"acknowledged events could not be removed");
            return 0;
        }
        remove->close();
        ++removed;
        // Removed when the deletion commits; kept if it rolls back.
        for (const String& file : uploads)
            if (const String path = ownedUpload(file); !path.empty())
                db->addDeletedBlobURLAbsoluteString(path);
    }
    db->commit();
    return removed;
}

}  // namespace qn
