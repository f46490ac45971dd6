// The reference send and receive services.
#include <qn/core/containers.h>
#include <qn/core/json.h>
#include <qn/core/uuid.h>
#include <qn/files/file_system_object.h>
#include <qn/host/dispatch.h>
#include <qn/host/log.h>
#include <qn/host/model.h>
#include <qn/host/utilities.h>
#include <qn/net/http_client.h>
#include <qn/net/url_session.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>
#include <qn/sync/reference_services.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <future>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "core/ascii.h"
#include "host/internal.h"

namespace qn {

namespace {

constexpr StringView kCheckpointKey = u"QNSyncSendCheckpoint";

void logLine(const String& text, int level) {
    QNLog::loggerService()->logMessage(text, QNLogTypeSynchronization, level, false);
}

QNError sendError(const String& what) {
    logLine(u"Send: " + what, QNLogLevelError);
    return QNError::defaultQNErrorWithDeveloperDescription(u"Send failed: " + what);
}

// A table or column name the server may name: a plain identifier, never one
// of SQLite's own tables or the pending-event log.
bool isPlainIdentifier(StringView name) {
    if (name.empty() || name.size() > 128) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        const bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
        if (!letter && !(i > 0 && c >= u'0' && c <= u'9')) return false;
    }
    const String lower = internal::asciiLowercased(name);
    return !StringView(lower).starts_with(u"sqlite_") &&
           lower != internal::asciiLowercased(QNPendingEventLog::kTableName);
}

}  // namespace

// --- Send ----------------------------------------------------------------------------------

QNReferenceSendService::QNReferenceSendService(std::shared_ptr<QNPendingEventLog> log,
                                               String baseURL)
    : log_(std::move(log)), baseURL_(std::move(baseURL)) {}

void QNReferenceSendService::sendPendingEventsStartedFromUserCodeWithCompletionBlock(
    bool fromUserCode, Completion completion) {
    if (fromUserCode) {
        const auto error = sendNow(true);
        if (completion) completion(error);
        return;
    }
    // Asked for from inside a transaction's end: the work goes elsewhere.
    // The installed service outlives the send (the registry hands out
    // shared owners).
    auto self = QNDataLayerServices::synchronizationSendService();
    if (self.get() != this) return;
    qn_dispatch_on_background([self, completion = std::move(completion)] {
        const auto error = static_cast<QNReferenceSendService&>(*self).sendNow(false);
        if (completion) completion(error);
    });
}

void QNReferenceSendService::createSendCheckpoint() {
    const auto events = log_->pendingEvents();
    const std::int64_t last = events.empty() ? 0 : events.back().seq;
    QNModel::currentModel().setUserDataForKey(Value(last), String(kCheckpointKey));
}

namespace {

struct Answer {
    std::int64_t status = 0;
    Bytes body;
    std::optional<String> failure;  // the transport's, when there was no answer
};

// One request through the shared session, waited for on this thread.
Answer perform(QNURLRequest request) {
    auto done = std::make_shared<std::promise<Answer>>();
    auto answer = done->get_future();
    QNURLSession::qnSharedSession()
        .dataTaskWithRequestCompletionHandler(
            std::move(request),
            [done](Bytes data, std::optional<QNURLResponse> response,
                   std::optional<QNURLError> error) {
                Answer result;
                if (error || !response) {
                    result.failure = error ? error->localizedDescription : String(u"no answer");
                } else {
                    result.status = response->statusCode;
                    result.body = std::move(data);
                }
                done->set_value(std::move(result));
            })
        ->resume();
    return answer.get();
}

void append(Bytes& body, std::string_view text) {
    body.insert(body.end(), text.begin(), text.end());
}

// One upload file as a part of the body.
struct FilePart {
    std::string name;      // as the event lists it
    std::string fileName;  // the file's own, plain
    std::string bytes;
};

// A multipart/form-data body: the events as JSON, then each file as a part
// named as the events list it. The boundary is made again in the unlikely
// case that it occurs in the content.
struct MultipartBody {
    std::string boundary;
    Bytes bytes;
};

MultipartBody multipartBody(const std::string& events, const std::vector<FilePart>& files) {
    for (;;) {
        std::string boundary = "qnsync-" + QNUUID::createUUID().uuidStdString();
        bool clash = events.find(boundary) != std::string::npos;
        for (const auto& file : files)
            clash = clash || file.bytes.find(boundary) != std::string::npos;
        if (clash) continue;
        Bytes body;
        append(body, "--" + boundary +
                         "\r\nContent-Disposition: form-data; name=\"events\"\r\n"
                         "Content-Type: application/json\r\n\r\n");
        append(body, events);
        for (const auto& file : files) {
            append(body, "\r\n--" + boundary + "\r\nContent-Disposition: form-data; name=\"" +
                             file.name + "\"; filename=\"" + file.fileName +
                             "\"\r\nContent-Type: application/octet-stream\r\n\r\n");
            append(body, file.bytes);
        }
        append(body, "\r\n--" + boundary + "--\r\n");
        return {std::move(boundary), std::move(body)};
    }
}

// A file's last path component, kept to letters, digits, '.', '-' and '_'
// so that it never breaks the part's header.
std::string plainFileName(const std::filesystem::path& path) {
    std::string name = path.filename().string();
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
            c = '_';
    return name.empty() ? std::string("file") : name;
}

}  // namespace

std::optional<QNError> QNReferenceSendService::sendNow(bool fromUserCode) {
    std::lock_guard lock(sending_);
    std::int64_t upTo = std::numeric_limits<std::int64_t>::max();
    if (!fromUserCode) {
        const Value checkpoint = QNModel::currentModel().getUserDataForKey(String(kCheckpointKey));
        if (checkpoint.isNumber()) upTo = checkpoint.integerValue();
    }
    for (;;) {
        auto events = log_->pendingEvents(kEventsPerRequest);
        events.erase(std::remove_if(events.begin(), events.end(),
                                    [upTo](const auto& event) { return event.seq > upTo; }),
                     events.end());
        if (events.empty()) {
            // Nothing read although events wait: the log could not be read.
            if (fromUserCode && log_->pendingEventCount() != 0)
                return sendError(u"the pending events could not be read");
            return std::nullopt;
        }

        std::vector<FilePart> files;
        std::size_t bytes = 0;
        auto list = makeRef<Array>();
        for (std::size_t n = 0; n < events.size(); ++n) {
            const auto& event = events[n];
            auto entry = makeRef<Dictionary>();
            entry->set(u"id", Value(event.id));
            entry->set(u"bc", Value(event.bc));
            entry->set(u"mode", Value(event.mode));
            const auto message = QNJSON::parse(StringView(event.message));
            entry->set(u"message", message ? *message : Value(event.message));
            auto parts = makeRef<Array>();
            std::vector<FilePart> eventFiles;
            std::size_t eventBytes = event.message.size();
            for (std::size_t i = 0; i < event.files.size(); ++i) {
                const std::string path = toUtf8(QNFileSystemObject::absoluteFilePathForRelativePath(
                    StringView(event.files[i])));
                // A file gone since the change was made goes as no part.
                auto content = path.empty() ? std::nullopt
                                            : internal::readFile(
                                                  path, std::numeric_limits<std::size_t>::max());
                if (!content) continue;
                FilePart file{"f" + std::to_string(event.seq) + "_" + std::to_string(i),
                              plainFileName(path), std::move(*content)};
                parts->append(Value(fromUtf8(file.name)));
                eventBytes += file.bytes.size();
                eventFiles.push_back(std::move(file));
            }
            // Past the size a request may carry the rest wait for the next
            // request; an event alone goes whatever its size.
            if (n > 0 && bytes + eventBytes > kBytesPerRequest) {
                events.resize(n);
                break;
            }
            bytes += eventBytes;
            for (auto& file : eventFiles)
                files.push_back(std::move(file));
            entry->set(u"files", Value(parts));
            list->append(Value(entry));
        }
        const auto json = QNJSON::generateUtf8(Value(list));
        if (!json) return sendError(u"the events could not be written as JSON");
        auto body = multipartBody(*json, files);

        QNURLRequest request(baseURL_ + u"events");
        request.setHTTPMethod(u"POST");
        request.setTimeoutInterval(static_cast<double>(timeoutSeconds_.load()));
        request.setValueForHTTPHeaderField(
            fromUtf8("multipart/form-data; boundary=" + body.boundary), u"Content-Type");
        request.setHTTPShouldHandleCookies(false);
        request.setHTTPBody(std::move(body.bytes));
        const Answer answer = perform(std::move(request));
        if (answer.failure)
            return sendError(u"the server could not be reached: " + *answer.failure);
        if (answer.status != 200)
            return sendError(u"the server answered " + fromUtf8(std::to_string(answer.status)));
        const auto parsed = QNJSON::parse(std::string_view(
            reinterpret_cast<const char*>(answer.body.data()), answer.body.size()));
        const Dictionary* fields = parsed ? parsed->asDictionary() : nullptr;
        const Array* acknowledged = fields ? fields->get(u"acknowledged").asArray() : nullptr;
        if (!acknowledged) return sendError(u"the answer names no acknowledged events");

        std::set<String> sent;
        for (const auto& event : events)
            sent.insert(event.id);
        std::vector<String> done;
        for (const Value& id : *acknowledged)
            if (id.isString() && sent.contains(id.asString())) done.push_back(id.asString());
        // Events the log kept would be posted again and again by this loop.
        if (log_->removeEvents(done) != done.size())
            return sendError(u"the acknowledged events could not be removed from the log");
        if (done.size() < events.size())
            return sendError(u"the server acknowledged " + fromUtf8(std::to_string(done.size())) +
                             u" of " + fromUtf8(std::to_string(events.size())) + u" events");
    }
}

// --- Receive ----------------------------------------------------------------------------------

bool QNReferenceReceiveService::synchronizeWithSettingsCompletionBlock(std::int64_t,
                                                                       Completion completion) {
    const std::uint32_t status = receiveNow();
    if (completion) completion(status);
    return true;
}

bool QNReferenceReceiveService::checkServerSynchronizationStatusWithCompletionBlock(
    Completion completion) {
    const std::uint32_t status = statusNow();
    if (completion) completion(status);
    return true;
}

namespace {

// GETs `path` under the base URL: the answer's JSON object, or the receive
// status that says why there is none.
std::optional<Value> getJSON(const String& baseURL, std::int64_t timeout, StringView path,
                             std::uint32_t& failure) {
    QNHttpClient client;
    client.setUrl(baseURL);
    client.setTimeout(timeout);
    client.execute(u"GET", path);
    failure = QNReferenceReceiveService::kUnreachable;
    if (client.errCode() != 0) return std::nullopt;
    failure = QNReferenceReceiveService::kRefused;
    if (client.statusCode() != 200) return std::nullopt;
    failure = QNReferenceReceiveService::kUnusable;
    const Bytes data = client.getData();
    auto answer =
        QNJSON::parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    if (!answer || !answer->isDictionary()) return std::nullopt;
    return answer;
}

}  // namespace

std::uint32_t QNReferenceReceiveService::statusNow() {
    std::uint32_t failure = kUnusable;
    const auto answer = getJSON(baseURL_, timeoutSeconds_, u"status", failure);
    if (!answer) return failure;
    const Value status = answer->asDictionary()->get(u"status");
    return status.isNumber() && status.integerValue() >= 0
               ? static_cast<std::uint32_t>(status.integerValue())
               : kUnusable;
}

namespace {

// A list of plain identifiers, none twice; null when it is anything else.
const Array* namesOrNull(const Value& value) {
    const Array* names = value.asArray();
    if (!names || names->empty()) return nullptr;
    std::set<String> seen;
    for (const Value& name : *names)
        if (!name.isString() || !isPlainIdentifier(name.asString()) ||
            !seen.insert(internal::asciiLowercased(name.asString())).second)
            return nullptr;
    return names;
}

// Rows as arrays of scalars, each as long as the names they fill.
bool validRows(const Value& value, std::size_t width) {
    if (value.isAbsent()) return true;
    const Array* rows = value.asArray();
    if (!rows) return false;
    for (const Value& row : *rows) {
        const Array* values = row.asArray();
        if (!values || values->size() != width) return false;
        for (const Value& item : *values)
            if (item.isArray() || item.isDictionary()) return false;
    }
    return true;
}

// Checks the whole answer before anything is applied.
bool validChanges(const Dictionary& body) {
    if (!body.get(u"token").isString()) return false;
    const Array* tables = body.get(u"tables").asArray();
    if (!tables) return false;
    for (const Value& entry : *tables) {
        const Dictionary* table = entry.asDictionary();
        if (!table || !table->get(u"name").isString() ||
            !isPlainIdentifier(table->get(u"name").asString()))
            return false;
        if (!table->get(u"rows").isAbsent()) {
            const Array* columns = namesOrNull(table->get(u"columns"));
            if (!columns || !validRows(table->get(u"rows"), columns->size())) return false;
        }
        if (!table->get(u"deleted").isAbsent()) {
            const Array* key = namesOrNull(table->get(u"key"));
            if (!key || !validRows(table->get(u"deleted"), key->size())) return false;
        }
    }
    return true;
}

String joined(const Array& names, StringView separator, StringView suffix) {
    String text;
    for (const Value& name : names) {
        if (!text.empty()) text += separator;
        text += name.asString();
        text += suffix;
    }
    return text;
}

// Runs the statement once per row, binding the row's values in order.
bool runForEachRow(QNDBConnection& db, const String& sql, const Array& rows) {
    auto command = db.commandWithSQLStatement(sql);
    bool ok = true;
    for (const Value& row : rows) {
        command->setParameters(row.asArray()->items());
        const std::uint32_t status = command->execute();
        if (status != QN_STATUS_OK && status != QN_STATUS_NO_ROWS) {
            ok = false;
            break;
        }
    }
    command->close();
    return ok;
}

bool apply(QNDBConnection& db, const Dictionary& body) {
    for (const Value& entry : *body.get(u"tables").asArray()) {
        const Dictionary& table = *entry.asDictionary();
        const String name = table.get(u"name").asString();
        if (const Array* rows = table.get(u"rows").asArray(); rows && !rows->empty()) {
            const Array& columns = *table.get(u"columns").asArray();
            String marks;
            for (std::size_t i = 0; i < columns.size(); ++i)
                marks += i == 0 ? u"?" : u", ?";
            if (!runForEachRow(db,
                               u"INSERT OR REPLACE INTO " + name + u" (" +
                                   joined(columns, u", ", u"") + u") VALUES (" + marks + u")",
                               *rows))
                return false;
        }
        if (const Array* deleted = table.get(u"deleted").asArray(); deleted && !deleted->empty()) {
            const Array& key = *table.get(u"key").asArray();
            if (!runForEachRow(
                    db, u"DELETE FROM " + name + u" WHERE " + joined(key, u" AND ", u" IS ?"),
                    *deleted))
                return false;
        }
    }
    return true;
}

}  // namespace

std::uint32_t QNReferenceReceiveService::receiveNow() {
    std::lock_guard lock(receiving_);
    auto& model = QNModel::currentModel();
    const Value token = model.getUserDataForKey(String(kTokenKey));
    std::uint32_t failure = kUnusable;
    const auto answer = getJSON(
        baseURL_, timeoutSeconds_,
        u"changes?since=" + QNUtilities::urlSimpleEscapeString(
                                token.isString() ? StringView(token.asString()) : StringView()),
        failure);
    if (!answer) return failure;
    const Dictionary* body = answer->asDictionary();
    if (!validChanges(*body)) return kUnusable;

    auto db =
        QNDBManager::sharedInstance().connectionForDatastore(QNDBManager::kDefaultDatastoreName);
    if (!db) return kUnusable;
    auto& errors = QNThreadErrorHandler::errorHandler();
    const std::size_t errorsBefore = errors.errors().size();
    if (!apply(*db, *body)) {
        db->rollback();
        return kUnusable;
    }
    db->commit();
    if (errors.errors().size() != errorsBefore) return kUnusable;  // the commit failed
    // Only once the rows are in: a crash before this repeats the same
    // changes, which leave the rows as they are.
    model.setUserDataForKey(body->get(u"token"), String(kTokenKey));
    return kDone;
}

// --- Installing -------------------------------------------------------------------------------

bool QNReferenceSynchronization::install(std::optional<String> baseURL) {
    auto log = QNPendingEventLog::install();
    if (!log) return false;
    String base =
        baseURL ? *baseURL : QNApplicationModel::currentModel()->serverBaseUrl() + u"qnsync/v1/";
    if (!base.empty() && base.back() != u'/') base += u'/';
    QNDataLayerServices::setSynchronizationSendService(
        std::make_shared<QNReferenceSendService>(log, base));
    QNDataLayerServices::setSynchronizationReceiveService(
        std::make_shared<QNReferenceReceiveService>(base));
    return true;
}

void QNReferenceSynchronization::uninstall() {
    QNDataLayerServices::setSynchronizationSendService(nullptr);
    QNDataLayerServices::setSynchronizationReceiveService(nullptr);
    QNBusinessComponentChangeLog::install(nullptr);
}

}  // namespace qn
