// The delegate forwarder: its Info.plist switch, the trace buffer, the hook
// on the application's setDelegate: and forwarding with chained results.

#include <gtest/gtest.h>

#include "RedEvudud/RedEvudud/DVACRedEvudud.h"
#include "RedEvudud/RedEvudud/Internals/DelegateForwarder/DVACAppDelegateForwarder.h"
#include "RedEvudud/RedEvudud/tests/DVACHttpTestSupport.h"
#include "platform/foundation/Bundle.h"

namespace {

// A delegate that answers one selector; for "...returnedValue:" calls it
// adds its increment to the chained number.
class CountingDelegate : public DVACCustomApplicationDelegate {
 public:
  CountingDelegate(std::string selector, int64_t increment) : selector_(std::move(selector)), increment_(increment) {}
  bool respondsToSelector(const std::string& selector) const override { return selector == selector_; }
  void invoke(DVACInvocation& invocation) override {
    ++calls;
    const int64_t previous = invocation.arguments.back().asInt64().value_or(0);
    invocation.returnValue = ns::Value(previous + increment_);
  }
  int calls = 0;

 private:
  std::string selector_;
  int64_t increment_;
};

// The application's delegate object, as the hook sees it.
class ApplicationDelegate : public ns::Object {
 public:
  std::string className() const override { return "MorvalentAppDelegate"; }
};

class DVACDelegateForwarderTests : public ::testing::Test {
 protected:
  void SetUp() override {
    previousBundle_ = ns::Bundle::main();
    DVACDelegateForwarder::resetTraceBufferForTesting();
    DVACMethodTable::removeAllForTesting();
  }
  void TearDown() override {
    ns::Bundle::setMain(previousBundle_);
    DVACAppDelegateForwarder::resetSharedInstance();
    DVACMethodTable::removeAllForTesting();
    DVACDelegateForwarder::flushTraceBuffer();
  }
  void useInfoPlist(ns::Dictionary info) {
    info["CFBundleIdentifier"] = ns::Value("com.morvalent.Morvalent");
    ns::Bundle::setMain(ns::Bundle::withInfoDictionary(std::move(info)));
    DVACAppDelegateForwarder::resetSharedInstance();
  }

  dvac_http_test::LogRecorder log_{DVACLogLevelVerbose};
  std::shared_ptr<ns::Bundle> previousBundle_;
};

TEST_F(DVACDelegateForwarderTests, WithoutThePlistKeyItIsEnabledAndSaysSoOnceTheLevelIsSet) {
  useInfoPlist({});
  auto forwarder = DVACAppDelegateForwarder::sharedInstance();
  EXPECT_TRUE(forwarder->isEnabled());
  EXPECT_TRUE(DVACRedEvudud::isAppDelegateForwarderEnabled());
  EXPECT_FALSE(log_.contains("Delegate forwarder for info.plist key"));
  DVACRedEvudud::setLogLevel(DVACLogLevelVerbose);
  EXPECT_TRUE(log_.contains("Start buffering traces."));
  EXPECT_EQ(log_.count("Delegate forwarder for info.plist key 'RedEvududAppDelegateForwarderEnabled' enabled. It "
                       "may use swizzling."),
            1u);
  EXPECT_TRUE(log_.contains("Stop buffering traces, flushed."));
  // Flushing again does nothing.
  DVACDelegateForwarder::flushTraceBuffer();
  EXPECT_EQ(log_.count("Stop buffering traces, flushed."), 1u);
}

TEST_F(DVACDelegateForwarderTests, ThePlistKeySetToNoDisablesEverything) {
  useInfoPlist({{"RedEvududAppDelegateForwarderEnabled", ns::Value(false)}});
  auto forwarder = DVACAppDelegateForwarder::sharedInstance();
  EXPECT_FALSE(forwarder->isEnabled());
  forwarder->addDelegate(std::make_shared<CountingDelegate>("a:", 1));
  EXPECT_TRUE(forwarder->delegates().empty());
  forwarder->addDelegateSelectorToSwizzle("applicationDidFinishLaunching:");
  EXPECT_TRUE(forwarder->selectorsToSwizzle().empty());
  EXPECT_FALSE(DVACMethodTable::respondsToSelector("NSApplication", "setDelegate:"));
  DVACDelegateForwarder::flushTraceBuffer();
  EXPECT_TRUE(log_.contains("disabled. It won't use swizzling."));
}

TEST_F(DVACDelegateForwarderTests, TraceBlocksAfterTheFlushRunAtOnce) {
  DVACDelegateForwarder::flushTraceBuffer();
  bool ran = false;
  DVACDelegateForwarder::addTraceBlock([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST_F(DVACDelegateForwarderTests, ChainedCallsPassEachResultOnAndFallBackToTheArgument) {
  useInfoPlist({});
  auto forwarder = DVACAppDelegateForwarder::sharedInstance();
  DVACInvocation alone{"application:willPresentError:returnedValue:", {ns::Value(int64_t{5})}, ns::Value()};
  forwarder->forwardInvocation(alone);
  EXPECT_EQ(alone.returnValue.asInt64(), 5);

  auto first = std::make_shared<CountingDelegate>("application:willPresentError:returnedValue:", 10);
  auto second = std::make_shared<CountingDelegate>("application:willPresentError:returnedValue:", 100);
  auto other = std::make_shared<CountingDelegate>("somethingElse:", 1000);
  forwarder->addDelegate(first);
  forwarder->addDelegate(other);
  forwarder->addDelegate(second);
  DVACInvocation chained{"application:willPresentError:returnedValue:", {ns::Value(int64_t{5})}, ns::Value()};
  forwarder->forwardInvocation(chained);
  EXPECT_EQ(chained.returnValue.asInt64(), 115);
  EXPECT_EQ(other->calls, 0);
  forwarder->setEnabled(false);
  EXPECT_TRUE(forwarder->delegates().empty());
}

TEST_F(DVACDelegateForwarderTests, TheSetDelegateHookObservesTheFirstDelegatesClassOnce) {
  useInfoPlist({});
  auto forwarder = DVACAppDelegateForwarder::sharedInstance();
  // The application's own implementations.
  std::vector<std::string> setDelegates;
  DVACMethodTable::addMethod("NSApplication", "setDelegate:", [&](DVACInvocation& invocation) {
    setDelegates.push_back(invocation.arguments.at(0).object()->className());
  });
  int originalOpens = 0;
  DVACMethodTable::addMethod("MorvalentAppDelegate", "application:openURLs:",
                             [&](DVACInvocation&) { ++originalOpens; });

  auto observer = std::make_shared<CountingDelegate>("application:openURLs:", 1);
  forwarder->addDelegate(observer);
  forwarder->addDelegateSelectorToSwizzle("application:openURLs:");
  forwarder->addDelegateSelectorToSwizzle("applicationDidHide:");
  EXPECT_EQ(forwarder->selectorsToSwizzle().size(), 2u);

  auto delegate = std::make_shared<ApplicationDelegate>();
  DVACInvocation set{"setDelegate:", {ns::Value(std::static_pointer_cast<ns::Object>(delegate))}, ns::Value()};
  ASSERT_TRUE(DVACMethodTable::invoke("NSApplication", set));
  EXPECT_EQ(setDelegates, (std::vector<std::string>{"MorvalentAppDelegate"}));
  EXPECT_TRUE(forwarder->selectorsToSwizzle().empty());
  // A selector the class lacked was added, the one it had replaced.
  EXPECT_TRUE(DVACMethodTable::respondsToSelector("MorvalentAppDelegate", "applicationDidHide:"));
  EXPECT_EQ(forwarder->originalImplementations().count("application:openURLs:"), 1u);

  DVACInvocation open{"application:openURLs:", {ns::Value("file:///tmp/a")}, ns::Value()};
  ASSERT_TRUE(DVACMethodTable::invoke("MorvalentAppDelegate", open));
  EXPECT_EQ(observer->calls, 1);
  EXPECT_EQ(originalOpens, 1);

  // Setting the delegate again goes through, without swizzling anything more.
  ASSERT_TRUE(DVACMethodTable::invoke("NSApplication", set));
  EXPECT_EQ(setDelegates.size(), 2u);
  DVACDelegateForwarder::flushTraceBuffer();
  EXPECT_TRUE(log_.contains("Selector 'setDelegate:' of class 'NSApplication' is swizzled."));
  EXPECT_TRUE(log_.contains("Selector 'application:openURLs:' of class 'MorvalentAppDelegate' is swizzled."));
}

TEST_F(DVACDelegateForwarderTests, DeprecatedSelectorsAreNotAddedBesideTheirPredecessor) {
  useInfoPlist({});
  auto forwarder = DVACAppDelegateForwarder::sharedInstance();
  forwarder->setDeprecatedSelectors({{"newSelector:", "oldSelector:"}});
  DVACMethodTable::addMethod("Legacy", "oldSelector:", [](DVACInvocation&) {});
  EXPECT_FALSE(forwarder->swizzleOriginalSelector("newSelector:", "custom_newSelector:", "Legacy"));
  EXPECT_FALSE(DVACMethodTable::respondsToSelector("Legacy", "newSelector:"));
  EXPECT_FALSE(forwarder->swizzleOriginalSelector("oldSelector:", "custom_oldSelector:", "Fresh"));
  EXPECT_FALSE(DVACMethodTable::respondsToSelector("Fresh", "oldSelector:"));
  DVACDelegateForwarder::flushTraceBuffer();
  EXPECT_TRUE(log_.contains(
      "Cannot swizzle selector 'newSelector:' of class 'Legacy'. No implementation found for this selector, though "
      "an implementation of its deprecated API 'oldSelector:' exists."));
}

}  // namespace
