#include "platform/appkit/NSWorkspace.h"


#include "platform/appkit/NSScreen.h"
#include "platform/appkit/SimulatedDesktopBridge.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/sim/World.h"

namespace appkit {

namespace {

constexpr const char* kFrontmostChanged = "frontmostApplication";


ns::Dictionary applicationInfo(std::uint64_t serial) {
  ns::Dictionary info;
  if (auto app = NSRunningApplication::withLaunchSerial(serial)) info[NSWorkspaceApplicationKey] = ns::Value(app);
  return info;
}

// Turns the world's events into the notifications AppKit posts.
class Bridge {
 public:
  Bridge() {
    token_ = sim::World::shared().addObserver([](const sim::Event& event) { forward(event); });
  }

 private:
  static void postOnMain(std::shared_ptr<ns::NotificationCenter> center, ns::Notification notification) {
    dispatch::Queue::main()->async([center = std::move(center), notification = std::move(notification)] {
      center->post(notification);
    });
  }

  static void forward(const sim::Event& event) {
    using K = sim::Event::Kind;
    auto workspace = NSWorkspace::sharedWorkspace();
    auto center = workspace->notificationCenter();
    const void* sender = workspace.get();
    switch (event.kind) {
      case K::ApplicationLaunched:
        postOnMain(center, ns::Notification(NSWorkspaceDidLaunchApplicationNotification, sender,
                                            applicationInfo(event.serial)));
        break;
      case K::ApplicationTerminated:
        postOnMain(center, ns::Notification(NSWorkspaceDidTerminateApplicationNotification, sender,
                                            applicationInfo(event.serial)));
        break;
      case K::ApplicationHidden:
        postOnMain(center, ns::Notification(NSWorkspaceDidHideApplicationNotification, sender,
                                            applicationInfo(event.serial)));
        break;
      case K::ApplicationUnhidden:
        postOnMain(center, ns::Notification(NSWorkspaceDidUnhideApplicationNotification, sender,
                                            applicationInfo(event.serial)));
        break;
      case K::ApplicationActivated:
        if (event.pid != 0) {
          postOnMain(center, ns::Notification(NSWorkspaceDidActivateApplicationNotification, sender,
                                              applicationInfo(event.serial)));
        }
        postOnMain(workspace->frontmostObserverCentre(), ns::Notification(kFrontmostChanged, sender));
        break;
      case K::ActiveSpaceChanged:
        postOnMain(center, ns::Notification(NSWorkspaceActiveSpaceDidChangeNotification, sender));
        break;
      case K::WillSleep: postOnMain(center, ns::Notification(NSWorkspaceWillSleepNotification, sender)); break;
      case K::DidWake: postOnMain(center, ns::Notification(NSWorkspaceDidWakeNotification, sender)); break;
      case K::ScreenParametersChanged:
        postOnMain(ns::NotificationCenter::defaultCenter(),
                   ns::Notification(NSApplicationDidChangeScreenParametersNotification));
        break;
      case K::AccessibilityNotification:
      case K::WorldReset: break;
    }
  }

  ns::ObserverToken token_;
};

}  // namespace

void connectToSimulatedDesktop() {
  static Bridge bridge;  // made once, on first use, thread-safely
}

NSWorkspace::NSWorkspace()
    : notificationCenter_(ns::NotificationCenter::create()), frontmostObservers_(ns::NotificationCenter::create()) {}

std::shared_ptr<NSWorkspace> NSWorkspace::sharedWorkspace() {
  static const std::shared_ptr<NSWorkspace> workspace = std::make_shared<NSWorkspace>();
  connectToSimulatedDesktop();
  return workspace;
}

std::vector<std::shared_ptr<NSRunningApplication>> NSWorkspace::runningApplications() const {
  std::vector<std::shared_ptr<NSRunningApplication>> out;
  for (const auto& info : sim::World::shared().runningApplications()) {
    if (auto app = NSRunningApplication::withLaunchSerial(info.serial)) out.push_back(std::move(app));
  }
  return out;
}

std::shared_ptr<NSRunningApplication> NSWorkspace::frontmostApplication() const {
  auto pid = sim::World::shared().frontmostApplication();
  return pid ? NSRunningApplication::runningApplicationWithProcessIdentifier(*pid) : nullptr;
}

bool NSWorkspace::openURL(const ns::URL& url) { return sim::World::shared().openURL(url); }

ns::ObserverToken NSWorkspace::observeFrontmostApplication(std::function<void()> handler, bool initial) {
  if (initial) handler();
  return frontmostObservers_->addObserver(kFrontmostChanged, nullptr,
                                          [handler = std::move(handler)](const ns::Notification&) { handler(); });
}

}  // namespace appkit
