#pragma once
// The figures of the protocol statistics report: the kernel's MIB-II counter
// file and the sizes of the interface, address, route and socket tables.
//
// Each call reads afresh and keeps nothing open; any thread, one call at a
// time per object. Figures are those of the calling thread's network
// namespace.
#include <cstdint>
#include <optional>
#include <string>

#include "base/error.h"

namespace tw::platform {

// What the table dumps counted; nullopt when a dump failed.
struct ProtocolTableCounts {
  std::optional<std::uint64_t> interfaces;       // every link, loopback included
  std::optional<std::uint64_t> addresses;        // IPv4 addresses
  std::optional<std::uint64_t> routes;           // IPv4 routes of the main table
  std::optional<std::uint64_t> tcp_connections;  // TCP sockets of the IPv4 table, listeners included
  std::optional<std::uint64_t> udp_endpoints;    // UDP sockets of the IPv4 table
};

class ProtocolStatsSource {
 public:
  virtual ~ProtocolStatsSource() = default;
  virtual bool is_supported() { return true; }
  // The text of the MIB-II counter file (/proc/net/snmp).
  virtual Result<std::string> snmp_text() = 0;
  // The text of the IPv6 counter file (/proc/net/snmp6); an error when there
  // is none (a kernel with IPv6 disabled).
  virtual Result<std::string> snmp6_text() = 0;
  virtual ProtocolTableCounts table_counts() = 0;
};

}  // namespace tw::platform
