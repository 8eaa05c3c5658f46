// The information reports: exact texts of both languages, the name tables'
// out-of-range codes, and the failure forms.
#include "traffic/info_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tw::traffic {
namespace {

using platform::AdapterInfo;
using platform::LinkRow;
using platform::NetworkParams;

// Display columns in a monospace font: kana and kanji take two.
std::size_t columns(const std::string& s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    n += len >= 3 ? 2 : 1;
    i += len;
  }
  return n;
}

std::vector<std::string> split_crlf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

NetworkParams sample_params() {
  NetworkParams p;
  p.host_name = "deskpc";
  p.domain_name = "home.example";
  p.dns_servers = {"192.168.10.1", "2001:db8::53", "9.9.9.9"};
  p.routing_enabled = true;
  p.dns_enabled = true;
  return p;
}

AdapterInfo dhcp_adapter() {
  AdapterInfo a;
  a.index = 2;
  a.name = "enp3s0";
  a.description = "Office LAN";
  a.addresses = {{"192.168.10.23", "255.255.255.0"}, {"192.168.10.99", "255.255.255.0"}};
  a.gateways = {"192.168.10.1"};
  a.dhcp_enabled = true;
  a.dhcp_server = "192.168.10.1";
  a.lease_obtained = platform::LocalTime{2024, 1, 4, 9, 5, 7};
  a.lease_expires = platform::LocalTime{2024, 1, 5, 21, 0, 0};
  return a;
}

LinkRow wifi_row() {
  LinkRow r;
  r.index = 3;
  r.name = "wlp2s0";
  r.type = 71;
  r.mtu = 1500;
  r.speed_bps = 866'700'000;
  r.admin_status = 1;
  r.oper_status = 5;
  r.in_octets = 5'000'000'000ULL;
  r.in_ucast_pkts = 1234567;
  r.in_nucast_pkts = 999;
  r.in_discards = 1000;
  r.in_errors = 2;
  r.in_unknown_protos = 3;
  r.out_octets = 123;
  r.out_ucast_pkts = 4;
  r.out_nucast_pkts = 5;
  r.out_discards = 6;
  r.out_errors = 7;
  r.out_qlen = 1000;
  r.last_change = 42;
  return r;
}

TEST(NetworkParamsReport, EnglishTextWithThreeDnsServers) {
  EXPECT_EQ(network_params_report(0, sample_params(), Language::English),
            "----- Network Parameter      ---------------------------------------\r\n"
            "Hostname:                    deskpc\r\n"
            "Domain Name:                 home.example\r\n"
            "DNS Server:                  192.168.10.1\r\n"
            "                             2001:db8::53\r\n"
            "                             9.9.9.9\r\n"
            "DHCP Scorp ID:               \r\n"
            "Node Type:                   Unknown node type (0)\r\n"
            "Routing:                     Enable\r\n"
            "ARP Proxy:                   Disable\r\n"
            "DNS:                         Enable \r\n");
}

TEST(NetworkParamsReport, FailureGivesHeaderAndUpperCaseCode) {
  EXPECT_EQ(network_params_report(0xd, NetworkParams{}, Language::English),
            "----- Network Parameter      ---------------------------------------\r\n"
            "NetworkParams failed. 0000000D\r\n");
}

TEST(NetworkParamsReport, NoServerStillShowsTheLine) {
  NetworkParams p;
  const auto lines = split_crlf(network_params_report(0, p, Language::English));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[3], "DNS Server:                  ");
  EXPECT_EQ(lines[8], "DNS:                         Disable ");
}

TEST(NetworkParamsReport, ControlCharactersInValuesCannotBreakLines) {
  NetworkParams p = sample_params();
  p.host_name = "evil\r\nInjected:  line";
  const auto lines = split_crlf(network_params_report(0, p, Language::English));
  EXPECT_EQ(lines[1], "Hostname:                    evil??Injected:  line");
}

TEST(NodeTypeName, KnownTypesAndHexForOthers) {
  EXPECT_EQ(node_type_name(1), "Broadcast nodetype");
  EXPECT_EQ(node_type_name(2), "Peer to peer nodetype");
  EXPECT_EQ(node_type_name(4), "Mixed nodetype");
  EXPECT_EQ(node_type_name(8), "Hybrid nodetype");
  EXPECT_EQ(node_type_name(0), "Unknown node type (0)");
  EXPECT_EQ(node_type_name(0x1f), "Unknown node type (1f)");
}

TEST(AdapterReport, DhcpAdapterShowsLeaseLinesAndStaticOneDoesNot) {
  AdapterInfo fixed;
  fixed.index = 5;
  fixed.name = "veth0";
  fixed.description = "veth0";
  std::vector<AdapterInfo> list = {dhcp_adapter(), fixed};
  EXPECT_EQ(adapter_report(0, list, Language::English),
            "----- Adapter Information -------------------------------------------------\r\n"
            "Index:                       2\r\n"
            "Adapter Name:                enp3s0\r\n"
            "Adapter Description:         Office LAN\r\n"
            "IP Address:                  192.168.10.23\r\n"
            "GATEWAY Server:              192.168.10.1\r\n"
            "DHCP:                        Enable\r\n"
            "DHCP Server:                 192.168.10.1\r\n"
            "WINS:                        Disable\r\n"
            "Primary WINS Server:         \r\n"
            "Secondary WINS Server:       \r\n"
            "DHCP Lease Obtained:         01/04/2024 09:05:07\r\n"
            "DHCP Lease Expires:          01/05/2024 21:00:00\r\n"
            "\r\n"
            "Index:                       5\r\n"
            "Adapter Name:                veth0\r\n"
            "Adapter Description:         veth0\r\n"
            "IP Address:                  0.0.0.0\r\n"
            "GATEWAY Server:              0.0.0.0\r\n"
            "DHCP:                        Disable\r\n"
            "DHCP Server:                 \r\n"
            "WINS:                        Disable\r\n"
            "Primary WINS Server:         \r\n"
            "Secondary WINS Server:       \r\n"
            "\r\n");
}

TEST(AdapterReport, JapaneseLeaseTimesAreYearFirstAndUnknownTimesEmpty) {
  AdapterInfo a = dhcp_adapter();
  a.lease_expires.reset();
  const auto lines = split_crlf(adapter_report(0, {a}, Language::Japanese));
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[11], "DHCPリース取得日時:          2024/01/04 09:05:07");
  EXPECT_EQ(lines[12], "DHCPリース期限:              ");
}

TEST(AdapterReport, FailureGivesLowerCaseCode) {
  EXPECT_EQ(adapter_report(0x6f, {}, Language::English),
            "----- Adapter Information -------------------------------------------------\r\n"
            "GetAdaptersInfo failed. 0000006f\r\n");
}

TEST(InterfaceReport, WholeBlockOfAWirelessRow) {
  const auto lines = interface_report(true, {wifi_row()}, Language::English);
  const std::vector<std::string> expected = {
      "----- Interface Information -----------------------------------------",
      "Interface No.                1",
      "Interface Name               wlp2s0",
      "Interface Member Length      6",
      "Identification Index         0x00000003",
      "Interface Type               Unknown(71)",
      "MTU                          1500",
      "Maximum Transfer Speed       866,700,000 bps",
      "Physical Address Length      0",
      "MAC Address                  00:00:00:00:00:00",
      "Current Management State     Up(1)",
      "Operational Status           OPERATIONAL(5)",
      "Last Update                  42",
      "Receive Octet                5,000,000,000",
      "Receive Unicast Packet       1,234,567",
      "Receive Non-unicast Packet   999",
      "Receive Disposal Packet      1,000",
      "Receive Error Packet         2",
      "Receive Unknown Packet       3",
      "Send Octet                   123",
      "Send Unicast Packet          4",
      "Send Non-unicast Packet      5",
      "Send Disposal Packet         6",
      "Send Error Packet            7",
      "Send Packet Cue Length       1,000",
  };
  EXPECT_EQ(lines, expected);
}

TEST(InterfaceReport, RowsAreNumberedAndMacShowsFirstSixBytes) {
  LinkRow eth;
  eth.index = 0x1234;
  eth.name = "eth0";
  eth.type = 6;
  eth.phys_addr_len = 6;
  eth.phys_addr = {0x00, 0x1a, 0x2b, 0xc3, 0xd4, 0xef};
  LinkRow ib = eth;
  ib.phys_addr_len = 20;  // InfiniBand: only the first six bytes are shown
  ib.phys_addr[6] = 0x99;
  LinkRow tun = eth;
  tun.phys_addr_len = 4;  // shorter than six: the rest reads as zeros
  tun.phys_addr = {0x0a, 0x00, 0x00, 0x01};
  const auto lines = interface_report(true, {eth, ib, tun}, Language::English);
  ASSERT_EQ(lines.size(), 1u + 3 * 24);
  EXPECT_EQ(lines[1], "Interface No.                1");
  EXPECT_EQ(lines[4], "Identification Index         0x00001234");
  EXPECT_EQ(lines[9], "MAC Address                  00:1a:2b:c3:d4:ef");
  EXPECT_EQ(lines[25], "Interface No.                2");
  EXPECT_EQ(lines[33], "MAC Address                  00:1a:2b:c3:d4:ef");
  EXPECT_EQ(lines[57], "MAC Address                  0a:00:00:01:00:00");
}

TEST(InterfaceReport, UnreadableTableGivesOnlyTheHeader) {
  EXPECT_EQ(interface_report(false, {wifi_row()}, Language::English),
            std::vector<std::string>{"----- Interface Information -----------------------------------------"});
}

TEST(NameTables, CodesOutsideTheTablesReadUnknown) {
  EXPECT_EQ(interface_type_name(0), "Unknown");
  EXPECT_EQ(interface_type_name(1), "Other");
  EXPECT_EQ(interface_type_name(24), "SoftwareLoopback");
  EXPECT_EQ(interface_type_name(32), "Frame-Relay");
  EXPECT_EQ(interface_type_name(33), "Unknown");
  EXPECT_EQ(admin_status_name(3), "Testing");
  EXPECT_EQ(admin_status_name(4), "Unknown");
  EXPECT_EQ(oper_status_name(0), "NON OPERATIONAL");
  EXPECT_EQ(oper_status_name(5), "OPERATIONAL");
  EXPECT_EQ(oper_status_name(6), "Unknown");
  EXPECT_EQ(oper_status_name(0xFFFFFFFFu), "Unknown");
}

TEST(PanelStatistics, FixedColumnsAndCountsPastThirtyTwoBits) {
  PanelInterfaceStats s;
  s.speed_bps = 1'000'000'000;
  s.oper_status = 5;
  s.ucast_sent = 3'000'000'000ULL;  // past 2^31: must not turn negative
  s.nucast_sent = 0;
  s.ucast_received = 12345;
  s.nucast_received = 7;
  const std::vector<std::string> expected = {
      "Maximum Transmission Speed      1,000,000,000 bps",
      "Operational Status                OPERATIONAL",
      "Unicast packets Send            3,000,000,000 packet",
      "Non-unicast packets Send                    0 packet",
      "Unicast packets Received               12,345 packet",
      "Non-unicast packets Received                7 packet",
  };
  EXPECT_EQ(interface_statistics_lines(s, Language::English), expected);
}

// Japanese labels line the values up in the same column as the English ones,
// in every report, so a line of either language has the same display width.
TEST(JapaneseLabels, SameOrderAndColumnsAsEnglish) {
  AdapterInfo wins = dhcp_adapter();
  wins.wins_enabled = true;
  wins.primary_wins = "10.0.0.2";
  const auto en_params = split_crlf(network_params_report(0, sample_params(), Language::English));
  const auto ja_params = split_crlf(network_params_report(0, sample_params(), Language::Japanese));
  const auto en_adapters = split_crlf(adapter_report(0, {wins}, Language::English));
  const auto ja_adapters = split_crlf(adapter_report(0, {wins}, Language::Japanese));
  const auto en_if = interface_report(true, {wifi_row()}, Language::English);
  const auto ja_if = interface_report(true, {wifi_row()}, Language::Japanese);
  const auto en_panel = interface_statistics_lines({}, Language::English);
  const auto ja_panel = interface_statistics_lines({}, Language::Japanese);

  auto same_columns = [](const std::vector<std::string>& en, const std::vector<std::string>& ja) {
    ASSERT_EQ(en.size(), ja.size());
    for (std::size_t i = 0; i < en.size(); ++i) {
      EXPECT_EQ(columns(en[i]), columns(ja[i])) << en[i] << " | " << ja[i];
    }
  };
  same_columns(en_params, ja_params);
  same_columns(en_adapters, ja_adapters);
  same_columns(en_if, ja_if);
  same_columns(en_panel, ja_panel);
  EXPECT_EQ(ja_params[0], "----- ネットワーク設定       ---------------------------------------");
  EXPECT_EQ(ja_if[5], "インターフェイスの種類       Unknown(71)");
}

}  // namespace
}  // namespace tw::traffic
