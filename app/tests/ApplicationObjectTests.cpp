// The application object on the simulated desktop: the delegate and the
// messages that pass through the method table, reopen from a click on the
// program's own Dock icon, the activation notifications, screen changes, the
// close button of the program's windows, and the nested run of the main loop.

#include "RedEvudud/RedEvudud/Internals/DelegateForwarder/DVACDelegateForwarder.h"
#include "RedEvududCrashes/RedEvududCrashes/Internals/DVACApplicationForwarder.h"
#include "app/ApplicationMethods.h"
#include "app/tests/AppDelegateTestSupport.h"
#include "platform/appkit/NSApplicationActivation.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSView.h"
#include "platform/machcompat/NSException.h"
#include "platform/sim/InputDriver.h"

using namespace apptest;

namespace {

class RecordingDelegate : public appkit::NSApplicationDelegate {
 public:
  std::string className() const override { return "RecordingDelegate"; }
  std::vector<std::string> calls;
  std::vector<bool> reopenVisibleWindows;
  void applicationDidFinishLaunching(const ns::Notification&) override { calls.push_back("didFinishLaunching"); }
  void applicationWillTerminate(const ns::Notification&) override { calls.push_back("willTerminate"); }
  bool applicationShouldHandleReopen(bool hasVisibleWindows) override {
    calls.push_back("reopen");
    reopenVisibleWindows.push_back(hasVisibleWindows);
    return false;
  }
  void applicationDidChangeScreenParameters(const ns::Notification&) override { calls.push_back("screens"); }
};

class ApplicationObjectTest : public AppDelegateTest {
 protected:
  void SetUp() override {
    AppDelegateTest::SetUp();
    DVACMethodTable::removeAllForTesting();
    sim::InputDriver::shared().setPump([](double seconds) { dispatch::Scheduler::shared().advance(seconds); });
    for (const char* name : {appkit::NSApplicationDidBecomeActiveNotification,
                             appkit::NSApplicationDidResignActiveNotification,
                             appkit::NSApplicationWillBecomeActiveNotification}) {
      tokens.push_back(ns::NotificationCenter::defaultCenter()->addObserver(
          name, nullptr, [this](const ns::Notification& n) { activations.push_back(n.name); }));
    }
  }
  void TearDown() override {
    tokens.clear();
    sim::InputDriver::shared().setPump(nullptr);
    AppDelegateTest::TearDown();
    DVACMethodTable::removeAllForTesting();
  }

  // Launches the application object with a recording delegate.
  std::shared_ptr<RecordingDelegate> launchApplication() {
    auto recorder = std::make_shared<RecordingDelegate>();
    app().setDelegate(recorder);
    app().finishLaunching();
    drain();
    return recorder;
  }

  static appkit::NSApplication& app() { return appkit::NSApplication::shared(); }
  static void click(CGPoint at) { sim::InputDriver::shared().click(at); }

  std::vector<ns::ObserverToken> tokens;
  std::vector<std::string> activations;
};

}  // namespace

TEST_F(ApplicationObjectTest, SetDelegateAndEventsPassThroughTheMethodTable) {
  installApplicationMethods();
  std::vector<std::string> seen;
  for (const char* selector : {"setDelegate:", "sendEvent:"}) {
    auto original = DVACMethodTable::instanceMethod("NSApplication", selector);
    ASSERT_TRUE(original);
    // What a forwarder does: observe, then run the replaced implementation.
    DVACMethodTable::setImplementation("NSApplication", selector,
                                       [&seen, original = *original](DVACInvocation& invocation) {
                                         auto object = invocation.arguments.at(0).object();
                                         seen.push_back(invocation.selector + (object ? object->className() : "nil"));
                                         original(invocation);
                                       });
  }
  auto appDelegate = AppDelegate::make();
  app().setDelegate(appDelegate);
  EXPECT_EQ(app().delegate(), appDelegate);
  EXPECT_EQ(seen, std::vector<std::string>{"setDelegate:AppDelegate"});
  EXPECT_TRUE(DVACMethodTable::respondsToSelector("NSApplication", "reportException:"));

  // An event bound for one of the program's windows goes through sendEvent:.
  app().finishLaunching();
  auto window = appkit::NSWindow::make(appkit::NSMakeRect(200, 300, 400, 300),
                                       appkit::NSWindowStyleMaskTitled | appkit::NSWindowStyleMaskClosable);
  window->makeKeyAndOrderFront();
  seen.clear();
  sim::InputDriver::shared().moveTo(CGPoint{400, 400});
  drain();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), "sendEvent:NSEvent");
}

TEST_F(ApplicationObjectTest, TheCloseButtonOfAProgramWindowClosesIt) {
  installApplicationMethods();
  launchApplication();
  auto window = appkit::NSWindow::make(appkit::NSMakeRect(200, 300, 400, 300),
                                       appkit::NSWindowStyleMaskTitled | appkit::NSWindowStyleMaskClosable);
  window->makeKeyAndOrderFront();
  // The frame's top is at y 628 bottom-left, 272 top-left; the button is 7 points in, 6 down.
  click(CGPoint{214, 280});
  drain();
  EXPECT_FALSE(window->isVisible());

  // A window without the closable style keeps its place.
  auto fixed = appkit::NSWindow::make(appkit::NSMakeRect(200, 300, 400, 300), appkit::NSWindowStyleMaskTitled);
  fixed->makeKeyAndOrderFront();
  click(CGPoint{214, 280});
  drain();
  EXPECT_TRUE(fixed->isVisible());
}

TEST_F(ApplicationObjectTest, AnExceptionWhileHandlingAnEventIsReportedAndTheLoopGoesOn) {
  installApplicationMethods();
  launchApplication();
  auto thrower = std::make_shared<appkit::NSEventObject>(
      nullptr, [] { throw ns::NSException("NSInternalInconsistencyException", std::string("a view broke")); });
  app().sendEvent(thrower);
  EXPECT_TRUE(log.contains("NSInternalInconsistencyException: a view broke"));
  int delivered = 0;
  app().sendEvent(std::make_shared<appkit::NSEventObject>(nullptr, [&] { ++delivered; }));
  EXPECT_EQ(delivered, 1);
}

TEST_F(ApplicationObjectTest, ClickingTheProgramsDockIconActivatesItAndReopens) {
  auto recorder = launchApplication();
  EXPECT_EQ(recorder->calls, std::vector<std::string>{"didFinishLaunching"});
  app().setActivationPolicy(appkit::NSApplicationActivationPolicy::Regular);
  EXPECT_FALSE(app().isActive());

  click(kOwnIcon);
  drain();
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"didFinishLaunching", "reopen"}));
  EXPECT_EQ(recorder->reopenVisibleWindows, std::vector<bool>{false});
  EXPECT_TRUE(app().isActive());
  EXPECT_EQ(world().frontmostApplication(), world().selfPid());
  // The activation's notifications came first.
  EXPECT_EQ(activations, (std::vector<std::string>{appkit::NSApplicationWillBecomeActiveNotification,
                                                   appkit::NSApplicationDidBecomeActiveNotification}));

  // Another application's icon is not the program's.
  click(kMailIcon);
  drain();
  EXPECT_EQ(recorder->calls.size(), 2u);
  // A press on the icon released elsewhere is no click.
  sim::InputDriver::shared().moveTo(kOwnIcon);
  sim::InputDriver::shared().press();
  sim::InputDriver::shared().moveTo(CGPoint{700, 500}, 3);
  sim::InputDriver::shared().release();
  drain();
  EXPECT_EQ(recorder->calls.size(), 2u);
}

TEST_F(ApplicationObjectTest, WithoutADockIconThereIsNoReopen) {
  auto recorder = launchApplication();
  app().setActivationPolicy(appkit::NSApplicationActivationPolicy::Accessory);
  click(kOwnIcon);
  drain();
  EXPECT_EQ(recorder->calls, std::vector<std::string>{"didFinishLaunching"});
  EXPECT_EQ(app().dockIconClickCount(), 1);
}

TEST_F(ApplicationObjectTest, AnotherApplicationComingForwardResignsTheProgram) {
  launchApplication();
  world().activateApplication(world().selfPid());
  drain();
  EXPECT_TRUE(app().isActive());
  activations.clear();
  world().activateApplication(kNotes);
  drain();
  EXPECT_FALSE(app().isActive());
  EXPECT_EQ(activations, std::vector<std::string>{appkit::NSApplicationDidResignActiveNotification});
}

TEST_F(ApplicationObjectTest, ScreenChangesReachTheDelegateAndTheDockMenuIsTheDelegates) {
  auto recorder = launchApplication();
  world().setDisplayFrames(1, CGRect{0, 0, 1280, 800});
  drain();
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"didFinishLaunching", "screens"}));
  EXPECT_EQ(app().dockMenu(), nullptr);

  auto appDelegate = AppDelegate::make();
  app().setDelegate(appDelegate);
  EXPECT_EQ(app().dockMenu(), appDelegate->dockMenu);
}

TEST_F(ApplicationObjectTest, TerminateEndsTheRunAndRunForAdvancesTheVirtualClock) {
  auto recorder = launchApplication();
  const auto before = dispatch::now();
  EXPECT_TRUE(app().runFor(2.5));
  EXPECT_EQ(dispatch::now() - before, static_cast<dispatch::Time>(2.5 * dispatch::kNanosPerSecond));
  app().terminate(nullptr);
  EXPECT_TRUE(app().isTerminated());
  EXPECT_FALSE(app().runFor(1));
  EXPECT_EQ(dispatch::now() - before, static_cast<dispatch::Time>(2.5 * dispatch::kNanosPerSecond));
}

// A Dock click on the program's icon runs show desktop through the real delegate.
TEST_F(ApplicationObjectTest, TheDockIconClickRunsShowDesktop) {
  installApplicationMethods();
  defaults().setUnhideWindowsEnabled(true);
  delegate = AppDelegate::make();
  app().setDelegate(delegate);
  app().finishLaunching();
  drain();
  advance(6);
  ASSERT_EQ(app().activationPolicy(), appkit::NSApplicationActivationPolicy::Regular);
  click(kOwnIcon);
  advance(1);
  EXPECT_TRUE(hidden(kMail));
  EXPECT_TRUE(hidden(kNotes));
  click(kOwnIcon);
  advance(1);
  EXPECT_FALSE(hidden(kMail));
  EXPECT_FALSE(hidden(kNotes));
}
