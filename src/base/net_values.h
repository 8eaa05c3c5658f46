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

// Values of FilterDescriptor::protocol.
inline constexpr std::uint8_t kFilterAnyProtocol = 0;
inline constexpr std::uint8_t kFilterIcmp = 1;
inline constexpr std::uint8_t kFilterTcp = 6;
inline constexpr std::uint8_t kFilterUdp = 17;
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

// What is installed: every filter on every local address, inbound (packets
// to that address) and outbound (packets from it). Local addresses are
// numbers like the filters' (first octet most significant).
struct FilterSet {
  std::vector<std::uint32_t> local_addresses;
  std::vector<FilterDescriptor> drops;
  friend bool operator==(const FilterSet&, const FilterSet&) = default;
};

// The most a set may hold: the rule table's size, and more local addresses
// than any host has.
inline constexpr std::size_t kMaxFilterDrops = 2000;
inline constexpr std::size_t kMaxFilterLocalAddresses = 1024;

// ---- connections ------------------------------------------------------------

// The kernel's inet_diag name of one IPv4 TCP socket, as a socket-table dump
// reports it. Addresses are in network byte order, ports in host byte order.
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

  friend bool operator==(const SocketId&, const SocketId&) = default;
};

// "10.0.0.1:80 -> 10.0.0.2:5050", for details of errors and logs.
inline std::string to_text(const SocketId& id) {
  auto addr = [](std::uint32_t a) {
    const auto* b = reinterpret_cast<const unsigned char*>(&a);  // network order: first octet first
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
  };
  return addr(id.local_address) + ":" + std::to_string(id.local_port) + " -> " + addr(id.remote_address) + ":" +
         std::to_string(id.remote_port);
}

// ---- capture ----------------------------------------------------------------

// One address of the machine to capture on: an IPv4 address takes the first
// 4 bytes (network order) and the rest are 0.
struct CaptureAddress {
  std::uint8_t family = kFamilyIPv4;
  std::array<std::uint8_t, 16> bytes{};

  static CaptureAddress ipv4(std::uint32_t network_order) {
    CaptureAddress a;
    std::memcpy(a.bytes.data(), &network_order, 4);
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
