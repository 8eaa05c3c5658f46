// Records real rtnetlink dump replies as seeds for netlink_fuzz.
//
//   netlink_seed_recorder OUT_DIR      (root: it makes a network namespace)
//
// Inside a namespace of its own it sets up a few kinds of link (loopback,
// veth pair in a bridge, macvlan, tun with an alias, links down), sends a
// little UDP over loopback so that counters are not all zero, and writes every
// received buffer of these requests as one file, byte for byte:
//   link-*      RTM_GETLINK as the monitor asks it (counters skipped)
//   linkall-*   RTM_GETLINK with every attribute
//   nodev-*     RTM_GETLINK of a link that does not exist (an error reply)
//   stats-*     RTM_GETSTATS for the 64-bit link counters, as the monitor asks it
//   statsall-*  RTM_GETSTATS for every counter group
//   refused-*   RTM_GETSTATS with no group (a dump ended by an error code)
// Nothing leaves the namespace; it is deleted on exit.
#include <arpa/inet.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "../integration/netns.h"

namespace {

struct Request {
  const char* prefix;
  std::uint16_t type;
  std::uint32_t stats_filter;  // RTM_GETSTATS only
  bool skip_link_stats;        // RTM_GETLINK only
  int index;                   // RTM_GETLINK only: one link instead of a dump
};

// Sends one dump request and writes every buffer of the reply; false on error.
bool record(int fd, const Request& rq, std::uint32_t seq, const std::string& dir) {
  alignas(nlmsghdr) char req[128] = {};
  auto* nlh = reinterpret_cast<nlmsghdr*>(req);
  nlh->nlmsg_type = rq.type;
  nlh->nlmsg_flags = NLM_F_REQUEST | (rq.index == 0 ? NLM_F_DUMP : 0);
  nlh->nlmsg_seq = seq;
  if (rq.type == RTM_GETSTATS) {
    auto* ifsm = static_cast<if_stats_msg*>(NLMSG_DATA(nlh));
    ifsm->family = AF_UNSPEC;
    ifsm->filter_mask = rq.stats_filter;
    nlh->nlmsg_len = NLMSG_LENGTH(sizeof(if_stats_msg));
  } else {
    auto* ifi = static_cast<ifinfomsg*>(NLMSG_DATA(nlh));
    ifi->ifi_family = AF_UNSPEC;
    ifi->ifi_index = rq.index;
    nlh->nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
    if (rq.skip_link_stats) {
      auto* rta = reinterpret_cast<rtattr*>(req + NLMSG_ALIGN(nlh->nlmsg_len));
      rta->rta_type = IFLA_EXT_MASK;
      rta->rta_len = RTA_LENGTH(sizeof(std::uint32_t));
      const std::uint32_t mask = RTEXT_FILTER_SKIP_STATS;
      std::memcpy(RTA_DATA(rta), &mask, sizeof mask);
      nlh->nlmsg_len = NLMSG_ALIGN(nlh->nlmsg_len) + rta->rta_len;
    }
  }
  if (send(fd, req, nlh->nlmsg_len, 0) < 0) return false;

  std::vector<char> buf(32768);
  for (int part = 0;; ++part) {
    const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
    if (n <= 0) return false;
    const std::string path = dir + "/" + rq.prefix + "-" + std::to_string(part);
    std::ofstream(path, std::ios::binary).write(buf.data(), n);
    std::printf("%s: %zd bytes\n", path.c_str(), n);
    // The last part ends with DONE, or is an error reply.
    for (std::size_t off = 0; off + sizeof(nlmsghdr) <= static_cast<std::size_t>(n);) {
      const auto* h = reinterpret_cast<const nlmsghdr*>(buf.data() + off);
      if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) return true;
      if (h->nlmsg_len < sizeof(nlmsghdr)) return false;
      off += NLMSG_ALIGN(h->nlmsg_len);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  tw::test::NetNs ns("seeds");
  if (!ns.ok()) {
    std::fprintf(stderr, "%s\n", ns.error().c_str());
    return 1;
  }
  // Loopback, a veth pair with one end in a bridge, and whatever other kinds
  // this kernel has: a macvlan, a tun link (no hardware address) with an
  // alias, an ifb and a VXLAN left down.
  const bool links = ns.add_veth("tws0", "tws1") && ns.ip("link add twbr type bridge").ok() &&
                     ns.ip("link set tws1 master twbr").ok() && ns.set_up("twbr", true) &&
                     ns.add_address("tws0", "10.231.9.1/24");
  if (!links) {
    std::fprintf(stderr, "cannot set up the links: %s\n", ns.error().c_str());
    return 1;
  }
  for (const char* optional : {"link add link tws0 name twmv type macvlan mode bridge", "link set twmv up",
                               "tuntap add mode tun twtun", "link set dev twtun alias Uplink", "link set twtun up",
                               "link add twifb type ifb", "link add twvx type vxlan id 42 dstport 4789"}) {
    if (!ns.ip(optional).ok()) std::fprintf(stderr, "skipped: ip %s\n", optional);
  }

  const Request requests[] = {
      {"link", RTM_GETLINK, 0, true, 0},
      {"linkall", RTM_GETLINK, 0, false, 0},
      {"nodev", RTM_GETLINK, 0, true, 999999},
      {"stats", RTM_GETSTATS, IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64), false, 0},
      {"statsall", RTM_GETSTATS,
       IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64) | IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_XSTATS) |
           IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_XSTATS_SLAVE) |
           IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_OFFLOAD_XSTATS) | IFLA_STATS_FILTER_BIT(IFLA_STATS_AF_SPEC),
       false, 0},
      {"refused", RTM_GETSTATS, 0, false, 0},
  };
  bool ok = false;
  ns.run([&] {
    // Loopback traffic, so that the counters carry something.
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 5; ++i) sendto(udp, "seed", 4, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    close(udp);

    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return;
    ok = true;
    std::uint32_t seq = 100;
    for (const Request& rq : requests) ok = record(fd, rq, ++seq, dir) && ok;
    close(fd);
  });
  return ok ? 0 : 1;
}
