#pragma once
// IPv4 datagrams for the packet tests, built field by field.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

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

// Ports, then `rest` (a TCP segment's sequence number and so on).
inline std::vector<std::uint8_t> ports(int source, int destination, std::vector<std::uint8_t> rest = {}) {
  std::vector<std::uint8_t> t(4 + rest.size());
  t[0] = static_cast<std::uint8_t>(source >> 8), t[1] = static_cast<std::uint8_t>(source);
  t[2] = static_cast<std::uint8_t>(destination >> 8), t[3] = static_cast<std::uint8_t>(destination);
  for (std::size_t i = 0; i < rest.size(); ++i) t[4 + i] = rest[i];
  return t;
}

}  // namespace tw::packets::test
