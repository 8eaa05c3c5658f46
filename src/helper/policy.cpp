#include "helper/policy.h"

#include <algorithm>

#include "base/ip_address.h"

namespace tw::helper {
namespace {

const MachineAddress* find_usable(std::uint32_t value, std::span<const MachineAddress> machine) {
  if (!ordinary_ipv4(value)) return nullptr;
  for (const MachineAddress& a : machine)
    if (a.value == value && !a.loopback && a.interface != 0) return &a;
  return nullptr;
}

}  // namespace

bool ordinary_ipv4(std::uint32_t value) {
  return value != 0 && value != 0xFFFFFFFF && (value >> 24) != 127;
}

std::vector<std::uint32_t> narrow_filter_addresses(std::span<const std::uint32_t> requested,
                                                   std::span<const MachineAddress> machine) {
  std::vector<std::uint32_t> out;
  for (const std::uint32_t a : requested)
    if (find_usable(a, machine) != nullptr && std::find(out.begin(), out.end(), a) == out.end()) out.push_back(a);
  return out;
}

std::uint32_t capture_device(const net::CaptureAddress& address, std::span<const MachineAddress> machine) {
  if (address.family != net::kFamilyIPv4) return 0;
  const auto& b = address.bytes;
  if (!std::all_of(b.begin() + 4, b.end(), [](std::uint8_t x) { return x == 0; })) return 0;
  const std::uint32_t value = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                              (std::uint32_t{b[2]} << 8) | std::uint32_t{b[3]};
  const MachineAddress* found = find_usable(value, machine);
  return found != nullptr ? found->interface : 0;
}

std::vector<net::Ipv6Bytes> narrow_filter_addresses6(std::span<const net::Ipv6Bytes> requested,
                                                     std::span<const MachineAddress6> machine, bool loopback_named,
                                                     bool link_local_named) {
  static constexpr net::Ipv6Bytes kLoopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  std::vector<net::Ipv6Bytes> out;
  for (const net::Ipv6Bytes& a : requested) {
    const bool unspecified = std::all_of(a.begin(), a.end(), [](std::uint8_t b) { return b == 0; });
    if (unspecified || a[0] == 0xFF) continue;  // ::, ff00::/8
    const auto own = std::find_if(machine.begin(), machine.end(),
                                  [&](const MachineAddress6& m) { return m.bytes == a && m.interface != 0; });
    if (own == machine.end()) continue;
    const bool loopback = own->loopback || a == kLoopback;
    const bool link_local = a[0] == 0xFE && (a[1] & 0xC0) == 0x80;
    if ((loopback && !loopback_named) || (link_local && !link_local_named)) continue;
    if (std::find(out.begin(), out.end(), a) == out.end()) out.push_back(a);
  }
  return out;
}

}  // namespace tw::helper

namespace tw::helper {

bool ordinary_ipv6(const std::array<std::uint8_t, 16>& b) {
  const net::IpAddress a = net::IpAddress::v6(b);
  const bool unspecified = std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0; });
  const bool multicast = b[0] == 0xff;
  const bool mapped = net::unmapped(a).is_v4();
  return !unspecified && !multicast && !mapped && !net::is_loopback(a) && !net::is_link_local(a);
}

std::uint32_t capture_device6(const net::CaptureAddress& address, std::span<const MachineAddress6> machine) {
  if (address.family != net::kFamilyIPv6 || !ordinary_ipv6(address.bytes)) return 0;
  for (const MachineAddress6& a : machine)
    if (a.bytes == address.bytes && !a.loopback && a.interface != 0) return a.interface;
  return 0;
}

}  // namespace tw::helper
