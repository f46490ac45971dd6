// Business components: the record's life cycle through its transaction and
// the notifications it posts, names and metadata, creation by name, the
// message list, the asynchronous variants, and the files the
// synchronization message queues for upload.
#include <qn/files/file_system_object.h>
#include <qn/host/offline_helper.h>

#include <set>

#include "bc/voyage_fixture.h"

using namespace qn;
using bctest::CallLog;
using bctest::NotificationRecorder;
using bctest::SdtVoyage;
using bctest::voyage;
using Calls = std::vector<std::string>;
namespace fs = std::filesystem;

// A transaction whose class name holds "_bc" twice.
class Harbour_bc_Log_bc : public QNBusinessComponent {
    QN_OBJECT(Harbour_bc_Log_bc)
};
QN_REGISTER_CLASS(Harbour_bc_Log_bc, QNBusinessComponent)

// Records of components found by name: createWithBCName tries the
// lower-case class, then the generator's spelling, then any letter case.
#define QN_TEST_RECORD(Class)                     \
    class Class : public QNSdtBusinessComponent { \
        QN_OBJECT(Class)                          \
    };
QN_TEST_RECORD(LowerAlpha)
QN_TEST_RECORD(SdtAlpha)
QN_TEST_RECORD(SdtBeta)
QN_TEST_RECORD(UpperBeta)
QN_TEST_RECORD(SdtGamma)
QN_TEST_RECORD(SdtDelta)
#undef QN_TEST_RECORD
class NotARecordDelta : public Object {
    QN_OBJECT(NotARecordDelta)
};
QN_REGISTER_CLASS_AS(LowerAlpha, "sdtalpha", "QNSdtBusinessComponent", nullptr)
QN_REGISTER_CLASS(SdtAlpha, QNSdtBusinessComponent)
QN_REGISTER_CLASS(SdtBeta, QNSdtBusinessComponent)
QN_REGISTER_CLASS_AS(UpperBeta, "SDTBETA", "QNSdtBusinessComponent", nullptr)
QN_REGISTER_CLASS(SdtGamma, QNSdtBusinessComponent)
QN_REGISTER_CLASS(SdtDelta, QNSdtBusinessComponent)
QN_REGISTER_CLASS_AS(NotARecordDelta, "SDTDELTA", "Object", nullptr)

namespace {

constexpr StringView kSaved = u"QNSdtBusinessComponentDidSaveNotification";
constexpr StringView kDeleted = u"QNSdtBusinessComponentDidDeleteNotification";

class BusinessComponentTest : public ::testing::Test {
protected:
    void SetUp() override { QNThreadErrorHandler::errorHandler().clear(); }
    void TearDown() override { QNThreadErrorHandler::errorHandler().clear(); }

    bctest::ScopedVoyageSDT sdt_;
    std::shared_ptr<CallLog> log_ = std::make_shared<CallLog>();
};

// One save notification for `record`, with the mode as its only user info.
void expectSavedWithMode(const std::vector<NotificationRecorder::Seen>& seen,
                         const Ref<SdtVoyage>& record, StringView mode) {
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, kSaved);
    EXPECT_EQ(seen[0].object.asObject().get(), record.get());
    ASSERT_NE(seen[0].userInfo, nullptr);
    EXPECT_EQ(seen[0].userInfo->size(), 1u);
    EXPECT_EQ(seen[0].userInfo->get(u"qnmode").asString(), mode);
}

std::vector<std::int64_t> threadErrorCodes() {
    std::vector<std::int64_t> codes;
    for (const QNError& error : QNThreadErrorHandler::errorHandler().errors())
        codes.push_back(error.code());
    return codes;
}

// --- Life cycle ----------------------------------------------------------------------

TEST_F(BusinessComponentTest, SaveReadsTheModeFirstAndNotifiesItOnlyOnSuccess) {
    const struct {
        const char* what;
        StringView modeBefore;
        Value anyerror;
        std::optional<String> modeAfter;
        Calls calls;
        std::optional<StringView> notified;
        bool fails;
    } cases[] = {
        {"DLT does nothing", u"DLT", Value(), std::nullopt, {}, std::nullopt, false},
        {"no anyerror is success, notified with the mode read before", u"INS", Value(), u"UPD",
         Calls{"save", "cleanup"}, u"INS", false},
        {"anyerror 0 is success", u"UPD", Value(std::int64_t{0}), std::nullopt,
         Calls{"save", "cleanup"}, u"UPD", false},
        {"anyerror 1 is failure", u"UPD", Value(std::int64_t{1}), std::nullopt,
         Calls{"save", "cleanup"}, std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto log = std::make_shared<CallLog>();
        auto record = voyage(1, log);
        record->setMode(c.modeBefore);
        record->trn().error = c.anyerror;
        record->trn().modeAfterWork = c.modeAfter;
        NotificationRecorder notifications;
        record->save();
        EXPECT_EQ(log->calls(), c.calls);
        if (c.notified) {
            expectSavedWithMode(notifications.seen(), record, *c.notified);
        } else {
            EXPECT_TRUE(notifications.seen().empty());
        }
        EXPECT_EQ(record->fail(), c.fails);
        EXPECT_EQ(record->success(), !c.fails);
    }
}

TEST_F(BusinessComponentTest, InsertNotifiesINSOnlyOnSuccessAndCleansUpEitherWay) {
    auto inserted = voyage(1, log_);
    inserted->setMode(u"UPD");
    {
        NotificationRecorder notifications;
        EXPECT_TRUE(inserted->insert());
        expectSavedWithMode(notifications.seen(), inserted, u"INS");
    }
    EXPECT_EQ(log_->calls(), (Calls{"insert", "cleanup"}));

    auto log = std::make_shared<CallLog>();
    auto refused = voyage(1, log);
    refused->setMode(u"INS");
    refused->trn().insertSucceeds = false;
    refused->trn().failureMessage = u"The voyage already exists";
    NotificationRecorder notifications;
    EXPECT_FALSE(refused->insert());
    EXPECT_EQ(log->calls(), (Calls{"insert", "cleanup"}));
    EXPECT_TRUE(notifications.seen().empty());
    ASSERT_EQ(refused->getMessages(), refused->trn().getMessages());
    EXPECT_EQ(refused->getMessages()->firstErrorMessage(), u"The voyage already exists");
}

TEST_F(BusinessComponentTest, UpdateNotifiesOnlyWhenTheModeReadBeforeWasUPDAndItSucceeded) {
    const struct {
        const char* what;
        StringView modeBefore;
        bool succeeds;
        std::optional<String> modeAfter;
        bool notified;
    } cases[] = {
        {"UPD, updated", u"UPD", true, std::nullopt, true},
        {"UPD, refused", u"UPD", false, std::nullopt, false},
        {"INS, updated (and left UPD)", u"INS", true, u"UPD", false},
        {"UPD, updated and left INS", u"UPD", true, u"INS", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto log = std::make_shared<CallLog>();
        auto record = voyage(1, log);
        record->setMode(c.modeBefore);
        record->trn().updateSucceeds = c.succeeds;
        record->trn().modeAfterWork = c.modeAfter;
        NotificationRecorder notifications;
        EXPECT_EQ(record->update(), c.succeeds);
        EXPECT_EQ(log->calls(), (Calls{"update", "cleanup"}));
        if (c.notified) {
            expectSavedWithMode(notifications.seen(), record, u"UPD");
        } else {
            EXPECT_TRUE(notifications.seen().empty());
        }
    }
}

TEST_F(BusinessComponentTest, InsertOrUpdateClearsConstraintErrorsBeforeItUpdates) {
    auto& errors = QNThreadErrorHandler::errorHandler();
    {
        SCOPED_TRACE("the insert fails: every code 19 goes, other codes stay");
        errors.addErrorWithCodeDescription(3, u"earlier");
        auto record = voyage(1, log_);
        record->setMode(u"UPD");
        record->trn().insertSucceeds = false;
        record->trn().insertFailureCodes = {19, 7, 19};
        NotificationRecorder notifications;
        EXPECT_TRUE(record->insertOrUpdate());
        EXPECT_EQ(log_->calls(), (Calls{"insert", "cleanup", "update", "cleanup"}));
        EXPECT_EQ(record->trn().errorCodesSeenByUpdate, (std::vector<std::int64_t>{3, 7}));
        EXPECT_EQ(threadErrorCodes(), (std::vector<std::int64_t>{3, 7}));
        expectSavedWithMode(notifications.seen(), record, u"UPD");
    }
    errors.clear();
    {
        SCOPED_TRACE("the insert succeeds: no update, the list untouched");
        errors.addErrorWithCodeDescription(19, u"earlier");
        auto log = std::make_shared<CallLog>();
        auto record = voyage(1, log);
        NotificationRecorder notifications;
        EXPECT_TRUE(record->insertOrUpdate());
        EXPECT_EQ(log->calls(), (Calls{"insert", "cleanup"}));
        EXPECT_EQ(threadErrorCodes(), (std::vector<std::int64_t>{19}));
        expectSavedWithMode(notifications.seen(), record, u"INS");
    }
    errors.clear();
    {
        SCOPED_TRACE("both fail");
        auto log = std::make_shared<CallLog>();
        auto record = voyage(1, log);
        record->setMode(u"UPD");
        record->trn().insertSucceeds = false;
        record->trn().updateSucceeds = false;
        NotificationRecorder notifications;
        EXPECT_FALSE(record->insertOrUpdate());
        EXPECT_EQ(log->calls(), (Calls{"insert", "cleanup", "update", "cleanup"}));
        EXPECT_TRUE(notifications.seen().empty());
    }
}

TEST_F(BusinessComponentTest, DeleteNotifiesWhateverCameOfIt) {
    auto record = voyage(1, log_);
    record->trn().error = Value(std::int64_t{1});
    NotificationRecorder notifications;
    record->delete_();
    EXPECT_TRUE(record->fail());
    EXPECT_EQ(log_->calls(), Calls{"delete"});
    const auto seen = notifications.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].name, kDeleted);
    EXPECT_EQ(seen[0].object.asObject().get(), record.get());
    EXPECT_EQ(seen[0].userInfo, nullptr);
}

TEST_F(BusinessComponentTest, WithoutATransactionNothingHappensAndNothingIsPosted) {
    auto record = voyage(1, log_);
    record->setMode(u"UPD");
    record->trn().error = Value(std::int64_t{1});
    record->trn().name = u"Cruise";
    record->setTitle(u"kept");
    record->setTransaction(nullptr);
    NotificationRecorder notifications;
    EXPECT_FALSE(record->insert());
    EXPECT_FALSE(record->update());
    EXPECT_FALSE(record->insertOrUpdate());
    record->save();
    record->check();
    record->delete_();
    record->loadKey({Value(std::int64_t{2})});
    EXPECT_TRUE(log_->calls().empty());
    EXPECT_TRUE(notifications.seen().empty());
    EXPECT_EQ(record->getMode(), u"");
    EXPECT_FALSE(record->fail());
    EXPECT_TRUE(record->success());
    EXPECT_EQ(record->getMessages(), nullptr);
    EXPECT_EQ(record->bcName(), u"");
    EXPECT_EQ(record->id(), 1);
    EXPECT_TRUE(record->isDirty(u"Title")) << "nothing was loaded, so nothing is reset";
}

TEST_F(BusinessComponentTest, LoadingResetsWhatTheTransactionAssigned) {
    auto record = voyage(std::nullopt, log_);
    record->setFare(5);
    record->loadKey({Value(std::int64_t{7})});
    EXPECT_EQ(log_->calls(), Calls{"loadKey"});
    ASSERT_EQ(record->trn().loadedKey.size(), 1u);
    EXPECT_EQ(record->trn().loadedKey[0].integerValue(), 7);
    EXPECT_EQ(record->id(), 7);
    EXPECT_EQ(record->title(), u"Loaded");
    EXPECT_EQ(record->getMode(), u"UPD");
    for (StringView name : {u"Id", u"Title", u"Fare"})
        EXPECT_FALSE(record->isDirty(name)) << toUtf8(String(name));
    EXPECT_EQ(record->dirties(), nullptr);

    // Defaults: the mode is INS before the transaction's defaults run.
    auto log = std::make_shared<CallLog>();
    auto fresh = voyage(std::nullopt, log);
    fresh->setTitle(u"draft");
    fresh->loadDefaultValues();
    EXPECT_EQ(log->calls(), Calls{"getInsDefault"});
    EXPECT_EQ(fresh->trn().modeSeenByInsDefault, u"INS");
    EXPECT_EQ(fresh->getMode(), u"INS");
    EXPECT_EQ(fresh->fare(), 100);
    EXPECT_FALSE(fresh->isDirty(u"Fare"));
    EXPECT_FALSE(fresh->isDirty(u"Title"));
}

// --- Names and metadata --------------------------------------------------------------

TEST_F(BusinessComponentTest, TheNameIsTheTransactionsOrItsClassNameWithoutBc) {
    auto record = voyage(1, log_);
    EXPECT_EQ(record->bcName(), u"Voyage");
    record->trn().name = u"Cruise";
    EXPECT_EQ(record->bcName(), u"Cruise");
    record->trn().name.clear();

    auto harbour = makeRef<SdtVoyage>();
    harbour->setTransaction(makeRef<Harbour_bc_Log_bc>());
    EXPECT_EQ(harbour->bcName(), u"Harbour_bc_Log") << "only the last _bc goes";

    bctest::ScopedVoyageModel model(u"VOYAGE");
    EXPECT_EQ(record->bcName(), u"VOYAGE") << "the model's spelling";
    record->trn().name = u"voyage";
    EXPECT_EQ(record->bcName(), u"voyage") << "the transaction's own name is used as it is";
}

TEST_F(BusinessComponentTest, AttributeMetadataComesFromTheComponentsLevel) {
    auto record = voyage(1, log_);
    const QNSDTPropertiesInfo& table = record->propertiesInfoForCurrentClass();
    const auto info = [&table](StringView name) -> const QNSDTPropertyInfo& {
        const std::size_t index = table.indexForShortName(name);
        EXPECT_NE(index, QNSDTPropertiesInfo::npos) << toUtf8(String(name));
        return *table.entries()[index].info;
    };
    EXPECT_EQ(record->businessComponentLevel(), nullptr) << "no model installed";
    EXPECT_FALSE(record->businessComponentAttributeIsKeyForPropertyInfo(info(u"Id")));

    bctest::ScopedVoyageModel model;
    const auto level = record->businessComponentLevel();
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->name(), u"Voyage");
    EXPECT_TRUE(record->businessComponentAttributeIsKeyForPropertyInfo(info(u"Id")));
    EXPECT_FALSE(record->businessComponentAttributeIsKeyForPropertyInfo(info(u"Title")));
    EXPECT_TRUE(record->businessComponentAttributeIsReadonlyForPropertyInfo(info(u"Title")));
    EXPECT_FALSE(record->businessComponentAttributeIsReadonlyForPropertyInfo(info(u"Id")));
    EXPECT_TRUE(record->businessComponentAttributeIsReadonlyForPropertyInfo(info(u"Fare_Z")))
        << "an old value answers for the attribute it accompanies";

    // A level record without a transaction: the level its path names.
    auto stop = makeRef<bctest::SdtVoyage_Stop>();
    const auto stopLevel = stop->businessComponentLevel();
    ASSERT_NE(stopLevel, nullptr);
    EXPECT_EQ(stopLevel->name(), u"Stop");
    const QNSDTPropertiesInfo& stopTable = stop->propertiesInfoForCurrentClass();
    const std::size_t stopId = stopTable.indexForShortName(u"StopId");
    ASSERT_NE(stopId, QNSDTPropertiesInfo::npos);
    EXPECT_TRUE(
        stop->businessComponentAttributeIsKeyForPropertyInfo(*stopTable.entries()[stopId].info));

    // A transaction naming another component reads that one's (none here).
    record->trn().name = u"Cruise";
    EXPECT_EQ(record->businessComponentLevel(), nullptr);
}

TEST_F(BusinessComponentTest, OldValuesAreReadFromTheZCompanion) {
    auto record = voyage(1, log_);
    record->setFare(12);
    record->setFareOld(10);
    EXPECT_EQ(record->bcOldValueForFieldName(u"Fare").integerValue(), 10);
    EXPECT_TRUE(record->bcOldValueForFieldName(u"Title").isAbsent());
}

// A row of the host's data layer with a title and a fare only.
class VoyageRow : public QNEntityData {
public:
    Value valueForEntityDataFieldName(StringView name) const override {
        if (name == u"Title") return Value(u"From the row");
        if (name == u"Fare") return Value(std::int64_t{42});
        return Value();
    }
};

TEST_F(BusinessComponentTest, OtherSourcesSetOnlyWhatTheyHold) {
    auto record = voyage(1, log_);
    record->setPhoto(u"kept.png");
    record->loadFromEntiyData(VoyageRow());
    EXPECT_EQ(record->title(), u"From the row");
    EXPECT_EQ(record->fare(), 42);
    EXPECT_EQ(record->id(), 1);
    EXPECT_EQ(record->photo(), u"kept.png");

    test::TempDir dir;
    const auto file = dir.write("ticket.bin", std::string_view("\x01\x00\xff", 3));
    const String url = u"file://" + fromUtf8(file.string());
    ASSERT_TRUE(record->loadContentsOfFileWithPathOnAttributeWithName(url, u"Ticket"));
    ASSERT_TRUE(record->ticket().isData());
    EXPECT_EQ(record->ticket().asData(), (Bytes{0x01, 0x00, 0xff}));
    record->setTicket(Value(u"before"));
    EXPECT_FALSE(
        record->loadContentsOfFileWithPathOnAttributeWithName(fromUtf8(file.string()), u"Ticket"))
        << "a path is no file URL";
    EXPECT_FALSE(
        record->loadContentsOfFileWithPathOnAttributeWithName(url + u".missing", u"Ticket"));
    EXPECT_FALSE(record->loadContentsOfFileWithPathOnAttributeWithName(
        u"https://example.com/ticket.bin", u"Ticket"));
    EXPECT_EQ(record->ticket().asString(), u"before");
}

// --- Creation by name ----------------------------------------------------------------

TEST_F(BusinessComponentTest, ComponentsAreFoundLowerCaseThenByStyleThenInAnyCase) {
    ASSERT_TRUE(QNOfflineHelper::isSwiftGenerator()) << "the sample bundle's style";
    const struct {
        const char16_t* name;
        const char* found;
        const char* why;
    } cases[] = {
        {u"Alpha", "sdtalpha", "the lower-case class before the mixed-case one"},
        {u"Beta", "SdtBeta", "the generator's spelling before a match in any case (SDTBETA)"},
        {u"gAmMa", "SdtGamma", "any letter case"},
        {u"DELTA", "SdtDelta", "a class of the name that is no record is passed over"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        auto record = QNSdtBusinessComponent::createWithBCName(c.name);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(toUtf8(record->className()), c.found);
        EXPECT_NE(QNSdtBusinessComponent::createWithBCName(c.name), record) << "a new record";
    }
    test::ScopedCapturingLogger logger;
    {
        test::ScopedFatalErrorPolicy raise(QNUtilities::FatalErrorPolicy::kRaise);
        try {
            (void)QNSdtBusinessComponent::createWithBCName(u"Nowhere");
            ADD_FAILURE() << "no class, no exception";
        } catch (const FatalError& error) {
            EXPECT_EQ(error.reason(), u"There is no BC class named: sdtnowhere");
        }
    }
    test::ScopedFatalErrorPolicy recover(QNUtilities::FatalErrorPolicy::kRecover);
    logger->clear();
    EXPECT_EQ(QNSdtBusinessComponent::createWithBCName(u"Nowhere"), nullptr);
    EXPECT_TRUE(logger->contains(u"There is no BC class named: sdtnowhere"));
}

TEST_F(BusinessComponentTest, RecordsAreMadeByTheirSDTName) {
    const auto values = QNJSON::parse(std::string_view(R"({"Title":"Lisbon","Fare":3})"));
    auto made =
        std::dynamic_pointer_cast<SdtVoyage>(QNSdtBusinessComponent::create(u"Voyage", *values));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->title(), u"Lisbon");
    EXPECT_EQ(made->fare(), 3);
    auto stop = QNSdtBusinessComponent::createWithTypeName(u"Voyage.Stop");
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop->className(), u"SdtVoyage_Stop");
    EXPECT_EQ(QNSdtBusinessComponent::createWithTypeName(u"Nowhere"), nullptr);
}

// --- Messages ------------------------------------------------------------------------

TEST(MessageListTest, MessagesAndTheFirstError) {
    auto list = makeRef<QNMessageList>();
    list->addElement({});
    EXPECT_EQ(list->count(), 0u);
    list->addElement({Value(u"Only a description")});
    const auto message = [&list](std::size_t i) { return list->items().at(i).as<QNSDTMessage>(); };
    ASSERT_NE(message(0), nullptr);
    EXPECT_EQ(message(0)->messageDescription(), u"Only a description");
    EXPECT_EQ(message(0)->id(), u"");
    EXPECT_EQ(message(0)->type(), 0);
    EXPECT_FALSE(list->hasErrorItems());
    EXPECT_EQ(list->firstErrorMessage(), u"");

    list->addItem(u"Mind the gap", u"Warning", 0);
    EXPECT_FALSE(list->hasErrorItems()) << "a warning is no error";
    list->addItem(u"The fare is negative", 1);
    list->addItem(u"The title is empty", u"TitleEmpty", 1);
    ASSERT_EQ(list->count(), 4u);
    EXPECT_EQ(message(1)->id(), u"Warning");
    EXPECT_EQ(message(2)->id(), u"");
    EXPECT_EQ(message(2)->type(), 1);
    EXPECT_EQ(message(3)->id(), u"TitleEmpty");
    EXPECT_TRUE(list->hasErrorItems());
    EXPECT_EQ(list->firstErrorMessage(), u"The fare is negative");
}

// --- In the background ---------------------------------------------------------------

class BusinessComponentThreadTest : public BusinessComponentTest {
protected:
    // The pool lets go of the record once the item is over.
    void TearDown() override {
        qn_dispatch_wait_for_background_idle();
        BusinessComponentTest::TearDown();
    }
};

TEST_F(BusinessComponentThreadTest, OperationsRunInTheBackgroundAtPriority25ThenComplete) {
    ASSERT_NE(qn_current_dispatch_priority(), 25) << "the calling thread's priority must differ";
    using Done = std::function<void(std::optional<bool>)>;
    const struct {
        const char* what;
        std::function<void(SdtVoyage&, Done)> start;
        Calls calls;
        std::optional<bool> result;
    } cases[] = {
        {"insert",
         [](SdtVoyage& r, Done done) { r.bcInsertWithCompletion(done); },
         {"insert", "cleanup"},
         false},
        {"update",
         [](SdtVoyage& r, Done done) { r.bcUpdateWithCompletion(done); },
         {"update", "cleanup"},
         true},
        {"insertOrUpdate",
         [](SdtVoyage& r, Done done) { r.bcInsertOrUpdateWithCompletion(done); },
         {"insert", "cleanup", "update", "cleanup"},
         true},
        {"save",
         [](SdtVoyage& r, Done done) { r.bcSaveWithCompletion([done] { done(std::nullopt); }); },
         {"save", "cleanup"},
         std::nullopt},
        {"check",
         [](SdtVoyage& r, Done done) { r.bcCheckWithCompletion([done] { done(std::nullopt); }); },
         {"check"},
         std::nullopt},
        {"delete",
         [](SdtVoyage& r, Done done) { r.bcDeleteWithCompletion([done] { done(std::nullopt); }); },
         {"delete"},
         std::nullopt},
        {"loadKey",
         [](SdtVoyage& r, Done done) {
             r.bcLoadWithKeyCompletion({Value(std::int64_t{4})}, [done] { done(std::nullopt); });
         },
         {"loadKey"},
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto log = std::make_shared<CallLog>();
        auto record = voyage(1, log);
        record->setMode(u"UPD");
        record->trn().insertSucceeds = false;
        auto latch = std::make_shared<test::Latch>();
        std::optional<bool> result;
        std::thread::id completedOn;
        c.start(*record, [&, log, latch](std::optional<bool> r) {
            result = r;
            completedOn = std::this_thread::get_id();
            log->add("completion");
            latch->arrive();
        });
        ASSERT_TRUE(latch->waitFor());
        Calls expected = c.calls;
        expected.push_back("completion");
        EXPECT_EQ(log->calls(), expected);
        EXPECT_EQ(result, c.result);
        const auto context = record->trn().lastContext;
        ASSERT_TRUE(context);
        EXPECT_FALSE(context->mainThread);
        EXPECT_NE(context->thread, std::this_thread::get_id());
        EXPECT_EQ(context->priority, 25);
        EXPECT_EQ(completedOn, context->thread) << "the completion follows on the same thread";
    }
}

TEST_F(BusinessComponentThreadTest, NotificationsOfBackgroundWorkArePostedThere) {
    auto record = voyage(1, log_);
    record->setMode(u"UPD");
    NotificationRecorder notifications;
    auto latch = std::make_shared<test::Latch>();
    record->bcSaveWithCompletion([latch] { latch->arrive(); });
    ASSERT_TRUE(latch->waitFor());
    expectSavedWithMode(notifications.seen(), record, u"UPD");
}

// --- Pending uploads -------------------------------------------------------------------

// Sources are written under the application's temporary and blob folders in
// folders of the test's own, and removed with whatever the test copied into
// the uploads folder.
class PendingUploadTest : public BusinessComponentTest {
protected:
    void SetUp() override {
        BusinessComponentTest::SetUp();
        const std::string own =
            std::string("bc-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        sources_ = fs::path(toUtf8(QNFileSystemObject::tempPath())) / own;
        blobs_ = fs::path(toUtf8(QNFileSystemObject::blobDataPath())) / own;
        blobFolder_ = own;
        before_ = uploads();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(sources_, ignored);
        fs::remove_all(blobs_, ignored);
        for (const std::string& name : uploads())
            if (!before_.contains(name)) fs::remove(uploadsFolder() / name, ignored);
        BusinessComponentTest::TearDown();
    }

    static fs::path uploadsFolder() {
        return fs::path(toUtf8(QNFileSystemObject::pendingUploadsPath()));
    }
    static std::set<std::string> uploads() {
        std::set<std::string> names;
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(uploadsFolder(), ignored))
            names.insert(entry.path().filename().string());
        return names;
    }
    // The file a "$UPLOADS/..." entry names.
    static fs::path copied(const String& registered) {
        const std::string text = toUtf8(registered);
        EXPECT_TRUE(text.starts_with("$UPLOADS/")) << text;
        return uploadsFolder() / text.substr(std::string("$UPLOADS/").size());
    }
    // The synchronization message, read back.
    static Dictionary message(const SdtVoyage& record, std::vector<String>& files,
                              StringView format) {
        const auto parsed = QNJSON::parse(record.generateSynchronizationSendMessage(files, format));
        if (!parsed || !parsed->asDictionary()) {
            ADD_FAILURE() << "the message is no JSON object";
            return {};
        }
        return *parsed->asDictionary();
    }

    fs::path sources_, blobs_;
    std::string blobFolder_;
    std::set<std::string> before_;
};

String pathText(const fs::path& path) {
    return fromUtf8(path.string());
}

TEST_F(PendingUploadTest, FilesOfTheApplicationAreCopiedAndTheirPositionsWritten) {
    const auto ticket = sources_ / "ticket.pdf";
    test::writeFile(ticket, "%PDF ticket");
    test::writeFile(blobs_ / "photo.png", "png bytes");
    auto record = voyage(1, log_);
    record->setPhoto(fromUtf8("qnblobdata://" + blobFolder_ + "/photo.png"));
    record->setTicket(Value(pathText(ticket)));

    std::vector<String> files;
    const Dictionary sent = message(*record, files, u"<file:%d>");
    EXPECT_EQ(sent.get(u"Photo").asString(), u"<file:0>");
    EXPECT_EQ(sent.get(u"Ticket").asString(), u"<file:1>");
    EXPECT_EQ(sent.get(u"Id").integerValue(), 1);
    EXPECT_FALSE(sent.contains(u"Mode"));
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(toUtf8(files[0]).ends_with(".png")) << toUtf8(files[0]);
    EXPECT_TRUE(toUtf8(files[1]).ends_with(".pdf")) << toUtf8(files[1]);
    EXPECT_NE(files[0], files[1]);
    EXPECT_EQ(test::readFile(copied(files[0])), "png bytes");
    EXPECT_EQ(test::readFile(copied(files[1])), "%PDF ticket");
    EXPECT_TRUE(fs::exists(ticket)) << "copied, not moved";
    EXPECT_EQ(record->ticket().asString(), pathText(ticket)) << "the record keeps its value";
    EXPECT_EQ(uploads().size(), before_.size() + 2);

    // A binary field nobody assigned is not sent, so nothing is queued.
    auto untouched = voyage(2, log_);
    untouched->setTicket(Value(pathText(ticket)));
    untouched->resetDirties();
    std::vector<String> none;
    EXPECT_FALSE(message(*untouched, none, u"<file:%d>").contains(u"Ticket"));
    EXPECT_TRUE(none.empty());
}

TEST_F(PendingUploadTest, ThePositionIsWrittenIntoTheFormatLiterally) {
    const auto ticket = sources_ / "ticket.pdf";
    test::writeFile(ticket, "pdf");
    const struct {
        StringView format;
        StringView expected;  // "" for the registered path
    } cases[] = {
        {u"<file:%d>", u"<file:0>"},
        {u"%s%n<%d>", u"%s%n<0>"},
        {u"%%<%lld>%d", u"%<0>%d"},
        {u"file:%@", u"file:0"},
        {u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(String(c.format)));
        auto record = voyage(1, log_);
        record->setTicket(Value(pathText(ticket)));
        std::vector<String> files;
        const Dictionary sent = message(*record, files, c.format);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(sent.get(u"Ticket").asString(),
                  c.expected.empty() ? files[0] : String(c.expected));
    }
}

TEST_F(PendingUploadTest, RemoteAndForeignFilesAreNeverQueued) {
    test::TempDir outside;
    const auto secret = outside.write("secret.txt", "secret");
    const auto link = sources_ / "link.txt";
    fs::create_directories(sources_);
    fs::create_symlink(secret, link);
    test::ScopedCapturingLogger logger;
    const struct {
        const char* what;
        String value;
        String logged;  // "" when nothing is logged
    } cases[] = {
        {"a remote URL", u"https://example.com/ticket.pdf", u""},
        {"a path outside the application", pathText(secret),
         u"file://" + pathText(secret) + u" (outside the application's folders)"},
        {"its file URL", u"file://" + pathText(secret),
         u"file://" + pathText(secret) + u" (outside the application's folders)"},
        {"a link inside the application to a file outside", pathText(link),
         u"file://" + pathText(link) + u" (outside the application's folders)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        logger->clear();
        auto record = voyage(1, log_);
        record->setTicket(Value(c.value));
        std::vector<String> files;
        EXPECT_EQ(message(*record, files, u"<file:%d>").get(u"Ticket").asString(), c.value);
        EXPECT_TRUE(files.empty());
        if (c.logged.empty()) {
            EXPECT_TRUE(logger->lines().empty());
        } else {
            EXPECT_TRUE(
                logger->contains(u"Could not copy file to pending uploads directory: " + c.logged));
        }
    }
    EXPECT_EQ(uploads(), before_) << "nothing was copied";
}

TEST_F(PendingUploadTest, AMissingSourceIsLoggedAndRegisteredAsItIs) {
    const auto gone = sources_ / "gone.pdf";
    test::ScopedCapturingLogger logger;
    auto record = voyage(1, log_);
    record->setTicket(Value(pathText(gone)));
    std::vector<String> files;
    const Dictionary sent = message(*record, files, u"<file:%d>");
    EXPECT_TRUE(logger->contains(u"Could not copy file to pending uploads directory: file://" +
                                 pathText(gone)));
    EXPECT_EQ(files, std::vector<String>{pathText(gone)}) << "the local file stays the upload";
    EXPECT_EQ(sent.get(u"Ticket").asString(), u"<file:0>");
    EXPECT_EQ(uploads(), before_);
}

// Makes an image's upload bytes: "IMG:" and the file's bytes reversed.
class ReversingImageHelper : public QNImageUploadHelper {
public:
    std::optional<Bytes> imageUploadDataFromURL(StringView fileURL,
                                                const QNEntityDataFieldInfo* typeInfo,
                                                const QNEntityDataFieldInfo*,
                                                QNError* error) override {
        urls.emplace_back(fileURL);
        dataTypes.push_back(typeInfo ? typeInfo->dataType() : -1);
        if (refuse) {
            if (error) *error = QNError::defaultQNErrorWithDeveloperDescription(u"refused");
            return std::nullopt;
        }
        const std::string prefix = "file://";
        std::string contents = test::readFile(toUtf8(String(fileURL)).substr(prefix.size()));
        std::reverse(contents.begin(), contents.end());
        contents = "IMG:" + contents;
        return Bytes(contents.begin(), contents.end());
    }
    std::vector<String> urls;
    std::vector<int> dataTypes;
    bool refuse = false;
};

class ScopedImageHelper {
public:
    explicit ScopedImageHelper(std::shared_ptr<QNImageUploadHelper> helper) {
        QNImageUploadHelper::setSharedHelper(std::move(helper));
    }
    ~ScopedImageHelper() { QNImageUploadHelper::setSharedHelper(nullptr); }
};

TEST_F(PendingUploadTest, ImagesGoThroughTheImageUploadHelper) {
    const auto face = sources_ / "face.jpg";
    const auto ticket = sources_ / "ticket.pdf";
    test::writeFile(face, "abc");
    test::writeFile(ticket, "pdf");
    auto helper = std::make_shared<ReversingImageHelper>();
    ScopedImageHelper installed(helper);

    auto record = voyage(1, log_);
    record->setPhoto(pathText(face));
    record->setTicket(Value(pathText(ticket)));
    std::vector<String> files;
    (void)message(*record, files, u"<file:%d>");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(test::readFile(copied(files[0])), "IMG:cba");
    EXPECT_EQ(test::readFile(copied(files[1])), "pdf") << "a blob is copied as it is";
    EXPECT_EQ(helper->urls, std::vector<String>{u"file://" + pathText(face)});
    EXPECT_EQ(helper->dataTypes, std::vector<int>{QNEntityDataTypeImage});

    // When the helper cannot make the bytes the local file stays the upload.
    helper->refuse = true;
    test::ScopedCapturingLogger logger;
    const auto queued = uploads();
    auto refused = voyage(2, log_);
    refused->setPhoto(pathText(face));
    std::vector<String> kept;
    EXPECT_EQ(message(*refused, kept, u"<file:%d>").get(u"Photo").asString(), u"<file:0>");
    EXPECT_EQ(kept, std::vector<String>{pathText(face)});
    EXPECT_TRUE(logger->contains(u"Could not copy file to pending uploads directory: file://" +
                                 pathText(face)));
    EXPECT_EQ(uploads(), queued);
}

}  // namespace
