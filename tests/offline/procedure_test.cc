// Offline procedures: found by name, run through their "executeFlexibleClient"
// operation with out-arguments written back, called dynamically by a name
// the application model defines, submitted to a thread of their own, and
// handed to the host's online service; and the host's nudges and events
// (the send service after a transaction, external-object events on the main
// queue). The procedures here are registered as generated ones are.
#include <qn/collections/collection.h>
#include <qn/core/containers.h>
#include <qn/core/decimal.h>
#include <qn/core/registry.h>
#include <qn/core/uuid.h>
#include <qn/host/data_layer.h>
#include <qn/host/dispatch.h>
#include <qn/host/errors.h>
#include <qn/host/model.h>
#include <qn/host/offline_helper.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>
#include <qn/offline/procedure.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.h"

namespace proctest {

using qn::Value;

// What each test procedure received, in call order.
struct Call {
    std::string procedure;
    std::vector<Value> arguments;
    std::thread::id thread;
};

struct Calls {
    std::mutex mutex;
    std::vector<Call> list;
};
Calls& allCalls() {
    static Calls calls;
    return calls;
}

void record(std::string procedure, const std::vector<Value>& arguments) {
    std::lock_guard lock(allCalls().mutex);
    allCalls().list.push_back({std::move(procedure), arguments, std::this_thread::get_id()});
}

std::vector<Call> calls() {
    std::lock_guard lock(allCalls().mutex);
    return allCalls().list;
}

void clearCalls() {
    std::lock_guard lock(allCalls().mutex);
    allCalls().list.clear();
}

// Registers the operation under the selectors of both generator styles, so
// the procedures do not depend on which style the process decided on.
void operation(qn::ClassDefinition& c, int arity, std::initializer_list<int> out,
               const qn::MethodInfo::Invoker& invoke) {
    const auto swift = qn::QNOfflineHelper::selectorFromMethodNameParametersCount(
        "executeFlexibleClient", arity, true);
    const auto lower = qn::QNOfflineHelper::selectorFromMethodNameParametersCount(
        "executeFlexibleClient", arity, false);
    c.method(swift, arity, out, invoke);
    if (lower != swift) c.method(lower, arity, out, invoke);
}

// "Module.Proc": three arguments, the second an out-argument; it scribbles
// on its in-argument slots too, which the caller must never see.
class ModuleProc : public qn::QNProcedure {
    QN_OBJECT(ModuleProc)
};
QN_REGISTER_CLASS_AS(ModuleProc, "module_proc", "QNProcedure", [](qn::ClassDefinition& c) {
    operation(c, 3, {1}, [](qn::Object*, std::vector<Value>& args) {
        record("module_proc", args);
        args[0] = Value(u"scribbled");
        args[1] = Value(u"written");
        args[2] = Value(u"scribbled");
        return Value();
    });
})

// A class of a procedure's name with the operation, but not a procedure.
class ModuleNotProc : public qn::Object {
    QN_OBJECT(ModuleNotProc)
};
QN_REGISTER_CLASS_AS(ModuleNotProc, "module_notproc", "Object", [](qn::ClassDefinition& c) {
    operation(c, 3, {1}, [](qn::Object*, std::vector<Value>& args) {
        record("module_notproc", args);
        return Value();
    });
})

// A procedure without any operation.
class ModulePlain : public qn::QNProcedure {
    QN_OBJECT(ModulePlain)
};
QN_REGISTER_CLASS_AS(ModulePlain, "module_plain", "QNProcedure", nullptr)

// The model's "Proc": two arguments, the second written back.
class DynamicProc : public qn::QNProcedure {
    QN_OBJECT(DynamicProc)
};
QN_REGISTER_CLASS_AS(DynamicProc, "proc", "QNProcedure", [](qn::ClassDefinition& c) {
    operation(c, 2, {1}, [](qn::Object*, std::vector<Value>& args) {
        record("proc", args);
        args[1] = Value(u"answer");
        return Value();
    });
})

// The model's "ProcThree" defines three parameters; the class answers two
// or three, so a call that got past the definition check would be seen.
class ProcThree : public qn::QNProcedure {
    QN_OBJECT(ProcThree)
};
QN_REGISTER_CLASS_AS(ProcThree, "procthree", "QNProcedure", [](qn::ClassDefinition& c) {
    for (int arity : {2, 3})
        operation(c, arity, {}, [](qn::Object*, std::vector<Value>& args) {
            record("procthree", args);
            return Value();
        });
})

// The model's "Kinds": every argument is an out-argument, answered in a
// kind other than the caller's.
class KindsProc : public qn::QNProcedure {
    QN_OBJECT(KindsProc)
};
QN_REGISTER_CLASS_AS(KindsProc, "kinds", "QNProcedure", [](qn::ClassDefinition& c) {
    operation(c, 6, {0, 1, 2, 3, 4, 5}, [](qn::Object*, std::vector<Value>& args) {
        record("kinds", args);
        // args[0] (a UUID's text) is left as received.
        args[1] = Value(u"9007199254740993");  // 2^53 + 1: lost if read through a double
        args[2] = Value(2.5);
        args[3] = Value(qn::Decimal::fromString(std::string_view("7")));
        args[4] = Value(5);
        args[5] = Value(u"n/a");
        return Value();
    });
})

// Submitted procedures. "submitinsert" inserts its argument into table T
// through the manager's connection and then throws; "submitheld" waits for
// the test to release it.
std::shared_ptr<qn::test::Latch>& heldStarted() {
    static std::shared_ptr<qn::test::Latch> latch;
    return latch;
}
std::shared_ptr<qn::test::Latch>& heldRelease() {
    static std::shared_ptr<qn::test::Latch> latch;
    return latch;
}

class SubmitInsert : public qn::QNProcedure {
    QN_OBJECT(SubmitInsert)
};
QN_REGISTER_CLASS_AS(SubmitInsert, "submitinsert", "QNProcedure", [](qn::ClassDefinition& c) {
    operation(c, 1, {}, [](qn::Object*, std::vector<Value>& args) -> Value {
        record("submitinsert", args);
        auto connection = qn::QNDBManager::sharedInstance().connectionForDatastore(u"DEFAULT");
        if (!connection) throw std::runtime_error("no connection");
        auto insert = connection->commandWithSQLStatement(u"INSERT INTO T (v) VALUES (?)");
        insert->setParameters(std::vector<Value>{args[0]});
        if (insert->execute() != qn::QN_STATUS_OK) throw std::runtime_error("insert failed");
        throw std::runtime_error("procedure blew up after its insert");
    });
})

class SubmitHeld : public qn::QNProcedure {
    QN_OBJECT(SubmitHeld)
};
QN_REGISTER_CLASS_AS(SubmitHeld, "submitheld", "QNProcedure", [](qn::ClassDefinition& c) {
    operation(c, 1, {}, [](qn::Object*, std::vector<Value>& args) {
        record("submitheld", args);
        heldStarted()->arrive();
        heldRelease()->waitFor();
        return Value();
    });
})

}  // namespace proctest

namespace qn {
namespace {

using proctest::calls;

std::vector<Value> values(std::initializer_list<Value> items) {
    return std::vector<Value>(items);
}

// Every error of the current thread's list as (code, description).
std::vector<test::ErrorPair> threadErrors() {
    std::vector<test::ErrorPair> out;
    for (const QNError& e : QNThreadErrorHandler::errorHandler().errors())
        out.emplace_back(e.code(), e.developerDescription());
    return out;
}

// An offline application whose model defines the procedures the dynamic
// calls name.
void writeProcedureBundle(const test::TempDir& dir) {
    dir.write("Info.plist", test::plistDocument("<dict><key>CFBundleName</key>"
                                                "<string>ProcedureTest</string></dict>"));
    dir.write("model.json", R"({
  "appName": "ProcedureTest", "connectivitySupport": 1,
  "procedures": [
    {"name": "Proc", "parameters": [{"name": "A", "type": "character"},
                                    {"name": "B", "type": "character", "direction": "out"}]},
    {"name": "ProcThree", "parameters": [{"name": "A"}, {"name": "B"}, {"name": "C"}]},
    {"name": "Orphan", "parameters": [{"name": "A"}, {"name": "B"}]},
    {"name": "Kinds", "parameters": [{"name": "A", "direction": "inout"},
      {"name": "B", "direction": "inout"}, {"name": "C", "direction": "inout"},
      {"name": "D", "direction": "inout"}, {"name": "E", "direction": "inout"},
      {"name": "F", "direction": "inout"}]}]
})");
}

class ProcedureTest : public ::testing::Test {
protected:
    void SetUp() override {
        proctest::clearCalls();
        QNThreadErrorHandler::errorHandler().clear();
    }
    void TearDown() override { QNThreadErrorHandler::errorHandler().clear(); }
};

// --- Finding a procedure class by name ---

TEST_F(ProcedureTest, ClassForProcedureNameFindsOnlyProcedures) {
    const ClassInfo* found =
        QNProcedureHelper::qnOfflineProcedureClassForProcedureName(u"Module.Proc");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found, proctest::ModuleProc::staticClassInfo());
    EXPECT_EQ(QNProcedureHelper::qnOfflineProcedureClassForProcedureName(u"MODULE.PROC"), found);
    EXPECT_EQ(QNProcedureHelper::qnOfflineProcedureClassForProcedureName(u"module_proc"), found);

    ASSERT_NE(ClassRegistry::classNamed(std::string_view("module_notproc")), nullptr);
    EXPECT_EQ(QNProcedureHelper::qnOfflineProcedureClassForProcedureName(u"Module.NotProc"),
              nullptr)
        << "a class of that name that is not a procedure";
    EXPECT_EQ(QNProcedureHelper::qnOfflineProcedureClassForProcedureName(u"Module.Missing"),
              nullptr);
    EXPECT_EQ(QNProcedureHelper::qnOfflineProcedureClassForProcedureName(u""), nullptr);
}

// --- Running an instance's operation ---

TEST_F(ProcedureTest, OutArgumentIsWrittenBackAndInSlotsAreNot) {
    proctest::ModuleProc procedure;
    const auto given = values({Value(1), Value(u"old"), Value(u"third")});
    const auto answer =
        QNProcedureHelper::executeOfflineProcedureInstanceWithParameters(procedure, given);
    ASSERT_EQ(answer.size(), 3u);
    EXPECT_TRUE(answer[0].isInt());
    EXPECT_EQ(answer[0], Value(1)) << "the operation scribbled on an in-argument";
    EXPECT_EQ(answer[1], Value(u"written"));
    EXPECT_EQ(answer[2], Value(u"third"));

    const auto seen = calls();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].arguments, given);

    // Through the class, and through QNProcedure::execute, the same.
    proctest::clearCalls();
    EXPECT_EQ(QNProcedureHelper::executeOfflineProcedureWithParameters(
                  proctest::ModuleProc::staticClassInfo(), given),
              answer);
    EXPECT_EQ(procedure.execute(given), answer);
    EXPECT_EQ(calls().size(), 2u);
}

TEST_F(ProcedureTest, NullMarkerReachesTheOperationAsAbsent) {
    proctest::ModuleProc procedure;
    const auto answer = QNProcedureHelper::executeOfflineProcedureInstanceWithParameters(
        procedure, values({Value::null(), Value(u"old"), Value(3)}));
    const auto seen = calls();
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].arguments.size(), 3u);
    EXPECT_TRUE(seen[0].arguments[0].isAbsent());
    EXPECT_TRUE(seen[0].arguments[2].isInt());
    // The caller's own list keeps its null marker.
    ASSERT_EQ(answer.size(), 3u);
    EXPECT_TRUE(answer[0].isNull());
}

TEST_F(ProcedureTest, WithoutAMatchingOperationTheParametersComeBackUnchanged) {
    const auto two = values({Value(1), Value(u"old")});
    const auto three = values({Value(1), Value(u"old"), Value(u"third")});

    proctest::ModuleProc procedure;  // answers three arguments only
    EXPECT_EQ(QNProcedureHelper::executeOfflineProcedureInstanceWithParameters(procedure, two),
              two);
    proctest::ModulePlain plain;
    EXPECT_EQ(QNProcedureHelper::executeOfflineProcedureInstanceWithParameters(plain, three),
              three);
    Object unregistered;
    EXPECT_EQ(QNProcedureHelper::executeOfflineProcedureInstanceWithParameters(unregistered, three),
              three);
    EXPECT_EQ(QNProcedureHelper::executeOfflineProcedureWithParameters(nullptr, three), three);
    EXPECT_TRUE(calls().empty());
}

// --- Options ---

TEST(ProcedureOptionsTest, DefaultsAndCopies) {
    QNProcedureExecutionOptions options;
    EXPECT_EQ(options.procedureHttpRequestTimeout(), 0);
    EXPECT_TRUE(options.shouldRetryOnSecurityCheckFailure());
    EXPECT_FALSE(options.shouldProcessMessagesOutput());

    options.setShouldProcessMessagesOutput(true);
    options.setShouldRetryOnSecurityCheckFailure(false);
    options.setProcedureHttpRequestTimeout(12.5);
    const QNProcedureExecutionOptions copy = options;
    EXPECT_TRUE(copy.shouldProcessMessagesOutput());
    EXPECT_FALSE(copy.shouldRetryOnSecurityCheckFailure());
    EXPECT_EQ(copy.procedureHttpRequestTimeout(), 12.5);

    QNProcedureHelperExecutionOptions helper;
    auto resolver = makeRef<Object>();
    helper.setConnectivitySupportResolver(resolver);
    helper.setExecutionOptions(options);
    const QNProcedureHelperExecutionOptions helperCopy = helper;
    EXPECT_EQ(helperCopy.connectivitySupportResolver(), resolver);
    EXPECT_TRUE(helperCopy.executionOptions().shouldProcessMessagesOutput());
    EXPECT_EQ(helperCopy.executionOptions().procedureHttpRequestTimeout(), 12.5);
}

// --- Dynamic calls ---

class ProcedureDynamicCallTest : public ProcedureTest {
protected:
    void SetUp() override {
        ProcedureTest::SetUp();
        writeProcedureBundle(bundleDir_);
        bundle_.emplace(bundleDir_.path());
    }
    void TearDown() override {
        bundle_.reset();
        ProcedureTest::TearDown();
    }
    test::TempDir bundleDir_;
    std::optional<test::ScopedBundle> bundle_;
};

TEST_F(ProcedureDynamicCallTest, ArgumentsOfTheCallRunTheDefinedProcedure) {
    std::vector<Value> parameters = values({Value(0), Value(0)});
    QNOfflineDynamicCallHelper::dynamicExecuteInternalParameters(u"prc:Proc?1,2", parameters);
    EXPECT_TRUE(threadErrors().empty());
    auto seen = calls();
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].procedure, "proc");
    ASSERT_EQ(seen[0].arguments.size(), 2u);
    EXPECT_TRUE(seen[0].arguments[0].isString());
    EXPECT_EQ(seen[0].arguments[0], Value(u"1"));
    EXPECT_EQ(seen[0].arguments[1], Value(u"2"));
    // The answer is copied back into the caller's list.
    EXPECT_EQ(parameters, values({Value(u"1"), Value(u"answer")}));

    // The prefix is optional; without "?" the caller's own values are the
    // arguments.
    proctest::clearCalls();
    std::vector<Value> own = values({Value(5), Value(6)});
    QNOfflineDynamicCallHelper::dynamicExecuteInternalParameters(u"Proc", own);
    seen = calls();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].arguments, values({Value(5), Value(6)}));
    EXPECT_EQ(own, values({Value(5), Value(u"answer")}));

    // The copying form leaves the caller's list alone.
    const auto given = values({Value(7), Value(8)});
    EXPECT_EQ(QNOfflineDynamicCallHelper::dynamicExecuteSwiftParameters(u"prc:Proc", given),
              values({Value(7), Value(u"answer")}));
    EXPECT_EQ(given, values({Value(7), Value(8)}));
    EXPECT_TRUE(threadErrors().empty());
}

TEST_F(ProcedureDynamicCallTest, MismatchOrMissingClassIsReportedAndNothingRuns) {
    // The texts are the ones applications show, character for character.
    const String mismatch = u"Dynamic call does not match with procedure definition";
    const String noClass = u"Dynamic call failed: procedure class not found";
    for (const auto& [call, description] : {std::pair{u"prc:ProcThree?1,2", mismatch},
                                            {u"prc:Proc?1,2,3", mismatch},
                                            {u"prc:Undefined?1,2", mismatch},
                                            {u"prc:Orphan?1,2", noClass}}) {
        SCOPED_TRACE(toUtf8(String(call)));
        QNThreadErrorHandler::errorHandler().clear();
        proctest::clearCalls();
        std::vector<Value> parameters = values({Value(0), Value(0)});
        QNOfflineDynamicCallHelper::dynamicExecuteInternalParameters(call, parameters);
        EXPECT_EQ(threadErrors(), std::vector<test::ErrorPair>({{0, description}}));
        EXPECT_TRUE(calls().empty());
    }
}

TEST_F(ProcedureDynamicCallTest, AnswersComeBackInTheKindsPassed) {
    const QNUUID id = *QNUUID::fromString(std::string_view("0A1B2C3D-0000-4000-8000-00000000000A"));
    const auto answer = QNOfflineDynamicCallHelper::dynamicExecute(
        u"prc:Kinds",
        values({Value(id), Value(0), Value(Decimal()), Value(0), Value(u"text"), Value(1)}));
    EXPECT_TRUE(threadErrors().empty());

    const auto seen = calls();
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(seen[0].arguments.size(), 6u);
    EXPECT_TRUE(seen[0].arguments[0].isString()) << "a UUID reaches the procedure as its text";
    EXPECT_EQ(seen[0].arguments[0].asString(), id.uuidString());

    ASSERT_EQ(answer.size(), 6u);
    EXPECT_TRUE(answer[0].isUuid());
    EXPECT_EQ(answer[0].asUuid(), id);
    EXPECT_TRUE(answer[1].isInt());
    EXPECT_EQ(answer[1].integerValue(), INT64_C(9007199254740993));
    EXPECT_TRUE(answer[2].isDecimal());
    EXPECT_EQ(answer[2].decimalValue(), Decimal::fromString(std::string_view("2.5")));
    EXPECT_TRUE(answer[3].isInt());
    EXPECT_EQ(answer[3].integerValue(), 7);
    // A text passed in is no kind to convert to; a text that is no number
    // stays as answered.
    EXPECT_TRUE(answer[4].isInt());
    EXPECT_EQ(answer[4].integerValue(), 5);
    EXPECT_EQ(answer[5], Value(u"n/a"));
}

// --- Submitted procedures ---

// The test's own handle on the offline database.
std::int64_t countRows(const String& databasePath, int v) {
    sqlite3* db = nullptr;
    std::int64_t count = -1;
    if (sqlite3_open_v2(toUtf8(databasePath).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM T WHERE v = ?", -1, &stmt, nullptr) ==
            SQLITE_OK) {
            sqlite3_bind_int(stmt, 1, v);
            if (sqlite3_step(stmt) == SQLITE_ROW) count = sqlite3_column_int64(stmt, 0);
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close_v2(db);
    return count;
}

class ProcedureSubmitTest : public ProcedureDynamicCallTest {
protected:
    void SetUp() override {
        ProcedureDynamicCallTest::SetUp();
        auto& manager = QNDBManager::sharedInstance();
        manager.resetDatabaseConnections();
        // No creation runs here to make the caches folder.
        std::filesystem::create_directories(
            std::filesystem::path(toUtf8(manager.databasePath())).parent_path());
        auto connection = manager.connectionForDatastore(QNDBManager::kDefaultDatastoreName);
        ASSERT_TRUE(connection);
        ASSERT_EQ(connection->commandWithSQLStatement(u"CREATE TABLE T (v INTEGER)")->execute(),
                  QN_STATUS_OK);
        manager.commit();
    }
    void TearDown() override {
        QNProcedure::waitForSubmittedProcedures();
        // Closed while the caches folder is still there, then pointed at
        // whatever application comes next.
        QNDBManager::sharedInstance().disconnect();
        ProcedureDynamicCallTest::TearDown();
        QNDBManager::sharedInstance().resetDatabaseConnections();
    }
};

TEST_F(ProcedureSubmitTest, ThrowingProcedureInFlightStillEndsItsTransaction) {
    test::ScopedCapturingLogger log;
    auto procedure = makeRef<proctest::SubmitInsert>();
    procedure->executeSubmit(values({Value(7)}));
    QNProcedure::waitForSubmittedProcedures();

    const auto seen = calls();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].thread, std::this_thread::get_id());
    EXPECT_EQ(countRows(QNDBManager::sharedInstance().databasePath(), 7), 1)
        << "the insert was not committed";
    EXPECT_TRUE(log->contains(u"procedure blew up after its insert"));
    EXPECT_EQ(QNProcedure::submittedProceduresInFlight(), 0u);
}

TEST_F(ProcedureSubmitTest, ProcedureNotHeldByARefRunsOnTheCallingThread) {
    test::ScopedCapturingLogger log;
    proctest::SubmitInsert procedure;
    procedure.executeSubmit(values({Value(8)}));
    const auto seen = calls();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].thread, std::this_thread::get_id());
    EXPECT_EQ(countRows(QNDBManager::sharedInstance().databasePath(), 8), 1);
    EXPECT_TRUE(log->contains(u"procedure blew up after its insert"));
}

TEST_F(ProcedureSubmitTest, SubmittedProcedureInFlightIsKeptAliveAndCounted) {
    proctest::heldStarted() = std::make_shared<test::Latch>();
    proctest::heldRelease() = std::make_shared<test::Latch>();
    auto procedure = makeRef<proctest::SubmitHeld>();
    WeakRef<proctest::SubmitHeld> watch = procedure;
    procedure->executeSubmit(values({Value(1)}));
    procedure.reset();
    ASSERT_TRUE(proctest::heldStarted()->waitFor());
    EXPECT_EQ(QNProcedure::submittedProceduresInFlight(), 1u);
    EXPECT_FALSE(watch.expired()) << "the thread keeps its procedure";

    proctest::heldRelease()->arrive();
    QNProcedure::waitForSubmittedProcedures();
    EXPECT_EQ(QNProcedure::submittedProceduresInFlight(), 0u);
    EXPECT_TRUE(watch.expired());
}

// --- The send service after a transaction ---

class FakeSendService : public QNSynchronizationSendService {
public:
    bool automatic = true;
    bool pending = true;
    bool elapsed = true;
    int sends = 0;
    int scheduled = 0;
    std::vector<bool> fromUserCode;

    bool isSynchronizationSendEnabled() override { return true; }
    void sendPendingEventsStartedFromUserCodeWithCompletionBlock(bool user, Completion) override {
        ++sends;
        fromUserCode.push_back(user);
    }
    void createSendCheckpoint() override {}
    bool shouldSendAutomaticallyWhenConnected() override { return automatic; }
    bool hasPendingSynchronizationEvents() override { return pending; }
    bool hasMinimumTimeBetweenSendsBeenElapsed() override { return elapsed; }
    void scheduledSendAfterMinimumTime() override { ++scheduled; }
};

class ProcedureSendNudgeTest : public ::testing::Test {
protected:
    void TearDown() override {
        QNDataLayerServices::setSynchronizationSendService(nullptr);
        QNModel::currentModel().setReachabilityStatus(1);
    }
};

TEST_F(ProcedureSendNudgeTest, EndTransactionSendsOrSchedulesOnlyWhenAllowed) {
    struct Case {
        bool automatic, pending;
        int reachability;
        bool elapsed;
        int sends, scheduled;
    };
    for (const Case& c : {Case{true, true, 1, true, 1, 0}, Case{true, true, 2, false, 0, 1},
                          Case{false, true, 1, true, 0, 0}, Case{true, false, 1, true, 0, 0},
                          Case{true, true, 0, true, 0, 0}, Case{true, true, 0, false, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << c.automatic << c.pending << c.reachability << c.elapsed);
        auto fake = std::make_shared<FakeSendService>();
        fake->automatic = c.automatic;
        fake->pending = c.pending;
        fake->elapsed = c.elapsed;
        QNDataLayerServices::setSynchronizationSendService(fake);
        QNModel::currentModel().setReachabilityStatus(c.reachability);
        QNDBManager::sharedInstance().endTransaction();
        EXPECT_EQ(fake->sends, c.sends);
        EXPECT_EQ(fake->scheduled, c.scheduled);
        if (c.sends) {
            EXPECT_EQ(fake->fromUserCode, std::vector<bool>{false});
        }
    }
    // Nothing to nudge without a service.
    QNDataLayerServices::setSynchronizationSendService(nullptr);
    QNDBManager::sharedInstance().endTransaction();
}

// --- Online calls ---

class FakeOnlineService : public QNProcedureHelperOptionals {
public:
    std::optional<QNProcedureResult> answer;
    String name;
    std::vector<Value> parameters;
    std::optional<QNProcedureExecutionOptions> options;

    QNProcedureResult executeOnlineProcedureParamsOptions(
        StringView n, const std::vector<Value>& p,
        const std::optional<QNProcedureExecutionOptions>& o) override {
        name = String(n);
        parameters = p;
        options = o;
        return *answer;
    }
    Ref<QNCancelableOperation> executeProcedureParamsOptionsCompletion(
        StringView n, const std::vector<Value>& p,
        const std::optional<QNProcedureExecutionOptions>& o, Completion completion) override {
        name = String(n);
        parameters = p;
        options = o;
        completion(*answer);
        return nullptr;
    }
};

class ProcedureOnlineTest : public ::testing::Test {
protected:
    void TearDown() override { QNProcedureHelper::setOnlineProcedureService(nullptr); }
};

TEST_F(ProcedureOnlineTest, WithoutAServiceEveryCallFailsOnAnotherThread) {
    QNProcedureHelper::setOnlineProcedureService(nullptr);
    EXPECT_FALSE(QNProcedureHelper::onlineProcedureService());
    const QNProcedureResult result =
        QNProcedureHelper::executeOnline(u"Remote", values({Value(1)}));
    EXPECT_FALSE(result.succeeded());
    ASSERT_NE(result.error(), nullptr);
    EXPECT_TRUE(result.values().empty());

    struct Seen {
        test::Latch done;
        std::mutex mutex;
        std::optional<QNProcedureResult> result;
        std::thread::id thread;
    };
    auto seen = std::make_shared<Seen>();
    auto operation = QNProcedureHelper::execute(u"Remote", values({Value(1)}), std::nullopt,
                                                [seen](const QNProcedureResult& r) {
                                                    {
                                                        std::lock_guard lock(seen->mutex);
                                                        seen->result = r;
                                                        seen->thread = std::this_thread::get_id();
                                                    }
                                                    seen->done.arrive();
                                                });
    EXPECT_FALSE(operation);
    ASSERT_TRUE(seen->done.waitFor());
    std::lock_guard lock(seen->mutex);
    ASSERT_TRUE(seen->result);
    EXPECT_FALSE(seen->result->succeeded());
    EXPECT_NE(seen->result->error(), nullptr);
    EXPECT_NE(seen->thread, std::this_thread::get_id());
}

TEST_F(ProcedureOnlineTest, ServiceGetsTextForUuidsAndAnswersAreConvertedBack) {
    auto fake = std::make_shared<FakeOnlineService>();
    QNProcedureHelper::setOnlineProcedureService(fake);
    const QNUUID id = QNUUID::createUUID();
    auto collection = QNObjectCollection::init();
    const auto parameters = values({Value(id), Value(collection), Value(5)});
    fake->answer = QNProcedureResult::success(
        values({Value(id.uuidString()), Value(makeRef<Array>(values({Value(1), Value(u"two")}))),
                Value(6)}));

    QNProcedureExecutionOptions options;
    options.setProcedureHttpRequestTimeout(9);
    // The same, synchronously and through a completion.
    std::vector<QNProcedureResult> results;
    results.push_back(QNProcedureHelper::executeOnline(u"Remote", parameters, options));
    QNProcedureHelper::execute(u"Remote", parameters, options,
                               [&results](const QNProcedureResult& r) { results.push_back(r); });
    ASSERT_EQ(results.size(), 2u);

    EXPECT_EQ(fake->name, u"Remote");
    ASSERT_EQ(fake->parameters.size(), 3u);
    EXPECT_TRUE(fake->parameters[0].isString());
    EXPECT_EQ(fake->parameters[0].asString(), id.uuidString());
    EXPECT_EQ(fake->parameters[1].asObject(), collection);
    EXPECT_EQ(fake->parameters[2], Value(5));
    ASSERT_TRUE(fake->options);
    EXPECT_EQ(fake->options->procedureHttpRequestTimeout(), 9);

    for (const QNProcedureResult& result : results) {
        ASSERT_TRUE(result.succeeded());
        ASSERT_EQ(result.values().size(), 3u);
        auto items = result.values()[1].as<QNObjectCollection>();
        ASSERT_TRUE(items) << "an Array answer for a collection parameter";
        EXPECT_EQ(items->items(), values({Value(1), Value(u"two")}));
        EXPECT_EQ(result.values()[2], Value(6));
    }
    EXPECT_EQ(collection->count(), 0u) << "the caller's collection is not filled";
}

TEST_F(ProcedureOnlineTest, ServiceFailureIsPassedThrough) {
    auto fake = std::make_shared<FakeOnlineService>();
    QNProcedureHelper::setOnlineProcedureService(fake);
    fake->answer = QNProcedureResult::failure(QNError(u"Remote", 42, u"Server said no"));

    std::vector<QNProcedureResult> results;
    results.push_back(QNProcedureHelper::executeOnline(u"Remote", values({Value(1)})));
    QNProcedureHelper::execute(u"Remote", values({Value(1)}), std::nullopt,
                               [&results](const QNProcedureResult& r) { results.push_back(r); });
    ASSERT_EQ(results.size(), 2u);
    for (const QNProcedureResult& result : results) {
        EXPECT_FALSE(result.succeeded());
        ASSERT_NE(result.error(), nullptr);
        EXPECT_EQ(result.error()->code(), 42);
        EXPECT_EQ(result.error()->domain(), u"Remote");
        EXPECT_TRUE(result.values().empty());
    }
}

// --- External-object events ---

class ProcedureExternalObjectTest : public ::testing::Test {
protected:
    struct Event {
        QNExternalObjectBase* object;
        String name;
        std::vector<Value> parameters;
        std::thread::id thread;
    };
    void SetUp() override {
        qn_main_queue_drain();  // whatever earlier tests left queued
        QNExternalObjectBase::setExternalObjectEventHandler(
            [this](QNExternalObjectBase& object, StringView name, const std::vector<Value>& p) {
                events_.push_back({&object, String(name), p, std::this_thread::get_id()});
            });
    }
    void TearDown() override { QNExternalObjectBase::setExternalObjectEventHandler(nullptr); }
    std::vector<Event> events_;
};

TEST_F(ProcedureExternalObjectTest, EventWaitsForTheMainQueueDispatch) {
    const QNUUID id = QNUUID::createUUID();
    auto object = makeRef<QNExternalObjectBase>();
    QNExternalObjectBase* const address = object.get();
    WeakRef<QNExternalObjectBase> watch = object;
    object->fireExternalObjectEvent(u"Changed", values({Value(id), Value(3)}));
    object.reset();
    EXPECT_TRUE(events_.empty()) << "delivered before the main queue ran";
    EXPECT_FALSE(watch.expired()) << "the queued event keeps its object";

    EXPECT_GE(qn_main_queue_drain(), 1u);
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].object, address);
    EXPECT_EQ(events_[0].name, u"Changed");
    ASSERT_EQ(events_[0].parameters.size(), 2u);
    EXPECT_TRUE(events_[0].parameters[0].isString());
    EXPECT_EQ(events_[0].parameters[0].asString(), id.uuidString());
    EXPECT_EQ(events_[0].parameters[1], Value(3));
    EXPECT_EQ(events_[0].thread, std::this_thread::get_id());
    EXPECT_TRUE(watch.expired());

    // Once the handler is removed, events reach nobody.
    QNExternalObjectBase::setExternalObjectEventHandler(nullptr);
    auto again = makeRef<QNExternalObjectBase>();
    again->fireExternalObjectEvent(u"Changed", {});
    qn_main_queue_drain();
    EXPECT_EQ(events_.size(), 1u);
}

TEST_F(ProcedureExternalObjectTest, UnsharedObjectDispatchesOnlyOnTheMainThread) {
    test::ScopedCapturingLogger log;
    QNExternalObjectBase object;
    object.fireExternalObjectEvent(u"Lost", {});
    qn_main_queue_drain();
    EXPECT_TRUE(events_.empty());
    EXPECT_TRUE(log->contains(u"Lost dropped"));

    // On the main thread it is delivered at once.
    qn_dispatch_on_main_queue([this, &object] {
        object.fireExternalObjectEvent(u"Now", {});
        EXPECT_EQ(events_.size(), 1u);
    });
    qn_main_queue_drain();
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].name, u"Now");
}

}  // namespace
}  // namespace qn
