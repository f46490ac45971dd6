// The notification center.
//
// A post copies the matching observers under the lock and calls them after
// releasing it, so an observer may post, add or remove observers without
// deadlocking, and a slow observer never blocks other threads' posts. The
// cost of that snapshot: an observer removed while a post is being delivered
// (by an earlier observer, or by another thread) may still receive that post;
// removeObserver guarantees only that later posts skip it. An observer added
// during a post receives the next post.
//
// An exception thrown by an observer is not caught here: it is the poster's
// (generated code's) exception, and the observers after it miss that post.
#include <qn/host/notifications.h>

#include <algorithm>
#include <utility>

namespace qn {

QNNotificationCenter& QNNotificationCenter::defaultCenter() {
    // Never destroyed: background work may still post while the process exits.
    static auto* center = new QNNotificationCenter;
    return *center;
}

QNNotificationCenter::Token QNNotificationCenter::addObserverForName(const String& name,
                                                                     Observer observer) {
    // An empty observer could only fail when called; token 0 is never issued,
    // and removing it does nothing.
    if (!observer) return 0;
    auto shared = std::make_shared<Observer>(std::move(observer));
    std::lock_guard lock(mutex_);
    const Token token = nextToken_++;
    entries_.push_back(Entry{token, name, std::move(shared)});
    return token;
}

void QNNotificationCenter::removeObserver(Token token) {
    std::shared_ptr<Observer> removed;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [token](const Entry& e) { return e.token == token; });
        if (it == entries_.end()) return;
        removed = std::move(it->observer);
        entries_.erase(it);
    }
    // `removed` is released here, outside the lock: the observer's captures
    // may own objects whose destructors use the center.
}

void QNNotificationCenter::postNotificationNameObjectUserInfo(const String& name,
                                                              const Value& object,
                                                              Ref<Dictionary> userInfo) {
    postNotification(QNNotification{name, object, std::move(userInfo)});
}

void QNNotificationCenter::postNotification(const QNNotification& notification) {
    std::vector<std::shared_ptr<Observer>> matching;
    {
        std::lock_guard lock(mutex_);
        matching.reserve(entries_.size());
        for (const auto& entry : entries_) {
            if (entry.name.empty() || entry.name == notification.name) {
                matching.push_back(entry.observer);
            }
        }
    }
    for (const auto& observer : matching)
        (*observer)(notification);
}

}  // namespace qn
