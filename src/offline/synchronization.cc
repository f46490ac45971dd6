// The offline session and manual synchronization.
//
// Synchronization keeps two things apart that one counting semaphore would
// mix up: the operation lock (a flag under a mutex, so only the holder's
// release opens it) and, per call, a latch the host's completion sets
// directly. A waiting thread can then never take another call's
// completion, and a duplicate or late completion cannot open the lock. Both
// waits are blocking regions of the pool: when every worker waits in one,
// the pool adds a worker, so a completion the host delivers on the pool
// still runs.
#include <qn/core/string.h>
#include <qn/host/data_layer.h>
#include <qn/host/dispatch.h>
#include <qn/host/errors.h>
#include <qn/host/log.h>
#include <qn/offline/db.h>
#include <qn/offline/db_manager.h>
#include <qn/offline/synchronization.h>

#include <memory>
#include <optional>
#include <string>

namespace qn {

QN_REGISTER_CLASS(QNOfflineSession, Object)
QN_REGISTER_CLASS(QNSynchronization, Object)

// --- QNOfflineSession ------------------------------------------------------------------------

QNOfflineSession& QNOfflineSession::sharedInstance() {
    static auto* session = new QNOfflineSession;  // threads may outlive exit
    return *session;
}

void QNOfflineSession::setValueForKeyValue(StringView key, const Value& value) {
    std::lock_guard lock(mutex_);
    if (value.isAbsentOrNull()) {
        dictionary_.remove(key);
    } else {
        dictionary_.set(String(key), value);
    }
}

Value QNOfflineSession::getValueForKey(StringView key) const {
    std::lock_guard lock(mutex_);
    const Value& value = dictionary_.get(key);
    return value.isAbsent() ? Value(String()) : value;
}

String QNOfflineSession::getValue(StringView key) const {
    std::lock_guard lock(mutex_);
    const Value& value = dictionary_.get(key);
    return value.isString() ? value.asString() : String();
}

void QNOfflineSession::remove(StringView key) {
    std::lock_guard lock(mutex_);
    dictionary_.remove(key);
}

void QNOfflineSession::clear() {
    std::lock_guard lock(mutex_);
    dictionary_.clear();
}

void QNOfflineSession::removeObjectsWithPrefixKey(StringView prefix) {
    std::lock_guard lock(mutex_);
    if (!dictionary_.contains(prefix)) return;
    for (const String& key : dictionary_.keys())
        if (StringView(key).starts_with(prefix)) dictionary_.remove(key);
}

String QNOfflineSession::description() const {
    std::lock_guard lock(mutex_);
    return Object::description() + u"\n" + dictionary_.description();
}

// --- QNSynchronization -----------------------------------------------------------------------

namespace {

// One call's completion: the first one counts.
class Call {
public:
    // Records the outcome unless one was recorded already.
    void complete(std::int64_t result, bool failed) {
        {
            std::lock_guard lock(mutex_);
            if (done_) return;
            done_ = true;
            result_ = result;
            failed_ = failed;
        }
        completed_.notify_all();
    }
    void wait() {
        // The host may deliver the completion on the pool this thread is part of.
        const QNDispatchBlockingRegion blocking;
        std::unique_lock lock(mutex_);
        completed_.wait(lock, [this] { return done_; });
    }
    std::int64_t result() const {
        std::lock_guard lock(mutex_);
        return result_;
    }
    bool failed() const {
        std::lock_guard lock(mutex_);
        return failed_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable completed_;
    bool done_ = false;
    std::int64_t result_ = 0;
    bool failed_ = false;
};

void logLine(const String& text, int level) {
    QNLog::loggerService()->logMessage(text, QNLogTypeSynchronization, level, false);
}

std::int64_t logged(const char16_t* name, std::int64_t (QNSynchronization::*operation)()) {
    logLine(u"Starting manual " + String(name), QNLogLevelInfo);
    const std::int64_t result = (QNSynchronization::sharedInstance().*operation)();
    logLine(
        u"Finished manual " + String(name) + u" with result: " + fromUtf8(std::to_string(result)),
        result != 0 ? QNLogLevelError : QNLogLevelInfo);
    return result;
}

// Holds the operation lock for a scope.
class Held {
public:
    explicit Held(QNSynchronization& synchronization) : synchronization_(synchronization) {
        synchronization_.createSemaphoreOrWait();
    }
    ~Held() { synchronization_.signalSemaphore(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    QNSynchronization& synchronization_;
};

}  // namespace

QNSynchronization& QNSynchronization::sharedInstance() {
    static auto* instance = new QNSynchronization;  // threads may outlive exit
    return *instance;
}

void QNSynchronization::createSemaphoreOrWait() {
    // The holder may need a pool thread to finish.
    const QNDispatchBlockingRegion blocking;
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return !held_; });
    held_ = true;
}

void QNSynchronization::signalSemaphore() {
    {
        std::lock_guard lock(mutex_);
        held_ = false;
    }
    released_.notify_one();
}

std::int64_t QNSynchronization::send() {
    return logged(u"Send", &QNSynchronization::performSend);
}

std::int64_t QNSynchronization::receive() {
    return logged(u"Receive", &QNSynchronization::performReceive);
}

std::int64_t QNSynchronization::status() {
    return logged(u"ServerStatus", &QNSynchronization::performStatus);
}

std::int64_t QNSynchronization::setcheckpoint() {
    logLine(u"Setting new Send Checkpoint", QNLogLevelInfo);
    return sharedInstance().performSetcheckpoint();
}

std::int64_t QNSynchronization::performSend() {
    // The host sends what is committed: with work still open, nothing.
    auto connection =
        QNDBManager::sharedInstance().connectionForDatastore(QNDBManager::kDefaultDatastoreName);
    if (connection && connection->hasAnyOpenTransaction()) return 1;

    Held held(*this);
    auto service = QNDataLayerServices::synchronizationSendService();
    if (!service || !service->isSynchronizationSendEnabled()) return 0;
    auto call = std::make_shared<Call>();
    service->sendPendingEventsStartedFromUserCodeWithCompletionBlock(
        true,
        [call](const std::optional<QNError>& error) { call->complete(0, error.has_value()); });
    call->wait();
    return call->failed() ? 2 : 0;
}

std::int64_t QNSynchronization::performSetcheckpoint() {
    Held held(*this);
    auto service = QNDataLayerServices::synchronizationSendService();
    if (service && service->isSynchronizationSendEnabled()) service->createSendCheckpoint();
    return 0;
}

std::int64_t QNSynchronization::performReceive() {
    return performReceiveOrStatus(true);
}

std::int64_t QNSynchronization::performStatus() {
    return performReceiveOrStatus(false);
}

std::int64_t QNSynchronization::performReceiveOrStatus(bool receive) {
    Held held(*this);
    auto service = QNDataLayerServices::synchronizationReceiveService();
    if (!service) return 0;
    auto call = std::make_shared<Call>();
    auto completion = [call](std::uint32_t status) {
        call->complete(status == 2 ? 0 : static_cast<std::int64_t>(status), false);
    };
    const bool started =
        receive ? service->synchronizeWithSettingsCompletionBlock(kReceiveSettings, completion)
                : service->checkServerSynchronizationStatusWithCompletionBlock(completion);
    // Work the host did not start answers 0 whatever its completion says.
    if (!started) return 0;
    call->wait();
    return call->result();
}

}  // namespace qn
