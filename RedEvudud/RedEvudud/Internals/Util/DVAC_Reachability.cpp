#include "RedEvudud/RedEvudud/Internals/Util/DVAC_Reachability.h"

#include <netinet/in.h>

#include <cstring>

#include "RedEvudud/RedEvudud/Internals/Util/DVACDispatcherUtil.h"
#include "platform/dispatch/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"

DVAC_Reachability::DVAC_Reachability(net::SCNetworkReachabilityRef reachabilityRef)
    : reachabilityRef_(std::move(reachabilityRef)) {}

DVAC_Reachability::~DVAC_Reachability() {
  net::SCNetworkReachabilityRef ref;
  {
    std::lock_guard lock(mutex_);
    ref = std::move(reachabilityRef_);
  }
  if (!ref) return;
  // The block owns the target, not the instance, which is gone by then.
  DVACDispatcherUtil::performBlockOnMainThread([ref]() mutable {
    net::SCNetworkReachabilitySetCallback(ref, nullptr);
    net::SCNetworkReachabilityUnscheduleFromRunLoop(ref, dispatch::Queue::main(), net::kCFRunLoopDefaultMode);
    ref.reset();
  });
}

std::shared_ptr<DVAC_Reachability> DVAC_Reachability::reachabilityWithHostName(std::string_view hostName) {
  net::SCNetworkReachabilityRef ref = net::SCNetworkReachabilityCreateWithName(hostName);
  if (!ref) return nullptr;
  return std::shared_ptr<DVAC_Reachability>(new DVAC_Reachability(std::move(ref)));
}

std::shared_ptr<DVAC_Reachability> DVAC_Reachability::reachabilityWithAddress(const sockaddr* hostAddress) {
  net::SCNetworkReachabilityRef ref = net::SCNetworkReachabilityCreateWithAddress(hostAddress);
  if (!ref) return nullptr;
  return std::shared_ptr<DVAC_Reachability>(new DVAC_Reachability(std::move(ref)));
}

std::shared_ptr<DVAC_Reachability> DVAC_Reachability::reachabilityForInternetConnection() {
  sockaddr_in zeroAddress;
  std::memset(&zeroAddress, 0, sizeof(zeroAddress));
  zeroAddress.sin_family = AF_INET;
  return reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&zeroAddress));
}

bool DVAC_Reachability::startNotifier() {
  std::weak_ptr<DVAC_Reachability> weakSelf = weak_from_this();
  if (weakSelf.expired()) return false;
  DVACDispatcherUtil::performBlockOnMainThread([weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    net::SCNetworkReachabilityRef ref = self->reachabilityRef();
    // The callback holds the instance weakly: it must not keep it alive.
    auto callback = [weakSelf](const net::SCNetworkReachabilityRef&, net::SCNetworkReachabilityFlags) {
      if (auto instance = weakSelf.lock()) instance->postChangedNotification();
    };
    if (!net::SCNetworkReachabilitySetCallback(ref, callback)) return;
    if (!net::SCNetworkReachabilityScheduleWithRunLoop(ref, dispatch::Queue::main(), net::kCFRunLoopDefaultMode)) {
      return;
    }
    self->postChangedNotification();
  });
  return true;
}

void DVAC_Reachability::stopNotifier() {
  net::SCNetworkReachabilityRef ref = reachabilityRef();
  if (!ref) return;
  DVACDispatcherUtil::performBlockOnMainThread([ref] {
    net::SCNetworkReachabilityUnscheduleFromRunLoop(ref, dispatch::Queue::main(), net::kCFRunLoopDefaultMode);
  });
}

void DVAC_Reachability::postChangedNotification() {
  ns::NotificationCenter::defaultCenter()->post(
      ns::Notification(kDVNetworkReachabilityChangedNotification, std::static_pointer_cast<ns::Object>(shared_from_this())));
}

DVACNetworkStatus DVAC_Reachability::currentReachabilityStatus() const {
  net::SCNetworkReachabilityFlags flags = 0;
  if (!net::SCNetworkReachabilityGetFlags(reachabilityRef(), &flags)) return NotReachable;
  return networkStatusForFlags(flags);
}

DVACNetworkStatus DVAC_Reachability::networkStatusForFlags(net::SCNetworkReachabilityFlags flags) {
  if ((flags & net::kSCNetworkReachabilityFlagsReachable) == 0) return NotReachable;
  const bool automatic = (flags & (net::kSCNetworkReachabilityFlagsConnectionOnTraffic |
                                   net::kSCNetworkReachabilityFlagsConnectionOnDemand)) != 0;
  if (automatic && (flags & net::kSCNetworkReachabilityFlagsInterventionRequired) == 0) return ReachableViaWiFi;
  if ((flags & net::kSCNetworkReachabilityFlagsConnectionRequired) == 0) return ReachableViaWiFi;
  return NotReachable;
}

bool DVAC_Reachability::connectionRequired() const {
  net::SCNetworkReachabilityFlags flags = 0;
  if (!net::SCNetworkReachabilityGetFlags(reachabilityRef(), &flags)) return false;
  return (flags & net::kSCNetworkReachabilityFlagsConnectionRequired) != 0;
}

net::SCNetworkReachabilityRef DVAC_Reachability::reachabilityRef() const {
  std::lock_guard lock(mutex_);
  return reachabilityRef_;
}

void DVAC_Reachability::setReachabilityRef(net::SCNetworkReachabilityRef reachabilityRef) {
  std::lock_guard lock(mutex_);
  reachabilityRef_ = std::move(reachabilityRef);
}
