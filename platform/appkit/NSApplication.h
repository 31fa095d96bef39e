#pragma once
// NSApplication: the application object. It holds the delegate, finishes
// launching, runs the main loop until terminate:, follows whether this
// program is the frontmost application of the simulated desktop (posting the
// activation notifications), passes screen changes and clicks on the
// program's own Dock icon (reopen) to the delegate, and hands the events
// bound for this program to its windows (sendEvent:).
//
// setDelegate:, sendEvent: and reportException: are sent through a method
// dispatcher when the program installs one: the stand-in for the class
// runtime, so that code which replaces those methods (as swizzling would)
// sees the calls. Without a dispatcher they run the built-in bodies.
//
// Main thread only, except where a member says otherwise. Terminating ends
// the main run loop, after which run() returns; tests install their own
// termination handler to observe the call instead.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/NSApplicationDelegate.h"
#include "platform/appkit/NSRunningApplication.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/ObserverToken.h"
#include "platform/foundation/Value.h"

namespace appkit {

class NSEvent;

// An event on its way to this program's windows, as sendEvent: carries it:
// the event, and how the window layer delivers it.
class NSEventObject : public ns::Object {
 public:
  NSEventObject(std::shared_ptr<NSEvent> event, std::function<void()> deliver)
      : event(std::move(event)), deliver(std::move(deliver)) {}
  std::string className() const override { return "NSEvent"; }

  const std::shared_ptr<NSEvent> event;
  const std::function<void()> deliver;
};

class NSApplication {
 public:
  static NSApplication& shared();

  // ---------------------------------------------------------------- termination

  // terminate: with a sender (which may be null): the delegate hears
  // applicationWillTerminate: once run() has stopped.
  void terminate(const void* sender);
  // Replaces what terminate does (nullptr restores the default, which stops
  // the main run loop). Returns the previous handler.
  using TerminationHandler = std::function<void(const void* sender)>;
  TerminationHandler setTerminationHandler(TerminationHandler handler);
  bool isTerminated() const { return terminated_; }

  NSApplicationActivationPolicy activationPolicy() const;
  // Applied to this program's own process in the simulated desktop.
  bool setActivationPolicy(NSApplicationActivationPolicy policy);

  // ---------------------------------------------------------------- the delegate

  std::shared_ptr<NSApplicationDelegate> delegate() const { return delegate_; }
  // setDelegate:, sent through the method dispatcher.
  void setDelegate(std::shared_ptr<NSApplicationDelegate> delegate);
  // The body of setDelegate: (what the dispatcher's implementation calls).
  void storeDelegate(std::shared_ptr<NSApplicationDelegate> delegate) { delegate_ = std::move(delegate); }

  // ---------------------------------------------------------------- messages

  // Looks the selector up and runs it with the arguments; false when it
  // knows no implementation (the built-in body then runs).
  using MethodDispatcher = std::function<bool(const std::string& selector, ns::Array& arguments)>;
  void setMethodDispatcher(MethodDispatcher dispatcher) { dispatcher_ = std::move(dispatcher); }
  bool hasMethodDispatcher() const { return static_cast<bool>(dispatcher_); }

  // sendEvent: an event bound for this program; the built-in body delivers it.
  void sendEvent(const std::shared_ptr<NSEventObject>& event);
  // reportException: an exception caught while an event was handled; the
  // built-in body writes its description to the system log.
  void reportException(const ns::Value& exception);

  // ---------------------------------------------------------------- launching and running

  // Once: connects AppKit to the simulated desktop (workspace, screens and
  // input), starts following the frontmost application, the screen
  // parameters and the Dock's clicks on the program's icon, posts will- and
  // did-finish-launching and calls applicationDidFinishLaunching:.
  void finishLaunching();
  bool isFinishedLaunching() const { return launched_; }

  // Finishes launching and runs the main loop until terminate: or `until`;
  // then calls applicationWillTerminate:. Real clock only.
  void run(std::optional<dispatch::Time> until = std::nullopt);
  bool isRunning() const { return running_; }
  // Lets the main loop run for `seconds` from inside work of the main queue
  // (an input script's pump): nested in run(), bounded by run()'s deadline;
  // under the virtual clock it advances the clock. Returns false, without
  // running anything more, once the application terminated or the deadline
  // of run() has passed.
  bool runFor(double seconds);

  // ---------------------------------------------------------------- activation, reopen, Dock menu

  // Whether this program is the frontmost application.
  bool isActive() const { return active_; }
  // Whether this program's process is hidden in the simulated desktop (any thread).
  bool isHidden() const;
  // What the Dock sends when the user clicks the program's icon while it
  // runs: applicationShouldHandleReopen:hasVisibleWindows:.
  void reopen();
  // The delegate's applicationDockMenu:, nullptr without one.
  std::shared_ptr<NSMenu> dockMenu() const;
  // Clicks on the program's own Dock icon seen so far (any thread).
  int dockIconClickCount() const { return dockIconClicks_.load(); }

  // Forgets the delegate, the dispatcher, the launch and the termination,
  // and stops following the desktop.
  void resetForTesting();

 private:
  NSApplication() = default;
  bool dispatch(const std::string& selector, ns::Array& arguments);
  void frontmostApplicationDidChange();
  void dockIconClicked();

  TerminationHandler terminationHandler_;
  std::shared_ptr<NSApplicationDelegate> delegate_;
  MethodDispatcher dispatcher_;
  bool launched_ = false;
  bool running_ = false;
  bool terminated_ = false;
  bool active_ = false;
  std::optional<dispatch::Time> deadline_;
  std::atomic<int> dockIconClicks_{0};
  std::vector<ns::ObserverToken> observers_;
  // The Dock item id the left button went down on, for the tap (any thread).
  std::shared_ptr<std::atomic<std::uint64_t>> pressedOwnDockItem_ = std::make_shared<std::atomic<std::uint64_t>>(0);
};

}  // namespace appkit
