#pragma once
// Reverse name lookups of IPv4 and IPv6 addresses, and the threads that run
// them.
//
// Lookups block (seconds when a DNS server is slow), so the host-name cache
// runs them on workers and only ever hands out what it already knows.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/ip_address.h"

namespace tw::platform {

class ReverseResolver {
 public:
  virtual ~ReverseResolver() = default;
  // The system resolver is always there; a lookup may still find nothing.
  virtual bool is_supported() { return true; }
  // The name the resolver gives for the address (network byte order), or
  // nullopt when it has none. Blocks; any thread may call it.
  virtual std::optional<std::string> name_of(std::uint32_t address_be) = 0;
  // A second opinion for private addresses, through the older host lookup
  // (gethostbyaddr), which finds LAN machines named only in the hosts file or
  // by other name services. Blocks; any thread.
  virtual std::optional<std::string> local_name_of(std::uint32_t address_be) = 0;
  // The same two for an address of either family. The defaults serve IPv4
  // through the two above and know no IPv6 name.
  virtual std::optional<std::string> name_of_ip(const net::IpAddress& address) {
    if (!address.is_v4()) return std::nullopt;
    return name_of(address.v4_network());
  }
  virtual std::optional<std::string> local_name_of_ip(const net::IpAddress& address) {
    if (!address.is_v4()) return std::nullopt;
    return local_name_of(address.v4_network());
  }
  // The service name of a UDP port ("domain" for 53), nullopt when the
  // services database has none. Any thread.
  virtual std::optional<std::string> udp_service_name(std::uint16_t port) = 0;
};

// Runs jobs on threads of their own. The caller bounds how many run at once.
class LookupWorkers {
 public:
  virtual ~LookupWorkers() = default;
  // Threads can always be asked for; start() may still be refused one.
  virtual bool is_supported() { return true; }
  // Runs `work` on a new thread, then, after a short pause that spaces out
  // bursts of lookups, `finished` on the same thread. False when no thread
  // could be started (neither function runs then).
  virtual bool start(std::function<void()> work, std::function<void()> finished) = 0;
};

}  // namespace tw::platform
