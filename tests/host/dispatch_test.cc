#include <gtest/gtest.h>

#include <qn/host/dispatch.h>
#include <qn/host/log.h>

#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace qn {
namespace {

using namespace std::chrono_literals;

// Generous: only there so a broken build fails instead of hanging.
constexpr auto kHangGuard = 30s;

// A one-shot gate that work can wait on.
class Gate {
public:
    // Notifies under the lock: the waiter may destroy the gate once it wakes.
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }
    bool wait() {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, kHangGuard, [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

// Counts arrivals and lets a waiter block until a number is reached.
class Counter {
public:
    void arrive() {
        std::lock_guard lock(mutex_);
        ++count_;
        cv_.notify_all();
    }
    bool waitFor(int n) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, kHangGuard, [&] { return count_ >= n; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    int count_ = 0;
};

// Records strings from any thread.
class Journal {
public:
    void add(std::string entry) {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    std::vector<std::string> entries() {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> entries_;
};

// ---------------------------------------------------------------------------
// Background pool
// ---------------------------------------------------------------------------

TEST(DispatchTest, HigherPriorityFirstAndFifoAmongEquals) {
    const std::size_t workers = qn_dispatch_background_thread_count();
    ASSERT_GE(workers, 2u);
    // Occupy every worker so the items below queue up; then free a single
    // worker, which must take them one at a time in priority order.
    Gate first, rest;
    Counter started;
    qn_dispatch_on_background([&] {
        started.arrive();
        first.wait();
    });
    for (std::size_t i = 1; i < workers; ++i) {
        qn_dispatch_on_background([&] {
            started.arrive();
            rest.wait();
        });
    }
    ASSERT_TRUE(started.waitFor(static_cast<int>(workers)));

    Journal journal;
    const std::vector<std::pair<std::string, int>> items = {
        {"a", 0}, {"b", 5}, {"c", 0}, {"d", 10}, {"e", 5}, {"f", -3}, {"g", 10}, {"h", 0},
    };
    for (const auto& [name, priority] : items) {
        qn_dispatch_on_background_with_priority(
            [&journal, name = name] {
                journal.add(name + ":" + std::to_string(qn_current_dispatch_priority()));
            },
            priority);
    }
    first.open();
    Counter done;
    // Queued last at the lowest priority: runs after every item above.
    qn_dispatch_on_background_with_priority([&] { done.arrive(); }, -100);
    ASSERT_TRUE(done.waitFor(1));
    rest.open();
    qn_dispatch_wait_for_background_idle();

    EXPECT_EQ(journal.entries(), (std::vector<std::string>{"d:10", "g:10", "b:5", "e:5", "a:0",
                                                           "c:0", "h:0", "f:-3"}));
}

TEST(DispatchTest, PriorityIsRecordedForWorkAndCompletion) {
    EXPECT_EQ(qn_current_dispatch_priority(), kQNDispatchDefaultPriority);
    std::promise<int> seen;
    auto future = seen.get_future();
    qn_dispatch_on_background_with_priority(
        [] {}, 7,
        // The priority stays set for the completion.
        [&] { seen.set_value(qn_current_dispatch_priority()); });
    ASSERT_EQ(future.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_EQ(future.get(), 7);

    std::atomic<int> inWork{-1};
    qn_dispatch_on_background_with_priority([&] { inWork = qn_current_dispatch_priority(); }, -4);
    qn_dispatch_wait_for_background_idle();
    EXPECT_EQ(inWork.load(), -4);

    // Items given no priority run at the default, on workers that ran others.
    std::vector<std::atomic<int>> later(2 * qn_dispatch_background_thread_count());
    for (auto& slot : later) {
        qn_dispatch_on_background([&slot] { slot = qn_current_dispatch_priority(); });
    }
    qn_dispatch_wait_for_background_idle();
    for (auto& slot : later)
        EXPECT_EQ(slot.load(), kQNDispatchDefaultPriority);
}

TEST(DispatchTest, CompletionRunsAfterWorkOnTheSameThread) {
    std::thread::id workThread, completionThread;
    std::atomic<bool> workDone{false};
    std::atomic<bool> completionSawWorkDone{false};
    qn_dispatch_on_background_with_priority(
        [&] {
            workThread = std::this_thread::get_id();
            workDone = true;
        },
        3,
        [&] {
            completionThread = std::this_thread::get_id();
            completionSawWorkDone = workDone.load();
        });
    qn_dispatch_wait_for_background_idle();
    EXPECT_TRUE(completionSawWorkDone);
    EXPECT_EQ(workThread, completionThread);
    EXPECT_NE(workThread, std::this_thread::get_id());
}

TEST(DispatchTest, ExceptionsAreLoggedAndThePoolKeepsWorking) {
    test::ScopedCapturingLogger log;
    std::atomic<bool> completionRan{false};
    qn_dispatch_on_background_with_priority([] { throw std::runtime_error("work went wrong"); }, 0,
                                            [&] { completionRan = true; });
    qn_dispatch_on_background([] { throw 42; });
    qn_dispatch_on_background_with_priority(
        [] {}, 0, [] { throw std::logic_error("completion went wrong"); });
    qn_dispatch_wait_for_background_idle();
    EXPECT_TRUE(completionRan) << "completion must still run after failed work";

    // Every worker survived: more items than workers all run.
    const int count = 4 * static_cast<int>(qn_dispatch_background_thread_count());
    std::atomic<int> ran{0};
    for (int i = 0; i < count; ++i)
        qn_dispatch_on_background([&] { ++ran; });
    qn_dispatch_wait_for_background_idle();
    EXPECT_EQ(ran.load(), count);

    EXPECT_TRUE(log->contains(u"work went wrong"));
    EXPECT_TRUE(log->contains(u"completion went wrong"));
    EXPECT_TRUE(log->contains(u"unknown exception"));
    for (const auto& line : log->lines()) {
        EXPECT_EQ(line.type, QNLogTypeSynchronization);
        EXPECT_EQ(line.level, QNLogLevelError);
    }
}

TEST(DispatchTest, IdleWaitCoversEarlierItemsAndReleasesTheirCaptures) {
    auto token = std::make_shared<int>(0);
    std::atomic<int> ran{0};
    constexpr int kItems = 200;
    for (int i = 0; i < kItems; ++i) {
        qn_dispatch_on_background_with_priority(
            [token, &ran] {
                std::this_thread::yield();
                ++ran;
            },
            i % 3, [token] {});
    }
    qn_dispatch_wait_for_background_idle();
    EXPECT_EQ(ran.load(), kItems);
    EXPECT_EQ(token.use_count(), 1);
}

TEST(DispatchTest, IdleWaitFromBackgroundWorkDoesNotDeadlock) {
    std::atomic<bool> returned{false};
    qn_dispatch_on_background([&] {
        qn_dispatch_wait_for_background_idle();
        returned = true;
    });
    qn_dispatch_wait_for_background_idle();
    EXPECT_TRUE(returned);
}

TEST(DispatchTest, ConcurrentSubmittersLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 250;
    std::atomic<int> ran{0};
    std::atomic<int> completed{0};
    std::vector<std::thread> submitters;
    for (int t = 0; t < kThreads; ++t) {
        submitters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                qn_dispatch_on_background_with_priority([&] { ++ran; }, (t + i) % 5 - 2,
                                                        [&] { ++completed; });
            }
        });
    }
    for (auto& thread : submitters)
        thread.join();
    qn_dispatch_wait_for_background_idle();
    EXPECT_EQ(ran.load(), kThreads * kPerThread);
    EXPECT_EQ(completed.load(), kThreads * kPerThread);
}

// ---------------------------------------------------------------------------
// Main queue
// ---------------------------------------------------------------------------

// Runs the main queue on its own thread for the life of the object.
class MainQueueThread {
public:
    MainQueueThread() {
        auto started = std::make_shared<std::promise<void>>();
        auto startedFuture = started->get_future();
        returnedFuture_ = returned_.get_future();
        thread_ = std::thread([this] {
            id_ = std::this_thread::get_id();
            qn_main_queue_run();
            returned_.set_value();
        });
        // Queued rather than assumed: once this item runs, the run is active.
        qn_dispatch_on_main_queue([started] { started->set_value(); });
        running_ = startedFuture.wait_for(kHangGuard) == std::future_status::ready;
    }
    ~MainQueueThread() {
        if (returnedFuture_.wait_for(0s) != std::future_status::ready) {
            qn_dispatch_on_main_queue(qn_main_queue_stop);
        }
        thread_.join();
        // Leave nothing behind for the next test.
        qn_main_queue_drain();
    }
    bool running() const { return running_; }
    // True once qn_main_queue_run has returned on the thread.
    bool waitUntilReturned() {
        return returnedFuture_.wait_for(kHangGuard) == std::future_status::ready;
    }
    std::thread::id id() const { return id_; }

private:
    std::thread thread_;
    std::thread::id id_;
    std::promise<void> returned_;
    std::future<void> returnedFuture_;
    bool running_ = false;
};

class DispatchMainQueueTest : public ::testing::Test {
protected:
    void SetUp() override { qn_main_queue_drain(); }
    void TearDown() override { qn_main_queue_drain(); }
};

TEST_F(DispatchMainQueueTest, NoMainThreadUnlessSomebodyRunsTheQueue) {
    EXPECT_FALSE(qn_is_main_thread());
    std::atomic<bool> inBackground{true};
    qn_dispatch_on_background([&] { inBackground = qn_is_main_thread(); });
    qn_dispatch_wait_for_background_idle();
    EXPECT_FALSE(inBackground);

    bool inItem = false;
    qn_dispatch_on_main_queue([&] { inItem = qn_is_main_thread(); });
    EXPECT_EQ(qn_main_queue_drain(), 1u);
    EXPECT_TRUE(inItem);
    EXPECT_FALSE(qn_is_main_thread());
}

TEST_F(DispatchMainQueueTest, DrainRunsItemsQueuedByItemsInFifoOrder) {
    std::vector<std::string> order;
    qn_dispatch_on_main_queue([&] {
        order.push_back("a");
        qn_dispatch_on_main_queue([&] {
            order.push_back("c");
            qn_dispatch_on_main_queue([&] { order.push_back("e"); });
        });
        qn_dispatch_on_main_queue([&] { order.push_back("d"); });
    });
    qn_dispatch_on_main_queue([&] { order.push_back("b"); });
    EXPECT_EQ(qn_main_queue_drain(), 5u);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(qn_main_queue_drain(), 0u);
}

TEST_F(DispatchMainQueueTest, DrainChecksTheDeadlineAfterEachItem) {
    int ran = 0;
    for (int i = 0; i < 3; ++i)
        qn_dispatch_on_main_queue([&] { ++ran; });
    EXPECT_EQ(qn_main_queue_drain(0ms), 1u);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(qn_main_queue_drain(), 2u);
    EXPECT_EQ(ran, 3);
}

TEST_F(DispatchMainQueueTest, ExceptionInAnItemIsLoggedAndTheQueueGoesOn) {
    test::ScopedCapturingLogger log;
    bool after = false;
    qn_dispatch_on_main_queue([] { throw std::runtime_error("main item failed"); });
    qn_dispatch_on_main_queue([&] { after = true; });
    EXPECT_EQ(qn_main_queue_drain(), 2u);
    EXPECT_TRUE(after);
    EXPECT_TRUE(log->contains(u"main item failed"));
}

TEST_F(DispatchMainQueueTest, StopFromAnItemEndsTheRunAfterThatItem) {
    std::vector<int> order;
    qn_dispatch_on_main_queue([&] {
        order.push_back(1);
        qn_main_queue_stop();
        order.push_back(2);
    });
    qn_dispatch_on_main_queue([&] {
        order.push_back(3);
        qn_main_queue_stop();  // only reached if the first stop was lost
    });
    qn_main_queue_run();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_FALSE(qn_is_main_thread());
    EXPECT_EQ(qn_main_queue_drain(), 1u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(DispatchMainQueueTest, RunOnAnotherThreadIsTheMainThreadUntilStopped) {
    MainQueueThread runner;
    ASSERT_TRUE(runner.running());
    EXPECT_FALSE(qn_is_main_thread());

    std::promise<std::pair<std::thread::id, bool>> seen;
    auto future = seen.get_future();
    qn_dispatch_on_main_queue([&] {
        seen.set_value({std::this_thread::get_id(), qn_is_main_thread()});
    });
    ASSERT_EQ(future.wait_for(kHangGuard), std::future_status::ready);
    auto [thread, isMain] = future.get();
    EXPECT_EQ(thread, runner.id());
    EXPECT_TRUE(isMain);

    qn_main_queue_stop();
    EXPECT_TRUE(runner.waitUntilReturned());
}

TEST_F(DispatchMainQueueTest, StaleStopDoesNotEndALaterRun) {
    qn_main_queue_stop();  // nobody runs the queue: discarded
    MainQueueThread runner;
    EXPECT_TRUE(runner.running()) << "the earlier stop ended the run";
}

TEST_F(DispatchMainQueueTest, OnlyOneThreadRunsTheQueueAtATime) {
    MainQueueThread runner;
    ASSERT_TRUE(runner.running());

    Gate release;
    Counter blocked;
    qn_dispatch_on_main_queue([&] {
        blocked.arrive();
        release.wait();
    });
    ASSERT_TRUE(blocked.waitFor(1));

    std::promise<std::thread::id> ranOn;
    auto future = ranOn.get_future();
    qn_dispatch_on_main_queue([&] { ranOn.set_value(std::this_thread::get_id()); });
    // The runner owns the queue: this thread neither drains nor runs it.
    EXPECT_EQ(qn_main_queue_drain(), 0u);
    auto secondRun = std::async(std::launch::async, [] { qn_main_queue_run(); });
    EXPECT_EQ(secondRun.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_FALSE(qn_is_main_thread());

    release.open();
    ASSERT_EQ(future.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_EQ(future.get(), runner.id());
}

TEST_F(DispatchMainQueueTest, OwnerMayDrainInsideAnItem) {
    std::vector<int> order;
    qn_dispatch_on_main_queue([&] {
        qn_dispatch_on_main_queue([&] { order.push_back(2); });
        order.push_back(1);
        EXPECT_EQ(qn_main_queue_drain(), 1u);
        EXPECT_TRUE(qn_is_main_thread()) << "still inside the outer drain";
        order.push_back(3);
    });
    EXPECT_EQ(qn_main_queue_drain(), 1u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(qn_is_main_thread());
}

TEST_F(DispatchMainQueueTest, ConcurrentProducersFeedOneRunner) {
    MainQueueThread runner;
    ASSERT_TRUE(runner.running());
    constexpr int kThreads = 4;
    constexpr int kPerThread = 200;
    std::atomic<int> ran{0};
    std::atomic<int> offMain{0};
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) {
                qn_dispatch_on_main_queue([&] {
                    if (!qn_is_main_thread()) ++offMain;
                    ++ran;
                });
            }
        });
    }
    for (auto& thread : producers)
        thread.join();
    Counter finished;
    qn_dispatch_on_main_queue([&] { finished.arrive(); });
    ASSERT_TRUE(finished.waitFor(1));
    EXPECT_EQ(ran.load(), kThreads * kPerThread);
    EXPECT_EQ(offMain.load(), 0);
}

}  // namespace
}  // namespace qn
