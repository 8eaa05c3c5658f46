#pragma once
// What tarnix-helper grants a member of the group tarnwatch, as decisions on
// values the helper has read from the machine itself: never on the client's
// word alone.
//
//   - A capture runs only on the device that owns one of the machine's own
//     non-loopback addresses.
//   - A filter is installed only for the machine's own non-loopback
//     addresses; the client's list can leave some out, never add one.
//
// Pure functions: no state, no system calls, any thread.
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
// otherwise (IPv6 is not captured yet).
std::uint32_t capture_device(const net::CaptureAddress& address, std::span<const MachineAddress> machine);

}  // namespace tw::helper
