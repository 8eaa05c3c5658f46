// The commands of the Session and Packet Monitor lists that other tabs carry
// out, through the main window with every tab built on fakes: the tool tabs
// are selected and run for the row's host, and "Add to Packet filter rules"
// puts DROP rules into the filter's grid.
#include <QAction>
#include <QMenu>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "app/packet_feature.h"
#include "app/runtime.h"
#include "app/session_feature.h"
#include "logging/log_engine.h"
#include "packetfilter/filter_controller.h"
#include "platform/beeper.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_connection_killer.h"
#include "platform/fake/fake_dns_client.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_link_stats.h"
#include "platform/fake/fake_packet_capture.h"
#include "platform/fake/fake_packet_filter.h"
#include "platform/fake/fake_process_runner.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "platform/fake/fake_socket_table.h"
#include "platform/network_info.h"
#include "platform/whois_client.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"
#include "ui/controls/report_list_view.h"
#include "ui/main/main_window.h"
#include "ui/models/session_list_model.h"
#include "ui/packets/packet_list_model.h"
#include "ui/packets/packet_monitor_page.h"
#include "ui/sessions/session_monitor_page.h"
#include "ui/tools/command_tool_page.h"
#include "ui/tools/host_bar.h"
#include "ui/tools/nslookup_page.h"
#include "ui/tools/whois_page.h"

namespace tw::ui {
namespace {

using shell::ListCommand;
using shell::MainPage;

struct Silent : platform::Beeper {
  void beep() override {}
};

class FakeWhois : public platform::WhoisClient {
 public:
  Result<std::string> query(const std::string&, int, const std::string& request, int, std::stop_token) override {
    std::lock_guard lock(mutex);
    asked.push_back(request);
    return std::string("ok\n");
  }
  std::mutex mutex;
  std::vector<std::string> asked;
};

class NoAdapters : public platform::NetworkInfoSource {
 public:
  Status network_params(platform::NetworkParams&) override { return {}; }
  Status adapters(std::vector<platform::AdapterInfo>&) override { return {}; }
};

// The whole window over fakes: one TCP session to 192.0.2.7:443 and a packet
// capture that is running from the start.
struct Rig {
  explicit Rig(bool with_targets, const std::string& ini = "[Session]\nAskDNS=0\n[Surveil]\nAutoStart=1\n") {
    files.files["/data/tarnix_u@h.ini"] = ini;
    links.add("eth0", 1000, 5000);
    clock.set_wall({2026, 1, 2, 9, 0, 0});
    platform::SocketRow row;
    row.local_address = *shared::parse_address("10.0.0.1");
    row.local_port = 40000;
    row.remote_address = *shared::parse_address("192.0.2.7");
    row.remote_port = 443;
    row.state = 5;
    sockets.tcp = {row};
    capture.addresses = {*shared::parse_address("10.0.0.2")};

    traffic = std::make_unique<traffic::TrafficMonitor>(profile, links, clock, Language::English);
    logs = std::make_unique<logging::LogEngine>(profile, files, clock, beeper, Language::English, "/data/");
    runtime = std::make_unique<app::Runtime>(profile, *logs);
    session_monitor = std::make_unique<sessions::SessionMonitor>(
        sessions::SessionMonitorDeps{sockets, processes, killer, clock, files, hosts, keys, names},
        sessions::SessionMonitorConfig{}, sessions::load_session_settings(profile),
        sessions::load_autoblock_settings(profile));
    sessions = std::make_unique<app::SessionFeature>(*runtime, *session_monitor, "", true);
    packet_monitor = std::make_unique<packets::PacketMonitor>(
        packets::PacketMonitorDeps{capture, clock, keys, hosts, {}}, Language::English,
        packets::load_packet_settings(profile));
    packets = std::make_unique<app::PacketFeature>(*runtime, profile, *packet_monitor);

    MainWindowServices s;
    s.profile = &profile;
    s.traffic = traffic.get();
    s.runtime = runtime.get();
    s.clock = &clock;
    s.data_folder = folder.path().toStdString() + "/";
    s.use_system_tray = false;
    s.sessions = sessions.get();
    s.packets = packets.get();
    if (with_targets) {
      s.packet_filter = &filter;
      s.tools = {.files = &files, .processes = &runner, .whois = &whois, .dns = &dns, .hosts = &lookup,
                 .stats = nullptr, .data_folder = "/data/"};
    }
    window = std::make_unique<MainWindow>(s);
    window->set_confirm_exit([] { return true; });
    runtime->start();
  }
  ~Rig() {
    window.reset();
    workers.run_all();  // the lookups the refreshes started, before the cache goes
  }

  SessionMonitorPage* session_page() const { return window->session_page(); }
  PacketMonitorPage* packet_page() const { return window->packet_page(); }

  void refresh_sessions() { runtime->fire_timer(app::kTimerSessionRefresh); }
  // A UDP datagram from 10.0.0.9:`remote_port` to 10.0.0.2:53.
  void udp_in(int remote_port) {
    const std::uint8_t d[28] = {0x45, 0, 0, 28, 0, 0, 0, 0, 64, 17, 0, 0, 10, 0, 0, 9, 10, 0, 0, 2,
                                static_cast<std::uint8_t>(remote_port >> 8), static_cast<std::uint8_t>(remote_port),
                                0, 53, 0, 8, 0, 0};
    capture.deliver(d);
    runtime->fire_timer(app::kTimerPacketDisplay);
  }
  static void select(QAbstractItemView* view, std::initializer_list<int> rows) {
    view->selectionModel()->clearSelection();
    for (int r : rows)
      view->selectionModel()->select(view->model()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  // The session menu's action for `command`, as the menu would show it now.
  QAction* session_action(ListCommand command) const {
    session_page()->update_menu();
    return session_page()->tool_actions()[static_cast<int>(command)];
  }
  // Triggers the Packet Monitor menu's item `text`; false when it is disabled.
  bool packet_command(const QString& text) const {
    std::unique_ptr<QMenu> menu(packet_page()->build_context_menu());
    for (QAction* a : menu->actions())
      if (a->text() == text) {
        if (!a->isEnabled()) return false;
        a->trigger();
        return true;
      }
    ADD_FAILURE() << "no menu item " << text.toStdString();
    return false;
  }
  // The tool of `page` has finished its run, and its field holds the host.
  std::string tool_host(MainPage page) const {
    QWidget* w = window->page(page);
    if (auto* c = qobject_cast<CommandToolPage*>(w)) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return !c->running(); }, 5000));
      return c->bar()->text();
    }
    if (auto* n = qobject_cast<NslookupPage*>(w)) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return !n->running(); }, 5000));
      return n->bar()->text();
    }
    if (auto* who = qobject_cast<WhoisPage*>(w)) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return !who->busy(); }, 5000));
      return who->bar()->text();
    }
    ADD_FAILURE() << "not a tool page";
    return {};
  }

  platform::FakeFileStore files;
  settings::Profile profile{files, "/data/tarnix_u@h.ini"};
  platform::FakeLinkStats links;
  platform::FakeClock clock;
  Silent beeper;
  QTemporaryDir folder;
  platform::FakeSocketTable sockets;
  platform::FakeProcessTable processes;
  platform::FakeConnectionKiller killer;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts{resolver, workers};
  shared::FlowKeyTable keys;
  sessions::ProcessNameCache names{processes};
  platform::FakePacketCapture capture;
  platform::FakeProcessRunner runner;
  FakeWhois whois;
  platform::FakeDnsClient dns;
  platform::FakeHostLookup lookup;
  platform::FakePacketFilter engine;
  NoAdapters network;
  packetfilter::FilterController filter{{engine, network, files},
                                        {.rule_file_path = "/data/tarnix_packetfilter.txt",
                                         .lang = Language::English, .show_message = {}, .note = {}}};
  std::unique_ptr<traffic::TrafficMonitor> traffic;
  std::unique_ptr<logging::LogEngine> logs;
  std::unique_ptr<app::Runtime> runtime;
  std::unique_ptr<sessions::SessionMonitor> session_monitor;
  std::unique_ptr<app::SessionFeature> sessions;
  std::unique_ptr<packets::PacketMonitor> packet_monitor;
  std::unique_ptr<app::PacketFeature> packets;
  std::unique_ptr<MainWindow> window;
};

using Grid = std::vector<packetfilter::GridRow>;

TEST(ListCommands, FromASessionRowEachToolRunsOnItsTabForTheRemoteHost) {
  Rig rig(true);
  rig.refresh_sessions();
  ASSERT_EQ(rig.session_page()->model()->rowCount(), 1);
  // Nothing selected: every command is off.
  for (int c = 0; c < shell::kListCommandCount; ++c)
    EXPECT_FALSE(rig.session_action(static_cast<ListCommand>(c))->isEnabled()) << c;
  Rig::select(rig.session_page()->list(), {0});

  const struct {
    ListCommand command;
    MainPage page;
    int tab;
  } cases[] = {{ListCommand::Nslookup, MainPage::Nslookup, 6},
               {ListCommand::Whois, MainPage::Whois, 8},
               {ListCommand::Ping, MainPage::Ping, 9},
               {ListCommand::Tracert, MainPage::Tracert, 10}};
  for (const auto& c : cases) {
    rig.window->select_tab(2);
    QAction* a = rig.session_action(c.command);
    ASSERT_TRUE(a->isEnabled());
    a->trigger();
    EXPECT_EQ(rig.window->current_tab(), c.tab);
    EXPECT_EQ(rig.window->tab_widget()->currentWidget(), rig.window->page(c.page));
    EXPECT_EQ(rig.tool_host(c.page), "192.0.2.7");
  }
  // PING and TRACERT really ran, each for the host.
  ASSERT_EQ(rig.runner.started.size(), 2u);
  EXPECT_EQ(rig.runner.started[0].back(), "192.0.2.7");
  EXPECT_EQ(rig.runner.started[1].back(), "192.0.2.7");
  ASSERT_EQ(rig.whois.asked.size(), 1u);
  EXPECT_EQ(rig.whois.asked[0].rfind("192.0.2.7", 0), 0u);
}

// With AskDNS the host cell reads "(192.0.2.7)" until the name arrives: the
// tool gets the address then, never an empty host, and the name afterwards.
TEST(ListCommands, PendingHostNameRunsTheToolForTheAddress) {
  Rig rig(true, "[Session]\nAskDNS=1\n");
  rig.resolver.names[*shared::parse_address("192.0.2.7")] = "far.example";
  rig.refresh_sessions();
  ASSERT_EQ(rig.session_page()->model()->text(0, SessionListModel::kRemoteHost), "(192.0.2.7)");
  Rig::select(rig.session_page()->list(), {0});
  rig.session_action(ListCommand::Ping)->trigger();
  EXPECT_EQ(rig.tool_host(MainPage::Ping), "192.0.2.7");

  rig.workers.run_all();
  rig.refresh_sessions();
  ASSERT_EQ(rig.session_page()->model()->text(0, SessionListModel::kRemoteHost), "far.example");
  rig.session_action(ListCommand::Ping)->trigger();
  EXPECT_EQ(rig.tool_host(MainPage::Ping), "far.example");
  ASSERT_EQ(rig.runner.started.size(), 2u);
  EXPECT_EQ(rig.runner.started[1].back(), "far.example");
}

TEST(ListCommands, FromAPacketRowToolsRunAndRulesAreAddedInListOrder) {
  Rig rig(true);
  rig.udp_in(443);
  rig.udp_in(444);  // on top
  PacketMonitorPage* page = rig.packet_page();
  ASSERT_EQ(page->list_model()->rowCount(), 2);
  EXPECT_FALSE(rig.packet_command(QStringLiteral("WHOIS")));  // nothing selected
  Rig::select(page->list_view(), {0});

  const struct {
    const char* text;
    MainPage page;
    int tab;
  } cases[] = {{"WHOIS", MainPage::Whois, 8},
               {"NSLOOKUP", MainPage::Nslookup, 6},
               {"PING", MainPage::Ping, 9},
               {"TRACERT", MainPage::Tracert, 10}};
  for (const auto& c : cases) {
    rig.window->select_tab(1);
    ASSERT_TRUE(rig.packet_command(QString::fromLatin1(c.text)));
    EXPECT_EQ(rig.window->current_tab(), c.tab);
    EXPECT_EQ(rig.tool_host(c.page), "10.0.0.9");
  }

  // Both rows, top first; a UDP packet makes a UDP rule.
  Rig::select(page->list_view(), {1, 0});
  rig.window->select_tab(1);
  ASSERT_TRUE(rig.packet_command(QStringLiteral("Add to Packet filter rules")));
  EXPECT_EQ(rig.filter.grid(),
            (Grid{{"DROP", "0.0.0.0", "255.255.255.255", "53", "10.0.0.9", "255.255.255.255", "444", "UDP", "10.0.0.9"},
                  {"DROP", "0.0.0.0", "255.255.255.255", "53", "10.0.0.9", "255.255.255.255", "443", "UDP",
                   "10.0.0.9"}}));
  EXPECT_EQ(rig.filter.rules().size(), 2u);

  // A session row is a TCP rule, appended after them.
  rig.refresh_sessions();
  Rig::select(rig.session_page()->list(), {0});
  rig.session_action(ListCommand::AddFilterRules)->trigger();
  ASSERT_EQ(rig.filter.grid().size(), 3u);
  EXPECT_EQ(rig.filter.grid()[2], (packetfilter::GridRow{"DROP", "0.0.0.0", "255.255.255.255", "40000", "192.0.2.7",
                                                         "255.255.255.255", "443", "TCP", "192.0.2.7"}));
}

// A window without the tool tabs and the packet filter cannot carry the
// commands out: they stay disabled, and asking anyway does nothing.
TEST(ListCommands, DisabledWithoutTheirTabs) {
  Rig rig(false);
  rig.refresh_sessions();
  rig.udp_in(443);
  Rig::select(rig.session_page()->list(), {0});
  Rig::select(rig.packet_page()->list_view(), {0});
  for (int c = 0; c < shell::kListCommandCount; ++c) {
    EXPECT_FALSE(rig.session_action(static_cast<ListCommand>(c))->isEnabled()) << c;
    rig.session_page()->request_list_command(static_cast<ListCommand>(c));
    rig.packet_page()->request_list_command(static_cast<ListCommand>(c));
  }
  for (const char* text : {"Add to Packet filter rules", "WHOIS", "NSLOOKUP", "PING", "TRACERT"})
    EXPECT_FALSE(rig.packet_command(QString::fromLatin1(text))) << text;
  EXPECT_EQ(rig.window->current_tab(), 0);
  EXPECT_TRUE(rig.filter.grid().empty());
  EXPECT_TRUE(rig.runner.started.empty());
}

}  // namespace
}  // namespace tw::ui
