// Business-component collections: bulk operations over every item, look-up
// and removal by key, the grid's modes, and the operations in the
// background.
#include "bc/voyage_fixture.h"

using namespace qn;
using bctest::CallLog;
using bctest::SdtVoyage;
using bctest::voyage;
using Calls = std::vector<std::string>;

namespace {

class TrnCollectionTest : public ::testing::Test {
protected:
    // A collection of SdtVoyage holding `items` in order.
    template <class Collection = QNSilentTrnCollection>
    static Ref<Collection> collectionOf(std::initializer_list<Value> items) {
        auto collection = Collection::initWithTypeName(u"SdtVoyage");
        for (const Value& item : items)
            collection->addItem(item);
        return collection;
    }

    bctest::ScopedVoyageSDT sdt_;
    std::shared_ptr<CallLog> log_ = std::make_shared<CallLog>();
};

TEST_F(TrnCollectionTest, BulkOperationsVisitEveryItemInOrderAndNeverStopEarly) {
    const struct {
        const char* what;
        bool (QNSilentTrnCollection::*operation)();
        Calls calls;
    } cases[] = {
        {"insert",
         &QNSilentTrnCollection::insert,
         {"a.insert", "a.cleanup", "b.insert", "b.cleanup", "c.insert", "c.cleanup"}},
        {"update",
         &QNSilentTrnCollection::update,
         {"a.update", "a.cleanup", "b.update", "b.cleanup", "c.update", "c.cleanup"}},
        {"insertOrUpdate",
         &QNSilentTrnCollection::insertOrUpdate,
         {"a.insert", "a.cleanup", "b.insert", "b.cleanup", "b.update", "b.cleanup", "c.insert",
          "c.cleanup"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto log = std::make_shared<CallLog>();
        auto a = voyage(1, log, "a");
        auto b = voyage(2, log, "b");
        auto c3 = voyage(3, log, "c");
        b->trn().insertSucceeds = false;
        // Every record succeeds on its own (b by its update): only the item
        // that is no record makes the whole fail.
        auto mixed = collectionOf({Value(a), Value(b), Value(u"not a record"), Value(c3)});
        EXPECT_FALSE(((*mixed).*c.operation)());
        EXPECT_EQ(log->calls(), c.calls);

        auto log2 = std::make_shared<CallLog>();
        auto records = collectionOf({Value(voyage(1, log2, "a")), Value(voyage(2, log2, "b"))});
        EXPECT_TRUE(((*records).*c.operation)()) << "every record succeeded";

        auto refused = voyage(4, std::make_shared<CallLog>());
        refused->trn().insertSucceeds = false;
        refused->trn().updateSucceeds = false;
        auto failing = collectionOf({Value(refused), Value(voyage(5, log2, "z"))});
        EXPECT_FALSE(((*failing).*c.operation)()) << "a record that fails makes the whole fail";
        EXPECT_EQ(log2->calls().back(), "z.cleanup") << "the record after it still ran";

        EXPECT_TRUE(((*QNSilentTrnCollection::initWithTypeName(u"SdtVoyage")).*c.operation)())
            << "an empty collection";
    }
}

TEST_F(TrnCollectionTest, RecordsAreFoundAndRemovedByTheirKey) {
    auto first = voyage(1, log_);
    auto second = voyage(2, log_);
    auto third = voyage(3, log_);
    second->setTitle(u"b");
    // Items that are no records are passed over.
    const Value other(QNObjectCollection::init());
    auto collection =
        collectionOf({Value(first), other, Value(u"text"), Value(second), Value(third)});

    EXPECT_EQ(collection->getByKey({Value(std::int64_t{2})}), second);
    EXPECT_EQ(collection->getByKey({Value(std::int64_t{3})}), third);
    const auto blank = collection->getByKey({Value(std::int64_t{2}), Value(u"b")});
    ASSERT_NE(blank, nullptr);
    EXPECT_NE(blank, second) << "a wrong number of key values finds nothing";
    EXPECT_EQ(blank->className(), u"SdtVoyage");
    EXPECT_FALSE(std::dynamic_pointer_cast<SdtVoyage>(blank)->id());
    const auto missing = collection->getByKey({Value(std::int64_t{9})});
    EXPECT_NE(missing, first);
    EXPECT_NE(missing, second);
    EXPECT_NE(missing, third);
    EXPECT_EQ(collection->count(), 5u) << "blank records are not added";

    // A key of two parts must match in both.
    first->primaryKey = u"[\"Id\",\"Title\"]";
    EXPECT_EQ(collection->getByKey({Value(std::int64_t{2}), Value(u"b")}), second);
    EXPECT_NE(collection->getByKey({Value(std::int64_t{2}), Value(u"x")}), second);
    first->primaryKey = u"[\"Id\"]";

    EXPECT_FALSE(collection->removeByKey({Value(std::int64_t{9})}));
    EXPECT_EQ(collection->count(), 5u);
    EXPECT_TRUE(collection->removeByKey({Value(std::int64_t{2})}));
    ASSERT_EQ(collection->count(), 4u);
    EXPECT_EQ(collection->items()[2].asString(), u"text");
    EXPECT_EQ(collection->items()[3].asObject(), third);
}

TEST_F(TrnCollectionTest, AKeyTheRecordCannotAnswerFindsNothing) {
    auto first = voyage(1, log_);
    auto second = voyage(2, log_);
    auto collection = collectionOf({Value(first), Value(second)});
    // The key is described by the first item: a name its mapping lacks.
    first->primaryKey = u"[\"Nope\"]";
    EXPECT_NE(collection->getByKey({Value(std::int64_t{1})}), first);
    EXPECT_NE(collection->getByKey({Value(std::int64_t{2})}), second);
    EXPECT_FALSE(collection->removeByKey({Value(std::int64_t{1})}));
    EXPECT_EQ(collection->count(), 2u);
    first->primaryKey = u"[\"Id\"]";

    // An item whose key has no value matches no key, not even an absent one.
    auto keyless = voyage(std::nullopt, log_);
    auto keyed = collectionOf({Value(keyless), Value(second)});
    EXPECT_NE(keyed->getByKey({Value()}), keyless);
    EXPECT_EQ(keyed->getByKey({Value(std::int64_t{2})}), second);
    EXPECT_FALSE(keyed->removeByKey({Value()}));
}

TEST_F(TrnCollectionTest, WithoutAnItemClassNoBlankRecordCanBeMade) {
    auto collection = QNSilentTrnCollection::initWithTypeName(u"NoSuchClass");
    test::ScopedCapturingLogger logger;
    {
        test::ScopedFatalErrorPolicy raise(QNUtilities::FatalErrorPolicy::kRaise);
        EXPECT_THROW((void)collection->getByKey({Value(std::int64_t{1})}), FatalError);
    }
    test::ScopedFatalErrorPolicy recover(QNUtilities::FatalErrorPolicy::kRecover);
    logger->clear();
    const auto blank = collection->getByKey({Value(std::int64_t{1})});
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(blank->className(), u"QNSdtBusinessComponent");
    EXPECT_TRUE(logger->contains(u"Could not create BC collection item instance (NoSuchClass)."));
}

TEST_F(TrnCollectionTest, GridRowsWithoutAModeAreForInsertion) {
    const auto withMode = [this](std::int64_t id, StringView mode) {
        auto record = voyage(id, log_);
        if (!mode.empty()) record->setMode(mode);
        return record;
    };
    auto added = withMode(1, u"");
    auto read = withMode(2, u"UPD");
    auto atIndex = withMode(3, u"");
    auto grid = QnSilentTrnGridCollection::initWithTypeName(u"SdtVoyage");
    grid->addItem(Value(added));
    grid->addItem(Value(read));
    grid->addItemAtIndex(Value(atIndex), 1);
    EXPECT_EQ(added->getMode(), u"INS");
    EXPECT_EQ(read->getMode(), u"UPD");
    EXPECT_EQ(atIndex->getMode(), u"INS");
    EXPECT_EQ(grid->items()[0].asObject(), atIndex);

    auto set1 = withMode(4, u"");
    auto set2 = withMode(5, u"UPD");
    auto replaced = QnSilentTrnGridCollection::initWithTypeName(u"SdtVoyage");
    replaced->setItems({Value(set1), Value(set2)});
    EXPECT_EQ(set1->getMode(), u"INS");
    EXPECT_EQ(set2->getMode(), u"UPD");

    // A plain collection leaves modes alone.
    auto plain = withMode(6, u"");
    collectionOf({Value(plain)});
    EXPECT_EQ(plain->getMode(), u"");
}

TEST_F(TrnCollectionTest, GridRowsReadFromTheDatabaseAreMarkedForDeletionInstead) {
    auto read = voyage(1, log_);
    read->setMode(u"UPD");
    auto fresh = voyage(2, log_);
    auto grid = collectionOf<QnSilentTrnGridCollection>({Value(read), Value(fresh)});
    EXPECT_TRUE(grid->removeByKey({Value(std::int64_t{1})}));
    EXPECT_EQ(grid->count(), 2u) << "kept for the bulk delete";
    EXPECT_EQ(read->getMode(), u"DLT");
    EXPECT_TRUE(grid->removeByKey({Value(std::int64_t{2})}));
    ASSERT_EQ(grid->count(), 1u);
    EXPECT_EQ(grid->items()[0].asObject(), read);
    EXPECT_FALSE(grid->removeByKey({Value(std::int64_t{9})}));
    EXPECT_EQ(grid->count(), 1u);
}

class TrnCollectionThreadTest : public TrnCollectionTest {
protected:
    void TearDown() override { qn_dispatch_wait_for_background_idle(); }
};

TEST_F(TrnCollectionThreadTest, BulkOperationsRunInTheBackgroundThenComplete) {
    using Done = std::function<void(std::optional<bool>)>;
    const struct {
        const char* what;
        std::function<void(QNSilentTrnCollection&, Done)> start;
        Calls calls;
        std::optional<bool> result;
    } cases[] = {
        {"insert",
         [](QNSilentTrnCollection& c, Done done) { c.bcInsert(done); },
         {"a.insert", "a.cleanup", "b.insert", "b.cleanup"},
         false},
        {"update",
         [](QNSilentTrnCollection& c, Done done) { c.bcUpdateWithCompletion(done); },
         {"a.update", "a.cleanup", "b.update", "b.cleanup"},
         true},
        {"insertOrUpdate",
         [](QNSilentTrnCollection& c, Done done) { c.bcInsertOrUpdate(done); },
         {"a.insert", "a.cleanup", "b.insert", "b.cleanup", "b.update", "b.cleanup"},
         true},
        {"delete",
         [](QNSilentTrnCollection& c, Done done) { c.bcDelete([done] { done(std::nullopt); }); },
         {"a.delete", "b.delete"},
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto log = std::make_shared<CallLog>();
        auto a = voyage(1, log, "a");
        auto b = voyage(2, log, "b");
        b->trn().insertSucceeds = false;
        auto collection = collectionOf({Value(a), Value(b)});
        auto latch = std::make_shared<test::Latch>();
        std::optional<bool> result;
        c.start(*collection, [&result, log, latch](std::optional<bool> r) {
            result = r;
            log->add("completion");
            latch->arrive();
        });
        ASSERT_TRUE(latch->waitFor());
        Calls expected = c.calls;
        expected.push_back("completion");
        EXPECT_EQ(log->calls(), expected);
        EXPECT_EQ(result, c.result);
        const auto context = b->trn().lastContext;
        ASSERT_TRUE(context);
        EXPECT_FALSE(context->mainThread);
        EXPECT_NE(context->thread, std::this_thread::get_id());
        EXPECT_EQ(context->priority, 25);
    }
}

}  // namespace
