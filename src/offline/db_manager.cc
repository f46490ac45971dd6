// QNDBManager and QNReorganization.
//
// The order of a creation matters for what a crash leaves behind:
//   1. what an unfinished creation left (marker present) is discarded;
//   2. the current database moves to the backup (checkpointed, with its
//      side files), so the path is empty;
//   3. the marker is written;
//   4. the prepared database is copied in through a temporary file, or the
//      reorganization runs and commits;
//   5. the fingerprint is stored, then the marker removed.
// A process killed anywhere in 3-5 leaves the marker: the next creation
// throws away the unfinished database and keeps the backup, which then still
// holds the data from before.
#include <qn/core/string.h>
#include <qn/files/file_system_object.h>
#include <qn/host/bundle.h>
#include <qn/host/data_layer.h>
#include <qn/host/environment.h>
#include <qn/host/errors.h>
#include <qn/host/log.h>
#include <qn/host/model.h>
#include <qn/host/zip_archive.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>
#include <qn/offline/procedure.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "core/ascii.h"
#include "host/internal.h"
#include "offline/db_manager_internal.h"

namespace qn {

namespace fs = std::filesystem;

QN_REGISTER_CLASS(QNReorganization, Object)

namespace {

// Seconds between 1970-01-01 and 2001-01-01.
constexpr double kReferenceDateOffset = 978307200.0;
constexpr const char* kSideSuffixes[] = {"-wal", "-shm", "-journal"};
constexpr std::size_t kCopyChunk = std::size_t{8} << 20;

double now() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration<double>(since).count() - kReferenceDateOffset;
}

void logLine(const String& text, int level, bool console) {
    QNLog::loggerService()->logMessage(text, QNLogTypeDatabase, level, console);
}

String errnoText(const fs::path& path, int error) {
    return fromUtf8(path.string() + ": " + std::strerror(error));
}

fs::path sidePath(const fs::path& database, const char* suffix) {
    fs::path side = database;
    side += suffix;
    return side;
}

bool fileExists(const fs::path& path) {
    std::error_code error;
    return fs::symlink_status(path, error).type() != fs::file_type::not_found && !error;
}

// Removes a file; true when nothing is left there.
bool removeFile(const fs::path& path) {
    std::error_code error;
    fs::remove(path, error);
    return !error || !fileExists(path);
}

// The application's fingerprint of its reorganization programs; empty when
// it has none.
String applicationFingerprint() {
    const Value& value = QNBundle::mainBundle()->objectForInfoDictionaryKey(
        QNDBManager::kReorganizationScriptMD5Key);
    return value.isString() ? value.asString() : String();
}

// A name that stays one file in the caches folder.
String sanitizedFileName(const String& name) {
    String clean = name;
    for (char16_t& c : clean)
        if (c == u'/' || c == u'\\' || c < 0x20 || c == 0x7f) c = u'_';
    if (!clean.empty() && clean[0] == u'.') clean[0] = u'_';
    return clean;
}

std::mutex& observerMutex() {
    static std::mutex* m = new std::mutex;
    return *m;
}

internal::CreationObserver& observer() {
    static auto* o = new internal::CreationObserver;
    return *o;
}

void notifyObserver(internal::CreationStep step, std::uint64_t done, std::uint64_t total) {
    internal::CreationObserver copy;
    {
        std::lock_guard lock(observerMutex());
        copy = observer();
    }
    if (copy) copy(step, done, total);
}

// Copies `from` into the open descriptor `out`; 0 or an errno value.
int copyContents(int in, int out, std::uint64_t total) {
    std::uint64_t done = 0;
    bool plain = false;
    std::string buffer;
    for (;;) {
        ssize_t n;
        if (!plain) {
            n = ::copy_file_range(in, nullptr, out, nullptr, kCopyChunk, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                          errno == EOPNOTSUPP || errno == EPERM)) {
                plain = true;  // another file system or an old kernel: copy through memory
                buffer.resize(std::size_t{1} << 20);
                continue;
            }
        } else {
            n = ::read(in, buffer.data(), buffer.size());
            if (n > 0 && !internal::writeAll(
                             out, std::string_view(buffer.data(), static_cast<std::size_t>(n))))
                return errno;
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return 0;
        done += static_cast<std::uint64_t>(n);
        notifyObserver(internal::CreationStep::kCopying, done, total);
    }
}

}  // namespace

// --- Helpers the offline floor shares --------------------------------------------------

namespace internal {

void setCreationObserver(CreationObserver o) {
    std::lock_guard lock(observerMutex());
    observer() = std::move(o);
}

bool checkpointDatabaseFile(const fs::path& path) {
    if (!fileExists(path)) return true;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        sqlite3_close_v2(db);
        return !fileExists(sidePath(path, "-wal"));
    }
    sqlite3_busy_timeout(db, 5000);
    int busy = 1;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA wal_checkpoint(TRUNCATE)", -1, &statement, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        busy = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
    // A file that is not a database fails above; its WAL (if any) is then
    // only as good as the file.
    sqlite3_close_v2(db);
    return busy == 0;
}

bool databaseFilePassesQuickCheck(const fs::path& path, std::string* problem) {
    // The file is private to its caller: opened immutable, so the check
    // makes no side files beside it.
    std::string uri = "file:";
    for (unsigned char c : path.string()) {
        if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    uri += "?immutable=1";
    sqlite3* db = nullptr;
    bool ok = false;
    std::string what = "not a database";
    if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) ==
        SQLITE_OK) {
        // Read through a mapping rather than page by page: a prepared
        // database may be large, and this read is most of the install's cost.
        sqlite3_exec(db, "PRAGMA mmap_size=1073741824", nullptr, nullptr, nullptr);
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &statement, nullptr) == SQLITE_OK) {
            if (sqlite3_step(statement) == SQLITE_ROW) {
                const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
                what = text ? text : "";
                ok = what == "ok";
            } else {
                what = sqlite3_errmsg(db);
            }
        } else {
            what = sqlite3_errmsg(db);
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close_v2(db);
    if (!ok && problem) *problem = what;
    return ok;
}

}  // namespace internal

// --- The manager ---------------------------------------------------------------------

struct QNDBManager::Table {
    std::vector<std::pair<String, Ref<QNDBConnection>>> entries;
    Ref<QNDBConnection> defaultConnection;
};

struct QNDBManager::Creation {
    CompletionBlock completion;
    String fingerprint;
    fs::path marker;
    bool finished = false;
};

QNDBManager& QNDBManager::sharedInstance() {
    // Never destroyed: creation and submitted threads may outlive main.
    static QNDBManager* instance = new QNDBManager;
    return *instance;
}

QNDBManager::QNDBManager() {
    createDatabaseConnections();
}

QNDBManager::~QNDBManager() {
    waitUntilNoCreationRuns();
    disconnect();
}

// --- Places ---

String QNDBManager::databasePath() const {
    String name = sanitizedFileName(QNModel::currentModel().appModel().appName);
    if (name.empty()) name = u"qnDB";
    const fs::path folder =
        QNObjectsModelServices::applicationStorageService().applicationCachesDirectory();
    return fromUtf8((folder / (toUtf8(name) + ".sqlite")).string());
}

String QNDBManager::backupDatabasePath() const {
    fs::path path = toUtf8(databasePath());
    path.replace_extension(".bak.sqlite");
    return fromUtf8(path.string());
}

bool QNDBManager::isDatabaseCreated() const {
    return fileExists(fs::path(toUtf8(databasePath())));
}

bool QNDBManager::isOfflineApplication() const {
    return QNModel::currentModel().appModel().connectivitySupport == 1;
}

// --- Connections ---

void QNDBManager::createDatabaseConnections() {
    auto table = std::make_unique<Table>();
    if (isOfflineApplication()) {
        auto connection = QNDBConnection::createConnectionOfTypeWithIdentifierConnectionString(
            0, kDefaultDatastoreName, databasePath());
        if (connection) {
            table->entries.emplace_back(String(kDefaultDatastoreName), connection);
            table->defaultConnection = std::move(connection);
        }
    }
    std::lock_guard lock(tablesMutex_);
    table_.store(table.get(), std::memory_order_release);
    // Earlier tables stay: a reader may still be copying a connection out
    // of one. A reset is rare and a table is a few words.
    tables_.push_back(std::move(table));
}

Ref<QNDBConnection> QNDBManager::connectionNamed(StringView name) const {
    for (const auto& [entryName, connection] : table().entries)
        if (StringView(entryName) == name) return connection;
    return nullptr;
}

Ref<QNDBConnection> QNDBManager::connectionForDatastore(StringView) {
    waitDBCreationSemaphore();
    return table().defaultConnection;
}

std::uint32_t QNDBManager::executeInDatastoreCommandString(StringView datastoreName,
                                                           StringView sql) {
    auto connection = sharedInstance().connectionNamed(datastoreName);
    if (!connection) {
        // Nothing ran: say so rather than answer the status of success.
        QNThreadErrorHandler::errorHandler().addErrorWithCodeDescription(
            SQLITE_MISUSE, u"No datastore named \"" + String(datastoreName) + u"\"");
        return 1000 + SQLITE_MISUSE;
    }
    auto command = connection->commandWithSQLStatement(sql);
    const std::uint32_t status = command->execute();
    command->close();
    return status;
}

void QNDBManager::enumerateConnectionsWithBlock(const std::function<void(QNDBConnection&)>& block) {
    for (const auto& entry : table().entries)
        block(*entry.second);
}

void QNDBManager::beginTransaction() {
    enumerateConnectionsWithBlock([](QNDBConnection& c) { c.beginTransaction(); });
}

void QNDBManager::commit() {
    enumerateConnectionsWithBlock([](QNDBConnection& c) { c.commit(); });
}

void QNDBManager::rollback() {
    enumerateConnectionsWithBlock([](QNDBConnection& c) { c.rollback(); });
}

void QNDBManager::disconnect() {
    enumerateConnectionsWithBlock([](QNDBConnection& c) { c.disconnect(); });
}

void QNDBManager::endTransaction() {
    enumerateConnectionsWithBlock([](QNDBConnection& c) { c.endTransaction(); });
    sendPendingSynchronizationEventsIfRequired();
}

void QNDBManager::commitDatastore(StringView datastoreName) {
    if (auto connection = connectionNamed(datastoreName)) connection->commit();
}

void QNDBManager::rollbackDatastore(StringView datastoreName) {
    if (auto connection = connectionNamed(datastoreName)) connection->rollback();
}

void QNDBManager::resetDatabaseConnections() {
    enumerateConnectionsWithBlock([](QNDBConnection& c) {
        c.endTransaction();
        c.disconnect();
    });
    createDatabaseConnections();
}

void QNDBManager::sendPendingSynchronizationEventsIfRequired() {
    auto service = QNDataLayerServices::synchronizationSendService();
    if (!service || !service->shouldSendAutomaticallyWhenConnected() ||
        !service->hasPendingSynchronizationEvents() ||
        QNModel::currentModel().appModel().reachabilityStatus == 0)
        return;
    if (service->hasMinimumTimeBetweenSendsBeenElapsed()) {
        service->sendPendingEventsStartedFromUserCodeWithCompletionBlock(false, nullptr);
    } else {
        service->scheduledSendAfterMinimumTime();
    }
}

// --- The gate ---

void QNDBManager::waitDBCreationSemaphore() {
    if (!creating_.load(std::memory_order_acquire)) return;
    std::unique_lock lock(gateMutex_);
    // The creation may read through a provider itself: it passes its own gate.
    if (creatorThread_ == std::this_thread::get_id()) return;
    ++gateWaiters_;
    gateOpened_.wait(lock, [this] { return !creating_.load(std::memory_order_relaxed); });
    --gateWaiters_;
}

std::size_t QNDBManager::threadsWaitingAtGate() {
    std::lock_guard lock(gateMutex_);
    return gateWaiters_;
}

void QNDBManager::waitUntilNoCreationRuns() {
    std::unique_lock lock(gateMutex_);
    gateOpened_.wait(lock, [this] {
        return !creating_.load(std::memory_order_relaxed) && creationThreads_ == 0;
    });
}

// --- Deciding ---

void QNDBManager::setNeedsCreateDatabase() {
    std::lock_guard lock(flagMutex_);
    forceCreateDatabase_ = true;
}

bool QNDBManager::needsCreateDatabase() {
    if (!isOfflineApplication()) return false;
    {
        std::lock_guard lock(flagMutex_);
        if (forceCreateDatabase_) {
            forceCreateDatabase_ = false;
            return true;
        }
    }
    const String fingerprint = applicationFingerprint();
    if (fingerprint.empty()) {
        const String rule(61, u'=');
        logLine(u"\n\n" + rule +
                    u"\n\nERROR: Offline Database creation programs were not generated." +
                    u"\n\nDatabase creation has been aborted." + u"\n\n" + rule + u"\n\n",
                QNLogLevelError, true);
        return false;
    }
    // The caches folder may be purged: no file means there is nothing to keep.
    if (!isDatabaseCreated()) return true;
    const Value stored =
        QNModel::currentModel().getUserDataForKey(String(kReorganizationScriptMD5Key));
    if (!stored.isString()) return true;
    return stored.asString() != fingerprint;
}

// --- Moving and copying files ---

bool QNDBManager::backupDatabaseBeforeCreate() {
    const fs::path database = toUtf8(databasePath());
    const fs::path backup = toUtf8(backupDatabasePath());
    if (!fileExists(database)) {
        // Side files without their database belong to nothing, and SQLite
        // would apply an old WAL to the next file made at this path.
        for (const char* suffix : kSideSuffixes)
            removeFile(sidePath(database, suffix));
        return true;
    }
    disconnect();
    const bool checkpointed = internal::checkpointDatabaseFile(database);
    for (const char* suffix : kSideSuffixes)
        removeFile(sidePath(backup, suffix));
    removeFile(backup);

    std::error_code error;
    fs::rename(database, backup, error);
    if (!error) {
        for (const char* suffix : kSideSuffixes) {
            const fs::path side = sidePath(database, suffix);
            if (!fileExists(side)) continue;
            // After a full checkpoint the WAL holds nothing: it goes. Otherwise
            // it travels with its database.
            if (checkpointed) {
                removeFile(side);
            } else {
                std::error_code sideError;
                fs::rename(side, sidePath(backup, suffix), sideError);
            }
        }
        internal::syncFolder(database.parent_path());
        return true;
    }
    // Could not move (a mount point, permissions): keep a copy instead and
    // leave the database alone when even that fails. Removing it would lose
    // the only copy of changes not yet sent.
    logLine(u"Could not move the database aside: " + errnoText(database, error.value()) +
                u"; copying it",
            QNLogLevelError, true);
    std::error_code copyError;
    fs::path temporary = backup;
    temporary += ".copy";
    fs::copy_file(database, temporary, fs::copy_options::overwrite_existing, copyError);
    if (!copyError) {
        const int fd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
        const bool synced = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0) ::close(fd);
        ::chmod(temporary.c_str(), S_IRUSR | S_IWUSR);
        if (synced) fs::rename(temporary, backup, copyError);
        if (synced && !copyError) {
            internal::syncFolder(backup.parent_path());
            // A database that cannot be removed is replaced by the rename of
            // the new one, or fails the reorganization: either way it is safe
            // in the backup now.
            removeFile(database);
            return true;
        }
    }
    removeFile(temporary);
    logLine(u"Could not back up the database; creation aborted", QNLogLevelError, true);
    return false;
}

bool QNDBManager::copyDatabaseFromBundle() {
    auto bundle = QNBundle::mainBundle();
    String name = QNModel::currentModel().appModel().appName;
    if (name.empty()) return false;
    auto prepared = bundle->pathForResourceOfType(toUtf8(name), "sqlite");
    if (!prepared) return false;
    auto archive = bundle->pathForResourceOfType(toUtf8(kBlobArchiveResourceName), "zip");
    const String archivePath = archive ? fromUtf8(archive->string()) : String();
    return copyDatabaseFromFileBlobsZipPath(
        fromUtf8(prepared->string()),
        archive ? std::optional<StringView>(archivePath) : std::nullopt);
}

bool QNDBManager::copyDatabaseFromFileBlobsZipPath(StringView file,
                                                   std::optional<StringView> blobsZipPath) {
    const double started = now();
    const fs::path source = toUtf8(file);
    const fs::path database = toUtf8(databasePath());
    const fs::path folder = database.parent_path();
    fs::path temporary;
    auto fail = [&](const String& description) {
        if (!temporary.empty()) removeFile(temporary);
        logLine(u"Could not copy database file: " + description, QNLogLevelError, true);
        return false;
    };

    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return fail(errnoText(source, errno));
    struct stat info {};
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return fail(errnoText(source, S_ISDIR(info.st_mode) ? EISDIR : EINVAL));
    }
    std::error_code error;
    fs::create_directories(folder, error);

    // Commands must not keep the file that is about to be replaced open.
    disconnect();

    // Temporary copies a killed process left behind.
    const std::string prefix = database.filename().string() + ".copy-";
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().filename().string().starts_with(prefix)) removeFile(entry.path());

    std::string name = (folder / (prefix + "XXXXXX")).string();
    const int out = ::mkstemp(name.data());  // mode 0600
    if (out < 0) {
        const int e = errno;
        ::close(in);
        return fail(errnoText(folder, e));
    }
    temporary = name;
    const int copied = copyContents(in, out, static_cast<std::uint64_t>(info.st_size));
    ::close(in);
    const int synced = copied == 0 && ::fsync(out) != 0 ? errno : 0;
    const int closed = ::close(out) != 0 ? errno : 0;
    if (copied != 0 || synced != 0 || closed != 0)
        return fail(errnoText(temporary, copied ? copied : synced ? synced : closed));

    std::string problem;
    if (!internal::databaseFilePassesQuickCheck(temporary, &problem))
        return fail(fromUtf8(source.string() + " is not a sound database: " + problem));

    // What is at the database path now (a caller may install over a live
    // file) must not lend its WAL to the new file.
    if (fileExists(database)) internal::checkpointDatabaseFile(database);
    for (const char* suffix : kSideSuffixes)
        if (!removeFile(sidePath(database, suffix)))
            return fail(errnoText(sidePath(database, suffix), EACCES));
    if (::rename(temporary.c_str(), database.c_str()) != 0) return fail(errnoText(database, errno));
    temporary.clear();
    internal::syncFolder(folder);

    lastCreation_.store(started, std::memory_order_relaxed);
    logLine(u"Database file copied successfuly", QNLogLevelInfo, false);

    if (blobsZipPath && fileExists(fs::path(toUtf8(*blobsZipPath)))) {
        const String root = QNFileSystemObject::absoluteFilePathForRelativePath(u"qnblobdata://");
        ZipArchive archive;
        bool extracted = false;
        if (!root.empty() && archive.UnzipOpenFile(*blobsZipPath)) {
            extracted = archive.UnzipFileToOverWrite(root, true);
            archive.UnzipCloseFile();
        }
        // The database is in place: the blobs that did not come are
        // fetched again when the application asks for them.
        if (!extracted)
            logLine(u"Some blobs of " + String(*blobsZipPath) + u" were not extracted",
                    QNLogLevelError, false);
    }
    return true;
}

// --- Creating ---

bool QNDBManager::discardUnfinishedCreation() {
    const fs::path database = toUtf8(databasePath());
    fs::path marker = database;
    marker += ".creating";
    if (!fileExists(marker)) return true;
    logLine(u"Discarding the database an unfinished creation left", QNLogLevelInfo, false);
    disconnect();
    bool removed = removeFile(database);
    for (const char* suffix : kSideSuffixes)
        removed = removeFile(sidePath(database, suffix)) && removed;
    return removed && removeFile(marker);
}

bool QNDBManager::storeFingerprint(const Creation& creation) {
    return creation.fingerprint.empty() ||
           QNModel::currentModel().setUserDataForKey(Value(creation.fingerprint),
                                                     String(kReorganizationScriptMD5Key));
}

void QNDBManager::finish(Creation& creation, int result, std::optional<QNError> error) {
    if (creation.finished) return;
    creation.finished = true;
    {
        std::lock_guard lock(gateMutex_);
        creating_.store(false, std::memory_order_release);
        creatorThread_ = std::thread::id();
    }
    gateOpened_.notify_all();
    if (creation.completion) creation.completion(result, error);
    logLine(u"Database creation finished with result: " + fromUtf8(std::to_string(result)),
            error ? QNLogLevelError : QNLogLevelInfo, false);
}

namespace {

bool writeMarker(const fs::path& marker) {
    const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    internal::syncFolder(marker.parent_path());
    return ok;
}

QNError creationError(const String& description) {
    return QNError::defaultQNErrorWithDeveloperDescription(u"Database creation failed: " +
                                                           description);
}

}  // namespace

void QNDBManager::createDatabaseIfNeededWithCompletionBlock(CompletionBlock completion) {
    {
        std::lock_guard lock(gateMutex_);
        if (creating_.load(std::memory_order_relaxed)) {
            // Checked and set in one step: two creations never run at once.
            if (completion) completion(QNDBCreationInProgress, QNError::defaultQNError());
            return;
        }
        creating_.store(true, std::memory_order_release);
        creatorThread_ = std::this_thread::get_id();
    }
    auto creation = std::make_shared<Creation>();
    creation->completion = std::move(completion);

    if (!needsCreateDatabase()) {
        finish(*creation, QNDBCreationNotNeeded, std::nullopt);
        return;
    }
    creation->fingerprint = applicationFingerprint();
    const fs::path database = toUtf8(databasePath());
    creation->marker = database;
    creation->marker += ".creating";
    std::error_code error;
    fs::create_directories(database.parent_path(), error);

    if (!discardUnfinishedCreation()) {
        finish(*creation, QNDBCreationReorganized,
               creationError(u"could not remove what an unfinished creation left."));
        return;
    }
    if (!backupDatabaseBeforeCreate()) {
        finish(*creation, QNDBCreationReorganized,
               creationError(u"could not move the current database aside."));
        return;
    }
    if (!writeMarker(creation->marker)) {
        finish(*creation, QNDBCreationReorganized,
               creationError(u"could not write in " + fromUtf8(database.parent_path().string()) +
                             u"."));
        return;
    }
    lastCreation_.store(now(), std::memory_order_relaxed);

    if (copyDatabaseFromBundle()) {
        const bool stored = storeFingerprint(*creation);
        // The database is in place and in use from now on: it is kept even
        // when the fingerprint could not be stored (the next start makes it
        // the backup).
        removeFile(creation->marker);
        finish(*creation, QNDBCreationCopied,
               stored ? std::nullopt
                      : std::optional(
                            creationError(u"could not store the reorganization fingerprint.")));
        return;
    }

    logLine(u"Database creation started", QNLogLevelInfo, false);
    {
        std::lock_guard lock(gateMutex_);
        creatorThread_ = std::thread::id();  // the new thread takes over
        ++creationThreads_;
    }
    // A thread of its own: background workers may all be waiting at the gate.
    auto run = [this, creation] {
        {
            std::lock_guard lock(gateMutex_);
            creatorThread_ = std::this_thread::get_id();
        }
        try {
            runReorganization(creation);
        } catch (...) {
            // The reorganization's own exceptions are caught inside: this is
            // the completion block's, or running out of memory.
            logLine(u"A database creation ended with an exception", QNLogLevelError, true);
        }
        // Whatever happened, the gate opens.
        finish(*creation, QNDBCreationReorganized, creationError(u"internal error."));
        {
            std::lock_guard lock(gateMutex_);
            --creationThreads_;
        }
        gateOpened_.notify_all();
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        // No thread to be had: run here rather than leave the gate shut.
        run();
    }
}

void QNDBManager::runReorganization(std::shared_ptr<Creation> creation) {
    const fs::path database = toUtf8(databasePath());
    if (!fileExists(database)) {
        const int fd = ::open(database.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) ::close(fd);
    }
    std::string className = toUtf8(QNApplicationModel::currentModel()->synchronizerObjectName());
    for (char& c : className)
        if (c == '.') c = '_';
    className = internal::asciiLowercased(className + "_reorg");
    const ClassInfo* reorganizationClass = ClassRegistry::classNamed(std::string_view(className));
    Ref<Object> reorganization = reorganizationClass ? reorganizationClass->create() : nullptr;
    if (!reorganization) {
        // The fingerprint is not stored and the marker stays: the next start
        // tries again, and keeps the backup.
        finish(*creation, QNDBCreationReorganized,
               QNError::defaultQNErrorWithDeveloperDescription(
                   String(kMissingReorganizationDescription)));
        return;
    }

    auto& errors = QNThreadErrorHandler::errorHandler();
    errors.clear();
    String failure;
    try {
        QNProcedureHelper::executeOfflineProcedureInstanceWithParameters(*reorganization, {});
    } catch (const FatalError& e) {
        failure = e.reason();
    } catch (const std::exception& e) {
        failure = fromUtf8(e.what());
    } catch (...) {
        failure = u"the reorganization program threw";
    }
    if (failure.empty() && errors.hasErrors())
        failure = errors.errors().front().developerDescription();
    if (failure.empty()) {
        commitDatastore(kDefaultDatastoreName);
        if (errors.hasErrors()) failure = errors.errors().front().developerDescription();
    }
    if (!failure.empty()) {
        rollbackDatastore(kDefaultDatastoreName);
        logLine(u"QNReorganization failed: " + failure, QNLogLevelError, true);
        finish(*creation, QNDBCreationReorganized,
               creationError(u"the reorganization program failed: " + failure));
        return;
    }
    notifyObserver(internal::CreationStep::kCommitted, 0, 0);
    const bool stored = storeFingerprint(*creation);
    removeFile(creation->marker);
    finish(*creation, QNDBCreationReorganized,
           stored
               ? std::nullopt
               : std::optional(creationError(u"could not store the reorganization fingerprint.")));
}

// --- QNReorganization ---

void QNReorganization::addMsg(StringView message) {
    QNLog::loggerService()->logMessage(u"QNReorganization: " + String(message), QNLogTypeDatabase,
                                       QNLogLevelInfo, true);
}

void QNReorganization::addMsgWithIdMessage(StringView, StringView message) {
    addMsg(message);
}

}  // namespace qn
