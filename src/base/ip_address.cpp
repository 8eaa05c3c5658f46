#include "base/ip_address.h"

#include <arpa/inet.h>

#include <cstring>

namespace tw::net {

IpAddress IpAddress::v4(std::uint32_t network_order) {
  IpAddress a;
  std::memcpy(a.bytes.data(), &network_order, 4);
  return a;
}

IpAddress IpAddress::v6(const std::array<std::uint8_t, 16>& bytes) {
  IpAddress a;
  a.family = kFamilyIPv6;
  a.bytes = bytes;
  return a;
}

IpAddress IpAddress::from_bytes(std::uint8_t family, const void* data) {
  IpAddress a;
  a.family = family == kFamilyIPv6 ? kFamilyIPv6 : kFamilyIPv4;
  std::memcpy(a.bytes.data(), data, a.length());
  return a;
}

std::uint32_t IpAddress::v4_network() const {
  if (!is_v4()) return 0;
  std::uint32_t v = 0;
  std::memcpy(&v, bytes.data(), 4);
  return v;
}

std::optional<IpAddress> parse_ip(std::string_view text) {
  // inet_pton wants a terminated string; no address text is this long.
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN) return std::nullopt;
  char buf[INET6_ADDRSTRLEN];
  std::memcpy(buf, text.data(), text.size());
  buf[text.size()] = '\0';
  IpAddress a;
  if (::inet_pton(AF_INET, buf, a.bytes.data()) == 1) return a;
  a.family = kFamilyIPv6;
  if (::inet_pton(AF_INET6, buf, a.bytes.data()) == 1) return a;
  return std::nullopt;
}

std::string to_text(const IpAddress& address) {
  char buf[INET6_ADDRSTRLEN] = {};
  const int af = address.is_v6() ? AF_INET6 : AF_INET;
  if (::inet_ntop(af, address.bytes.data(), buf, sizeof buf) == nullptr) return std::string();
  return buf;
}

std::string with_port(std::string_view address_text, std::uint16_t port) {
  std::string out;
  const bool v6 = address_text.find(':') != std::string_view::npos;
  out.reserve(address_text.size() + 8);
  if (v6) out += '[';
  out += address_text;
  if (v6) out += ']';
  out += ':';
  out += std::to_string(port);
  return out;
}

std::string with_port(const IpAddress& address, std::uint16_t port) { return with_port(to_text(address), port); }

namespace {
bool v4_mapped(const IpAddress& a) {
  if (!a.is_v6()) return false;
  for (int i = 0; i < 10; ++i)
    if (a.bytes[i] != 0) return false;
  return a.bytes[10] == 0xff && a.bytes[11] == 0xff;
}
}  // namespace

IpAddress unmapped(const IpAddress& address) {
  if (!v4_mapped(address)) return address;
  IpAddress a;
  std::memcpy(a.bytes.data(), address.bytes.data() + 12, 4);
  return a;
}

bool is_loopback(const IpAddress& a) {
  if (a.is_v4()) return a.bytes[0] == 127;
  for (int i = 0; i < 15; ++i)
    if (a.bytes[i] != 0) return false;
  return a.bytes[15] == 1;
}

bool is_link_local(const IpAddress& a) {
  if (a.is_v4()) return a.bytes[0] == 169 && a.bytes[1] == 254;
  return a.bytes[0] == 0xfe && (a.bytes[1] & 0xc0) == 0x80;
}

bool is_unique_local(const IpAddress& a) { return a.is_v6() && (a.bytes[0] & 0xfe) == 0xfc; }

bool is_private(const IpAddress& a) {
  if (a.is_v6()) return is_unique_local(a) || is_link_local(a);
  return a.bytes[0] == 10 || (a.bytes[0] == 172 && (a.bytes[1] & 0xf0) == 16) ||
         (a.bytes[0] == 192 && a.bytes[1] == 168);
}

bool IpPrefix::contains(const IpAddress& a) const {
  if (a.family != address.family) return false;
  const std::size_t whole = length / 8;
  if (std::memcmp(a.bytes.data(), address.bytes.data(), whole) != 0) return false;
  const unsigned rest = length % 8;
  if (rest == 0) return true;
  const auto mask = static_cast<std::uint8_t>(0xff00u >> rest);
  return (a.bytes[whole] & mask) == (address.bytes[whole] & mask);
}

std::optional<IpPrefix> parse_prefix(std::string_view text) {
  const auto slash = text.find('/');
  const auto addr = parse_ip(text.substr(0, slash));
  if (!addr) return std::nullopt;
  const unsigned max = addr->is_v6() ? 128 : 32;
  if (slash == std::string_view::npos) return IpPrefix{*addr, static_cast<std::uint8_t>(max)};
  const std::string_view len = text.substr(slash + 1);
  if (len.empty() || len.size() > 3) return std::nullopt;
  unsigned n = 0;
  for (char c : len) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n > max) return std::nullopt;
  return IpPrefix{*addr, static_cast<std::uint8_t>(n)};
}

// Declared with SocketId in base/net_values.h, which sits below this file.
std::string to_text(const SocketId& id) {
  const IpAddress local = id.is_v6() ? IpAddress::v6(id.local_address6) : IpAddress::v4(id.local_address);
  const IpAddress remote = id.is_v6() ? IpAddress::v6(id.remote_address6) : IpAddress::v4(id.remote_address);
  return with_port(local, id.local_port) + " -> " + with_port(remote, id.remote_port);
}

}  // namespace tw::net
