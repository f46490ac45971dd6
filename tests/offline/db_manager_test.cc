// The database manager on real files: deciding and creating (by the
// reorganization, from a prepared database with its blob archive), what
// failures leave behind, the gate under many threads, and processes killed
// in the middle of a creation (qn_db_worker), after which the next start
// must find an intact database and the backup from before.
#include <qn/files/file_system_object.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>
#include <qn/offline/procedure.h>

#include <sys/stat.h>
#include <zip.h>

#include <future>
#include <stdexcept>

#include "offline/db_manager_internal.h"
#include "offline/process_support.h"
#include "offline/test_reorganization.h"
#include "support/test_support.h"

using namespace qn;
using namespace qn::test;
namespace fs = std::filesystem;

namespace {

// A database file with item(id, note, payload): `rows` rows noted `tag`, each
// with `payloadBytes` of blob.
void makeDatabase(const fs::path& file, int rows, const std::string& tag, int payloadBytes = 0) {
    fs::create_directories(file.parent_path());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    std::string sql =
        "CREATE TABLE item (id INTEGER PRIMARY KEY, note TEXT, payload BLOB, writer INTEGER); "
        "BEGIN;";
    for (int i = 1; i <= rows; ++i)
        sql += "INSERT INTO item (id, note, payload) VALUES (" + std::to_string(i) + ", '" + tag +
               "', zeroblob(" + std::to_string(payloadBytes) + "));";
    sql += "COMMIT;";
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

// The rows of item with that note in a file, read through a handle of the
// test's own (-1 when the file has no such table).
std::int64_t rowsNoted(const fs::path& file, const std::string& tag) {
    if (!fs::exists(file)) return -1;
    Peek peek(file);
    const auto rows = peek.rows("SELECT name FROM sqlite_master WHERE name = 'item'");
    if (rows.empty()) return -1;
    return std::stoll(peek.text("SELECT COUNT(*) FROM item WHERE note = '" + tag + "'"));
}

bool hasTable(const fs::path& file, const std::string& table) {
    if (!fs::exists(file)) return false;
    Peek peek(file);
    return !peek.rows("SELECT name FROM sqlite_master WHERE name = '" + table + "'").empty();
}

bool soundDatabase(const fs::path& file) {
    std::string problem;
    const bool ok = internal::databaseFilePassesQuickCheck(file, &problem);
    if (!ok) ADD_FAILURE() << file << ": " << problem;
    return ok;
}

unsigned mode(const fs::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? (info.st_mode & 0777) : 0;
}

struct Outcome {
    int result = -1;
    std::optional<QNError> error;
};

class DBManagerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::signal(SIGPIPE, SIG_IGN); }

    void SetUp() override {
        writeBundle("App", "Test.Sync", "FP1");
        scope_ = std::make_unique<ScopedBundle>(bundle_.path());
        manager().resetDatabaseConnections();
        reorganizationBody() = nullptr;
        rowsSeenByReorganization = -1;
    }

    void TearDown() override {
        manager().waitUntilNoCreationRuns();
        internal::setCreationObserver(nullptr);
        reorganizationBody() = nullptr;
        scope_.reset();
        manager().resetDatabaseConnections();
    }

    static QNDBManager& manager() { return QNDBManager::sharedInstance(); }

    // Info.plist (with the fingerprint unless empty) and model.json.
    void writeBundle(const std::string& appName, const std::string& synchronizer,
                     const std::string& fingerprint, bool offline = true) {
        std::string info = "<dict><key>QNiOSGeneratorLanguage</key><string>swift</string>";
        if (!fingerprint.empty())
            info += "<key>QNReorganizationScriptMD5</key><string>" + fingerprint + "</string>";
        bundle_.write("Info.plist", plistDocument(info + "</dict>"));
        bundle_.write("model.json", "{\"appName\": \"" + appName +
                                        "\", \"connectivitySupport\": " + (offline ? "1" : "0") +
                                        ", \"synchronizerObjectName\": \"" + synchronizer + "\"}");
    }
    // Makes the rewritten bundle current (the model and Info.plist are read
    // when the main bundle is set).
    void reloadBundle() {
        QNBundle::setMainBundlePath(bundle_.path());
        manager().resetDatabaseConnections();
    }

    fs::path caches() const { return scope_->storage().path() / "caches"; }
    fs::path support() const { return scope_->storage().path() / "support"; }
    fs::path database() const { return toUtf8(manager().databasePath()); }
    fs::path backup() const { return toUtf8(manager().backupDatabasePath()); }
    fs::path marker() const { return fs::path(database()) += ".creating"; }

    static String storedFingerprint() {
        const Value v = QNModel::currentModel().getUserDataForKey(
            String(QNDBManager::kReorganizationScriptMD5Key));
        return v.isString() ? v.asString() : String(u"(none)");
    }
    static void storeFingerprint(const std::string& fingerprint) {
        ASSERT_TRUE(QNModel::currentModel().setUserDataForKey(
            Value(fromUtf8(fingerprint)), String(QNDBManager::kReorganizationScriptMD5Key)));
    }

    // The user's database from before, with its fingerprint.
    void makeUserDatabase(int rows = 3) {
        makeDatabase(database(), rows, "user");
        storeFingerprint("OLD");
    }

    static Outcome create() {
        std::promise<Outcome> done;
        manager().createDatabaseIfNeededWithCompletionBlock(
            [&done](int result, const std::optional<QNError>& error) {
                done.set_value({result, error});
            });
        return done.get_future().get();
    }

    std::vector<fs::path> temporaryCopies() const {
        std::vector<fs::path> found;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(caches(), error))
            if (entry.path().filename().string().find(".copy-") != std::string::npos)
                found.push_back(entry.path());
        return found;
    }

    TempDir bundle_;
    std::unique_ptr<ScopedBundle> scope_;
    ScopedCapturingLogger log_;
};

// --- Deciding and naming ---

TEST_F(DBManagerTest, FileNamesStayInTheCachesFolder) {
    EXPECT_EQ(database(), caches() / "App.sqlite");
    EXPECT_EQ(backup(), caches() / "App.bak.sqlite");

    writeBundle("", "Test.Sync", "FP1");
    reloadBundle();
    EXPECT_EQ(database(), caches() / "qnDB.sqlite");

    writeBundle("../up/and\\\\away", "Test.Sync", "FP1");
    reloadBundle();
    EXPECT_EQ(database().parent_path(), caches());
    EXPECT_EQ(database().filename(), "_._up_and_away.sqlite");
}

TEST_F(DBManagerTest, DecidingWhetherToCreate) {
    EXPECT_TRUE(manager().needsCreateDatabase()) << "no database yet";
    ASSERT_EQ(create().result, 2);
    EXPECT_FALSE(manager().needsCreateDatabase()) << "fingerprint stored";

    manager().setNeedsCreateDatabase();
    EXPECT_TRUE(manager().needsCreateDatabase());
    EXPECT_FALSE(manager().needsCreateDatabase()) << "the flag is consumed";

    // The caches folder was purged: a matching fingerprint is no reason to
    // go on without a database.
    manager().disconnect();
    fs::remove(database());
    EXPECT_TRUE(manager().needsCreateDatabase());
    ASSERT_EQ(create().result, 2);

    storeFingerprint("OTHER");
    EXPECT_TRUE(manager().needsCreateDatabase());

    writeBundle("App", "Test.Sync", "FP1", /*offline=*/false);
    reloadBundle();
    EXPECT_FALSE(manager().needsCreateDatabase());
    EXPECT_EQ(manager().connectionForDatastore(u"DEFAULT"), nullptr);
    EXPECT_EQ(create().result, 0);
}

TEST_F(DBManagerTest, WithoutAFingerprintTheBannerIsLoggedAndNothingIsCreated) {
    writeBundle("App", "Test.Sync", "");
    reloadBundle();
    const Outcome outcome = create();
    EXPECT_EQ(outcome.result, 0);
    EXPECT_FALSE(outcome.error.has_value());
    EXPECT_FALSE(fs::exists(database()));

    const String rule(61, u'=');
    const String banner = u"\n\n" + rule +
                          u"\n\nERROR: Offline Database creation programs were not generated."
                          u"\n\nDatabase creation has been aborted.\n\n" +
                          rule + u"\n\n";
    bool found = false;
    for (const auto& line : log_->lines())
        if (line.text == banner) {
            found = true;
            EXPECT_EQ(line.type, QNLogTypeDatabase);
            EXPECT_TRUE(line.console);
        }
    EXPECT_TRUE(found);
}

// --- Creating ---

TEST_F(DBManagerTest, TheReorganizationCreatesTheDatabaseOnceAndThenNothing) {
    const Outcome first = create();
    EXPECT_EQ(first.result, 2);
    EXPECT_FALSE(first.error.has_value());
    EXPECT_EQ(rowsSeenByReorganization, 2) << "the creating thread reads through its own gate";
    EXPECT_TRUE(hasTable(database(), "fresh"));
    EXPECT_EQ(mode(database()), 0600u);
    EXPECT_EQ(storedFingerprint(), u"FP1");
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_GT(manager().timeIntervalSinceReferenceDateForLastKnownDatabaseCreation(), 8e8);
    EXPECT_TRUE(log_->contains(u"Database creation started"));
    manager().waitUntilNoCreationRuns();  // the line follows the completion block
    EXPECT_TRUE(log_->contains(u"Database creation finished with result: 2"));

    auto connection = manager().connectionForDatastore(u"DEFAULT");
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(countRows(*connection, u"fresh"), 2);

    const Outcome second = create();
    EXPECT_EQ(second.result, 0);
    EXPECT_FALSE(second.error.has_value());
    EXPECT_TRUE(log_->contains(u"Database creation finished with result: 0"));
}

TEST_F(DBManagerTest, AMissingReorganizationClassIsReportedAndTriedAgain) {
    writeBundle("App", "No.Such", "FP1");
    reloadBundle();
    const Outcome outcome = create();
    EXPECT_EQ(outcome.result, 2);
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->developerDescription(),
              String(QNDBManager::kMissingReorganizationDescription));
    EXPECT_TRUE(fs::exists(database())) << "the empty file stays";
    EXPECT_EQ(storedFingerprint(), u"(none)");
    EXPECT_TRUE(manager().needsCreateDatabase());
}

TEST_F(DBManagerTest, AFailedReorganizationIsRolledBackAndTheBackupKept) {
    makeUserDatabase(3);

    // Throws halfway: its work is rolled back and reported.
    reorganizationBody() = [] {
        defaultReorganization();
        throw std::runtime_error("boom");
    };
    Outcome outcome = create();
    EXPECT_EQ(outcome.result, 2);
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_NE(outcome.error->developerDescription().find(u"boom"), String::npos);
    manager().disconnect();
    EXPECT_FALSE(hasTable(database(), "fresh"));
    EXPECT_EQ(storedFingerprint(), u"OLD");
    EXPECT_EQ(rowsNoted(backup(), "user"), 3);

    // A statement fails without a throw: a failure too.
    reorganizationBody() = [] {
        defaultReorganization();
        QNDBManager::executeInDatastoreCommandString(u"DEFAULT", u"INSERT INTO missing VALUES (1)");
    };
    outcome = create();
    ASSERT_TRUE(outcome.error.has_value());
    manager().disconnect();
    EXPECT_FALSE(hasTable(database(), "fresh"));

    // The failed attempts never became the backup: the user's rows are there.
    reorganizationBody() = nullptr;
    outcome = create();
    EXPECT_EQ(outcome.result, 2);
    EXPECT_FALSE(outcome.error.has_value());
    EXPECT_EQ(rowsNoted(backup(), "user"), 3);
    EXPECT_TRUE(hasTable(database(), "fresh"));
    EXPECT_EQ(storedFingerprint(), u"FP1");
}

// A zip archive with the given entries (name -> contents).
void writeZip(const fs::path& file,
              const std::vector<std::pair<std::string, std::string>>& entries) {
    int error = 0;
    zip_t* archive = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(archive, nullptr);
    for (const auto& [name, contents] : entries) {
        zip_source_t* source = zip_source_buffer(archive, contents.data(), contents.size(), 0);
        ASSERT_GE(zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8), 0) << name;
    }
    ASSERT_EQ(zip_close(archive), 0);
}

TEST_F(DBManagerTest, APreparedDatabaseIsCopiedWithItsBlobs) {
    makeUserDatabase(3);
    makeDatabase(bundle_.path() / "App.sqlite", 5, "prepared");
    const std::string good = "good blob";
    const std::string evil = "evil";
    writeZip(bundle_.path() / "QNBlobData.zip",
             {{"photos/a.txt", good}, {"../escaped.txt", evil}, {"photos/../../up.txt", evil}});
    const fs::path blobs = toUtf8(QNFileSystemObject::blobDataPath());

    const Outcome outcome = create();
    EXPECT_EQ(outcome.result, 1);
    EXPECT_FALSE(outcome.error.has_value());
    EXPECT_EQ(rowsNoted(database(), "prepared"), 5);
    EXPECT_TRUE(soundDatabase(database()));
    EXPECT_EQ(mode(database()), 0600u);
    EXPECT_EQ(rowsNoted(backup(), "user"), 3);
    EXPECT_EQ(storedFingerprint(), u"FP1");
    EXPECT_TRUE(log_->contains(u"Database file copied successfuly"));
    EXPECT_TRUE(temporaryCopies().empty());
    EXPECT_FALSE(fs::exists(marker()));

    EXPECT_EQ(readFile(blobs / "photos" / "a.txt"), good);
    EXPECT_FALSE(fs::exists(blobs.parent_path() / "escaped.txt"));
    EXPECT_FALSE(fs::exists(blobs.parent_path() / "up.txt"));
    fs::remove_all(blobs / "photos");

    // The connection opens the new file.
    auto connection = manager().connectionForDatastore(u"DEFAULT");
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(countRows(*connection, u"item"), 5);
}

TEST_F(DBManagerTest, APreparedFileThatIsNotADatabaseFallsBackToTheReorganization) {
    makeUserDatabase(3);
    writeFile(bundle_.path() / "App.sqlite", std::string(8192, 'x'));

    const Outcome outcome = create();
    EXPECT_EQ(outcome.result, 2);
    EXPECT_FALSE(outcome.error.has_value());
    EXPECT_TRUE(log_->contains(u"Could not copy database file: "));
    EXPECT_TRUE(hasTable(database(), "fresh"));
    EXPECT_TRUE(temporaryCopies().empty());
    EXPECT_EQ(rowsNoted(backup(), "user"), 3);
}

// --- The gate ---

TEST_F(DBManagerTest, ConcurrentReadersWaitAtTheGateUntilTheCommit) {
    Latch reached;
    Latch release;
    reorganizationBody() = [&] {
        defaultReorganization();
        reached.arrive();
        release.waitFor();
    };
    std::promise<std::pair<Outcome, std::int64_t>> completed;
    manager().createDatabaseIfNeededWithCompletionBlock([&completed](
                                                            int result,
                                                            const std::optional<QNError>& error) {
        // The gate is open by now: the block may use the database.
        auto connection = manager().connectionForDatastore(u"DEFAULT");
        completed.set_value({{result, error}, connection ? countRows(*connection, u"fresh") : -1});
    });
    ASSERT_TRUE(reached.waitFor());

    // A second request while the first runs: 3 at once, with the default error.
    std::optional<Outcome> second;
    manager().createDatabaseIfNeededWithCompletionBlock(
        [&second](int result, const std::optional<QNError>& error) {
            second = {result, error};
        });
    ASSERT_TRUE(second.has_value()) << "answered on the caller's thread";
    EXPECT_EQ(second->result, 3);
    ASSERT_TRUE(second->error.has_value());
    EXPECT_EQ(second->error->code(), QNError::kDefaultCode);

    constexpr int kReaders = 16;
    std::atomic<int> passed{0};
    std::vector<std::int64_t> seen(kReaders, -2);
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; ++i)
        readers.emplace_back([&, i] {
            auto connection = manager().connectionForDatastore(u"DEFAULT");
            ++passed;
            seen[static_cast<std::size_t>(i)] = connection ? countRows(*connection, u"fresh") : -1;
        });
    // (A reader that got through ends the wait too, and fails below.)
    while (manager().threadsWaitingAtGate() < kReaders && passed.load() == 0)
        std::this_thread::yield();
    EXPECT_EQ(passed.load(), 0) << "nobody passes before the creation ends";

    release.arrive();
    for (auto& reader : readers)
        reader.join();
    for (std::int64_t n : seen)
        EXPECT_EQ(n, 2) << "every reader sees the committed rows";
    auto [outcome, rows] = completed.get_future().get();
    EXPECT_EQ(outcome.result, 2);
    EXPECT_FALSE(outcome.error.has_value());
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(manager().threadsWaitingAtGate(), 0u);
}

TEST_F(DBManagerTest, ABackgroundPoolFullOfGateWaitersDoesNotHoldUpTheCreationThread) {
    const std::size_t workers = qn_dispatch_background_thread_count();
    std::atomic<int> passed{0};
    // The reorganization goes on only once every worker waits at the gate:
    // queued on the same pool it would never run. (A worker that got
    // through ends the wait too, and fails below.)
    reorganizationBody() = [workers, &passed] {
        while (QNDBManager::sharedInstance().threadsWaitingAtGate() < workers && passed.load() == 0)
            std::this_thread::yield();
        defaultReorganization();
    };
    std::promise<Outcome> completed;
    manager().createDatabaseIfNeededWithCompletionBlock(
        [&completed](int result, const std::optional<QNError>& error) {
            completed.set_value({result, error});
        });
    std::atomic<int> sawRows{0};
    for (std::size_t i = 0; i < workers; ++i)
        qn_dispatch_on_background([&sawRows, &passed] {
            auto connection = QNDBManager::sharedInstance().connectionForDatastore(u"DEFAULT");
            ++passed;
            if (connection && countRows(*connection, u"fresh") == 2) ++sawRows;
        });
    EXPECT_EQ(completed.get_future().get().result, 2);
    qn_dispatch_wait_for_background_idle();
    EXPECT_EQ(sawRows.load(), static_cast<int>(workers));
}

// --- Processes killed during a creation ---

class DBManagerProcessTest : public DBManagerTest {
protected:
    // A worker using this test's bundle and storage folders.
    ::testing::AssertionResult attach(Worker& worker) {
        return worker.ask("manager " + bundle_.path().string() + " " + caches().string() + " " +
                              support().string(),
                          "ready");
    }
};

TEST_F(DBManagerProcessTest, AStaleWalOfAKilledWriterTravelsWithTheBackup) {
    makeDatabase(database(), 0, "user");
    storeFingerprint("OLD");
    {
        Worker writer;
        ASSERT_TRUE(writer.ask("open " + database().string(), "ready"));
        ASSERT_TRUE(writer.ask("insert 1 40 40", "committed 40"));
        EXPECT_TRUE(killedBySigkill(writer.kill9()));
    }
    // The committed rows are only in the WAL now.
    ASSERT_TRUE(fs::exists(fs::path(database()) += "-wal"));
    ASSERT_GT(fs::file_size(fs::path(database()) += "-wal"), 0u);
    makeDatabase(bundle_.path() / "App.sqlite", 5, "prepared");

    const Outcome outcome = create();
    EXPECT_EQ(outcome.result, 1);
    {
        Peek old(backup());
        EXPECT_EQ(old.text("SELECT COUNT(*) FROM item"), "40") << "the backup kept its rows";
    }
    Peek fresh(database());
    EXPECT_EQ(fresh.text("SELECT COUNT(*) FROM item"), "5") << "no old row in the new file";
    EXPECT_EQ(fresh.text("SELECT COUNT(*) FROM item WHERE note = 'prepared'"), "5");
}

TEST_F(DBManagerProcessTest, AProcessKilledHalfwayThroughTheCopyLeavesTheBackupForTheNextStart) {
    makeUserDatabase(3);
    makeDatabase(bundle_.path() / "App.sqlite", 50, "prepared", 1 << 20);  // about 50 MB
    {
        Worker worker;
        ASSERT_TRUE(attach(worker));
        ASSERT_TRUE(worker.ask("hold-copy", "armed"));
        ASSERT_TRUE(worker.ask("create", "holding"));
        EXPECT_TRUE(killedBySigkill(worker.kill9()));
    }
    EXPECT_FALSE(fs::exists(database())) << "nothing torn at the database path";
    EXPECT_FALSE(temporaryCopies().empty()) << "the kill came mid-copy";
    EXPECT_TRUE(soundDatabase(backup()));
    EXPECT_EQ(rowsNoted(backup(), "user"), 3);

    QNModel::currentModel().reloadUserData();
    const Outcome outcome = create();
    EXPECT_EQ(outcome.result, 1);
    EXPECT_FALSE(outcome.error.has_value());
    EXPECT_TRUE(soundDatabase(database()));
    EXPECT_EQ(rowsNoted(database(), "prepared"), 50);
    EXPECT_EQ(rowsNoted(backup(), "user"), 3) << "the torn copy never became the backup";
    EXPECT_TRUE(temporaryCopies().empty());
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(storedFingerprint(), u"FP1");
}

TEST_F(DBManagerProcessTest, AProcessKilledBetweenCommitAndFingerprintKeepsTheBackup) {
    makeUserDatabase(3);
    {
        Worker worker;
        ASSERT_TRUE(attach(worker));
        ASSERT_TRUE(worker.ask("hold-commit", "armed"));
        ASSERT_TRUE(worker.ask("create", "holding"));
        EXPECT_TRUE(killedBySigkill(worker.kill9()));
    }
    EXPECT_TRUE(soundDatabase(database()));
    EXPECT_TRUE(hasTable(database(), "fresh")) << "the reorganization had committed";
    EXPECT_EQ(rowsNoted(backup(), "user"), 3);

    QNModel::currentModel().reloadUserData();
    EXPECT_EQ(storedFingerprint(), u"OLD");
    const Outcome outcome = create();
    EXPECT_EQ(outcome.result, 2);
    EXPECT_FALSE(outcome.error.has_value());
    EXPECT_TRUE(soundDatabase(database()));
    EXPECT_TRUE(hasTable(database(), "fresh"));
    EXPECT_EQ(rowsNoted(backup(), "user"), 3)
        << "the unfinished database was discarded, not made the backup";
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(storedFingerprint(), u"FP1");
}

}  // namespace
