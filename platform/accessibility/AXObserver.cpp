#include "platform/accessibility/AXObserver.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/dispatch/Dispatch.h"
#include "platform/sim/World.h"

namespace ax {

namespace {

// Every live observer by process, fed by the world's notifications.
class Registry {
 public:
  static Registry& shared() {
    static Registry* registry = new Registry();  // never destroyed: queues may outlive statics
    return *registry;
  }

  void add(const AXObserverRef& observer) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [](const auto& entry) { return entry.second.expired(); });
    observers_.emplace(observer->pid(), observer);
  }

 private:
  Registry() {
    token_ = sim::World::shared().addObserver([this](const sim::Event& event) {
      if (event.kind != sim::Event::Kind::AccessibilityNotification) return;
      std::vector<AXObserverRef> targets;
      {
        std::lock_guard lock(mutex_);
        auto [begin, end] = observers_.equal_range(event.pid);
        for (auto it = begin; it != end; ++it) {
          if (auto o = it->second.lock()) targets.push_back(std::move(o));
        }
      }
      for (auto& observer : targets) {
        dispatch::Queue::main()->async([observer, element = event.element, name = event.notification] {
          observer->deliver(element, name);
        });
      }
    });
  }

  std::mutex mutex_;
  std::multimap<pid_t, std::weak_ptr<AXObserver>> observers_;
  ns::ObserverToken token_;
};

}  // namespace

AXObserver::AXObserver(pid_t pid, AXObserverCallback callback)
    : pid_(pid), callback_(callback), source_(std::make_shared<CFRunLoopSource>()) {}

AXError AXObserver::addNotification(const AXUIElementRef& element, std::string_view notification, void* refcon) {
  if (!element || notification.empty()) return kAXErrorIllegalArgument;
  if (element->id.pid != pid_) return kAXErrorIllegalArgument;
  const AXError error = sim::World::shared().checkAddNotification(element->id, notification);
  if (error != kAXErrorSuccess) return error;
  std::lock_guard lock(source_->deliveryMutex());
  for (const auto& r : registrations_) {
    if (r.element == element->id && r.notification == notification) return kAXErrorNotificationAlreadyRegistered;
  }
  registrations_.push_back(Registration{element->id, std::string(notification), refcon});
  return kAXErrorSuccess;
}

AXError AXObserver::removeNotification(const AXUIElementRef& element, std::string_view notification) {
  if (!element) return kAXErrorIllegalArgument;
  std::lock_guard lock(source_->deliveryMutex());
  const auto before = registrations_.size();
  std::erase_if(registrations_,
                [&](const Registration& r) { return r.element == element->id && r.notification == notification; });
  return registrations_.size() == before ? kAXErrorNotificationNotRegistered : kAXErrorSuccess;
}

std::size_t AXObserver::registrationCount() const {
  std::lock_guard lock(source_->deliveryMutex());
  return registrations_.size();
}

void AXObserver::deliver(const sim::ElementID& element, const std::string& notification) {
  // Held across the callbacks: a removal on another thread waits for them,
  // a removal from inside a callback (same thread) goes through.
  std::lock_guard lock(source_->deliveryMutex());
  auto matches = [&](const Registration& r) {
    return r.notification == notification &&
           (r.element == element || (r.element.kind == sim::ElementKind::Application && r.element.pid == element.pid));
  };
  std::vector<Registration> candidates;
  for (const auto& r : registrations_) {
    if (matches(r)) candidates.push_back(r);
  }
  auto self = shared_from_this();
  for (const auto& c : candidates) {
    // Checked again before each call: an earlier callback may have removed it.
    if (!source_->isScheduledOnMainRunLoop()) return;
    const bool stillRegistered = std::any_of(registrations_.begin(), registrations_.end(), [&](const Registration& r) {
      return r.element == c.element && r.notification == c.notification && r.refcon == c.refcon;
    });
    if (!stillRegistered) continue;
    callback_(self, std::make_shared<AXUIElement>(element), notification, c.refcon);
  }
}

AXError AXObserverCreate(pid_t application, AXObserverCallback callback, AXObserverRef* outObserver) {
  if (!callback || !outObserver) return kAXErrorIllegalArgument;
  const AXError error = sim::World::shared().checkObserverCreate(application);
  if (error != kAXErrorSuccess) return error;
  auto observer = std::make_shared<AXObserver>(application, callback);
  Registry::shared().add(observer);
  *outObserver = std::move(observer);
  return kAXErrorSuccess;
}

AXError AXObserverAddNotification(const AXObserverRef& observer, const AXUIElementRef& element,
                                  std::string_view notification, void* refcon) {
  if (!observer) return kAXErrorInvalidUIElementObserver;
  return observer->addNotification(element, notification, refcon);
}

AXError AXObserverRemoveNotification(const AXObserverRef& observer, const AXUIElementRef& element,
                                     std::string_view notification) {
  if (!observer) return kAXErrorInvalidUIElementObserver;
  return observer->removeNotification(element, notification);
}

CFRunLoopSourceRef AXObserverGetRunLoopSource(const AXObserverRef& observer) {
  return observer ? observer->runLoopSource() : nullptr;
}

}  // namespace ax
