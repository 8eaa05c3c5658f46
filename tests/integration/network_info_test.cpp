// The Linux network-information source inside a namespace of the test's own:
// adapters, addresses and default gateways from the kernel, lease and resolver
// files from a fixture tree, forwarding switches from the namespace's /proc.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <algorithm>

#include "netns.h"
#include "platform/linux/network_info.h"
#include "traffic/info_report.h"

namespace {

namespace fs = std::filesystem;
using tw::platform::AdapterInfo;
using tw::platform::Ip6AddressEntry;
using tw::platform::LinuxNetworkInfo;
using tw::platform::LocalTime;
using tw::platform::NetworkInfoRoots;
using tw::platform::NetworkParams;

// A scratch folder tree standing in for /proc, /etc, /run and /var; removed
// with everything in it when the test ends, however it ends.
class FixtureRoot {
 public:
  FixtureRoot() {
    char tmpl[] = "/tmp/tw-netinfo-XXXXXX";
    if (::mkdtemp(tmpl)) dir_ = tmpl;
  }
  ~FixtureRoot() {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  bool ok() const { return !dir_.empty(); }
  NetworkInfoRoots roots() const { return {dir_ + "/proc", dir_ + "/etc", dir_ + "/run", dir_ + "/var"}; }

  // Writes `text` to `rel` below the root; with `mtime` set, dates the file.
  void write(const std::string& rel, const std::string& text, std::time_t mtime = 0) const {
    const fs::path p = fs::path(dir_) / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
    if (mtime != 0) {
      const timespec times[2] = {{mtime, 0}, {mtime, 0}};
      ::utimensat(AT_FDCWD, p.c_str(), times, 0);
    }
  }
  void copy_data(const std::string& data_name, const std::string& rel) const {
    std::ifstream in(std::string(TW_SOURCE_DIR) + "/tests/data/inforeport/" + data_name, std::ios::binary);
    write(rel, std::string(std::istreambuf_iterator<char>(in), {}));
  }

 private:
  std::string dir_;
};

LocalTime local(std::time_t t) {
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void expect_time(const std::optional<LocalTime>& got, std::time_t want) {
  ASSERT_TRUE(got);
  const LocalTime w = local(want);
  EXPECT_EQ(got->year, w.year);
  EXPECT_EQ(got->month, w.month);
  EXPECT_EQ(got->day, w.day);
  EXPECT_EQ(got->hour, w.hour);
  EXPECT_EQ(got->minute, w.minute);
  EXPECT_EQ(got->second, w.second);
}

class NetworkInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tw::test::is_root()) GTEST_SKIP() << "needs root for network namespaces";
    ASSERT_TRUE(ns_.ok()) << ns_.error();
    ASSERT_TRUE(files_.ok());
    // Two ends of one cable, both in the namespace: nothing leaves it.
    ASSERT_TRUE(ns_.add_veth("twia", "twib")) << ns_.error();
    ASSERT_TRUE(ns_.add_address("twia", "10.231.5.1/24")) << ns_.error();
    ASSERT_TRUE(ns_.add_address("twia", "10.231.7.1/28")) << ns_.error();
    ASSERT_TRUE(ns_.add_address("twib", "10.231.6.2/16")) << ns_.error();
  }

  std::vector<AdapterInfo> adapters(std::uint32_t expect_error = 0) {
    std::vector<AdapterInfo> list;
    std::uint32_t error = 99;
    EXPECT_TRUE(ns_.run([&] {
      LinuxNetworkInfo info(files_.roots());
      const tw::Status status = info.adapters(list);
      error = status.ok() ? 0 : static_cast<std::uint32_t>(status.error().errno_value);
    }));
    EXPECT_EQ(error, expect_error);
    return list;
  }

  tw::test::NetNs ns_{"netinfo"};
  FixtureRoot files_;
};

TEST_F(NetworkInfoTest, AdaptersCarryTheirAddressesMasksAndLinkAddress) {
  ASSERT_TRUE(ns_.ip("link set twib alias 'Test cable'").ok());
  const auto list = adapters();
  ASSERT_EQ(list.size(), 2u) << "loopback is not an adapter";
  const auto ia = ns_.ifindex("twia");
  const auto ib = ns_.ifindex("twib");
  ASSERT_TRUE(ia && ib);
  // Ascending interface index, whatever the names.
  const AdapterInfo& a = list[*ia < *ib ? 0 : 1];
  const AdapterInfo& b = list[*ia < *ib ? 1 : 0];
  EXPECT_LT(list[0].index, list[1].index);

  EXPECT_EQ(a.index, *ia);
  EXPECT_EQ(a.name, "twia");
  EXPECT_EQ(a.description, "twia");
  ASSERT_EQ(a.addresses.size(), 2u);
  EXPECT_EQ(a.addresses[0].address, "10.231.5.1");
  EXPECT_EQ(a.addresses[0].mask, "255.255.255.0");
  EXPECT_EQ(a.addresses[1].address, "10.231.7.1");
  EXPECT_EQ(a.addresses[1].mask, "255.255.255.240");
  ASSERT_EQ(a.phys_addr_len, 6u);
  char mac[32];
  std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", a.phys_addr[0], a.phys_addr[1],
                a.phys_addr[2], a.phys_addr[3], a.phys_addr[4], a.phys_addr[5]);
  EXPECT_EQ(ns_.sys_file("twia", "address"), std::string(mac));

  EXPECT_EQ(b.name, "twib");
  EXPECT_EQ(b.description, "Test cable");
  ASSERT_EQ(b.addresses.size(), 1u);
  EXPECT_EQ(b.addresses[0].mask, "255.255.0.0");
  EXPECT_TRUE(a.gateways.empty() && b.gateways.empty());
  EXPECT_FALSE(a.dhcp_enabled || b.dhcp_enabled || a.wins_enabled);
}

TEST_F(NetworkInfoTest, AdaptersCarryTheirIpv6AddressesBesideTheIpv4Ones) {
  // Without IPv6 the IPv4 view is all there is.
  for (const AdapterInfo& a : adapters()) EXPECT_TRUE(a.addresses6.empty()) << a.name;

  ASSERT_TRUE(ns_.enable_ipv6()) << ns_.error();
  ASSERT_TRUE(ns_.add_address6("twia", "fd00:231::1/64")) << ns_.error();
  ASSERT_TRUE(ns_.add_address6("twia", "2001:db8:231::1/48")) << ns_.error();
  for (const AdapterInfo& a : adapters()) {
    if (a.name != "twia") continue;
    // The IPv4 part is exactly as before.
    ASSERT_EQ(a.addresses.size(), 2u);
    EXPECT_EQ(a.addresses[0].address, "10.231.5.1");
    const auto has = [&](const char* text, int prefix) {
      const auto want = *tw::net::parse_ip(text);
      return std::any_of(a.addresses6.begin(), a.addresses6.end(),
                         [&](const Ip6AddressEntry& e) { return e.address == want && e.prefix_length == prefix; });
    };
    EXPECT_TRUE(has("fd00:231::1", 64));
    EXPECT_TRUE(has("2001:db8:231::1", 48));
    // The link-local address the kernel gives a device that is up.
    EXPECT_TRUE(std::any_of(a.addresses6.begin(), a.addresses6.end(),
                            [](const Ip6AddressEntry& e) { return tw::net::is_link_local(e.address); }));
  }
}

TEST_F(NetworkInfoTest, GatewayIsTheMainTableDefaultRouteWithTheLowestMetric) {
  ASSERT_TRUE(ns_.ip("route add default via 10.231.5.254 dev twia metric 200").ok());
  ASSERT_TRUE(ns_.ip("route add default via 10.231.5.253 dev twia metric 50").ok());
  // Another table's default route, however preferred, is not the machine's gateway.
  ASSERT_TRUE(ns_.ip("route add default via 10.231.5.99 dev twia table 100 metric 1").ok());
  // A route to a network is not a default route.
  ASSERT_TRUE(ns_.ip("route add 10.50.0.0/16 via 10.231.6.1 dev twib").ok());

  for (const AdapterInfo& a : adapters()) {
    if (a.name == "twia") {
      EXPECT_EQ(a.gateways, (std::vector<std::string>{"10.231.5.253", "10.231.5.254"}));
    } else {
      EXPECT_TRUE(a.gateways.empty()) << a.name;
    }
  }

  // The report shows the preferred one.
  std::string report;
  ASSERT_TRUE(ns_.run([&] {
    LinuxNetworkInfo info(files_.roots());
    report = tw::traffic::adapter_report(info, tw::Language::English);
  }));
  EXPECT_NE(report.find("Adapter Name:                twia\r\n"
                        "Adapter Description:         twia\r\n"
                        "IP Address:                  10.231.5.1\r\n"
                        "GATEWAY Server:              10.231.5.253\r\n"),
            std::string::npos)
      << report;
}

TEST_F(NetworkInfoTest, MultipathDefaultRouteGivesEachAdapterItsNextHop) {
  ASSERT_TRUE(ns_.ip("route add default metric 10 nexthop via 10.231.5.254 dev twia "
                     "nexthop via 10.231.6.254 dev twib")
                  .ok());
  for (const AdapterInfo& a : adapters()) {
    const char* want = a.name == "twia" ? "10.231.5.254" : "10.231.6.254";
    EXPECT_EQ(a.gateways, std::vector<std::string>{want}) << a.name;
  }
}

TEST_F(NetworkInfoTest, LeaseFilesCountOnlyForAddressesStillOnTheAdapter) {
  const auto ib = ns_.ifindex("twib");
  ASSERT_TRUE(ib);
  // twia: a dhclient database with an older lease for another address first.
  files_.write("var/lib/dhcp/dhclient.twia.leases",
               "lease {\n  interface \"twia\";\n  fixed-address 10.231.5.9;\n"
               "  option dhcp-server-identifier 10.231.5.251;\n}\n"
               "lease {\n  interface \"twia\";\n  fixed-address 10.231.5.1;\n"
               "  option dhcp-server-identifier 10.231.5.250;\n  option dhcp-lease-time 3600;\n"
               "  option netbios-name-servers 10.231.5.2, 10.231.5.3;\n"
               "  expire epoch 1704369600;\n}\n");
  // A NetworkManager file for a twia lease that is gone: the address moved.
  files_.write("var/lib/NetworkManager/internal-0b1d6c1e-aaaa-4bbb-8ccc-123456789abc-twia.lease",
               "ADDRESS=10.231.5.77\n", 1'900'000'000);
  // twib: a networkd lease, dated by its file.
  files_.write("run/systemd/netif/leases/" + std::to_string(*ib),
               "ADDRESS=10.231.6.2\nSERVER_ADDRESS=10.231.0.1\nLIFETIME=600\n", 1'700'000'000);
  // A lease database of another interface, without interface statements.
  files_.write("var/lib/dhcp/dhclient.eth9.leases",
               "lease { fixed-address 10.231.6.2; option dhcp-server-identifier 1.2.3.4; }\n");

  for (const AdapterInfo& a : adapters()) {
    if (a.name == "twia") {
      EXPECT_TRUE(a.dhcp_enabled);
      EXPECT_EQ(a.dhcp_server, "10.231.5.250");
      expect_time(a.lease_expires, 1704369600);
      expect_time(a.lease_obtained, 1704369600 - 3600);
      EXPECT_TRUE(a.wins_enabled);
      EXPECT_EQ(a.primary_wins, "10.231.5.2");
      EXPECT_EQ(a.secondary_wins, "10.231.5.3");
    } else {
      EXPECT_TRUE(a.dhcp_enabled);
      EXPECT_EQ(a.dhcp_server, "10.231.0.1");
      expect_time(a.lease_obtained, 1'700'000'000);
      expect_time(a.lease_expires, 1'700'000'600);
      EXPECT_FALSE(a.wins_enabled);
    }
  }

  // Without those files nothing is leased.
  ASSERT_TRUE(ns_.ip("addr flush dev twib").ok());
  for (const AdapterInfo& a : adapters()) {
    if (a.name == "twib") {
      EXPECT_FALSE(a.dhcp_enabled) << "the leased address is gone";
    }
  }
}

TEST_F(NetworkInfoTest, ResolverStubIsLookedThroughAndSwitchesComeFromProc) {
  files_.copy_data("stub-resolv.conf", "etc/resolv.conf");
  files_.copy_data("upstream-resolv.conf", "run/systemd/resolve/resolv.conf");
  files_.write("proc/sys/net/ipv4/ip_forward", "1\n");
  files_.write("proc/sys/net/ipv4/conf/all/proxy_arp", "0\n");
  NetworkParams p;
  bool read = false;
  ASSERT_TRUE(ns_.run([&] { read = LinuxNetworkInfo(files_.roots()).network_params(p).ok(); }));
  EXPECT_TRUE(read);
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  EXPECT_EQ(p.host_name, host);
  EXPECT_EQ(p.dns_servers, (std::vector<std::string>{"192.168.10.1", "2001:db8::53", "fe80::1%enp3s0"}));
  EXPECT_EQ(p.domain_name, "home.example");
  EXPECT_TRUE(p.dns_enabled);
  EXPECT_TRUE(p.routing_enabled);
  EXPECT_FALSE(p.arp_proxy_enabled);
  EXPECT_EQ(p.node_type, tw::platform::kNodeTypeUnknown);

  // Without the upstream file the stub is all there is.
  fs::remove(fs::path(files_.roots().run) / "systemd/resolve/resolv.conf");
  ASSERT_TRUE(ns_.run([&] { (void)LinuxNetworkInfo(files_.roots()).network_params(p); }));
  EXPECT_EQ(p.dns_servers, std::vector<std::string>{"127.0.0.53"});

  // Nothing at all: no servers, DNS off, switches off.
  ASSERT_TRUE(ns_.run([&] { LinuxNetworkInfo(NetworkInfoRoots{"/nonexistent", "/nonexistent",
                                                              "/nonexistent", "/nonexistent"})
                                .network_params(p).ok(); }));
  EXPECT_TRUE(p.dns_servers.empty());
  EXPECT_FALSE(p.dns_enabled || p.routing_enabled || p.arp_proxy_enabled);
}

TEST_F(NetworkInfoTest, RealProcShowsTheNamespacesOwnSwitches) {
  ASSERT_TRUE(ns_.exec("sysctl -qw net.ipv4.ip_forward=1 net.ipv4.conf.all.proxy_arp=1").ok());
  NetworkParams p;
  ASSERT_TRUE(ns_.run([&] {
    NetworkInfoRoots roots = files_.roots();
    roots.proc = "/proc";
    (void)LinuxNetworkInfo(roots).network_params(p);
  }));
  EXPECT_TRUE(p.routing_enabled);
  EXPECT_TRUE(p.arp_proxy_enabled);
}

}  // namespace
