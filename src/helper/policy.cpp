#include "helper/policy.h"

#include <algorithm>

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

}  // namespace tw::helper
