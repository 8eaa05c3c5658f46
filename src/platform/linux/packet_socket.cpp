#include "platform/linux/packet_socket.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/connection_killer.h"
#include "platform/linux/machine_ipv6.h"
#include "platform/linux/owned_fd.h"

namespace tw::platform {
namespace {

constexpr const char* kCaptureHeadline = "Could not open the packet capture.";

int fail(CaptureFailure& f, const char* call, int code, std::string detail) {
  f.call = call;
  f.code = code;
  f.detail = std::move(detail);
  return -1;
}

}  // namespace

std::vector<BpfInstruction> capture_filter(std::uint8_t family) {
  const std::uint32_t ethertype = family == net::kFamilyIPv6 ? ETH_P_IPV6 : ETH_P_IP;
  // The ethertype as the kernel has it (the link-layer header is gone by the
  // time a SOCK_DGRAM packet socket's filter runs).
  return {
      {BPF_LD | BPF_H | BPF_ABS, 0, 0, static_cast<std::uint32_t>(SKF_AD_OFF + SKF_AD_PROTOCOL)},
      {BPF_JMP | BPF_JEQ | BPF_K, 0, 1, ethertype},
      {BPF_RET | BPF_K, 0, 0, kCaptureSnapLength},
      {BPF_RET | BPF_K, 0, 0, 0},
  };
}

std::vector<helper::MachineAddress> machine_ipv4_addresses() {
  std::vector<helper::MachineAddress> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    // An address with a label ("eth0:1") belongs to the device before the colon.
    const std::string device(a->ifa_name, std::strcspn(a->ifa_name, ":"));
    out.push_back({ntohl(in->sin_addr.s_addr), if_nametoindex(device.c_str()), (a->ifa_flags & IFF_LOOPBACK) != 0});
  }
  freeifaddrs(list);
  return out;
}

std::vector<helper::MachineAddress6> machine_ipv6_addresses() {
  auto list = ipv6_addresses_of_machine();
  return list ? std::move(*list) : std::vector<helper::MachineAddress6>{};
}

unsigned device_of_address(std::uint32_t address) {
  for (const helper::MachineAddress& a : machine_ipv4_addresses())
    if (a.value == ntohl(address) && a.interface != 0) return a.interface;
  return 0;
}

unsigned device_of_address(const net::IpAddress& address) {
  if (address.is_v4()) return address.v4_network() == 0 ? 0 : device_of_address(address.v4_network());
  for (const helper::MachineAddress6& a : machine_ipv6_addresses())
    if (a.bytes == address.bytes && a.interface != 0) return a.interface;
  return 0;
}

int open_capture_socket(const net::IpAddress& address, CaptureFailure& failure) {
  const unsigned device = device_of_address(address);
  if (device == 0) return fail(failure, "bind", EADDRNOTAVAIL, "no interface holds the capture address");
  return open_device_capture_socket(device, failure, address.family);
}

int open_device_capture_socket(unsigned device, CaptureFailure& failure, std::uint8_t family) {
  if (device == 0) return fail(failure, "bind", EADDRNOTAVAIL, "no interface holds the capture address");

  // Protocol 0: nothing is queued before the filter is attached and the
  // socket bound to its device.
  OwnedFd fd(socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return fail(failure, "socket", errno, std::string("socket(AF_PACKET): ") + std::strerror(errno));

  std::vector<BpfInstruction> code = capture_filter(family);
  static_assert(sizeof(BpfInstruction) == sizeof(sock_filter));
  sock_fprog prog{static_cast<unsigned short>(code.size()), reinterpret_cast<sock_filter*>(code.data())};
  if (setsockopt(fd.get(), SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog) != 0) {
    const int e = errno;
    return fail(failure, "setsockopt", e, std::string("SO_ATTACH_FILTER: ") + std::strerror(e));
  }
  // Room for bursts: a few MiB queue while the capture thread is busy. The
  // forced size needs CAP_NET_ADMIN; without it the limit of net.core.rmem_max
  // applies.
  const int room = 8 << 20;
  if (setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) != 0)
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);

  sockaddr_ll where{};
  where.sll_family = AF_PACKET;
  // ETH_P_IP or ETH_P_IPV6 would miss outgoing datagrams; the filter chooses.
  where.sll_protocol = htons(ETH_P_ALL);
  where.sll_ifindex = static_cast<int>(device);
  if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
    const int e = errno;
    return fail(failure, "bind", e, std::string("bind to the capture device: ") + std::strerror(e));
  }
  return fd.release();  // the caller owns it from here
}

void add_capture_drops(int fd, std::uint64_t& dropped) {
  tpacket_stats st{};
  socklen_t len = sizeof st;
  if (getsockopt(fd, SOL_PACKET, PACKET_STATISTICS, &st, &len) == 0) dropped += st.tp_drops;
}

Error capture_error(const CaptureFailure& f) {
  return Error{kCaptureHeadline, f.call + ": " + f.detail, f.code};
}

CaptureFailure capture_failure(const Error& e) {
  CaptureFailure f;
  f.code = e.errno_value;
  const auto colon = e.detail.find(": ");
  const std::string call = colon == std::string::npos ? std::string() : e.detail.substr(0, colon);
  f.call = call == "socket" || call == "setsockopt" || call == "bind" ? call : "socket";
  f.detail = e.detail;
  f.cause = std::string(administrator_cause(e));
  return f;
}

}  // namespace tw::platform
