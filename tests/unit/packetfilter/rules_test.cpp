#include <gtest/gtest.h>

#include "packetfilter/filter_rules.h"

namespace tw::packetfilter {
namespace {

TEST(RuleFile, SplitsQuotedFieldsAndDropsTheUnterminatedLast) {
  EXPECT_EQ(split_fields("a,b,c\n"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(split_fields("a,b,c"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(split_fields("\"x,y\",\"say \"\"hi\"\"\"\n"), (std::vector<std::string>{"x,y", "say \"hi\""}));
  // A Windows line end is the line's end, not part of its last field.
  EXPECT_EQ(split_fields("DROP,ANY\r\n"), (std::vector<std::string>{"DROP", "ANY"}));
}

TEST(RuleFile, MemosOfAnyTextSurviveSaveAndLoad) {
  for (std::string memo : {"web, mail", "say \"hi\"", "\"", "\"\"", "a\"", "\"a", "plain"}) {
    GridRow row = default_row();
    row[kAction] = "DROP";
    row[kMemo] = memo;
    const auto rules = parse_rule_file(rule_file_text({row}));
    ASSERT_EQ(rules.size(), 1u) << memo;
    EXPECT_EQ(rules[0].memo, memo);
  }
}

TEST(RuleFile, LoadsRowsAsGiven) {
  const std::string text =
      "# comment\n; another\n! and another\n\n\tindented\n"
      "DROP,0.0.0.0,255.255.255.255,0,10.0.0.0-10.0.0.255,255.255.255.0,80,TCP,web\n"
      "FORWORD,1.1.1.1,255.255.255.255,0,0.0.0.0,0.0.0.0,0,ANY,typo\n"
      "DROP,1.2.3.4,255.255.255.255,0-100,0.0.0.0,0.0.0.0,100-10,UDP\n"
      "DROP,0.0.0.0,0.0.0.0,0,0.0.0.0,0.0.0.0,70000,ANY";  // no line break: ANY is lost
  const auto rules = parse_rule_file(text);
  ASSERT_EQ(rules.size(), 3u);
  EXPECT_EQ(rules[0].action, 1);
  EXPECT_EQ(rules[0].dst_low, 0x0A000000u);
  EXPECT_EQ(rules[0].dst_high, 0x0A0000FFu);
  EXPECT_EQ(rules[0].dst_mask, 0xFFFFFF00u);
  EXPECT_EQ(rules[0].dst_port_low, 80);
  EXPECT_EQ(rules[0].memo, "web");
  EXPECT_EQ(rules[1].protocol, kProtocolUdp);
  EXPECT_EQ(rules[1].memo, " ");  // eight fields
  EXPECT_EQ((PortRange{rules[1].src_port_low, rules[1].src_port_high}), (PortRange{0, 0}));
  EXPECT_EQ((PortRange{rules[1].dst_port_low, rules[1].dst_port_high}), (PortRange{10, 100}));
  EXPECT_EQ(rules[2].protocol, kProtocolTcp);
  EXPECT_EQ(rules[2].dst_port_low, 65535);

  EXPECT_TRUE(parse_rule_file("# only\n\n;comments\n").empty());
}

TEST(RuleFile, LimitsRowsRulesAndLineLength) {
  std::string text;
  for (int i = 0; i < 2100; ++i) text += "DROP,1.1.1.1,255.255.255.255,0,0.0.0.0,0.0.0.0,80,TCP,m\n";
  EXPECT_EQ(parse_rule_file(text).size(), kMaxRules);
  // A long line is read in pieces; its first piece lacks the field end.
  const std::string long_memo(3000, 'm');
  const auto rules = parse_rule_file("DROP,1.1.1.1,255.255.255.255,0,0.0.0.0,0.0.0.0,80,UDP," + long_memo + "\n");
  ASSERT_EQ(rules.size(), 1u);
  EXPECT_EQ(rules[0].protocol, kProtocolUdp);
  EXPECT_EQ(rules[0].memo, " ");
}

TEST(Rules, SetRuleAndFillGrid) {
  GridRow row{"DROP", "10.0.0.5-10.0.0.9", "255.255.255.255", "8", "bogus", "255.255.255.0", "0", "ICMP", ""};
  const FilterRule r = rule_from_row(row);
  EXPECT_EQ(r.src_low, 0x0A000005u);
  EXPECT_EQ(r.src_high, 0x0A000009u);
  EXPECT_EQ(r.dst_low, kInvalidAddress);
  EXPECT_EQ(r.protocol, kProtocolIcmp);
  EXPECT_EQ(r.src_port_low, 8);
  EXPECT_EQ(r.dst_port_low, kIcmpAny);  // ICMP code 0: any
  EXPECT_EQ(r.memo, " ");
  const GridRow back = row_from_rule(r);
  EXPECT_EQ(back[kSrcIp], "10.0.0.5-10.0.0.9");
  EXPECT_EQ(back[kDstIp], "255.255.255.255");
  EXPECT_EQ(back[kDstPort], "255");
  EXPECT_EQ(rule_from_row(GridRow{"FORWARD", "", "", "", "", "", "", "SCTP", "m"}).protocol, kProtocolTcp);
  EXPECT_EQ(rule_from_row(GridRow{"forward", "", "", "", "", "", "", "ANY", "m"}).action, 1);
}

TEST(Rules, AddressesParseAsTheClassicParserDoes) {
  EXPECT_EQ(parse_address("192.168.1.2"), 0xC0A80102u);
  EXPECT_EQ(parse_address("0x7f.1"), 0x7F000001u);
  EXPECT_EQ(parse_address("010.0.0.1"), 0x08000001u);
  EXPECT_EQ(parse_address("1.2.3.256"), kInvalidAddress);
  EXPECT_EQ(parse_address("1.2.3.4.5"), kInvalidAddress);
  EXPECT_EQ(parse_address(""), kInvalidAddress);
  EXPECT_EQ(parse_address("1.2.3."), kInvalidAddress);
  EXPECT_EQ(parse_local_address("10.1.2.3"), 0x0A010203u);
  EXPECT_EQ(parse_local_address("10.1.2.300"), 0u);
  EXPECT_EQ(parse_local_address("10.1.2"), kInvalidAddress);
}

TEST(Rules, PortRanges) {
  EXPECT_EQ(parse_port_range(""), (PortRange{0, 0}));
  EXPECT_EQ(parse_port_range("0-100"), (PortRange{0, 0}));
  EXPECT_EQ(parse_port_range("100-10"), (PortRange{10, 100}));
  EXPECT_EQ(parse_port_range("10-20"), (PortRange{10, 20}));
  EXPECT_EQ(parse_port_range("70000"), (PortRange{65535, 65535}));
  EXPECT_EQ(parse_port_range("-80"), (PortRange{0, 0}));  // starts at 0: any
  EXPECT_EQ(parse_port_range("99999999999999999999"), (PortRange{65535, 65535}));
}

TEST(Editors, AddressAndMaskCells) {
  EXPECT_EQ(commit_address_cell("24", true), "255.255.255.0");
  EXPECT_EQ(commit_address_cell("24", false), "255.255.255.0");
  EXPECT_EQ(commit_address_cell("0", false), "0.0.0.0");
  EXPECT_EQ(commit_address_cell("40", false), "255.255.255.255");
  EXPECT_EQ(commit_address_cell("10.1.300.4", true), "10.1.255.4");
  EXPECT_EQ(commit_address_cell(" 10. 1.2.3 ", true), "10.1.2.3");
  EXPECT_EQ(commit_address_cell("010.0.0.0", true), "8.0.0.0");  // octal
  EXPECT_EQ(commit_address_cell("1.2", true), "128.0.0.0");      // a prefix length of 1
  EXPECT_EQ(commit_address_cell("", true), "0.0.0.0");
  EXPECT_EQ(commit_address_cell("abc", true), "0.0.0.0");
  EXPECT_EQ(commit_address_cell("10.0.0.9-10.0.0.0x5", true), "10.0.0.9-10.0.0.5");  // hex, not reordered
  EXPECT_EQ(commit_address_cell("10.0.0.1-10.0.0.999", true), "10.0.0.1-10.0.0.255");
  EXPECT_EQ(commit_address_cell("10.0.0.1-host", true), "192.168.0.0-192.168.255.255");
  EXPECT_EQ(commit_address_cell("-16", false), "255.255.0.0");
}

TEST(Editors, PortMemoActionProtocolCells) {
  EXPECT_EQ(commit_port_cell("-5"), "0");
  EXPECT_EQ(commit_port_cell("80000"), "65535");
  EXPECT_EQ(commit_port_cell("90 - 80"), "80-90");
  EXPECT_EQ(commit_port_cell("80-80"), "80");
  EXPECT_EQ(commit_memo_cell(""), " ");
  EXPECT_EQ(next_action("FORWARD"), "DROP");
  EXPECT_EQ(next_action("DROP"), "FORWARD");
  EXPECT_EQ(next_protocol("ICMP"), "ANY");
  EXPECT_EQ(next_protocol("UDP"), "ICMP");
}

TEST(AddCommand, ChecksTheFields) {
  const auto row = parse_add_command(
      "tarnix.packetfilter /add:DROP,0.0.0.0,255.255.255.255,0,10.0.0.0-10.0.0.255,255.255.255.0,80,TCP,web");
  ASSERT_TRUE(row);
  EXPECT_EQ((*row)[kDstIp], "10.0.0.0-10.0.0.255");
  EXPECT_EQ((*row)[kMemo], "web");
  const auto no_memo = parse_add_command("tarnix.packetfilter /add:FORWARD,,,,,,,ANY");
  ASSERT_TRUE(no_memo);
  EXPECT_EQ((*no_memo)[kMemo], "");
  EXPECT_FALSE(parse_add_command("tarnix.packetfilter /add:DROP,0.0.0.0,255.255.255.255,0,1.1.1.1,255.255.255.255,80"));
  EXPECT_FALSE(parse_add_command("tarnix.packetfilter /add:Drop,,,,,,,TCP"));
  EXPECT_FALSE(parse_add_command("tarnix.packetfilter /add:DROP,,,,,,,tcp"));
  EXPECT_FALSE(parse_add_command("tarnix.packetfilter /add:DROP,,24x,,,,,TCP"));
  EXPECT_FALSE(parse_add_command("tarnix.packetfilter /add:DROP,a.b,,,,,,TCP"));
  EXPECT_FALSE(parse_add_command("tarnix.packetfilter /add:DROP,,,80:81,,,,TCP"));
  EXPECT_FALSE(parse_add_command("tarnix.packetfilter /add:DROP,,1-2,,,,,TCP"));  // no range in a mask
}

TEST(Effective, RangesWidenAndZeroMeansAny) {
  EXPECT_EQ(effective_match(0x0A000005, 0x0A000009, 0xFFFFFFFF), (AddressMatch{0x0A000000, 0xFFFFFFF0}));
  EXPECT_EQ(effective_match(0xC0A80000, 0xC0A8FFFF, 0), (AddressMatch{0xC0A80000, 0xFFFF0000}));
  EXPECT_EQ(effective_match(0, 0, 0xFFFFFFFF), (AddressMatch{0, 0}));
  EXPECT_EQ(effective_match(0x01020304, 0x01020304, 0xFFFFFF00), (AddressMatch{0x01020304, 0xFFFFFF00}));
  EXPECT_EQ(effective_match(0x00000001, 0x80000000, 0xFFFFFFFF), (AddressMatch{0, 0}));
}

}  // namespace
}  // namespace tw::packetfilter
