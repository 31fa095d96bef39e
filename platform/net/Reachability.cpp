#include "platform/net/Reachability.h"

#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace net {

class SCNetworkReachability {
 public:
  std::mutex mutex;
  SCNetworkReachabilityCallBack callback;
  std::shared_ptr<dispatch::Queue> runLoop;
  // Bumped by every schedule and unschedule, so a callback queued under an
  // earlier schedule is recognised as stale.
  uint64_t generation = 0;
};

namespace {

struct Registry {
  std::mutex mutex;
  SCNetworkReachabilityFlags flags = ReachabilitySource::kDefaultFlags;
  std::vector<std::weak_ptr<SCNetworkReachability>> targets;
};

Registry& registry() {
  static Registry* instance = new Registry();  // never destroyed: targets may outlive statics
  return *instance;
}

SCNetworkReachabilityRef makeTarget() {
  auto target = std::make_shared<SCNetworkReachability>();
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::erase_if(r.targets, [](const std::weak_ptr<SCNetworkReachability>& w) { return w.expired(); });
  r.targets.push_back(target);
  return target;
}

bool isHostNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
         c == '.' || c == ':' || c == '%' || c == '[' || c == ']';
}

}  // namespace

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(std::string_view nodename) {
  // A DNS name is at most 253 characters; the rest covers address literals.
  if (nodename.empty() || nodename.size() > 253) return nullptr;
  if (!std::all_of(nodename.begin(), nodename.end(), isHostNameCharacter)) return nullptr;
  return makeTarget();
}

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(const sockaddr* address) {
  if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6)) return nullptr;
  return makeTarget();
}

bool SCNetworkReachabilityGetFlags(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags* flags) {
  if (!target || !flags) return false;
  *flags = ReachabilitySource::shared().flags();
  return true;
}

bool SCNetworkReachabilitySetCallback(const SCNetworkReachabilityRef& target, SCNetworkReachabilityCallBack callback) {
  if (!target) return false;
  std::lock_guard lock(target->mutex);
  target->callback = std::move(callback);
  return true;
}

bool SCNetworkReachabilityScheduleWithRunLoop(const SCNetworkReachabilityRef& target,
                                              const std::shared_ptr<dispatch::Queue>& runLoop,
                                              std::string_view /*runLoopMode*/) {
  if (!target || !runLoop) return false;
  std::lock_guard lock(target->mutex);
  if (target->runLoop) return false;
  target->runLoop = runLoop;
  ++target->generation;
  return true;
}

bool SCNetworkReachabilityUnscheduleFromRunLoop(const SCNetworkReachabilityRef& target,
                                                const std::shared_ptr<dispatch::Queue>& runLoop,
                                                std::string_view /*runLoopMode*/) {
  if (!target || !runLoop) return false;
  std::lock_guard lock(target->mutex);
  if (target->runLoop != runLoop) return false;
  target->runLoop.reset();
  ++target->generation;
  return true;
}

// ---------------------------------------------------------- ReachabilitySource

ReachabilitySource& ReachabilitySource::shared() {
  static ReachabilitySource instance;
  return instance;
}

SCNetworkReachabilityFlags ReachabilitySource::flags() const {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return r.flags;
}

void ReachabilitySource::setFlags(SCNetworkReachabilityFlags flags) {
  std::vector<SCNetworkReachabilityRef> targets;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (r.flags == flags) return;
    r.flags = flags;
    for (const auto& weak : r.targets) {
      if (auto target = weak.lock()) targets.push_back(std::move(target));
    }
  }
  for (const auto& target : targets) {
    std::shared_ptr<dispatch::Queue> runLoop;
    uint64_t generation = 0;
    {
      std::lock_guard lock(target->mutex);
      if (!target->runLoop || !target->callback) continue;
      runLoop = target->runLoop;
      generation = target->generation;
    }
    runLoop->async([weak = std::weak_ptr<SCNetworkReachability>(target), generation, flags] {
      SCNetworkReachabilityRef target = weak.lock();
      if (!target) return;
      SCNetworkReachabilityCallBack callback;
      {
        std::lock_guard lock(target->mutex);
        if (target->generation != generation || !target->runLoop) return;
        callback = target->callback;
      }
      if (callback) callback(target, flags);
    });
  }
}

}  // namespace net
