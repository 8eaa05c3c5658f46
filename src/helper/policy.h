#pragma once
// What tarnix-helper grants a member of the group tarnwatch, as decisions on
// values the helper has read from the machine itself: never on the client's
// word alone.
//
//   - A capture runs only on the device that owns one of the machine's own
//     non-loopback addresses (IPv6: global or unique-local ones).
//   - A filter is installed only for the machine's own non-loopback
//     addresses; the client's list can leave some out, never add one.
//
// Pure functions: no state, no system calls, any thread.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "base/net_values.h"

namespace tw::helper {

// One IPv4 address of the machine as the helper read it (getifaddrs): the
// address as a number whose most significant byte is the first octet, the
// index of the device that holds it, and whether that device is a loopback.
struct MachineAddress {
  std::uint32_t value = 0;
  std::uint32_t interface = 0;
  bool loopback = false;
  friend bool operator==(const MachineAddress&, const MachineAddress&) = default;
};

// False for the addresses that never name a host of the machine's networks:
// 0.0.0.0, 255.255.255.255 and 127.0.0.0/8 (first octet most significant).
bool ordinary_ipv4(std::uint32_t value);

// The addresses of `requested` (first octet most significant) that are
// ordinary, non-loopback addresses of the machine, in the requested order,
// each once.
std::vector<std::uint32_t> narrow_filter_addresses(std::span<const std::uint32_t> requested,
                                                   std::span<const MachineAddress> machine);

// The index of the device to capture on for `address`: the device that holds
// it when it is an ordinary, non-loopback IPv4 address of the machine; 0
// otherwise (an IPv6 address included: see capture_device6).
std::uint32_t capture_device(const net::CaptureAddress& address, std::span<const MachineAddress> machine);

// One IPv6 address of the machine as the helper read it (getifaddrs): its 16
// bytes, the index of the device that holds it, and whether that device is a
// loopback.
struct MachineAddress6 {
  std::array<std::uint8_t, 16> bytes{};
  std::uint32_t interface = 0;
  bool loopback = false;
  friend bool operator==(const MachineAddress6&, const MachineAddress6&) = default;
};

// The IPv6 addresses a capture may be asked for: global and unique-local
// unicast addresses. Not the unspecified address, loopback, link-local,
// multicast or IPv4-mapped ones: the Packet Monitor offers none of them, so
// the helper grants none of them either.
bool ordinary_ipv6(const std::array<std::uint8_t, 16>& bytes);

// The index of the device to capture the IPv6 datagrams of for `address`:
// the device that holds it when it is an ordinary IPv6 address of the
// machine on a non-loopback device; 0 otherwise (an IPv4 address included).
std::uint32_t capture_device6(const net::CaptureAddress& address, std::span<const MachineAddress6> machine);

// The IPv6 addresses of `requested` that are the machine's own, in the
// requested order, each once: its global and unique-local addresses, and its
// loopback (::1, or any address of a loopback device) and link-local
// (fe80::/10) ones only where `loopback_named` and `link_local_named` say that
// a filter names them. Never the unspecified address or a multicast one.
std::vector<net::Ipv6Bytes> narrow_filter_addresses6(std::span<const net::Ipv6Bytes> requested,
                                                     std::span<const MachineAddress6> machine, bool loopback_named,
                                                     bool link_local_named);

}  // namespace tw::helper
