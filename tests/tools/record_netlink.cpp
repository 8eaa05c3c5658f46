// Records the kernel's answers to the dumps the program sends, as fixtures for
// the parser tests and seeds for the netlink fuzz target:
//
//   stats_dump.bin      RTM_GETSTATS (64-bit link counters), the request of NetlinkLinkStats
//   link_dump.bin       RTM_GETLINK, the request of NetlinkLinkStats
//   sock_diag_tcp.bin   inet_diag, IPv4 TCP sockets in every state
//   sock_diag_udp.bin   inet_diag, IPv4 UDP sockets
//   recording.txt       what the namespace held when the dumps were taken
//
// Each .bin file is every datagram the kernel sent for one dump, back to back
// (each one ends on a message boundary, so the file is one message stream).
//
// Everything happens in two throwaway namespaces joined by a veth pair: the
// left one also gets a second veth pair of its own, sends UDP datagrams over the veth to
// the right one, and holds a listening TCP socket, a connection to it and a
// bound UDP socket on its own loopback. The dumps are taken in the left one.
// Nothing leaves those namespaces. Needs root.
//
//   usage: tw_record_netlink OUTPUT_FOLDER
#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "netns.h"
#include "platform/linux/netlink_link_stats.h"

namespace {

namespace nd = tw::platform::netlink_detail;

constexpr int kDatagrams = 25;
constexpr int kPayloadBytes = 100;
constexpr std::uint16_t kTcpPort = 7311;
constexpr std::uint16_t kUdpPort = 7312;

struct FdCloser {
  void operator()(const int* fd) const {
    if (*fd >= 0) ::close(*fd);
    delete fd;
  }
};
using Fd = std::unique_ptr<int, FdCloser>;
Fd make_fd(int fd) { return Fd(new int(fd)); }

// Sends `request` on a fresh netlink socket of `protocol` and returns every
// datagram of the answer, back to back; empty on failure.
std::string dump(int protocol, const void* request, std::size_t length) {
  Fd fd = make_fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, protocol));
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (*fd < 0 || ::sendto(*fd, request, length, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
    std::perror("netlink request");
    return {};
  }
  std::string out;
  std::vector<char> buf(32768);
  for (;;) {
    const ssize_t n = ::recv(*fd, buf.data(), buf.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::perror("netlink receive");
      return {};
    }
    out.append(buf.data(), static_cast<std::size_t>(n));
    // The dump ends with NLMSG_DONE (or an error) as the last message of a datagram.
    bool done = false;
    for (auto* nlh = reinterpret_cast<const nlmsghdr*>(buf.data()); mnl_nlmsg_ok(nlh, static_cast<int>(n));) {
      done = nlh->nlmsg_type == NLMSG_DONE || nlh->nlmsg_type == NLMSG_ERROR;
      int left = static_cast<int>(n) - static_cast<int>(reinterpret_cast<const char*>(nlh) - buf.data());
      nlh = mnl_nlmsg_next(nlh, &left);
      if (left <= 0) break;
    }
    if (done) return out;
  }
}

std::string sock_diag_dump(std::uint8_t protocol) {
  struct {
    nlmsghdr nlh;
    inet_diag_req_v2 req;
  } msg{};
  msg.nlh.nlmsg_len = sizeof msg;
  msg.nlh.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  msg.nlh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  msg.nlh.nlmsg_seq = 1;
  msg.req.sdiag_family = AF_INET;
  msg.req.sdiag_protocol = protocol;
  msg.req.idiag_states = ~0u;
  msg.req.idiag_ext = 1u << (INET_DIAG_INFO - 1);
  return dump(NETLINK_SOCK_DIAG, &msg, sizeof msg);
}

sockaddr_in ipv4(const char* address, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &a.sin_addr);
  return a;
}

bool write_file(const std::string& path, const std::string& content) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(content.data(), static_cast<std::streamsize>(content.size()));
  f.close();
  if (!f) std::fprintf(stderr, "cannot write %s\n", path.c_str());
  return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  if (!tw::test::is_root()) {
    std::fprintf(stderr, "needs root (network namespaces)\n");
    return 1;
  }
  const std::string folder = std::string(argv[1]) + "/";

  tw::test::VethLink link("rec");
  if (!link.ok()) {
    std::fprintf(stderr, "%s\n", link.error().c_str());
    return 1;
  }
  tw::test::NetNs& ns = link.left();
  // A second pair with both ends here; one end carries an alias.
  if (!ns.add_veth("twpair0", "twpair1") || !ns.ip("link set dev twpair0 alias 'recorded pair'").ok()) {
    std::fprintf(stderr, "%s\n", ns.error().c_str());
    return 1;
  }

  std::string stats, links, tcp, udp;
  bool ok = false;
  // Held open until the counters are read: closing the connection would move
  // the loopback counters after the dumps.
  Fd listener, client, accepted, bound;
  const bool entered = ns.run([&] {
    // Datagrams over the veth (the far end answers ARP, so both directions count).
    Fd sender = make_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const sockaddr_in far = ipv4(link.right_addr().c_str(), 9);
    const std::string payload(kPayloadBytes, 'x');
    for (int i = 0; i < kDatagrams; ++i) {
      if (::sendto(*sender, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&far),
                   sizeof far) != kPayloadBytes) {
        std::perror("sendto");
        return;
      }
    }
    // Sockets for the socket-table dumps, all on this namespace's loopback.
    const sockaddr_in tcp_addr = ipv4("127.0.0.1", kTcpPort);
    const sockaddr_in udp_addr = ipv4("127.0.0.1", kUdpPort);
    listener = make_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    client = make_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    bound = make_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (::bind(*listener, reinterpret_cast<const sockaddr*>(&tcp_addr), sizeof tcp_addr) < 0 ||
        ::listen(*listener, 4) < 0 ||
        ::connect(*client, reinterpret_cast<const sockaddr*>(&tcp_addr), sizeof tcp_addr) < 0 ||
        ::bind(*bound, reinterpret_cast<const sockaddr*>(&udp_addr), sizeof udp_addr) < 0) {
      std::perror("loopback sockets");
      return;
    }
    accepted = make_fd(::accept4(*listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (*accepted < 0 || ::send(*client, "hello", 5, 0) != 5) {
      std::perror("loopback connection");
      return;
    }
    // Let the far end's ARP answer and the datagrams go through before the counters are read.
    ::usleep(200 * 1000);

    alignas(nlmsghdr) char req[nd::kDumpRequestBytes];
    std::size_t len = nd::put_stats_dump_request(req, 1);
    stats = dump(NETLINK_ROUTE, req, len);
    len = nd::put_link_dump_request(req, 1);
    links = dump(NETLINK_ROUTE, req, len);
    tcp = sock_diag_dump(IPPROTO_TCP);
    udp = sock_diag_dump(IPPROTO_UDP);
    ok = !stats.empty() && !links.empty() && !tcp.empty() && !udp.empty();
  });
  if (!entered || !ok) {
    std::fprintf(stderr, "recording failed\n");
    return 1;
  }

  // What a replay can check the parsed rows against. Nothing sends in the
  // namespace once the dumps are taken, so these are the dumped values.
  std::string manifest =
      "# What the recording namespace held (tw_record_netlink). Lines:\n"
      "#   link INDEX NAME\n"
      "#   counter NAME COUNTER VALUE   (from /sys, right after the dumps)\n"
      "#   sent NAME DATAGRAMS PAYLOAD_BYTES   (UDP datagrams sent out of NAME)\n"
      "#   tcp_port PORT / udp_port PORT   (the loopback sockets of the sock_diag dumps)\n";
  for (const std::string& name : {std::string("lo"), link.left_if(), std::string("twpair0"), std::string("twpair1")}) {
    const auto index = ns.ifindex(name);
    if (!index) {
      std::fprintf(stderr, "no index for %s\n", name.c_str());
      return 1;
    }
    manifest += "link " + std::to_string(*index) + " " + name + "\n";
    for (const char* counter : {"rx_packets", "tx_packets", "rx_bytes", "tx_bytes"}) {
      const auto value = ns.sys_counter(name, counter);
      if (!value) return 1;
      manifest += "counter " + name + " " + counter + " " + std::to_string(*value) + "\n";
    }
  }
  manifest += "sent " + link.left_if() + " " + std::to_string(kDatagrams) + " " + std::to_string(kPayloadBytes) + "\n";
  manifest += "tcp_port " + std::to_string(kTcpPort) + "\nudp_port " + std::to_string(kUdpPort) + "\n";

  const bool written = write_file(folder + "stats_dump.bin", stats) && write_file(folder + "link_dump.bin", links) &&
                       write_file(folder + "sock_diag_tcp.bin", tcp) && write_file(folder + "sock_diag_udp.bin", udp) &&
                       write_file(folder + "recording.txt", manifest);
  return written ? 0 : 1;
}
