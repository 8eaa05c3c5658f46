#include "platform/linux/sock_diag.h"

#include <libmnl/libmnl.h>
#include <linux/inet_diag.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <charconv>
#include <cstring>

namespace tw::platform {

static_assert(TCP_ESTABLISHED == 1 && TCP_LISTEN == 10 && TCP_CLOSING == 11,
              "mib_tcp_state() follows the kernel's numbering");

namespace {
constexpr const char* kHeadline = "Could not read the connection table.";
// Big enough for a few hundred sockets per read; the kernel fills what fits.
constexpr std::size_t kBufferBytes = 64 * 1024;

// The line of `text` that starts with `prefix` (the `nth` such line, from 0),
// without its line end; empty when there is none.
std::string_view line_starting(std::string_view text, std::string_view prefix, int nth = 0) {
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(at, end - at);
    if (line.substr(0, prefix.size()) == prefix && nth-- == 0) return line;
    at = end + 1;
  }
  return {};
}

// The whole of a /proc file through a descriptor kept open: a read from
// offset 0 makes the kernel write the text anew.
bool read_whole(int fd, char* buf, std::size_t size, std::string_view& out) {
  std::size_t got = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buf + got, size - got, static_cast<off_t>(got));
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
    if (got == size) return false;  // longer than any the kernel writes: not trusted
  }
  out = std::string_view(buf, got);
  return true;
}

OwnedFd open_counters(const char* name) {
  // thread-self: /proc/self/net is the namespace of the process's first
  // thread, not of the one that opened the netlink socket.
  return OwnedFd(::open((std::string("/proc/thread-self/net/") + name).c_str(), O_RDONLY | O_CLOEXEC));
}
}  // namespace

std::optional<TcpTablePrint> tcp_table_print(std::string_view snmp, std::string_view sockstat,
                                             std::string_view sockstat6) {
  // snmp: a line of names, then one of values.
  const std::string_view counters = line_starting(snmp, "Tcp: ", 1);
  const std::string_view tcp = line_starting(sockstat, "TCP: ");
  const std::string_view tcp6 = line_starting(sockstat6, "TCP6: ");
  if (counters.empty() || tcp.empty() || tcp6.empty()) return std::nullopt;
  TcpTablePrint print;
  print.text.reserve(counters.size() + tcp.size() + tcp6.size() + 2);
  print.text.append(counters).append("\n");
  // "TCP: inuse N orphan N tw N alloc N mem N": inuse and tw are the
  // namespace's.
  const std::size_t orphan = tcp.find(" orphan ");
  const std::size_t tw = tcp.find(" tw ");
  const std::size_t alloc = tcp.find(" alloc ", tw == std::string_view::npos ? 0 : tw);
  if (orphan == std::string_view::npos || tw == std::string_view::npos || orphan > tw) return std::nullopt;
  print.text.append(tcp.substr(0, orphan)).append(tcp.substr(tw, alloc - tw)).append("\n");
  print.text.append(tcp6);
  return print;
}

std::optional<std::uint64_t> udp_sockets_in_use(std::string_view sockstat, bool ipv6) {
  const std::string_view head = ipv6 ? "UDP6: inuse " : "UDP: inuse ";
  const std::string_view line = line_starting(sockstat, head);
  if (line.empty()) return std::nullopt;
  std::uint64_t n = 0;
  const char* end = line.data() + line.size();
  const auto [p, ec] = std::from_chars(line.data() + head.size(), end, n);
  if (ec != std::errc() || (p != end && *p != ' ')) return std::nullopt;
  return n;
}

bool tcp_dump_reusable(const std::vector<SocketRow>& rows) {
  // A connection the kernel set up has no inode until its program accepts
  // it, and a request socket may expire without a segment: both change
  // without a counter moving. Sockets in TIME_WAIT have none for good.
  return std::none_of(rows.begin(), rows.end(),
                      [](const SocketRow& r) { return r.inode == 0 && r.state != mib::kTimeWait; });
}

DumpProgress parse_sock_diag_dump(const void* buf, std::size_t len, SocketProtocol protocol, std::uint32_t seq,
                                  std::vector<SocketRow>& out, int& error) {
  // Walked by hand rather than with mnl_nlmsg_ok(): that check casts the
  // length to int, so a length field of 0xFFFFFFFC passes and the walk jumps
  // far outside the buffer.
  const auto* base = static_cast<const char*>(buf);
  for (std::size_t off = 0; len - off >= sizeof(nlmsghdr);) {
    const auto* m = reinterpret_cast<const nlmsghdr*>(base + off);
    const std::size_t mlen = m->nlmsg_len;
    if (mlen < sizeof(nlmsghdr) || mlen > len - off) break;  // truncated: nothing more to trust
    off += std::min<std::size_t>(NLMSG_ALIGN(mlen), len - off);
    if (seq != 0 && m->nlmsg_seq != seq) continue;
    if (m->nlmsg_type == NLMSG_DONE) return DumpProgress::Done;
    if (m->nlmsg_type == NLMSG_ERROR) {
      error = EBADMSG;
      if (m->nlmsg_len >= mnl_nlmsg_size(sizeof(nlmsgerr))) {
        const int e = static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(m))->error;
        if (e < 0 && e > -4096) error = -e;  // the kernel's -errno; anything else is garbage
      }
      return DumpProgress::Failed;
    }
    // TCPDIAG_GETSOCK: the answers to a dump of both families (read_both).
    if (m->nlmsg_type != SOCK_DIAG_BY_FAMILY && m->nlmsg_type != TCPDIAG_GETSOCK) continue;
    if (m->nlmsg_len < mnl_nlmsg_size(sizeof(inet_diag_msg))) continue;
    inet_diag_msg msg;
    std::memcpy(&msg, mnl_nlmsg_get_payload(m), sizeof msg);
    if (msg.idiag_family != AF_INET && msg.idiag_family != AF_INET6) continue;
    // Asked for without them; a kernel that sends them anyway is not heard.
    if (protocol == SocketProtocol::Tcp && msg.idiag_state == kTcpBoundInactive) continue;
    SocketRow row;
    row.protocol = protocol;
    if (msg.idiag_family == AF_INET6) {
      row.family = net::kFamilyIPv6;
      std::memcpy(row.local_address6.data(), msg.id.idiag_src, 16);
      std::memcpy(row.remote_address6.data(), msg.id.idiag_dst, 16);
    } else {
      row.local_address = msg.id.idiag_src[0];
      row.remote_address = msg.id.idiag_dst[0];
    }
    row.local_port = ntohs(msg.id.idiag_sport);
    row.remote_port = ntohs(msg.id.idiag_dport);
    row.interface = msg.id.idiag_if;
    row.cookie = msg.id.idiag_cookie[0] | (std::uint64_t{msg.id.idiag_cookie[1]} << 32);
    row.state = mib_tcp_state(msg.idiag_state);
    row.inode = msg.idiag_inode;
    row.uid = msg.idiag_uid;
    out.push_back(row);
  }
  return DumpProgress::More;
}

void SockDiagSocketTable::SocketCloser::operator()(mnl_socket* s) const { mnl_socket_close(s); }

// Not zeroed: the kernel writes what it answers, and pages it never reaches
// stay out of memory.
SockDiagSocketTable::SockDiagSocketTable() : buf_(new char[kBufferBytes]) {
  sock_.reset(mnl_socket_open2(NETLINK_SOCK_DIAG, SOCK_CLOEXEC));
  if (!sock_ || mnl_socket_bind(sock_.get(), 0, MNL_SOCKET_AUTOPID) < 0) {
    open_error_ = Error::from_errno(kHeadline, "opening a NETLINK_SOCK_DIAG socket", errno);
    sock_.reset();
    return;
  }
  // A dump is answered at once; the timeout only keeps a kernel bug from
  // hanging the refresh.
  timeval tv{2, 0};
  setsockopt(mnl_socket_get_fd(sock_.get()), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  snmp_fd_ = open_counters("snmp");
  sockstat_fd_ = open_counters("sockstat");
  sockstat6_fd_ = open_counters("sockstat6");
}

SockDiagSocketTable::~SockDiagSocketTable() = default;

std::optional<TcpTablePrint> SockDiagSocketTable::read_print() {
  if (!snmp_fd_ || !sockstat_fd_ || !sockstat6_fd_) return std::nullopt;
  // Each text is well under a kilobyte or two.
  char snmp[8192], sockstat[2048], sockstat6[2048];
  std::string_view a, b, c;
  if (!read_whole(snmp_fd_.get(), snmp, sizeof snmp, a) ||
      !read_whole(sockstat_fd_.get(), sockstat, sizeof sockstat, b) ||
      !read_whole(sockstat6_fd_.get(), sockstat6, sizeof sockstat6, c))
    return std::nullopt;
  return tcp_table_print(a, b, c);
}

bool SockDiagSocketTable::no_udp_sockets(std::uint8_t family) {
  const OwnedFd& fd = family == AF_INET6 ? sockstat6_fd_ : sockstat_fd_;
  if (!fd) return false;
  char text[2048];
  std::string_view got;
  if (!read_whole(fd.get(), text, sizeof text, got)) return false;
  const auto n = udp_sockets_in_use(got, family == AF_INET6);
  return n && *n == 0;
}

Result<std::vector<SocketRow>> SockDiagSocketTable::read(SocketProtocol protocol) { return dump(protocol, AF_INET); }

Result<std::vector<SocketRow>> SockDiagSocketTable::read_ipv6(SocketProtocol protocol) {
  return dump(protocol, AF_INET6);
}

Result<std::vector<SocketRow>> SockDiagSocketTable::read_both(SocketProtocol protocol) {
  // A SOCK_DIAG_BY_FAMILY dump walks the kernel's whole TCP hash table for
  // one family, and that walk is most of a refresh's cost. The older
  // TCPDIAG_GETSOCK request leaves the family open, so one walk answers for
  // both. UDP has no such request; a kernel that refuses it gets two dumps.
  if (protocol != SocketProtocol::Tcp) return SocketTable::read_both(protocol);
  auto rows = read_tcp_one_walk();
  return rows ? rows : SocketTable::read_both(protocol);
}

Result<std::vector<SocketRow>> SockDiagSocketTable::read_tcp_one_walk() {
  auto rows = dump(SocketProtocol::Tcp, AF_UNSPEC);
  if (!rows) return rows;
  // Each family keeps the kernel's order, IPv4 first, as the two dumps give it.
  std::stable_partition(rows->begin(), rows->end(),
                        [](const SocketRow& r) { return r.family == net::kFamilyIPv4; });
  return rows;
}

Result<std::vector<SocketRow>> SockDiagSocketTable::dump(SocketProtocol protocol, std::uint8_t family) {
  if (!sock_) return open_error_;
  if (protocol != SocketProtocol::Tcp) {
    // Often IPv6: a namespace with none is asked its count, not walked. A
    // socket bound after the count shows at the next read, as one bound
    // after a walk would.
    if ((family == AF_INET || family == AF_INET6) && no_udp_sockets(family)) return std::vector<SocketRow>{};
    return walk(protocol, family);
  }
  // Read before the walk: a change during the walk shows at the next read.
  auto print = read_print();
  const auto now = std::chrono::steady_clock::now();
  auto kept = std::find_if(kept_.begin(), kept_.end(), [&](const KeptDump& k) { return k.family == family; });
  // The changes no counter shows are those of a socket already there: a
  // dump without any stands for as long as the counters stand still.
  if (print && kept != kept_.end() && kept->print == *print &&
      (kept->rows.empty() || now - kept->taken < kTcpDumpReuse))
    return kept->rows;
  auto rows = walk(protocol, family);
  if (kept != kept_.end()) kept_.erase(kept);
  if (rows && print && tcp_dump_reusable(*rows)) kept_.push_back({family, std::move(*print), now, *rows});
  return rows;
}

Result<std::vector<SocketRow>> SockDiagSocketTable::walk(SocketProtocol protocol, std::uint8_t family) {
  if (protocol == SocketProtocol::Tcp) ++tcp_walks_;
  const bool tcp = protocol == SocketProtocol::Tcp;
  const char* what = family == AF_UNSPEC  ? "dumping the TCP sockets of both families"
                     : family == AF_INET6 ? (tcp ? "dumping the TCP/IPv6 sockets" : "dumping the UDP/IPv6 sockets")
                                          : (tcp ? "dumping the TCP sockets" : "dumping the UDP sockets");
  alignas(nlmsghdr) char req_buf[256] = {};
  nlmsghdr* nlh = mnl_nlmsg_put_header(req_buf);
  nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  nlh->nlmsg_seq = ++seq_;
  if (seq_ == 0) nlh->nlmsg_seq = ++seq_;  // 0 means "any" to the parser
  // Every state but the bound-only one: a connection auto-block closed would
  // otherwise come back as CLOSED at every refresh while its program holds
  // the socket.
  const std::uint32_t states = ~0U & ~(1U << kTcpBoundInactive);
  if (family == AF_UNSPEC) {
    // TCP of both families (read_both): the kernel takes the family of this
    // request as open.
    nlh->nlmsg_type = TCPDIAG_GETSOCK;
    auto* req = static_cast<inet_diag_req*>(mnl_nlmsg_put_extra_header(nlh, sizeof(inet_diag_req)));
    req->idiag_family = AF_UNSPEC;
    req->idiag_states = states;
  } else {
    nlh->nlmsg_type = SOCK_DIAG_BY_FAMILY;
    auto* req = static_cast<inet_diag_req_v2*>(mnl_nlmsg_put_extra_header(nlh, sizeof(inet_diag_req_v2)));
    // The kernel answers a family's dump with that family's sockets only: an
    // AF_INET6 dump holds the dual-stack sockets' IPv4-mapped connections,
    // and never a socket of the AF_INET dump.
    req->sdiag_family = family;
    req->sdiag_protocol = protocol == SocketProtocol::Tcp ? IPPROTO_TCP : IPPROTO_UDP;
    req->idiag_states = states;
  }
  if (mnl_socket_sendto(sock_.get(), nlh, nlh->nlmsg_len) < 0) return Error::from_errno(kHeadline, what, errno);

  std::vector<SocketRow> rows;
  for (;;) {
    const ssize_t n = mnl_socket_recvfrom(sock_.get(), buf_.get(), kBufferBytes);
    if (n < 0) return Error::from_errno(kHeadline, what, errno == EAGAIN ? ETIMEDOUT : errno);
    int err = 0;
    switch (parse_sock_diag_dump(buf_.get(), static_cast<std::size_t>(n), protocol, seq_, rows, err)) {
      case DumpProgress::Done:
        // A reply of the other family would be a kernel bug; it is not heard.
        if (family != AF_UNSPEC)
          std::erase_if(rows, [&](const SocketRow& r) {
            return r.family != (family == AF_INET6 ? net::kFamilyIPv6 : net::kFamilyIPv4);
          });
        return rows;
      case DumpProgress::Failed: return Error::from_errno(kHeadline, what, err);
      case DumpProgress::More: break;
    }
  }
}

}  // namespace tw::platform
