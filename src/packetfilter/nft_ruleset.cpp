#include "packetfilter/nft_ruleset.h"

#include <algorithm>
#include <bit>

namespace tw::packetfilter {
namespace {

using platform::FilterDescriptor;

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
  out += "\t}\n";
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

platform::FilterSet filter_set(const std::vector<FilterRule>& rules, const std::vector<std::uint32_t>& locals) {
  platform::FilterSet set;
  for (std::uint32_t a : locals)
    if (std::find(set.local_addresses.begin(), set.local_addresses.end(), a) == set.local_addresses.end())
      set.local_addresses.push_back(a);
  for (const FilterRule& r : rules)
    if (r.action == 1) set.drops.push_back(descriptor_of(r));
  return set;
}

std::string nft_match(const FilterDescriptor& f, bool inbound) {
  std::string out = inbound ? "ip daddr @" : "ip saddr @";
  out += kLocalSetName;
  append_address(out, "saddr", f.src_address, f.src_mask);
  append_address(out, "daddr", f.dst_address, f.dst_mask);
  switch (f.protocol) {
    case platform::kFilterTcp:
    case platform::kFilterUdp: {
      const std::string_view proto = f.protocol == platform::kFilterTcp ? "tcp" : "udp";
      const std::size_t before = out.size();
      append_ports(out, proto, "sport", f.src_port, f.src_port_high);
      append_ports(out, proto, "dport", f.dst_port, f.dst_port_high);
      if (out.size() == before) out += " ip protocol " + std::string(proto);
      break;
    }
    case platform::kFilterIcmp: {
      const bool any_type = f.src_port >= platform::kFilterIcmpAny;
      const bool any_code = f.dst_port >= platform::kFilterIcmpAny;
      if (!any_type) out += " icmp type " + std::to_string(f.src_port);
      if (!any_code) out += " icmp code " + std::to_string(f.dst_port);
      if (any_type && any_code) out += " ip protocol icmp";
      break;
    }
    default:
      break;  // any protocol: addresses only
  }
  return out;
}

std::string nft_table_text(const platform::FilterSet& set) {
  std::string out;
  out.reserve(256 + set.local_addresses.size() * 17 + set.drops.size() * 2 * 96);
  out += "table ip tarnwatch {\n\tflags owner\n\n";
  append_local_set(out, set);
  out += "\n";
  append_chain(out, "input", set, true);
  out += "\n";
  append_chain(out, "output", set, false);
  out += "}\n";
  return out;
}

std::string nft_apply_text(const platform::FilterSet& set) {
  // "add" makes sure there is a table to delete, so the same batch works for
  // the first start and every later one. It must name the owner flag: the
  // kernel refuses (EOPNOTSUPP) an update of an owned table without it.
  return "add table ip tarnwatch { flags owner; }\ndelete table ip tarnwatch\n" + nft_table_text(set);
}

std::string nft_remove_text() { return "delete table ip tarnwatch\n"; }

std::size_t nft_rule_count(const platform::FilterSet& set) { return 2 * set.drops.size(); }

}  // namespace tw::packetfilter
