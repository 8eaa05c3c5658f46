#pragma once
// The machine's network configuration: host-wide parameters (host name,
// resolver, forwarding) and the list of network adapters with their IPv4
// addresses (and beside them their IPv6 ones), gateways and DHCP leases. The
// Interface tab reads both each time it is shown; the packet-filter binding
// reads the adapter list.
//
// A query gathers everything it reports in one call and keeps nothing open
// between calls. Implementations never throw; any thread may call them, one
// call at a time per object.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/ip_address.h"
#include "platform/clock.h"

namespace tw::platform {

// NetBIOS node types. Linux has no NetBIOS name service of its own, so the
// Linux source reports kNodeTypeUnknown rather than pretending to be one of
// the others.
inline constexpr std::uint32_t kNodeTypeUnknown = 0;
inline constexpr std::uint32_t kNodeTypeBroadcast = 1;
inline constexpr std::uint32_t kNodeTypePeerToPeer = 2;
inline constexpr std::uint32_t kNodeTypeMixed = 4;
inline constexpr std::uint32_t kNodeTypeHybrid = 8;

struct NetworkParams {
  std::string host_name;
  std::string domain_name;               // resolver domain ("domain", else first "search" entry)
  std::vector<std::string> dns_servers;  // in the resolver's order, as written (IPv4 or IPv6 text)
  std::string scope_id;                  // NetBIOS scope; empty where there is none
  std::uint32_t node_type = kNodeTypeUnknown;
  bool routing_enabled = false;          // IPv4 forwarding
  bool arp_proxy_enabled = false;
  bool dns_enabled = false;              // at least one DNS server is configured
};

struct IpAddressEntry {
  std::string address;  // dotted decimal
  std::string mask;     // dotted decimal, from the prefix length
};

struct Ip6AddressEntry {
  net::IpAddress address;  // IPv6
  std::uint8_t prefix_length = 0;
  friend bool operator==(const Ip6AddressEntry&, const Ip6AddressEntry&) = default;
};

struct AdapterInfo {
  std::uint32_t index = 0;                 // kernel interface index
  std::string name;                        // kernel name (eth0, wlp2s0, ...)
  std::string description;                 // the interface's alias if set, else its name
  std::uint32_t phys_addr_len = 0;
  std::array<std::uint8_t, 8> phys_addr{};  // first bytes of the link-layer address, zero-filled
  std::vector<IpAddressEntry> addresses;   // IPv4 addresses, primary first; empty when none
  // IPv6 addresses of every scope (link-local included), in the kernel's
  // order; empty when none or when IPv6 is off in the kernel.
  std::vector<Ip6AddressEntry> addresses6;
  std::vector<std::string> gateways;       // default-route gateways through this adapter, preferred first
  bool dhcp_enabled = false;               // a current DHCP lease exists for the adapter
  std::string dhcp_server;                 // empty when unknown or DHCP is off
  std::optional<LocalTime> lease_obtained;  // local time; nullopt when the lease does not say
  std::optional<LocalTime> lease_expires;
  bool wins_enabled = false;
  std::string primary_wins;
  std::string secondary_wins;
};

class NetworkInfoSource {
 public:
  virtual ~NetworkInfoSource() = default;
  // The configuration can always be asked for; a query may still fail.
  virtual bool is_supported() { return true; }
  // Fills `out` (replacing its content), or says why the parameters could not
  // be read; the error's errno_value is then never 0.
  virtual Status network_params(NetworkParams& out) = 0;
  // Fills `out` with the adapters (every interface except loopback) in
  // ascending interface-index order. On an error (errno_value never 0) `out`
  // is empty.
  virtual Status adapters(std::vector<AdapterInfo>& out) = 0;
  // Fills `out` with every IPv6 address of the machine, loopback and
  // link-local ones included (the packet filter chooses among them), in the
  // kernel's order. The default knows none.
  virtual Status ipv6_addresses(std::vector<net::IpAddress>& out) {
    out.clear();
    return {};
  }
};

}  // namespace tw::platform
