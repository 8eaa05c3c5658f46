#pragma once
// An IPv4 or IPv6 address as a plain value, with the texts the monitors show
// and the prefixes rules name. Every monitor that shows or matches an address
// of either family uses this one type, so that an IPv4 address read from a
// socket, a datagram or a rule compares equal wherever it came from.
//
// Plain data: copy freely, any thread. Parsing and formatting are pure.
#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/net_values.h"

namespace tw::net {

struct IpAddress {
  std::uint8_t family = kFamilyIPv4;  // kFamilyIPv4 or kFamilyIPv6
  // IPv4: the first 4 bytes in network order, the rest 0. IPv6: all 16.
  std::array<std::uint8_t, 16> bytes{};

  static IpAddress v4(std::uint32_t network_order);
  static IpAddress v6(const std::array<std::uint8_t, 16>& bytes);
  // From 4 or 16 bytes in network order as a kernel message carries them.
  static IpAddress from_bytes(std::uint8_t family, const void* data);

  bool is_v4() const { return family == kFamilyIPv4; }
  bool is_v6() const { return family == kFamilyIPv6; }
  // The IPv4 address in network order (0 for IPv6).
  std::uint32_t v4_network() const;
  // 4 or 16.
  std::size_t length() const { return is_v4() ? 4 : 16; }

  // NOLINTNEXTLINE(modernize-use-nullptr): clang-tidy 14 reads the defaulted <=> as a 0 literal
  friend auto operator<=>(const IpAddress&, const IpAddress&) = default;
};

// A dotted quad ("192.0.2.1") or an IPv6 text ("fd00::2", "::ffff:1.2.3.4");
// no brackets, ports or zone names. nullopt when the text is neither.
std::optional<IpAddress> parse_ip(std::string_view text);

// The dotted quad, or the canonical IPv6 text (lower case, the longest run of
// zero groups compressed): "fd00::2".
std::string to_text(const IpAddress& address);

// An address joined with a port: "192.0.2.1:80", "[fd00::2]:5555".
std::string with_port(const IpAddress& address, std::uint16_t port);
// The same for an address already in text form (an IPv6 text holds ':').
std::string with_port(std::string_view address_text, std::uint16_t port);

// An IPv4-mapped IPv6 address (::ffff:a.b.c.d) as the IPv4 address it maps;
// any other address unchanged. Dual-stack sockets report IPv4 peers this way.
IpAddress unmapped(const IpAddress& address);

bool is_loopback(const IpAddress& address);    // 127/8, ::1
bool is_link_local(const IpAddress& address);  // 169.254/16, fe80::/10
bool is_unique_local(const IpAddress& address);  // fc00::/7
// Addresses whose names a LAN's hosts database rather than DNS knows:
// 10/8, 172.16/12, 192.168/16, and for IPv6 unique-local and link-local.
bool is_private(const IpAddress& address);

// An address range: the first `length` bits of `address`.
struct IpPrefix {
  IpAddress address;
  std::uint8_t length = 0;  // 0..32 for IPv4, 0..128 for IPv6

  // Whether `a` is of the same family and starts with the prefix's bits.
  bool contains(const IpAddress& a) const;
  friend bool operator==(const IpPrefix&, const IpPrefix&) = default;
};

// "fd00::/8", "10.0.0.0/8", or a bare address (the whole length). nullopt for
// anything else, a length beyond the family's included.
std::optional<IpPrefix> parse_prefix(std::string_view text);

}  // namespace tw::net
