// The nftables text of a filter set: one rule per DROP filter and chain,
// matching a set of the local addresses, written as `nft list` prints it.
#include <gtest/gtest.h>

#include "packetfilter/filter_rules.h"
#include "packetfilter/nft_ruleset.h"

namespace tw::packetfilter {
namespace {

FilterRule rule(std::string src, std::string smask, std::string sport, std::string dst, std::string dmask,
                std::string dport, std::string proto) {
  return rule_from_row(GridRow{"DROP", src, smask, sport, dst, dmask, dport, proto, " "});
}

TEST(Ruleset, TextForEachProtocolAndAddressForm) {
  const std::vector<FilterRule> rules = {
      rule("0.0.0.0", "255.255.255.255", "0", "10.0.0.2", "255.255.255.255", "80", "TCP"),
      rule("10.0.0.5-10.0.0.9", "255.255.255.255", "1024-2048", "0.0.0.0", "0.0.0.0", "0", "UDP"),
      rule("10.0.5.1", "255.0.255.0", "8", "0.0.0.0", "0.0.0.0", "0", "ICMP"),
      rule("0.0.0.0", "0.0.0.0", "0", "0.0.0.0", "0.0.0.0", "3", "ICMP"),
      rule("0.0.0.0", "0.0.0.0", "0", "192.168.0.0-192.168.255.255", "0.0.0.0", "0", "ANY"),
      rule("0.0.0.0", "0.0.0.0", "0", "0.0.0.0", "0.0.0.0", "0", "TCP"),
  };
  std::vector<FilterRule> with_forward = rules;
  with_forward.insert(with_forward.begin(), rule_from_row(default_row()));
  const platform::FilterSet set = filter_set(with_forward, {0x0A000003, 0x0A000001, 0x0A000003});
  ASSERT_EQ(set.drops.size(), rules.size());
  ASSERT_EQ(set.local_addresses.size(), 2u);
  EXPECT_EQ(nft_rule_count(set), 12u);
  EXPECT_EQ(nft_table_text(set),
            "table ip tarnwatch {\n\tflags owner\n\n"
            "\tset local_ipv4 {\n\t\ttype ipv4_addr\n\t\telements = { 10.0.0.1, 10.0.0.3 }\n\t}\n\n"
            "\tchain input {\n\t\ttype filter hook input priority filter; policy accept;\n"
            "\t\tip daddr @local_ipv4 ip daddr 10.0.0.2 tcp dport 80 drop\n"
            "\t\tip daddr @local_ipv4 ip saddr 10.0.0.0/28 udp sport 1024-2048 drop\n"
            "\t\tip daddr @local_ipv4 ip saddr & 255.0.255.0 == 10.0.5.0 icmp type 8 drop\n"
            "\t\tip daddr @local_ipv4 icmp code 3 drop\n"
            "\t\tip daddr @local_ipv4 ip daddr 192.168.0.0/16 drop\n"
            "\t\tip daddr @local_ipv4 ip protocol tcp drop\n"
            "\t}\n\n"
            "\tchain output {\n\t\ttype filter hook output priority filter; policy accept;\n"
            "\t\tip saddr @local_ipv4 ip daddr 10.0.0.2 tcp dport 80 drop\n"
            "\t\tip saddr @local_ipv4 ip saddr 10.0.0.0/28 udp sport 1024-2048 drop\n"
            "\t\tip saddr @local_ipv4 ip saddr & 255.0.255.0 == 10.0.5.0 icmp type 8 drop\n"
            "\t\tip saddr @local_ipv4 icmp code 3 drop\n"
            "\t\tip saddr @local_ipv4 ip daddr 192.168.0.0/16 drop\n"
            "\t\tip saddr @local_ipv4 ip protocol tcp drop\n"
            "\t}\n}\n");
}

TEST(Ruleset, AddressSetIsListedSortedTwoToALineAndMayBeEmpty) {
  const platform::FilterSet many{{0xC0A80001, 0x0A000009, 0xAC100005, 0x0A000001, 0x0A000007}, {}};
  const std::string text = nft_table_text(many);
  EXPECT_NE(text.find("\t\telements = { 10.0.0.1, 10.0.0.7,\n"
                      "\t\t\t     10.0.0.9, 172.16.0.5,\n"
                      "\t\t\t     192.168.0.1 }\n\t}\n"),
            std::string::npos)
      << text;
  // No address: a set without elements, which no datagram matches.
  const std::string none = nft_table_text(platform::FilterSet{{}, {platform::FilterDescriptor{}}});
  EXPECT_NE(none.find("\tset local_ipv4 {\n\t\ttype ipv4_addr\n\t}\n\n\tchain input"), std::string::npos) << none;
  EXPECT_NE(none.find("\t\tip daddr @local_ipv4 drop\n"), std::string::npos) << none;
}

TEST(Ruleset, ApplyReplacesTheOwnedTableInOneBatch) {
  // Whatever table of either family stands (an earlier version's `ip
  // tarnwatch`, a start with IPv6 off) goes in the same batch.
  const std::string both =
      "add table ip tarnwatch { flags owner; }\ndelete table ip tarnwatch\n"
      "add table inet tarnwatch { flags owner; }\ndelete table inet tarnwatch\n";
  EXPECT_EQ(nft_apply_text(platform::FilterSet{}).rfind(both + "table ip tarnwatch {", 0), 0u);
  platform::FilterSet inet;
  inet.ipv6 = true;
  EXPECT_EQ(nft_apply_text(inet).rfind(both + "table inet tarnwatch {", 0), 0u);
  EXPECT_EQ(nft_remove_text(), both);
  // A full table is far below the bound of what the helper installs.
  platform::FilterSet full;
  full.drops.resize(platform::kMaxFilterDrops);
  full.local_addresses.resize(platform::kMaxFilterLocalAddresses);
  full.ipv6 = true;
  full.drops6.resize(platform::kMaxFilterDrops);
  full.local_ipv6.resize(platform::kMaxFilterLocalAddresses);
  EXPECT_EQ(nft_rule_count(full), 8000u);
  EXPECT_LT(nft_rule_count(full), kMaxNftRules);
}

std::vector<net::IpAddress> addresses(std::initializer_list<std::string_view> texts) {
  std::vector<net::IpAddress> out;
  for (std::string_view t : texts) out.push_back(*net::parse_ip(t));
  return out;
}

// Both families: the text as `nft list table inet tarnwatch` prints it.
TEST(Ruleset, InetTableHoldsBothFamiliesAndTheAnyRulesTwice) {
  const std::vector<FilterRule> rules = {
      rule("0.0.0.0", "255.255.255.255", "0", "0.0.0.0", "255.255.255.255", "80", "TCP"),  // both families
      rule("0.0.0.0", "0.0.0.0", "8", "0.0.0.0", "0.0.0.0", "0", "ICMP"),                 // IPv4 only
      rule("10.0.0.0", "255.0.0.0", "0", "0.0.0.0", "0.0.0.0", "0", "ANY"),               // IPv4 only
      rule("::", "/0", "0", "fd00::7/64", "/128", "53", "UDP"),
      rule("2001:db8::5-2001:db8::9", "/128", "0", "::", "::", "0", "TCP"),
      rule("0.0.0.0", "0.0.0.0", "128", "fd00::2", "/128", "0", "ICMP"),  // ICMPv6 echo requests
      rule("::", "/0", "0", "::", "/0", "0", "ICMP"),
      rule("::", "/0", "0", "fd00::2", "/128", "0", "ANY"),
  };
  const platform::FilterSet set =
      filter_set(rules, {0x0A000001}, addresses({"fe80::1", "::1", "fd00::1", "2001:db8::1", "fd00::1", "ff02::1"}));
  ASSERT_EQ(set.drops.size(), 3u);
  ASSERT_EQ(set.drops6.size(), 6u);
  EXPECT_EQ(nft_rule_count(set), 18u);
  EXPECT_EQ(nft_table_text(set),
            "table inet tarnwatch {\n\tflags owner\n\n"
            "\tset local_ipv4 {\n\t\ttype ipv4_addr\n\t\telements = { 10.0.0.1 }\n\t}\n\n"
            "\tset local_ipv6 {\n\t\ttype ipv6_addr\n\t\telements = { 2001:db8::1,\n\t\t\t     fd00::1 }\n\t}\n\n"
            "\tchain input {\n\t\ttype filter hook input priority filter; policy accept;\n"
            "\t\tip daddr @local_ipv4 tcp dport 80 drop\n"
            "\t\tip daddr @local_ipv4 icmp type 8 drop\n"
            "\t\tip daddr @local_ipv4 ip saddr 10.0.0.0/8 drop\n"
            "\t\tip6 daddr @local_ipv6 tcp dport 80 drop\n"
            "\t\tip6 daddr @local_ipv6 ip6 daddr fd00::/64 udp dport 53 drop\n"
            "\t\tip6 daddr @local_ipv6 ip6 saddr 2001:db8::/124 meta l4proto tcp drop\n"
            "\t\tip6 daddr @local_ipv6 ip6 daddr fd00::2 icmpv6 type 128 drop\n"
            "\t\tip6 daddr @local_ipv6 meta l4proto ipv6-icmp drop\n"
            "\t\tip6 daddr @local_ipv6 ip6 daddr fd00::2 drop\n"
            "\t}\n\n"
            "\tchain output {\n\t\ttype filter hook output priority filter; policy accept;\n"
            "\t\tip saddr @local_ipv4 tcp dport 80 drop\n"
            "\t\tip saddr @local_ipv4 icmp type 8 drop\n"
            "\t\tip saddr @local_ipv4 ip saddr 10.0.0.0/8 drop\n"
            "\t\tip6 saddr @local_ipv6 tcp dport 80 drop\n"
            "\t\tip6 saddr @local_ipv6 ip6 daddr fd00::/64 udp dport 53 drop\n"
            "\t\tip6 saddr @local_ipv6 ip6 saddr 2001:db8::/124 meta l4proto tcp drop\n"
            "\t\tip6 saddr @local_ipv6 ip6 daddr fd00::2 icmpv6 type 128 drop\n"
            "\t\tip6 saddr @local_ipv6 meta l4proto ipv6-icmp drop\n"
            "\t\tip6 saddr @local_ipv6 ip6 daddr fd00::2 drop\n"
            "\t}\n}\n");
  // The same rules with IPv6 off: the IPv4 table as before IPv6.
  const platform::FilterSet off = filter_set(rules, {0x0A000001});
  EXPECT_FALSE(off.ipv6);
  EXPECT_TRUE(off.drops6.empty());
  EXPECT_EQ(nft_table_text(off).rfind("table ip tarnwatch {\n\tflags owner\n\n\tset local_ipv4 {", 0), 0u);
  EXPECT_EQ(nft_table_text(off).find("ip6"), std::string::npos);
}

// Loopback and link-local addresses join the set only when a filter names
// their range.
TEST(Ruleset, LoopbackAndLinkLocalAddressesOnlyWhenNamed) {
  const auto machine = addresses({"::1", "fe80::1", "fd00::1"});
  auto locals = [&](std::vector<FilterRule> rules) {
    std::vector<std::string> out;
    for (const net::Ipv6Bytes& a : filter_set(rules, {}, machine).local_ipv6)
      out.push_back(net::to_text(net::IpAddress::v6(a)));
    return out;
  };
  const FilterRule any = rule("0.0.0.0", "0.0.0.0", "0", "0.0.0.0", "0.0.0.0", "22", "TCP");
  EXPECT_EQ(locals({any}), (std::vector<std::string>{"fd00::1"}));
  EXPECT_EQ(locals({any, rule("::", "/0", "0", "fe80::99", "/128", "0", "ANY")}),
            (std::vector<std::string>{"fe80::1", "fd00::1"}));
  EXPECT_EQ(locals({rule("::1", "/128", "0", "::", "/0", "631", "TCP")}), (std::vector<std::string>{"::1", "fd00::1"}));
  EXPECT_EQ(locals({rule("fe00::", "/7", "0", "::", "/0", "0", "ANY")}), (std::vector<std::string>{"fe80::1", "fd00::1"}));
  // A FORWARD rule names nothing.
  FilterRule forward = rule("::1", "/128", "0", "::", "/0", "631", "TCP");
  forward.action = 0;
  EXPECT_EQ(locals({forward}), (std::vector<std::string>{"fd00::1"}));
}

}  // namespace
}  // namespace tw::packetfilter
