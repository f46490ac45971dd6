
#include <qn/host/dispatch.h>
#include <qn/host/log.h>

#include "support/test_support.h"

#include <future>
#include <stdexcept>

namespace qn {
namespace {

using namespace std::chrono_literals;

// Generous: only there so a broken build fails instead of hanging.
constexpr auto kHangGuard = 30s;
using test::Latch;

// ---------------------------------------------------------------------------
// Background pool
// ---------------------------------------------------------------------------

TEST(DispatchTest, HigherPriorityFirstAndFifoAmongEquals) {
    EXPECT_EQ(qn_current_dispatch_priority(), kQNDispatchDefaultPriority);
    const int workers = static_cast<int>(qn_dispatch_background_thread_count());
    ASSERT_GE(workers, 2);
    // Occupy every worker so the items below queue up; then free a single
    // worker, which must take them one at a time in priority order.
    Latch started, first, rest;
    for (int i = 0; i < workers; ++i) {
        qn_dispatch_on_background([&, i] {
            started.arrive();
            (i == 0 ? first : rest).waitFor();
        });
    }
    ASSERT_TRUE(started.waitFor(workers));

    std::mutex mutex;
    std::vector<std::string> order;
    const std::vector<std::pair<std::string, int>> items = {
        {"a", 0}, {"b", 5}, {"c", 0}, {"d", 10}, {"e", 5}, {"f", -3}, {"g", 10}, {"h", 0}};
    for (const auto& [name, priority] : items) {
        auto work = [&, name = name] {
            std::lock_guard lock(mutex);
            order.push_back(name + ":" + std::to_string(qn_current_dispatch_priority()));
        };
        // Items without a priority must run at the default one, although
        // their worker ran higher-priority items before.
        priority == 0 ? qn_dispatch_on_background(work)
                      : qn_dispatch_on_background_with_priority(work, priority);
    }
    // Queued last at the lowest priority: frees the other workers only after
    // every item above ran. The idle wait below starts with every worker
    // running a held item, so it must cover running items too.
    qn_dispatch_on_background_with_priority([&] { rest.arrive(); }, -100);
    first.arrive();
    qn_dispatch_wait_for_background_idle();

    std::lock_guard lock(mutex);
    EXPECT_EQ(order, (std::vector<std::string>{"d:10", "g:10", "b:5", "e:5", "a:0", "c:0", "h:0",
                                               "f:-3"}));
}

TEST(DispatchTest, CompletionFollowsWorkOnTheSameThreadEvenWhenWorkThrew) {
    test::ScopedCapturingLogger log;
    for (bool throws : {false, true}) {
        SCOPED_TRACE(throws ? "work throws" : "work returns");
        std::thread::id workThread, completionThread;
        std::atomic<bool> workDone{false}, completionSawWorkDone{false}, workOnMain{true};
        std::atomic<int> completionPriority{0};
        qn_dispatch_on_background_with_priority(
            [&] {
                qn_dispatch_wait_for_background_idle();  // returns at once in an item
                workThread = std::this_thread::get_id();
                workOnMain = qn_is_main_thread();
                workDone = true;
                if (throws) throw std::runtime_error("work went wrong");
            },
            7,
            [&] {
                completionThread = std::this_thread::get_id();
                completionSawWorkDone = workDone.load();
                completionPriority = qn_current_dispatch_priority();
            });
        qn_dispatch_wait_for_background_idle();
        EXPECT_TRUE(completionSawWorkDone);
        EXPECT_EQ(workThread, completionThread);
        EXPECT_NE(workThread, std::this_thread::get_id());
        EXPECT_FALSE(workOnMain);
        EXPECT_EQ(completionPriority.load(), 7);
    }
    EXPECT_TRUE(log->contains(u"work went wrong"));
}

TEST(DispatchTest, ConcurrentSubmittersWithFailingItemsLoseNothing) {
    test::ScopedCapturingLogger log;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 250;
    auto token = std::make_shared<int>(0);
    std::atomic<int> ran{0};
    std::atomic<int> completed{0};
    test::onThreads(kThreads, [&](int t) {
        for (int i = 0; i < kPerThread; ++i) {
            // Failures are spread over every worker: none may die of one.
            qn_dispatch_on_background_with_priority(
                [&ran, token, i] {
                    ++ran;
                    if (i % 7 == 0) throw std::runtime_error("work went wrong");
                    if (i % 7 == 1) throw 42;
                },
                (t + i) % 5 - 2,
                [&completed, token, i] {
                    ++completed;
                    if (i % 7 == 2) throw std::logic_error("completion went wrong");
                });
        }
    });
    qn_dispatch_wait_for_background_idle();
    EXPECT_EQ(ran.load(), kThreads * kPerThread);
    EXPECT_EQ(completed.load(), kThreads * kPerThread);
    // The idle wait also means the items' captures are gone.
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_TRUE(log->contains(u"work went wrong"));
    EXPECT_TRUE(log->contains(u"unknown exception"));
    EXPECT_TRUE(log->contains(u"completion went wrong"));
}

// ---------------------------------------------------------------------------
// Main queue
// ---------------------------------------------------------------------------

// Each test starts and ends with an empty queue.
class DispatchMainQueueTest : public ::testing::Test {
protected:
    void SetUp() override { qn_main_queue_drain(); }
    void TearDown() override { qn_main_queue_drain(); }
};

// Every worker waits, inside a blocking region, for an item queued after
// them: the pool adds a worker so that item runs. Without the region the
// pool stays stuck (the Latch's bound then fails the test).
TEST(DispatchTest, WorkersBlockedInARegionDoNotStarveTheItemTheyWaitFor) {
    const std::size_t workers = qn_dispatch_background_thread_count();
    auto released = std::make_shared<Latch>();
    auto waiting = std::make_shared<Latch>();
    auto done = std::make_shared<Latch>();
    for (std::size_t i = 0; i < workers; ++i)
        qn_dispatch_on_background([released, waiting, done] {
            const QNDispatchBlockingRegion blocking;
            waiting->arrive();
            if (released->waitFor()) done->arrive();
        });
    ASSERT_TRUE(waiting->waitFor(static_cast<int>(workers)));
    qn_dispatch_on_background([released] { released->arrive(); });
    EXPECT_TRUE(done->waitFor(static_cast<int>(workers)));
    qn_dispatch_wait_for_background_idle();
}

TEST_F(DispatchMainQueueTest, DrainRunsNestedItemsInFifoOrderAsTheMainThread) {
    EXPECT_FALSE(qn_is_main_thread());
    std::vector<std::string> order;
    // Marks the item when it does not run as the main thread.
    auto record = [&](const char* name) {
        order.push_back(std::string(name) + (qn_is_main_thread() ? "" : "?"));
    };
    qn_dispatch_on_main_queue([&] {
        record("a");
        qn_dispatch_on_main_queue([&] {
            record("c");
            // The owner may drain inside an item and stays the main thread.
            qn_dispatch_on_main_queue([&] {
                qn_dispatch_on_main_queue([&] { record("f"); });
                EXPECT_EQ(qn_main_queue_drain(), 1u);
                record("e");
            });
        });
        qn_dispatch_on_main_queue([&] { record("d"); });
    });
    qn_dispatch_on_main_queue([&] { record("b"); });
    EXPECT_EQ(qn_main_queue_drain(), 5u);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "d", "f", "e"}));
    EXPECT_FALSE(qn_is_main_thread());
    EXPECT_EQ(qn_main_queue_drain(), 0u);
}

TEST_F(DispatchMainQueueTest, DrainChecksTheDeadlineAfterEachItemAndSurvivesThrows) {
    test::ScopedCapturingLogger log;
    int ran = 0;
    qn_dispatch_on_main_queue([&] {
        ++ran;
        throw std::runtime_error("main item failed");
    });
    for (int i = 0; i < 2; ++i)
        qn_dispatch_on_main_queue([&] { ++ran; });
    EXPECT_EQ(qn_main_queue_drain(0ms), 1u);
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(log->contains(u"main item failed"));
    EXPECT_EQ(qn_main_queue_drain(), 2u);
    EXPECT_EQ(ran, 3);
}

TEST_F(DispatchMainQueueTest, StopEndsTheRunAfterTheCurrentItemAndIsNeverKept) {
    qn_main_queue_stop();  // nobody runs the queue: discarded
    std::vector<int> order;
    qn_dispatch_on_main_queue([&] { order.push_back(1); });
    qn_dispatch_on_main_queue([&] {
        order.push_back(2);
        qn_main_queue_stop();
        order.push_back(3);
    });
    qn_dispatch_on_main_queue([&] {
        order.push_back(4);
        qn_main_queue_stop();  // only reached if the earlier stop was lost
    });
    qn_main_queue_run();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(qn_is_main_thread());
    EXPECT_EQ(qn_main_queue_drain(), 1u);
}

TEST_F(DispatchMainQueueTest, ConcurrentProducersFeedTheOneThreadThatRunsTheQueue) {
    auto runner = std::async(std::launch::async, qn_main_queue_run);
    // Queued rather than assumed: once this item runs, the run is active. It
    // owns what it uses, so it stays harmless if the run never takes it.
    auto started = std::make_shared<Latch>();
    qn_dispatch_on_main_queue([started] { started->arrive(); });
    ASSERT_TRUE(started->waitFor());
    std::thread::id runnerId;
    Latch blocked, release;
    qn_dispatch_on_main_queue([&] {
        runnerId = std::this_thread::get_id();
        blocked.arrive();
        release.waitFor();
    });
    ASSERT_TRUE(blocked.waitFor());

    constexpr int kThreads = 4;
    constexpr int kPerThread = 200;
    std::atomic<int> ran{0};
    std::atomic<int> offMain{0};
    auto item = [&] {
        if (!qn_is_main_thread() || std::this_thread::get_id() != runnerId) ++offMain;
        ++ran;
    };
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i)
                qn_dispatch_on_main_queue(item);
        });
    }
    qn_dispatch_on_main_queue(item);
    // The runner owns the queue even while busy: nobody else drains or runs it.
    EXPECT_EQ(qn_main_queue_drain(), 0u);
    auto secondRun = std::async(std::launch::async, qn_main_queue_run);
    const bool secondRunReturned = secondRun.wait_for(kHangGuard) == std::future_status::ready;
    EXPECT_TRUE(secondRunReturned);
    if (!secondRunReturned) qn_main_queue_stop();  // lets the test end
    EXPECT_FALSE(qn_is_main_thread());

    release.arrive();
    for (auto& thread : producers)
        thread.join();
    Latch finished;
    qn_dispatch_on_main_queue([&] { finished.arrive(); });
    EXPECT_TRUE(finished.waitFor());
    EXPECT_EQ(ran.load(), kThreads * kPerThread + 1);
    EXPECT_EQ(offMain.load(), 0);
    // A stop from another thread ends the run.
    qn_main_queue_stop();
    EXPECT_EQ(runner.wait_for(kHangGuard), std::future_status::ready);
}

}  // namespace
}  // namespace qn
