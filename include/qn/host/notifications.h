// The default notification center: named notifications posted by one part
// of the program and observed by others (for example the save and delete
// notifications of business components).
//
// Delivery is synchronous, on the posting thread, in the order observers
// were added. An observer may add or remove observers (itself included)
// while it is being notified; the change applies from the next post. A post
// goes to the observers registered when it started, so one removed meanwhile
// (from any thread) may still receive it; after removeObserver returns, later
// posts skip it. An exception thrown by an observer reaches the poster, and
// the observers after it miss that post.
//
// Thread-safe.
#pragma once

#include <qn/core/string.h>
#include <qn/export.h>
#include <qn/value.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace qn {

struct QNNotification {
    String name;
    Value object;              // the sender, or Absent
    Ref<Dictionary> userInfo;  // may be null
};

class QN_API QNNotificationCenter {
public:
    using Token = std::uint64_t;
    using Observer = std::function<void(const QNNotification&)>;

    static QNNotificationCenter& defaultCenter();

    QNNotificationCenter() = default;
    QNNotificationCenter(const QNNotificationCenter&) = delete;
    QNNotificationCenter& operator=(const QNNotificationCenter&) = delete;

    // Observes notifications of `name`; an empty name observes every
    // notification. The token removes the observer.
    Token addObserverForName(const String& name, Observer observer);
    void removeObserver(Token token);

    void postNotificationNameObjectUserInfo(const String& name, const Value& object = Value(),
                                            Ref<Dictionary> userInfo = nullptr);
    void postNotification(const QNNotification& notification);

private:
    struct Entry {
        Token token;
        String name;
        std::shared_ptr<Observer> observer;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    Token nextToken_ = 1;
};

}  // namespace qn
