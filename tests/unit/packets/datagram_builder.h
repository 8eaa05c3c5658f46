#pragma once
// IPv4 and IPv6 datagrams for the packet tests, built field by field.
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/ip_address.h"
#include "shared/host_names.h"

// Tests name only the fields they care about.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tw::packets::test {

inline std::uint32_t addr(std::string_view text) { return *shared::parse_address(text); }

struct Datagram {
  std::uint8_t protocol = 6;
  std::string_view src = "10.0.0.1";
  std::string_view dst = "10.0.0.2";
  // The bytes after the IP header (ports first for TCP and UDP).
  std::vector<std::uint8_t> transport;
  std::vector<std::uint8_t> options;  // IP options, a multiple of 4 bytes
  std::uint8_t ttl = 64;
  std::uint16_t id = 0x1234;

  std::vector<std::uint8_t> bytes() const {
    const std::size_t header = 20 + options.size();
    const std::size_t total = header + transport.size();
    std::vector<std::uint8_t> b(20, 0);
    b[0] = static_cast<std::uint8_t>(0x40 | (header / 4));
    b[2] = static_cast<std::uint8_t>(total >> 8), b[3] = static_cast<std::uint8_t>(total);
    b[4] = static_cast<std::uint8_t>(id >> 8), b[5] = static_cast<std::uint8_t>(id);
    b[8] = ttl;
    b[9] = protocol;
    const std::uint32_t s = addr(src), d = addr(dst);
    std::memcpy(&b[12], &s, 4);
    std::memcpy(&b[16], &d, 4);
    b.insert(b.end(), options.begin(), options.end());
    b.insert(b.end(), transport.begin(), transport.end());
    return b;
  }
};

inline std::array<std::uint8_t, 16> addr6(std::string_view text) { return net::parse_ip(text)->bytes; }

// One IPv6 extension header: its type and the bytes after the next-header
// byte (the length byte first, for the headers that have one).
struct Extension {
  std::uint8_t type;
  std::vector<std::uint8_t> body;
};

// Hop-by-hop, routing or destination options of `units` 8-byte units
// (padding only), with its length byte.
inline Extension options_header(std::uint8_t type, std::uint8_t units = 1) {
  std::vector<std::uint8_t> body(std::size_t{units} * 8 - 1, 0);
  body[0] = static_cast<std::uint8_t>(units - 1);
  return {type, body};
}
// A fragment header: offset in 8-byte units, the more-fragments flag, an id.
inline Extension fragment_header(std::uint16_t offset_units, bool more, std::uint32_t id) {
  const std::uint16_t field = static_cast<std::uint16_t>(offset_units << 3 | (more ? 1 : 0));
  return {44, {0, static_cast<std::uint8_t>(field >> 8), static_cast<std::uint8_t>(field),
               static_cast<std::uint8_t>(id >> 24), static_cast<std::uint8_t>(id >> 16), static_cast<std::uint8_t>(id >> 8),
               static_cast<std::uint8_t>(id)}};
}
// An authentication header with `words` 4-byte words of ICV after its 12
// fixed bytes.
inline Extension auth_header(std::uint8_t words = 1) {
  std::vector<std::uint8_t> body(std::size_t{11} + 4u * words, 0xAA);
  body[0] = static_cast<std::uint8_t>(1 + words);  // (length + 2) * 4 = 12 + 4 * words
  return {51, body};
}

struct Datagram6 {
  std::uint8_t protocol = 6;  // the upper layer after the extension headers
  std::string_view src = "fd00::1";
  std::string_view dst = "fd00::2";
  std::vector<Extension> extensions;
  std::vector<std::uint8_t> transport;
  std::uint8_t hop_limit = 64;

  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> b(40, 0);
    b[0] = 0x60;
    b[7] = hop_limit;
    const auto s = addr6(src), d = addr6(dst);
    std::memcpy(&b[8], s.data(), 16);
    std::memcpy(&b[24], d.data(), 16);
    std::size_t next_at = 6;
    for (const Extension& e : extensions) {
      b[next_at] = e.type;
      next_at = b.size();
      b.push_back(0);  // its next-header byte, set by the following one
      b.insert(b.end(), e.body.begin(), e.body.end());
    }
    b[next_at] = protocol;
    b.insert(b.end(), transport.begin(), transport.end());
    const std::size_t payload = b.size() - 40;
    b[4] = static_cast<std::uint8_t>(payload >> 8), b[5] = static_cast<std::uint8_t>(payload);
    return b;
  }
};

// Ports, then `rest` (a TCP segment's sequence number and so on).
inline std::vector<std::uint8_t> ports(int source, int destination, std::vector<std::uint8_t> rest = {}) {
  rest.insert(rest.begin(), {static_cast<std::uint8_t>(source >> 8), static_cast<std::uint8_t>(source),
                             static_cast<std::uint8_t>(destination >> 8), static_cast<std::uint8_t>(destination)});
  return rest;
}

}  // namespace tw::packets::test
