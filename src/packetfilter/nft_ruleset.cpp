#include "packetfilter/nft_ruleset.h"

#include <algorithm>
#include <bit>

namespace tw::packetfilter {
namespace {

using platform::FilterDescriptor;
using platform::FilterDescriptor6;

// "ip saddr 10.0.0.0/8", "ip saddr 1.2.3.4", "ip saddr & 255.0.255.0 ==
// 10.0.5.0" (a mask that is no prefix), or nothing for any address.
void append_address(std::string& out, std::string_view field, std::uint32_t address, std::uint32_t mask) {
  if (mask == 0) return;
  address &= mask;
  out += " ip ";
  out += field;
  const int ones = std::countl_one(mask);
  if (mask == prefix_mask(ones)) {
    out += ' ';
    out += address_text(address);
    if (ones < 32) out += "/" + std::to_string(ones);
  } else {
    out += " & " + address_text(mask) + " == " + address_text(address);
  }
}

void append_ports(std::string& out, std::string_view proto, std::string_view field, std::uint16_t low,
                  std::uint16_t high) {
  if (low == 0) return;  // 0-0: any port
  out += ' ';
  out += proto;
  out += ' ';
  out += field;
  out += ' ';
  out += std::to_string(low);
  if (high > low) out += "-" + std::to_string(high);
}

void append_chain(std::string& out, std::string_view name, const platform::FilterSet& set, bool inbound) {
  out += "\tchain ";
  out += name;
  out += " {\n\t\ttype filter hook ";
  out += name;
  out += " priority filter; policy accept;\n";
  for (const FilterDescriptor& f : set.drops) out += "\t\t" + nft_match(f, inbound) + " drop\n";
  if (set.ipv6)
    for (const FilterDescriptor6& f : set.drops6) out += "\t\t" + nft_match(f, inbound) + " drop\n";
  out += "\t}\n";
}

// "ip6 saddr fd00::/64", "ip6 saddr fd00::2", or nothing for any address.
void append_address6(std::string& out, std::string_view field, const net::Ipv6Bytes& address, std::uint8_t prefix) {
  if (prefix == 0) return;
  out += " ip6 ";
  out += field;
  out += ' ';
  out += net::to_text(net::IpAddress::v6(effective_match6(address, address, prefix).address));
  if (prefix < 128) out += "/" + std::to_string(prefix);
}

// The set of local IPv6 addresses as nft lists it: sorted (by their bytes),
// one to a line.
void append_local_set6(std::string& out, const platform::FilterSet& set) {
  out += "\tset ";
  out += kLocalSet6Name;
  out += " {\n\t\ttype ipv6_addr\n";
  std::vector<net::Ipv6Bytes> sorted = set.local_ipv6;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    out += i == 0 ? "\t\telements = { " : ",\n\t\t\t     ";
    out += net::to_text(net::IpAddress::v6(sorted[i]));
  }
  if (!sorted.empty()) out += " }\n";
  out += "\t}\n";
}

// Whether the prefix `address`/`prefix` (not "any") and the block
// `block`/`block_prefix` share an address.
bool overlaps(const net::Ipv6Bytes& address, std::uint8_t prefix, const net::Ipv6Bytes& block,
              std::uint8_t block_prefix) {
  if (prefix == 0) return false;
  const std::uint8_t shorter = std::min(prefix, block_prefix);
  return effective_match6(address, address, shorter).address == effective_match6(block, block, shorter).address;
}

// The set of local addresses as nft lists it: sorted, two to a line.
void append_local_set(std::string& out, const platform::FilterSet& set) {
  out += "\tset ";
  out += kLocalSetName;
  out += " {\n\t\ttype ipv4_addr\n";
  std::vector<std::uint32_t> sorted = set.local_addresses;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    if (i == 0) out += "\t\telements = { ";
    else out += i % 2 == 0 ? ",\n\t\t\t     " : ", ";
    out += address_text(sorted[i]);
  }
  if (!sorted.empty()) out += " }\n";
  out += "\t}\n";
}

}  // namespace

FilterDescriptor descriptor_of(const FilterRule& r) {
  FilterDescriptor d;
  const AddressMatch src = effective_match(r.src_low, r.src_high, r.src_mask);
  const AddressMatch dst = effective_match(r.dst_low, r.dst_high, r.dst_mask);
  d.src_address = src.address;
  d.src_mask = src.mask;
  d.dst_address = dst.address;
  d.dst_mask = dst.mask;
  d.protocol = static_cast<std::uint8_t>(r.protocol);
  d.src_port = r.src_port_low;
  d.src_port_high = r.src_port_high;
  d.dst_port = r.dst_port_low;
  d.dst_port_high = r.dst_port_high;
  return d;
}

platform::FilterDescriptor6 descriptor6_of(const FilterRule& r) {
  platform::FilterDescriptor6 d;
  if (r.family == net::kFamilyIPv6) {
    const AddressMatch6 src = effective_match6(r.src6_low, r.src6_high, r.src6_prefix);
    const AddressMatch6 dst = effective_match6(r.dst6_low, r.dst6_high, r.dst6_prefix);
    d.src_address = src.address;
    d.src_prefix = src.prefix;
    d.dst_address = dst.address;
    d.dst_prefix = dst.prefix;
  }
  d.protocol = r.protocol == kProtocolIcmp ? platform::kFilterIcmp6 : static_cast<std::uint8_t>(r.protocol);
  d.src_port = r.src_port_low;
  d.src_port_high = r.src_port_high;
  d.dst_port = r.dst_port_low;
  d.dst_port_high = r.dst_port_high;
  return d;
}

std::string_view table_family(const platform::FilterSet& set) { return set.ipv6 ? "inet" : "ip"; }

Ipv6Scopes ipv6_scopes_named(const std::vector<platform::FilterDescriptor6>& drops6) {
  static constexpr net::Ipv6Bytes kLoopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  static constexpr net::Ipv6Bytes kLinkLocal{0xFE, 0x80};
  Ipv6Scopes named;
  for (const platform::FilterDescriptor6& d : drops6) {
    for (const auto& [address, prefix] : {std::pair{d.src_address, d.src_prefix}, std::pair{d.dst_address, d.dst_prefix}}) {
      named.loopback = named.loopback || overlaps(address, prefix, kLoopback, 128);
      named.link_local = named.link_local || overlaps(address, prefix, kLinkLocal, 10);
    }
  }
  return named;
}

platform::FilterSet filter_set(const std::vector<FilterRule>& rules, const std::vector<std::uint32_t>& locals,
                               const std::vector<net::IpAddress>& machine_ipv6) {
  platform::FilterSet set = filter_set(rules, locals);
  set.ipv6 = true;
  for (const FilterRule& r : rules) {
    if (r.action != 1) continue;
    if (r.family == net::kFamilyIPv6) {
      set.drops6.push_back(descriptor6_of(r));
    } else if (r.protocol != kProtocolIcmp) {
      const FilterDescriptor d = descriptor_of(r);
      if (d.src_mask == 0 && d.dst_mask == 0) set.drops6.push_back(descriptor6_of(r));
    }
  }
  const Ipv6Scopes named = ipv6_scopes_named(set.drops6);
  for (const net::IpAddress& a : machine_ipv6) {
    if (!a.is_v6()) continue;
    const bool unspecified = std::all_of(a.bytes.begin(), a.bytes.end(), [](std::uint8_t b) { return b == 0; });
    if (unspecified || a.bytes[0] == 0xFF) continue;  // ::, multicast
    if (net::is_loopback(a) && !named.loopback) continue;
    if (net::is_link_local(a) && !named.link_local) continue;
    if (std::find(set.local_ipv6.begin(), set.local_ipv6.end(), a.bytes) == set.local_ipv6.end())
      set.local_ipv6.push_back(a.bytes);
  }
  return set;
}

platform::FilterSet filter_set(const std::vector<FilterRule>& rules, const std::vector<std::uint32_t>& locals) {
  platform::FilterSet set;
  for (std::uint32_t a : locals)
    if (std::find(set.local_addresses.begin(), set.local_addresses.end(), a) == set.local_addresses.end())
      set.local_addresses.push_back(a);
  for (const FilterRule& r : rules)
    if (r.action == 1 && r.family == net::kFamilyIPv4) set.drops.push_back(descriptor_of(r));
  return set;
}

namespace {

// How one family's rules name a protocol and ICMP. IPv6 names the transport
// with meta l4proto, not ip6 nexthdr: the header after extension headers.
struct ProtocolWords {
  std::string_view any_protocol;  // " ip protocol " / " meta l4proto "
  std::string_view icmp;          // "icmp" / "icmpv6"
  std::string_view any_icmp;      // the protocol's name after any_protocol
  int icmp_filter;                // kFilterIcmp / kFilterIcmp6
};
constexpr ProtocolWords kWords4{" ip protocol ", "icmp", "icmp", platform::kFilterIcmp};
constexpr ProtocolWords kWords6{" meta l4proto ", "icmpv6", "ipv6-icmp", platform::kFilterIcmp6};

// The protocol and port part of a filter of either family.
template <class Filter>
void append_protocol(std::string& out, const Filter& f, const ProtocolWords& w) {
  if (f.protocol == platform::kFilterTcp || f.protocol == platform::kFilterUdp) {
    const std::string_view proto = f.protocol == platform::kFilterTcp ? "tcp" : "udp";
    const std::size_t before = out.size();
    append_ports(out, proto, "sport", f.src_port, f.src_port_high);
    append_ports(out, proto, "dport", f.dst_port, f.dst_port_high);
    if (out.size() == before) (out += w.any_protocol) += proto;
  } else if (f.protocol == w.icmp_filter) {
    const bool any_type = f.src_port >= platform::kFilterIcmpAny;
    const bool any_code = f.dst_port >= platform::kFilterIcmpAny;
    if (!any_type) ((out += ' ') += w.icmp) += " type " + std::to_string(f.src_port);
    if (!any_code) ((out += ' ') += w.icmp) += " code " + std::to_string(f.dst_port);
    if (any_type && any_code) (out += w.any_protocol) += w.any_icmp;
  }
  // any other protocol: addresses only
}

}  // namespace

std::string nft_match(const FilterDescriptor& f, bool inbound) {
  std::string out = inbound ? "ip daddr @" : "ip saddr @";
  out += kLocalSetName;
  append_address(out, "saddr", f.src_address, f.src_mask);
  append_address(out, "daddr", f.dst_address, f.dst_mask);
  append_protocol(out, f, kWords4);
  return out;
}

std::string nft_match(const FilterDescriptor6& f, bool inbound) {
  std::string out = inbound ? "ip6 daddr @" : "ip6 saddr @";
  out += kLocalSet6Name;
  append_address6(out, "saddr", f.src_address, f.src_prefix);
  append_address6(out, "daddr", f.dst_address, f.dst_prefix);
  append_protocol(out, f, kWords6);
  return out;
}

std::string nft_table_text(const platform::FilterSet& set) {
  std::string out;
  out.reserve(256 + set.local_addresses.size() * 17 + set.local_ipv6.size() * 48 +
              (set.drops.size() + set.drops6.size()) * 2 * 112);
  out += "table ";
  out += table_family(set);
  out += " tarnwatch {\n\tflags owner\n\n";
  append_local_set(out, set);
  out += "\n";
  if (set.ipv6) {
    append_local_set6(out, set);
    out += "\n";
  }
  append_chain(out, "input", set, true);
  out += "\n";
  append_chain(out, "output", set, false);
  out += "}\n";
  return out;
}

namespace {
// "add" makes sure there is a table to delete, so the same batch works
// whether a table of either family is there or not (the first start, every
// later one, a table of an earlier version, a start after one with IPv6
// off). It must name the owner flag: the kernel refuses (EOPNOTSUPP) an
// update of an owned table without it. A table that another process owns
// stays, and the whole batch fails (EPERM).
constexpr std::string_view kDeleteBoth =
    "add table ip tarnwatch { flags owner; }\ndelete table ip tarnwatch\n"
    "add table inet tarnwatch { flags owner; }\ndelete table inet tarnwatch\n";
}  // namespace

std::string nft_apply_text(const platform::FilterSet& set) { return std::string(kDeleteBoth) + nft_table_text(set); }

std::string nft_remove_text() { return std::string(kDeleteBoth); }

std::size_t nft_rule_count(const platform::FilterSet& set) {
  return 2 * (set.drops.size() + (set.ipv6 ? set.drops6.size() : 0));
}

}  // namespace tw::packetfilter
