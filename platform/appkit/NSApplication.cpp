#include "platform/appkit/NSApplication.h"

#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSWindow.h"
#include "platform/appkit/NSWorkspace.h"
#include "platform/appkit/NSApplicationActivation.h"
#include "platform/appkit/SimulatedDesktopBridge.h"
#include "platform/foundation/Log.h"
#include "platform/sim/InputDriver.h"
#include "platform/sim/World.h"

namespace appkit {

namespace {

std::string withoutTrailingSlash(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

// The Dock item of this program's own application under a top-left point:
// an application item with its bundle URL (or, without a URL, its name),
// not covered by one of the program's windows. 0 when there is none.
std::uint64_t ownDockItemAt(CGPoint p) {
  auto& world = sim::World::shared();
  const auto dock = world.dockPid();
  if (!dock || world.processAtPoint(p) != dock) return 0;
  const auto self = world.application(world.selfPid());
  if (!self) return 0;
  for (const auto& item : world.dockItems()) {
    if (item.subrole != "AXApplicationDockItem" || !item.frame.contains(p)) continue;
    bool own = false;
    if (item.url && self->bundleURL) {
      own = withoutTrailingSlash(item.url->absoluteString()) == withoutTrailingSlash(self->bundleURL->absoluteString());
    } else if (!item.url && item.title && self->name) {
      own = *item.title == *self->name;
    }
    if (own) return item.id;
  }
  return 0;
}

}  // namespace

NSApplication& NSApplication::shared() {
  static NSApplication* application = new NSApplication();
  return *application;
}

// ---------------------------------------------------------------- termination

void NSApplication::terminate(const void* sender) {
  if (terminationHandler_) {
    // Copied so a handler that replaces itself keeps running to its end.
    auto handler = terminationHandler_;
    handler(sender);
    return;
  }
  terminated_ = true;
  dispatch::Scheduler::shared().stopMain();
}

NSApplication::TerminationHandler NSApplication::setTerminationHandler(TerminationHandler handler) {
  auto previous = std::move(terminationHandler_);
  terminationHandler_ = std::move(handler);
  return previous;
}

NSApplicationActivationPolicy NSApplication::activationPolicy() const {
  auto& world = sim::World::shared();
  auto self = world.application(world.selfPid());
  if (!self) return NSApplicationActivationPolicy::Regular;
  return static_cast<NSApplicationActivationPolicy>(static_cast<int>(self->activationPolicy));
}

bool NSApplication::setActivationPolicy(NSApplicationActivationPolicy policy) {
  connectToSimulatedDesktop();
  auto& world = sim::World::shared();
  return world.setActivationPolicy(world.selfPid(), static_cast<sim::ActivationPolicy>(static_cast<int>(policy)));
}

// ---------------------------------------------------------------- delegate and messages

bool NSApplication::dispatch(const std::string& selector, ns::Array& arguments) {
  if (!dispatcher_) return false;
  auto dispatcher = dispatcher_;  // the implementation may replace the dispatcher
  return dispatcher(selector, arguments);
}

void NSApplication::setDelegate(std::shared_ptr<NSApplicationDelegate> delegate) {
  ns::Array arguments{delegate ? ns::Value(delegate) : ns::Value()};
  if (!dispatch("setDelegate:", arguments)) storeDelegate(std::move(delegate));
}

void NSApplication::sendEvent(const std::shared_ptr<NSEventObject>& event) {
  if (!event) return;
  ns::Array arguments{ns::Value(event)};
  if (!dispatch("sendEvent:", arguments) && event->deliver) event->deliver();
}

void NSApplication::reportException(const ns::Value& exception) {
  ns::Array arguments{exception};
  if (!dispatch("reportException:", arguments)) ns::NSLog(exception.description());
}

// ---------------------------------------------------------------- launching and running

void NSApplication::finishLaunching() {
  if (launched_) return;
  launched_ = true;
  connectToSimulatedDesktop();
  connectInputToSimulatedDesktop();

  auto workspace = NSWorkspace::sharedWorkspace();
  observers_.push_back(
      workspace->observeFrontmostApplication([] { NSApplication::shared().frontmostApplicationDidChange(); }, true));
  observers_.push_back(ns::NotificationCenter::defaultCenter()->addObserver(
      NSApplicationDidChangeScreenParametersNotification, nullptr, [](const ns::Notification& notification) {
        if (auto d = NSApplication::shared().delegate()) d->applicationDidChangeScreenParameters(notification);
      }));

  // The Dock: a press and a release on the program's own icon is a click,
  // which activates the program and sends it a reopen.
  constexpr std::uint64_t mask = (1ull << static_cast<unsigned>(sim::InputEventType::leftMouseDown)) |
                                 (1ull << static_cast<unsigned>(sim::InputEventType::leftMouseUp));
  auto pressed = pressedOwnDockItem_;
  observers_.push_back(sim::InputDriver::shared().addTapSink(std::nullopt, mask, [pressed](const sim::InputEvent& e) {
    const std::uint64_t item = ownDockItemAt(e.location);
    if (e.type == sim::InputEventType::leftMouseDown) {
      pressed->store(item);
      return;
    }
    const std::uint64_t down = pressed->exchange(0);
    if (item == 0 || item != down) return;
    dispatch::Queue::main()->async([] { NSApplication::shared().dockIconClicked(); });
  }));

  auto center = ns::NotificationCenter::defaultCenter();
  center->post(NSApplicationWillFinishLaunchingNotification, this);
  const ns::Notification didFinish(NSApplicationDidFinishLaunchingNotification, this);
  if (auto d = delegate()) d->applicationDidFinishLaunching(didFinish);
  center->post(didFinish);
}

void NSApplication::run(std::optional<dispatch::Time> until) {
  finishLaunching();
  running_ = true;
  deadline_ = until;
  if (!terminated_) dispatch::Scheduler::shared().runMain(until);
  running_ = false;
  deadline_.reset();
  const ns::Notification willTerminate(NSApplicationWillTerminateNotification, this);
  if (auto d = delegate()) d->applicationWillTerminate(willTerminate);
  ns::NotificationCenter::defaultCenter()->post(willTerminate);
}

bool NSApplication::isHidden() const {
  const auto self = NSRunningApplication::currentApplication();
  return self && self->isHidden();
}

bool NSApplication::runFor(double seconds) {
  auto& scheduler = dispatch::Scheduler::shared();
  if (terminated_) return false;
  if (scheduler.isVirtual()) {
    scheduler.advance(seconds);
    return !terminated_;
  }
  if (deadline_ && dispatch::now() >= *deadline_) return false;
  dispatch::Time target = dispatch::after(seconds);
  if (deadline_ && *deadline_ < target) target = *deadline_;
  scheduler.runMain(target);
  if (terminated_) {
    // The nested loop took the stop; the enclosing one must see it too.
    scheduler.stopMain();
    return false;
  }
  return !(deadline_ && dispatch::now() >= *deadline_);
}

// ---------------------------------------------------------------- activation, reopen, Dock menu

void NSApplication::frontmostApplicationDidChange() {
  auto& world = sim::World::shared();
  const auto frontmost = world.frontmostApplication();
  const bool active = frontmost && *frontmost == world.selfPid();
  if (active == active_) return;
  auto center = ns::NotificationCenter::defaultCenter();
  center->post(active ? NSApplicationWillBecomeActiveNotification : NSApplicationWillResignActiveNotification, this);
  active_ = active;
  center->post(active ? NSApplicationDidBecomeActiveNotification : NSApplicationDidResignActiveNotification, this);
}

void NSApplication::dockIconClicked() {
  ++dockIconClicks_;
  // An application without a regular activation policy has no Dock icon to click.
  if (activationPolicy() != NSApplicationActivationPolicy::Regular) return;
  auto& world = sim::World::shared();
  world.activateApplication(world.selfPid());
  // After the activation's notifications, as the Dock's reopen comes after the activation.
  dispatch::Queue::main()->async([] { NSApplication::shared().reopen(); });
}

void NSApplication::reopen() {
  auto d = delegate();
  if (!d) return;
  bool hasVisibleWindows = false;
  for (const auto& info : WindowList::visibleWindows()) {
    if (info.alpha > 0) hasVisibleWindows = true;
  }
  d->applicationShouldHandleReopen(hasVisibleWindows);
}

std::shared_ptr<NSMenu> NSApplication::dockMenu() const {
  auto d = delegate();
  return d ? d->applicationDockMenu() : nullptr;
}

void NSApplication::resetForTesting() {
  observers_.clear();
  pressedOwnDockItem_->store(0);
  dockIconClicks_ = 0;
  delegate_.reset();
  dispatcher_ = nullptr;
  launched_ = false;
  running_ = false;
  terminated_ = false;
  active_ = false;
  deadline_.reset();
}

}  // namespace appkit
