// The offline session (a process-wide map) and manual synchronization: send,
// receive, status and setcheckpoint handed to fake host services the tests
// control. Completions are held and released by the tests; where a test must
// know that a thread is blocked before it goes on, it reads the thread's
// state from /proc rather than sleeping.
#include <qn/core/containers.h>
#include <qn/host/data_layer.h>
#include <qn/host/dispatch.h>
#include <qn/host/errors.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>
#include <qn/offline/synchronization.h>

#include <sys/types.h>
#include <unistd.h>

#include "support/test_support.h"

using namespace qn;
using namespace qn::test;
namespace fs = std::filesystem;

namespace {

// --- Session ---------------------------------------------------------------------------------

class OfflineSessionTest : public ::testing::Test {
protected:
    void SetUp() override { session().clear(); }
    void TearDown() override { session().clear(); }
    static QNOfflineSession& session() { return QNOfflineSession::sharedInstance(); }

    // What the session's description is when it holds exactly `entries`.
    static String describing(std::initializer_list<Dictionary::Entry> entries) {
        return u"<QNOfflineSession>\n" + Dictionary(entries).description();
    }
};

TEST_F(OfflineSessionTest, MissingKeysReadAsEmptyStringsAndAbsentOrNullRemove) {
    const Value missing = session().getValueForKey(u"nothing");
    EXPECT_TRUE(missing.isString());
    EXPECT_EQ(missing.asString(), u"");
    EXPECT_EQ(session().getValue(u"nothing"), u"");

    session().setValue(u"a", u"1");
    session().setObject(u"n", Value(5));
    EXPECT_EQ(session().getValue(u"a"), u"1");
    EXPECT_EQ(session().getObjectForKey(u"n"), Value(5));
    // The typed form reads only strings.
    EXPECT_EQ(session().getValue(u"n"), u"");
    EXPECT_EQ(session().description(), describing({{u"a", Value(u"1")}, {u"n", Value(5)}}));

    // Removed, not stored as something empty: the description no longer has them.
    session().setValueForKeyValue(u"a", Value::null());
    session().setObjectForKeyValue(u"n", Value());
    EXPECT_EQ(session().getValue(u"a"), u"");
    EXPECT_TRUE(session().getValueForKey(u"n").isString());
    EXPECT_EQ(session().description(), describing({}));

    session().setValue(u"r", u"x");
    session().remove(u"r");
    EXPECT_EQ(session().description(), describing({}));
}

TEST_F(OfflineSessionTest, PrefixRemovalNeedsTheExactKeyStored) {
    session().setValue(u"a", u"1");
    session().setValue(u"ab", u"2");
    session().setValue(u"b", u"3");
    session().removeObjectsWithPrefixKey(u"a");
    EXPECT_EQ(session().description(), describing({{u"b", Value(u"3")}}));

    session().setValue(u"ab", u"2");
    session().removeObjectsWithPrefixKey(u"a");
    EXPECT_EQ(session().getValue(u"ab"), u"2");
    EXPECT_EQ(session().getValue(u"b"), u"3");

    // A key removed by the null marker does not count as stored.
    session().setValue(u"a", u"1");
    session().setValueForKeyValue(u"a", Value::null());
    session().removeObjectsWithPrefixKey(u"a");
    EXPECT_EQ(session().getValue(u"ab"), u"2");
}

TEST_F(OfflineSessionTest, ClearAndDestroyEmptyIt) {
    session().setValue(u"a", u"1");
    session().setObject(u"b", Value(2));
    session().clear();
    EXPECT_EQ(session().description(), describing({}));
    EXPECT_EQ(session().getValue(u"a"), u"");

    session().setValue(u"a", u"1");
    QNOfflineSession::offlineSession().destroy();
    EXPECT_EQ(session().description(), describing({}));
}

TEST_F(OfflineSessionTest, ConcurrentSettersAndGettersKeepEveryThreadsKeys) {
    constexpr int kThreads = 4;
    constexpr int kKeys = 150;
    const auto key = [](int thread, int n) {
        return fromUtf8("t" + std::to_string(thread) + "/" + std::to_string(n));
    };
    std::atomic<int> wrong{0};
    onThreads(kThreads, [&](int t) {
        const String own = fromUtf8("t" + std::to_string(t) + "/");
        for (int n = 0; n < kKeys; ++n) {
            session().setValue(key(t, n), fromUtf8(std::to_string(n)));
            if (session().getValue(key(t, n)) != fromUtf8(std::to_string(n))) ++wrong;
            // Every thread writes this one: any reader sees one whole value.
            session().setObject(u"shared", Value(t));
            const Value shared = session().getObject(u"shared");
            if (!shared.isNumber() || shared.integerValue() < 0 ||
                shared.integerValue() >= kThreads)
                ++wrong;
            (void)session().description();
        }
        // This thread's own prefix: the others' keys stay.
        session().setValue(own, u"x");
        session().removeObjectsWithPrefixKey(own);
        if (session().getValue(own) != u"" || session().getValue(key(t, 0)) != u"") ++wrong;
        for (int n = 0; n < kKeys; ++n)
            session().setValue(key(t, n), fromUtf8(std::to_string(n)));
    });
    EXPECT_EQ(wrong.load(), 0);
    for (int t = 0; t < kThreads; ++t)
        for (int n = 0; n < kKeys; ++n)
            ASSERT_EQ(session().getValue(key(t, n)), fromUtf8(std::to_string(n)));
}

// --- Synchronization: fakes and helpers -------------------------------------------------------

// Whether the thread is blocked (state S in /proc): waits until it is, or
// until a bound that only a broken build reaches.
bool waitUntilBlocked(pid_t tid) {
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string stat = readFile(path);
        const auto close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'S')
            return true;
        std::this_thread::yield();
    }
    return false;
}

// An operation on a thread of its own, so that the test can hold its
// completion and still fail rather than hang when it never returns.
class Running {
public:
    explicit Running(std::function<std::int64_t()> operation) : state_(std::make_shared<State>()) {
        std::thread([state = state_, operation = std::move(operation)] {
            state->tid = ::gettid();
            state->started.arrive();
            state->result = operation();
            state->finished = true;
            state->done.arrive();
        }).detach();
        state_->started.waitFor();
    }
    pid_t tid() const { return state_->tid; }
    bool finished() const { return state_->finished; }
    // The operation's answer; none when it did not return.
    std::optional<std::int64_t> result() const {
        if (!state_->done.waitFor()) return std::nullopt;
        return state_->result.load();
    }

private:
    struct State {
        Latch started, done;
        std::atomic<pid_t> tid{0};
        std::atomic<std::int64_t> result{-1};
        std::atomic<bool> finished{false};
    };
    std::shared_ptr<State> state_;
};

// A receive service that hands each call's completion to a behaviour the
// test chose (which answers whether the work started). It keeps every
// completion it was given, counts host calls whose completion has not been
// called yet, and the most there ever were at once.
class FakeReceiveService final : public QNSynchronizationReceiveService {
    // Shared with the completions, which may outlive the fake.
    struct Shared {
        std::mutex mutex;
        int inFlight = 0;
        int maxInFlight = 0;
    };

    template <class F>
    auto locked(F f) const {
        std::lock_guard lock(shared_->mutex);
        return f();
    }

public:
    using Behaviour = std::function<bool(const Completion&)>;
    explicit FakeReceiveService(Behaviour behaviour)
        : behaviour_(std::move(behaviour)), shared_(std::make_shared<Shared>()) {}

    bool synchronizeWithSettingsCompletionBlock(std::int64_t settings,
                                                Completion completion) override {
        {
            std::lock_guard lock(shared_->mutex);
            ++receives_;
            settings_.push_back(settings);
        }
        return run(std::move(completion));
    }
    bool checkServerSynchronizationStatusWithCompletionBlock(Completion completion) override {
        {
            std::lock_guard lock(shared_->mutex);
            ++statuses_;
        }
        return run(std::move(completion));
    }

    int receives() const {
        return locked([&] { return receives_; });
    }
    int statuses() const {
        return locked([&] { return statuses_; });
    }
    std::vector<std::int64_t> settings() const {
        return locked([&] { return settings_; });
    }
    int maxInFlight() const {
        return locked([&] { return shared_->maxInFlight; });
    }
    pid_t lastCaller() const {
        return locked([&] { return lastCaller_; });
    }
    // The completion of the i-th host call (as the fake hands it on).
    Completion completion(std::size_t i) const {
        return locked([&] { return held_.at(i); });
    }

    // One arrival per host call, once its completion is kept.
    Latch called;

private:
    bool run(Completion completion) {
        // The call counts as ended before the library hears of it: the
        // caller may start its next operation at once.
        Completion tracked = [shared = shared_, once = std::make_shared<std::atomic<bool>>(false),
                              completion = std::move(completion)](std::uint32_t status) {
            if (!once->exchange(true)) {
                std::lock_guard lock(shared->mutex);
                --shared->inFlight;
            }
            completion(status);
        };
        {
            std::lock_guard lock(shared_->mutex);
            shared_->maxInFlight = std::max(shared_->maxInFlight, ++shared_->inFlight);
            held_.push_back(tracked);
            lastCaller_ = ::gettid();
        }
        called.arrive();
        return behaviour_(tracked);
    }

    const Behaviour behaviour_;
    std::shared_ptr<Shared> shared_;
    int receives_ = 0;
    int statuses_ = 0;
    std::vector<std::int64_t> settings_;
    std::vector<Completion> held_;
    pid_t lastCaller_ = 0;
};

FakeReceiveService::Behaviour completesWith(std::uint32_t status) {
    return [status](const QNSynchronizationReceiveService::Completion& completion) {
        completion(status);
        return true;
    };
}

FakeReceiveService::Behaviour holds() {
    return [](const QNSynchronizationReceiveService::Completion&) { return true; };
}

class FakeSendService final : public QNSynchronizationSendService {
public:
    bool enabled = true;
    std::optional<QNError> error;  // what each send ends with
    int sends = 0;
    int checkpoints = 0;
    std::vector<bool> fromUserCode;

    bool isSynchronizationSendEnabled() override { return enabled; }
    void sendPendingEventsStartedFromUserCodeWithCompletionBlock(bool user,
                                                                 Completion completion) override {
        ++sends;
        fromUserCode.push_back(user);
        completion(error);
    }
    void createSendCheckpoint() override { ++checkpoints; }
    bool shouldSendAutomaticallyWhenConnected() override { return false; }
    bool hasPendingSynchronizationEvents() override { return false; }
    bool hasMinimumTimeBetweenSendsBeenElapsed() override { return true; }
    void scheduledSendAfterMinimumTime() override {}
};

// An offline application with its caches folder, so the default connection
// can open; no services installed.
class SynchronizationTest : public ::testing::Test {
protected:
    void SetUp() override {
        bundle_.write("Info.plist",
                      plistDocument("<dict><key>QNiOSGeneratorLanguage</key><string>swift</string>"
                                    "</dict>"));
        bundle_.write("model.json", R"({"appName": "SyncTest", "connectivitySupport": 1})");
        scope_.emplace(bundle_.path());
        auto& manager = QNDBManager::sharedInstance();
        manager.resetDatabaseConnections();
        fs::create_directories(fs::path(toUtf8(manager.databasePath())).parent_path());
    }
    void TearDown() override {
        QNDataLayerServices::setSynchronizationSendService(nullptr);
        QNDataLayerServices::setSynchronizationReceiveService(nullptr);
        auto& manager = QNDBManager::sharedInstance();
        manager.rollback();
        manager.disconnect();
        scope_.reset();
        manager.resetDatabaseConnections();
    }

    static std::shared_ptr<FakeReceiveService> installReceive(FakeReceiveService::Behaviour b) {
        auto fake = std::make_shared<FakeReceiveService>(std::move(b));
        QNDataLayerServices::setSynchronizationReceiveService(fake);
        return fake;
    }
    static std::shared_ptr<FakeSendService> installSend() {
        auto fake = std::make_shared<FakeSendService>();
        QNDataLayerServices::setSynchronizationSendService(fake);
        return fake;
    }

    // The one captured line with exactly that text.
    static std::optional<QNCapturingLogger::Line> line(const ScopedCapturingLogger& log,
                                                       StringView text) {
        std::optional<QNCapturingLogger::Line> found;
        for (const auto& l : log->lines()) {
            if (l.text != text) continue;
            if (found) ADD_FAILURE() << "logged twice: " << toUtf8(String(text));
            found = l;
        }
        return found;
    }
    static void expectSynchronizationLine(const ScopedCapturingLogger& log, StringView text,
                                          int level) {
        SCOPED_TRACE(toUtf8(String(text)));
        const auto found = line(log, text);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->type, QNLogTypeSynchronization);
        EXPECT_EQ(found->level, level);
        EXPECT_FALSE(found->console);
    }

    TempDir bundle_;
    std::optional<ScopedBundle> scope_;
};

// --- send and setcheckpoint ------------------------------------------------------------------

TEST_F(SynchronizationTest, SendRefusesWhileATransactionIsOpenAndLogsTheResult) {
    auto fake = installSend();
    auto& manager = QNDBManager::sharedInstance();
    manager.beginTransaction();
    auto connection = manager.connectionForDatastore(QNDBManager::kDefaultDatastoreName);
    ASSERT_TRUE(connection);
    ASSERT_TRUE(connection->hasAnyOpenTransaction());
    {
        ScopedCapturingLogger log;
        EXPECT_EQ(QNSynchronization::send(), 1);
        EXPECT_EQ(fake->sends, 0);
        expectSynchronizationLine(log, u"Starting manual Send", QNLogLevelInfo);
        expectSynchronizationLine(log, u"Finished manual Send with result: 1", QNLogLevelError);
    }

    manager.commit();
    ASSERT_FALSE(connection->hasAnyOpenTransaction());
    EXPECT_EQ(QNSynchronization::send(), 0);
    EXPECT_EQ(fake->sends, 1);
    EXPECT_EQ(fake->fromUserCode, std::vector<bool>{true});
}

TEST_F(SynchronizationTest, SendAnswersTheServicesOutcome) {
    auto fake = installSend();
    EXPECT_EQ(QNSynchronization::sharedInstance().performSend(), 0);
    fake->error = QNError::defaultQNError();
    EXPECT_EQ(QNSynchronization::sharedInstance().performSend(), 2);
    EXPECT_EQ(fake->sends, 2);

    // Disabled: not asked, and nothing to report.
    fake->enabled = false;
    EXPECT_EQ(QNSynchronization::sharedInstance().performSend(), 0);
    EXPECT_EQ(fake->sends, 2);

    QNDataLayerServices::setSynchronizationSendService(nullptr);
    EXPECT_EQ(QNSynchronization::send(), 0);
}

TEST_F(SynchronizationTest, SetcheckpointMarksOnlyWhenSendingIsEnabled) {
    auto fake = installSend();
    {
        ScopedCapturingLogger log;
        EXPECT_EQ(QNSynchronization::setcheckpoint(), 0);
        expectSynchronizationLine(log, u"Setting new Send Checkpoint", QNLogLevelInfo);
    }
    EXPECT_EQ(fake->checkpoints, 1);

    fake->enabled = false;
    EXPECT_EQ(QNSynchronization::setcheckpoint(), 0);
    EXPECT_EQ(fake->checkpoints, 1);
    EXPECT_EQ(fake->sends, 0);

    QNDataLayerServices::setSynchronizationSendService(nullptr);
    EXPECT_EQ(QNSynchronization::setcheckpoint(), 0);
}

// --- receive and status ----------------------------------------------------------------------

TEST_F(SynchronizationTest, ReceiveAndStatusAnswerTheHostsStatus) {
    EXPECT_EQ(QNSynchronization::receive(), 0);  // no service
    EXPECT_EQ(QNSynchronization::status(), 0);

    {
        auto fake = installReceive(completesWith(5));
        EXPECT_EQ(QNSynchronization::receive(), 5);
        EXPECT_EQ(fake->settings(), std::vector<std::int64_t>{3});
        EXPECT_EQ(QNSynchronization::status(), 5);
        EXPECT_EQ(fake->receives(), 1);
        EXPECT_EQ(fake->statuses(), 1);
    }
    {
        // 2 is the host's "done": no error to the caller.
        auto fake = installReceive(completesWith(2));
        EXPECT_EQ(QNSynchronization::receive(), 0);
        EXPECT_EQ(QNSynchronization::status(), 0);
        EXPECT_EQ(fake->receives(), 1);
        EXPECT_EQ(fake->statuses(), 1);
    }
}

TEST_F(SynchronizationTest, WorkTheHostDidNotStartAnswersZeroWhateverItsCompletionSays) {
    auto refusing =
        installReceive([](const QNSynchronizationReceiveService::Completion& completion) {
            completion(5);
            return false;
        });
    EXPECT_EQ(QNSynchronization::receive(), 0);
    EXPECT_EQ(QNSynchronization::status(), 0);

    // Not started and completed only later: the next call neither waits for
    // it nor takes its completion as its own.
    auto late =
        installReceive([first = true](const QNSynchronizationReceiveService::Completion&) mutable {
            const bool started = !first;
            first = false;
            return started;
        });
    Running notStarted([] { return QNSynchronization::sharedInstance().performReceive(); });
    EXPECT_EQ(notStarted.result(), 0);
    Running next([] { return QNSynchronization::sharedInstance().performReceive(); });
    ASSERT_TRUE(late->called.waitFor(2));
    late->completion(0)(7);
    late->completion(1)(5);
    EXPECT_EQ(next.result(), 5);
}

// --- Completions -----------------------------------------------------------------------------

TEST_F(SynchronizationTest, CompletionsFromInsideTheCallFromAnotherThreadAndLate) {
    // Inside the host's call, on the caller's thread.
    installReceive(completesWith(5));
    Running inside([] { return QNSynchronization::sharedInstance().performReceive(); });
    EXPECT_EQ(inside.result(), 5);

    // From a thread of the host's.
    std::thread host;
    installReceive([&host](const QNSynchronizationReceiveService::Completion& completion) {
        host = std::thread([completion] { completion(5); });
        return true;
    });
    Running elsewhere([] { return QNSynchronization::sharedInstance().performStatus(); });
    EXPECT_EQ(elsewhere.result(), 5);
    host.join();

    // After the caller is blocked waiting for it.
    auto fake = installReceive(holds());
    Running waiting([] { return QNSynchronization::sharedInstance().performReceive(); });
    ASSERT_TRUE(fake->called.waitFor());
    ASSERT_TRUE(waitUntilBlocked(waiting.tid()));
    EXPECT_FALSE(waiting.finished());
    fake->completion(0)(5);
    EXPECT_EQ(waiting.result(), 5);
}

TEST_F(SynchronizationTest, RepeatedCompletionIsIgnoredAndLetsNoWaitingThreadIn) {
    auto twice = installReceive([](const QNSynchronizationReceiveService::Completion& completion) {
        completion(5);
        completion(2);
        return true;
    });
    EXPECT_EQ(QNSynchronization::sharedInstance().performReceive(), 5);
    const auto stale = twice->completion(0);

    // One operation in progress, another waiting for it: the first one's
    // completion coming again must not let the waiting one in.
    auto fake = installReceive(holds());
    Running inProgress([] { return QNSynchronization::sharedInstance().performReceive(); });
    ASSERT_TRUE(fake->called.waitFor());
    Running queued([] { return QNSynchronization::sharedInstance().performReceive(); });
    ASSERT_TRUE(waitUntilBlocked(queued.tid()));
    stale(2);
    stale(5);
    ASSERT_TRUE(waitUntilBlocked(queued.tid()));
    EXPECT_EQ(fake->receives(), 1);
    EXPECT_FALSE(inProgress.finished());

    fake->completion(0)(5);
    EXPECT_EQ(inProgress.result(), 5);
    ASSERT_TRUE(fake->called.waitFor(2));
    fake->completion(1)(2);
    EXPECT_EQ(queued.result(), 0);
    EXPECT_EQ(fake->maxInFlight(), 1);
}

// --- Serialization ---------------------------------------------------------------------------

TEST_F(SynchronizationTest, ThreadsCallingReceiveAtOnceTakeTurns) {
    auto fake = installReceive(holds());
    std::vector<std::unique_ptr<Running>> callers;
    for (int i = 0; i < 2; ++i)
        callers.push_back(std::make_unique<Running>(QNSynchronization::receive));

    ASSERT_TRUE(fake->called.waitFor(1));
    const pid_t first = fake->lastCaller();
    Running& other = callers[0]->tid() == first ? *callers[1] : *callers[0];
    Running& holder = callers[0]->tid() == first ? *callers[0] : *callers[1];
    ASSERT_TRUE(waitUntilBlocked(other.tid()));
    EXPECT_EQ(fake->receives(), 1);

    fake->completion(0)(5);
    EXPECT_EQ(holder.result(), 5);
    ASSERT_TRUE(fake->called.waitFor(2));
    EXPECT_EQ(fake->lastCaller(), other.tid());
    EXPECT_FALSE(other.finished());
    fake->completion(1)(6);
    EXPECT_EQ(other.result(), 6);
    EXPECT_EQ(fake->maxInFlight(), 1);
}

// Every pool thread calls receive, and the host delivers completions
// through the pool too: the operations waiting for their turn must not
// keep the holder's completion from running.
TEST_F(SynchronizationTest, ReceiveFromEveryPoolThreadWithCompletionsOnThePool) {
    auto fake = installReceive([](const QNSynchronizationReceiveService::Completion& completion) {
        qn_dispatch_on_background([completion] { completion(5); });
        return true;
    });
    const int items = static_cast<int>(qn_dispatch_background_thread_count());
    auto finished = std::make_shared<Latch>();
    std::vector<std::atomic<std::int64_t>> results(items);
    for (auto& r : results)
        r = -1;
    for (int i = 0; i < items; ++i)
        qn_dispatch_on_background([i, &results, finished] {
            results[i] = QNSynchronization::receive();
            finished->arrive();
        });

    const bool allFinished = finished->waitFor(items);
    EXPECT_TRUE(allFinished) << "the pool is stuck: the holder's completion cannot run";
    if (!allFinished) {
        // Unstick the pool for the tests that follow: the holder's
        // completion from here, the others' then find a free thread.
        fake->completion(0)(5);
    }
    qn_dispatch_wait_for_background_idle();
    for (int i = 0; i < items; ++i)
        EXPECT_EQ(results[i].load(), 5) << i;
    EXPECT_EQ(fake->maxInFlight(), 1);
}

}  // namespace
