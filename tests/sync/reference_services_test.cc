// The reference synchronization services against the reference server on
// 127.0.0.1, with the sample's business component Trip on a real database:
// events go with their files and leave the log only when acknowledged; a
// refused, unanswered, unreadable or broken-off send leaves them for the
// next one, which the server stores once; received changes are applied
// whole or not at all.
#include <generated/trip_bc.h>
#include <qn/files/file_system_object.h>
#include <qn/offline.h>
#include <qn/sync.h>
#include <reference_server.h>

#include <unistd.h>

#include <future>
#include <thread>

#include "net/test_server.h"
#include "sync/sync_test_support.h"

using namespace qn;
using namespace qn::test;
namespace fs = std::filesystem;
using travelagency::SdtTrip;

namespace {

// Accepts one connection on 127.0.0.1, reads part of the request and
// closes it: a connection dropped mid-upload.
class DroppingListener {
public:
    DroppingListener() {
        fd_ = listenOnLoopback(port_);
        thread_ = std::thread([this] {
            const int connection = ::accept(fd_, nullptr, nullptr);
            if (connection < 0) return;
            char buffer[65536];
            std::size_t received = 0;
            while (received < sizeof buffer) {
                const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                received += static_cast<std::size_t>(n);
            }
            ::close(connection);
        });
    }
    ~DroppingListener() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
    }
    std::string baseURL() const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/qnsync/v1/";
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

class ReferenceServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(server_.start(), 0);
        scope_ = sampleApplicationWithDatabase();
        install(server_.baseURL());
        log_ =
            std::dynamic_pointer_cast<QNPendingEventLog>(QNBusinessComponentChangeLog::installed());
        ASSERT_NE(log_, nullptr);
    }
    void TearDown() override {
        server_.stop();
        QNReferenceSynchronization::uninstall();
        closeSampleApplication(scope_);
    }

    static void install(const std::string& url) {
        ASSERT_TRUE(QNReferenceSynchronization::install(fromUtf8(url)));
    }
    static QNReferenceSendService& sendService() {
        return dynamic_cast<QNReferenceSendService&>(
            *QNDataLayerServices::synchronizationSendService());
    }

    static void changeFare(std::int64_t id, const char* fare, const String& photo = {}) {
        auto trip = std::make_shared<SdtTrip>();
        trip->loadKey({Value(id)});
        trip->setTripFare(Decimal::fromString(fare));
        if (!photo.empty()) trip->setTripPhoto(photo);
        trip->save();
        ASSERT_TRUE(trip->success());
    }

    static std::int64_t scalar(const char16_t* sql) {
        auto db = QNDBManager::sharedInstance().connectionForDatastore(u"DEFAULT");
        auto command = db->commandWithSQLStatement(sql);
        const Value v = command->executeScalar();
        command->close();
        return v.integerValue();
    }

    TempDir serverDir_;
    qnsync::ReferenceServer server_{serverDir_.path()};
    std::unique_ptr<ScopedBundle> scope_;
    std::shared_ptr<QNPendingEventLog> log_;
};

TEST_F(ReferenceServicesTest, SendDeliversEventsWithTheirFilesAndRemovesTheAcknowledged) {
    const fs::path photo = fs::path(toUtf8(QNFileSystemObject::blobDataPath())) / "sent.jpg";
    // Bytes a multipart body must carry untouched: a NUL, CRLFs, a line
    // that looks like a delimiter.
    const std::string bytes = std::string("jpeg\0bytes\r\n--", 14) + "\r\n\r\n%41 end";
    writeFile(photo, bytes);
    changeFare(2, "1010.00");
    changeFare(3, "299.00", u"qnblobdata://sent.jpg");
    const auto events = log_->pendingEvents();
    ASSERT_EQ(events.size(), 2u);
    const fs::path upload = toUtf8(
        QNFileSystemObject::absoluteFilePathForRelativePath(StringView(events[1].files.at(0))));
    ASSERT_TRUE(fs::exists(upload));

    EXPECT_EQ(QNSynchronization::send(), 0);
    EXPECT_EQ(log_->pendingEventCount(), 0);
    EXPECT_FALSE(fs::exists(upload)) << "a sent file leaves the uploads folder";
    const auto stored = server_.storedEvents();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].id, toUtf8(events[0].id));
    EXPECT_EQ(stored[0].bc, "Trip");
    EXPECT_EQ(stored[0].mode, "UPD");
    const std::string first = toUtf8(*QNJSON::generate(stored[0].message));
    EXPECT_NE(first.find("\"TripFare\":1010"), std::string::npos) << first;
    const std::string second = toUtf8(*QNJSON::generate(stored[1].message));
    EXPECT_NE(second.find("\"TripPhoto\":\"<file:0>\""), std::string::npos) << second;
    ASSERT_EQ(stored[1].files.size(), 1u);
    EXPECT_EQ(readFile(stored[1].files[0]), bytes);
    EXPECT_EQ(stored[1].files[0].extension(), ".jpg");
}

TEST_F(ReferenceServicesTest, FaultsLeaveEventsPendingAndTheNextSendDeliversThemOnce) {
    changeFare(2, "1010.00");
    const std::string id = toUtf8(log_->pendingEvents().at(0).id);

    // The server stored the event but answered 500, then 200 with no body.
    server_.setPostHook([](const auto&) { return 500; });
    EXPECT_EQ(QNSynchronization::send(), 2);
    EXPECT_EQ(log_->pendingEventCount(), 1);
    server_.setPostHook([](const auto&) { return 200; });
    EXPECT_EQ(QNSynchronization::send(), 2) << "an answer that names nothing acknowledges nothing";
    EXPECT_EQ(log_->pendingEventCount(), 1);

    // The server holds its answer until the client has given up.
    auto release = std::make_shared<std::promise<void>>();
    std::shared_future<void> released = release->get_future().share();
    server_.setPostHook([released](const auto&) {
        released.wait();
        return 0;
    });
    sendService().setTimeout(1);
    EXPECT_EQ(QNSynchronization::send(), 2) << "timed out";
    release->set_value();
    EXPECT_EQ(log_->pendingEventCount(), 1);
    server_.setPostHook(nullptr);

    // A connection dropped while the body (with a 4 MB file) goes up.
    const fs::path photo = fs::path(toUtf8(QNFileSystemObject::blobDataPath())) / "big.png";
    writeFile(photo, std::string(4 << 20, 'x'));
    changeFare(3, "299.00", u"qnblobdata://big.png");
    {
        DroppingListener dropping;
        install(dropping.baseURL());
        EXPECT_EQ(QNSynchronization::send(), 2);
    }
    EXPECT_EQ(log_->pendingEventCount(), 2);

    install(server_.baseURL());
    EXPECT_EQ(QNSynchronization::send(), 0);
    EXPECT_EQ(log_->pendingEventCount(), 0);
    const auto stored = server_.storedEvents();
    ASSERT_EQ(stored.size(), 2u) << "each event once, however often it came";
    EXPECT_EQ(stored[0].id, id);
    // Refused, unanswered, acknowledged; the timed-out post counts when it
    // reached the server before the client gave up.
    EXPECT_GE(server_.deliveries().at(id), 3);
    ASSERT_EQ(stored[1].files.size(), 1u);
    EXPECT_EQ(fs::file_size(stored[1].files[0]), std::uintmax_t{4} << 20);
}

TEST_F(ReferenceServicesTest, AutomaticSendsGoInTheBackgroundAfterTheCommit) {
    sendService().setSendsAutomatically(true);
    auto arrived = std::make_shared<Latch>();
    server_.setPostHook([arrived](const auto&) {
        arrived->arrive();
        return 0;
    });
    changeFare(2, "1010.00");
    ASSERT_TRUE(arrived->waitFor(1));
    // Sends are serialized: this one starts once the background one ended,
    // and finds nothing left.
    ASSERT_FALSE(sendService().sendNow(true));
    EXPECT_EQ(log_->pendingEventCount(), 0);
    EXPECT_EQ(server_.storedEvents().size(), 1u);
    for (const auto& [id, count] : server_.deliveries())
        EXPECT_EQ(count, 1) << id;
}

TEST_F(ReferenceServicesTest, ReceivedChangesAreAppliedWholeOrNotAtAll) {
    const auto change = [this](const char* tables) {
        ASSERT_TRUE(server_.addChange(*QNJSON::parse(std::string_view(tables))));
    };
    change(R"([{"name":"Trip","columns":["TripId","CustomerId","TripDescription","TripDate",)"
           R"("TripFare"],"rows":[[50,1,"From the server","2027-05-01",12.5],)"
           R"([51,2,"No date",null,7]],"key":["TripId"],"deleted":[[4],[99]]}])");
    EXPECT_EQ(QNSynchronization::receive(), 0);
    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM Trip WHERE TripId = 50 AND TripFare = 12.5 AND "
                     u"TripDate = '2027-05-01' AND TripPhoto = ''"),
              1);
    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM Trip WHERE TripId = 51 AND TripDate IS NULL"), 1);
    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM Trip WHERE TripId = 4"), 0);
    EXPECT_EQ(QNModel::currentModel().getUserDataForKey(u"QNSyncReceiveToken").asString(), u"1");

    // Nothing new: nothing changes, the token stays.
    EXPECT_EQ(QNSynchronization::receive(), 0);
    EXPECT_EQ(QNModel::currentModel().getUserDataForKey(u"QNSyncReceiveToken").asString(), u"1");

    // A row that replaces one the database has, then a row it refuses: the
    // whole answer is undone, the token stays, the same changes come again.
    change(R"([{"name":"Trip","columns":["TripId","CustomerId","TripDescription","TripFare"],)"
           R"("rows":[[50,1,"Replaced",1],[52,1,null,2]]}])");
    EXPECT_EQ(QNSynchronization::receive(), 5);
    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM Trip WHERE TripDescription = 'Replaced'"), 0);
    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM Trip WHERE TripId = 50"), 1);
    EXPECT_EQ(QNModel::currentModel().getUserDataForKey(u"QNSyncReceiveToken").asString(), u"1");
    EXPECT_EQ(QNSynchronization::receive(), 5);
    EXPECT_EQ(QNModel::currentModel().getUserDataForKey(u"QNSyncReceiveToken").asString(), u"1");
}

TEST_F(ReferenceServicesTest, AnswersThatAreNotPlainTablesOfScalarsAreRefusedWhole) {
    auto& receiver = dynamic_cast<QNReferenceReceiveService&>(
        *QNDataLayerServices::synchronizationReceiveService());
    // Each answer starts with a change that alone would be applied.
    const std::string good =
        R"({"name":"Trip","columns":["TripId","CustomerId","TripDescription","TripFare"],)"
        R"("rows":[[60,1,"x",1]]},)";
    for (const char* bad : {
             R"({"name":"Trip; DROP TABLE Customer","columns":["TripId"],"rows":[[1]]})",
             R"({"name":"QNPendingEvent","key":["Seq"],"deleted":[[1]]})",
             R"({"name":"sqlite_master","key":["name"],"deleted":[["Trip"]]})",
             R"({"name":"Trip","columns":["TripId = 1 OR 1"],"rows":[[1]]})",
             R"({"name":"Trip","key":["1 = 1 OR TripId"],"deleted":[[0]]})",
             R"({"name":"Trip","columns":["TripId","CustomerId"],"rows":[[61,1],[62]]})",
             R"({"name":"Trip","columns":["TripId","tripid"],"rows":[[63,64]]})",
             R"({"name":"Trip","columns":["TripId","TripDescription"],"rows":[[65,["x"]]]})",
             R"({"name":"Trip","deleted":[[1]]})",
             R"({"name":"Trip","columns":[],"rows":[]})",
         }) {
        // Written whole each time: the token never moves past a refused set.
        writeFile(serverDir_.path() / "changes.json",
                  R"({"changes":[{"token":"1","tables":[)" + good + bad + "]}]}");
        EXPECT_EQ(receiver.receiveNow(), QNReferenceReceiveService::kUnusable) << bad;
    }
    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM Trip"), 4);
    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM Customer"), 2);
    EXPECT_EQ(log_->pendingEventCount(), 0);

    // The good change alone goes in.
    writeFile(serverDir_.path() / "changes.json",
              R"({"changes":[{"token":"1","tables":[)" + good.substr(0, good.size() - 1) + "]}]}");
    EXPECT_EQ(receiver.receiveNow(), QNReferenceReceiveService::kDone);
    EXPECT_EQ(scalar(u"SELECT COUNT(*) FROM Trip WHERE TripId = 60"), 1);

    EXPECT_EQ(QNSynchronization::status(), 0);
    server_.stop();
    EXPECT_EQ(receiver.statusNow(), QNReferenceReceiveService::kUnreachable);
}

}  // namespace
