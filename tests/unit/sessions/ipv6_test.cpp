// IPv6 beside IPv4 in the Session Monitor, auto-block and Netstat: rows,
// mapped addresses, bracket joins, rule prefixes, sort order, and the
// "Settings"/"IPv6" switch that leaves the IPv4-only output as it was.
#include <gtest/gtest.h>

#include "base/ip_address.h"
#include "metrics/exposition.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_connection_killer.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "platform/fake/fake_socket_table.h"
#include "sessions/autoblock.h"
#include "sessions/netstat.h"
#include "sessions/session_monitor.h"
#include "shared/domain_colours.h"

namespace tw::sessions {
namespace {

platform::SocketRow tcp4(const char* local, int lport, const char* remote, int rport, std::uint64_t inode,
                         std::uint64_t cookie) {
  platform::SocketRow r;
  r.local_address = net::parse_ip(local)->v4_network();
  r.local_port = static_cast<std::uint16_t>(lport);
  r.remote_address = net::parse_ip(remote)->v4_network();
  r.remote_port = static_cast<std::uint16_t>(rport);
  r.state = platform::mib::kEstablished;
  r.inode = inode;
  r.cookie = cookie;
  return r;
}

// An AF_INET6 socket; its addresses may be IPv4-mapped ("::ffff:192.0.2.7").
platform::SocketRow tcp6(const char* local, int lport, const char* remote, int rport, std::uint64_t inode,
                         std::uint64_t cookie, int state = platform::mib::kEstablished) {
  platform::SocketRow r;
  r.family = net::kFamilyIPv6;
  r.local_address6 = net::parse_ip(local)->bytes;
  r.local_port = static_cast<std::uint16_t>(lport);
  r.remote_address6 = net::parse_ip(remote)->bytes;
  r.remote_port = static_cast<std::uint16_t>(rport);
  r.state = state;
  r.inode = inode;
  r.cookie = cookie;
  return r;
}

struct Rig {
  platform::FakeSocketTable sockets;
  platform::FakeProcessTable processes;
  platform::FakeConnectionKiller killer;
  platform::FakeClock clock;
  platform::FakeFileStore files;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts{resolver, workers};
  shared::FlowKeyTable keys;
  ProcessNameCache names{processes};
  SessionSettings settings;
  std::unique_ptr<SessionMonitor> monitor;

  explicit Rig(bool ipv6 = true) {
    settings.ask_dns = false;
    sockets.tcp = {tcp4("10.0.0.1", 40000, "192.0.2.7", 443, 1, 71)};
    sockets.tcp6 = {
        tcp6("fd00:231::1", 40001, "fd00:231::2", 5555, 2, 72),
        // A dual-stack server's IPv4 client: listed as IPv4.
        tcp6("::ffff:10.0.0.1", 8080, "::ffff:198.51.100.9", 50000, 3, 73),
        // A dual-stack listener: no connection.
        tcp6("::", 8080, "::", 0, 4, 74, platform::mib::kListen),
    };
    sockets.udp6 = {tcp6("::", 5353, "::", 0, 5, 0)};
    processes.owners = {{1, 10}, {2, 20}, {3, 30}, {5, 50}};
    processes.processes = {{10, "curl"}, {20, "nc"}, {30, "nginx"}, {50, "avahi"}};
    clock.set_wall({2026, 1, 2, 9, 0, 0});
    make(ipv6);
  }
  void make(bool ipv6) {
    SessionMonitorConfig config;
    config.data_folder = "/data";
    config.ipv6 = ipv6;
    monitor = std::make_unique<SessionMonitor>(
        SessionMonitorDeps{sockets, processes, killer, clock, files, hosts, keys, names}, config, settings,
        AutoBlockSettings{});
  }
  ~Rig() { workers.run_all(); }

  const RowTexts* row_with_remote(const std::string& remote) const {
    for (const auto& r : monitor->rows())
      if (r[kRemoteAddress] == remote) return &r;
    return nullptr;
  }
};

TEST(SessionsIpv6, RowsProcessesMappedAddressesFlowKeysAndCounts) {
  Rig r;
  r.monitor->start();
  r.monitor->refresh();
  ASSERT_EQ(r.monitor->rows().size(), 3u);  // the listener is left out
  const RowTexts* v6 = r.row_with_remote("fd00:231::2");
  ASSERT_NE(v6, nullptr);
  EXPECT_EQ((*v6)[kLocalAddress], "fd00:231::1");
  EXPECT_EQ((*v6)[kRemotePort], "5555");
  EXPECT_EQ((*v6)[kProcess], "nc(20)");
  EXPECT_EQ((*v6)[kStatus], "Connecting");
  const RowTexts* mapped = r.row_with_remote("198.51.100.9");
  ASSERT_NE(mapped, nullptr);
  EXPECT_EQ((*mapped)[kLocalAddress], "10.0.0.1");
  EXPECT_EQ((*mapped)[kProcess], "nginx(30)");

  // Flow keys: brackets around IPv6, mapped ones under their IPv4 texts (as
  // their packets carry them), IPv6 UDP endpoints too.
  EXPECT_EQ(r.keys.owner("TCP_[fd00:231::1]:40001-TCP_[fd00:231::2]:5555$"), 20);
  EXPECT_EQ(r.keys.owner("TCP_10.0.0.1:8080-TCP_198.51.100.9:50000$"), 30);
  EXPECT_EQ(r.keys.owner("UDP_[::]:5353$"), 50);

  // Killing closes the socket by its own family: the mapped one stays an
  // AF_INET6 socket with its mapped addresses.
  for (std::size_t i = 0; i < r.monitor->rows().size(); ++i) {
    const std::size_t sel[] = {i};
    r.monitor->kill(sel);
  }
  ASSERT_EQ(r.killer.closed.size(), 3u);
  for (const auto& id : r.killer.closed) {
    if (id.cookie == 72) {
      EXPECT_TRUE(id.is_v6());
      EXPECT_EQ(id.remote_address6, net::parse_ip("fd00:231::2")->bytes);
      EXPECT_EQ(net::to_text(id), "[fd00:231::1]:40001 -> [fd00:231::2]:5555");
    } else if (id.cookie == 73) {
      EXPECT_TRUE(id.is_v6());
      EXPECT_EQ(id.remote_address6, net::parse_ip("::ffff:198.51.100.9")->bytes);
    } else {
      EXPECT_FALSE(id.is_v6());
      EXPECT_EQ(net::to_text(id), "10.0.0.1:40000 -> 192.0.2.7:443");
    }
  }

  EXPECT_EQ(r.monitor->connections(), 3);
  EXPECT_EQ(r.monitor->ipv6_connections(), 1);
  metrics::SessionSection s{true, 3, 3, 0, 1};
  const std::string text = metrics::exposition_text({std::nullopt, s, std::nullopt, std::nullopt});
  EXPECT_NE(text.find("tarnwatch_session_connections{family=\"ipv4\"} 2\n"
                      "tarnwatch_session_connections{family=\"ipv6\"} 1\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("# TYPE tarnwatch_session_connections gauge"),
            text.rfind("# TYPE tarnwatch_session_connections gauge"));  // one family of samples
  r.monitor->stop();
  EXPECT_EQ(r.monitor->ipv6_connections(), 0);
}

// With "Settings"/"IPv6" = 0 nothing of the IPv6 dump is read, listed, keyed
// or counted: the rows, log and metric are those of the IPv4 table alone.
TEST(SessionsIpv6, SwitchedOffEverythingIsTheIpv4Output) {
  Rig off(false);
  Rig v4only(true);
  v4only.sockets.tcp6.clear();
  v4only.sockets.udp6.clear();
  for (Rig* r : {&off, &v4only}) {
    r->monitor->start();
    r->monitor->refresh();
  }
  EXPECT_EQ(off.sockets.reads6, 0);
  EXPECT_EQ(off.monitor->rows(), v4only.monitor->rows());
  EXPECT_EQ(off.keys.size(), 1u);
  logging::EntryValues a, b;
  auto sa = off.monitor->log_source();
  auto sb = v4only.monitor->log_source();
  sa.fill(logging::LogKind::Session, "$SESSION$$CONNECTIONS$", a);
  sb.fill(logging::LogKind::Session, "$SESSION$$CONNECTIONS$", b);
  EXPECT_EQ(a.get("$SESSION$"), b.get("$SESSION$"));
  EXPECT_EQ(a.get("$CONNECTIONS$"), "1");
  EXPECT_FALSE(off.monitor->ipv6_enabled());
  metrics::SessionSection s{true, 1, 1, 0, std::nullopt};
  const std::string text = metrics::exposition_text({std::nullopt, s, std::nullopt, std::nullopt});
  EXPECT_NE(text.find("\ntarnwatch_session_connections 1\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("family"), std::string::npos);
}

// Ascending by address: every IPv4 address (in the text order the IPv4 keys
// always had) before every IPv6 one, the IPv6 ones by their bytes, whatever
// their written lengths.
TEST(SessionsIpv6, SortByAddressPutsIpv4FirstAndIpv6ByBytes) {
  Rig r;
  r.sockets.tcp = {tcp4("10.0.0.1", 1, "192.0.2.10", 80, 0, 1), tcp4("10.0.0.1", 2, "192.0.2.9", 80, 0, 2)};
  r.sockets.tcp6 = {tcp6("fd00::1", 3, "fd00::10", 80, 0, 3), tcp6("fd00::1", 4, "fd00::9", 80, 0, 4),
                    tcp6("fd00::1", 5, "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", 80, 0, 5),
                    tcp6("fd00::1", 6, "fd00::1:0", 80, 0, 6)};
  r.monitor->start();
  r.monitor->header_click(kRemoteAddress);  // was Status: same direction (descending)
  r.monitor->header_click(kRemoteAddress);  // ascending
  r.monitor->refresh();
  std::vector<std::string> order;
  for (const auto& row : r.monitor->rows()) order.push_back(row[kRemoteAddress]);
  EXPECT_EQ(order, (std::vector<std::string>{"192.0.2.10", "192.0.2.9", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff",
                                             "fd00::9", "fd00::10", "fd00::1:0"}));
  // The ports after the address line up for IPv6 whatever the address's length.
  EXPECT_EQ(address_sort_field("fd00::9"), ":fd000000000000000000000000000009");
  EXPECT_EQ(address_sort_field("192.0.2.9"), "192.0.2.9");
  EXPECT_EQ(sort_key(SessionRecord{}, kRemoteAddress, 0).size(), 30u);  // the IPv4 key as it always was
}

TEST(SessionsIpv6, RuleAddressesTakeIpv6AddressesAndPrefixes) {
  // IPv6 prefixes and addresses in IP1/IP2.
  EXPECT_TRUE(address_match("fd00::/8", "fd00:231::2"));
  EXPECT_FALSE(address_match("fd00::/8", "fe80::1"));
  EXPECT_FALSE(address_match("fd00::/8", "10.0.0.1"));
  EXPECT_TRUE(address_match("fd00:231::2", "fd00:231::2"));
  EXPECT_FALSE(address_match("fd00:231::2", "fd00:231::20"));
  EXPECT_TRUE(address_match("fd00:231::/64", "fd00:231::ffff:1"));
  // A mapped value means the IPv4 addresses the list shows.
  EXPECT_TRUE(address_match("::ffff:192.0.2.0/120", "192.0.2.7"));
  EXPECT_FALSE(address_match("::ffff:192.0.2.0/120", "192.0.3.7"));
  // IPv4 values keep their text matches; a partial IPv6 text is one too.
  EXPECT_TRUE(address_match("192.168.", "192.168.1.5"));
  EXPECT_TRUE(address_match("/168/", "10.168.0.1"));
  EXPECT_TRUE(address_match("fd00:", "fd00:231::2"));
  EXPECT_FALSE(address_match("fd00::/200", "fd00::1"));  // no prefix: the text does not begin so

  const auto rules = parse_rules("IP2=fd00::/8,PORT2=5555\nIP1=fd00:231::1\nPORT2=443\n");
  ASSERT_EQ(rules.size(), 3u);
  auto row = [](const char* la, const char* ra, const char* rp) {
    return RowTexts{la, la, "40000", ra, ra, rp, "Connecting", "05s", "nc(1)"};
  };
  EXPECT_EQ(evaluate({rules[0]}, row("fd00:231::1", "fd00:231::2", "5555"), 9, Language::English), Verdict::Block);
  EXPECT_EQ(evaluate({rules[0]}, row("10.0.0.1", "10.0.0.2", "5555"), 9, Language::English), Verdict::Leave);
  EXPECT_EQ(evaluate({rules[1]}, row("fd00:231::1", "2001:db8::1", "80"), 9, Language::English), Verdict::Block);
  // A rule without an address holds for both families.
  EXPECT_EQ(evaluate({rules[2]}, row("fd00:231::1", "2001:db8::1", "443"), 9, Language::English), Verdict::Block);
  EXPECT_EQ(evaluate({rules[2]}, row("10.0.0.1", "192.0.2.7", "443"), 9, Language::English), Verdict::Block);
  // Still waits for a pending IPv6 name.
  RowTexts pending = row("fd00:231::1", "fd00:231::2", "5555");
  pending[kRemoteHost] = "(fd00:231::2)";
  EXPECT_EQ(evaluate({rules[0]}, pending, 9, Language::English), Verdict::Leave);
}

TEST(SessionsIpv6, JoinedAddressesAndPortsUseBrackets) {
  logging::DateTexts date;
  date.date = "2026/01/02";
  date.time = "09:00:00";
  const std::string fmt = "BLOCKED [$DATE$ $TIME$] $HOST1$:$PORT1$ $HOST2$:$PORT2$ $PID$ $IP2$ $IP2$:$PORT2$";
  const RowTexts v6{"fd00::1", "fd00::1", "40000", "fd00::2", "peer.example", "5555", "Connecting", "05s", "nc(1)"};
  EXPECT_EQ(blocked_line(fmt, v6, date),
            "BLOCKED [2026/01/02 09:00:00] [fd00::1]:40000 peer.example:5555 nc(1) fd00::2 [fd00::2]:5555");
  const RowTexts v4{"10.0.0.1", "10.0.0.1", "40000", "192.0.2.7", "192.0.2.7", "443", "Connecting", "05s", "c(1)"};
  EXPECT_EQ(blocked_line(fmt, v4, date),
            "BLOCKED [2026/01/02 09:00:00] 10.0.0.1:40000 192.0.2.7:443 c(1) 192.0.2.7 192.0.2.7:443");
  EXPECT_EQ(address_with_port("(fd00::2)", "80"), "(fd00::2):80");  // a pending text is no address

  EXPECT_EQ(netstat_tcp_line("fd00::1", 40000, "fd00::1", "fd00::2", 5555, "peer.example", 5, "nc", 7),
            "TCP       [fd00::1]:40000 (fd00::1) ->       [fd00::2]: 5555 (peer.example) -> ESTABLISHED -> nc(7)");
  EXPECT_EQ(netstat_udp_line("::", 5353, "::", "mdns", "avahi", 5), "UDP            [::]: 5353 (::: mdns) -> avahi(5)");
  EXPECT_EQ(netstat_tcp_line("10.0.0.1", 1, "h", "10.0.0.2", 2, "g", 5, "", -1),
            "TCP        10.0.0.1:    1 (h) ->        10.0.0.2:    2 (g) -> ESTABLISHED");
}

TEST(SessionsIpv6, NetstatListsIpv6AfterIpv4OnlyWhenOn) {
  Rig r;
  r.sockets.udp.clear();
  r.resolver.names6[*net::parse_ip("fd00:231::2")] = "peer6.example";
  auto listing = [&](bool ipv6) {
    NetstatRun run(Language::English);
    run.start();
    run.run_worker(r.sockets, r.processes, r.names, r.hosts, r.resolver, kDefaultNetstatFilter, ipv6);
    return run.tick().replace;
  };
  const std::string v4 = "TCP        10.0.0.1:40000 (10.0.0.1) ->       192.0.2.7:  443 (192.0.2.7) -> ESTABLISHED -> curl(10)\r\n";
  EXPECT_EQ(listing(false), v4);
  EXPECT_EQ(listing(true),
            v4 +
                "TCP   [fd00:231::1]:40001 (fd00:231::1) ->   [fd00:231::2]: 5555 (peer6.example) -> ESTABLISHED -> nc(20)\r\n"
                "TCP        10.0.0.1: 8080 (10.0.0.1) ->    198.51.100.9:50000 (198.51.100.9) -> ESTABLISHED -> nginx(30)\r\n"
                "UDP            [::]: 5353 (::: 5353) -> avahi(50)\r\n");
}

TEST(SessionsIpv6, HostNamesOfIpv6AddressesAndTheirColours) {
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts{resolver, workers};
  resolver.names6[*net::parse_ip("2001:db8::1")] = "www6.example.com";
  // The hosts-file fallback covers unique-local and link-local, not global.
  resolver.local_names6[*net::parse_ip("fd00::5")] = "nas.lan";
  resolver.local_names6[*net::parse_ip("fe80::5")] = "printer.lan";
  resolver.local_names6[*net::parse_ip("2001:db8::5")] = "never.lan";
  for (const char* a : {"2001:db8::1", "fd00::5", "fe80::5", "2001:db8::5"})
    EXPECT_EQ(hosts.host_name_for(a), std::string("(") + a + ")");
  workers.run_all();
  EXPECT_EQ(hosts.host_name_for("2001:db8::1"), "www6.example.com");
  EXPECT_EQ(hosts.host_name_for("fd00::5"), "nas.lan");
  EXPECT_EQ(hosts.host_name_for("fe80::5"), "printer.lan");
  EXPECT_EQ(hosts.host_name_for("2001:db8::5"), "2001:db8::5");
  EXPECT_EQ(hosts.resolve_now("fd00::5"), "nas.lan");

  EXPECT_EQ(shared::cell_colour_key("fd00::5"), shared::ColourKey::IpAddr);
  EXPECT_EQ(shared::cell_colour_key("FD00::A"), shared::ColourKey::IpAddr);
  EXPECT_EQ(shared::cell_colour_key("(fd00::5)"), shared::ColourKey::Default);
  EXPECT_EQ(shared::cell_colour_key("www6.example.com"), shared::ColourKey::Com);
}

}  // namespace
}  // namespace tw::sessions
