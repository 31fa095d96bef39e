#pragma once
// NSApplication: the application object's termination and activation
// policy. Terminating ends the main run loop, after which the process
// returns from its main function; tests install their own handler to observe
// the call instead.

#include <functional>
#include <memory>

#include "platform/appkit/NSRunningApplication.h"

namespace appkit {

class NSApplication {
 public:
  static NSApplication& shared();

  // terminate: with a sender (which may be null).
  void terminate(const void* sender);
  // Replaces what terminate does (nullptr restores the default, which stops
  // the main run loop). Returns the previous handler.
  using TerminationHandler = std::function<void(const void* sender)>;
  TerminationHandler setTerminationHandler(TerminationHandler handler);

  NSApplicationActivationPolicy activationPolicy() const;
  // Applied to this program's own process in the simulated desktop.
  bool setActivationPolicy(NSApplicationActivationPolicy policy);

 private:
  NSApplication() = default;
  TerminationHandler terminationHandler_;
};

}  // namespace appkit
