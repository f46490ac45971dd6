// Running work elsewhere: a background pool with priorities, and a main
// queue that the application drives.
//
// Background work runs on a process-wide pool of worker threads; among the
// waiting items the one with the highest priority goes first, items of equal
// priority in submission order. The priority an item was given can be read
// from inside it (qn_current_dispatch_priority).
//
// "The main thread" is the thread that runs the main queue. A console program
// that never runs it has no main thread: work queued for it waits until
// somebody runs the queue, and qn_is_main_thread() is false everywhere.
//
// Thread-safe: every function may be called from any thread.
#pragma once

#include <qn/export.h>

#include <chrono>
#include <cstddef>
#include <functional>

namespace qn {

using QNDispatchBlock = std::function<void()>;

inline constexpr int kQNDispatchDefaultPriority = 0;

// Runs `work` on a background thread at `priority`, then `completion` (when
// given) on the same thread. An exception escaping either is caught and
// logged, never lost in a worker; completion runs even when work threw.
QN_API void qn_dispatch_on_background_with_priority(QNDispatchBlock work, int priority,
                                                    QNDispatchBlock completion = nullptr);
// The same at the default priority.
QN_API void qn_dispatch_on_background(QNDispatchBlock work);
// Queues `work` for the main queue.
QN_API void qn_dispatch_on_main_queue(QNDispatchBlock work);

// The priority of the background item running on this thread; the default
// priority on any other thread.
QN_API int qn_current_dispatch_priority() noexcept;

// True on the thread currently running the main queue.
QN_API bool qn_is_main_thread() noexcept;

// Runs the main queue on the calling thread until qn_main_queue_stop() is
// called; that thread is the main thread meanwhile. One thread at a time
// runs the queue: while another thread does, this returns at once. The main
// thread may nest run or drain inside an item.
QN_API void qn_main_queue_run();
// Asks a running main queue to return once the item in progress ends (the
// innermost run, when runs are nested). With no run in progress it does
// nothing: a stop is never kept for a later run. To stop a run that another
// thread may still be starting, queue the stop:
// qn_dispatch_on_main_queue(qn_main_queue_stop).
QN_API void qn_main_queue_stop();
// Runs what is queued now, and what it queues, until the queue is empty or
// `timeout` has passed; returns how many items ran. The timeout is checked
// after each item, so one queued item always runs. The calling thread is
// the main thread meanwhile; while another thread runs the queue this
// returns 0 at once. For applications with their own event loop and for
// tests.
QN_API std::size_t qn_main_queue_drain(
    std::chrono::milliseconds timeout = std::chrono::milliseconds::max());

// Blocks until every background item submitted before the call has finished
// (tests and orderly shutdown); items submitted later are not waited for.
// Called from background work it returns at once, as an item cannot wait
// for itself.
QN_API void qn_dispatch_wait_for_background_idle();

// Brackets a wait, inside background work, for something that other
// background work may have to provide (a completion the host delivers on the
// pool, a lock another item holds). While every busy worker waits in such a
// region and work is queued, the pool adds a worker (up to a bound), so the
// waits cannot starve what they wait for. Elsewhere it does nothing.
class QN_API QNDispatchBlockingRegion {
public:
    QNDispatchBlockingRegion();
    ~QNDispatchBlockingRegion();
    QNDispatchBlockingRegion(const QNDispatchBlockingRegion&) = delete;
    QNDispatchBlockingRegion& operator=(const QNDispatchBlockingRegion&) = delete;

private:
    bool active_;
};

// Number of worker threads of the background pool: max(2, hardware threads).
QN_API std::size_t qn_dispatch_background_thread_count() noexcept;

}  // namespace qn
