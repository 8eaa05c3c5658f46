#pragma once
// Parsers of configuration files that belong to other programs: the resolver
// configuration and DHCP lease files, which the network-information source
// reads for its reports. Pure functions; any thread may call them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

// Parsers of the files the Linux network-information source reads. They take
// whatever the files hold (the files belong to other programs) and never fail
// harder than returning nothing.

struct ResolverConfig {
  std::string domain;                // last "domain"/"search" line wins, as in the resolver
  std::vector<std::string> servers;  // "nameserver" lines, in order
};
ResolverConfig parse_resolv_conf(std::string_view text);
// True when the servers are exactly the systemd-resolved stub (127.0.0.53),
// whose upstream servers are then listed in systemd's own resolv.conf.
bool names_only_local_stub(const ResolverConfig& config);

// What a DHCP lease file tells about one interface's lease. Times are seconds
// since the epoch (UTC).
struct DhcpLease {
  std::string address;  // the leased address; empty when the file does not say
  std::string server;
  std::optional<std::int64_t> obtained;
  std::optional<std::int64_t> expires;
  std::vector<std::string> wins_servers;  // NetBIOS name servers
};
// systemd-networkd and NetworkManager (internal client) lease files: KEY=VALUE
// lines. They record no times of their own: the file is rewritten when the
// lease is obtained or renewed, so its modification time `written_at` stands
// for the time obtained, and LIFETIME counts from there. Nullopt when the file
// names neither an address nor a server.
std::optional<DhcpLease> parse_keyvalue_lease(std::string_view text, std::int64_t written_at);
// dhclient lease databases: "lease { ... }" blocks appended in time order; the
// last block for `interface` is the current lease (a block without an
// "interface" statement belongs to any interface, as in per-interface files).
std::optional<DhcpLease> parse_dhclient_leases(std::string_view text, std::string_view interface);

}  // namespace tw
