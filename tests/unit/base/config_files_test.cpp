// Parsers of the resolver configuration and the DHCP lease files, on samples
// written the way systemd-resolved, systemd-networkd, NetworkManager and
// dhclient write them, and on damaged input.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "base/config_files.h"

namespace tw {
namespace {

std::string fixture(const std::string& name) {
  std::ifstream in(std::string(TW_TEST_DATA_DIR) + "/inforeport/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(ResolvConf, SystemdStubAndItsUpstreamFile) {
  const ResolverConfig stub = parse_resolv_conf(fixture("stub-resolv.conf"));
  EXPECT_EQ(stub.servers, std::vector<std::string>{"127.0.0.53"});
  EXPECT_EQ(stub.domain, "home.example");
  EXPECT_TRUE(names_only_local_stub(stub));

  const ResolverConfig up = parse_resolv_conf(fixture("upstream-resolv.conf"));
  EXPECT_EQ(up.servers, (std::vector<std::string>{"192.168.10.1", "2001:db8::53", "fe80::1%enp3s0"}));
  EXPECT_EQ(up.domain, "home.example");  // the first entry of "search"
  EXPECT_FALSE(names_only_local_stub(up));
}

TEST(ResolvConf, ResolverRulesForOddLines) {
  const ResolverConfig cfg = parse_resolv_conf(
      "domain first.example\n"
      "; a comment\n"
      "#nameserver 10.9.9.9\n"
      "nameserver\t10.0.0.1   # trailing words are ignored\r\n"
      "nameserver 300.1.1.1\n"   // not an address
      "nameserver 10.0.0\n"      // not an address
      "nameserver dns.example\n" // resolvers take addresses only
      "nameservers 10.0.0.9\n"   // a different keyword
      "  nameserver 10.0.0.2\n"
      "search last.example other.example\n"
      "nameserver 10.0.0.3");    // no final line end
  EXPECT_EQ(cfg.servers, (std::vector<std::string>{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
  EXPECT_EQ(cfg.domain, "last.example");
  EXPECT_FALSE(names_only_local_stub(cfg));
  EXPECT_FALSE(names_only_local_stub(parse_resolv_conf("")));
  EXPECT_FALSE(names_only_local_stub(parse_resolv_conf("nameserver 127.0.0.53\nnameserver 1.1.1.1\n")));
}

TEST(KeyValueLease, NetworkdLeaseTimesCountFromTheFileTime) {
  const auto lease = parse_keyvalue_lease(fixture("networkd.lease"), 1'700'000'000);
  ASSERT_TRUE(lease);
  EXPECT_EQ(lease->address, "192.168.10.23");
  EXPECT_EQ(lease->server, "192.168.10.1");
  EXPECT_EQ(lease->obtained, 1'700'000'000);
  EXPECT_EQ(lease->expires, 1'700'003'600);
  EXPECT_TRUE(lease->wins_servers.empty());
}

TEST(KeyValueLease, NetworkManagerKeepsOnlyTheAddress) {
  const auto lease = parse_keyvalue_lease(fixture("nm-internal.lease"), 1'600'000'000);
  ASSERT_TRUE(lease);
  EXPECT_EQ(lease->address, "10.20.30.40");
  EXPECT_EQ(lease->server, "");
  EXPECT_EQ(lease->obtained, 1'600'000'000);
  EXPECT_FALSE(lease->expires);
}

TEST(KeyValueLease, NothingUsableIsNoLease) {
  EXPECT_FALSE(parse_keyvalue_lease("", 0));
  EXPECT_FALSE(parse_keyvalue_lease("# This is private data. Do not parse.\n", 0));
  EXPECT_FALSE(parse_keyvalue_lease("ADDRESS=not-an-address\nSERVER_ADDRESS=\n", 0));
  const auto lease = parse_keyvalue_lease("ADDRESS=\"10.1.1.1\"\nLIFETIME=99999999999999999999\n", 5);
  ASSERT_TRUE(lease);
  EXPECT_EQ(lease->address, "10.1.1.1");
  EXPECT_FALSE(lease->expires);  // an absurd lifetime is ignored, not wrapped
}

TEST(DhclientLeases, LastCompleteBlockOfTheInterfaceWins) {
  const std::string text = fixture("dhclient.leases");
  const auto eth0 = parse_dhclient_leases(text, "eth0");
  ASSERT_TRUE(eth0);
  // The final eth0 block is cut short and does not count.
  EXPECT_EQ(eth0->address, "192.168.10.18");
  EXPECT_EQ(eth0->server, "192.168.10.254");
  EXPECT_EQ(eth0->expires, 1'704'369'600);   // 2024/01/04 12:00:00 UTC
  EXPECT_EQ(eth0->obtained, 1'704'326'400);  // expiry minus the 43200 s lease time

  const auto wlan0 = parse_dhclient_leases(text, "wlan0");
  ASSERT_TRUE(wlan0);
  EXPECT_EQ(wlan0->address, "172.16.5.9");
  EXPECT_EQ(wlan0->server, "172.16.5.1");
  EXPECT_EQ(wlan0->expires, 1'704'369'600);  // "epoch" form
  EXPECT_EQ(wlan0->obtained, 1'704'362'400);
  EXPECT_EQ(wlan0->wins_servers, (std::vector<std::string>{"172.16.5.2", "172.16.5.3"}));

  EXPECT_FALSE(parse_dhclient_leases(text, "eth1"));
}

TEST(DhclientLeases, BlocksWithoutInterfaceAndUnknownTimes) {
  const auto lease = parse_dhclient_leases(
      "lease {\n"
      "  fixed-address 10.0.0.5;\n"
      "  option dhcp-server-identifier 10.0.0.1;\n"
      "  expire never;\n"
      "}\n",
      "enp0s3");
  ASSERT_TRUE(lease);
  EXPECT_EQ(lease->address, "10.0.0.5");
  EXPECT_FALSE(lease->expires);
  EXPECT_FALSE(lease->obtained);

  const auto leap = parse_dhclient_leases(
      "lease { interface \"e\"; option dhcp-lease-time 60; expire 4 2024/02/29 00:01:00; }", "e");
  ASSERT_TRUE(leap);
  EXPECT_EQ(leap->expires, 1'709'164'860);
  EXPECT_EQ(leap->obtained, 1'709'164'800);
}

TEST(DhclientLeases, DamagedInputYieldsNothingOrTheCompletePart) {
  EXPECT_FALSE(parse_dhclient_leases("", "eth0"));
  EXPECT_FALSE(parse_dhclient_leases("lease", "eth0"));
  EXPECT_FALSE(parse_dhclient_leases("lease {", "eth0"));
  EXPECT_FALSE(parse_dhclient_leases("lease { interface \"eth0", "eth0"));
  EXPECT_FALSE(parse_dhclient_leases("}}}}; lease ; { }", "eth0"));
  const auto lease = parse_dhclient_leases(
      "lease { interface \"eth0\"; expire 3 2024/13/40 99:00:00; option; fixed-address; }", "eth0");
  ASSERT_TRUE(lease);  // a complete block with nothing usable in it
  EXPECT_EQ(lease->address, "");
  EXPECT_FALSE(lease->expires);
}

}  // namespace
}  // namespace tw
