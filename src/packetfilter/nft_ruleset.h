#pragma once
// From rules to what the kernel's packet filter installs: the effective
// filter of each DROP rule, and the nftables text of a filter set.
//
// The table is `inet tarnwatch`, owned by the process that creates it (flags
// owner): a set `local_ipv4` of the machine's local IPv4 addresses and a set
// `local_ipv6` of its IPv6 ones, and input and output base chains that accept
// by default with one rule per DROP filter each, the IPv4 filters first, each
// family in rule order: `ip daddr @local_ipv4 ...` and `ip6 daddr
// @local_ipv6 ...` in input, `ip saddr @local_ipv4 ...` and `ip6 saddr
// @local_ipv6 ...` in output. One rule per filter instead of one per filter
// and address keeps a full table of 2000 filters at 4000 rules a family
// however many addresses the host has, and installs it in a fraction of the
// time.
//
// With IPv6 off (FilterSet::ipv6 false) the table is `ip tarnwatch` with the
// IPv4 set and rules only, exactly the table of the versions before IPv6, so
// that what `nft list table ip tarnwatch` shows a script does not change.
//
// The text is written exactly as `nft list table` prints the table back with
// numeric ICMP types (apart from the "# progname" comment nft adds to an
// owned table): set elements sorted, IPv4 ones two to a line, IPv6 ones one,
// so that the two can be compared.
//
// Pure functions: any thread.
#include <string>
#include <vector>

#include "base/ip_address.h"

#include "packetfilter/filter_rules.h"
#include "platform/packet_filter.h"

namespace tw::packetfilter {

inline constexpr std::string_view kTableName = "tarnwatch";
// "inet", or "ip" for a set without IPv6.
std::string_view table_family(const platform::FilterSet& set);

// The filter of one rule: effective addresses and masks (see
// effective_match), protocol and ports.
platform::FilterDescriptor descriptor_of(const FilterRule& rule);

// The filter of an IPv6 rule, or the IPv6 twin of an IPv4 rule that matches
// any address on both sides. ICMP in an IPv6 rule is ICMPv6.
platform::FilterDescriptor6 descriptor6_of(const FilterRule& rule);

// The DROP rules of `rules`, in order, for the given local addresses
// (duplicates dropped, first place kept): IPv4 only, the set as before IPv6.
platform::FilterSet filter_set(const std::vector<FilterRule>& rules, const std::vector<std::uint32_t>& local_addresses);
// Both families: the IPv4 rules on the IPv4 addresses, the IPv6 rules on the
// machine's IPv6 addresses (`machine_ipv6`, all of them), and the IPv4 rules
// that match any address on both sides on both (but ICMP, which stays
// IPv4). Of the IPv6 addresses the set takes the global and unique-local
// ones, and the loopback and link-local ones only when a filter names them
// (see ipv6_scopes_named): filtering them would otherwise cut the machine's
// own services and the neighbour discovery every IPv6 link needs.
platform::FilterSet filter_set(const std::vector<FilterRule>& rules, const std::vector<std::uint32_t>& local_addresses,
                               const std::vector<net::IpAddress>& machine_ipv6);

// Whether an IPv6 filter of `set` names the loopback address ::1 or the
// link-local range fe80::/10: one of its (not "any") addresses overlaps it.
struct Ipv6Scopes {
  bool loopback = false;
  bool link_local = false;
};
Ipv6Scopes ipv6_scopes_named(const std::vector<platform::FilterDescriptor6>& drops6);

inline constexpr std::string_view kLocalSetName = "local_ipv4";
inline constexpr std::string_view kLocalSet6Name = "local_ipv6";

// The match part of one filter for one chain ("ip daddr @local_ipv4 ip saddr
// 10.2.0.0/16 tcp dport 80", "ip6 daddr @local_ipv6 ip6 saddr fd00::/64 tcp
// dport 80"), without the verdict.
std::string nft_match(const platform::FilterDescriptor& filter, bool inbound);
std::string nft_match(const platform::FilterDescriptor6& filter, bool inbound);

// The table as `nft list table inet tarnwatch` (or `ip`) prints it.
std::string nft_table_text(const platform::FilterSet& set);

// One batch that replaces the table, whether it exists or not, by `set`'s:
// nft applies a text as one transaction, so the old filters stay until the
// new ones are in place, and an error leaves the old ones. The table of the
// other family goes in the same batch: an `ip tarnwatch` of an earlier
// version (or of a start with IPv6 off) never stays beside the new one.
std::string nft_apply_text(const platform::FilterSet& set);
// The batch that deletes the table of either family.
std::string nft_remove_text();

// The rules the table of `set` holds (both chains), and the most that the
// privileged helper installs for a client: far above what the layout makes of
// a full rule table (8000 with both families), a bound that a change of
// layout cannot lose.
std::size_t nft_rule_count(const platform::FilterSet& set);
inline constexpr std::size_t kMaxNftRules = 65536;

}  // namespace tw::packetfilter
