#include "platform/appkit/NSApplication.h"

#include "platform/appkit/SimulatedDesktopBridge.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/sim/World.h"

namespace appkit {

NSApplication& NSApplication::shared() {
  static NSApplication* application = new NSApplication();
  return *application;
}

void NSApplication::terminate(const void* sender) {
  if (terminationHandler_) {
    // Copied so a handler that replaces itself keeps running to its end.
    auto handler = terminationHandler_;
    handler(sender);
    return;
  }
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

}  // namespace appkit
