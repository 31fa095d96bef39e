#include "platform/net/NetworkWatcher.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/net/Reachability.h"

namespace net {

namespace {

// Read into local copies: a buffer filled by a test need not be aligned.
template <typename T>
bool readAt(const uint8_t* base, std::size_t length, std::size_t offset, T* out) {
  if (offset > length || length - offset < sizeof(T)) return false;
  std::memcpy(out, base + offset, sizeof(T));
  return true;
}

// Calls visit(type, payload, payloadLength) for each attribute of a list.
template <typename Visit>
void forEachAttribute(const uint8_t* base, std::size_t length, Visit visit) {
  std::size_t offset = 0;
  rtattr attribute{};
  while (readAt(base, length, offset, &attribute)) {
    if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > length - offset) return;
    visit(attribute.rta_type, base + offset + RTA_LENGTH(0), static_cast<std::size_t>(attribute.rta_len - RTA_LENGTH(0)));
    offset += RTA_ALIGN(attribute.rta_len);
  }
}

uint32_t u32(const uint8_t* payload, std::size_t length) {
  uint32_t value = 0;
  if (length >= sizeof value) std::memcpy(&value, payload, sizeof value);
  return value;
}

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr int kDumpTimeoutMilliseconds = 5000;

int openSocket(bool subscribe) {
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return -1;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  if (subscribe) address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Asks for every link (or route) and applies the answer; notifications that
// arrive meanwhile are applied too. False when the kernel refuses or is silent.
bool dump(int fd, uint16_t type, uint32_t sequence, RoutingState& state) {
  struct {
    nlmsghdr header;
    union {
      ifinfomsg link;
      rtmsg route;
    } body;
  } request{};
  const std::size_t bodyLength = type == RTM_GETLINK ? sizeof(ifinfomsg) : sizeof(rtmsg);
  request.header.nlmsg_len = static_cast<uint32_t>(NLMSG_LENGTH(bodyLength));
  request.header.nlmsg_type = type;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = sequence;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd, &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
    return false;
  }
  std::vector<uint8_t> buffer(kBufferSize);
  for (;;) {
    pollfd readable{fd, POLLIN, 0};
    const int ready = ::poll(&readable, 1, kDumpTimeoutMilliseconds);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t received = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (received < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    const auto length = static_cast<std::size_t>(received);
    state.apply(buffer.data(), length);
    std::size_t offset = 0;
    nlmsghdr header{};
    while (readAt(buffer.data(), length, offset, &header) && header.nlmsg_len >= sizeof(nlmsghdr) &&
           header.nlmsg_len <= length - offset) {
      if (header.nlmsg_seq == sequence) {
        if (header.nlmsg_type == NLMSG_DONE) return true;
        if (header.nlmsg_type == NLMSG_ERROR) return false;
      }
      offset += NLMSG_ALIGN(header.nlmsg_len);
    }
  }
}

bool readAll(int fd, uint32_t& sequence, RoutingState& state) {
  state.clear();
  return dump(fd, RTM_GETLINK, ++sequence, state) && dump(fd, RTM_GETROUTE, ++sequence, state);
}

void publish(const RoutingState& state) {
  ReachabilitySource::shared().setFlags(state.hasUsableDefaultRoute() ? kSCNetworkReachabilityFlagsReachable : 0);
}

struct Watcher {
  std::mutex mutex;
  std::thread thread;
  int socket = -1;
  int stopEvent = -1;
  bool running = false;
};

Watcher& watcher() {
  static auto* instance = new Watcher();  // never destroyed: its thread may run until exit
  return *instance;
}

void follow(int fd, int stopEvent, uint32_t sequence, RoutingState state) {
  std::vector<uint8_t> buffer(kBufferSize);
  for (;;) {
    std::array<pollfd, 2> fds{{{fd, POLLIN, 0}, {stopEvent, POLLIN, 0}}};
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    const ssize_t received = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (received < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      // The kernel dropped notifications: read everything again.
      if (errno == ENOBUFS && readAll(fd, sequence, state)) {
        publish(state);
        continue;
      }
      return;
    }
    state.apply(buffer.data(), static_cast<std::size_t>(received));
    publish(state);
  }
}

}  // namespace

// ---------------------------------------------------------------- RoutingState

void RoutingState::apply(const void* data, std::size_t length) {
  const auto* base = static_cast<const uint8_t*>(data);
  std::size_t offset = 0;
  nlmsghdr header{};
  while (readAt(base, length, offset, &header) && header.nlmsg_len >= NLMSG_HDRLEN &&
         header.nlmsg_len <= length - offset) {
    const uint8_t* payload = base + offset + NLMSG_HDRLEN;
    const std::size_t payloadLength = header.nlmsg_len - NLMSG_HDRLEN;
    switch (header.nlmsg_type) {
      case RTM_NEWLINK: applyLink(payload, payloadLength, false); break;
      case RTM_DELLINK: applyLink(payload, payloadLength, true); break;
      case RTM_NEWROUTE: applyRoute(payload, payloadLength, false); break;
      case RTM_DELROUTE: applyRoute(payload, payloadLength, true); break;
      default: break;
    }
    offset += NLMSG_ALIGN(header.nlmsg_len);
  }
}

void RoutingState::applyLink(const void* message, std::size_t length, bool removed) {
  ifinfomsg link{};
  if (!readAt(static_cast<const uint8_t*>(message), length, 0, &link)) return;
  if (removed) {
    links_.erase(link.ifi_index);
    return;
  }
  const unsigned flags = link.ifi_flags;
  links_[link.ifi_index].usable = (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
}

void RoutingState::applyRoute(const void* message, std::size_t length, bool removed) {
  const auto* base = static_cast<const uint8_t*>(message);
  rtmsg route{};
  if (!readAt(base, length, 0, &route)) return;
  if (route.rtm_dst_len != 0 || route.rtm_type != RTN_UNICAST) return;
  if (route.rtm_family != AF_INET && route.rtm_family != AF_INET6) return;

  DefaultRoute parsed;
  parsed.family = route.rtm_family;
  uint32_t table = route.rtm_table;
  const std::size_t attributes = NLMSG_ALIGN(sizeof(rtmsg));
  if (attributes > length) return;
  forEachAttribute(base + attributes, length - attributes, [&](uint16_t type, const uint8_t* payload, std::size_t size) {
    switch (type) {
      case RTA_TABLE: table = u32(payload, size); break;
      case RTA_PRIORITY: parsed.priority = u32(payload, size); break;
      case RTA_OIF: parsed.interfaces.push_back(static_cast<int>(u32(payload, size))); break;
      case RTA_GATEWAY: parsed.gateway.assign(payload, payload + size); break;
      case RTA_MULTIPATH: {
        std::size_t offset = 0;
        rtnexthop hop{};
        while (readAt(payload, size, offset, &hop) && hop.rtnh_len >= sizeof(rtnexthop) &&
               hop.rtnh_len <= size - offset) {
          parsed.interfaces.push_back(hop.rtnh_ifindex);
          offset += RTNH_ALIGN(hop.rtnh_len);
        }
        break;
      }
      default: break;
    }
  });
  // Policy routing (a VPN's own table, say) counts too; the local table
  // only ever leads back to this machine.
  if (table == RT_TABLE_LOCAL) return;
  std::sort(parsed.interfaces.begin(), parsed.interfaces.end());

  // The kernel names a route it removes with everything it was added with.
  auto same = std::find(defaultRoutes_.begin(), defaultRoutes_.end(), parsed);
  if (removed) {
    if (same != defaultRoutes_.end()) defaultRoutes_.erase(same);
  } else if (same == defaultRoutes_.end()) {
    defaultRoutes_.push_back(std::move(parsed));
  }
}

void RoutingState::clear() {
  links_.clear();
  defaultRoutes_.clear();
}

bool RoutingState::hasUsableDefaultRoute() const {
  return std::any_of(defaultRoutes_.begin(), defaultRoutes_.end(), [&](const DefaultRoute& route) {
    return std::any_of(route.interfaces.begin(), route.interfaces.end(), [&](int index) {
      auto link = links_.find(index);
      return link != links_.end() && link->second.usable;
    });
  });
}

// -------------------------------------------------------------- NetworkWatcher

bool NetworkWatcher::start() {
  Watcher& w = watcher();
  std::lock_guard lock(w.mutex);
  if (w.running) return true;
  const int fd = openSocket(true);
  if (fd < 0) return false;
  const int stopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  uint32_t sequence = 0;
  RoutingState state;
  if (stopEvent < 0 || !readAll(fd, sequence, state)) {
    ::close(fd);
    if (stopEvent >= 0) ::close(stopEvent);
    return false;
  }
  publish(state);
  w.socket = fd;
  w.stopEvent = stopEvent;
  w.running = true;
  w.thread = std::thread(follow, fd, stopEvent, sequence, std::move(state));
  return true;
}

void NetworkWatcher::stop() {
  Watcher& w = watcher();
  std::lock_guard lock(w.mutex);
  if (!w.running) return;
  const uint64_t one = 1;
  (void)!::write(w.stopEvent, &one, sizeof one);
  if (w.thread.joinable()) w.thread.join();
  ::close(w.socket);
  ::close(w.stopEvent);
  w.socket = w.stopEvent = -1;
  w.running = false;
}

bool NetworkWatcher::isRunning() {
  Watcher& w = watcher();
  std::lock_guard lock(w.mutex);
  return w.running;
}

std::optional<bool> NetworkWatcher::probe() {
  const int fd = openSocket(false);
  if (fd < 0) return std::nullopt;
  uint32_t sequence = 0;
  RoutingState state;
  const bool read = readAll(fd, sequence, state);
  ::close(fd);
  if (!read) return std::nullopt;
  return state.hasUsableDefaultRoute();
}

}  // namespace net
