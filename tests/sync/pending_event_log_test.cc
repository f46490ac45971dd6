// The pending-event log with the sample's business component Trip on a
// real database: an event exists exactly when its change was committed, its
// upload copies live and die with it, and acknowledged events go with their
// files.
#include <generated/trip_bc.h>
#include <qn/files/file_system_object.h>
#include <qn/offline.h>
#include <qn/sync.h>

#include <future>

#include "sync/sync_test_support.h"

using namespace qn;
using namespace qn::test;
namespace fs = std::filesystem;
using travelagency::SdtTrip;

namespace {

std::size_t filesIn(const fs::path& folder) {
    std::error_code error;
    std::size_t n = 0;
    for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator();
         ++it)
        ++n;
    return n;
}

class PendingEventLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        scope_ = sampleApplicationWithDatabase();
        log_ = QNPendingEventLog::install();
        ASSERT_NE(log_, nullptr);
        uploads_ = toUtf8(QNFileSystemObject::pendingUploadsPath());
    }
    void TearDown() override {
        QNBusinessComponentChangeLog::install(nullptr);
        closeSampleApplication(scope_);
    }

    static std::shared_ptr<SdtTrip> trip(std::int64_t id) {
        auto record = std::make_shared<SdtTrip>();
        record->loadKey({Value(id)});
        EXPECT_TRUE(record->success()) << "trip " << id;
        return record;
    }

    // A photo inside the application's folders, as the blob path a field holds.
    static String photo(const std::string& name) {
        const fs::path file = fs::path(toUtf8(QNFileSystemObject::blobDataPath())) / name;
        writeFile(file, "jpeg bytes of " + name);
        return u"qnblobdata://" + fromUtf8(name);
    }

    std::unique_ptr<ScopedBundle> scope_;
    std::shared_ptr<QNPendingEventLog> log_;
    fs::path uploads_;
};

TEST_F(PendingEventLogTest, ACommittedChangeHasItsEventAndAFailedOneHasNone) {
    auto second = trip(2);
    second->setTripFare(Decimal::fromString("1010.00"));
    second->save();
    ASSERT_TRUE(second->success());
    auto events = log_->pendingEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].bc, u"Trip");
    EXPECT_EQ(events[0].mode, u"UPD");
    EXPECT_NE(events[0].message.find(u"\"TripFare\":1010"), String::npos)
        << toUtf8(events[0].message);
    EXPECT_TRUE(QNUUID::fromString(StringView(events[0].id)).has_value());
    EXPECT_TRUE(events[0].files.empty());

    // The transaction refuses a negative fare and rolls back: the event and
    // the upload copy its message made go with it.
    const std::size_t uploadsBefore = filesIn(uploads_);
    auto third = trip(3);
    third->setTripPhoto(photo("refused.jpg"));
    third->setTripFare(Decimal::fromString("-1"));
    third->save();
    EXPECT_TRUE(third->fail());
    EXPECT_EQ(log_->pendingEventCount(), 1);
    EXPECT_EQ(filesIn(uploads_), uploadsBefore) << "the rolled-back copy is removed";

    // Corrected, it commits with its file.
    third->setTripFare(Decimal::fromString("299.00"));
    third->save();
    ASSERT_TRUE(third->success());
    events = log_->pendingEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_LT(events[0].seq, events[1].seq);
    ASSERT_EQ(events[1].files.size(), 1u);
    EXPECT_TRUE(toUtf8(events[1].files[0]).starts_with("$UPLOADS/"));
    EXPECT_NE(events[1].message.find(u"\"TripPhoto\":\"<file:0>\""), String::npos);
    EXPECT_TRUE(fs::exists(toUtf8(
        QNFileSystemObject::absoluteFilePathForRelativePath(StringView(events[1].files[0])))));
}

TEST_F(PendingEventLogTest, InsertsAndDeletesAreLoggedAndAcknowledgedEventsGoWithTheirFiles) {
    auto added = std::make_shared<SdtTrip>();
    added->loadDefaultValues();
    added->setTripId(30);
    added->setCustomerId(1);
    added->setTripDescription(u"Faro - Lisbon");
    added->setTripFare(Decimal::fromString("45.00"));
    added->setTripPhoto(photo("faro.jpg"));
    ASSERT_TRUE(added->insert());
    auto fourth = trip(4);
    fourth->delete_();
    ASSERT_TRUE(fourth->success());

    const auto events = log_->pendingEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].mode, u"INS");
    EXPECT_EQ(events[1].mode, u"DLT");
    EXPECT_NE(events[1].message.find(u"\"TripId\":4"), String::npos);
    ASSERT_EQ(events[0].files.size(), 1u);
    const fs::path upload =
        toUtf8(QNFileSystemObject::absoluteFilePathForRelativePath(StringView(events[0].files[0])));
    ASSERT_TRUE(fs::exists(upload));

    // Only what the server acknowledged goes; an unknown id counts for nothing.
    EXPECT_EQ(log_->removeEvents({events[0].id, u"00000000-0000-0000-0000-000000000000"}), 1u);
    EXPECT_FALSE(fs::exists(upload)) << "the sent file goes with its event";
    const auto left = log_->pendingEvents();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].id, events[1].id);
    EXPECT_EQ(log_->pendingEvents(1).size(), 1u);
}

}  // namespace
