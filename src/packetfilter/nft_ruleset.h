#pragma once
// From rules to what the kernel's packet filter installs: the effective
// filter of each DROP rule, and the nftables text of a filter set.
//
// The table is `ip tarnwatch`, owned by the process that creates it (flags
// owner): input and output base chains that accept by default, and per DROP
// filter and local address one input rule (`ip daddr LOCAL ...`) and one
// output rule (`ip saddr LOCAL ...`), in rule order and, within a rule, in
// local address order. The text is written exactly as `nft list table ip
// tarnwatch` prints the table back with numeric ICMP types (apart from the
// "# progname" comment nft adds to an owned table), so that the two can be
// compared.
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

// The match part of one filter for one chain ("ip daddr 10.0.0.1 ip saddr
// 10.2.0.0/16 tcp dport 80"), without the verdict.
std::string nft_match(const platform::FilterDescriptor& filter, std::uint32_t local_address, bool inbound);

// The table as `nft list table ip tarnwatch` prints it.
std::string nft_table_text(const platform::FilterSet& set);

// One batch that replaces the table, whether it exists or not, by `set`'s:
// nft applies a text as one transaction, so the old filters stay until the
// new ones are in place, and an error leaves the old ones.
std::string nft_apply_text(const platform::FilterSet& set);
// The batch that deletes the table.
std::string nft_remove_text();

}  // namespace tw::packetfilter
