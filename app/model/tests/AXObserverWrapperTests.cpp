#include <gtest/gtest.h>

#include "app/model/AXObserverWrapper.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/Log.h"
#include <thread>

#include "platform/sim/Scenario.h"

namespace {

const char* const kObserverDesk = R"({
  "displays": [{"id": 1, "frame": [0, 0, 1000, 800]}],
  "applications": [{"pid": 501, "name": "Mail",
                    "windows": [{"id": 11, "frame": [0, 100, 300, 200]}, {"id": 12, "frame": [400, 100, 300, 200]}]}]
})";

struct RecordingObserverDelegate : AXObserverWrapperDelegate {
  std::vector<std::string> calls;
  std::vector<sim::ElementID> elements;
  void windowCreated(const ax::AXUIElementRef& element) override {
    calls.push_back("windowCreated");
    elements.push_back(element->id);
  }
  void elementDestroyed(const AXUIElementWrapper& element) override {
    calls.push_back("elementDestroyed");
    elements.push_back(element.element->id);
  }
  void focusedWindowChanged(const AXUIElementWrapper& element) override {
    calls.push_back("focusedWindowChanged");
    elements.push_back(element.element->id);
  }
};

class AXObserverWrapperTest : public ::testing::Test {
 protected:
  dispatch::VirtualClockScope clock;
  sim::ScopedScenario scenario{kObserverDesk};
  sim::World& world = sim::World::shared();
  ns::LogCapture log;
  std::shared_ptr<RecordingObserverDelegate> delegate = std::make_shared<RecordingObserverDelegate>();

  std::unique_ptr<AXObserverWrapper> started(pid_t pid = 501) {
    auto wrapper = std::make_unique<AXObserverWrapper>(pid, ax::AXUIElementCreateApplication(pid));
    wrapper->delegate = delegate;
    wrapper->start();
    return wrapper;
  }
  static void drain() { dispatch::Scheduler::shared().runUntilIdle(); }
};

TEST_F(AXObserverWrapperTest, TurnsTheThreeNotificationsIntoDelegateCalls) {
  auto wrapper = started();
  EXPECT_TRUE(wrapper->axObserver);
  EXPECT_EQ(log.count(), 0u);
  auto id = world.createWindow(501, sim::WindowSpec{});
  world.focusWindow(*id);
  world.closeWindow(11);
  world.setWindowTitle(12, "Renamed");  // "AXTitleChanged": not one of the three
  EXPECT_TRUE(delegate->calls.empty());  // delivered on the main run loop, not inline
  drain();
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"windowCreated", "focusedWindowChanged", "elementDestroyed"}));
  EXPECT_EQ(delegate->elements[0], (sim::ElementID{501, sim::ElementKind::Window, *id}));
  EXPECT_EQ(delegate->elements[2].id, 11u);
}

TEST_F(AXObserverWrapperTest, NothingReachesADelegateThatIsGone) {
  auto wrapper = started();
  delegate.reset();
  world.createWindow(501, sim::WindowSpec{});
  drain();
  EXPECT_EQ(log.count(), 0u);
}

TEST_F(AXObserverWrapperTest, ALateNotificationNeverReachesAReleasedWrapper) {
  auto wrapper = started();
  world.createWindow(501, sim::WindowSpec{});  // on its way to the main queue
  auto observer = wrapper->axObserver;
  wrapper.reset();  // the owner goes before the notification arrives
  EXPECT_EQ(observer->registrationCount(), 0u);
  EXPECT_FALSE(ax::CFRunLoopSourceIsValid(ax::AXObserverGetRunLoopSource(observer)));
  drain();  // would touch freed memory if the registrations had stayed
  EXPECT_TRUE(delegate->calls.empty());
  world.createWindow(501, sim::WindowSpec{});
  drain();
  EXPECT_TRUE(delegate->calls.empty());
}

TEST_F(AXObserverWrapperTest, AFailedCreationLogsExactlyTwoLines) {
  sim::ApplicationFaults faults;
  faults.observerCreateError = sim::axerr::kCannotComplete;
  world.setApplicationFaults(501, faults);
  auto wrapper = started();
  EXPECT_FALSE(wrapper->axObserver);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"createAXObserver error: 501", "Error starting axObserver"}));
  world.createWindow(501, sim::WindowSpec{});
  drain();
  EXPECT_TRUE(delegate->calls.empty());
}

TEST_F(AXObserverWrapperTest, AlreadyRegisteredIsSilentOtherErrorsAreLoggedAndTheRestStillWork) {
  sim::ApplicationFaults faults;
  faults.notificationErrors["AXWindowCreated"] = sim::axerr::kNotificationAlreadyRegistered;
  faults.notificationErrors["AXUIElementDestroyed"] = sim::axerr::kNotificationUnsupported;
  world.setApplicationFaults(501, faults);
  auto wrapper = started();
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"addAXObserverNotification error: AXUIElementDestroyed"}));
  world.focusWindow(12);
  drain();
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"focusedWindowChanged"}));
}

TEST_F(AXObserverWrapperTest, WithoutAnElementTheStartFails) {
  AXObserverWrapper wrapper(501, nullptr);
  wrapper.delegate = delegate;
  wrapper.start();
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"Error starting axObserver"}));
}

TEST_F(AXObserverWrapperTest, OtherNotificationNamesHaveNoEffect) {
  AXObserverWrapper wrapper(501, ax::AXUIElementCreateApplication(501));
  wrapper.delegate = delegate;
  AXObserverWrapper::observerCallback(nullptr, ax::AXUIElementCreateApplication(501), "AXWindowMoved", &wrapper);
  AXObserverWrapper::observerCallback(nullptr, ax::AXUIElementCreateApplication(501), "AXWindowCreated", &wrapper);
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"windowCreated"}));
}

TEST_F(AXObserverWrapperTest, AMissingContextIsReported) {
  testing::internal::CaptureStdout();
  AXObserverWrapper::observerCallback(nullptr, ax::AXUIElementCreateApplication(501), "AXWindowCreated", nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Missing refcon\n");
}

TEST_F(AXObserverWrapperTest, AnObserverStartedOffTheMainThreadHearsNothing) {
  std::unique_ptr<AXObserverWrapper> wrapper;
  std::thread([&] { wrapper = started(); }).join();
  world.createWindow(501, sim::WindowSpec{});
  drain();
  EXPECT_TRUE(delegate->calls.empty());
  wrapper.reset();
}

}  // namespace
