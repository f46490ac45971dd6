// The sample application in a fresh folder of its own, its database made by
// the reorganization, for the benchmarks that work on it. Benchmarks run
// interleaved and others change the main bundle and the folders, so each
// benchmark makes its application current again (use()).
#pragma once

#include <qn/host.h>
#include <qn/offline.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>

namespace qnbench {

class SampleApplication {
public:
    // A folder under /tmp named from `prefix`; the database is made at once.
    explicit SampleApplication(const char* prefix) {
        std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
        if (!::mkdtemp(pattern.data())) fail("mkdtemp");
        root_ = pattern;
        activate();
        std::promise<int> created;
        qn::QNDBManager::sharedInstance().createDatabaseIfNeededWithCompletionBlock(
            [&created](int result, const std::optional<qn::QNError>&) {
                created.set_value(result);
            });
        if (created.get_future().get() != 2) fail("the sample database was not made");
    }
    ~SampleApplication() {
        std::error_code error;
        std::filesystem::remove_all(root_, error);
    }
    SampleApplication(const SampleApplication&) = delete;
    SampleApplication& operator=(const SampleApplication&) = delete;

    // Makes this application's bundle, folders and database current.
    const SampleApplication& use() const {
        activate();
        return *this;
    }
    std::filesystem::path database() const {
        return qn::toUtf8(qn::QNDBManager::sharedInstance().databasePath());
    }
    // The database opened with raw SQLite as the library opens it (WAL,
    // synchronous FULL, foreign keys), the library's connections closed
    // first. The caller closes it.
    sqlite3* openRaw() const {
        qn::QNDBManager::sharedInstance().disconnect();
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(database().c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK)
            fail("cannot open the sample database");
        sqlite3_busy_timeout(db, 5000);
        if (sqlite3_exec(db,
                         "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; "
                         "PRAGMA foreign_keys=ON;",
                         nullptr, nullptr, nullptr) != SQLITE_OK)
            fail("cannot set the sample database's pragmas");
        return db;
    }

private:
    [[noreturn]] static void fail(const char* what) {
        std::fprintf(stderr, "sample application: %s\n", what);
        std::abort();
    }
    void activate() const {
        qn::QNBundle::setMainBundlePath(QN_SAMPLE_BUNDLE_DIR);
        auto& storage = qn::QNObjectsModelServices::applicationStorageService();
        storage.setApplicationCachesDirectory(root_ / "caches");
        storage.setApplicationSupportDirectory(root_ / "support");
        qn::QNModel::currentModel().reloadUserData();
        qn::QNDBManager::sharedInstance().resetDatabaseConnections();
    }

    std::filesystem::path root_;
};

}  // namespace qnbench
