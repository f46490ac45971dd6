#include "support/test_support.h"

#include <qn/host/notifications.h>

#include <stdexcept>

namespace qn {
namespace {

using Token = QNNotificationCenter::Token;

// An observer that appends `entry` to `order`.
QNNotificationCenter::Observer recorder(std::vector<std::string>& order, std::string entry) {
    return [&order, entry](const QNNotification&) { order.push_back(entry); };
}

TEST(NotificationCenterTest, DeliversMatchingNamesInTheOrderObserversWereAdded) {
    QNNotificationCenter center;
    std::vector<std::string> order;
    QNNotification last;
    center.addObserverForName(u"saved", recorder(order, "a"));
    center.addObserverForName(u"", [&](const QNNotification& n) {
        order.push_back(n.name == u"saved" ? "any:saved" : "any:other");
        last = n;
    });
    center.addObserverForName(u"saved", recorder(order, "c"));
    center.addObserverForName(u"deleted", recorder(order, "d"));

    center.postNotificationNameObjectUserInfo(u"saved");
    // Names match exactly: no prefix or case folding.
    for (const char16_t* other : {u"Saved", u"save", u"saved."})
        center.postNotificationNameObjectUserInfo(other);
    auto info = makeRef<Dictionary>();
    center.postNotificationNameObjectUserInfo(u"deleted", Value(42), info);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "any:saved", "c", "any:other", "any:other",
                                               "any:other", "any:other", "d"}));
    EXPECT_EQ(last.object.integerValue(), 42);
    EXPECT_EQ(last.userInfo, info);
}

TEST(NotificationCenterTest, RemovedObserverIsReleasedAndNotCalledAgainAndBadTokensAreHarmless) {
    QNNotificationCenter center;
    auto captured = std::make_shared<int>(0);
    int calls = 0;
    Token token =
        center.addObserverForName(u"n", [&calls, captured](const QNNotification&) { ++calls; });
    center.postNotificationNameObjectUserInfo(u"n");
    center.removeObserver(token);
    EXPECT_EQ(captured.use_count(), 1) << "the center still holds the observer";
    center.postNotificationNameObjectUserInfo(u"n");
    EXPECT_EQ(calls, 1);

    // Unknown, repeated and zero tokens are harmless; tokens are not reused.
    center.removeObserver(token);
    center.removeObserver(0);
    center.removeObserver(987654);
    EXPECT_NE(center.addObserverForName(u"n", [](const QNNotification&) {}), token);
    // An empty observer is refused rather than failing when posted to.
    EXPECT_EQ(center.addObserverForName(u"n", nullptr), 0u);
    center.postNotificationNameObjectUserInfo(u"n");
}

TEST(NotificationCenterTest, ObserverMayChangeObserversAndPostDuringDelivery) {
    QNNotificationCenter center;
    std::vector<std::string> order;
    Token self = 0, later = 0;
    center.addObserverForName(u"n", recorder(order, "before"));
    center.addObserverForName(u"inner", recorder(order, "inner"));
    self = center.addObserverForName(u"n", [&](const QNNotification&) {
        order.push_back("self");
        center.removeObserver(self);
        center.removeObserver(later);
        center.addObserverForName(u"n", recorder(order, "added"));
        center.postNotificationNameObjectUserInfo(u"inner");
    });
    later = center.addObserverForName(u"n", recorder(order, "later"));

    // The changes apply from the next post: the first still reaches "later"
    // and not "added", the second the reverse.
    center.postNotificationNameObjectUserInfo(u"n");
    center.postNotificationNameObjectUserInfo(u"n");
    EXPECT_EQ(order,
              (std::vector<std::string>{"before", "self", "inner", "later", "before", "added"}));
}

TEST(NotificationCenterTest, ObserverExceptionReachesThePoster) {
    QNNotificationCenter center;
    bool laterCalled = false;
    center.addObserverForName(
        u"n", [](const QNNotification&) { throw std::runtime_error("observer failed"); });
    center.addObserverForName(u"n", [&](const QNNotification&) { laterCalled = true; });
    EXPECT_THROW(center.postNotificationNameObjectUserInfo(u"n"), std::runtime_error);
    EXPECT_FALSE(laterCalled);
    // The center is still usable.
    EXPECT_THROW(center.postNotificationNameObjectUserInfo(u"n"), std::runtime_error);
}

TEST(NotificationCenterTest, ConcurrentPostsWhileObserversComeAndGo) {
    QNNotificationCenter center;
    std::atomic<int> stable{0};
    center.addObserverForName(u"tick", [&](const QNNotification&) { ++stable; });

    constexpr int kPosters = 3;
    constexpr int kPosts = 1000;
    std::atomic<bool> posting{true};
    std::atomic<int> churnersStarted{0};
    std::atomic<int> churnCalls{0};
    // Two threads keep adding observers that remove themselves when first
    // delivered to, on the poster's thread; one also removes each of its own
    // right away, from its own thread.
    auto churn = [&](bool selfRemoving) {
        ++churnersStarted;
        while (posting.load()) {
            auto token = std::make_shared<std::atomic<Token>>(0);
            token->store(center.addObserverForName(
                selfRemoving ? u"" : u"tick", [&center, &churnCalls, token](const QNNotification&) {
                    ++churnCalls;
                    if (Token t = token->exchange(0); t != 0) center.removeObserver(t);
                }));
            std::this_thread::yield();
            if (!selfRemoving) center.removeObserver(token->exchange(0));
        }
    };
    std::vector<std::thread> churners;
    churners.emplace_back(churn, false);
    churners.emplace_back(churn, true);
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([&] {
            while (churnersStarted.load() < 2)
                std::this_thread::yield();
            for (int i = 0; i < kPosts; ++i)
                center.postNotificationNameObjectUserInfo(u"tick");
        });
    }
    for (auto& thread : posters)
        thread.join();
    posting = false;
    for (auto& thread : churners)
        thread.join();
    EXPECT_EQ(stable.load(), kPosters * kPosts);

    // Self-removing observers added after the last post are still there: one
    // more post removes them, and after that only the stable observer answers.
    center.postNotificationNameObjectUserInfo(u"tick");
    const int churnBefore = churnCalls.load();
    center.postNotificationNameObjectUserInfo(u"tick");
    EXPECT_EQ(churnCalls.load(), churnBefore);
    EXPECT_EQ(stable.load(), kPosters * kPosts + 2);
}

}  // namespace
}  // namespace qn
