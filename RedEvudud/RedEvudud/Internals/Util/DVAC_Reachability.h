#pragma once
// Whether the network can be reached, and a notification on every change.
//
// Wraps one SCNetworkReachability target. Scheduling, unscheduling and the
// target's callback all run on the main thread, so
// "kDVNetworkReachabilityChangedNotification" is always posted there, with
// the instance as its object.

#include <sys/socket.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"
#include "platform/net/Reachability.h"

inline constexpr const char* kDVNetworkReachabilityChangedNotification = "kDVNetworkReachabilityChangedNotification";

enum DVACNetworkStatus : int {
  NotReachable = 0,
  ReachableViaWiFi = 1,
};

class DVAC_Reachability : public ns::Object, public std::enable_shared_from_this<DVAC_Reachability> {
 public:
  // nil when the name cannot be taken.
  static std::shared_ptr<DVAC_Reachability> reachabilityWithHostName(std::string_view hostName);
  // nil unless the address is an IPv4 or IPv6 socket address.
  static std::shared_ptr<DVAC_Reachability> reachabilityWithAddress(const sockaddr* hostAddress);
  // The all-zero IPv4 address: the Internet in general.
  static std::shared_ptr<DVAC_Reachability> reachabilityForInternetConnection();

  // The target is unscheduled and released on a later turn of the main
  // thread; the instance itself is never touched again.
  ~DVAC_Reachability() override;
  DVAC_Reachability(const DVAC_Reachability&) = delete;
  DVAC_Reachability& operator=(const DVAC_Reachability&) = delete;

  // Queued to the main thread: installs the callback, schedules the target on
  // the main run loop and posts the notification once at once, so observers
  // learn the present state. Returns true when the work was queued.
  bool startNotifier();
  // Queued to the main thread: unschedules the target. The target is kept, so
  // a later startNotifier() works again.
  void stopNotifier();

  // Any thread. Not reachable when the flags cannot be read.
  DVACNetworkStatus currentReachabilityStatus() const;
  static DVACNetworkStatus networkStatusForFlags(net::SCNetworkReachabilityFlags flags);
  bool connectionRequired() const;

  net::SCNetworkReachabilityRef reachabilityRef() const;
  void setReachabilityRef(net::SCNetworkReachabilityRef reachabilityRef);

  std::string className() const override { return "DVAC_Reachability"; }

 private:
  explicit DVAC_Reachability(net::SCNetworkReachabilityRef reachabilityRef);
  void postChangedNotification();

  mutable std::mutex mutex_;
  net::SCNetworkReachabilityRef reachabilityRef_;
};
