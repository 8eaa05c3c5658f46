#include "platform/linux/protocol_stats.h"

#include <fcntl.h>
#include <libmnl/libmnl.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/linux/netlink_messages.h"
#include "platform/linux/owned_fd.h"
#include "platform/linux/sock_diag.h"

namespace tw::platform {
namespace {

struct SocketCloser {
  void operator()(mnl_socket* s) const noexcept { mnl_socket_close(s); }
};

struct RouteCount {
  std::uint64_t n = 0;
};

int count_any(const nlmsghdr*, void* data) {
  ++static_cast<RouteCount*>(data)->n;
  return MNL_CB_OK;
}

int count_main_routes(const nlmsghdr* nlh, void* data) {
  if (mnl_nlmsg_get_payload_len(nlh) < sizeof(rtmsg)) return MNL_CB_OK;
  const auto* rtm = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(nlh));
  if (rtm->rtm_family != AF_INET) return MNL_CB_OK;
  // The table id is in the header up to 255 and in RTA_TABLE beyond.
  std::uint32_t table = rtm->rtm_table;
  const auto* attr = static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(nlh, sizeof(rtmsg)));
  const auto* tail = static_cast<const char*>(mnl_nlmsg_get_payload_tail(nlh));
  while (mnl_attr_ok(attr, static_cast<int>(tail - reinterpret_cast<const char*>(attr)))) {
    if (mnl_attr_get_type(attr) == RTA_TABLE && mnl_attr_get_payload_len(attr) == 4) table = mnl_attr_get_u32(attr);
    attr = mnl_attr_next(attr);
  }
  if (table == RT_TABLE_MAIN) ++static_cast<RouteCount*>(data)->n;
  return MNL_CB_OK;
}

// Dumps `type` with the family header `hdr` and counts with `cb`.
std::optional<std::uint64_t> count_dump(std::uint16_t type, const void* hdr, std::size_t hdr_len, mnl_cb_t cb) {
  std::unique_ptr<mnl_socket, SocketCloser> sock(mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC));
  if (!sock || mnl_socket_bind(sock.get(), 0, MNL_SOCKET_AUTOPID) < 0) return std::nullopt;
  timeval tv{2, 0};
  ::setsockopt(mnl_socket_get_fd(sock.get()), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const unsigned portid = mnl_socket_get_portid(sock.get());
  // A dump that the kernel marks as interrupted (the table changed while it
  // was read) is repeated.
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::vector<char> buf(32768);
    nlmsghdr* nlh = mnl_nlmsg_put_header(buf.data());
    nlh->nlmsg_type = type;
    nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    const auto seq = static_cast<std::uint32_t>(::time(nullptr)) + static_cast<std::uint32_t>(attempt);
    nlh->nlmsg_seq = seq;
    std::memcpy(mnl_nlmsg_put_extra_header(nlh, hdr_len), hdr, hdr_len);
    if (mnl_socket_sendto(sock.get(), nlh, nlh->nlmsg_len) < 0) return std::nullopt;
    RouteCount count;
    int ret = MNL_CB_OK;
    while (ret == MNL_CB_OK) {
      const ssize_t n = mnl_socket_recvfrom(sock.get(), buf.data(), buf.size());
      if (n <= 0) return std::nullopt;
      errno = 0;
      ret = netlink_detail::run_callbacks(buf.data(), static_cast<std::size_t>(n), seq, portid, cb, &count);
    }
    if (ret == MNL_CB_STOP) return count.n;
    if (errno != EINTR) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

namespace {

// A /proc file's whole text (at most a little over 1 MiB).
Result<std::string> read_proc_file(const std::string& path) {
  const OwnedFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return Error::from_errno("The protocol statistics cannot be read.", "opening " + path, errno);
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Error::from_errno("The protocol statistics cannot be read.", "reading " + path, errno);
    if (n == 0 || text.size() > (std::size_t{1} << 20)) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text;
}

}  // namespace

Result<std::string> LinuxProtocolStats::snmp_text() { return read_proc_file(proc_ + "/thread-self/net/snmp"); }

Result<std::string> LinuxProtocolStats::snmp6_text() { return read_proc_file(proc_ + "/thread-self/net/snmp6"); }

ProtocolTableCounts LinuxProtocolStats::table_counts() {
  ProtocolTableCounts c;
  ifinfomsg link{};
  link.ifi_family = AF_UNSPEC;
  c.interfaces = count_dump(RTM_GETLINK, &link, sizeof link, count_any);
  ifaddrmsg addr{};
  addr.ifa_family = AF_INET;
  c.addresses = count_dump(RTM_GETADDR, &addr, sizeof addr, count_any);
  rtmsg route{};
  route.rtm_family = AF_INET;
  c.routes = count_dump(RTM_GETROUTE, &route, sizeof route, count_main_routes);
  SockDiagSocketTable sockets;
  if (auto tcp = sockets.read(SocketProtocol::Tcp)) c.tcp_connections = tcp->size();
  if (auto udp = sockets.read(SocketProtocol::Udp)) c.udp_endpoints = udp->size();
  return c;
}

}  // namespace tw::platform
