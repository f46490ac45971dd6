// The database manager and offline procedures beside what they wrap.
//
// connectionForDatastore with no creation running is the gate's one atomic
// load plus the copy of the connection's reference: beside copying a
// std::shared_ptr out of a global.
//
// Installing a 50 MB prepared database (copy to a temporary file, fsync,
// quick_check, rename) beside what `cp` does (std::filesystem::copy_file,
// in-kernel copy_file_range), and beside `cp` followed by fsync, which is
// what a copy that must survive a power cut costs at least.
//
// A procedure run by name (class found by its name, operation found by its
// selector, arguments in a list, the out-argument written back) beside the
// same C++ call made directly.
#include <qn/core/decimal.h>
#include <qn/core/registry.h>
#include <qn/host/bundle.h>
#include <qn/host/environment.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>
#include <qn/offline/procedure.h>
#include <qn/value.h>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

[[noreturn]] void setupFailed(const std::string& what) {
    std::fprintf(stderr, "db_manager_bench: %s\n", what.c_str());
    std::abort();
}

// A fresh folder holding an offline application's bundle and caches, made
// current for the run and removed at its end.
class Application {
public:
    Application() {
        char pattern[] = "/tmp/qn-dbm-bench-XXXXXX";
        if (!::mkdtemp(pattern)) setupFailed("mkdtemp");
        root_ = pattern;
        fs::create_directories(root_ / "bundle");
        std::ofstream(root_ / "bundle" / "model.json")
            << R"({"appName": "Bench", "connectivitySupport": 1})";
    }
    // Made current again by every benchmark: others (run interleaved with
    // these) change the main bundle and the folders.
    void activate() const {
        if (qn::QNBundle::mainBundle()->bundlePath() == root_ / "bundle") return;
        qn::QNBundle::setMainBundlePath(root_ / "bundle");
        auto& storage = qn::QNObjectsModelServices::applicationStorageService();
        storage.setApplicationCachesDirectory(root_ / "caches");
        storage.setApplicationSupportDirectory(root_ / "support");
        qn::QNDBManager::sharedInstance().resetDatabaseConnections();
    }
    ~Application() {
        qn::QNDBManager::sharedInstance().disconnect();
        std::error_code error;
        fs::remove_all(root_, error);
    }
    const fs::path& root() const noexcept { return root_; }

private:
    fs::path root_;
};

Application& application() {
    static Application app;
    app.activate();
    return app;
}

// --- connectionForDatastore ---

void BM_ConnectionForDatastore(benchmark::State& state) {
    application();
    auto& manager = qn::QNDBManager::sharedInstance();
    if (!manager.connectionForDatastore(u"DEFAULT")) setupFailed("no connection");
    for (auto _ : state) {
        auto connection = manager.connectionForDatastore(u"DEFAULT");
        benchmark::DoNotOptimize(connection.get());
    }
}
BENCHMARK(BM_ConnectionForDatastore);

std::shared_ptr<qn::Object> gHeld = std::make_shared<qn::Object>();

void BM_ConnectionForDatastore_RawSharedPtrCopy(benchmark::State& state) {
    for (auto _ : state) {
        std::shared_ptr<qn::Object> copy = gHeld;
        benchmark::DoNotOptimize(copy.get());
    }
}
BENCHMARK(BM_ConnectionForDatastore_RawSharedPtrCopy);

// --- Installing a prepared database ---

constexpr int kPreparedRows = 50;
constexpr int kRowBytes = 1 << 20;

const fs::path& preparedDatabase() {
    static const fs::path file = [] {
        fs::path path = application().root() / "Prepared.sqlite";
        sqlite3* db = nullptr;
        if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) setupFailed("open prepared");
        std::string sql = "CREATE TABLE item (id INTEGER PRIMARY KEY, payload BLOB); BEGIN;";
        for (int i = 1; i <= kPreparedRows; ++i)
            sql += "INSERT INTO item VALUES (" + std::to_string(i) + ", randomblob(" +
                   std::to_string(kRowBytes) + "));";
        sql += "COMMIT;";
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            setupFailed("fill prepared");
        sqlite3_close(db);
        return path;
    }();
    return file;
}

void BM_CopyPreparedDatabase50MB(benchmark::State& state) {
    const fs::path& source = preparedDatabase();
    application();
    auto& manager = qn::QNDBManager::sharedInstance();
    const qn::String file = qn::fromUtf8(source.string());
    for (auto _ : state)
        if (!manager.copyDatabaseFromFileBlobsZipPath(file, std::nullopt))
            setupFailed("copy failed");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(source)));
}
BENCHMARK(BM_CopyPreparedDatabase50MB)->Unit(benchmark::kMillisecond)->UseRealTime();

void copyLikeCp(const fs::path& source, const fs::path& target, bool sync) {
    std::error_code error;
    fs::copy_file(source, target, fs::copy_options::overwrite_existing, error);
    if (error) setupFailed("copy_file: " + error.message());
    if (!sync) return;
    const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) setupFailed("fsync");
    ::close(fd);
}

void BM_CopyPreparedDatabase50MB_RawCp(benchmark::State& state) {
    const fs::path& source = preparedDatabase();
    const fs::path target = application().root() / "cp-target.sqlite";
    for (auto _ : state)
        copyLikeCp(source, target, false);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(source)));
}
BENCHMARK(BM_CopyPreparedDatabase50MB_RawCp)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CopyPreparedDatabase50MB_RawCpFsync(benchmark::State& state) {
    const fs::path& source = preparedDatabase();
    const fs::path target = application().root() / "cp-target.sqlite";
    for (auto _ : state)
        copyLikeCp(source, target, true);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(source)));
}
BENCHMARK(BM_CopyPreparedDatabase50MB_RawCpFsync)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- A procedure by name ---

class BenchTotals : public qn::QNProcedure {
    QN_OBJECT(BenchTotals)
public:
    qn::Value executeFlexibleClient(std::int64_t count, qn::Decimal& total) {
        total = qn::Decimal(count) + qn::Decimal(1);
        return qn::Value(count > 0);
    }
};

}  // namespace

QN_REGISTER_CLASS_AS(BenchTotals, "benchtotals", "QNProcedure", [](qn::ClassDefinition& c) {
    c.method("executeFlexibleClient::", 2, {1}, [](qn::Object* self, std::vector<qn::Value>& args) {
        qn::Decimal total = args[1].decimalValue();
        qn::Value result =
            static_cast<BenchTotals*>(self)->executeFlexibleClient(args[0].integerValue(), total);
        args[1] = qn::Value(total);
        return result;
    });
})

namespace {

void BM_ProcedureByName(benchmark::State& state) {
    std::int64_t n = 0;
    for (auto _ : state) {
        const qn::ClassInfo* procedure =
            qn::QNProcedureHelper::qnOfflineProcedureClassForProcedureName(u"BenchTotals");
        auto answer = qn::QNProcedureHelper::executeOfflineProcedureWithParameters(
            procedure, {qn::Value(++n), qn::Value()});
        benchmark::DoNotOptimize(answer.data());
    }
}
BENCHMARK(BM_ProcedureByName);

void BM_ProcedureByName_RawDirectCall(benchmark::State& state) {
    std::int64_t n = 0;
    for (auto _ : state) {
        BenchTotals procedure;
        qn::Decimal total;
        qn::Value result = procedure.executeFlexibleClient(++n, total);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_ProcedureByName_RawDirectCall);

}  // namespace
