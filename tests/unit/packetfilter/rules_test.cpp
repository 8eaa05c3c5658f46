#include <gtest/gtest.h>

#include "packetfilter/filter_rules.h"
#include "packetfilter/nft_ruleset.h"
#include "packetfilter/rule_file.h"

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
      "DROP,0.0.0.0,0.0.0.0, 22,0.0.0.0,0.0.0.0,70000,ANY";  // no line break: the end ends ANY too
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
  EXPECT_EQ(rules[2].protocol, kProtocolAny);
  EXPECT_EQ(rules[2].src_port_low, 22);  // a blank before a number reads as the number
  EXPECT_EQ(rules[2].dst_port_low, 65535);

  EXPECT_TRUE(parse_rule_file("# only\n\n;comments\n").empty());
}

TEST(RuleFile, IncompleteFieldsMakeARowNoRule) {
  // A range without its end once read as ending at 255.255.255.255 and so
  // widened to every address; a port range without its end became "any".
  for (const char* row : {"DROP,0.0.0.0,255.255.255.255,0,10.213.22.77-,255.255.255.255,0,ANY,cut\n",
                          "DROP,0.0.0.0,255.255.255.255,0,-10.0.0.1,255.255.255.255,0,ANY,no start\n",
                          "DROP,0.0.0.0,255.255.255.255,0,10.0.0.1 x,255.255.255.255,0,ANY,tail\n",
                          "DROP,0.0.0.0,255.255.255.255,0,,255.255.255.255,0,ANY,empty address\n",
                          "DROP,0.0.0.0,255.255.255.,0,10.0.0.1,255.255.255.255,0,ANY,mask\n",
                          "DROP,0.0.0.0,255.255.255.255,8081-,10.0.0.1,255.255.255.255,0,TCP,port\n",
                          "DROP,0.0.0.0,255.255.255.255,0,10.0.0.1,255.255.255.255,80x,TCP,port\n",
                          "DROP,0.0.0.0,255.255.255.255,0,10.0.0.1,255.255.255.255,-80,TCP,port\n",
                          "DROP,0.0.0.0\n"})
    EXPECT_TRUE(parse_rule_file(row).empty()) << row;
  EXPECT_EQ(parse_rule_file("DROP, 0.0.0.0 ,255.255.255.255,0,10.0.0.1 - 10.0.0.9,255.255.255.255, 80 - 90 ,TCP,ok\n")
                .size(),
            1u);
}

TEST(RuleFile, LimitsRules) {
  std::string text;
  for (int i = 0; i < 2100; ++i) text += "DROP,1.1.1.1,255.255.255.255,0,0.0.0.0,0.0.0.0,80,TCP,m\n";
  EXPECT_EQ(parse_rule_file(text).size(), kMaxRules);
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

TEST(Rules, FieldsAreCompleteOrRefused) {
  EXPECT_EQ(read_address(" 10.0.0.1\t"), 0x0A000001u);
  EXPECT_EQ(read_address("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_FALSE(read_address("10.0.0.1 x"));
  EXPECT_FALSE(read_address(""));
  EXPECT_EQ(read_address_field("10.0.0.5-10.0.0.9"), (AddressRange{0x0A000005, 0x0A000009}));
  EXPECT_EQ(read_address_field(" 10.0.0.5 - 10.0.0.9 "), (AddressRange{0x0A000005, 0x0A000009}));
  EXPECT_FALSE(read_address_field("10.213.22.77-"));
  EXPECT_FALSE(read_address_field("-10.0.0.1"));
  EXPECT_FALSE(read_address_field("10.0.0.1-10.0.0.2-10.0.0.3"));
  EXPECT_EQ(read_port_field(""), (PortRange{0, 0}));
  EXPECT_EQ(read_port_field(" 80"), (PortRange{80, 80}));
  EXPECT_EQ(read_port_field("90 - 80"), (PortRange{80, 90}));
  EXPECT_EQ(read_port_field("70000"), (PortRange{65535, 65535}));
  for (const char* bad : {"8081-", "-80", "80x", "8 0", "+80", "-", "80-90-100"}) EXPECT_FALSE(read_port_field(bad)) << bad;
  EXPECT_EQ(parse_port_range(" 80"), (PortRange{80, 80}));  // atoi skips the blank

  GridRow row = default_row();
  EXPECT_FALSE(row_problem(row));
  row[kDstPort] = "8081-";
  EXPECT_EQ(row_problem(row), (RowProblem{RowFault::Port, kDstPort, "8081-"}));
  EXPECT_EQ(problem_text(*row_problem(row), Language::English), "Dst-Port \"8081-\" is no port n or range n-m");
  row[kDstPort] = "0";
  row[kMemo] = "a\nb";
  EXPECT_EQ(row_problem(row)->fault, RowFault::LineBreak);
  // Texts from any file go to a terminal: control bytes are shown as "?",
  // long ones cut.
  const RowProblem odd{RowFault::Action, kAction, "DR\x1b[2JOP" + std::string(100, 'x')};
  const std::string shown = problem_text(odd, Language::English);
  EXPECT_EQ(shown.find('\x1b'), std::string::npos);
  EXPECT_LT(shown.size(), 100u);
  EXPECT_NE(problem_text(odd, Language::Japanese).find("FORWARD"), std::string::npos);
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
  EXPECT_EQ(commit_address_cell("", true), "0.0.0.0");
  EXPECT_EQ(commit_address_cell("10.0.0.9-10.0.0.0x5", true), "10.0.0.9-10.0.0.5");  // hex, not reordered
  EXPECT_EQ(commit_address_cell("10.0.0.1-10.0.0.999", true), "10.0.0.1-10.0.0.255");
  EXPECT_EQ(commit_address_cell("-16", false), "255.255.0.0");
  // Not complete: the cell stays as it was instead of becoming a rule for
  // far more addresses (0.0.0.0, 192.168.0.0/16) or for a made-up mask.
  for (const char* bad : {"10.213.22.77-", "10.0.0.1-host", "abc", "10.0.0.x", "1.2", "10.1.2", "1.2.3.4.5",
                          "1.2.3.4-5.6.7.8.9", "-10.0.0.1"})
    EXPECT_FALSE(commit_address_cell(bad, true)) << bad;
  for (const char* bad : {"24-", "1.2", "255.255.255."}) EXPECT_FALSE(commit_address_cell(bad, false)) << bad;
}

TEST(Editors, PortMemoActionProtocolCells) {
  EXPECT_EQ(commit_port_cell(""), "0");
  EXPECT_EQ(commit_port_cell("80000"), "65535");
  EXPECT_EQ(commit_port_cell("90 - 80"), "80-90");
  EXPECT_EQ(commit_port_cell("80-80"), "80");
  for (const char* bad : {"8081-", "-5", "80x", "-"}) EXPECT_FALSE(commit_port_cell(bad)) << bad;
  EXPECT_EQ(commit_memo_cell(""), " ");
  EXPECT_EQ(commit_memo_cell("a\nb"), "a b");
  EXPECT_EQ(next_action("FORWARD"), "DROP");
  EXPECT_EQ(next_action("DROP"), "FORWARD");
  EXPECT_EQ(next_protocol("ICMP"), "ANY");
  EXPECT_EQ(next_protocol("UDP"), "ICMP");
}

TEST(AddCommand, ChecksTheFieldsAndSaysWhy) {
  const auto row = parse_add_command(
      "tarnix.packetfilter /add:DROP,0.0.0.0,255.255.255.255,0,10.0.0.0-10.0.0.255,255.255.255.0,80,TCP,web");
  ASSERT_TRUE(row);
  EXPECT_EQ((*row.row)[kDstIp], "10.0.0.0-10.0.0.255");
  EXPECT_EQ((*row.row)[kMemo], "web");
  const auto no_memo = parse_add_command("tarnix.packetfilter /add:FORWARD,0.0.0.0,0.0.0.0,,0.0.0.0,0.0.0.0,,ANY");
  ASSERT_TRUE(no_memo);
  EXPECT_EQ((*no_memo.row)[kMemo], "");
  auto refused = [](const char* tail) {
    const auto c = parse_add_command(std::string("tarnix.packetfilter /add:") + tail);
    EXPECT_FALSE(c) << tail;
    return problem_text(c.problem, Language::English);
  };
  EXPECT_EQ(refused("DROP,0.0.0.0,255.255.255.255,0,1.1.1.1,255.255.255.255,80"),
            "it has 7 fields; it needs 8 or 9: Action,Src-IP,Src-Mask,Src-Port,Dst-IP,Dst-Mask,Dst-Port,Protocol[,Memo]");
  EXPECT_EQ(refused("Drop,,,,,,,TCP"), "the action \"Drop\" is neither FORWARD nor DROP");
  EXPECT_EQ(refused("DROP,,,,,,,tcp"), "the protocol \"tcp\" is none of ANY, TCP, UDP and ICMP");
  EXPECT_EQ(refused("DROP,0.0.0.0,24x,0,0.0.0.0,0.0.0.0,0,TCP"), "Src-Mask \"24x\" may hold only digits and \".\"");
  EXPECT_EQ(refused("DROP,a.b,0.0.0.0,0,0.0.0.0,0.0.0.0,0,TCP"), "Src-IP \"a.b\" may hold only digits, \".\" and \"-\"");
  EXPECT_EQ(refused("DROP,0.0.0.0,0.0.0.0,80:81,0.0.0.0,0.0.0.0,0,TCP"), "Src-Port \"80:81\" may hold only digits and \"-\"");
  EXPECT_EQ(refused("DROP,0.0.0.0,1-2,0,0.0.0.0,0.0.0.0,0,TCP"), "Src-Mask \"1-2\" may hold only digits and \".\"");
  // The typos that cut a host off: a range or port range without its end.
  EXPECT_EQ(refused("DROP,10.213.22.77-,255.255.255.255,0,0.0.0.0,0.0.0.0,0,ANY,x"),
            "Src-IP \"10.213.22.77-\" is no address a.b.c.d or range a.b.c.d-e.f.g.h");
  EXPECT_EQ(refused("DROP,0.0.0.0,0.0.0.0,0,10.0.0.1,255.255.255.255,8081-,TCP"),
            "Dst-Port \"8081-\" is no port n or range n-m");
  EXPECT_EQ(refused("DROP,,,,10.9.9.9,,,ICMP"), "Src-IP \"\" is no address a.b.c.d or range a.b.c.d-e.f.g.h");
  EXPECT_EQ(refused("DROP,0.0.0.0,0.0.0.0,0,10.0.0.1,255.255.255.255,0,TCP,\"two\nlines\""), "Memo holds a line break");
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
