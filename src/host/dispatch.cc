// The background pool and the main queue.
//
// Both are process-wide objects allocated on first use and never destroyed:
// the pool's workers are detached and may still be waiting, or finishing an
// item, while the process exits, so nothing they touch may be torn down by
// static destruction.
//
// The pool has max(2, hardware_concurrency) workers, started on first use.
// Should the system refuse to start any thread, items run on the submitting
// thread rather than being lost.
//
// The main queue's stop flag is only set while a run is in progress and is
// read under the same lock as the queue, so a stop that arrives while the run
// is busy with an item, or about to wait, is never lost; the run clears it on
// return, so no stale stop can end a later run. The public header documents
// the rest (ownership, drain's deadline, the idle wait).
#include <qn/host/dispatch.h>
#include <qn/host/log.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace qn {

namespace {

thread_local int tCurrentPriority = kQNDispatchDefaultPriority;
thread_local bool tIsBackgroundWorker = false;
// How deeply this thread is nested in run/drain of the main queue.
thread_local int tMainQueueDepth = 0;

void logFailure(const char* where, const char* what) noexcept {
    try {
        String text = fromUtf8(where) + u" failed with an exception: " + fromUtf8(what);
        QNLog::loggerService()->logMessage(text, QNLogTypeSynchronization, QNLogLevelError);
    } catch (...) {
        // Logging itself failed (out of memory); nothing sensible is left to do.
    }
}

void runGuarded(const QNDispatchBlock& block, const char* where) noexcept {
    try {
        block();
    } catch (const std::exception& e) {
        logFailure(where, e.what());
    } catch (...) {
        logFailure(where, "unknown exception");
    }
}

class BackgroundPool {
public:
    static BackgroundPool& instance() {
        static auto* pool = new BackgroundPool;
        return *pool;
    }

    void submit(QNDispatchBlock work, int priority, QNDispatchBlock completion) {
        Item item{priority, 0, std::move(work), std::move(completion)};
        if (threadCount_ == 0) {
            execute(item);
            return;
        }
        {
            std::lock_guard lock(mutex_);
            item.sequence = nextSequence_++;
            auto unfinished = unfinished_.insert(item.sequence).first;
            try {
                heap_.push_back(std::move(item));
            } catch (...) {
                unfinished_.erase(unfinished);
                throw;
            }
            std::push_heap(heap_.begin(), heap_.end(), runsAfter);
            addWorkerIfStuck();
        }
        workAvailable_.notify_one();
    }

    // A worker is about to wait for something other pool work may have to
    // provide: when nothing else can run the queue, a worker is added so
    // the wait cannot hold up what it waits for.
    void enterBlocking() {
        std::lock_guard lock(mutex_);
        ++blocked_;
        addWorkerIfStuck();
    }
    void leaveBlocking() {
        std::lock_guard lock(mutex_);
        --blocked_;
    }

    void waitForIdle() {
        if (tIsBackgroundWorker) return;
        std::unique_lock lock(mutex_);
        const std::uint64_t limit = nextSequence_;
        ++idleWaiters_;
        itemFinished_.wait(lock,
                           [&] { return unfinished_.empty() || *unfinished_.begin() >= limit; });
        --idleWaiters_;
    }

    std::size_t threadCount() const noexcept { return threadCount_; }

private:
    struct Item {
        int priority;
        std::uint64_t sequence;
        QNDispatchBlock work;
        QNDispatchBlock completion;
    };

    // Heap order: the top is the highest priority, and among equal
    // priorities the earliest submitted.
    static bool runsAfter(const Item& a, const Item& b) noexcept {
        if (a.priority != b.priority) return a.priority < b.priority;
        return a.sequence > b.sequence;
    }

    BackgroundPool() {
        const std::size_t wanted = std::max(2u, std::thread::hardware_concurrency());
        for (std::size_t i = 0; i < wanted; ++i) {
            try {
                std::thread(&BackgroundPool::workerLoop, this, false).detach();
            } catch (const std::system_error&) {
                break;
            }
            ++threadCount_;
        }
    }

    static void execute(const Item& item) noexcept {
        const int outer = std::exchange(tCurrentPriority, item.priority);
        if (item.work) runGuarded(item.work, "Background work");
        if (item.completion) runGuarded(item.completion, "Background completion");
        tCurrentPriority = outer;
    }

    // Under the lock: queued work, no idle worker, and every busy worker
    // waiting in a blocking region. Extra workers are bounded; they leave
    // once the queue is empty.
    void addWorkerIfStuck() {
        if (heap_.empty() || idle_ > 0 || blocked_ == 0 || blocked_ < busy_ ||
            extra_ >= kMaxExtraWorkers)
            return;
        try {
            std::thread(&BackgroundPool::workerLoop, this, true).detach();
            ++extra_;
            ++busy_;
        } catch (const std::system_error&) {
            // No thread to be had: the queue waits for a worker as before.
        }
    }

    void workerLoop(bool extra) {
        tIsBackgroundWorker = true;
        std::unique_lock lock(mutex_);
        if (!extra) ++busy_;
        for (;;) {
            if (heap_.empty()) {
                if (extra) {
                    --extra_;
                    --busy_;
                    return;
                }
                --busy_;
                ++idle_;
                workAvailable_.wait(lock, [&] { return !heap_.empty(); });
                --idle_;
                ++busy_;
            }
            std::pop_heap(heap_.begin(), heap_.end(), runsAfter);
            Item item = std::move(heap_.back());
            heap_.pop_back();
            lock.unlock();

            execute(item);
            // Captured state goes before the item counts as finished, so an
            // idle wait also means the blocks' captures have been released.
            item.work = nullptr;
            item.completion = nullptr;

            lock.lock();
            unfinished_.erase(item.sequence);
            if (idleWaiters_ > 0) itemFinished_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable itemFinished_;
    std::vector<Item> heap_;
    std::set<std::uint64_t> unfinished_;  // sequence numbers queued or running
    std::uint64_t nextSequence_ = 0;
    std::size_t idleWaiters_ = 0;
    std::size_t threadCount_ = 0;  // fixed once the constructor returns
    static constexpr std::size_t kMaxExtraWorkers = 64;
    std::size_t busy_ = 0;     // workers not waiting for work
    std::size_t idle_ = 0;     // workers waiting for work
    std::size_t blocked_ = 0;  // busy workers inside a blocking region
    std::size_t extra_ = 0;    // workers added for blocked ones
};

class MainQueue {
public:
    static MainQueue& instance() {
        static auto* queue = new MainQueue;
        return *queue;
    }

    void enqueue(QNDispatchBlock work) {
        {
            std::lock_guard lock(mutex_);
            items_.push_back(std::move(work));
        }
        wake_.notify_all();
    }

    void run() {
        std::unique_lock lock(mutex_);
        if (!claim()) return;
        ++runDepth_;
        for (;;) {
            wake_.wait(lock, [&] { return stopRequested_ || !items_.empty(); });
            if (stopRequested_) {
                stopRequested_ = false;
                break;
            }
            runFront(lock);
        }
        --runDepth_;
        release();
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            if (runDepth_ == 0) return;
            stopRequested_ = true;
        }
        wake_.notify_all();
    }

    std::size_t drain(std::chrono::milliseconds timeout) {
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        // Saturate: the default timeout (milliseconds::max) would overflow.
        const auto deadline = timeout >= std::chrono::duration_cast<std::chrono::milliseconds>(
                                             Clock::time_point::max() - start)
                                  ? Clock::time_point::max()
                                  : start + timeout;

        std::unique_lock lock(mutex_);
        if (!claim()) return 0;
        std::size_t ran = 0;
        while (!items_.empty()) {
            runFront(lock);
            ++ran;
            if (Clock::now() >= deadline) break;
        }
        release();
        return ran;
    }

private:
    // Makes the calling thread the main thread unless another thread is.
    // Called with mutex_ held.
    bool claim() {
        const auto self = std::this_thread::get_id();
        if (owner_ != std::thread::id() && owner_ != self) return false;
        owner_ = self;
        ++tMainQueueDepth;
        return true;
    }

    void release() {
        if (--tMainQueueDepth == 0) owner_ = std::thread::id();
    }

    // Runs the first queued item outside the lock; `lock` is held on entry
    // and on return.
    void runFront(std::unique_lock<std::mutex>& lock) {
        QNDispatchBlock item = std::move(items_.front());
        items_.pop_front();
        lock.unlock();
        if (item) runGuarded(item, "Main queue work");
        item = nullptr;
        lock.lock();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<QNDispatchBlock> items_;
    std::thread::id owner_;
    int runDepth_ = 0;  // runs in progress (nested on the owner)
    bool stopRequested_ = false;
};

}  // namespace

void qn_dispatch_on_background_with_priority(QNDispatchBlock work, int priority,
                                             QNDispatchBlock completion) {
    BackgroundPool::instance().submit(std::move(work), priority, std::move(completion));
}

void qn_dispatch_on_background(QNDispatchBlock work) {
    qn_dispatch_on_background_with_priority(std::move(work), kQNDispatchDefaultPriority);
}

void qn_dispatch_on_main_queue(QNDispatchBlock work) {
    MainQueue::instance().enqueue(std::move(work));
}

int qn_current_dispatch_priority() noexcept {
    return tCurrentPriority;
}

bool qn_is_main_thread() noexcept {
    return tMainQueueDepth > 0;
}

void qn_main_queue_run() {
    MainQueue::instance().run();
}

void qn_main_queue_stop() {
    MainQueue::instance().stop();
}

std::size_t qn_main_queue_drain(std::chrono::milliseconds timeout) {
    return MainQueue::instance().drain(timeout);
}

void qn_dispatch_wait_for_background_idle() {
    BackgroundPool::instance().waitForIdle();
}

QNDispatchBlockingRegion::QNDispatchBlockingRegion() : active_(tIsBackgroundWorker) {
    if (active_) BackgroundPool::instance().enterBlocking();
}

QNDispatchBlockingRegion::~QNDispatchBlockingRegion() {
    if (active_) BackgroundPool::instance().leaveBlocking();
}

std::size_t qn_dispatch_background_thread_count() noexcept {
    return BackgroundPool::instance().threadCount();
}

}  // namespace qn
