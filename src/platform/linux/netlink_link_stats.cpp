#include "platform/linux/netlink_link_stats.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/ethtool.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <linux/wireless.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>

namespace tw::platform {

namespace netlink_detail {
namespace {

// The kernel never builds a dump part larger than 32 KiB (netlink_dump caps its
// skb there), so one buffer of that size always holds a whole part; a smaller
// one would make recvmsg report MSG_TRUNC and lose messages.
constexpr std::size_t kDumpBufferSize = 32768;

// rtnl_link_stats64 has grown over the years (rx_nohandler in 4.6,
// rx_otherhost_dropped in 5.19). Everything up to and including `multicast`
// has been there since the 64-bit counters exist; the rest is read when sent.
constexpr std::size_t kMinStats64Bytes = offsetof(rtnl_link_stats64, multicast) + sizeof(__u64);

struct LinkParse {
  LinkInfo* out;
  bool have_name = false;
  bool bad = false;
};

int link_attr_cb(const nlattr* attr, void* data) {
  auto* ctx = static_cast<LinkParse*>(data);
  LinkInfo& out = *ctx->out;
  switch (mnl_attr_get_type(attr)) {
    case IFLA_IFNAME:
      if (mnl_attr_validate(attr, MNL_TYPE_NUL_STRING) < 0) break;
      out.if_name.assign(mnl_attr_get_str(attr));
      ctx->have_name = !out.if_name.empty();
      return MNL_CB_OK;
    case IFLA_IFALIAS:
      if (mnl_attr_validate(attr, MNL_TYPE_NUL_STRING) < 0) break;
      out.alias.assign(mnl_attr_get_str(attr));
      return MNL_CB_OK;
    case IFLA_MTU:
      if (mnl_attr_validate(attr, MNL_TYPE_U32) < 0) break;
      out.mtu = mnl_attr_get_u32(attr);
      return MNL_CB_OK;
    case IFLA_OPERSTATE:
      if (mnl_attr_validate(attr, MNL_TYPE_U8) < 0) break;
      out.operstate = mnl_attr_get_u8(attr);
      return MNL_CB_OK;
    case IFLA_ADDRESS: {
      // Hardware addresses are 6 bytes for Ethernet, 20 for InfiniBand, 0 for
      // tun; keep what fits the row.
      const std::size_t len = std::min<std::size_t>(mnl_attr_get_payload_len(attr), out.addr.size());
      std::memcpy(out.addr.data(), mnl_attr_get_payload(attr), len);
      out.addr_len = static_cast<std::uint32_t>(len);
      return MNL_CB_OK;
    }
    default:
      return MNL_CB_OK;  // everything else is not needed
  }
  ctx->bad = true;
  return MNL_CB_ERROR;
}

struct StatsParse {
  LinkCounters* out;
  bool have_stats = false;
  bool bad = false;
};

int stats_attr_cb(const nlattr* attr, void* data) {
  auto* ctx = static_cast<StatsParse*>(data);
  // Other types are the 64-bit alignment padding (IFLA_STATS_UNSPEC) or groups
  // the filter did not ask for.
  if (mnl_attr_get_type(attr) != IFLA_STATS_LINK_64) return MNL_CB_OK;
  const std::size_t len = mnl_attr_get_payload_len(attr);
  if (len < kMinStats64Bytes) {
    ctx->bad = true;
    return MNL_CB_ERROR;
  }
  // The payload is only 4-byte aligned on some architectures: copy it out.
  rtnl_link_stats64 s{};
  std::memcpy(&s, mnl_attr_get_payload(attr), std::min(len, sizeof s));
  LinkCounters& out = *ctx->out;
  out.rx_packets = s.rx_packets;
  out.tx_packets = s.tx_packets;
  out.rx_bytes = s.rx_bytes;
  out.tx_bytes = s.tx_bytes;
  out.rx_errors = s.rx_errors;
  out.tx_errors = s.tx_errors;
  out.rx_dropped = s.rx_dropped;
  out.tx_dropped = s.tx_dropped;
  out.multicast = s.multicast;
  out.rx_nohandler = s.rx_nohandler;
  ctx->have_stats = true;
  return MNL_CB_OK;
}

// Checks the header of one message of `bytes` bytes and that it carries at
// least `family_header` bytes of payload.
const nlmsghdr* checked_header(const void* p, std::size_t bytes, std::uint16_t type,
                               std::size_t family_header) {
  if (p == nullptr || bytes < sizeof(nlmsghdr)) return nullptr;
  const auto* nlh = static_cast<const nlmsghdr*>(p);
  if (nlh->nlmsg_len < NLMSG_HDRLEN || nlh->nlmsg_len > bytes) return nullptr;
  if (nlh->nlmsg_type != type) return nullptr;
  if (mnl_nlmsg_get_payload_len(nlh) < family_header) return nullptr;
  return nlh;
}

// Walks the attributes after the family header and hands each to `cb`. Unlike
// mnl_attr_parse, which stops quietly at an attribute that does not fit, this
// rejects the message unless the attributes fill it exactly: a length field
// that runs past the end, or trailing bytes, mean the message is garbled.
bool walk_attributes(const nlmsghdr* nlh, std::size_t family_header, mnl_attr_cb_t cb, void* data) {
  const char* p = static_cast<const char*>(mnl_nlmsg_get_payload(nlh)) + MNL_ALIGN(family_header);
  const char* end = reinterpret_cast<const char*>(nlh) + nlh->nlmsg_len;
  for (;;) {
    const long remaining = end - p;
    // The last attribute's padding may reach past an unaligned message end.
    if (remaining <= 0) return remaining > -static_cast<long>(MNL_ALIGNTO);
    const auto* attr = reinterpret_cast<const nlattr*>(p);
    if (!mnl_attr_ok(attr, static_cast<int>(remaining))) return false;
    if (cb(attr, data) != MNL_CB_OK) return false;
    p += MNL_ALIGN(attr->nla_len);
  }
}

int ctl_noop(const nlmsghdr*, void*) { return MNL_CB_OK; }

int ctl_error(const nlmsghdr* nlh, void*) {
  if (mnl_nlmsg_get_payload_len(nlh) < sizeof(nlmsgerr)) {
    errno = EBADMSG;
    return MNL_CB_ERROR;
  }
  nlmsgerr err;
  std::memcpy(&err, mnl_nlmsg_get_payload(nlh), sizeof err);
  if (err.error == 0) return MNL_CB_STOP;  // an acknowledgement
  // INT_MIN cannot be negated and names no errno: the reply is garbled.
  if (err.error == INT_MIN) {
    errno = EBADMSG;
    return MNL_CB_ERROR;
  }
  errno = err.error < 0 ? -err.error : err.error;
  return MNL_CB_ERROR;
}

// A dump that fails part-way (a message too big for the buffer, a driver
// error) still ends with NLMSG_DONE, with the negative error code as its
// payload. libmnl's default treats every DONE as success, which would pass a
// partial table off as the whole one.
int ctl_done(const nlmsghdr* nlh, void*) {
  if (mnl_nlmsg_get_payload_len(nlh) >= sizeof(int)) {
    int code;
    std::memcpy(&code, mnl_nlmsg_get_payload(nlh), sizeof code);
    if (code < 0) {
      errno = code == INT_MIN ? EBADMSG : -code;  // INT_MIN: garbled, no errno
      return MNL_CB_ERROR;
    }
  }
  return MNL_CB_STOP;
}

}  // namespace

int run_callbacks(const void* buf, std::size_t bytes, std::uint32_t seq, std::uint32_t portid,
                  int (*cb)(const nlmsghdr*, void*), void* data) {
  // Filled once (thread-safe static initialisation), read-only afterwards.
  static const std::array<mnl_cb_t, NLMSG_MIN_TYPE> ctl = [] {
    std::array<mnl_cb_t, NLMSG_MIN_TYPE> a{};
    a[NLMSG_NOOP] = ctl_noop;
    a[NLMSG_ERROR] = ctl_error;
    a[NLMSG_DONE] = ctl_done;
    a[NLMSG_OVERRUN] = ctl_noop;
    return a;
  }();
  // libmnl compares nlmsg_len with the remaining length as a signed int, so a
  // length of 2^31 or more passes its check and the walk jumps outside the
  // buffer. Check every header ourselves before handing the buffer over.
  const auto* bytes_p = static_cast<const std::uint8_t*>(buf);
  for (std::size_t off = 0; off < bytes;) {
    if (bytes - off < sizeof(nlmsghdr)) break;  // trailing bytes: libmnl ignores them
    nlmsghdr h;
    std::memcpy(&h, bytes_p + off, sizeof h);
    if (h.nlmsg_len < sizeof(nlmsghdr) || h.nlmsg_len > bytes - off) {
      errno = EBADMSG;
      return MNL_CB_ERROR;
    }
    off += NLMSG_ALIGN(h.nlmsg_len);
  }
  if (bytes > static_cast<std::size_t>(INT32_MAX)) {
    errno = EMSGSIZE;
    return MNL_CB_ERROR;
  }
  return mnl_cb_run2(buf, bytes, seq, portid, cb, data, const_cast<mnl_cb_t*>(ctl.data()), NLMSG_MIN_TYPE);
}

bool parse_link_message(const void* p, std::size_t bytes, LinkInfo& out) {
  const nlmsghdr* nlh = checked_header(p, bytes, RTM_NEWLINK, sizeof(ifinfomsg));
  if (nlh == nullptr) return false;
  ifinfomsg ifi;
  std::memcpy(&ifi, mnl_nlmsg_get_payload(nlh), sizeof ifi);
  if (ifi.ifi_index <= 0) return false;

  // Reset field by field so that the strings keep their capacity.
  out.index = static_cast<std::uint32_t>(ifi.ifi_index);
  out.if_name.clear();
  out.alias.clear();
  out.arphrd = ifi.ifi_type;
  out.flags = ifi.ifi_flags;
  out.operstate = IF_OPER_UNKNOWN;
  out.mtu = 0;
  out.addr_len = 0;
  out.addr.fill(0);
  out.wireless = false;
  out.speed_bps = 0;

  LinkParse ctx{&out};
  if (!walk_attributes(nlh, sizeof(ifinfomsg), link_attr_cb, &ctx) || ctx.bad) return false;
  return ctx.have_name;
}

bool parse_stats_message(const void* p, std::size_t bytes, LinkCounters& out) {
  const nlmsghdr* nlh = checked_header(p, bytes, RTM_NEWSTATS, sizeof(if_stats_msg));
  if (nlh == nullptr) return false;
  if_stats_msg ifsm;
  std::memcpy(&ifsm, mnl_nlmsg_get_payload(nlh), sizeof ifsm);
  if (ifsm.ifindex == 0) return false;

  out = LinkCounters{};
  out.index = ifsm.ifindex;
  StatsParse ctx{&out};
  if (!walk_attributes(nlh, sizeof(if_stats_msg), stats_attr_cb, &ctx) || ctx.bad) return false;
  return ctx.have_stats;
}

namespace {

struct RouteParse {
  std::uint32_t table = 0;
  std::uint32_t priority = 0;
  std::uint32_t oif = 0;
  std::string gateway;
  const nlattr* multipath = nullptr;
};

std::string ipv4_text(const void* addr) {
  char buf[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, addr, buf, sizeof buf);
  return buf;
}

int route_attr_cb(const nlattr* attr, void* data) {
  auto* r = static_cast<RouteParse*>(data);
  switch (mnl_attr_get_type(attr)) {
    case RTA_TABLE:
      if (mnl_attr_validate(attr, MNL_TYPE_U32) == 0) r->table = mnl_attr_get_u32(attr);
      break;
    case RTA_PRIORITY:
      if (mnl_attr_validate(attr, MNL_TYPE_U32) == 0) r->priority = mnl_attr_get_u32(attr);
      break;
    case RTA_OIF:
      if (mnl_attr_validate(attr, MNL_TYPE_U32) == 0) r->oif = mnl_attr_get_u32(attr);
      break;
    case RTA_GATEWAY:
      if (mnl_attr_get_payload_len(attr) == 4) r->gateway = ipv4_text(mnl_attr_get_payload(attr));
      break;
    case RTA_MULTIPATH:
      r->multipath = attr;
      break;
    default:
      break;
  }
  return MNL_CB_OK;
}

}  // namespace

bool parse_route_message(const void* p, std::size_t bytes, std::vector<DefaultRouteHop>& out) {
  const nlmsghdr* nlh = checked_header(p, bytes, RTM_NEWROUTE, sizeof(rtmsg));
  if (nlh == nullptr) return false;
  rtmsg rtm;
  std::memcpy(&rtm, mnl_nlmsg_get_payload(nlh), sizeof rtm);
  RouteParse r;
  r.table = rtm.rtm_table;
  if (!walk_attributes(nlh, sizeof(rtmsg), route_attr_cb, &r)) return false;
  if (rtm.rtm_family != AF_INET || rtm.rtm_dst_len != 0 || rtm.rtm_type != RTN_UNICAST ||
      r.table != RT_TABLE_MAIN)
    return true;
  if (!r.multipath) {
    out.push_back({r.oif, r.priority, std::move(r.gateway)});
    return true;
  }
  // An ECMP default route: one next hop (interface and gateway) per
  // rtnexthop record, each followed by its own attributes.
  const auto* hop = static_cast<const char*>(mnl_attr_get_payload(r.multipath));
  std::size_t left = mnl_attr_get_payload_len(r.multipath);
  while (left >= sizeof(rtnexthop)) {
    rtnexthop nh;
    std::memcpy(&nh, hop, sizeof nh);
    if (nh.rtnh_len < sizeof(rtnexthop) || nh.rtnh_len > left) break;
    std::string hop_gateway;
    std::size_t off = RTNH_ALIGN(sizeof(rtnexthop));
    while (off + sizeof(nlattr) <= nh.rtnh_len) {
      nlattr a;
      std::memcpy(&a, hop + off, sizeof a);
      if (a.nla_len < sizeof(nlattr) || off + a.nla_len > nh.rtnh_len) break;
      if ((a.nla_type & NLA_TYPE_MASK) == RTA_GATEWAY && a.nla_len == sizeof(nlattr) + 4)
        hop_gateway = ipv4_text(hop + off + sizeof(nlattr));
      off += NLA_ALIGN(a.nla_len);
    }
    out.push_back({static_cast<std::uint32_t>(nh.rtnh_ifindex), r.priority, std::move(hop_gateway)});
    const std::size_t step = RTNH_ALIGN(nh.rtnh_len);
    if (step >= left) break;
    hop += step;
    left -= step;
  }
  return true;
}

int collect_default_routes(const nlmsghdr* nlh, void* data) {
  parse_route_message(nlh, nlh->nlmsg_len, *static_cast<std::vector<DefaultRouteHop>*>(data));
  return MNL_CB_OK;
}

std::optional<std::uint32_t> preferred_default_interface(const std::vector<DefaultRouteHop>& hops) {
  const DefaultRouteHop* best = nullptr;
  for (const DefaultRouteHop& h : hops)
    if (h.oif != 0 && (!best || h.priority < best->priority)) best = &h;
  if (!best) return std::nullopt;
  return best->oif;
}

std::uint32_t oper_status(std::uint8_t operstate, std::uint32_t ifi_flags) {
  if (operstate == IF_OPER_UP) return kOperStatusUp;
  const std::uint32_t usable = IFF_UP | IFF_RUNNING | IFF_LOWER_UP;
  if (operstate == IF_OPER_UNKNOWN && (ifi_flags & usable) == usable) return kOperStatusUp;
  return kOperStatusDown;
}

std::uint32_t iana_if_type(std::uint16_t arphrd, bool wireless) {
  switch (arphrd) {
    case ARPHRD_ETHER:
      return wireless ? 71 : 6;  // ieee80211 : ethernetCsmacd
    case ARPHRD_EETHER:
      return 26;  // ethernet3Mbit
    case ARPHRD_PRONET:
      return 12;  // proteon10Mbit
    case ARPHRD_IEEE802:
    case ARPHRD_IEEE802_TR:
      return 9;  // iso88025TokenRing
    case ARPHRD_ARCNET:
      return 35;  // arcnet
    case ARPHRD_ATM:
      return 37;  // atm
    case ARPHRD_IEEE1394:
      return 144;  // ieee1394
    case ARPHRD_INFINIBAND:
      return 199;  // infiniband
    case ARPHRD_SLIP:
    case ARPHRD_CSLIP:
    case ARPHRD_SLIP6:
    case ARPHRD_CSLIP6:
      return 28;  // slip
    case ARPHRD_X25:
      return 5;  // rfc877x25
    case ARPHRD_PPP:
      return 23;  // ppp
    case ARPHRD_HDLC:
      return 118;  // hdlc
    case ARPHRD_LAPB:
      return 16;  // lapb
    case ARPHRD_DLCI:
    case ARPHRD_FRAD:
      return 32;  // frameRelay
    case ARPHRD_LOOPBACK:
      return 24;  // softwareLoopback
    case ARPHRD_FDDI:
      return 15;  // fddi
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
    case ARPHRD_IP6GRE:
      return 131;  // tunnel
    case ARPHRD_IEEE80211:
    case ARPHRD_IEEE80211_PRISM:
    case ARPHRD_IEEE80211_RADIOTAP:
      return 71;  // ieee80211
    case ARPHRD_IEEE802154:
      return 259;  // ieee802154
    case ARPHRD_NONE:
      return 53;  // propVirtual: tun, WireGuard and other layer-3 virtual links
    default:
      return 1;  // other
  }
}

void fill_row(const LinkInfo& link, const LinkCounters& c, LinkRow& row) {
  row.index = link.index;
  // Assignments, not constructions: the row's strings keep their capacity.
  row.name = link.alias.empty() ? link.if_name : link.alias;
  row.if_name = link.if_name;
  row.type = iana_if_type(link.arphrd, link.wireless);
  row.mtu = link.mtu;
  row.speed_bps = link.speed_bps;
  row.phys_addr_len = link.addr_len;
  row.phys_addr = link.addr;
  row.admin_status = (link.flags & IFF_UP) ? 1 : 2;
  row.oper_status = oper_status(link.operstate, link.flags);

  row.in_octets = c.rx_bytes;
  row.out_octets = c.tx_bytes;
  // The kernel counts received multicast (broadcast included on most
  // drivers) but keeps no sent-multicast count, so every sent packet counts
  // as unicast.
  const std::uint64_t in_multicast = std::min(c.multicast, c.rx_packets);
  row.in_ucast_pkts = c.rx_packets - in_multicast;
  row.in_nucast_pkts = in_multicast;
  row.out_ucast_pkts = c.tx_packets;
  row.out_nucast_pkts = 0;
  row.in_discards = c.rx_dropped;
  row.in_errors = c.rx_errors;
  row.in_unknown_protos = c.rx_nohandler;
  row.out_discards = c.tx_dropped;
  row.out_errors = c.tx_errors;
  row.out_qlen = 0;     // the kernel has no per-link queue length counter
  row.last_change = 0;  // nor a last-change tick
}

}  // namespace netlink_detail

using netlink_detail::kDumpBufferSize;
using netlink_detail::LinkCounters;
using netlink_detail::LinkInfo;

namespace {
constexpr const char* kReadFailedHeadline = "Cannot read the network interface table.";
}

void NetlinkLinkStats::SocketCloser::operator()(mnl_socket* s) const { mnl_socket_close(s); }

NetlinkLinkStats::NetlinkLinkStats() : buf_(kDumpBufferSize) {
  Socket dump(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC));
  if (!dump || mnl_socket_bind(dump.get(), 0, MNL_SOCKET_AUTOPID) < 0) {
    fail("cannot open the rtnetlink socket", errno);
    return;
  }
  // The kernel answers a dump at once; the timeout only keeps a sampler thread
  // from hanging forever should it ever not.
  timeval tv{2, 0};
  setsockopt(mnl_socket_get_fd(dump.get()), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

  // Link events tell us when the cached attributes went stale. Without this
  // socket the cache is still refreshed when the set of interfaces changes,
  // but a cable pulled on an interface would not be seen; so it is required.
  Socket events(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!events || mnl_socket_bind(events.get(), RTMGRP_LINK, MNL_SOCKET_AUTOPID) < 0) {
    fail("cannot subscribe to link events", errno);
    return;
  }
  portid_ = mnl_socket_get_portid(dump.get());
  dump_sock_ = std::move(dump);
  event_sock_ = std::move(events);
  links_.reserve(16);
  links_next_.reserve(16);
  stats_.reserve(16);
  // Any event queued before this load is already reflected in it.
  drain_events();
  if (refresh_links()) links_stale_ = false;
}

NetlinkLinkStats::~NetlinkLinkStats() = default;

void NetlinkLinkStats::fail(const char* what, int err) {
  error_ = err != 0 ? Error::from_errno(kReadFailedHeadline, what, err) : Error{kReadFailedHeadline, what, 0};
}

void NetlinkLinkStats::drain(mnl_socket* sock) {
  const int fd = mnl_socket_get_fd(sock);
  for (int i = 0; i < 1024; ++i) {
    const ssize_t n = recv(fd, buf_.data(), buf_.size(), MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != ENOBUFS) return;  // EAGAIN: empty
  }
}

bool NetlinkLinkStats::drain_events() {
  const int fd = mnl_socket_get_fd(event_sock_.get());
  bool seen = false;
  // Bounded so that a flood of events cannot hold the sampler here; whatever
  // is left is seen on the next read.
  for (int i = 0; i < 64; ++i) {
    const ssize_t n = recv(fd, buf_.data(), buf_.size(), MSG_DONTWAIT);
    if (n > 0) {
      seen = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // ENOBUFS: the socket overran and events were lost; reload to be safe.
    if (n < 0 && errno == ENOBUFS) {
      seen = true;
      continue;
    }
    break;
  }
  return seen;
}

struct netlink_detail::DumpContext {
  std::vector<LinkInfo>* links = nullptr;
  std::vector<LinkCounters>* stats = nullptr;
  std::vector<netlink_detail::DefaultRouteHop>* routes = nullptr;
  bool malformed = false;
};

namespace {

using netlink_detail::DumpContext;

int link_msg_cb(const nlmsghdr* nlh, void* data) {
  auto* ctx = static_cast<DumpContext*>(data);
  auto& links = *ctx->links;
  links.emplace_back();
  if (!netlink_detail::parse_link_message(nlh, nlh->nlmsg_len, links.back())) {
    ctx->malformed = true;
    return MNL_CB_ERROR;
  }
  return MNL_CB_OK;
}

int stats_msg_cb(const nlmsghdr* nlh, void* data) {
  auto* ctx = static_cast<DumpContext*>(data);
  auto& stats = *ctx->stats;
  stats.emplace_back();
  if (!netlink_detail::parse_stats_message(nlh, nlh->nlmsg_len, stats.back())) {
    ctx->malformed = true;
    return MNL_CB_ERROR;
  }
  return MNL_CB_OK;
}

int route_msg_cb(const nlmsghdr* nlh, void* data) {
  return netlink_detail::collect_default_routes(nlh, static_cast<DumpContext*>(data)->routes);
}

// Puts the header of a dump request of `type` into `req` (zeroed, aligned
// and large enough) and returns its zeroed family header.
template <typename FamilyHeader>
FamilyHeader* put_dump_request(char* req, std::uint16_t type, std::uint32_t seq) {
  nlmsghdr* nlh = mnl_nlmsg_put_header(req);
  nlh->nlmsg_type = type;
  nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  nlh->nlmsg_seq = seq;
  return static_cast<FamilyHeader*>(mnl_nlmsg_put_extra_header(nlh, sizeof(FamilyHeader)));
}

}  // namespace

std::size_t netlink_detail::put_link_dump_request(char* buf, std::uint32_t seq) {
  static_assert(NLMSG_ALIGN(sizeof(nlmsghdr)) + NLMSG_ALIGN(sizeof(ifinfomsg)) + MNL_ATTR_HDRLEN +
                    sizeof(std::uint32_t) <= kDumpRequestBytes);
  std::memset(buf, 0, kDumpRequestBytes);
  put_dump_request<ifinfomsg>(buf, RTM_GETLINK, seq)->ifi_family = AF_UNSPEC;
  auto* nlh = reinterpret_cast<nlmsghdr*>(buf);
  // The link dump would otherwise carry two copies of the counters per link,
  // which we take from the stats dump anyway.
  mnl_attr_put_u32(nlh, IFLA_EXT_MASK, RTEXT_FILTER_SKIP_STATS);
  return nlh->nlmsg_len;
}

std::size_t netlink_detail::put_stats_dump_request(char* buf, std::uint32_t seq) {
  static_assert(NLMSG_ALIGN(sizeof(nlmsghdr)) + NLMSG_ALIGN(sizeof(if_stats_msg)) <= kDumpRequestBytes);
  std::memset(buf, 0, kDumpRequestBytes);
  auto* ifsm = put_dump_request<if_stats_msg>(buf, RTM_GETSTATS, seq);
  ifsm->family = AF_UNSPEC;
  ifsm->filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
  return reinterpret_cast<const nlmsghdr*>(buf)->nlmsg_len;
}

void netlink_detail::merge_rows(const std::vector<LinkInfo>& links, const std::vector<LinkCounters>& stats,
                                std::vector<LinkRow>& rows) {
  // An index missing from either list is left out.
  std::size_t n = 0;
  auto link = links.begin();
  for (const LinkCounters& c : stats) {
    while (link != links.end() && link->index < c.index) ++link;
    if (link == links.end()) break;
    if (link->index != c.index) continue;
    if (rows.size() <= n) rows.emplace_back();
    fill_row(*link, c, rows[n]);
    ++n;
  }
  rows.resize(n);
}

bool NetlinkLinkStats::run_dump(std::span<const char> request, std::uint32_t seq,
                                int (*cb)(const nlmsghdr*, void*), DumpContext& ctx) {
  mnl_socket* sock = dump_sock_.get();
  if (mnl_socket_sendto(sock, request.data(), request.size()) < 0) {
    fail("rtnetlink request failed", errno);
    return false;
  }
  for (;;) {
    const ssize_t n = mnl_socket_recvfrom(sock, buf_.data(), buf_.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("rtnetlink receive failed", errno);
      drain(sock);
      return false;
    }
    const int ret = netlink_detail::run_callbacks(buf_.data(), static_cast<std::size_t>(n), seq, portid_, cb, &ctx);
    if (ret == MNL_CB_STOP) return true;  // NLMSG_DONE
    if (ret == MNL_CB_OK) continue;       // more parts follow
    const int err = errno;
    if (ctx.malformed) {
      fail("malformed rtnetlink message", 0);
    } else if (err == EINTR) {
      // NLM_F_DUMP_INTR: the table changed while it was dumped.
      dump_interrupted_ = true;
      fail("rtnetlink dump interrupted", 0);
    } else {
      fail("rtnetlink error reply", err);
    }
    // Read off the rest of the dump, or the next request would get EBUSY.
    drain(sock);
    return false;
  }
}

void NetlinkLinkStats::query_speed_and_wireless(LinkInfo& link) {
  // The speed is what /sys/class/net/NAME/speed shows, asked through the
  // ethtool ioctl instead: sysfs shows the namespace it was mounted in, the
  // ioctl the namespace of the socket. Any socket reaches the device ioctls.
  const int fd = mnl_socket_get_fd(dump_sock_.get());
  ifreq ifr{};
  const std::size_t n = std::min(link.if_name.size(), sizeof ifr.ifr_name - 1);
  std::memcpy(ifr.ifr_name, link.if_name.data(), n);

  link.speed_bps = 0;
  // sysfs reports no speed for an interface that is down; neither do we.
  if (link.flags & IFF_UP) {
    ethtool_cmd cmd{};
    cmd.cmd = ETHTOOL_GSET;
    ifr.ifr_data = reinterpret_cast<char*>(&cmd);
    if (ioctl(fd, SIOCETHTOOL, &ifr) == 0) {
      const std::uint32_t mbps = ethtool_cmd_speed(&cmd);
      if (mbps != 0 && mbps != static_cast<std::uint32_t>(SPEED_UNKNOWN)) {
        link.speed_bps = static_cast<std::uint64_t>(mbps) * 1'000'000u;
      }
    }
  }

  // A wireless station presents itself as ARPHRD_ETHER; the wireless
  // extensions answer SIOCGIWNAME only for 802.11 devices.
  link.wireless = false;
  if (link.arphrd == ARPHRD_ETHER) {
    iwreq wrq{};
    std::memcpy(wrq.ifr_name, link.if_name.data(), std::min(link.if_name.size(), sizeof wrq.ifr_name - 1));
    link.wireless = ioctl(fd, SIOCGIWNAME, &wrq) == 0;
  }
}

bool NetlinkLinkStats::refresh_links() {
  alignas(nlmsghdr) char req[netlink_detail::kDumpRequestBytes] = {};
  const std::size_t req_len = netlink_detail::put_link_dump_request(req, ++seq_);

  // Load into the spare vector; the cache stays as it was when the load fails.
  links_next_.clear();
  dump_interrupted_ = false;
  DumpContext ctx;
  ctx.links = &links_next_;
  if (!run_dump({req, req_len}, seq_, link_msg_cb, ctx)) return false;

  std::sort(links_next_.begin(), links_next_.end(),
            [](const LinkInfo& a, const LinkInfo& b) { return a.index < b.index; });
  for (LinkInfo& link : links_next_) query_speed_and_wireless(link);
  links_.swap(links_next_);
  ++link_refreshes_;
  return true;
}

bool NetlinkLinkStats::dump_stats() {
  alignas(nlmsghdr) char req[netlink_detail::kDumpRequestBytes] = {};
  const std::size_t req_len = netlink_detail::put_stats_dump_request(req, ++seq_);

  stats_.clear();
  dump_interrupted_ = false;
  DumpContext ctx;
  ctx.stats = &stats_;
  if (!run_dump({req, req_len}, seq_, stats_msg_cb, ctx)) return false;
  // Recent kernels dump in index order; older ones walk a hash table.
  if (!std::is_sorted(stats_.begin(), stats_.end(),
                      [](const LinkCounters& a, const LinkCounters& b) { return a.index < b.index; })) {
    std::sort(stats_.begin(), stats_.end(),
              [](const LinkCounters& a, const LinkCounters& b) { return a.index < b.index; });
  }
  return true;
}

bool NetlinkLinkStats::same_index_sets() const {
  if (links_.size() != stats_.size()) return false;
  for (std::size_t i = 0; i < links_.size(); ++i) {
    if (links_[i].index != stats_[i].index) return false;
  }
  return true;
}

int NetlinkLinkStats::watch_events() {
  if (!is_supported()) return -1;
  events_watched_ = true;
  return mnl_socket_get_fd(event_sock_.get());
}

void NetlinkLinkStats::take_events() {
  if (!is_supported()) return;
  // One message per readiness: the descriptor is readable, so this read
  // does not fail for want of data, and anything further keeps it readable
  // for the watcher's next wait. ENOBUFS (the socket overran, events were
  // lost) is a reason to reload just the same.
  const ssize_t n = recv(mnl_socket_get_fd(event_sock_.get()), buf_.data(), buf_.size(), MSG_DONTWAIT);
  if (n > 0 || (n < 0 && errno == ENOBUFS)) links_stale_ = true;
}

Status NetlinkLinkStats::read_table(std::vector<LinkRow>& rows) {
  if (!is_supported()) return error_;
  if (!events_watched_ && drain_events()) links_stale_ = true;

  // Interfaces may come and go between the link dump and the stats dump; try
  // a few times to see both agree, then settle for the interfaces both know.
  bool have_stats = false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (links_stale_) {
      if (!refresh_links()) {
        if (dump_interrupted_) continue;
        return error_;
      }
      links_stale_ = false;
    }
    have_stats = dump_stats();
    if (!have_stats) {
      if (dump_interrupted_) continue;
      return error_;
    }
    if (same_index_sets()) break;
    links_stale_ = true;
  }
  // Every attempt was interrupted by interfaces coming and going.
  if (!have_stats || link_refreshes_ == 0) return error_;

  netlink_detail::merge_rows(links_, stats_, rows);
  error_.detail.clear();
  error_.errno_value = 0;
  return {};
}

std::optional<std::uint32_t> NetlinkLinkStats::default_route_index() {
  if (!is_supported()) return std::nullopt;
  std::vector<netlink_detail::DefaultRouteHop> hops;
  // A dump interrupted by a routing change is asked again, like the link dumps.
  for (int attempt = 0; attempt < 3; ++attempt) {
    alignas(nlmsghdr) char req[NLMSG_ALIGN(sizeof(nlmsghdr)) + NLMSG_ALIGN(sizeof(rtmsg))] = {};
    put_dump_request<rtmsg>(req, RTM_GETROUTE, ++seq_)->rtm_family = AF_INET;
    const auto* nlh = reinterpret_cast<const nlmsghdr*>(req);
    hops.clear();
    dump_interrupted_ = false;
    DumpContext ctx;
    ctx.routes = &hops;
    if (run_dump({req, nlh->nlmsg_len}, nlh->nlmsg_seq, route_msg_cb, ctx))
      return netlink_detail::preferred_default_interface(hops);
    if (!dump_interrupted_) break;
  }
  return std::nullopt;
}

}  // namespace tw::platform
