// The Session Monitor in the runtime: the refresh on its schedule, auto-block
// switched by the commands, the session log, and the names forgotten at their
// place in the shut-down.
#include "app/session_feature.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_connection_killer.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "platform/fake/fake_socket_table.h"

namespace tw::app {
namespace {

using ::testing::HasSubstr;

constexpr char kIni[] = "/data/tarnix_u@h.ini";

class NoBeep : public platform::Beeper {
 public:
  void beep() override {}
};

platform::SocketRow connection(const char* remote, int remote_port, std::uint64_t inode, std::uint64_t cookie) {
  platform::SocketRow r;
  r.local_address = *shared::parse_address("10.0.0.1");
  r.local_port = 40000;
  r.remote_address = *shared::parse_address(remote);
  r.remote_port = static_cast<std::uint16_t>(remote_port);
  r.state = 5;
  r.inode = inode;
  r.cookie = cookie;
  return r;
}

struct Rig {
  explicit Rig(const std::string& ini = "", bool auto_start = true) {
    if (!ini.empty()) files.files[kIni] = ini;
    clock.set_wall({2026, 1, 2, 9, 0, 0});
    clock.set_ms(1000);
    sockets.tcp = {connection("192.0.2.7", 443, 1, 77), connection("198.51.100.9", 22, 2, 78)};
    processes.owners = {{1, 10}, {2, 20}};
    processes.processes = {{10, "curl"}, {20, "ssh"}};
    sessions::SessionMonitorConfig config;
    config.data_folder = "/data/";
    monitor = std::make_unique<sessions::SessionMonitor>(
        sessions::SessionMonitorDeps{sockets, processes, killer, clock, files, hosts, keys, names}, config,
        sessions::load_session_settings(profile), sessions::load_autoblock_settings(profile));
    feature = std::make_unique<SessionFeature>(runtime, *monitor, "IP2=192.0.2.\n", auto_start);
  }
  ~Rig() { workers.run_all(); }

  platform::FakeFileStore files;
  platform::FakeClock clock;
  platform::FakeSocketTable sockets;
  platform::FakeProcessTable processes;
  platform::FakeConnectionKiller killer;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  NoBeep beeper;
  settings::Profile profile{files, kIni};
  logging::LogEngine logs{profile, files, clock, beeper, Language::English, "/data/"};
  Runtime runtime{profile, logs};
  shared::HostNameCache hosts{resolver, workers};
  shared::FlowKeyTable keys;
  sessions::ProcessNameCache names{processes};
  std::unique_ptr<sessions::SessionMonitor> monitor;
  std::unique_ptr<SessionFeature> feature;
};

TEST(SessionFeature, RefreshRunsEveryHalfSecondOnceStarted) {
  Rig rig;
  EXPECT_TRUE(rig.monitor->running());  // "AutoStart" defaults to 1
  rig.runtime.start();
  EXPECT_EQ(rig.runtime.ms_until_next(1000), 500u);  // the logs' timers are longer
  rig.runtime.run_due(1499);
  EXPECT_EQ(rig.sockets.reads, 0);
  rig.runtime.run_due(1500);
  EXPECT_EQ(rig.sockets.reads, 2);  // TCP and UDP
  EXPECT_EQ(rig.monitor->rows().size(), 2u);
  rig.runtime.run_due(2000);
  EXPECT_EQ(rig.sockets.reads, 4);

  // Without AutoStart the timer ticks, but nothing is read until the page starts it.
  Rig idle("[Session]\nAutoStart=0\n", false);
  idle.runtime.start();
  idle.runtime.run_due(1000);
  idle.runtime.run_due(1500);
  EXPECT_EQ(idle.sockets.reads, 0);
}

TEST(SessionFeature, CommandsSwitchAutoBlockAndKeepTheDispatchOrder) {
  Rig rig;
  rig.runtime.start();
  rig.runtime.fire_timer(kTimerSessionRefresh);
  EXPECT_TRUE(rig.killer.closed.empty());  // "AutoBlock" defaults to 0
  rig.workers.run_all();  // no rule decides while a name is being looked up

  // Found anywhere in the text.
  EXPECT_EQ(rig.runtime.handle_command("x tarnix.sessionmonitor /blockstart x"), shell::Command::BlockStart);
  rig.runtime.fire_timer(kTimerSessionRefresh);
  ASSERT_EQ(rig.killer.closed.size(), 1u);
  EXPECT_EQ(rig.killer.closed[0].cookie, 77u);
  EXPECT_EQ(rig.files.files["/data/tarnix_autoblock202601.log"],
            "BLOCKED [2026/01/02 09:00:00] 10.0.0.1:40000 192.0.2.7:443 curl(10)\n");

  rig.runtime.handle_command("tarnix.sessionmonitor /blockstop");
  rig.runtime.fire_timer(kTimerSessionRefresh);
  EXPECT_EQ(rig.killer.closed.size(), 1u);

  // The packet filter's "/add:" comes first: a text holding both adds a rule
  // (nobody here takes it) and leaves auto-block off.
  rig.runtime.handle_command("tarnix.packetfilter /add:x tarnix.sessionmonitor /blockstart");
  EXPECT_FALSE(rig.monitor->auto_block());
}

// A window showing the monitor is told of every refresh and of each command
// that actually switched the auto-block, and of nothing else.
TEST(SessionFeature, ListenerFollowsRefreshesAndSwitches) {
  Rig rig;
  int told = 0;
  std::string switches;  // what a program without the page saves
  rig.feature->set_changed_listener([&] { ++told; });
  rig.feature->set_auto_block_listener([&](bool on) { switches += on ? "1" : "0"; });
  rig.runtime.start();
  rig.runtime.fire_timer(kTimerSessionRefresh);
  EXPECT_EQ(told, 1);
  rig.runtime.handle_command("tarnix.sessionmonitor /blockstart");
  rig.runtime.handle_command("tarnix.sessionmonitor /blockstart");  // already on
  EXPECT_EQ(told, 2);
  rig.runtime.handle_command("tarnix.sessionmonitor /blockstop");
  EXPECT_EQ(told, 3);
  EXPECT_EQ(switches, "10");
  rig.feature->set_changed_listener({});
  rig.runtime.fire_timer(kTimerSessionRefresh);
  EXPECT_EQ(told, 3);
}

TEST(SessionFeature, SessionLogTakesTheRowsOfTheLatestRefresh) {
  Rig rig("[Session]\nLogCheck=1\nAskDNS=0\nLogFmt=$SESSION$|$CONNECTIONS$\n");
  rig.runtime.start();
  rig.runtime.fire_timer(kTimerSessionRefresh);
  rig.sockets.tcp.pop_back();
  rig.runtime.fire_timer(kTimerSessionRefresh);
  rig.runtime.fire_timer(kTimerSessionLog);
  EXPECT_EQ(rig.files.files["/data/tarnix_session202601.log"],
            "10.0.0.1 10.0.0.1 40000 192.0.2.7 192.0.2.7 443 Connecting 00s curl(10)|1\n");
}

TEST(SessionFeature, NamesAreForgottenAfterTheStatusBlockAndBeforeTheTotals) {
  Rig rig;
  rig.runtime.start();
  rig.runtime.fire_timer(kTimerSessionRefresh);  // asks for both names and both processes
  std::vector<std::string> seen;
  auto look = [&](const char* when) {
    return [&, when](bool) {
      seen.push_back(std::string(when) + " " + std::to_string(rig.hosts.size() + rig.names.size()));
    };
  };
  rig.runtime.add_shutdown_step(shutdown_step::kReleaseStatusBlock, look("status"));
  rig.runtime.add_shutdown_step(shutdown_step::kSaveTotals, look("totals"));
  rig.workers.run_all();
  rig.runtime.shutdown(false);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[0], "status 0");
  EXPECT_EQ(seen[1], "totals 0");
}

}  // namespace
}  // namespace tw::app
