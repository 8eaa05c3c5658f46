#pragma once
// From rules to what the kernel's packet filter installs: the effective
// filter of each DROP rule, and the nftables text of a filter set.
//
// The table is `ip tarnwatch`, owned by the process that creates it (flags
// owner): a set `local_ipv4` of the machine's local addresses, and input and
// output base chains that accept by default with one rule per DROP filter
// each, in rule order: `ip daddr @local_ipv4 ...` in input, `ip saddr
// @local_ipv4 ...` in output. One rule per filter instead of one per filter
// and address keeps a full table of 2000 filters at 4000 rules however many
// addresses the host has, and installs it in a fraction of the time. (IPv6
// will add a set `local_ipv6` and `ip6` rules beside these in an inet table.)
// The text is written exactly as `nft list table ip tarnwatch` prints the
// table back with numeric ICMP types (apart from the "# progname" comment nft
// adds to an owned table): set elements sorted, two to a line, so that the
// two can be compared.
//
// Pure functions: any thread.
#include <string>
#include <vector>

#include "packetfilter/filter_rules.h"
#include "platform/packet_filter.h"

namespace tw::packetfilter {

inline constexpr std::string_view kTableFamily = "ip";
inline constexpr std::string_view kTableName = "tarnwatch";

// The filter of one rule: effective addresses and masks (see
// effective_match), protocol and ports.
platform::FilterDescriptor descriptor_of(const FilterRule& rule);

// The DROP rules of `rules`, in order, for the given local addresses
// (duplicates dropped, first place kept).
platform::FilterSet filter_set(const std::vector<FilterRule>& rules, const std::vector<std::uint32_t>& local_addresses);

inline constexpr std::string_view kLocalSetName = "local_ipv4";

// The match part of one filter for one chain ("ip daddr @local_ipv4 ip saddr
// 10.2.0.0/16 tcp dport 80"), without the verdict.
std::string nft_match(const platform::FilterDescriptor& filter, bool inbound);

// The table as `nft list table ip tarnwatch` prints it.
std::string nft_table_text(const platform::FilterSet& set);

// One batch that replaces the table, whether it exists or not, by `set`'s:
// nft applies a text as one transaction, so the old filters stay until the
// new ones are in place, and an error leaves the old ones.
std::string nft_apply_text(const platform::FilterSet& set);
// The batch that deletes the table.
std::string nft_remove_text();

// The rules the table of `set` holds (both chains), and the most that the
// privileged helper installs for a client: far above what the layout makes of
// a full rule table (4000), a bound that a change of layout cannot lose.
std::size_t nft_rule_count(const platform::FilterSet& set);
inline constexpr std::size_t kMaxNftRules = 65536;

}  // namespace tw::packetfilter
