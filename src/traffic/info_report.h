#pragma once
// Plain-text reports about the machine's network configuration and interfaces,
// shown by the Interface tab and (the short interface statistics) by the
// traffic graph's detailed-information panel; and the parsers of the resolver
// and DHCP lease files those reports draw on.
//
// Everything here is pure: the callers hand in what the platform sources
// returned. Labels are fixed-width columns; the Japanese labels are padded to
// the same display width as the English ones (a full-width character counts
// as two columns), so values line up in a monospace font.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/language.h"
#include "platform/link_stats.h"
#include "platform/network_info.h"

namespace tw::traffic {

// ---------------------------------------------------------------------------
// Name tables.

// IANA ifType 1..32 by name; anything else is "Unknown".
std::string_view interface_type_name(std::uint32_t type);
// 1 "Up", 2 "Down", 3 "Testing", anything else "Unknown".
std::string_view admin_status_name(std::uint32_t status);
// 0 "NON OPERATIONAL" .. 5 "OPERATIONAL"; values beyond 5 read "Unknown".
std::string_view oper_status_name(std::uint32_t status);
// "Broadcast nodetype", ..., or "Unknown node type (HEX)".
std::string node_type_name(std::uint32_t node_type);

// ---------------------------------------------------------------------------
// Reports. The network parameter and adapter reports are one text each, every
// line ending in CR LF; the interface report is a list of lines without line
// ends.

// `error` is what NetworkInfoSource::network_params returned; with a non-zero
// error the report is the header and the failure line.
std::string network_params_report(std::uint32_t error, const platform::NetworkParams& params,
                                  Language lang);
std::string network_params_report(platform::NetworkInfoSource& source, Language lang);

// `error` is what NetworkInfoSource::adapters returned.
std::string adapter_report(std::uint32_t error, const std::vector<platform::AdapterInfo>& adapters,
                           Language lang);
std::string adapter_report(platform::NetworkInfoSource& source, Language lang);

// One block of lines per row, after the header. With `table_ok` false only
// the header is returned.
std::vector<std::string> interface_report(bool table_ok, const std::vector<platform::LinkRow>& rows,
                                          Language lang);
std::vector<std::string> interface_report(platform::LinkStatsSource& source, Language lang);

// The interface statistics of the graph panel, from the sampler's snapshot of
// the selected interface.
struct PanelInterfaceStats {
  std::uint64_t speed_bps = 0;
  std::uint32_t oper_status = 0;
  std::uint64_t ucast_sent = 0;
  std::uint64_t nucast_sent = 0;
  std::uint64_t ucast_received = 0;
  std::uint64_t nucast_received = 0;
};
// Six lines: link speed, operational status and the four packet counts.
std::vector<std::string> interface_statistics_lines(const PanelInterfaceStats& stats, Language lang);

// ---------------------------------------------------------------------------
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

}  // namespace tw::traffic
