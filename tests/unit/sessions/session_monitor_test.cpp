// One refresh from fake tables to rows, auto-block, the commands, the log
// variables; and a Netstat run.
#include <gtest/gtest.h>

#include "logging/template.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_connection_killer.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "platform/fake/fake_socket_table.h"
#include "sessions/netstat.h"
#include "sessions/session_monitor.h"

namespace tw::sessions {
namespace {

platform::SocketRow tcp(const char* remote, int rport, int state, std::uint64_t inode, std::uint64_t cookie) {
  platform::SocketRow r;
  r.local_address = *shared::parse_address("10.0.0.1");
  r.local_port = 40000;
  r.remote_address = *shared::parse_address(remote);
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

  Rig() {
    sockets.tcp = {tcp("192.0.2.7", 443, 5, 1, 77), tcp("198.51.100.9", 22, 3, 2, 78)};
    processes.owners = {{1, 10}, {2, 20}};
    processes.processes = {{10, "curl"}, {20, "ssh"}};
    resolver.names[*shared::parse_address("192.0.2.7")] = "www.example.com";
    clock.set_wall({2026, 1, 2, 9, 0, 0});
    make();
  }
  void make() {
    SessionMonitorConfig config;
    config.data_folder = "/data";
    monitor = std::make_unique<SessionMonitor>(SessionMonitorDeps{sockets, processes, killer, clock, files, hosts,
                                                                  keys, names},
                                               config, settings, AutoBlockSettings{});
  }
  ~Rig() { workers.run_all(); }
};

TEST(SessionMonitor, RefreshRowsNamesAndLog) {
  Rig r;
  r.monitor->start();
  r.clock.set_ms(1000);
  r.monitor->refresh();
  ASSERT_EQ(r.monitor->rows().size(), 2u);
  // Sorted by status, descending: "Connecting" (5) before "Waiting" (3).
  EXPECT_EQ(r.monitor->rows()[0][kRemoteHost], "(192.0.2.7)");
  EXPECT_EQ(r.monitor->rows()[0][kProcess], "curl(10)");
  EXPECT_EQ(r.monitor->rows()[1][kStatus], "Waiting");
  EXPECT_EQ(r.monitor->connections_label(), " Connections (Max) :    2 (   2)");
  r.workers.run_all();
  r.clock.set_ms(126000);
  r.monitor->refresh();
  EXPECT_EQ(r.monitor->rows()[0][kRemoteHost], "www.example.com");
  EXPECT_EQ(r.monitor->rows()[0][kTime], "02m 05s");

  r.monitor->header_click(kRemotePort);  // same direction, other column
  EXPECT_EQ(r.monitor->rows()[0][kRemotePort], "443");

  logging::EntryValues v;
  auto src = r.monitor->log_source();
  src.fill(logging::LogKind::Session, "$SESSION$", v);
  EXPECT_NE(v.get("$SESSION$").find("www.example.com"), std::string_view::npos);
  EXPECT_EQ(v.get("$CONNECTIONS$"), "2");

  r.monitor->stop();
  logging::EntryValues stopped;
  auto src2 = r.monitor->log_source();
  src2.fill(logging::LogKind::Session, "$SESSION$", stopped);
  EXPECT_FALSE(stopped.has("$SESSION$"));  // the writer puts the "stopped" text there
  EXPECT_EQ(r.monitor->rows().size(), 2u);  // the rows stay

  const std::size_t sel[] = {0};
  EXPECT_EQ(r.monitor->copy(sel, std::vector<int>{0, 0, 0, 0, 1}), "www.example.com \r\n");
  r.monitor->remove_all();
  EXPECT_EQ(r.hosts.size(), 0u);
  EXPECT_FALSE(r.monitor->menu_state(true).remove_all);
}

TEST(SessionMonitor, AutoBlockKillsLogsAndCounts) {
  Rig r;
  r.settings.ask_dns = false;
  r.make();
  r.monitor->load_rules("ALLOW=1,PORT2=22\nIP2=198.51.\nIP2=192.0.2.,PORT2=443\n");
  r.monitor->start();
  r.monitor->refresh();
  EXPECT_TRUE(r.killer.closed.empty());  // auto-block is off
  EXPECT_TRUE(r.monitor->block_start());
  EXPECT_FALSE(r.monitor->block_start());
  EXPECT_EQ(r.monitor->blocked_label_text(), "BLOCKED :     0");
  r.killer.result = Error{"Please run with administrator privileges.", "", 1};
  r.monitor->refresh();
  ASSERT_EQ(r.killer.closed.size(), 1u);  // the ALLOW rule protects port 22
  EXPECT_EQ(r.killer.closed[0].cookie, 77u);
  EXPECT_EQ(r.monitor->blocked_count(), 1);  // counted even though the close failed
  EXPECT_EQ(r.files.files.at("/data/tarnix_autoblock202601.log"),
            "BLOCKED [2026/01/02 09:00:00] 10.0.0.1:40000 192.0.2.7:443 curl(10)\n");
  EXPECT_EQ(r.monitor->blocked_view(), "BLOCKED [2026/01/02 09:00:00] 10.0.0.1:40000 192.0.2.7:443 curl(10)\r\n");

  const std::size_t sel[] = {1};
  r.monitor->kill(sel);
  EXPECT_EQ(r.killer.closed.back().cookie, 78u);
  EXPECT_TRUE(r.monitor->block_stop());
  EXPECT_EQ(r.monitor->blocked_count(), 0);
}

// A connection that could not be closed shows up again at every refresh: it
// is tried again, but logged and counted as blocked once (by its cookie); a
// later connection on the same addresses and ports is another socket.
TEST(SessionMonitor, ASocketIsLoggedAndCountedAsBlockedOnce) {
  Rig r;
  r.settings.ask_dns = false;
  r.make();
  r.monitor->load_rules("IP2=192.0.2.\n");
  r.monitor->start();
  ASSERT_TRUE(r.monitor->block_start());
  r.killer.result = Error{"Please run with administrator privileges.", "", 1};
  for (int i = 0; i < 3; ++i) r.monitor->refresh();
  EXPECT_EQ(r.killer.closed.size(), 3u);
  EXPECT_EQ(r.monitor->blocked_count(), 1);
  const std::string one = "BLOCKED [2026/01/02 09:00:00] 10.0.0.1:40000 192.0.2.7:443 curl(10)\n";
  EXPECT_EQ(r.files.files.at("/data/tarnix_autoblock202601.log"), one);

  // Switching auto-block resets the counter, not what was logged.
  EXPECT_TRUE(r.monitor->block_stop());
  EXPECT_TRUE(r.monitor->block_start());
  r.monitor->refresh();
  EXPECT_EQ(r.monitor->blocked_count(), 0);

  r.sockets.tcp[0].cookie = 79;
  r.monitor->refresh();
  EXPECT_EQ(r.monitor->blocked_count(), 1);
  EXPECT_EQ(r.files.files.at("/data/tarnix_autoblock202601.log"), one + one);
}

// The list shows 999 rows; auto-block, the counter and "$CONNECTIONS$" see
// every connection of the dump.
TEST(SessionMonitor, AutoBlockAndCountersSeeTheWholeDump) {
  Rig r;
  r.settings.ask_dns = false;
  r.make();
  r.sockets.tcp.clear();
  for (std::uint16_t i = 0; i < 1300; ++i) {
    auto row = tcp(i < 1100 ? "192.0.2.7" : "198.51.100.9", 443, 5, 0, 1000 + i);
    row.local_port = static_cast<std::uint16_t>(20000 + i);
    r.sockets.tcp.push_back(row);
  }
  r.monitor->load_rules("IP2=192.0.2.,NOLOG=1\n");
  r.monitor->start();
  r.monitor->set_auto_block(true);
  r.monitor->refresh();
  EXPECT_EQ(r.monitor->rows().size(), kMaxDisplayedRows);
  EXPECT_EQ(r.killer.closed.size(), 1100u);
  EXPECT_EQ(r.monitor->blocked_count(), 1100);
  EXPECT_EQ(r.monitor->connections(), 1300);
  EXPECT_EQ(r.monitor->connections_label(), " Connections (Max) : 1300 (1300)");
  logging::EntryValues v;
  auto src = r.monitor->log_source();
  src.fill(logging::LogKind::Session, "$CONNECTIONS$", v);
  EXPECT_EQ(v.get("$CONNECTIONS$"), "1300");

  // "Kill Session" on a shown row closes that row's connection.
  const std::size_t last[] = {kMaxDisplayedRows - 1};
  r.monitor->kill(last);
  EXPECT_EQ(r.killer.closed.back().local_port, std::stoul(r.monitor->rows().back()[kLocalPort]));
}

TEST(Netstat, RunListingFilterAndStates) {
  Rig r;
  r.sockets.udp = {tcp("0.0.0.0", 0, 7, 1, 0), tcp("0.0.0.0", 0, 7, 0, 0)};
  r.sockets.udp[0].local_port = 53;
  r.sockets.udp[1].local_port = 5353;
  r.resolver.services[53] = "domain";
  NetstatFilter only_established{};
  only_established[4] = 1;

  NetstatRun run(Language::English);
  EXPECT_EQ(run.start(), "Getting information ");
  run.run_worker(r.sockets, r.processes, r.names, r.hosts, r.resolver, only_established);
  EXPECT_EQ(run.state(), NetstatRun::kFinished);
  const auto out = run.tick();
  EXPECT_TRUE(out.finished);
  EXPECT_EQ(out.replace,
            "TCP        10.0.0.1:40000 (10.0.0.1) ->       192.0.2.7:  443 (www.example.com) -> ESTABLISHED -> curl(10)\r\n"
            "UDP        10.0.0.1:   53 (10.0.0.1: domain) -> curl(10)\r\n"
            "UDP        10.0.0.1: 5353 (10.0.0.1: 5353)\r\n");
  EXPECT_EQ(run.state(), NetstatRun::kIdle);

  // Tables that cannot be read: no lines, "No data.".
  run.start();
  r.sockets.fail = true;
  run.run_worker(r.sockets, r.processes, r.names, r.hosts, r.resolver, kDefaultNetstatFilter);
  EXPECT_EQ(run.tick().replace, "No data.");

  EXPECT_EQ(parse_netstat_filter("0:1:x:0"), (NetstatFilter{0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(format_netstat_filter(kDefaultNetstatFilter), "1:1:1:1:1:1:1:1:1:1:1:1");
}

TEST(SessionSettings, ClampsAndRoundTrip) {
  platform::FakeFileStore files;
  settings::Profile p(files, "/d/t.ini");
  p.write_int("Session", "ResetMaxConnections", 70000);
  auto s = load_session_settings(p);
  EXPECT_EQ(s.reset_max_connections, 65535);
  EXPECT_TRUE(s.ask_dns);
  s.ask_dns = false;
  save_session_settings(p, s);
  EXPECT_FALSE(load_session_settings(p).ask_dns);
  auto a = load_autoblock_settings(p);
  EXPECT_EQ(a.log_file_name, "tarnix_autoblock$YYYY$$MM$.log");
  a.blocked_log = false;
  save_autoblock_settings(p, a);
  EXPECT_FALSE(load_autoblock_settings(p).blocked_log);
}

}  // namespace
}  // namespace tw::sessions
