#pragma once
// The machine's TCP and UDP sockets of both IP families with their owning processes: what the
// Session Monitor lists and what the Packet Monitor names packets by.
//
// Two capabilities behind one header: the socket table itself (a kernel dump,
// unprivileged) and the processes (which process holds a socket, process
// names). Owners of other users' sockets are found only with the privilege to
// read their file descriptors; without it they stay unknown.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/ip_address.h"
#include "base/net_values.h"

namespace tw::platform {

enum class SocketProtocol { Tcp, Udp };

// TCP states as the MIB numbers them (RFC 4022 tcpConnState): the numbers the
// session list, the rules and the Netstat filter are built on.
namespace mib {
inline constexpr int kClosed = 1, kListen = 2, kSynSent = 3, kSynReceived = 4, kEstablished = 5,
                     kFinWait1 = 6, kFinWait2 = 7, kCloseWait = 8, kClosing = 9, kLastAck = 10,
                     kTimeWait = 11, kDeleteTcb = 12;
}

// The kernel numbers its TCP states differently (include/net/tcp_states.h:
// TCP_ESTABLISHED = 1 ... TCP_NEW_SYN_RECV = 12). Each maps onto the MIB state
// that means the same; the kernel's two extra ones onto their nearest:
//   TCP_NEW_SYN_RECV (a request socket before accept) -> SYN_RCVD,
//   TCP_BOUND_INACTIVE (bound, never listened)        -> CLOSED.
// Anything unknown reads as CLOSED rather than as a state it is not.
constexpr int mib_tcp_state(int kernel_state) {
  switch (kernel_state) {
    case 1: return mib::kEstablished;   // TCP_ESTABLISHED
    case 2: return mib::kSynSent;       // TCP_SYN_SENT
    case 3: return mib::kSynReceived;   // TCP_SYN_RECV
    case 4: return mib::kFinWait1;      // TCP_FIN_WAIT1
    case 5: return mib::kFinWait2;      // TCP_FIN_WAIT2
    case 6: return mib::kTimeWait;      // TCP_TIME_WAIT
    case 7: return mib::kClosed;        // TCP_CLOSE
    case 8: return mib::kCloseWait;     // TCP_CLOSE_WAIT
    case 9: return mib::kLastAck;       // TCP_LAST_ACK
    case 10: return mib::kListen;       // TCP_LISTEN
    case 11: return mib::kClosing;      // TCP_CLOSING
    case 12: return mib::kSynReceived;  // TCP_NEW_SYN_RECV
    default: return mib::kClosed;       // TCP_BOUND_INACTIVE and anything newer
  }
}

// The kernel's pseudo-state of a TCP socket that is only bound (Linux 6.7+):
// one that never connected or listened, and a connection closed with
// SOCK_DESTROY while its program still holds the socket and the port it bound,
// which keeps its addresses. No connection: dumps leave it out, as ss does.
inline constexpr int kTcpBoundInactive = 13;

// One socket of a dump. Addresses in network byte order, ports in host order:
// an IPv4 socket's in the 32-bit fields, an IPv6 socket's (family
// kFamilyIPv6, with a dual-stack socket's IPv4-mapped addresses as the kernel
// reports them) in the 16-byte ones, the 32-bit fields then 0.
struct SocketRow {
  SocketProtocol protocol = SocketProtocol::Tcp;
  std::uint32_t local_address = 0;
  std::uint16_t local_port = 0;
  std::uint32_t remote_address = 0;
  std::uint16_t remote_port = 0;
  int state = mib::kClosed;  // MIB number (TCP); UDP rows carry what the kernel says, mapped the same way
  std::uint32_t interface = 0;
  std::uint64_t cookie = ~std::uint64_t{0};  // kernel's socket id: closes exactly this connection
  std::uint64_t inode = 0;   // 0 for sockets no process holds (TIME_WAIT, request sockets)
  std::uint32_t uid = 0;
  std::uint8_t family = net::kFamilyIPv4;
  std::array<std::uint8_t, 16> local_address6{};
  std::array<std::uint8_t, 16> remote_address6{};
};

// The addresses of a row as the kernel names them (a dual-stack socket's IPv4
// peers stay IPv4-mapped: net::unmapped() gives what the lists show).
inline net::IpAddress local_ip(const SocketRow& r) {
  return r.family == net::kFamilyIPv6 ? net::IpAddress::v6(r.local_address6) : net::IpAddress::v4(r.local_address);
}
inline net::IpAddress remote_ip(const SocketRow& r) {
  return r.family == net::kFamilyIPv6 ? net::IpAddress::v6(r.remote_address6) : net::IpAddress::v4(r.remote_address);
}
// What closes exactly this connection: the socket's own family, addresses,
// ports, device and cookie.
inline net::SocketId socket_id(const SocketRow& r) {
  net::SocketId id;
  id.family = r.family;
  id.local_address = r.local_address;
  id.local_port = r.local_port;
  id.remote_address = r.remote_address;
  id.remote_port = r.remote_port;
  id.interface = r.interface;
  id.cookie = r.cookie;
  id.local_address6 = r.local_address6;
  id.remote_address6 = r.remote_address6;
  return id;
}

class SocketTable {
 public:
  virtual ~SocketTable() = default;
  virtual bool is_supported() = 0;
  // Every IPv4 socket of the protocol, in the kernel's order, but for TCP
  // sockets that are only bound. One thread at a time.
  virtual Result<std::vector<SocketRow>> read(SocketProtocol protocol) = 0;
  // The same for the IPv6 sockets (AF_INET6, dual-stack ones with their
  // IPv4-mapped peers included). A table without IPv6 has none.
  virtual Result<std::vector<SocketRow>> read_ipv6(SocketProtocol protocol) {
    (void)protocol;
    return std::vector<SocketRow>{};
  }
  // The IPv4 sockets as read() gives them, then the IPv6 ones as read_ipv6()
  // does; a table may read both at once. An error of read() is the answer.
  virtual Result<std::vector<SocketRow>> read_both(SocketProtocol protocol) {
    auto rows = read(protocol);
    if (!rows) return rows;
    if (auto v6 = read_ipv6(protocol)) rows->insert(rows->end(), v6->begin(), v6->end());
    return rows;
  }
};

struct ProcessEntry {
  int pid = 0;
  std::string name;  // executable name
};

class ProcessTable {
 public:
  virtual ~ProcessTable() = default;
  // The process list is always readable; owners of other users' sockets stay
  // unknown without the privilege to look into their processes.
  virtual bool is_supported() { return true; }
  // The process holding the socket with this inode, -1 when unknown (no such
  // socket, or its holder cannot be seen). Cheap when asked about a socket
  // seen before; one thread at a time.
  virtual int owner_of_socket(std::uint64_t inode) = 0;
  // Says which sockets owner_of_socket() is about to be asked about (those of
  // one reading of the tables), so that all the misses among them are looked
  // up in one go. Optional: without it every miss is looked up when asked.
  virtual void prefetch_owners(std::span<const std::uint64_t> inodes) { (void)inodes; }
  // Checks, without a walk, that the kept owners of these sockets still hold
  // them (the process is still there and still has the socket), and looks
  // the ones that do not up again: a program that forked and ended leaves
  // its socket to its child. Cheap, but callers still do it at most about
  // once a second. Returns how many owners were stale.
  virtual int verify_owners(std::span<const std::uint64_t> inodes) {
    (void)inodes;
    return 0;
  }
  // Every running process with its name: a full walk, so callers cache it.
  virtual std::vector<ProcessEntry> list_processes() = 0;
};

}  // namespace tw::platform
