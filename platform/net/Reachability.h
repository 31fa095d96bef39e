#pragma once
// SCNetworkReachability stand-in.
//
// Every target reports the state of the process-wide ReachabilitySource:
// "reachable" until something says otherwise. NetworkWatcher, once started,
// keeps it in step with the machine's links and default routes; tests inject
// states of their own.
// A reference with a callback that is scheduled on a run loop hears about
// every change of the flags on that run loop. The only run loop here is a
// dispatch queue, the main queue in practice; the mode is accepted for the
// reader and ignored.

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/dispatch/Dispatch.h"

namespace net {

using SCNetworkReachabilityFlags = uint32_t;

inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsTransientConnection = 1u << 0;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsReachable = 1u << 1;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionRequired = 1u << 2;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionOnTraffic = 1u << 3;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsInterventionRequired = 1u << 4;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionOnDemand = 1u << 5;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsLocalAddress = 1u << 16;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsDirect = 1u << 17;

inline constexpr const char* kCFRunLoopDefaultMode = "kCFRunLoopDefaultMode";

class SCNetworkReachability;
// Released when the last reference goes; a released target never calls back.
using SCNetworkReachabilityRef = std::shared_ptr<SCNetworkReachability>;

// Called on the run loop the target is scheduled on, with the new flags. The
// context pointer of the C interface is whatever the closure captures; hold
// the owner weakly, as a queued callback may run after it is gone.
using SCNetworkReachabilityCallBack =
    std::function<void(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags flags)>;

// nullptr for a name that is not a host name or address literal.
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(std::string_view nodename);
// nullptr unless the address is an AF_INET or AF_INET6 socket address. The
// all-zero IPv4 address stands for "the Internet in general".
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(const sockaddr* address);

// False for a null target. Any thread.
bool SCNetworkReachabilityGetFlags(const SCNetworkReachabilityRef& target, SCNetworkReachabilityFlags* flags);
// An empty callback clears it. False for a null target.
bool SCNetworkReachabilitySetCallback(const SCNetworkReachabilityRef& target, SCNetworkReachabilityCallBack callback);
// False for a null target or run loop, or when already scheduled. Callbacks
// already queued for a target that is then unscheduled are dropped.
bool SCNetworkReachabilityScheduleWithRunLoop(const SCNetworkReachabilityRef& target,
                                              const std::shared_ptr<dispatch::Queue>& runLoop,
                                              std::string_view runLoopMode);
bool SCNetworkReachabilityUnscheduleFromRunLoop(const SCNetworkReachabilityRef& target,
                                                const std::shared_ptr<dispatch::Queue>& runLoop,
                                                std::string_view runLoopMode);

// The network state every target reports.
class ReachabilitySource {
 public:
  static constexpr SCNetworkReachabilityFlags kDefaultFlags = kSCNetworkReachabilityFlagsReachable;

  static ReachabilitySource& shared();

  SCNetworkReachabilityFlags flags() const;
  // Every scheduled target with a callback is told on its run loop, once per
  // actual change.
  void setFlags(SCNetworkReachabilityFlags flags);
  void setReachable(bool reachable) { setFlags(reachable ? kSCNetworkReachabilityFlagsReachable : 0); }
  // Back to reachable.
  void reset() { setFlags(kDefaultFlags); }

 private:
  ReachabilitySource() = default;
};

// Sets the network state for a scope (a test) and puts the default back after.
class ScopedReachabilityFlags {
 public:
  explicit ScopedReachabilityFlags(SCNetworkReachabilityFlags flags) { ReachabilitySource::shared().setFlags(flags); }
  ~ScopedReachabilityFlags() { ReachabilitySource::shared().reset(); }
  ScopedReachabilityFlags(const ScopedReachabilityFlags&) = delete;
  ScopedReachabilityFlags& operator=(const ScopedReachabilityFlags&) = delete;
};

}  // namespace net
