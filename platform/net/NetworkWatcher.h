#pragma once
// The machine's network as the kernel's routing tables see it, followed over
// a routing netlink socket: links coming up and going down, default routes
// appearing and going. While the watcher runs, ReachabilitySource reports
// "reachable" exactly when some default route (IPv4 or IPv6, in any table but
// the local one) leaves through a link that is up, running and not a
// loopback, and every change reaches the scheduled reachability targets, as
// the system's own notifications would.
//
// Nothing starts it behind the program's back: tests keep injecting states
// through ReachabilitySource.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace net {

// What the watcher knows of links and default routes, fed with routing
// netlink messages (separate from the socket, so tests can feed it).
class RoutingState {
 public:
  // Applies every message of a buffer as read from the socket: link and
  // route additions, changes and removals; other and malformed messages are
  // skipped.
  void apply(const void* data, std::size_t length);
  void clear();

  // A default route through a link that is up, running and no loopback.
  bool hasUsableDefaultRoute() const;

 private:
  struct Link {
    bool usable = false;
  };
  struct DefaultRoute {
    uint8_t family = 0;
    uint32_t priority = 0;
    std::vector<uint8_t> gateway;
    std::vector<int> interfaces;
    bool operator==(const DefaultRoute&) const = default;
  };
  void applyLink(const void* message, std::size_t length, bool removed);
  void applyRoute(const void* message, std::size_t length, bool removed);

  std::map<int, Link> links_;
  std::vector<DefaultRoute> defaultRoutes_;
};

class NetworkWatcher {
 public:
  // Reads the present links and routes and follows them on a thread of its
  // own until stop(). False, with nothing changed, when no routing netlink
  // socket can be had (a sandbox may forbid it). A second start while
  // running does nothing and returns true.
  static bool start();
  static void stop();
  static bool isRunning();

  // One reading of the present state, without following it; nullopt when no
  // socket can be had.
  static std::optional<bool> probe();
};

}  // namespace net
