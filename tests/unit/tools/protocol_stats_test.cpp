// The protocol statistics report and the parser of /proc/net/snmp.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tools/protocol_stats.h"

namespace tw::tools {
namespace {

std::string fixture(const std::string& name) {
  std::ifstream in(std::string(TW_TEST_DATA_DIR) + "/snmp/" + name);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A label padded to 36 columns and a value right-aligned in 15.
std::string row(std::string label, const std::string& value) {
  label.resize(36, ' ');
  return label + " " + std::string(15 - value.size(), ' ') + value;
}

// The line of the report that starts with `label`, or "".
std::string line_of(const std::string& report, const std::string& label) {
  const std::size_t at = report.find(label);
  if (at == std::string::npos) return {};
  return report.substr(at, report.find("\r\n", at) - at);
}

TEST(ProtocolStats, ParsesByHeaderNameAcrossKernels) {
  // 4.19 has fewer Udp and Icmp columns than 6.1; a reordered file reads the same.
  for (const char* name : {"linux-4.19.txt", "linux-6.1.txt", "reordered.txt"}) {
    SCOPED_TRACE(name);
    const auto t = parse_snmp(fixture(name));
    ASSERT_EQ(t.count("Ip"), 1u);
    EXPECT_EQ(t.at("Ip").at("InReceives").magnitude, 123456789u);
    EXPECT_EQ(t.at("Udp").at("OutDatagrams").magnitude, 4242u);
    EXPECT_TRUE(t.at("Tcp").at("MaxConn").negative);
    EXPECT_EQ(t.at("Icmp").at("OutEchoReps").magnitude, 7u);
  }
  EXPECT_EQ(parse_snmp(fixture("linux-6.1.txt")).at("Udp").count("MemErrors"), 1u);
  EXPECT_EQ(parse_snmp(fixture("linux-4.19.txt")).at("Udp").count("MemErrors"), 0u);
  // Broken input gives what pairs up and nothing more.
  const auto t = parse_snmp("Ip: A B\nIp: 1 x\nTcp: 5 6\nUdp: C\nIcmp: D\nIcmp: 9\n: 1\n");
  EXPECT_EQ(t.at("Ip").size(), 1u);
  EXPECT_EQ(t.count("Tcp"), 0u);
  EXPECT_EQ(t.count("Udp"), 0u);
  EXPECT_EQ(t.at("Icmp").at("D").magnitude, 9u);
}

TEST(ProtocolStats, NumbersAndSpecialValues) {
  EXPECT_EQ(grouped_counter({0, false}), "0");
  EXPECT_EQ(grouped_counter({1234567, false}), "1,234,567");
  EXPECT_EQ(grouped_counter({4294967295u, false}), "4,294,967,295");
  EXPECT_EQ(grouped_counter({18446744073709551615u, false}), "18,446,744,073,709,551,615");
  EXPECT_EQ(grouped_counter({1234, true}), "-1,234");

  const auto snmp = parse_snmp(
      "Ip: Forwarding DefaultTTL InReceives\nIp: 1 64 4294967295\n"
      "Tcp: RtoAlgorithm RtoMin MaxConn InSegs\nTcp: 4 200 -1 0\n"
      "Udp: InDatagrams\nUdp: 12\nIcmp: InMsgs OutMsgs\nIcmp: 1 2\n");
  TableCounts counts;
  counts.interfaces = 3;
  const std::string r = protocol_report(snmp, counts, Language::English);
  EXPECT_EQ(r.rfind("----- IP Statistics -----------------------------------------------------\r\n", 0), 0u);
  EXPECT_EQ(line_of(r, "IP Forwarding"), row("IP Forwarding", "Enabled"));
  EXPECT_EQ(line_of(r, "Incoming Datagrams"), row("Incoming Datagrams", "4,294,967,295"));
  EXPECT_EQ(line_of(r, "Segments Received"), row("Segments Received", "0"));
  EXPECT_EQ(line_of(r, "Maximum Connections"), row("Maximum Connections", "Unlimited"));
  EXPECT_EQ(line_of(r, "Retransmission timeout algorithm"),
            "Retransmission timeout algorithm     Van Jacobson's Algorithm");
  EXPECT_EQ(line_of(r, "Interfaces"), row("Interfaces", "3"));
  EXPECT_EQ(line_of(r, "IP routing table"), row("IP routing table", "-"));
  EXPECT_EQ(line_of(r, "Discarded Rutingudetaguramu"), row("Discarded Rutingudetaguramu", "0"));
  // Only the last line of a section carries the empty line; the two ICMP
  // groups follow each other directly.
  EXPECT_NE(r.find("IP routing table                                   -\r\n\r\n----- TCP statistics"), std::string::npos);
  EXPECT_NE(r.find("      Address mask responses                       -\r\nSending messages"), std::string::npos);
  EXPECT_EQ(r.substr(r.size() - 4), "\r\n\r\n");

  const std::string ja = protocol_report(snmp, counts, Language::Japanese);
  EXPECT_NE(ja.find("----- TCP統計値 ----"), std::string::npos);
  // Aligned by columns: the three wide characters take six of the fifteen.
  EXPECT_NE(ja.find("最大接続数                           " + std::string(9, ' ') + "無制限\r\n"), std::string::npos);
  // A protocol the kernel did not report says so under its title.
  const std::string none = protocol_report({}, {}, Language::English);
  EXPECT_NE(none.find("----- UDP Statistics ----------------------------------------------------\r\n"
                      "The statistics are not available.\r\n\r\n"),
            std::string::npos);
}

// /proc/net/snmp6 as this machine's kernel (6.18) wrote it: one name and
// value a line, grouped by the name's prefix.
TEST(ProtocolStats, ParsesSnmp6) {
  const auto t = parse_snmp6(fixture("snmp6-linux-6.18.txt"));
  ASSERT_EQ(t.size(), 4u);  // Ip6 Icmp6 Udp6 UdpLite6
  EXPECT_EQ(t.at("Ip6").at("InReceives").magnitude, 22u);
  EXPECT_EQ(t.at("Ip6").at("OutRequests").magnitude, 33u);
  EXPECT_EQ(t.at("Icmp6").at("InMsgs").magnitude, 14u);
  EXPECT_EQ(t.at("Icmp6").at("OutType143").magnitude, 4u);
  EXPECT_EQ(t.at("Udp6").at("OutDatagrams").magnitude, 8u);
  EXPECT_EQ(t.at("UdpLite6").count("MemErrors"), 1u);
  EXPECT_EQ(t.count("Udp"), 0u);  // "Udp6" is not cut at the "p"
  // Broken lines are left out; the first of two lines with one name counts.
  const auto b = parse_snmp6("Ip6InReceives 5\nIp6InReceives 6\nIp6Bad x\nIp6Neg -1\nNoSix 4\n6Lead 1\n"
                             "Ip6 3\nIp6Three 1 2\nUdp6InErrors\t18446744073709551615\r\n");
  EXPECT_EQ(b.at("Ip6").size(), 1u);
  EXPECT_EQ(b.at("Ip6").at("InReceives").magnitude, 5u);
  EXPECT_EQ(b.at("Udp6").at("InErrors").magnitude, 18446744073709551615u);
  EXPECT_EQ(b.size(), 2u);
}

TEST(ProtocolStats, Ipv6SectionsFollowTheIpv4Layout) {
  const auto snmp6 = parse_snmp6(fixture("snmp6-linux-6.18.txt"));
  const std::string r = protocol_report6(snmp6, Language::English);
  EXPECT_EQ(r.rfind("----- IPv6 Statistics ---------------------------------------------------\r\n", 0), 0u);
  EXPECT_EQ(line_of(r, "Incoming Datagrams"), row("Incoming Datagrams", "22"));
  EXPECT_EQ(line_of(r, "Datagrams sent the Request"), row("Datagrams sent the Request", "33"));
  EXPECT_EQ(line_of(r, "Received Messages"), row("Received Messages", "14"));
  EXPECT_NE(r.find("Multicast Datagrams Sent"), std::string::npos);
  EXPECT_NE(r.find("\r\n\r\n----- ICMPv6 Statistics -------------------------------------------------\r\n"),
            std::string::npos);
  EXPECT_NE(r.find("      MLDv2 report                                 0\r\nSending messages"), std::string::npos);
  EXPECT_NE(r.find("\r\n\r\n----- UDPv6 Statistics --------------------------------------------------\r\n"),
            std::string::npos);
  EXPECT_EQ(line_of(r.substr(r.find("UDPv6")), "Outgoing Datagrams"), row("Outgoing Datagrams", "8"));
  EXPECT_EQ(r.substr(r.size() - 4), "\r\n\r\n");
  // Every title is as wide as the IPv4 ones.
  const std::string v4 = protocol_report({}, {}, Language::English);
  for (const std::string& text : {r, v4}) {
    for (std::size_t at = text.find("----- "); at != std::string::npos; at = text.find("\r\n----- ", at + 1)) {
      const std::size_t start = text[at] == '-' ? at : at + 2;
      EXPECT_EQ(text.find("\r\n", start) - start, 73u) << text.substr(start, 30);
    }
  }
  // A group missing from the file says so; the Japanese labels keep the
  // value column where the IPv4 ones have it.
  EXPECT_NE(protocol_report6({}, Language::English)
                .find("----- UDPv6 Statistics --------------------------------------------------\r\n"
                      "The statistics are not available.\r\n\r\n"),
            std::string::npos);
  const std::string ja = protocol_report6(snmp6, Language::Japanese);
  EXPECT_NE(ja.find("----- IPv6統計値 ---"), std::string::npos);
  EXPECT_NE(ja.find("受信マルチキャストデータグラム数    " + std::string(15, ' ') + "0\r\n"), std::string::npos) << ja;
}

}  // namespace
}  // namespace tw::tools
