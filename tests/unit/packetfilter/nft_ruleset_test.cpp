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
  const std::string text = nft_apply_text(platform::FilterSet{});
  EXPECT_EQ(text.rfind("add table ip tarnwatch { flags owner; }\ndelete table ip tarnwatch\ntable ip tarnwatch {", 0),
            0u);
  EXPECT_EQ(nft_remove_text(), "delete table ip tarnwatch\n");
  // A full table is far below the bound of what the helper installs.
  platform::FilterSet full;
  full.drops.resize(platform::kMaxFilterDrops);
  full.local_addresses.resize(platform::kMaxFilterLocalAddresses);
  EXPECT_LT(nft_rule_count(full), kMaxNftRules);
}

}  // namespace
}  // namespace tw::packetfilter
