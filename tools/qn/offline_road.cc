// The demo's offline road: a generated application's offline database from
// its first start to a manual send, on a copy of the sample bundle in fresh
// folders, with the sample's generated reorganization, data-store helper and
// procedure. The host's send service is a stand-in that counts what it is
// asked and finishes at once.

#include <generated/trip_bc.h>
#include <generated/trips_data_store.h>
#include <qn/bc.h>
#include <qn/files/file_system_object.h>
#include <qn/host.h>
#include <qn/offline.h>
#include <qn/runtime.h>

#include <zip.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <iomanip>
#include <optional>
#include <sstream>
#include <string>

#include "commands.h"

namespace qntool {

namespace fs = std::filesystem;
using qn::String;
using qn::toUtf8;
using qn::Value;
using Helper = travelagency::TripsDataStoreHelper;

namespace {

// The host's send service as the demo plays it: always connected, always
// with something pending, each send finished at once.
class DemoSendService : public qn::QNSynchronizationSendService {
public:
    bool isSynchronizationSendEnabled() override { return true; }
    void sendPendingEventsStartedFromUserCodeWithCompletionBlock(bool fromUserCode,
                                                                 Completion completion) override {
        ++(fromUserCode ? manualSends : automaticSends);
        if (completion) completion(std::nullopt);
    }
    void createSendCheckpoint() override {}
    bool shouldSendAutomaticallyWhenConnected() override { return true; }
    bool hasPendingSynchronizationEvents() override { return true; }
    bool hasMinimumTimeBetweenSendsBeenElapsed() override { return true; }
    void scheduledSendAfterMinimumTime() override {}

    std::atomic<int> automaticSends{0};
    std::atomic<int> manualSends{0};
};

const char* describe(int result) {
    switch (result) {
        case 0:
            return " (nothing to do)";
        case 1:
            return " (copied the prepared database)";
        case 2:
            return " (ran the reorganization)";
        case 3:
            return " (another creation is running)";
        default:
            return "";
    }
}

void create(std::ostream& out, const std::string& label) {
    std::promise<std::pair<int, std::string>> done;
    qn::QNDBManager::sharedInstance().createDatabaseIfNeededWithCompletionBlock(
        [&done](int result, const std::optional<qn::QNError>& error) {
            done.set_value({result, error ? toUtf8(error->developerDescription()) : ""});
        });
    auto [result, error] = done.get_future().get();
    out << "   " << label << ": creation result " << result << describe(result)
        << (error.empty() ? "" : ", error: " + error) << "\n";
}

// A fare as the application shows it: N(10.2).
std::string fare(const qn::Decimal& value) {
    String text = qn::QNBuiltins::str(Value(value), 10, 2);
    std::size_t start = text.find_first_not_of(u' ');
    return toUtf8(start == String::npos ? text : text.substr(start));
}

std::int64_t countTrips(qn::QNDataStoreProvider& provider) {
    provider.execute(Helper::T_CountTrips, {}, {}, {});
    provider.readNext(Helper::T_CountTrips);
    const std::int64_t trips =
        provider.getDBCommand(Helper::T_CountTrips)->int64ValueForColumn(u"Trips");
    provider.close(Helper::T_CountTrips);
    return trips;
}

void printTrips(std::ostream& out, qn::QNDataStoreProvider& provider, std::int64_t cursor) {
    for (provider.readNext(cursor); provider.getStatus(cursor) == qn::QN_STATUS_OK;
         provider.readNext(cursor)) {
        auto trip = provider.getDBCommand(cursor);
        out << "     " << trip->int64ValueForColumn(u"TripId") << "  " << std::left << std::setw(30)
            << toUtf8(trip->stringValueForColumn(u"TripDescription")) << std::right << std::setw(8)
            << fare(trip->decimalValueForColumn(u"TripFare")) << "\n";
    }
}

bool writeBlobArchive(const fs::path& file, const std::string& name, const std::string& text) {
    int error = 0;
    zip_t* archive = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) return false;
    zip_source_t* source = zip_source_buffer(archive, text.data(), text.size(), 0);
    if (!source || zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
        zip_source_free(source);
        zip_discard(archive);
        return false;
    }
    return zip_close(archive) == 0;
}

std::string quoted(const String& s) {
    return "\"" + toUtf8(s) + "\"";
}

// A copy of the sample bundle in fresh folders while in scope (the roads add
// files to the copy only), then the demo's own bundle and folders again.
class RoadScope {
public:
    explicit RoadScope(const std::string& name)
        : originalBundle_(qn::QNBundle::mainBundle()->bundlePath()),
          originalCaches_(storage().applicationCachesDirectory()),
          originalSupport_(storage().applicationSupportDirectory()),
          root_(storage().temporaryDirectory() / name) {
        std::error_code error;
        fs::remove_all(root_, error);
        fs::create_directories(root_, error);
        fs::copy(originalBundle_, root_ / "bundle", fs::copy_options::recursive, error);
        qn::QNBundle::setMainBundlePath(root_ / "bundle");
        storage().setApplicationCachesDirectory(root_ / "caches");
        storage().setApplicationSupportDirectory(root_ / "support");
        qn::QNModel::currentModel().reloadUserData();
        qn::QNDBManager::sharedInstance().resetDatabaseConnections();
    }
    ~RoadScope() {
        auto& manager = qn::QNDBManager::sharedInstance();
        manager.disconnect();
        qn::QNBundle::setMainBundlePath(originalBundle_);
        storage().setApplicationCachesDirectory(originalCaches_);
        storage().setApplicationSupportDirectory(originalSupport_);
        qn::QNModel::currentModel().reloadUserData();
        manager.resetDatabaseConnections();
    }
    RoadScope(const RoadScope&) = delete;
    RoadScope& operator=(const RoadScope&) = delete;
    const fs::path& root() const noexcept { return root_; }

private:
    static qn::QNApplicationStorageService& storage() {
        return qn::QNObjectsModelServices::applicationStorageService();
    }
    fs::path originalBundle_;
    fs::path originalCaches_;
    fs::path originalSupport_;
    fs::path root_;
};

}  // namespace

void showOfflineRoad(std::ostream& out) {
    auto& manager = qn::QNDBManager::sharedInstance();
    const RoadScope scope("offline-road");
    const fs::path& root = scope.root();
    std::error_code error;
    auto sendService = std::make_shared<DemoSendService>();
    qn::QNDataLayerServices::setSynchronizationSendService(sendService);

    // 1. The database is made by the generated reorganization on first start.
    create(out, "start 1");
    create(out, "start 2");

    // 2. A prepared database in the bundle (the same tables and one trip
    // more) with its blob archive: a forced creation copies it in.
    qn::QNDataStoreProvider provider(std::make_shared<Helper>(), {{}});
    provider.execute(Helper::T_InsertTrip,
                     {Value(5), Value(2), Value(u"Prepared: Lisbon - Porto"), Value(u"2027-03-01"),
                      Value(qn::Decimal::fromString("75.00"))},
                     {false, false, false, false, false}, {});
    provider.close(Helper::T_InsertTrip);
    manager.commit();
    manager.disconnect();
    fs::copy_file(toUtf8(manager.databasePath()), root / "bundle" / "TravelAgency.sqlite",
                  fs::copy_options::overwrite_existing, error);
    writeBlobArchive(root / "bundle" / "QNBlobData.zip", "trips/lisbon.txt",
                     "Boarding pass, Lisbon - Rio de Janeiro");
    // The live database goes back to the reorganization's four trips.
    qn::QNDBManager::executeInDatastoreCommandString(u"DEFAULT",
                                                     u"DELETE FROM Trip WHERE TripId = 5");
    manager.commit();
    manager.setNeedsCreateDatabase();
    create(out, "prepared database");
    {
        qn::QNDataStoreProvider counter(std::make_shared<Helper>(), {{}});
        out << "   trips now: " << countTrips(counter) << "; the previous database is "
            << fs::path(toUtf8(manager.backupDatabasePath())).filename().string() << " ("
            << (fs::exists(toUtf8(manager.backupDatabasePath())) ? "present" : "missing") << ")\n";
    }
    const String blob =
        qn::QNFileSystemObject::absoluteFilePathForRelativePath(u"qnblobdata://trips/lisbon.txt");
    std::ifstream blobFile(toUtf8(blob));
    std::string blobText;
    std::getline(blobFile, blobText);
    out << "   blob qnblobdata://trips/lisbon.txt: \"" << blobText << "\"\n";

    // 3. A cursor whose comparison is chosen at run time: only listed
    // operators reach SQLite, the value is always a bound parameter.
    provider.execute(Helper::T_TripsByFare, {Value(qn::Decimal::fromString("900"))}, {false},
                     {{u"fareop", u">="}});
    out << "   T_TripsByFare with fareop \">=\" and 900:\n     statement: "
        << toUtf8(provider.getDBCommand(Helper::T_TripsByFare)->statement()) << "\n";
    printTrips(out, provider, Helper::T_TripsByFare);
    provider.close(Helper::T_TripsByFare);
    qn::QNThreadErrorHandler::errorHandler().clear();
    provider.execute(Helper::T_TripsByFare, {Value(900)}, {false}, {{u"fareop", u"!= 0 OR 1 ="}});
    out << "   fareop \"!= 0 OR 1 =\" is refused: status "
        << provider.getStatus(Helper::T_TripsByFare) << "\n";
    qn::QNThreadErrorHandler::errorHandler().clear();

    // 4. A dynamic cursor: the conditions in use decide the text and which
    // parameters are bound.
    provider.dynParam(Helper::T_TripsDynamic, {{Value(1), Value(qn::Decimal::fromString("500"))}});
    provider.execute(Helper::T_TripsDynamic, {Value(1), Value(qn::Decimal::fromString("500"))},
                     {false, false}, {});
    out << "   T_TripsDynamic for customer 1 from 500:\n     statement: "
        << toUtf8(provider.getDBCommand(Helper::T_TripsDynamic)->statement()) << "\n";
    printTrips(out, provider, Helper::T_TripsDynamic);
    provider.close(Helper::T_TripsDynamic);

    // 5. A duplicate key: the status bit generated code tests, and the
    // database's code on the thread's error list.
    provider.execute(Helper::T_InsertCustomer,
                     {Value(1), Value(u"Ana again"), Value(u"ana@example.com")},
                     {false, false, false}, {});
    const std::int64_t duplicate = provider.getStatus(Helper::T_InsertCustomer);
    provider.close(Helper::T_InsertCustomer);
    const qn::QNError* last = qn::QNThreadErrorHandler::errorHandler().lastError();
    out << "   customer 1 again: status " << duplicate
        << ((duplicate & qn::QN_MASKDUPKEY) ? " (duplicate key)" : "") << ", thread error "
        << (last ? last->code() : 0) << " (" << (last ? toUtf8(last->developerDescription()) : "")
        << ")\n";
    qn::QNThreadErrorHandler::errorHandler().clear();
    manager.rollback();

    // 6. Rollback and commit: a blob file written by work that is rolled
    // back goes with it.
    const std::int64_t before = countTrips(provider);
    const fs::path receipt =
        fs::path(toUtf8(qn::QNFileSystemObject::blobDataPath())) / "receipt-10.txt";
    std::ofstream(receipt) << "receipt";
    provider.execute(Helper::T_InsertTrip,
                     {Value(10), Value(1), Value(u"Buenos Aires - Lisbon"), Value(u"2027-01-20"),
                      Value(qn::Decimal::fromString("1180.00"))},
                     {false, false, false, false, false}, {});
    provider.close(Helper::T_InsertTrip);
    provider.addInsertedBlobURLAbsoluteString(qn::fromUtf8(receipt.string()));
    manager.rollback();
    const std::int64_t afterRollback = countTrips(provider);
    provider.execute(Helper::T_InsertTrip,
                     {Value(11), Value(2), Value(u"Paris - Madrid"), Value(u"2027-02-20"),
                      Value(qn::Decimal::fromString("139.90"))},
                     {false, false, false, false, false}, {});
    provider.close(Helper::T_InsertTrip);
    manager.commit();
    out << "   trips " << before << ", after an insert rolled back " << afterRollback
        << " (its blob file " << (fs::exists(receipt) ? "still there" : "removed")
        << "), after an insert committed " << countTrips(provider) << "\n";

    // 7. The sample procedure by name, by dynamic call and in the background.
    const qn::ClassInfo* totals =
        qn::QNProcedureHelper::qnOfflineProcedureClassForProcedureName(u"PrcTripTotals");
    auto answer =
        qn::QNProcedureHelper::executeOfflineProcedureWithParameters(totals, {Value(1), Value()});
    out << "   PrcTripTotals(1, _) by name: Total = " << fare(answer[1].decimalValue()) << "\n";
    auto dynamic = qn::QNOfflineDynamicCallHelper::dynamicExecute(u"prc:PrcTripTotals",
                                                                  {Value(2), Value(qn::Decimal())});
    out << "   dynamic call \"prc:PrcTripTotals\" (2, _): Total = "
        << fare(dynamic[1].decimalValue()) << "\n";
    const int nudgesBefore = sendService->automaticSends.load();
    if (totals) {
        auto procedure = std::dynamic_pointer_cast<qn::QNProcedure>(totals->create());
        procedure->executeSubmit({Value(1), Value()});
        qn::QNProcedure::waitForSubmittedProcedures();
    }
    out << "   executeSubmit: ended its transaction and nudged the send service "
        << sendService->automaticSends.load() - nudgesBefore << " time(s)\n";

    // 8. The offline session.
    auto& session = qn::QNOfflineSession::sharedInstance();
    session.setValue(u"customer", u"1");
    session.setValue(u"trip.last", u"11");
    session.setValue(u"trip", u"booking");
    session.removeObjectsWithPrefixKey(u"trip");
    out << "   session: customer = " << quoted(session.getValue(u"customer"))
        << ", missing = " << quoted(session.getValue(u"missing"))
        << ", trip.last after removing prefix \"trip\" = " << quoted(session.getValue(u"trip.last"))
        << "\n";
    session.clear();

    // 9. A manual send waits for committed work.
    provider.execute(Helper::T_InsertTrip,
                     {Value(12), Value(1), Value(u"Lisbon - Faro"), Value(u"2027-04-02"),
                      Value(qn::Decimal::fromString("49.90"))},
                     {false, false, false, false, false}, {});
    provider.close(Helper::T_InsertTrip);
    const std::int64_t withOpenWork = qn::QNSynchronization::send();
    manager.commit();
    const std::int64_t afterCommit = qn::QNSynchronization::send();
    out << "   send with a transaction open: " << withOpenWork << "; after commit: " << afterCommit
        << " (manual sends made: " << sendService->manualSends.load() << ")\n";

    qn::QNDataLayerServices::setSynchronizationSendService(nullptr);
}

void showOnlineRoad(std::ostream& out) {
    const RoadScope scope("online-road");
    std::promise<int> created;
    qn::QNDBManager::sharedInstance().createDatabaseIfNeededWithCompletionBlock(
        [&created](int result, const std::optional<qn::QNError>&) { created.set_value(result); });
    out << "   database made by the reorganization (result " << created.get_future().get() << ")\n";
    auto& notifications = qn::QNNotificationCenter::defaultCenter();
    const auto observer = notifications.addObserverForName(
        String(qn::QNSdtBusinessComponent::kDidSaveNotification),
        [&out](const qn::QNNotification& note) {
            const Value mode = note.userInfo ? note.userInfo->get(u"qnmode") : Value();
            out << "     (save notification, mode " << toUtf8(mode.asString()) << ")\n";
        });

    // 1. A trip loaded by key, changed and saved through its transaction.
    auto trip = std::dynamic_pointer_cast<travelagency::SdtTrip>(
        qn::QNSdtBusinessComponent::createWithBCName(u"Trip"));
    if (!trip) {
        out << "   the business component Trip has no record class\n";
        notifications.removeObserver(observer);
        return;
    }
    trip->loadKey({Value(2)});
    out << "   loaded trip 2 (" << toUtf8(trip->bcName())
        << "): " << toUtf8(trip->tripDescription()) << ", fare " << fare(trip->tripFare())
        << ", mode " << toUtf8(trip->getMode()) << "\n";
    trip->setTripFare(qn::Decimal::fromString("1010.00"));
    trip->setTripDescription(u"Rio de Janeiro - Montevideo (window seat)");
    out << "   changed the fare from "
        << fare(trip->bcOldValueForFieldName(u"TripFare").decimalValue()) << " to "
        << fare(trip->tripFare()) << "; saving:\n";
    trip->save();
    out << "   saved: " << (trip->success() ? "success" : "failure") << "\n";
    {
        // What the file says, through a connection of its own.
        auto check = qn::QNDBConnection::createConnectionOfTypeWithIdentifierConnectionString(
            0, u"check", qn::QNDBManager::sharedInstance().databasePath());
        auto row = check->commandWithSQLStatement(
            u"SELECT TripDescription, TripFare FROM Trip WHERE TripId = 2");
        row->execute();
        row->fetch();
        out << "   the database file now says: "
            << toUtf8(row->stringValueForColumn(u"TripDescription")) << ", "
            << fare(row->decimalValueForColumn(u"TripFare")) << "\n";
        row->close();
        check->disconnect();
    }

    // 2. A duplicate insert: the transaction's messages and the database's
    // code 19, which insertOrUpdate clears before it updates instead.
    auto again = std::dynamic_pointer_cast<travelagency::SdtTrip>(
        qn::QNSdtBusinessComponent::createWithBCName(u"Trip"));
    again->loadDefaultValues();
    again->setTripId(1);
    again->setCustomerId(1);
    again->setTripDescription(u"Lisbon - Rio de Janeiro (rebooked)");
    again->setTripFare(qn::Decimal::fromString("1299.00"));
    qn::QNThreadErrorHandler::errorHandler().clear();
    const bool inserted = again->insert();
    auto errorCodes = [] {
        std::string codes;
        for (const auto& e : qn::QNThreadErrorHandler::errorHandler().errors())
            codes += (codes.empty() ? "" : ",") + std::to_string(e.code());
        return codes.empty() ? std::string("none") : codes;
    };
    out << "   inserting trip 1 again: " << (inserted ? "inserted" : "refused") << ", messages:";
    for (const Value& item : again->getMessages()->items()) {
        auto* message = dynamic_cast<qn::QNSdtBusinessComponent*>(item.asObject().get());
        out << " [" << toUtf8(message->getvalue(u"Id")) << ", type "
            << toUtf8(message->getvalue(u"Type")) << ": "
            << toUtf8(message->getvalue(u"Description")) << "]";
    }
    out << ", thread errors " << errorCodes() << "\n";
    qn::QNThreadErrorHandler::errorHandler().clear();
    const bool upserted = again->insertOrUpdate();
    out << "   insertOrUpdate: " << (upserted ? "true" : "false")
        << ", thread errors left: " << errorCodes() << "\n";

    // 3. The synchronization message, its photo queued for upload.
    const fs::path photo =
        fs::path(toUtf8(qn::QNFileSystemObject::blobDataPath())) / "trips" / "trip-2.jpg";
    fs::create_directories(photo.parent_path());
    std::ofstream(photo) << "jpeg bytes";
    trip->setTripPhoto(u"qnblobdata://trips/trip-2.jpg");
    std::vector<String> files;
    const String message = trip->generateSynchronizationSendMessage(files, u"<file:%d>");
    out << "   synchronization message: " << toUtf8(message) << "\n   files to send:";
    for (const String& file : files)
        out << " " << toUtf8(file).substr(0, 9) << "<uuid>.jpg";
    out << "\n";
    for (const String& file : files)
        fs::remove(toUtf8(qn::QNFileSystemObject::absoluteFilePathForRelativePath(file)));

    // 4. A grid: rows read from the database (UPD), one changed, one new
    // (marked INS when appended), saved in one bulk operation.
    auto grid = qn::QnSilentTrnGridCollection::initWithTypeName(u"Trip");
    for (std::int64_t id : {3, 4}) {
        auto row = std::dynamic_pointer_cast<travelagency::SdtTrip>(
            qn::QNSdtBusinessComponent::createWithBCName(u"Trip"));
        row->loadKey({Value(id)});
        grid->addItem(Value(row));
    }
    auto third = std::dynamic_pointer_cast<travelagency::SdtTrip>(grid->getByKey({Value(3)}));
    third->setTripFare(qn::Decimal::fromString("295.00"));
    auto added = std::make_shared<travelagency::SdtTrip>();
    added->setTripId(20);
    added->setCustomerId(2);
    added->setTripDescription(u"Porto - Lisbon");
    added->setTripFare(qn::Decimal::fromString("39.90"));
    grid->addItem(Value(added));
    out << "   grid rows: ";
    for (const Value& item : grid->items()) {
        auto* row = dynamic_cast<travelagency::SdtTrip*>(item.asObject().get());
        out << row->tripId() << " " << toUtf8(row->getMode()) << "  ";
    }
    out << "\n   saving the grid:\n";
    const bool bulk = grid->insertOrUpdate();
    qn::QNThreadErrorHandler::errorHandler().clear();
    qn::QNDataStoreProvider counter(std::make_shared<Helper>(), {{}});
    out << "   grid saved: " << (bulk ? "true" : "false") << "; trips now " << countTrips(counter)
        << "\n";
    notifications.removeObserver(observer);
}

}  // namespace qntool
