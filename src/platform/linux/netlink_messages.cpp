#include "platform/linux/netlink_messages.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/if.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>

namespace tw::platform::netlink_detail {
namespace {

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

std::size_t put_link_dump_request(char* buf, std::uint32_t seq) {
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

std::size_t put_stats_dump_request(char* buf, std::uint32_t seq) {
  static_assert(NLMSG_ALIGN(sizeof(nlmsghdr)) + NLMSG_ALIGN(sizeof(if_stats_msg)) <= kDumpRequestBytes);
  std::memset(buf, 0, kDumpRequestBytes);
  auto* ifsm = put_dump_request<if_stats_msg>(buf, RTM_GETSTATS, seq);
  ifsm->family = AF_UNSPEC;
  ifsm->filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
  return reinterpret_cast<const nlmsghdr*>(buf)->nlmsg_len;
}

std::size_t put_stats_get_request(char* buf, std::uint32_t seq, std::uint32_t ifindex) {
  const std::size_t len = put_stats_dump_request(buf, seq);
  auto* nlh = reinterpret_cast<nlmsghdr*>(buf);
  nlh->nlmsg_flags = NLM_F_REQUEST;
  static_cast<if_stats_msg*>(mnl_nlmsg_get_payload(nlh))->ifindex = ifindex;
  return len;
}

std::size_t put_route_dump_request(char* buf, std::uint32_t seq) {
  static_assert(NLMSG_ALIGN(sizeof(nlmsghdr)) + NLMSG_ALIGN(sizeof(rtmsg)) <= kDumpRequestBytes);
  std::memset(buf, 0, kDumpRequestBytes);
  put_dump_request<rtmsg>(buf, RTM_GETROUTE, seq)->rtm_family = AF_INET;
  return reinterpret_cast<const nlmsghdr*>(buf)->nlmsg_len;
}

}  // namespace tw::platform::netlink_detail
