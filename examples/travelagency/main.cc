// TravelAgency: the sample application as its host runs it. The generated
// classes (examples/generated: the reorganization, a data-store helper with
// its cursors, the procedure PrcTripTotals and the business component
// CustomerProfile)
// do the work; this file is what an application around them provides: where
// the bundle and the data live, the synchronization services, start-up and
// an orderly end.
//
//   travelagency --bundle DIR --data DIR [--server URL] [--photo FILE]
//                [--language NAME]
//
// On start it creates its database (or finds it), lists the customer's trips
// through a cursor and the procedure, saves the customer through the
// business component CustomerProfile with a photo attached, sends the pending events to
// the synchronization server and receives its changes. The exit status is 0
// when every step worked.
#include <generated/customer_profile_bc.h>
#include <generated/trips_data_store.h>
#include <qn/bc.h>
#include <qn/host.h>
#include <qn/media/image_util.h>
#include <qn/offline.h>
#include <qn/runtime.h>
#include <qn/sync.h>

#include <filesystem>
#include <future>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using qn::String;
using qn::toUtf8;
using qn::Value;
using Helper = travelagency::TripsDataStoreHelper;

namespace {

constexpr std::int64_t kCustomer = 1;

struct Options {
    fs::path bundle;
    fs::path data;
    std::optional<std::string> server;
    fs::path photo;
    std::optional<std::string> language;
};

std::optional<Options> parse(int argc, char** argv) {
    std::map<std::string, std::string> given;
    for (int i = 1; i + 1 < argc; i += 2)
        given[argv[i]] = argv[i + 1];
    if (argc % 2 == 0 || !given.contains("--bundle") || !given.contains("--data")) return {};
    Options options{given["--bundle"], given["--data"], {}, {}, {}};
    if (given.contains("--server")) options.server = given["--server"];
    if (given.contains("--language")) options.language = given["--language"];
    options.photo = given.contains("--photo") ? fs::path(given["--photo"])
                                              : fs::path(options.bundle) / "photo.png";
    return options;
}

// A fare as the application shows it: N(10.2).
std::string fare(const qn::Decimal& value) {
    const String text = qn::QNBuiltins::str(Value(value), 10, 2);
    const std::size_t start = text.find_first_not_of(u' ');
    return toUtf8(start == String::npos ? text : text.substr(start));
}

std::string translated(const char16_t* key, const Value& first = Value(),
                       const Value& second = Value()) {
    return toUtf8(qn::QNBuiltins::format(qn::QNResources::translationFor(key), first, second));
}

int createDatabase() {
    std::promise<int> done;
    qn::QNDBManager::sharedInstance().createDatabaseIfNeededWithCompletionBlock(
        [&done](int result, const std::optional<qn::QNError>& error) {
            if (error) std::cout << "  error: " << toUtf8(error->developerDescription()) << "\n";
            done.set_value(result);
        });
    return done.get_future().get();
}

String customerName(std::int64_t customer) {
    auto db = qn::QNDBManager::sharedInstance().connectionForDatastore(u"DEFAULT");
    auto command =
        db->commandWithSQLStatement(u"SELECT CustomerName FROM Customer WHERE CustomerId = ?");
    command->setParameters(std::vector<Value>{Value(customer)});
    const Value name = command->executeScalar();
    command->close();
    return name.isString() ? name.asString() : String(u"?");
}

// The customer's trips through the generated dynamic cursor; how many.
std::int64_t listTrips(qn::QNDataStoreProvider& provider, std::int64_t customer) {
    const std::vector<Value> values{Value(customer), Value(qn::Decimal())};
    provider.dynParam(Helper::T_TripsDynamic, {values});
    provider.execute(Helper::T_TripsDynamic, values, {false, false}, {});
    std::int64_t count = 0;
    for (provider.readNext(Helper::T_TripsDynamic);
         provider.getStatus(Helper::T_TripsDynamic) == qn::QN_STATUS_OK;
         provider.readNext(Helper::T_TripsDynamic), ++count) {
        auto trip = provider.getDBCommand(Helper::T_TripsDynamic);
        std::cout << "  " << std::setw(3) << trip->int64ValueForColumn(u"TripId") << "  "
                  << std::left << std::setw(36)
                  << toUtf8(trip->stringValueForColumn(u"TripDescription")) << std::right
                  << std::setw(9) << fare(trip->decimalValueForColumn(u"TripFare")) << "\n";
    }
    provider.close(Helper::T_TripsDynamic);
    return count;
}

std::optional<qn::Decimal> tripTotal(std::int64_t customer) {
    const qn::ClassInfo* procedure =
        qn::QNProcedureHelper::qnOfflineProcedureClassForProcedureName(u"PrcTripTotals");
    if (!procedure) return std::nullopt;
    const auto answer = qn::QNProcedureHelper::executeOfflineProcedureWithParameters(
        procedure, {Value(customer), Value()});
    if (answer.size() < 2) return std::nullopt;
    return answer[1].decimalValue();
}

// Loads the customer, gives it a new e-mail address and a thumbnail of the
// photo, and saves it through the business component; the messages when it
// failed.
bool saveCustomerWithPhoto(std::int64_t id, const fs::path& photo) {
    const String thumbnail = qn::QNImageUtil::resize(qn::fromUtf8(photo.string()), 48, 32, false);
    if (qn::QNImageUtil::getImageWidth(thumbnail) != 48) {
        std::cout << "  the photo " << photo << " could not be read\n";
        return false;
    }
    auto customer = std::make_shared<travelagency::SdtCustomerProfile>();
    customer->loadKey({Value(id)});
    if (!customer->success()) {
        std::cout << "  customer " << id << " not found\n";
        return false;
    }
    customer->setCustomerEmail(u"ana.souza@travel.example.com");
    customer->setCustomerPhoto(thumbnail);
    customer->save();
    if (!customer->success()) {
        std::cout << "  not saved: " << toUtf8(customer->getMessages()->firstErrorMessage())
                  << "\n";
        return false;
    }
    std::cout << "Saved customer " << id << " \"" << toUtf8(customer->customerName())
              << "\" through the business component CustomerProfile: "
              << toUtf8(customer->customerEmail()) << ", a 48 x 32 photo\n";
    return true;
}

std::int64_t pendingEvents() {
    auto log = std::dynamic_pointer_cast<qn::QNPendingEventLog>(
        qn::QNBusinessComponentChangeLog::installed());
    return log ? log->pendingEventCount() : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parse(argc, argv);
    if (!options) {
        std::cerr << "usage: travelagency --bundle DIR --data DIR [--server URL] [--photo FILE] "
                     "[--language NAME]\n";
        return 2;
    }
    // Each line goes out as it is written, also into a pipe.
    std::cout << std::unitbuf;
    // Where things live: set before anything else asks.
    qn::QNBundle::setMainBundlePath(options->bundle);
    auto& storage = qn::QNObjectsModelServices::applicationStorageService();
    storage.setApplicationCachesDirectory(options->data / "caches");
    storage.setApplicationSupportDirectory(options->data / "support");
    storage.setTemporaryDirectory(options->data / "tmp");
    if (options->language)
        qn::QNResources::setCurrentLanguageName(qn::fromUtf8(*options->language));

    bool ok = true;
    const int created = createDatabase();
    std::cout << "Database " << (created == 0 ? "found" : "created") << " (result " << created
              << ")\n";
    ok = ok && (created == 0 || created == 1 || created == 2);

    // The synchronization services and the pending-event log: installed
    // before any change, so that every change is logged.
    const auto server =
        options->server ? std::optional<String>(qn::fromUtf8(*options->server)) : std::nullopt;
    if (!qn::QNReferenceSynchronization::install(server)) {
        std::cout << "The synchronization could not be installed\n";
        return 1;
    }

    const String name = customerName(kCustomer);
    std::cout << translated(u"msg_welcome",
                            Value(qn::QNApplicationModel::currentModel()->appName()), Value(name))
              << "\n";
    qn::QNDataStoreProvider provider(std::make_shared<Helper>(), {{}});
    const std::int64_t trips = listTrips(provider, kCustomer);
    std::cout << translated(u"msg_trips_found", Value(trips)) << "\n";
    const auto total = tripTotal(kCustomer);
    std::cout << "Total fare (PrcTripTotals): " << (total ? fare(*total) : "unknown") << "\n";
    ok = ok && trips > 0 && total.has_value();

    ok = saveCustomerWithPhoto(kCustomer, options->photo) && ok;
    std::cout << "Pending events: " << pendingEvents() << "\n";

    const std::int64_t sent = qn::QNSynchronization::send();
    std::cout << "Send: result " << sent << ", pending events " << pendingEvents() << "\n";
    const std::int64_t received = qn::QNSynchronization::receive();
    std::cout << "Receive: result " << received << "\n";
    ok = ok && sent == 0 && received == 0;
    const std::int64_t after = listTrips(provider, kCustomer);
    std::cout << translated(u"msg_trips_found", Value(after)) << "\n";

    // An orderly end: nothing of the library's still running.
    qn::QNProcedure::waitForSubmittedProcedures();
    qn::QNDBManager::sharedInstance().waitUntilNoCreationRuns();
    qn::qn_dispatch_wait_for_background_idle();
    qn::QNReferenceSynchronization::uninstall();
    std::cout << (ok ? "Done" : "Failed") << "\n";
    return ok ? 0 : 1;
}
