// The data-store provider on a real database through the manager's
// connection: runtime operators, cursors opened, read and closed, dynamic
// cursors, failures that must leave the cursor closed, and eight providers
// writing at once.
#include <qn/core/containers.h>
#include <qn/files/file_system_object.h>
#include <qn/offline/data_store.h>
#include <qn/offline/db_manager.h>

#include <stdexcept>

#include "offline/process_support.h"
#include "support/test_support.h"

using namespace qn;
using namespace qn::test;
namespace fs = std::filesystem;

namespace {

enum Cursors : std::int64_t {
    kSelectByFare = 0,
    kInsert = 1,
    kDynamic = 2,
    kQuoted = 3,
    kDynamicUpper = 4,
    kMissing = 9,
};

// A generated program's helper: trips by fare, an insert, a dynamic cursor
// whose conditions depend on two flags.
class TripsHelper : public QNDataStoreHelperBase {
public:
    std::shared_ptr<const QNCursor> getCursor(std::int64_t cursor) override {
        switch (cursor) {
            case kSelectByFare:
                return std::make_shared<ForEachCursor>(
                    u"T1", u"SELECT id, name, fare FROM trip WHERE fare {{op}} ? ORDER BY id");
            case kInsert:
                return std::make_shared<UpdateCursor>(
                    u"T2", u"INSERT INTO trip (id, name, fare) VALUES (?, ?, ?)");
            case kDynamic:
                return std::make_shared<ForEachCursor>(u"T3", u"scmdbuf");
            case kDynamicUpper:
                return std::make_shared<ForEachCursor>(u"T5", u"SCMDBUF");
            case kQuoted:
                return std::make_shared<ForEachCursor>(
                    u"T4", u"SELECT id FROM trip WHERE name = 'x{{op}}' AND fare > ?");
            default:
                return nullptr;
        }
    }

    // values: [by name?, by fare?]; the statement always has both
    // placeholders, the flags leave out the parameters of absent conditions.
    std::vector<Value> getDynamicStatement(std::int64_t cursor,
                                           const std::vector<Value>& values) override {
        if ((cursor != kDynamic && cursor != kDynamicUpper) || values.size() != 2) return {};
        String where;
        auto flags = makeRef<Array>();
        if (values[0].boolValue()) where = addWhere(where, u"name = ?");
        flags->append(Value(values[0].boolValue() ? 0 : 1));
        if (values[1].boolValue()) where = addWhere(where, u"fare {{op}} ?");
        flags->append(Value(values[1].boolValue() ? 0 : 1));
        return {Value(u"SELECT id FROM trip" + where + u" ORDER BY id"), Value(flags)};
    }
};

std::vector<std::int64_t> readIds(QNDataStoreProvider& provider, std::int64_t cursor) {
    std::vector<std::int64_t> ids;
    for (provider.readNext(cursor); provider.getStatus(cursor) == QN_STATUS_OK;
         provider.readNext(cursor))
        ids.push_back(provider.getDBCommand(cursor)->int64ValueForColumn(u"id"));
    return ids;
}

class DataStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundle_.write("model.json", R"({"appName": "Stores", "connectivitySupport": 1})");
        scope_ = std::make_unique<ScopedBundle>(bundle_.path());
        QNDBManager::sharedInstance().resetDatabaseConnections();
        ASSERT_EQ(
            QNDBManager::executeInDatastoreCommandString(
                u"DEFAULT",
                u"CREATE TABLE trip (id INTEGER PRIMARY KEY, name TEXT NOT NULL, fare NUMERIC)"),
            QN_STATUS_OK);
        QNDBManager::sharedInstance().commit();
        QNThreadErrorHandler::errorHandler().clear();
    }
    void TearDown() override {
        QNDBManager::sharedInstance().rollback();
        scope_.reset();
        QNDBManager::sharedInstance().resetDatabaseConnections();
        QNThreadErrorHandler::errorHandler().clear();
    }

    QNDataStoreProvider& provider() { return provider_; }

    std::int64_t insert(std::int64_t id, StringView name, const Value& fare) {
        provider_.execute(kInsert, {Value(id), Value(name), fare}, {false, false, false}, {});
        const std::int64_t status = provider_.getStatus(kInsert);
        provider_.close(kInsert);
        return status;
    }

    TempDir bundle_;
    std::unique_ptr<ScopedBundle> scope_;
    QNDataStoreProvider provider_{std::make_shared<TripsHelper>(), {{}}};
};

// --- Runtime operators ---

TEST(RuntimeOperatorsTest, OnlyListedOperatorsReplaceTheFirstPlaceholderOutsideQuotes) {
    auto apply = [](StringView s, QNRuntimeOperators r) {
        return QNDataStoreProvider::applyRuntimeOperators(s, r);
    };
    EXPECT_EQ(apply(u"a {{op}} ?", {{u"op", u"<="}}), String(u"a <= ?"));
    EXPECT_EQ(apply(u"a {{OP}} ?", {{u"Op", u"like"}}), String(u"a like ?"))
        << "the placeholder is found ignoring case";
    EXPECT_EQ(apply(u"a {{op}} ? or b {{op}} ?", {{u"op", u"<>"}}), String(u"a <> ? or b {{op}} ?"))
        << "only the first occurrence";
    for (const char16_t* op : {u"<", u"<=", u">", u">=", u"=", u"<>", u"like"})
        EXPECT_TRUE(apply(u"a {{op}} ?", {{u"op", op}}).has_value()) << toUtf8(String(op));
    for (const char16_t* op : {u"!=", u"LIKE", u"", u"= 1 OR 1 =", u"<= ? --"})
        EXPECT_FALSE(apply(u"a {{op}} ?", {{u"op", op}}).has_value()) << toUtf8(String(op));
    EXPECT_FALSE(apply(u"a {{op}} ?", {{u"other", u"<"}}).has_value()) << "every name must occur";
    EXPECT_FALSE(apply(u"a = '{{op}}'", {{u"op", u"<"}}).has_value()) << "inside a literal";
    EXPECT_EQ(apply(u"a = 'x' and b {{op}} ?", {{u"op", u"<"}}), String(u"a = 'x' and b < ?"));
    EXPECT_EQ(apply(u"scmdbuf", {{u"op", u"<"}}), String(u"scmdbuf")) << "the marker, exactly";
    EXPECT_FALSE(apply(u"SCMDBUF", {{u"op", u"<"}}).has_value());

    // Applied in the order given: each takes the first placeholder that
    // matches it ignoring case.
    EXPECT_EQ(apply(u"{{a}} {{A}}", {{u"a", u"<"}, {u"A", u">"}}), String(u"< >"));
    EXPECT_EQ(apply(u"{{a}} {{A}}", {{u"A", u">"}, {u"a", u"<"}}), String(u"> <"));

    // Positions map back exactly past characters outside the BMP and
    // letters whose case folding is not ASCII.
    EXPECT_EQ(apply(u"\U0001D400 x {{\u00C4b}} ?", {{u"\u00E4B", u"="}}),
              String(u"\U0001D400 x = ?"));
}

// --- Cursors ---

TEST_F(DataStoreTest, CursorsRunReadAndReportTheirStatus) {
    EXPECT_EQ(provider().getStatus(kSelectByFare), 101) << "never executed";
    provider().close(kSelectByFare);  // not open: nothing happens

    EXPECT_EQ(insert(1, u"Lisbon", Value(Decimal::fromString("1250.50"))), 0);
    EXPECT_EQ(insert(2, u"Madrid", Value(Decimal::fromString("145.90"))), 0);
    EXPECT_EQ(insert(3, u"Rio", Value(std::int64_t{980})), 0);

    // A duplicate key: the command's status and the database's code.
    QNThreadErrorHandler::errorHandler().clear();
    provider().execute(kInsert, {Value(1), Value(u"again"), Value(1)}, {false, false, false}, {});
    EXPECT_EQ(provider().getStatus(kInsert) & QN_MASKDUPKEY, QN_MASKDUPKEY);
    ASSERT_TRUE(QNThreadErrorHandler::errorHandler().hasErrors());
    EXPECT_EQ(QNThreadErrorHandler::errorHandler().lastError()->code(), 19);
    provider().close(kInsert);

    provider().execute(kSelectByFare, {Value(Decimal::fromString("900"))}, {false},
                       {{u"op", u">="}});
    std::vector<std::pair<std::int64_t, String>> rows;
    for (provider().readNext(kSelectByFare); provider().getStatus(kSelectByFare) == 0;
         provider().readNext(kSelectByFare)) {
        auto command = provider().getDBCommand(kSelectByFare);
        rows.emplace_back(command->int64ValueForColumn(u"id"),
                          command->decimalValueForColumn(u"fare").toString());
    }
    EXPECT_EQ(rows, (std::vector<std::pair<std::int64_t, String>>{{1, u"1250.5"}, {3, u"980"}}));
    EXPECT_EQ(provider().getStatus(kSelectByFare), 101) << "past the last row";
    provider().close(kSelectByFare);
    EXPECT_EQ(provider().getStatus(kSelectByFare), 101);
    EXPECT_TRUE(provider().openCursors().empty());
}

TEST_F(DataStoreTest, ARunThatMakesNoCommandClosesTheCursor) {
    ASSERT_EQ(insert(1, u"a", Value(10)), 0);
    ASSERT_EQ(insert(2, u"b", Value(20)), 0);
    provider().execute(kSelectByFare, {Value(0)}, {false}, {{u"op", u">"}});
    provider().readNext(kSelectByFare);
    ASSERT_EQ(provider().getStatus(kSelectByFare), 0);

    // A refused operator: the earlier rows must not go on as if this had run.
    QNThreadErrorHandler::errorHandler().clear();
    provider().execute(kSelectByFare, {Value(0)}, {false}, {{u"op", u"!="}});
    EXPECT_EQ(provider().getStatus(kSelectByFare), 101);
    provider().readNext(kSelectByFare);
    EXPECT_EQ(provider().getStatus(kSelectByFare), 101);
    EXPECT_FALSE(provider().openCursors().contains(kSelectByFare));
    EXPECT_TRUE(QNThreadErrorHandler::errorHandler().hasErrors());

    // A placeholder inside a literal, an unknown cursor, no helper: closed.
    provider().execute(kQuoted, {Value(0)}, {false}, {{u"op", u"<"}});
    EXPECT_EQ(provider().getStatus(kQuoted), 101);
    provider().execute(kMissing, {}, {}, {});
    EXPECT_EQ(provider().getStatus(kMissing), 101);
    QNDataStoreProvider bare;
    bare.execute(kSelectByFare, {Value(0)}, {false}, {{u"op", u">"}});
    EXPECT_EQ(bare.getStatus(kSelectByFare), 101);
    EXPECT_EQ(bare.buffers().size(), 1u);
}

TEST_F(DataStoreTest, RunningAnOpenCursorAgainReplacesItsCommandWithoutClosingIt) {
    ASSERT_EQ(insert(1, u"a", Value(10)), 0);
    provider().execute(kSelectByFare, {Value(0)}, {false}, {{u"op", u">"}});
    provider().readNext(kSelectByFare);
    auto first = provider().getDBCommand(kSelectByFare);
    provider().execute(kSelectByFare, {Value(100)}, {false}, {{u"op", u">"}});
    EXPECT_NE(provider().getDBCommand(kSelectByFare), first);
    EXPECT_EQ(first->status(), 0u) << "the earlier command is not closed";
    EXPECT_EQ(first->stringValueForColumn(u"name"), u"a");
    provider().readNext(kSelectByFare);
    EXPECT_EQ(provider().getStatus(kSelectByFare), 101) << "the new run has no rows";
    first->close();
}

TEST_F(DataStoreTest, DynamicCursorsBindTheFlaggedParametersWithTheirNullFlags) {
    ASSERT_EQ(insert(1, u"a", Value(10)), 0);
    ASSERT_EQ(insert(2, u"b", Value(20)), 0);
    ASSERT_EQ(insert(3, u"b", Value(30)), 0);

    // Both conditions: name = ? and fare >= ?.
    provider().dynParam(kDynamic, {{Value(true), Value(true)}});
    ASSERT_TRUE(provider().dynStatements().contains(kDynamic));
    provider().execute(kDynamic, {Value(u"b"), Value(25)}, {false, false}, {{u"op", u">="}});
    EXPECT_EQ(readIds(provider(), kDynamic), (std::vector<std::int64_t>{3}));

    // Only the fare: the name parameter (flag 1) is left out, and its null
    // flag with it, so the fare is bound as given.
    provider().dynParam(kDynamic, {{Value(false), Value(true)}});
    provider().execute(kDynamic, {Value(u"ignored"), Value(15)}, {true, false}, {{u"op", u">"}});
    EXPECT_EQ(readIds(provider(), kDynamic), (std::vector<std::int64_t>{2, 3}));

    // The null flag of a kept parameter stays with it: NULL matches nothing.
    provider().execute(kDynamic, {Value(u"ignored"), Value(15)}, {false, true}, {{u"op", u">"}});
    EXPECT_EQ(readIds(provider(), kDynamic), (std::vector<std::int64_t>{}));

    // No condition: nothing is bound.
    provider().dynParam(kDynamic, {{Value(false), Value(false)}});
    provider().execute(kDynamic, {Value(u"x"), Value(1)}, {false, false}, {});
    EXPECT_EQ(readIds(provider(), kDynamic), (std::vector<std::int64_t>{1, 2, 3}));

    // The marker is recognised ignoring case when no operator is applied to
    // it; an operator applied to anything but the exact marker needs its
    // placeholder, so that run makes no command.
    provider().dynParam(kDynamicUpper, {{Value(true), Value(false)}});
    provider().execute(kDynamicUpper, {Value(u"a"), Value(0)}, {false, false}, {});
    EXPECT_EQ(readIds(provider(), kDynamicUpper), (std::vector<std::int64_t>{1}));
    provider().execute(kDynamicUpper, {Value(u"a"), Value(0)}, {false, false}, {{u"op", u"<"}});
    EXPECT_EQ(provider().getStatus(kDynamicUpper), 101);
    EXPECT_FALSE(provider().openCursors().contains(kDynamicUpper));

    // Without a dynamic text the marker runs and the database refuses it.
    QNDataStoreProvider fresh(std::make_shared<TripsHelper>(), {});
    fresh.execute(kDynamic, {}, {}, {});
    EXPECT_GT(fresh.getStatus(kDynamic), 1000);
}

TEST_F(DataStoreTest, DynamicTextAndFlagsAreStoredIndependently) {
    class OddHelper : public QNDataStoreHelperBase {
    public:
        std::vector<Value> getDynamicStatement(std::int64_t cursor,
                                               const std::vector<Value>&) override {
            if (cursor == 1) return {Value(7), Value(makeRef<Array>(Array{Value(0), Value(1)}))};
            if (cursor == 2) return {Value(u"SELECT 1"), Value(u"not flags")};
            return {Value(u"SELECT 1")};
        }
    };
    QNDataStoreProvider odd(std::make_shared<OddHelper>(), {});
    odd.dynParam(1, {{Value(1)}});
    EXPECT_FALSE(odd.dynStatements().contains(1));
    EXPECT_EQ(odd.dynStatementParams()[1], (std::vector<std::int64_t>{0, 1}));
    odd.dynParam(2, {{Value(1)}});
    EXPECT_EQ(odd.dynStatements()[2], u"SELECT 1");
    EXPECT_FALSE(odd.dynStatementParams().contains(2));
    odd.dynParam(3, {{Value(1)}});
    EXPECT_FALSE(odd.dynStatements().contains(3)) << "one element is no dynamic text";
    odd.dynParam(3, {});
    EXPECT_FALSE(odd.dynStatements().contains(3));
}

TEST_F(DataStoreTest, AddWhereJoinsConditions) {
    TripsHelper helper;
    const String first = helper.addWhere(u"", u"a = ?");
    EXPECT_EQ(first, u" WHERE a = ?");
    EXPECT_EQ(helper.addWhere(first, u"b > ?"), u" WHERE a = ? AND b > ?");
}

TEST_F(DataStoreTest, TheCommandOfAClosedCursorIsReportedAndInertUnderRecover) {
    {
        ScopedFatalErrorPolicy raise(QNUtilities::FatalErrorPolicy::kRaise);
        EXPECT_THROW(provider().getDBCommand(kSelectByFare), FatalError);
    }
    ScopedFatalErrorPolicy recover(QNUtilities::FatalErrorPolicy::kRecover);
    auto inert = provider().getDBCommand(kSelectByFare);
    ASSERT_NE(inert, nullptr);
    EXPECT_EQ(inert->status(), 101u);
    inert->fetch();
    EXPECT_EQ(inert->stringValueForColumn(u"name"), u"");
    EXPECT_EQ(inert->int64ValueForColumn(u"id"), 0);
    EXPECT_TRUE(inert->decimalValueForColumn(u"fare").isZero());
}

TEST_F(DataStoreTest, BlobFilesFollowTheTransaction) {
    const fs::path blobs = toUtf8(QNFileSystemObject::blobDataPath());
    const fs::path written = blobs / "data-store-test-written.bin";
    const fs::path removed = blobs / "data-store-test-removed.bin";
    writeFile(written, "new");
    writeFile(removed, "old");

    ASSERT_EQ(insert(1, u"a", Value(1)), 0);  // opens the transaction
    provider().addInsertedBlobURLAbsoluteString(fromUtf8(written.string()));
    provider().addDeletedBlobURLAbsoluteString(fromUtf8(removed.string()));
    QNDBManager::sharedInstance().rollback();
    EXPECT_FALSE(fs::exists(written)) << "written by work that was rolled back";
    EXPECT_TRUE(fs::exists(removed)) << "its removal was rolled back";

    ASSERT_EQ(insert(2, u"b", Value(1)), 0);
    provider().addDeletedBlobURLAbsoluteString(fromUtf8(removed.string()));
    QNDBManager::sharedInstance().commit();
    EXPECT_FALSE(fs::exists(removed));
}

TEST_F(DataStoreTest, ConcurrentProvidersShareTheConnection) {
    constexpr int kThreads = 8;
    constexpr int kRows = 1000;
    std::atomic<int> failures{0};
    onThreads(kThreads, [&](int thread) {
        QNDataStoreProvider own(std::make_shared<TripsHelper>(), {});
        for (int i = 0; i < kRows; ++i) {
            const std::int64_t id = std::int64_t{thread} * kRows + i + 1;
            own.execute(kInsert, {Value(id), Value(u"t"), Value(Decimal(i))}, {false, false, false},
                        {});
            if (own.getStatus(kInsert) != 0) ++failures;
            own.close(kInsert);
            if (i % 97 == 0) QNDBManager::sharedInstance().commit();
        }
        QNDBManager::sharedInstance().commit();
    });
    EXPECT_EQ(failures.load(), 0);
    auto connection = QNDBManager::sharedInstance().connectionForDatastore(u"DEFAULT");
    auto count = connection->commandWithSQLStatement(u"SELECT COUNT(*) FROM trip");
    EXPECT_EQ(count->executeScalar().integerValue(), kThreads * kRows);
    count->close();
}

}  // namespace
