// The Session Monitor tab over a monitor fed by fake tables (sorting with the
// former order as tie-break, selections by position, the context menu's
// rules, Ctrl+C), the NETSTAT tab's abort with a worker held in its table
// read, and the options pages of both reading and writing every key.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "column_checks.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_connection_killer.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "platform/fake/fake_socket_table.h"
#include "sessions/session_monitor.h"
#include "settings/profile.h"
#include "ui/controls/list_copy.h"
#include "ui/controls/report_list_view.h"
#include "ui/models/session_list_model.h"
#include "ui/options/color_list.h"
#include "ui/options/session_pages.h"
#include "ui/sessions/netstat_page.h"
#include "ui/sessions/session_monitor_page.h"

namespace tw::ui {
namespace {

constexpr const char* kIni = "/data/tarnix_u@h.ini";

platform::SocketRow tcp(const char* local, int lport, const char* remote, int rport, int state = 5) {
  platform::SocketRow r;
  r.local_address = *shared::parse_address(local);
  r.local_port = static_cast<std::uint16_t>(lport);
  r.remote_address = *shared::parse_address(remote);
  r.remote_port = static_cast<std::uint16_t>(rport);
  r.state = state;
  return r;
}

sessions::SessionMonitorConfig config() {
  sessions::SessionMonitorConfig c;
  c.data_folder = "/data/";
  return c;
}

struct SessionRig {
  explicit SessionRig(const std::string& ini = "[Session]\nAskDNS=0\n") {
    files.files[kIni] = ini;
    clock.set_wall({2026, 1, 2, 9, 0, 0});
    // Table order B, A, C: A and B share local address and both ports.
    sockets.tcp = {tcp("10.0.0.1", 40000, "192.0.2.7", 443), tcp("10.0.0.1", 40000, "198.51.100.9", 443),
                   tcp("10.0.0.1", 39999, "203.0.113.5", 80)};
    monitor = std::make_unique<sessions::SessionMonitor>(
        sessions::SessionMonitorDeps{sockets, processes, killer, clock, files, hosts, keys, names},
        config(), sessions::load_session_settings(profile),
        sessions::load_autoblock_settings(profile));
    page = std::make_unique<SessionMonitorPage>(*monitor, profile, Language::English, 100);
    page->resize(760, 400);
  }
  ~SessionRig() {
    page.reset();
    workers.run_all();
  }
  void refresh() {
    monitor->refresh();
    page->show_monitor();
  }
  QString cell(int row, int column) const { return page->model()->text(row, column); }
  QStringList remote_addresses() const {
    QStringList out;
    for (int r = 0; r < page->model()->rowCount(); ++r) out << cell(r, SessionListModel::kRemoteAddress);
    return out;
  }
  void select(std::initializer_list<int> rows) {
    auto* sel = page->list()->selectionModel();
    sel->clearSelection();
    for (int r : rows)
      sel->select(page->model()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  void click_header(int column) { emit page->list()->header()->sectionClicked(column); }
  // Keys reach the page's shortcuts only in the active window.
  void focus_list() {
    page->show();
    QApplication::setActiveWindow(page.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(page.get()));
    page->list()->setFocus();
  }

  platform::FakeFileStore files;
  settings::Profile profile{files, kIni};
  platform::FakeClock clock;
  platform::FakeSocketTable sockets;
  platform::FakeProcessTable processes;
  platform::FakeConnectionKiller killer;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts{resolver, workers};
  shared::FlowKeyTable keys;
  sessions::ProcessNameCache names{processes};
  std::unique_ptr<sessions::SessionMonitor> monitor;
  std::unique_ptr<SessionMonitorPage> page;
};

TEST(SessionMonitorPage, HeaderClicksSortWithTheFormerOrderAsTieBreak) {
  SessionRig rig;
  rig.page->toggle_running();
  rig.refresh();
  EXPECT_EQ(rig.page->start_button()->text(), "STOP");
  ASSERT_EQ(rig.page->model()->rowCount(), 3);

  // The direction stays descending (the start) when another column is clicked.
  rig.click_header(SessionListModel::kRemoteAddress);
  EXPECT_EQ(rig.remote_addresses(), (QStringList{"203.0.113.5", "198.51.100.9", "192.0.2.7"}));
  // By local host: A and B have the same key; the remote-address order just
  // shown decides between them, not the order of the table (B first).
  rig.click_header(SessionListModel::kLocalHost);
  EXPECT_EQ(rig.remote_addresses(), (QStringList{"198.51.100.9", "192.0.2.7", "203.0.113.5"}));
  EXPECT_EQ(rig.page->list()->header()->sortIndicatorSection(), SessionListModel::kLocalHost);
  EXPECT_EQ(rig.page->list()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
  // The same column again: ascending.
  rig.click_header(SessionListModel::kLocalHost);
  EXPECT_EQ(rig.remote_addresses().first(), "203.0.113.5");
  EXPECT_EQ(rig.page->list()->header()->sortIndicatorOrder(), Qt::AscendingOrder);

  // A refresh forgets the former order: the table order breaks the tie again.
  rig.refresh();
  EXPECT_EQ(rig.remote_addresses(), (QStringList{"203.0.113.5", "192.0.2.7", "198.51.100.9"}));
}

// The list's default colours are made for its default black background; a
// settings file that names no colours must not leave them on the theme's
// (often white) background, where a pending host in white would vanish.
TEST(SessionMonitorPage, DefaultColoursComeWithTheirBackground) {
  SessionRig rig("[Session]\nAskDNS=1\n");
  rig.page->toggle_running();
  rig.refresh();
  const QModelIndex host = rig.page->model()->index(0, SessionListModel::kRemoteHost);
  EXPECT_TRUE(host.data().toString().startsWith("("));  // pending lookup
  EXPECT_EQ(host.data(Qt::ForegroundRole).value<QColor>(), QColor(255, 255, 255));
  EXPECT_EQ(rig.page->list()->palette().color(QPalette::Base), QColor(0, 0, 0));
  const QModelIndex address = rig.page->model()->index(0, SessionListModel::kRemoteAddress);
  EXPECT_EQ(address.data(Qt::ForegroundRole).value<QColor>(), QColor(0xFF, 0xFF, 0x80));  // 0x80FFFF
}

// The columns a fresh start gives show a typical connection and every header
// whole, the sort mark included (the list sorts by any column), in either
// language.
TEST(SessionMonitorPage, AFreshListShowsTypicalRowsAndHeadersWhole) {
  for (const Language lang : {Language::English, Language::Japanese}) {
    SessionRig rig;
    rig.page = std::make_unique<SessionMonitorPage>(*rig.monitor, rig.profile, lang, 100);
    ReportListView* view = rig.page->list();
    const QStringList typical = {"255.255.255.255", "(255.255.255.255)", "65535", "255.255.255.255",
                                 "(255.255.255.255)", "65535", "CLOSE WAIT",
                                 lang == Language::Japanese ? "12時間 34分 56秒" : "12h 34m 56s",
                                 "firefox-esr(123456)"};
    ListRow row(SessionListModel::kColumnCount);
    for (int c = 0; c < typical.size(); ++c) row[static_cast<std::size_t>(c)].text = typical[c];
    rig.page->model()->insert_rows(0, {row});
    test::expect_headers_whole(*view->header(), true);
    test::expect_cells_whole(*view, static_cast<int>(typical.size()), [&](int c) { return typical[c]; },
                             [&](int c) { return view->columnWidth(c); });
    EXPECT_EQ(rig.page->start_button()->text(), lang == Language::Japanese ? "開始" : "START");
  }
}

TEST(SessionMonitorPage, SelectionStaysOnPositionsAcrossRefreshes) {
  SessionRig rig;
  rig.page->toggle_running();
  rig.refresh();
  rig.click_header(SessionListModel::kRemoteAddress);  // descending: 203, 198, 192
  rig.select({0, 2});
  // A new connection sorts first and pushes the others down.
  rig.sockets.tcp.push_back(tcp("10.0.0.1", 40001, "233.252.0.1", 443));
  rig.refresh();
  EXPECT_EQ(rig.cell(0, SessionListModel::kRemoteAddress), "233.252.0.1");
  EXPECT_EQ(selected_rows(*rig.page->list()), (std::vector<int>{0, 2}));
  // Rows that went away take their selection with them.
  rig.sockets.tcp.resize(1);
  rig.refresh();
  EXPECT_EQ(selected_rows(*rig.page->list()), (std::vector<int>{0}));
}

TEST(SessionMonitorPage, ContextMenuRulesAndKeys) {
  SessionRig rig;
  auto enabled = [&] {
    rig.page->update_menu();
    std::vector<bool> out{rig.page->remove_all_action()->isEnabled(), rig.page->copy_action()->isEnabled(),
                          rig.page->kill_action()->isEnabled()};
    for (QAction* a : rig.page->tool_actions()) out.push_back(a->isEnabled());
    return out;
  };
  const std::vector<bool> none(8, false);
  EXPECT_EQ(enabled(), none);  // empty list
  rig.page->toggle_running();
  rig.refresh();
  std::vector<bool> only_remove = none;
  only_remove[0] = true;
  EXPECT_EQ(enabled(), only_remove);  // rows, no selection
  rig.select({1});
  std::vector<bool> with_selection = none;
  with_selection[0] = with_selection[1] = with_selection[2] = true;
  EXPECT_EQ(enabled(), with_selection);  // no window routes the other tabs' commands here
  rig.killer.supported = false;
  with_selection[2] = false;
  EXPECT_EQ(enabled(), with_selection);

  // Ctrl+Delete follows the menu: refused without the privilege ...
  rig.focus_list();
  QTest::keyClick(rig.page->list(), Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_TRUE(rig.killer.closed.empty());
  // ... and closes exactly the selected connection with it.
  rig.killer.supported = true;
  const QString remote = rig.cell(1, SessionListModel::kRemoteAddress);
  QTest::keyClick(rig.page->list(), Qt::Key_Delete, Qt::ControlModifier);
  ASSERT_EQ(rig.killer.closed.size(), 1u);
  EXPECT_EQ(QString::fromStdString(platform::to_text(rig.killer.closed[0])).section(' ', 2), remote + ":" +
            rig.cell(1, SessionListModel::kRemotePort));

  // "Remove all items" empties the list and the counters, and the menu is off.
  rig.page->remove_all();
  EXPECT_EQ(rig.page->model()->rowCount(), 0);
  EXPECT_EQ(rig.page->connections_label()->text(), " Connections (Max) :    0 (   0)");
  EXPECT_EQ(enabled(), none);
}

TEST(SessionMonitorPage, CtrlCCopiesTheChosenColumnsOfTheSelectedRows) {
  SessionRig rig("[Session]\nAskDNS=0\nCopyItem=1:0:1:0:0:1:0:0:0:0:0:0\n");
  rig.page->toggle_running();
  rig.refresh();
  rig.click_header(SessionListModel::kRemoteAddress);
  rig.select({0, 2});
  rig.focus_list();
  QApplication::clipboard()->setText("kept");
  QTest::keyClick(rig.page->list(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "10.0.0.1 39999 80 \r\n10.0.0.1 40000 443 \r\n");
  // Nothing selected: the clipboard keeps what it holds.
  rig.select({});
  QApplication::clipboard()->setText("kept");
  QTest::keyClick(rig.page->list(), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "kept");
}

TEST(SessionMonitorPage, AutoBlockControlsFollowCommandsAndThePageWritesItsKeys) {
  SessionRig rig;
  EXPECT_FALSE(rig.page->blocked_label()->isEnabled());
  // A command switched it (the runtime then calls show_monitor()).
  rig.monitor->block_start();
  rig.page->show_monitor();
  EXPECT_TRUE(rig.page->auto_block_box()->isChecked());
  EXPECT_TRUE(rig.page->blocked_label()->isEnabled());
  EXPECT_EQ(rig.page->blocked_label()->text(), "BLOCKED :     0");
  // The check box: the label gains its leading blank.
  rig.page->auto_block_box()->setChecked(false);
  EXPECT_FALSE(rig.monitor->auto_block());
  EXPECT_EQ(rig.page->blocked_label()->text(), " BLOCKED :     0");

  rig.page->ask_dns_box()->setChecked(true);
  rig.page->log_view_box()->setChecked(true);
  // The widths the list started with (the described ones, widened to this
  // desktop's fonts where needed).
  const std::string widths = "ColnmWidth=" + shell::format_column_widths(rig.page->list()->default_widths());
  rig.page.reset();
  const std::string ini = rig.files.files.at(kIni);
  for (const std::string key : {"AskDNS=1", "AutoBlock=0", "AutoBlockLogView=1", "LogViewer=", "ResetMaxConnections=1440",
                                "AutoBlockLogFormat=BLOCKED [$DATE$ $TIME$] $HOST1$:$PORT1$ $HOST2$:$PORT2$ $PID$",
                                widths.c_str()})
    EXPECT_NE(ini.find(key), std::string::npos) << key;
}

// ---------------------------------------------------------------------------

// A socket table whose TCP read waits until the test lets it go, so that a
// run is caught while it is running.
class HeldSocketTable : public platform::FakeSocketTable {
 public:
  Result<std::vector<platform::SocketRow>> read(platform::SocketProtocol p) override {
    if (p == platform::SocketProtocol::Tcp) {
      std::unique_lock lock(mutex_);
      entered_ = true;
      cv_.notify_all();
      cv_.wait(lock, [this] { return released_; });
    }
    return FakeSocketTable::read(p);
  }
  void wait_entered() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return entered_; });
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool entered_ = false;
  bool released_ = false;
};

struct NetstatRig {
  NetstatRig() {
    sockets.tcp = {tcp("10.0.0.1", 40000, "192.0.2.7", 443)};
    // The helper must be started by the UI thread, never by the worker.
    auto ready = [this] { prepared_on.push_back(std::this_thread::get_id()); };
    page = std::make_unique<NetstatPage>(
        profile, NetstatSources{&sockets, &processes, &names, &hosts, &resolver, ready}, Language::English);
  }
  ~NetstatRig() {
    sockets.release();
    page.reset();
  }
  QString text() const { return page->output()->toPlainText(); }

  platform::FakeFileStore files;
  settings::Profile profile{files, kIni};
  HeldSocketTable sockets;
  platform::FakeProcessTable processes;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts{resolver, workers};
  sessions::ProcessNameCache names{processes};
  std::vector<std::thread::id> prepared_on;
  std::unique_ptr<NetstatPage> page;
};

TEST(NetstatPage, StopDuringARunAbortsAndShowsWhatWasGathered) {
  NetstatRig rig;
  EXPECT_EQ(rig.text(), "Displays a list of current network connection status.");
  rig.page->start_stop();
  EXPECT_EQ(rig.prepared_on, std::vector<std::thread::id>{std::this_thread::get_id()});
  EXPECT_EQ(rig.page->button()->text(), "STOP");
  EXPECT_TRUE(rig.page->display_timer().isActive());
  rig.sockets.wait_entered();
  ASSERT_EQ(rig.page->run_state(), sessions::NetstatRun::kRunning);
  rig.page->tick();
  rig.page->tick();
  EXPECT_EQ(rig.text(), "Getting information *");

  rig.page->start_stop();
  EXPECT_EQ(rig.text(), "Getting information *Aborted.");
  EXPECT_FALSE(rig.page->button()->isEnabled());  // until the result is shown
  rig.sockets.release();
  for (int i = 0; i < 2500 && rig.page->run_state() != sessions::NetstatRun::kFinished; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(rig.page->run_state(), sessions::NetstatRun::kFinished) << "the run did not end within 5 s";
  rig.page->tick();
  // The TCP row was read but the run was told to stop before listing it.
  EXPECT_EQ(rig.text(), "No data.");
  EXPECT_EQ(rig.page->button()->text(), "START");
  EXPECT_TRUE(rig.page->button()->isEnabled());
  EXPECT_FALSE(rig.page->display_timer().isActive());
  EXPECT_EQ(rig.page->run_state(), sessions::NetstatRun::kIdle);

  // A whole run lists the connection (the table no longer waits).
  rig.page->start_stop();
  for (int i = 0; i < 2500 && rig.page->run_state() != sessions::NetstatRun::kFinished; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(rig.page->run_state(), sessions::NetstatRun::kFinished) << "the run did not end within 5 s";
  rig.page->tick();
  EXPECT_TRUE(rig.text().startsWith("TCP        10.0.0.1:40000 (10.0.0.1) ->       192.0.2.7:  443")) << rig.text().toStdString();
}

// ---------------------------------------------------------------------------

struct OptionsRig : ::testing::Test {
  platform::FakeFileStore files;
  settings::Profile profile{files, kIni};
  std::string ini() const { return files.files.count(kIni) ? files.files.at(kIni) : std::string(); }
  bool has(const std::string& line) const { return ini().find(line + "\n") != std::string::npos; }
};

TEST_F(OptionsRig, AutoKillSessionPageKeysAndRuleFile) {
  const std::string rules = "/data/tarnix_autoblock.txt";
  files.files[kIni] = "[Session]\nBlockedLog=0\nAutoBlockLogFileName=blocked.log\nAutoBlockLogFormat=F\n";
  files.files[rules] = "IP2=192.0.2.\r\n# comment\r\n";
  AutoKillSessionPage page(profile, "/data/", Language::English, nullptr);
  page.load();
  EXPECT_EQ(page.rule_file_path(), rules);
  EXPECT_FALSE(page.findChild<QCheckBox*>("blockedLog")->isChecked());
  EXPECT_EQ(page.findChild<QLineEdit*>("logFileName")->text(), "blocked.log");
  EXPECT_EQ(page.rules_editor()->toPlainText(), "IP2=192.0.2.\n# comment\n");
  page.findChild<QCheckBox*>("blockedLog")->setChecked(true);
  page.findChild<QLineEdit*>("logFileName")->setText("b$YYYY$.log");
  page.rules_editor()->setPlainText("IP2=198.51.\nNOLOG=1,PORT2=22");
  page.save();
  EXPECT_TRUE(has("BlockedLog=1"));
  EXPECT_TRUE(has("AutoBlockLogFileName=b$YYYY$.log"));
  EXPECT_TRUE(has("AutoBlockLogFormat=F"));  // not the page's
  EXPECT_EQ(files.files.at(rules), "IP2=198.51.\nNOLOG=1,PORT2=22\n");

  // A rule file that cannot be read is never replaced by the empty editor.
  files.unreadable.insert(rules);
  AutoKillSessionPage blind(profile, "/data/", Language::English, nullptr);
  blind.load();
  EXPECT_FALSE(blind.rules_editor()->isEnabled());
  const int replaced = files.replace_count;
  blind.save();
  EXPECT_EQ(files.replace_count, replaced);
  EXPECT_EQ(files.files.at(rules), "IP2=198.51.\nNOLOG=1,PORT2=22\n");
}

TEST_F(OptionsRig, MonitorColorCopyItemsLogFileAndNetstatPages) {
  files.files[kIni] =
      "[Surveil]\nColor_com=255\n"
      "[Session]\nCopyItem=0:1:0:0:0:0:0:0:1:7:8:9\nLogCheck=1\nLogCycleTime=5000\nLogWriteMode=3\n"
      "[Netstat]\nFilter=1:0:1:1:1:1:1:1:1:1:1:0\n";

  MonitorColorPage colours(profile, Language::English, nullptr);
  colours.load();
  const auto com = static_cast<int>(shared::ColourKey::Com);
  EXPECT_EQ(colours.colors()->color(com), 255u);
  EXPECT_EQ(colours.colors()->topLevelItemCount(), 37);
  auto c = colours.colors()->colors();
  c[static_cast<std::size_t>(shared::ColourKey::LgJp)] = 0x123456;
  colours.colors()->set_colors(c);
  colours.save();
  EXPECT_TRUE(has("Color_lg_jp=" + std::to_string(0x123456)));
  EXPECT_TRUE(has("Color_com=255"));
  EXPECT_TRUE(has("Color_TextBk=0"));

  CopyItemsPage copy(shell::OptionsPageId::SessionCopyItems, "Session", session_copy_columns(), profile,
                     Language::Japanese, nullptr);
  copy.load();
  EXPECT_EQ(copy.column_box(8)->text(), "イメージ名(PID)");
  EXPECT_TRUE(copy.column_box(1)->isChecked());
  EXPECT_FALSE(copy.column_box(4)->isChecked());
  EXPECT_EQ(copy.column_box(9), nullptr);
  copy.column_box(4)->setChecked(true);
  copy.column_box(1)->setChecked(false);
  copy.save();
  EXPECT_TRUE(has("CopyItem=0:0:0:0:1:0:0:0:1:7:8:9"));  // the fields past the list stay

  LogFilePage log(shell::OptionsPageId::SessionLogFile, logging::LogKind::Session, "x", profile, Language::English,
                  nullptr);
  log.load();
  EXPECT_TRUE(log.findChild<QCheckBox*>("logCheck")->isChecked());
  EXPECT_EQ(log.findChild<QLineEdit*>("logFileName")->text(), "tarnix_session$YYYY$$MM$.log");
  EXPECT_EQ(log.findChild<QPlainTextEdit*>("logFmt")->toPlainText().section('\n', 0, 0),
            "----- Session Log $DATE$ $TIME$ -----");
  log.findChild<QCheckBox*>("logSound")->setChecked(true);
  log.save();
  // Untouched controls keep the stored values the controls cannot show.
  EXPECT_TRUE(has("LogCycleTime=5000"));
  EXPECT_TRUE(has("LogWriteMode=3"));
  EXPECT_TRUE(has("LogSound=1"));
  EXPECT_TRUE(has("LogCheck=1"));
  EXPECT_TRUE(has("LogFmt=----- Session Log $DATE$ $TIME$ -----$CRLF$$SESSION$$CRLF$Connections: $CONNECTIONS$$CRLF$"));

  NetstatViewPage netstat(profile, Language::English, nullptr);
  netstat.load();
  ASSERT_EQ(netstat.states()->count(), 12);
  EXPECT_EQ(netstat.states()->item(4)->text(), " ESTABLISHED (TCP connection is established the state of communication)");
  EXPECT_EQ(netstat.states()->item(1)->checkState(), Qt::Unchecked);
  netstat.states()->item(1)->setCheckState(Qt::Checked);
  netstat.states()->item(10)->setCheckState(Qt::Unchecked);
  netstat.save();
  EXPECT_TRUE(has("Filter=1:1:1:1:1:1:1:1:1:1:0:0"));
}

}  // namespace
}  // namespace tw::ui
