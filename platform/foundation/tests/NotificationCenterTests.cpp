#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/foundation/NotificationCenter.h"

using ns::Notification;
using ns::NotificationCenter;

TEST(NotificationCenter, DeliversInRegistrationOrderToMatchingObservers) {
    auto center = NotificationCenter::create();
    int senderA = 0, senderB = 0;
    std::vector<std::string> calls;
    auto t1 = center->addObserver("launch", nullptr, [&](const Notification&) { calls.push_back("any sender"); });
    auto t2 = center->addObserver("launch", &senderA, [&](const Notification&) { calls.push_back("from A"); });
    auto t3 = center->addObserver(std::nullopt, nullptr, [&](const Notification& n) { calls.push_back("all:" + n.name); });
    auto t4 = center->addObserver("terminate", nullptr, [&](const Notification&) { calls.push_back("terminate"); });

    center->post("launch", &senderA, {{"pid", 42}});
    EXPECT_EQ(calls, (std::vector<std::string>{"any sender", "from A", "all:launch"}));
    calls.clear();
    center->post("launch", &senderB);
    EXPECT_EQ(calls, (std::vector<std::string>{"any sender", "all:launch"}));
    calls.clear();
    center->post("other");
    EXPECT_EQ(calls, (std::vector<std::string>{"all:other"}));
}

TEST(NotificationCenter, CarriesUserInfoAndKeepsAnObjectSenderAlive) {
    struct App : ns::Object {
        std::string className() const override { return "NSRunningApplication"; }
    };
    auto center = NotificationCenter::create();
    auto app = std::make_shared<App>();
    std::shared_ptr<ns::Object> received;
    ns::Value pid;
    auto t = center->addObserver("launch", app, [&](const Notification& n) {
        received = n.objectRef;
        pid = n.userInfo.at("pid");
    });
    center->post(Notification("launch", std::shared_ptr<ns::Object>(app), {{"pid", 7}}));
    EXPECT_EQ(received, app);
    EXPECT_EQ(pid, ns::Value(7));
}

TEST(NotificationCenter, ObserversMayRemoveThemselvesAndOthersWhileCalled) {
    auto center = NotificationCenter::create();
    ns::ObserverToken late, first, second, third;
    int firstCalls = 0, secondCalls = 0, thirdCalls = 0;
    first = center->addObserver("n", nullptr, [&](const Notification&) {
        ++firstCalls;
        first.reset();   // itself
        second.reset();  // one that has not run yet for this post
    });
    second = center->addObserver("n", nullptr, [&](const Notification&) { ++secondCalls; });
    third = center->addObserver("n", nullptr, [&](const Notification&) {
        ++thirdCalls;
        // An observer added during delivery does not get the current notification.
        if (!late.isActive()) late = center->addObserver("n", nullptr, [&](const Notification&) { ++thirdCalls; });
    });
    center->post("n");
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 0);
    EXPECT_EQ(thirdCalls, 1);
    center->post("n");
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(thirdCalls, 3);  // third again, plus the late one
    center->removeAllObservers();
    EXPECT_EQ(center->observerCount(), 0u);
}

TEST(NotificationCenter, TokenDestructionStopsDeliveryAndOutlivesTheCenter) {
    ns::ObserverToken survivor;
    {
        auto center = NotificationCenter::create();
        int calls = 0;
        {
            auto token = center->addObserver("n", nullptr, [&](const Notification&) { ++calls; });
            center->post("n");
        }
        center->post("n");
        EXPECT_EQ(calls, 1);
        survivor = center->addObserver("n", nullptr, [](const Notification&) {});
    }
    survivor.reset();
}

TEST(NotificationCenter, RemovalWaitsForACallRunningOnAnotherThread) {
    auto center = NotificationCenter::create();
    std::atomic<bool> entered{false}, release{false}, finished{false};
    auto token = center->addObserver("n", nullptr, [&](const Notification&) {
        entered = true;
        while (!release) std::this_thread::yield();
        finished = true;
    });
    std::thread poster([&] { center->post("n"); });
    while (!entered) std::this_thread::yield();
    std::thread remover([&] {
        token.reset();
        // reset() returns only once the running call has finished.
        EXPECT_TRUE(finished.load());
    });
    release = true;
    poster.join();
    remover.join();
    EXPECT_EQ(&*NotificationCenter::defaultCenter(), &*NotificationCenter::defaultCenter());
}
