#include "RedEvudud/RedEvudud/Internals/DelegateForwarder/DVACAppDelegateForwarder.h"

#include "RedEvudud/RedEvudud/Internals/Util/DVACSharedSlot.h"

namespace {

std::once_flag& setDelegateSwizzlingOnce() {
  static std::once_flag flag;
  return flag;
}

// The first delegate set in the process is the one whose class is observed.
std::once_flag& firstDelegateOnce() {
  static std::once_flag flag;
  return flag;
}

}  // namespace

std::shared_ptr<DVACAppDelegateForwarder> DVACAppDelegateForwarder::sharedInstance() {
  std::shared_ptr<DVACAppDelegateForwarder> made;
  {
    std::lock_guard lock(DVACSharedSlot<DVACAppDelegateForwarder>::mutex());
    auto& slot = DVACSharedSlot<DVACAppDelegateForwarder>::instance();
    if (slot) return slot;
    slot = std::shared_ptr<DVACAppDelegateForwarder>(new DVACAppDelegateForwarder());
    made = slot;
  }
  made->setEnabledFromPlistForKey(kDVACAppDelegateForwarderEnabledKey);
  return made;
}

void DVACAppDelegateForwarder::resetSharedInstance() {
  std::shared_ptr<DVACAppDelegateForwarder> fresh(new DVACAppDelegateForwarder());
  fresh->setEnabledFromPlistForKey(kDVACAppDelegateForwarderEnabledKey);
  std::lock_guard lock(DVACSharedSlot<DVACAppDelegateForwarder>::mutex());
  DVACSharedSlot<DVACAppDelegateForwarder>::instance() = std::move(fresh);
}

std::once_flag* DVACAppDelegateForwarder::swizzlingOnceToken() { return &setDelegateSwizzlingOnce(); }

std::optional<DVACImplementation> DVACAppDelegateForwarder::customImplementation(const std::string& customSelector) {
  if (customSelector != "custom_setDelegate:") return DVACDelegateForwarder::customImplementation(customSelector);
  // Runs with the application as receiver: arguments[0] is the delegate.
  return DVACImplementation([](DVACInvocation& invocation) {
    auto forwarder = DVACAppDelegateForwarder::sharedInstance();
    const ns::Value delegate = invocation.arguments.empty() ? ns::Value() : invocation.arguments.front();
    if (auto object = delegate.object()) {
      std::call_once(firstDelegateOnce(), [&] { forwarder->swizzleOriginalDelegate(object->className()); });
    }
    if (auto original = forwarder->originalSetDelegateImp(); original && *original) (*original)(invocation);
  });
}
