#include <gtest/gtest.h>

#include "platform/accessibility/AXObserver.h"
#include "platform/accessibility/AXUIElement.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/sim/Scenario.h"

namespace {

using namespace ax;

const char* const kDesk = R"({
  "displays": [{"id": 1, "frame": [0, 0, 1000, 800]}],
  "dock": {"pid": 90, "frame": [0, 740, 1000, 60],
           "items": [{"title": "Mail", "url": "file:///Applications/Mail.app/", "frame": [10, 744, 50, 50]}]},
  "applications": [
    {"pid": 501, "name": "Mail", "bundleURL": "file:///Applications/Mail.app/",
     "windows": [{"id": 11, "title": "Inbox", "frame": [100, 100, 400, 300]},
                 {"id": 12, "title": "Draft", "frame": [500, 100, 300, 300]}]},
    {"pid": 502, "name": "Other", "windows": [{"id": 21, "title": "Else", "frame": [600, 400, 300, 200]}]}
  ],
  "frontmost": 501
})";

AXUIElementRef windowOf(pid_t pid, std::uint32_t id) {
  return std::make_shared<AXUIElement>(sim::ElementID{pid, sim::ElementKind::Window, id});
}

TEST(AXUIElement, ElementsOfOneWindowAreEqualAndHashAlike) {
  sim::ScopedScenario s(kDesk);
  ns::Value windows;
  ASSERT_EQ(AXUIElementCopyAttributeValue(AXUIElementCreateApplication(501), kAXWindowsAttribute, &windows),
            kAXErrorSuccess);
  auto list = elementsFromValue(windows);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 2u);
  AXUIElementRef again;
  ASSERT_EQ(AXUIElementCopyElementAtPosition(AXUIElementCreateSystemWide(), 300.f, 114.f, &again), kAXErrorSuccess);
  ns::Value window;
  ASSERT_EQ(AXUIElementCopyAttributeValue(again, kAXWindowAttribute, &window), kAXErrorSuccess);  // the title text's window
  EXPECT_TRUE(CFEqual((*list)[0], elementFromValue(window)));
  EXPECT_EQ(CFHash((*list)[0]), CFHash(elementFromValue(window)));
  EXPECT_FALSE(CFEqual((*list)[0], (*list)[1]));
  EXPECT_FALSE(CFEqual((*list)[0], nullptr));
}

TEST(AXUIElement, ChecksItsArguments) {
  sim::ScopedScenario s(kDesk);
  ns::Value v;
  EXPECT_EQ(AXUIElementCopyAttributeValue(nullptr, kAXTitleAttribute, &v), kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementCopyAttributeValue(windowOf(501, 11), kAXTitleAttribute, nullptr), kAXErrorIllegalArgument);
  AXUIElementRef found;
  EXPECT_EQ(AXUIElementCopyElementAtPosition(windowOf(501, 11), 1.f, 1.f, &found), kAXErrorIllegalArgument);
  pid_t pid = 0;
  EXPECT_EQ(AXUIElementGetPid(AXUIElementCreateSystemWide(), &pid), kAXErrorIllegalArgument);
  CGWindowID id = 0;
  EXPECT_EQ(_AXUIElementGetWindow(AXUIElementCreateApplication(501), &id), kAXErrorFailure);
  EXPECT_EQ(_AXUIElementGetWindow(windowOf(501, 12), &id), kAXErrorSuccess);
  EXPECT_EQ(id, 12u);
}

TEST(AXUIElement, DockItemsCarryRoleSubroleURLAndTitle) {
  sim::ScopedScenario s(kDesk);
  AXUIElementRef item;
  ASSERT_EQ(AXUIElementCopyElementAtPosition(AXUIElementCreateSystemWide(), 30.f, 760.f, &item), kAXErrorSuccess);
  ns::Value v;
  ASSERT_EQ(AXUIElementCopyAttributeValue(item, kAXRoleAttribute, &v), kAXErrorSuccess);
  EXPECT_EQ(v, ns::Value("AXDockItem"));
  ASSERT_EQ(AXUIElementCopyAttributeValue(item, kAXSubroleAttribute, &v), kAXErrorSuccess);
  EXPECT_EQ(v, ns::Value(kAXApplicationDockItemSubrole));
  ASSERT_EQ(AXUIElementCopyAttributeValue(item, kAXURLAttribute, &v), kAXErrorSuccess);
  EXPECT_EQ(urlFromValue(v)->absoluteString(), "file:///Applications/Mail.app/");
  ASSERT_EQ(AXUIElementCopyAttributeValue(item, kAXIsApplicationRunningAttribute, &v), kAXErrorSuccess);
  EXPECT_EQ(v, ns::Value(true));
  pid_t pid = 0;
  ASSERT_EQ(AXUIElementGetPid(item, &pid), kAXErrorSuccess);
  EXPECT_EQ(pid, 90);
}

TEST(AXUIElement, ActionsAndWrites) {
  sim::ScopedScenario s(kDesk);
  const CGPoint origin{40, 60};
  ASSERT_EQ(AXUIElementSetAttributeValue(windowOf(501, 12), kAXPositionAttribute,
                                         ns::Value(AXValueCreate(kAXValueCGPointType, &origin))),
            kAXErrorSuccess);
  EXPECT_EQ(sim::World::shared().window(12)->frame.origin, origin);
  ASSERT_EQ(AXUIElementPerformAction(windowOf(501, 12), kAXRaiseAction), kAXErrorSuccess);
  EXPECT_EQ(sim::World::shared().zOrder().front(), 12u);
  ns::Value button;
  ASSERT_EQ(AXUIElementCopyAttributeValue(windowOf(501, 12), kAXCloseButtonAttribute, &button), kAXErrorSuccess);
  ASSERT_EQ(AXUIElementPerformAction(elementFromValue(button), kAXPressAction), kAXErrorSuccess);
  EXPECT_FALSE(sim::World::shared().window(12));
  std::vector<std::string> actions;
  EXPECT_EQ(AXUIElementCopyActionNames(windowOf(501, 11), &actions), kAXErrorSuccess);
  EXPECT_EQ(actions, (std::vector<std::string>{kAXRaiseAction}));
}

TEST(AXValue, RoundTripsAndRefusesOtherTypes) {
  const CGSize size{3, 4};
  AXValueRef value = AXValueCreate(kAXValueCGSizeType, &size);
  EXPECT_EQ(AXValueGetType(value), kAXValueCGSizeType);
  CGSize out;
  EXPECT_TRUE(AXValueGetValue(value, kAXValueCGSizeType, &out));
  EXPECT_EQ(out, size);
  CGPoint point{9, 9};
  EXPECT_FALSE(AXValueGetValue(value, kAXValueCGPointType, &point));
  EXPECT_EQ(point, (CGPoint{9, 9}));  // left alone
  EXPECT_FALSE(AXValueGetValue(nullptr, kAXValueCGSizeType, &out));
  const CFRange range{2, 5};
  CFRange back;
  EXPECT_TRUE(AXValueGetValue(AXValueCreate(kAXValueCFRangeType, &range), kAXValueCFRangeType, &back));
  EXPECT_EQ(back.length, 5);
}

TEST(AXTrust, PromptsOnlyWhenAskedAndUntrusted) {
  sim::ScopedScenario s(R"({"permissions": {"accessibility": false}})");
  const ns::Dictionary prompt{{kAXTrustedCheckOptionPrompt, ns::Value(true)}};
  const ns::Dictionary quiet{{kAXTrustedCheckOptionPrompt, ns::Value(false)}};
  EXPECT_FALSE(AXIsProcessTrustedWithOptions(&quiet));
  EXPECT_EQ(sim::World::shared().accessibilityPromptCount(), 0);
  EXPECT_FALSE(AXIsProcessTrustedWithOptions(&prompt));
  EXPECT_EQ(sim::World::shared().accessibilityPromptCount(), 1);
  sim::World::shared().setAccessibilityTrusted(true);
  EXPECT_TRUE(AXIsProcessTrustedWithOptions(&prompt));
  EXPECT_EQ(sim::World::shared().accessibilityPromptCount(), 1);
}

// ---------------------------------------------------------------- observers

struct Received {
  std::vector<std::pair<std::string, sim::ElementID>> calls;
  std::vector<void*> refcons;
};

void record(AXObserverRef, AXUIElementRef element, const std::string& notification, void* refcon) {
  auto* r = static_cast<Received*>(refcon);
  r->calls.emplace_back(notification, element->id);
  r->refcons.push_back(refcon);
}

class AXObserverTest : public ::testing::Test {
 protected:
  dispatch::VirtualClockScope clock;
  sim::ScopedScenario scenario{kDesk};
  Received received;
  AXObserverRef observer;

  void SetUp() override {
    ASSERT_EQ(AXObserverCreate(501, &record, &observer), kAXErrorSuccess);
    CFRunLoopAddSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(observer), kCFRunLoopDefaultMode);
  }
  void drain() { dispatch::Scheduler::shared().runUntilIdle(); }
};

TEST_F(AXObserverTest, DeliversOnTheMainQueueForTheApplicationsElements) {
  auto app = AXUIElementCreateApplication(501);
  ASSERT_EQ(AXObserverAddNotification(observer, app, kAXWindowCreatedNotification, &received), kAXErrorSuccess);
  ASSERT_EQ(AXObserverAddNotification(observer, app, kAXWindowCreatedNotification, &received),
            kAXErrorNotificationAlreadyRegistered);
  auto id = sim::World::shared().createWindow(501, sim::WindowSpec{});
  sim::World::shared().createWindow(502, sim::WindowSpec{});  // another process: not ours
  EXPECT_TRUE(received.calls.empty());  // nothing inline
  drain();
  ASSERT_EQ(received.calls.size(), 1u);
  EXPECT_EQ(received.calls[0].first, "AXWindowCreated");
  EXPECT_EQ(received.calls[0].second, (sim::ElementID{501, sim::ElementKind::Window, *id}));
}

TEST_F(AXObserverTest, ARegistrationOnAWindowHearsThatWindowOnly) {
  ASSERT_EQ(AXObserverAddNotification(observer, windowOf(501, 11), kAXUIElementDestroyedNotification, &received),
            kAXErrorSuccess);
  sim::World::shared().closeWindow(12);
  sim::World::shared().closeWindow(11);
  drain();
  ASSERT_EQ(received.calls.size(), 1u);
  EXPECT_EQ(received.calls[0].second.id, 11u);
}

TEST_F(AXObserverTest, NothingArrivesAfterRemovalOrInvalidation) {
  auto app = AXUIElementCreateApplication(501);
  ASSERT_EQ(AXObserverAddNotification(observer, app, kAXWindowCreatedNotification, &received), kAXErrorSuccess);
  sim::World::shared().createWindow(501, sim::WindowSpec{});  // posted to the main queue, not yet delivered
  ASSERT_EQ(AXObserverRemoveNotification(observer, app, kAXWindowCreatedNotification), kAXErrorSuccess);
  EXPECT_EQ(AXObserverRemoveNotification(observer, app, kAXWindowCreatedNotification),
            kAXErrorNotificationNotRegistered);
  drain();
  EXPECT_TRUE(received.calls.empty());

  ASSERT_EQ(AXObserverAddNotification(observer, app, kAXWindowCreatedNotification, &received), kAXErrorSuccess);
  sim::World::shared().createWindow(501, sim::WindowSpec{});
  CFRunLoopSourceInvalidate(AXObserverGetRunLoopSource(observer));
  drain();
  EXPECT_TRUE(received.calls.empty());
}

TEST_F(AXObserverTest, ASourceOffTheMainRunLoopDeliversNothing) {
  AXObserverRef other;
  ASSERT_EQ(AXObserverCreate(501, &record, &other), kAXErrorSuccess);
  ASSERT_EQ(AXObserverAddNotification(other, AXUIElementCreateApplication(501), kAXWindowCreatedNotification, &received),
            kAXErrorSuccess);
  sim::World::shared().createWindow(501, sim::WindowSpec{});
  drain();
  EXPECT_TRUE(received.calls.empty());
}

TEST_F(AXObserverTest, ReportsTheApplicationsFaults) {
  sim::ApplicationFaults faults;
  faults.notificationErrors["AXFocusedWindowChanged"] = kAXErrorNotificationUnsupported;
  faults.observerCreateError = kAXErrorCannotComplete;
  sim::World::shared().setApplicationFaults(501, faults);
  auto app = AXUIElementCreateApplication(501);
  EXPECT_EQ(AXObserverAddNotification(observer, app, kAXFocusedWindowChangedNotification, &received),
            kAXErrorNotificationUnsupported);
  EXPECT_EQ(AXObserverAddNotification(observer, app, kAXWindowCreatedNotification, &received), kAXErrorSuccess);
  AXObserverRef second;
  EXPECT_EQ(AXObserverCreate(501, &record, &second), kAXErrorCannotComplete);
  EXPECT_EQ(AXObserverAddNotification(observer, AXUIElementCreateApplication(502), kAXWindowCreatedNotification,
                                      &received),
            kAXErrorIllegalArgument);  // another process's element
  faults = {};
  faults.unresponsive = true;
  sim::World::shared().setApplicationFaults(501, faults);
  EXPECT_EQ(AXObserverAddNotification(observer, app, kAXUIElementDestroyedNotification, &received),
            kAXErrorCannotComplete);
}

struct SelfRemoving {
  AXObserverRef observer;
  int calls = 0;
};

void removeSelf(AXObserverRef observer, AXUIElementRef, const std::string& notification, void* refcon) {
  auto* s = static_cast<SelfRemoving*>(refcon);
  ++s->calls;
  AXObserverRemoveNotification(observer, AXUIElementCreateApplication(observer->pid()), notification);
}

TEST_F(AXObserverTest, ACallbackMayRemoveItsOwnRegistration) {
  SelfRemoving state;
  AXObserverRef own;
  ASSERT_EQ(AXObserverCreate(501, &removeSelf, &own), kAXErrorSuccess);
  CFRunLoopAddSource(CFRunLoopGetMain(), AXObserverGetRunLoopSource(own), kCFRunLoopCommonModes);
  ASSERT_EQ(AXObserverAddNotification(own, AXUIElementCreateApplication(501), kAXWindowCreatedNotification, &state),
            kAXErrorSuccess);
  sim::World::shared().createWindow(501, sim::WindowSpec{});
  sim::World::shared().createWindow(501, sim::WindowSpec{});
  drain();
  EXPECT_EQ(state.calls, 1);
  EXPECT_EQ(own->registrationCount(), 0u);
}

}  // namespace
