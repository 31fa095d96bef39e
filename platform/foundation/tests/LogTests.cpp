#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/foundation/Log.h"

TEST(NSLog, LinesAreLiteralText) {
    ns::LogCapture capture;
    ns::NSLog("Window [%@ 100%d %s %n] - No Frame");
    ASSERT_EQ(capture.count(), 1u);
    EXPECT_EQ(capture.lines()[0], "Window [%@ 100%d %s %n] - No Frame");
}

TEST(NSLog, NestedCapturesEachSeeEveryLine) {
    ns::LogCapture outer;
    ns::NSLog("one");
    {
        ns::LogCapture inner;
        ns::NSLog("two");
        EXPECT_EQ(inner.lines(), (std::vector<std::string>{"two"}));
    }
    ns::NSLog("three");
    EXPECT_EQ(outer.lines(), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_TRUE(outer.contains("thr"));
    EXPECT_EQ(outer.countContaining("o"), 2u);
    outer.clear();
    EXPECT_EQ(outer.count(), 0u);
}

TEST(NSLog, CaptureCollectsFromManyThreads) {
    ns::LogCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) ns::NSLog("thread " + std::to_string(t));
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(capture.count(), 800u);
    EXPECT_EQ(capture.countContaining("thread 3"), 100u);
}

TEST(NSLog, StderrLineHasTheDatedProcessPrefix) {
    ns::setLogProcessName("Morvalent");
    testing::internal::CaptureStderr();
    {
        ns::LogCapture capture(/*silenceStderr=*/false);
        ns::NSLog("hello %@");
    }
    const std::string err = testing::internal::GetCapturedStderr();
    // "yyyy-MM-dd HH:mm:ss.SSS Morvalent[pid:tid] hello %@\n"
    EXPECT_TRUE(testing::internal::RE::PartialMatch(
        err, testing::internal::RE("^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} "
                                   "Morvalent\\[[0-9]+:[0-9]+\\] hello %@\n$")))
        << err;

    testing::internal::CaptureStderr();
    {
        ns::LogCapture silent;
        ns::NSLog("quiet");
        EXPECT_EQ(silent.count(), 1u);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
