#include <gtest/gtest.h>

#include <qn/host/notifications.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qn {
namespace {

using Token = QNNotificationCenter::Token;

TEST(NotificationCenterTest, DeliversMatchingNamesInTheOrderObserversWereAdded) {
    QNNotificationCenter center;
    std::vector<std::string> order;
    center.addObserverForName(u"saved", [&](const QNNotification&) { order.push_back("a"); });
    center.addObserverForName(u"", [&](const QNNotification& n) {
        order.push_back(n.name == u"saved" ? "any:saved" : "any:other");
    });
    center.addObserverForName(u"saved", [&](const QNNotification&) { order.push_back("c"); });
    center.addObserverForName(u"deleted", [&](const QNNotification&) { order.push_back("d"); });

    center.postNotificationNameObjectUserInfo(u"saved");
    EXPECT_EQ(order, (std::vector<std::string>{"a", "any:saved", "c"}));
    order.clear();
    center.postNotificationNameObjectUserInfo(u"deleted");
    EXPECT_EQ(order, (std::vector<std::string>{"any:other", "d"}));
    order.clear();
    // Names match exactly: no prefix or case folding.
    center.postNotificationNameObjectUserInfo(u"Saved");
    center.postNotificationNameObjectUserInfo(u"save");
    EXPECT_EQ(order, (std::vector<std::string>{"any:other", "any:other"}));
}

TEST(NotificationCenterTest, PassesObjectAndUserInfo) {
    QNNotificationCenter center;
    QNNotification received;
    int calls = 0;
    center.addObserverForName(u"changed", [&](const QNNotification& n) {
        received = n;
        ++calls;
    });
    auto info = makeRef<Dictionary>();
    center.postNotificationNameObjectUserInfo(u"changed", Value(42), info);
    ASSERT_EQ(calls, 1);
    EXPECT_EQ(received.object.integerValue(), 42);
    EXPECT_EQ(received.userInfo, info);

    center.postNotification(QNNotification{u"changed", Value(), nullptr});
    ASSERT_EQ(calls, 2);
    EXPECT_TRUE(received.object.isAbsent());
    EXPECT_EQ(received.userInfo, nullptr);
}

TEST(NotificationCenterTest, RemovedObserverIsReleasedAndNotCalledAgainAndBadTokensAreHarmless) {
    QNNotificationCenter center;
    auto captured = std::make_shared<int>(0);
    int calls = 0;
    Token token =
        center.addObserverForName(u"n", [&calls, captured](const QNNotification&) { ++calls; });
    EXPECT_NE(token, 0u);
    center.postNotificationNameObjectUserInfo(u"n");
    center.removeObserver(token);
    EXPECT_EQ(captured.use_count(), 1) << "the center still holds the observer";
    center.postNotificationNameObjectUserInfo(u"n");
    EXPECT_EQ(calls, 1);

    // Unknown, repeated and zero tokens are harmless; tokens are not reused.
    center.removeObserver(token);
    center.removeObserver(0);
    center.removeObserver(987654);
    Token next = center.addObserverForName(u"n", [](const QNNotification&) {});
    EXPECT_NE(next, token);

    // An empty observer could only throw bad_function_call when posted to.
    EXPECT_EQ(center.addObserverForName(u"n", nullptr), 0u);
    center.postNotificationNameObjectUserInfo(u"n");
}

TEST(NotificationCenterTest, ObserverRemovingItselfDuringDelivery) {
    QNNotificationCenter center;
    std::vector<std::string> order;
    Token self = 0;
    center.addObserverForName(u"n", [&](const QNNotification&) { order.push_back("before"); });
    self = center.addObserverForName(u"n", [&](const QNNotification&) {
        order.push_back("self");
        center.removeObserver(self);
    });
    center.addObserverForName(u"n", [&](const QNNotification&) { order.push_back("after"); });

    center.postNotificationNameObjectUserInfo(u"n");
    center.postNotificationNameObjectUserInfo(u"n");
    EXPECT_EQ(order, (std::vector<std::string>{"before", "self", "after", "before", "after"}));
}

TEST(NotificationCenterTest, ChangesDuringAPostApplyFromTheNextPost) {
    QNNotificationCenter center;
    std::vector<std::string> order;
    Token later = 0;
    center.addObserverForName(u"n", [&](const QNNotification&) {
        order.push_back("first");
        if (later != 0) {
            center.removeObserver(later);
            later = 0;
            center.addObserverForName(u"n",
                                      [&](const QNNotification&) { order.push_back("added"); });
        }
    });
    later =
        center.addObserverForName(u"n", [&](const QNNotification&) { order.push_back("later"); });

    // "later" was removed and "added" added during the first post: the first
    // post still reaches "later" and not "added"; the second the reverse.
    center.postNotificationNameObjectUserInfo(u"n");
    EXPECT_EQ(order, (std::vector<std::string>{"first", "later"}));
    order.clear();
    center.postNotificationNameObjectUserInfo(u"n");
    EXPECT_EQ(order, (std::vector<std::string>{"first", "added"}));
}

TEST(NotificationCenterTest, ObserverMayPostAgain) {
    QNNotificationCenter center;
    std::vector<std::string> order;
    center.addObserverForName(u"outer", [&](const QNNotification&) {
        order.push_back("outer");
        center.postNotificationNameObjectUserInfo(u"inner");
    });
    center.addObserverForName(u"inner", [&](const QNNotification&) { order.push_back("inner"); });
    center.postNotificationNameObjectUserInfo(u"outer");
    EXPECT_EQ(order, (std::vector<std::string>{"outer", "inner"}));
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
    std::atomic<int> churners{0};
    std::atomic<int> transientCalls{0};
    std::atomic<int> selfRemovals{0};

    std::vector<std::thread> churn;
    // Adds and removes observers while the posts go on.
    churn.emplace_back([&] {
        ++churners;
        while (posting.load()) {
            Token t = center.addObserverForName(u"tick",
                                                [&](const QNNotification&) { ++transientCalls; });
            std::this_thread::yield();
            center.removeObserver(t);
        }
    });
    // Observers that remove themselves from whichever thread delivers to them.
    churn.emplace_back([&] {
        ++churners;
        while (posting.load()) {
            auto token = std::make_shared<std::atomic<Token>>(0);
            token->store(center.addObserverForName(
                u"", [&center, &selfRemovals, token](const QNNotification&) {
                    if (Token t = token->exchange(0); t != 0) {
                        center.removeObserver(t);
                        ++selfRemovals;
                    }
                }));
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([&] {
            while (churners.load() < 2)
                std::this_thread::yield();
            for (int i = 0; i < kPosts; ++i) {
                center.postNotificationNameObjectUserInfo(u"tick");
            }
        });
    }
    for (auto& thread : posters)
        thread.join();
    posting = false;
    for (auto& thread : churn)
        thread.join();

    EXPECT_EQ(stable.load(), kPosters * kPosts);

    // The self-removing observers added after the last post are still there:
    // one more post removes them, and after that only the stable observer
    // answers.
    center.postNotificationNameObjectUserInfo(u"tick");
    const int transientBefore = transientCalls.load();
    const int selfBefore = selfRemovals.load();
    center.postNotificationNameObjectUserInfo(u"tick");
    EXPECT_EQ(transientCalls.load(), transientBefore);
    EXPECT_EQ(selfRemovals.load(), selfBefore);
    EXPECT_EQ(stable.load(), kPosters * kPosts + 2);
}

}  // namespace
}  // namespace qn
