// The owner of the offline database: QNDBManager decides whether the
// database must be (re)created, creates it (by copying the prepared database
// the application ships, or by running the generated reorganization
// program), keeps the connection, holds every data access at a gate while a
// creation runs, and forwards transaction control to the connection.
// QNReorganization is what generated reorganization code reports to.
//
// Files: the database is <caches>/<application name>.sqlite ("qnDB.sqlite"
// without a name; "/", "\" and control characters in the name become "_",
// and a leading "." too, so the name stays one file in that folder). A
// creation first moves the current database, with its -wal and -shm files
// after a checkpoint, to <name>.bak.sqlite. A prepared database is copied to
// a temporary file beside the target, flushed, checked with quick_check and
// renamed into place, mode 0600; a copy that fails or is not a database
// falls back to the reorganization. While a creation runs, a marker file
// <name>.sqlite.creating exists: when a process dies during a creation, the
// next creation discards what the unfinished one left instead of letting it
// replace the backup.
//
// The gate: a creation sets it in one step under a lock (a second request
// meanwhile answers 3 at once); connectionForDatastore waits while it is
// set, except on the creating thread itself, and with no creation running
// costs one atomic load. The reorganization runs on a thread of its own, so
// background work waiting at the gate never holds it up.
//
// Thread-safe.
#pragma once

#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/host/errors.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace qn {

class QNDBConnection;

class QN_API QNDBManager {
public:
    static constexpr StringView kDefaultDatastoreName = u"DEFAULT";
    static constexpr StringView kReorganizationScriptMD5Key = u"QNReorganizationScriptMD5";
    static constexpr StringView kBlobArchiveResourceName = u"QNBlobData";
    static constexpr StringView kMissingReorganizationDescription =
        u"Database creation failed: could not find Reorganization programs.";

    // Results of a creation.
    enum CreationResult : int {
        QNDBCreationNotNeeded = 0,
        QNDBCreationCopied = 1,
        QNDBCreationReorganized = 2,
        QNDBCreationInProgress = 3,
    };
    // Called once with the result and the error (none on success), on the
    // thread that finished the creation, after the gate has opened.
    using CompletionBlock = std::function<void(int result, const std::optional<QNError>& error)>;

    // The process's manager, made on first use and never replaced.
    static QNDBManager& sharedInstance();

    QNDBManager(const QNDBManager&) = delete;
    QNDBManager& operator=(const QNDBManager&) = delete;

    // Creates the database when needsCreateDatabase says so: by copying the
    // prepared database (result 1, on this thread) or by running the
    // reorganization on a thread of its own (result 2); 0 when nothing was
    // needed, 3 (with the default error) while another creation runs.
    void createDatabaseIfNeededWithCompletionBlock(CompletionBlock completion);
    // Whether a creation is due: forced by setNeedsCreateDatabase (consumed
    // here), the database file missing, or the application's reorganization
    // fingerprint differing from the stored one. Never for an application
    // that does not run offline, nor when the application has no fingerprint
    // (a banner is logged then).
    bool needsCreateDatabase();
    void setNeedsCreateDatabase();
    // Whether the database file exists.
    bool isDatabaseCreated() const;
    String databasePath() const;
    String backupDatabasePath() const;
    // Moves the current database (with its side files, after a checkpoint)
    // to the backup path, replacing the previous backup; when it cannot be
    // moved it is copied. False when neither worked: the database is then
    // left where it is.
    bool backupDatabaseBeforeCreate();
    // Copies the bundle's prepared database ("<application name>.sqlite")
    // and extracts its blob archive ("QNBlobData.zip"); false when there is
    // none or the copy failed.
    bool copyDatabaseFromBundle();
    // Installs `file` as the database (see above) and extracts `blobsZipPath`
    // into the blob folder when given; false (logged) on failure, with the
    // database path as it was.
    bool copyDatabaseFromFileBlobsZipPath(StringView file, std::optional<StringView> blobsZipPath);

    // Makes the connections afresh: "DEFAULT" for an offline application,
    // none otherwise.
    void createDatabaseConnections();
    // The database connection, after any creation in progress has ended
    // (at once on the creating thread); null when the application does not
    // run offline. There is one datastore: the name is not used.
    Ref<QNDBConnection> connectionForDatastore(StringView datastoreName);
    // Runs `sql` on the named connection of the shared manager, without
    // waiting at the gate (the reorganization relies on it); the command's
    // status, or QN_STATUS_NO_ROWS when there is no such connection.
    static std::uint32_t executeInDatastoreCommandString(StringView datastoreName, StringView sql);

    void beginTransaction();
    void commit();
    void rollback();
    void disconnect();
    // Ends the transaction of every connection, then nudges the send service.
    void endTransaction();
    void commitDatastore(StringView datastoreName);
    void rollbackDatastore(StringView datastoreName);
    // Ends and disconnects every connection, then makes them afresh (after
    // the bundle or the caches folder changed).
    void resetDatabaseConnections();
    void enumerateConnectionsWithBlock(const std::function<void(QNDBConnection&)>& block);

    bool isOfflineApplication() const;
    // Asks the synchronization send service to send pending changes now, or
    // after its minimum time between sends, when it sends automatically,
    // has pending changes and the server is reachable. Nothing is awaited.
    void sendPendingSynchronizationEventsIfRequired();

    // Waits while a creation runs (not on the creating thread).
    void waitDBCreationSemaphore();
    // Kept for callers of the counting-semaphore gate: waiters hold nothing
    // now, so there is nothing to pass on; the creation opens the gate
    // itself when it finishes. Does nothing.
    void signalDBCreationSemaphore() {}

    // Seconds since 2001-01-01 00:00:00 UTC of the last creation or copy; 0
    // until then.
    double timeIntervalSinceReferenceDateForLastKnownDatabaseCreation() const noexcept {
        return lastCreation_.load(std::memory_order_relaxed);
    }
    static void startCreateDataBase() {}

    // Threads waiting at the gate now (diagnostics, tests).
    std::size_t threadsWaitingAtGate();

    // Blocks until no creation runs and every creation thread has ended
    // (orderly shutdown, tests).
    void waitUntilNoCreationRuns();

private:
    QNDBManager();
    ~QNDBManager();

    struct Table;
    struct Creation;
    friend struct Creation;

    const Table& table() const noexcept { return *table_.load(std::memory_order_acquire); }
    Ref<QNDBConnection> connectionNamed(StringView name) const;
    void finish(Creation& creation, int result, std::optional<QNError> error);
    void runReorganization(std::shared_ptr<Creation> creation);
    bool storeFingerprint(const Creation& creation);
    bool discardUnfinishedCreation();

    std::atomic<const Table*> table_{nullptr};
    std::vector<std::unique_ptr<const Table>> tables_;  // every table made; readers may hold one
    std::mutex tablesMutex_;

    std::mutex flagMutex_;
    bool forceCreateDatabase_ = false;

    // The gate.
    std::atomic<bool> creating_{false};  // read without the lock on the fast path
    std::mutex gateMutex_;
    std::condition_variable gateOpened_;
    std::thread::id creatorThread_;
    std::size_t gateWaiters_ = 0;
    std::size_t creationThreads_ = 0;  // reorganization threads not yet ended

    std::atomic<double> lastCreation_{0};
};

// What generated reorganization code reports its progress to.
class QN_API QNReorganization : public Object {
    QN_OBJECT(QNReorganization)
public:
    // Logs "QNReorganization: <message>".
    static void addMsg(StringView message);
    static void addMsgWithIdMessage(StringView id, StringView message);
    static void replaceMsgWithIdMessage(StringView, StringView) {}
    static std::int64_t getRecordCount() { return 0; }
    void executeReorgCreateDatabase(bool, bool) {}
    std::int64_t getHandle() const { return 0; }
};

}  // namespace qn
