#pragma once
// Plain values that cross the boundary between Tarnwatch and its privileged
// helper: a packet filter set, a TCP socket's name, a capture address. The
// platform interfaces (platform/packet_filter.h, connection_killer.h,
// packet_capture.h) take them, and the helper's messages (helper/protocol.h)
// carry them; both include this file, so neither has to include the other.
//
// Plain data: copy freely, any thread.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tw::net {

// Address families by the kernel's numbers, so that a value read from a
// message can be compared with what a socket reports.
inline constexpr std::uint8_t kFamilyIPv4 = 2;   // AF_INET
inline constexpr std::uint8_t kFamilyIPv6 = 10;  // AF_INET6

// ---- packet filter ----------------------------------------------------------

// Values of FilterDescriptor::protocol (FilterDescriptor6: ICMPv6 instead of
// ICMP).
inline constexpr std::uint8_t kFilterAnyProtocol = 0;
inline constexpr std::uint8_t kFilterIcmp = 1;
inline constexpr std::uint8_t kFilterTcp = 6;
inline constexpr std::uint8_t kFilterUdp = 17;
inline constexpr std::uint8_t kFilterIcmp6 = 58;
// An ICMP type or code of this value matches any.
inline constexpr std::uint16_t kFilterIcmpAny = 255;

// One DROP filter. Addresses and masks are numbers whose most significant
// byte is the first octet of the dotted quad; a mask of 0 matches any
// address. Ports are inclusive ranges, 0-0 meaning any port; for ICMP
// src_port is the type and dst_port the code (kFilterIcmpAny: any), and the
// high ends are unused. Ports of any other protocol than TCP and UDP are
// unused too.
struct FilterDescriptor {
  std::uint32_t src_address = 0, src_mask = 0;
  std::uint32_t dst_address = 0, dst_mask = 0;
  std::uint8_t protocol = kFilterAnyProtocol;
  std::uint16_t src_port = 0, src_port_high = 0;
  std::uint16_t dst_port = 0, dst_port_high = 0;
  friend bool operator==(const FilterDescriptor&, const FilterDescriptor&) = default;
};

// An IPv6 address as 16 bytes in network order.
using Ipv6Bytes = std::array<std::uint8_t, 16>;

// One IPv6 DROP filter: each address is a prefix (the bits beyond its length
// are 0; length 0 matches any address). Protocol kFilterAnyProtocol,
// kFilterIcmp6, kFilterTcp or kFilterUdp; ports as in FilterDescriptor, for
// ICMPv6 the type and code.
struct FilterDescriptor6 {
  Ipv6Bytes src_address{};
  std::uint8_t src_prefix = 0;
  Ipv6Bytes dst_address{};
  std::uint8_t dst_prefix = 0;
  std::uint8_t protocol = kFilterAnyProtocol;
  std::uint16_t src_port = 0, src_port_high = 0;
  std::uint16_t dst_port = 0, dst_port_high = 0;
  friend bool operator==(const FilterDescriptor6&, const FilterDescriptor6&) = default;
};

// What is installed: every filter on every local address, inbound (packets
// to that address) and outbound (packets from it). Local addresses are
// numbers like the filters' (first octet most significant).
//
// `ipv6` false: IPv4 only, in the table of the IPv4 family as it was before
// IPv6 (local_ipv6 and drops6 are then empty). True: one table for both
// families, the IPv6 filters on the IPv6 local addresses beside the IPv4 ones.
struct FilterSet {
  std::vector<std::uint32_t> local_addresses;
  std::vector<FilterDescriptor> drops;
  bool ipv6 = false;
  std::vector<Ipv6Bytes> local_ipv6{};
  std::vector<FilterDescriptor6> drops6{};
  friend bool operator==(const FilterSet&, const FilterSet&) = default;
};

// The most a set may hold, for each family apart: the rule table's size, and
// more local addresses than any host has.
inline constexpr std::size_t kMaxFilterDrops = 2000;
inline constexpr std::size_t kMaxFilterLocalAddresses = 1024;

// ---- connections ------------------------------------------------------------

// The kernel's inet_diag name of one TCP socket, as a socket-table dump
// reports it. IPv4 addresses are in network byte order in the 32-bit fields;
// an IPv6 socket (family kFamilyIPv6, a dual-stack socket's IPv4-mapped peers
// included) has its addresses' 16 bytes in the *6 fields and 0 in the 32-bit
// ones. Ports are in host byte order.
struct SocketId {
  // A cookie that matches any socket with these addresses and ports.
  static constexpr std::uint64_t kAnyCookie = ~std::uint64_t{0};

  std::uint32_t local_address = 0;
  std::uint16_t local_port = 0;
  std::uint32_t remote_address = 0;
  std::uint16_t remote_port = 0;
  std::uint32_t interface = 0;  // index of the device the socket is bound to, 0 when unbound
  // The kernel's unique number of the socket. With it, a connection that has
  // ended is never confused with a later one that reuses its addresses and
  // ports: closing the old one finds nothing and touches nothing.
  std::uint64_t cookie = kAnyCookie;
  std::uint8_t family = kFamilyIPv4;
  std::array<std::uint8_t, 16> local_address6{};
  std::array<std::uint8_t, 16> remote_address6{};

  bool is_v6() const { return family == kFamilyIPv6; }
  // Whether the peer's address is all zeros (a listener's name, no connection).
  bool remote_unspecified() const {
    if (!is_v6()) return remote_address == 0;
    for (const std::uint8_t b : remote_address6)
      if (b != 0) return false;
    return true;
  }

  friend bool operator==(const SocketId&, const SocketId&) = default;
};

// "10.0.0.1:80 -> 10.0.0.2:5050", "[fd00::1]:80 -> [fd00::2]:5050", for
// details of errors and logs (base/ip_address.cpp).
std::string to_text(const SocketId& id);

// ---- capture ----------------------------------------------------------------

// One address of the machine to capture on: an IPv4 address takes the first
// 4 bytes (network order) and the rest are 0; an IPv6 address all 16. The
// family also chooses what is captured: the IPv4 datagrams of the device, or
// its IPv6 datagrams.
struct CaptureAddress {
  std::uint8_t family = kFamilyIPv4;
  std::array<std::uint8_t, 16> bytes{};

  static CaptureAddress ipv4(std::uint32_t network_order) {
    CaptureAddress a;
    std::memcpy(a.bytes.data(), &network_order, 4);
    return a;
  }
  static CaptureAddress ipv6(const std::array<std::uint8_t, 16>& address) {
    CaptureAddress a;
    a.family = kFamilyIPv6;
    a.bytes = address;
    return a;
  }
  // The IPv4 address in network order (meaningful for kFamilyIPv4 only).
  std::uint32_t ipv4_address() const {
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data(), 4);
    return v;
  }
  friend bool operator==(const CaptureAddress&, const CaptureAddress&) = default;
};

}  // namespace tw::net
