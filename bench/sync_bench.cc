// The reference synchronization services beside the raw calls they wrap,
// against the reference server on 127.0.0.1.
//
// A send of 1,000 pending events (no files) through the send service: read
// from the log in batches of 100, each batch one multipart body posted
// through the shared URL session, the acknowledged events deleted. Beside
// it, the same ten bodies (the same events JSON, fresh ids as well) posted
// with libcurl's easy interface on one kept-alive handle. The server stores
// every event in both, so both are measured in wall time: its work and the
// session's transfer thread are part of what a send costs.
//
// A receive of 100,000 Trip rows (GET, parse, check, INSERT OR REPLACE in
// one transaction, the token stored) beside a raw prepared INSERT OR REPLACE
// of the same rows in one transaction on the same database file, with the
// pragmas the library opens it with. CPU time of the calling thread: the
// server's reading and writing of its change file is not the library's.
#include <generated/trip_bc.h>
#include <qn/core/containers.h>
#include <qn/core/json.h>
#include <qn/core/uuid.h>
#include <qn/host.h>
#include <qn/offline.h>
#include <qn/sync.h>
#include <reference_server.h>

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "sample_application.h"

namespace {

namespace fs = std::filesystem;

constexpr int kEvents = 1000;
constexpr int kEventsPerPost = static_cast<int>(qn::QNReferenceSendService::kEventsPerRequest);
constexpr int kRows = 100000;

[[noreturn]] void setupFailed(const std::string& what) {
    std::fprintf(stderr, "sync_bench: %s\n", what.c_str());
    std::abort();
}

fs::path freshFolder(const char* prefix) {
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) setupFailed("mkdtemp");
    return pattern;
}

// The sample application in a folder of this file's own benchmarks.
const qnbench::SampleApplication& sampleApplication() {
    static const qnbench::SampleApplication app("qn-sync-bench");
    return app.use();
}

// A reference server in a folder of its own for the whole process.
class Server {
public:
    explicit Server(const char* prefix) : folder_(freshFolder(prefix)), server_(folder_) {
        if (server_.start() <= 0) setupFailed("the reference server cannot listen");
    }
    ~Server() {
        server_.stop();
        std::error_code error;
        fs::remove_all(folder_, error);
    }
    qnsync::ReferenceServer& operator*() { return server_; }
    qnsync::ReferenceServer* operator->() { return &server_; }
    // Stored events go between runs: every run stores into an empty folder.
    void forgetEvents() {
        std::error_code error;
        fs::remove_all(server_.directory() / "events", error);
    }

private:
    fs::path folder_;
    qnsync::ReferenceServer server_;
};

Server& sendServer() {
    static Server server("qn-sync-bench-send");
    return server;
}

Server& receiveServer() {
    static Server server("qn-sync-bench-receive");
    return server;
}

// Installs the services for the run and removes them at its end, so the
// change log never outlives it into the other benchmarks' saves.
class Installed {
public:
    explicit Installed(const std::string& baseURL) {
        if (!qn::QNReferenceSynchronization::install(qn::fromUtf8(baseURL)))
            setupFailed("the synchronization services cannot be installed");
    }
    ~Installed() { qn::QNReferenceSynchronization::uninstall(); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
};

qn::Ref<qn::QNDBConnection> connection() {
    auto db = qn::QNDBManager::sharedInstance().connectionForDatastore(u"DEFAULT");
    if (!db) setupFailed("no connection");
    return db;
}

std::shared_ptr<travelagency::SdtTrip> loadedTrip() {
    auto trip = std::make_shared<travelagency::SdtTrip>();
    trip->loadKey({qn::Value(1)});
    if (trip->fail()) setupFailed("trip 1 cannot be loaded");
    return trip;
}

// --- Send -----------------------------------------------------------------------------------

void BM_ReferenceSend1000Events(benchmark::State& state) {
    sampleApplication();
    Server& server = sendServer();
    const Installed installed(server->baseURL());
    auto log = std::dynamic_pointer_cast<qn::QNPendingEventLog>(
        qn::QNBusinessComponentChangeLog::installed());
    auto& service = dynamic_cast<qn::QNReferenceSendService&>(
        *qn::QNDataLayerServices::synchronizationSendService());
    if (!log) setupFailed("no pending-event log");
    const auto trip = loadedTrip();
    auto db = connection();
    for (auto _ : state) {
        state.PauseTiming();
        server.forgetEvents();
        // The events a thousand updates of the trip would write, in one
        // transaction; each gets a fresh id.
        for (int i = 0; i < kEvents; ++i)
            log->recordChange(*trip, u"UPD");
        db->commit();
        if (log->pendingEventCount() != kEvents) setupFailed("the events were not written");
        state.ResumeTiming();
        // Returns no error only once the log is empty.
        if (const auto error = service.sendNow(true)) {
            state.SkipWithError("the send failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_ReferenceSend1000Events)->Unit(benchmark::kMillisecond)->UseRealTime();

// The body the service posts for one batch: the events as JSON in the part
// "events", no file parts.
struct Post {
    std::string contentType;
    std::string body;
};

Post multipartPost(const std::string& events) {
    const std::string boundary = "qnsync-" + qn::QNUUID::createUUID().uuidStdString();
    Post post;
    post.contentType = "Content-Type: multipart/form-data; boundary=" + boundary;
    post.body = "--" + boundary +
                "\r\nContent-Disposition: form-data; name=\"events\"\r\n"
                "Content-Type: application/json\r\n\r\n" +
                events + "\r\n--" + boundary + "--\r\n";
    return post;
}

std::size_t collect(char* data, std::size_t size, std::size_t count, void* into) {
    static_cast<std::string*>(into)->append(data, size * count);
    return size * count;
}

void BM_RawCurlPost1000Events(benchmark::State& state) {
    sampleApplication();
    Server& server = sendServer();
    // The message the log writes for the trip, as the events carry it.
    std::vector<qn::String> files;
    const std::string message = qn::toUtf8(loadedTrip()->generateSynchronizationSendMessage(
        files, qn::QNPendingEventLog::kPlaceholderFormat));
    const auto parsedMessage = qn::QNJSON::parse(message);
    if (!parsedMessage || !files.empty()) setupFailed("unexpected synchronization message");

    CURL* curl = curl_easy_init();
    if (!curl) setupFailed("curl_easy_init");
    const std::string url = server->baseURL() + "events";
    std::string answer;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
    std::vector<Post> posts;
    for (auto _ : state) {
        state.PauseTiming();
        server.forgetEvents();
        // The same events JSON the service writes, with fresh ids.
        posts.clear();
        for (int first = 0; first < kEvents; first += kEventsPerPost) {
            auto list = qn::makeRef<qn::Array>();
            for (int i = first; i < first + kEventsPerPost; ++i) {
                auto entry = qn::makeRef<qn::Dictionary>();
                entry->set(u"id", qn::Value(qn::QNUUID::createUUID().uuidString()));
                entry->set(u"bc", qn::Value(qn::String(u"Trip")));
                entry->set(u"mode", qn::Value(qn::String(u"UPD")));
                entry->set(u"message", *parsedMessage);
                entry->set(u"files", qn::Value(qn::makeRef<qn::Array>()));
                list->append(qn::Value(entry));
            }
            const auto json = qn::QNJSON::generateUtf8(qn::Value(list));
            if (!json) setupFailed("events JSON");
            posts.push_back(multipartPost(*json));
        }
        state.ResumeTiming();
        for (const Post& post : posts) {
            curl_slist* headers = curl_slist_append(nullptr, post.contentType.c_str());
            curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, post.body.data());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(post.body.size()));
            answer.clear();
            const CURLcode result = curl_easy_perform(curl);
            long status = 0;
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
            curl_slist_free_all(headers);
            if (result != CURLE_OK || status != 200) {
                state.SkipWithError("the post failed");
                break;
            }
            benchmark::DoNotOptimize(answer.data());
        }
    }
    curl_easy_cleanup(curl);
    state.SetItemsProcessed(state.iterations() * kEvents);
}
BENCHMARK(BM_RawCurlPost1000Events)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Receive --------------------------------------------------------------------------------

struct TripRow {
    std::int64_t id;
    std::int64_t customer;
    std::string description;
    std::string date;
    std::int64_t cents;
};

// The fare as the change set writes it, exactly.
std::string fareText(std::int64_t cents) {
    const std::string digits = std::to_string(cents % 100 + 100);
    return std::to_string(cents / 100) + "." + digits.substr(1);
}

const std::vector<TripRow>& tripRows() {
    static const std::vector<TripRow> rows = [] {
        std::vector<TripRow> made;
        made.reserve(kRows);
        for (int i = 0; i < kRows; ++i) {
            const int cents = 10000 + (i * 7919) % 500000;
            made.push_back({i + 1, i % 2 + 1, "Trip " + std::to_string(i + 1) + " - Lisbon to Rio",
                            "2027-0" + std::to_string(i % 9 + 1) + "-1" + std::to_string(i % 10),
                            cents});
        }
        return made;
    }();
    return rows;
}

// The server's change file holds the rows once, as one change set.
Server& receiveServerWithRows() {
    static Server& server = []() -> Server& {
        Server& s = receiveServer();
        std::string tables =
            R"([{"name":"Trip","columns":["TripId","CustomerId","TripDescription","TripDate",)"
            R"("TripFare","TripPhoto"],"rows":[)";
        for (const TripRow& row : tripRows()) {
            if (row.id > 1) tables += ',';
            tables += "[" + std::to_string(row.id) + "," + std::to_string(row.customer) + ",\"" +
                      row.description + "\",\"" + row.date + "\"," + fareText(row.cents) + ",\"\"]";
        }
        tables += "]}]";
        const auto parsed = qn::QNJSON::parse(tables);
        if (!parsed || !s->addChange(*parsed)) setupFailed("the change set cannot be written");
        return s;
    }();
    return server;
}

// An empty Trip table, committed.
void emptyTrips(qn::QNDBConnection& db) {
    auto remove = db.commandWithSQLStatement(u"DELETE FROM Trip");
    const std::uint32_t status = remove->execute();
    remove->close();
    if (status != qn::QN_STATUS_OK && status != qn::QN_STATUS_NO_ROWS)
        setupFailed("the trips cannot be removed");
    db.commit();
}

void BM_ReferenceReceive100000Rows(benchmark::State& state) {
    sampleApplication();
    Server& server = receiveServerWithRows();
    const Installed installed(server->baseURL());
    auto& service = dynamic_cast<qn::QNReferenceReceiveService&>(
        *qn::QNDataLayerServices::synchronizationReceiveService());
    const qn::String tokenKey(qn::QNReferenceReceiveService::kTokenKey);
    for (auto _ : state) {
        state.PauseTiming();
        // Unknown token: the whole change set comes again, into no rows.
        qn::QNModel::currentModel().setUserDataForKey(qn::Value(), tokenKey);
        emptyTrips(*connection());
        state.ResumeTiming();
        if (service.receiveNow() != qn::QNReferenceReceiveService::kDone) {
            state.SkipWithError("the receive failed");
            break;
        }
    }
    // Past the loop, untimed.
    auto count = connection()->commandWithSQLStatement(u"SELECT COUNT(*) FROM Trip");
    if (count->executeScalar().integerValue() != kRows) state.SkipWithError("rows missing");
    count->close();
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_ReferenceReceive100000Rows)->Unit(benchmark::kMillisecond);

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        setupFailed(std::string(sql) + ": " + sqlite3_errmsg(db));
}

void BM_RawSqliteInsert100000Rows(benchmark::State& state) {
    const auto& rows = tripRows();
    sqlite3* db = sampleApplication().openRaw();
    sqlite3_stmt* insert = nullptr;
    if (sqlite3_prepare_v2(db,
                           "INSERT OR REPLACE INTO Trip (TripId, CustomerId, TripDescription, "
                           "TripDate, TripFare, TripPhoto) VALUES (?, ?, ?, ?, ?, ?)",
                           -1, &insert, nullptr) != SQLITE_OK)
        setupFailed("prepare");
    for (auto _ : state) {
        state.PauseTiming();
        exec(db, "DELETE FROM Trip");
        state.ResumeTiming();
        exec(db, "BEGIN IMMEDIATE");
        for (const TripRow& row : rows) {
            sqlite3_bind_int64(insert, 1, row.id);
            sqlite3_bind_int64(insert, 2, row.customer);
            sqlite3_bind_text(insert, 3, row.description.data(),
                              static_cast<int>(row.description.size()), SQLITE_STATIC);
            sqlite3_bind_text(insert, 4, row.date.data(), static_cast<int>(row.date.size()),
                              SQLITE_STATIC);
            // A two-place decimal goes in as the double the column's
            // affinity makes of it anyway (and the library binds).
            sqlite3_bind_double(insert, 5, static_cast<double>(row.cents) / 100.0);
            sqlite3_bind_text(insert, 6, "", 0, SQLITE_STATIC);
            if (sqlite3_step(insert) != SQLITE_DONE) {
                state.SkipWithError("insert failed");
                break;
            }
            sqlite3_reset(insert);
        }
        exec(db, "COMMIT");
    }
    sqlite3_finalize(insert);
    sqlite3_close_v2(db);
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_RawSqliteInsert100000Rows)->Unit(benchmark::kMillisecond);

}  // namespace
