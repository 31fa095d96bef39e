#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/net/NetworkWatcher.h"
#include "platform/net/Reachability.h"

namespace {

constexpr unsigned kUp = IFF_UP | IFF_RUNNING;

// Routing netlink messages as the kernel writes them.
class Messages {
 public:
  Messages& link(int index, unsigned flags, bool removed = false) {
    ifinfomsg body{};
    body.ifi_family = AF_UNSPEC;
    body.ifi_index = index;
    body.ifi_flags = flags;
    return message(removed ? RTM_DELLINK : RTM_NEWLINK, &body, sizeof body, {});
  }

  struct Route {
    uint8_t family = AF_INET;
    std::vector<int> interfaces{2};
    bool multipath = false;
    uint8_t destinationLength = 0;
    uint32_t table = RT_TABLE_MAIN;
    uint8_t type = RTN_UNICAST;
    uint32_t priority = 100;
  };
  Messages& route(const Route& r, bool removed = false) {
    rtmsg body{};
    body.rtm_family = r.family;
    body.rtm_dst_len = r.destinationLength;
    body.rtm_table = static_cast<uint8_t>(r.table < 256 ? r.table : uint32_t{RT_TABLE_UNSPEC});
    body.rtm_type = r.type;
    std::vector<uint8_t> attributes;
    attribute(attributes, RTA_TABLE, &r.table, sizeof r.table);
    attribute(attributes, RTA_PRIORITY, &r.priority, sizeof r.priority);
    if (r.multipath) {
      std::vector<uint8_t> hops;
      for (int index : r.interfaces) {
        rtnexthop hop{};
        hop.rtnh_len = sizeof hop;
        hop.rtnh_ifindex = index;
        append(hops, &hop, sizeof hop);
      }
      attribute(attributes, RTA_MULTIPATH, hops.data(), hops.size());
    } else {
      for (int index : r.interfaces) attribute(attributes, RTA_OIF, &index, sizeof index);
    }
    return message(removed ? RTM_DELROUTE : RTM_NEWROUTE, &body, sizeof body, attributes);
  }

  std::vector<uint8_t> bytes;

 private:
  static void append(std::vector<uint8_t>& out, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    out.insert(out.end(), p, p + size);
    out.resize(NLMSG_ALIGN(out.size()));
  }
  static void attribute(std::vector<uint8_t>& out, uint16_t type, const void* data, size_t size) {
    rtattr header{};
    header.rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    header.rta_type = type;
    out.insert(out.end(), reinterpret_cast<uint8_t*>(&header), reinterpret_cast<uint8_t*>(&header) + sizeof header);
    append(out, data, size);
  }
  Messages& message(uint16_t type, const void* body, size_t size, const std::vector<uint8_t>& attributes) {
    std::vector<uint8_t> payload;
    append(payload, body, size);
    payload.insert(payload.end(), attributes.begin(), attributes.end());
    nlmsghdr header{};
    header.nlmsg_len = static_cast<uint32_t>(NLMSG_LENGTH(payload.size()));
    header.nlmsg_type = type;
    append(bytes, &header, sizeof header);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return *this;
  }
};

struct Step {
  std::string what;
  Messages messages;
  bool reachable;
};

Messages::Route ipv6() {
  Messages::Route r;
  r.family = AF_INET6;
  r.interfaces = {3};
  return r;
}

TEST(NetworkWatcherState, FollowsLinksAndDefaultRoutes) {
  Messages::Route local;
  local.destinationLength = 24;
  Messages::Route viaLoopback;
  viaLoopback.interfaces = {1};
  Messages::Route localTable;
  localTable.table = RT_TABLE_LOCAL;
  Messages::Route blackhole;
  blackhole.type = RTN_BLACKHOLE;
  Messages::Route multipath;
  multipath.interfaces = {4, 3};
  multipath.multipath = true;
  Messages::Route withoutInterface;
  withoutInterface.interfaces = {};

  std::vector<Step> steps;
  steps.push_back({"links only", Messages().link(1, kUp | IFF_LOOPBACK).link(2, kUp).link(3, IFF_UP), false});
  steps.push_back({"a subnet route is no way out", Messages().route(local), false});
  steps.push_back({"nor a default through the loopback", Messages().route(viaLoopback), false});
  steps.push_back({"nor one in the local table", Messages().route(localTable), false});
  steps.push_back({"nor a blackhole", Messages().route(blackhole), false});
  steps.push_back({"default route through a running link", Messages().route({}), true});
  steps.push_back({"the link loses its carrier", Messages().link(2, IFF_UP), false});
  steps.push_back({"and gets it back", Messages().link(2, kUp), true});
  steps.push_back({"the route goes", Messages().route({}, true), false});
  Messages::Route vpn;
  vpn.table = 51820;
  steps.push_back({"a default in a table of its own counts", Messages().route(vpn), true});
  steps.push_back({"and goes", Messages().route(vpn, true), false});
  steps.push_back({"an IPv6 default through a link not running", Messages().route(ipv6()), false});
  steps.push_back({"the link starts running", Messages().link(3, kUp), true});
  steps.push_back({"the link is removed", Messages().link(3, 0, true), false});
  steps.push_back({"a multipath default with one running hop", Messages().link(4, kUp).route(multipath), true});
  steps.push_back({"the multipath route goes", Messages().route(multipath, true), false});
  steps.push_back({"a default without an interface leads nowhere", Messages().route(withoutInterface), false});

  net::RoutingState state;
  for (const auto& step : steps) {
    state.apply(step.messages.bytes.data(), step.messages.bytes.size());
    EXPECT_EQ(state.hasUsableDefaultRoute(), step.reachable) << step.what;
  }

  // Truncated and foreign messages change nothing.
  Messages good;
  good.route({});
  std::vector<uint8_t> truncated(good.bytes.begin(), good.bytes.end() - 4);
  state.apply(truncated.data(), truncated.size());
  EXPECT_FALSE(state.hasUsableDefaultRoute());
  const uint8_t garbage[] = {0xff, 0xff, 0xff, 0xff, 1, 2, 3};
  state.apply(garbage, sizeof garbage);
  state.clear();
  EXPECT_FALSE(state.hasUsableDefaultRoute());
}

// On the machine's own tables; skipped where the sandbox allows no routing
// socket. Whatever the network, the watcher must report what a fresh
// reading finds, and leave the reported state alone once stopped.
TEST(NetworkWatcherLive, ReportsWhatTheKernelSays) {
  const auto probed = net::NetworkWatcher::probe();
  if (!probed) GTEST_SKIP() << "no routing netlink socket here";
  ASSERT_TRUE(net::NetworkWatcher::start());
  EXPECT_TRUE(net::NetworkWatcher::isRunning());
  EXPECT_TRUE(net::NetworkWatcher::start());
  const bool reachable = net::ReachabilitySource::shared().flags() & net::kSCNetworkReachabilityFlagsReachable;
  net::NetworkWatcher::stop();
  EXPECT_FALSE(net::NetworkWatcher::isRunning());
  EXPECT_EQ(reachable, *net::NetworkWatcher::probe());
  net::ReachabilitySource::shared().reset();
}

}  // namespace
