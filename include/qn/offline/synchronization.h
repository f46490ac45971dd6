// Two process-wide services of an offline application: the in-memory
// session (QNOfflineSession) and manually started synchronization with the
// server (QNSynchronization), which hands the work to the host's send and
// receive services and waits for their completion.
//
// Thread-safe.
#pragma once

#include <qn/core/containers.h>
#include <qn/core/object.h>
#include <qn/core/registry.h>
#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qn {

// Named values for the life of the process, never persisted. Every
// operation holds the map's lock for its whole duration.
class QN_API QNOfflineSession : public Object {
    QN_OBJECT(QNOfflineSession)
public:
    static QNOfflineSession& sharedInstance();
    static QNOfflineSession& offlineSession() { return sharedInstance(); }

    // Stores the value; Absent or the null marker removes the key.
    void setValueForKeyValue(StringView key, const Value& value);
    // The stored value; "" when there is none.
    Value getValueForKey(StringView key) const;
    void setObjectForKeyValue(StringView key, const Value& value) {
        setValueForKeyValue(key, value);
    }
    Value getObjectForKey(StringView key) const { return getValueForKey(key); }
    void remove(StringView key);
    void clear();
    void destroy() { clear(); }
    // Only when a value is stored under exactly `prefix`: removes every key
    // that begins with it (that one included). Otherwise nothing.
    void removeObjectsWithPrefixKey(StringView prefix);
    // "<QNOfflineSession>\n" and the map's description.
    String description() const override;

    // Typed forms: the stored string ("" when missing or not a string).
    String getValue(StringView key) const;
    void setValue(StringView key, StringView value) { setValueForKeyValue(key, Value(value)); }
    Value getObject(StringView key) const { return getValueForKey(key); }
    void setObject(StringView key, const Value& value) { setValueForKeyValue(key, value); }

private:
    mutable std::mutex mutex_;
    Dictionary dictionary_;
};

// Manual synchronization. Each operation blocks until the host's work has
// ended; the four are serialized (one at a time in the process).
//
// send: 1 while a database transaction is open (nothing done), 2 when the
// host reported an error, else 0 (also when sending is disabled or there is
// no send service). receive and status: the host's status, with 2 answered
// as 0, and 0 when the host did not start the work (or there is no receive
// service). setcheckpoint: always 0.
//
// A completion is taken once: later calls of it, and a completion of work
// the host said it did not start, are ignored. Completions may arrive on any
// thread, also inside the host's call.
class QN_API QNSynchronization : public Object {
    QN_OBJECT(QNSynchronization)
public:
    static constexpr std::int64_t kReceiveSettings = 3;

    static QNSynchronization& sharedInstance();

    // The operations generated code calls: each logs its start and end
    // lines (log type 2, not to the console) around the instance's work.
    static std::int64_t send();
    static std::int64_t receive();
    static std::int64_t status();
    static std::int64_t setcheckpoint();

    // The instance's work, without the lines.
    std::int64_t performSend();
    std::int64_t performReceive();
    std::int64_t performStatus();
    std::int64_t performSetcheckpoint();

    // The operation lock, for callers that must not overlap a manual
    // operation: takes it (waiting while another holder has it) and gives it
    // back. Any thread may give it back.
    void createSemaphoreOrWait();
    void waitSemaphore() { createSemaphoreOrWait(); }
    void signalSemaphore();

private:
    std::int64_t performReceiveOrStatus(bool receive);

    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
};

}  // namespace qn
