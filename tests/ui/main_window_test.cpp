// The main window on the offscreen platform, with fakes for the settings
// file, the interface table and the clock.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

#include "app/runtime.h"
#include "app/session_feature.h"
#include "app/traffic_feature.h"
#include "logging/log_engine.h"
#include "platform/beeper.h"
#include "platform/fake/fake_clock.h"
#include "platform/fake/fake_connection_killer.h"
#include "platform/fake/fake_reverse_resolver.h"
#include "platform/fake/fake_socket_table.h"
#include "platform/fake/fake_file_store.h"
#include "platform/fake/fake_link_stats.h"
#include "platform/fake/fake_process_runner.h"
#include "platform/linux/command_socket.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"
#include "ui/main/main_window.h"
#include "ui/main/qt_translations.h"
#include "ui/notice/notice_dialog.h"
#include "ui/options/options_dialog.h"
#include "ui/controls/report_list_view.h"
#include "ui/models/session_list_model.h"
#include "ui/sessions/session_monitor_page.h"
#include "ui/traffic/traffic_graph.h"
#include "ui/tools/command_tool_page.h"
#include "ui/tools/host_bar.h"
#include "ui/traffic/traffic_monitor_page.h"

namespace tw::ui {
namespace {

struct SilentBeeper : platform::Beeper {
  void beep() override {}
};

// Everything the window needs, wired to fakes. Settings written into the
// profile before build() are what the window starts with.
struct Rig {
  platform::FakeFileStore files;
  settings::Profile profile{files, "/data/tarnix_u@h.ini"};
  platform::FakeLinkStats links;
  platform::FakeClock clock;
  SilentBeeper beeper;
  QTemporaryDir folder;
  std::unique_ptr<traffic::TrafficMonitor> traffic;
  std::unique_ptr<logging::LogEngine> logs;
  std::unique_ptr<app::Runtime> runtime;
  std::unique_ptr<app::TrafficFeature> feature;
  std::unique_ptr<MainWindow> window;
  int confirmations = 0;
  bool answer = false;
  int launches = 0;
  bool launch_ok = true;
  // Adds services that need the runtime (the Session Monitor) before the
  // window is made.
  std::function<void(app::Runtime&, MainWindowServices&)> configure;

  Rig() {
    links.add("eth0", 1000, 5000);
    clock.set_wall({2024, 5, 6, 7, 8, 9});
  }

  MainWindow& build(Language lang = Language::English) {
    traffic = std::make_unique<traffic::TrafficMonitor>(profile, links, clock, lang);
    logs = std::make_unique<logging::LogEngine>(profile, files, clock, beeper, lang, "/data/");
    runtime = std::make_unique<app::Runtime>(profile, *logs);
    feature = std::make_unique<app::TrafficFeature>(*runtime, profile, *traffic);
    MainWindowServices s;
    s.profile = &profile;
    s.traffic = traffic.get();
    s.runtime = runtime.get();
    s.clock = &clock;
    s.lang = lang;
    s.data_folder = folder.path().toStdString() + "/";
    s.use_system_tray = false;
    s.launch_successor = [this] {
      ++launches;
      return launch_ok;
    };
    if (configure) configure(*runtime, s);
    window = std::make_unique<MainWindow>(s);
    window->set_confirm_exit([this] {
      ++confirmations;
      return answer;
    });
    return *window;
  }
};

TEST(MainWindow, TabsInTabOrderWithTheirLabelsInBothLanguages) {
  const char* en[] = {"Traffic Monitor", "Packet Monitor", "Session Monitor", "Packet Filter",
                      "Interface",       "Statistics",     "NSLOOKUP",        "NETSTAT",
                      "WHOIS",           "PING",           "TRACERT"};
  const char* ja[] = {"トラフィックモニター", "IP監視モニター", "セッションモニター", "パケットフィルター",
                      "IF詳細",               "統計値",         "NSLOOKUP",           "NETSTAT",
                      "WHOIS",                "PING",           "TRACERT"};
  for (Language lang : {Language::English, Language::Japanese}) {
    Rig rig;
    MainWindow& w = rig.build(lang);
    EXPECT_EQ(w.windowTitle(), "Tarnwatch");
    ASSERT_EQ(w.tab_widget()->count(), 11);
    for (int t = 0; t < 11; ++t) {
      EXPECT_EQ(w.tab_widget()->tabText(t), QString::fromUtf8(lang == Language::English ? en[t] : ja[t]));
      EXPECT_EQ(w.tab_widget()->widget(t), w.page(shell::kTabOrder[static_cast<std::size_t>(t)]));
    }
    EXPECT_EQ(w.tab_widget()->widget(0), static_cast<QWidget*>(w.traffic_page()));
  }
}

// Qt's own texts (the message boxes' standard buttons among them) follow the
// program's language when the system has Qt's catalogue.
TEST(MainWindow, QtTextsFollowTheProgramLanguage) {
  const auto cancel = [] { return QCoreApplication::translate("QPlatformTheme", "Cancel"); };
  EXPECT_EQ(install_qt_translations(Language::English), nullptr);
  EXPECT_EQ(cancel(), "Cancel");
  if (!QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ja.qm"))
    GTEST_SKIP() << "Qt's Japanese catalogue is not installed";
  {
    const std::unique_ptr<QTranslator> ja = install_qt_translations(Language::Japanese);
    ASSERT_NE(ja, nullptr);
    EXPECT_EQ(cancel(), QString::fromUtf8("キャンセル"));
  }
  EXPECT_EQ(cancel(), "Cancel");  // gone with its translator
}

TEST(MainWindow, StoredTabIsClampedAndTheChoiceIsSavedAtTheEnd) {
  for (auto [stored, expected] : {std::pair{-3, 0}, {99, 10}, {4, 4}}) {
    Rig rig;
    rig.profile.write_int("Settings", "TabCurSel", stored);
    MainWindow& w = rig.build();
    EXPECT_EQ(w.current_tab(), expected);
    EXPECT_EQ(w.tab_widget()->currentIndex(), expected);
  }
  Rig rig;
  MainWindow& w = rig.build();
  w.tab_widget()->setCurrentIndex(7);  // as the user clicks
  EXPECT_EQ(w.current_tab(), 7);
  w.shut_down();
  EXPECT_EQ(rig.profile.read_int("Settings", "TabCurSel", -1), 7);
}

TEST(MainWindow, CtrlPageKeysStopAtTheEndsAndPageCommandsWrap) {
  Rig rig;
  MainWindow& w = rig.build();
  w.show();
  QApplication::setActiveWindow(&w);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

  QTest::keyClick(&w, Qt::Key_PageDown, Qt::ControlModifier);  // left, already at the first tab
  EXPECT_EQ(w.current_tab(), 0);
  QTest::keyClick(&w, Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(w.current_tab(), 1);
  w.select_tab(10);
  QTest::keyClick(&w, Qt::Key_PageUp, Qt::ControlModifier);  // right, already at the last tab
  EXPECT_EQ(w.current_tab(), 10);
  QTest::keyClick(&w, Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(w.current_tab(), 9);

  w.select_tab(10);
  w.next_tab();
  EXPECT_EQ(w.current_tab(), 0);
  w.previous_tab();
  EXPECT_EQ(w.current_tab(), 10);
  EXPECT_EQ(w.tab_widget()->currentIndex(), 10);
}

TEST(MainWindow, ExitConfirmationUnlessForcedOrSwitchedOff) {
  {
    Rig rig;
    rig.profile.write_int("Settings", "ExitConfirmationDialog", 1);
    MainWindow& w = rig.build();
    w.show();
    QSignalSpy finished(&w, &MainWindow::finished);
    w.command_exit();  // Cancel: nothing ends
    EXPECT_EQ(rig.confirmations, 1);
    EXPECT_FALSE(w.is_shut_down());
    EXPECT_TRUE(w.isVisible());

    // Escape is the Exit command too; now answered with OK.
    rig.answer = true;
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_EQ(rig.confirmations, 2);
    EXPECT_TRUE(w.is_shut_down());
    EXPECT_EQ(finished.count(), 1);
  }
  {
    Rig rig;  // forced (the restart after resume): no question
    rig.profile.write_int("Settings", "ExitConfirmationDialog", 1);
    MainWindow& w = rig.build();
    w.set_force_close(true);
    w.close();
    EXPECT_EQ(rig.confirmations, 0);
    EXPECT_TRUE(w.is_shut_down());
  }
  {
    Rig rig;  // the Exit command clears the force flag again
    rig.profile.write_int("Settings", "ExitConfirmationDialog", 1);
    MainWindow& w = rig.build();
    w.set_force_close(true);
    w.command_exit();
    EXPECT_EQ(rig.confirmations, 1);
    EXPECT_FALSE(w.is_shut_down());
  }
  {
    Rig rig;  // switched off: the close goes through at once
    MainWindow& w = rig.build();
    w.command_exit();
    EXPECT_EQ(rig.confirmations, 0);
    EXPECT_TRUE(w.is_shut_down());
  }
}

// Escape is the Exit command everywhere but in a tool tab, which takes it
// itself: from its output box, its host field, and an open drop-down list
// (which it closes) it ends nothing.
TEST(MainWindow, EscapeInAToolTabNeverExits) {
  Rig rig;
  platform::FakeFileStore tool_files;
  platform::FakeProcessRunner runner;
  rig.configure = [&](app::Runtime&, MainWindowServices& s) {
    s.tools.files = &tool_files;
    s.tools.processes = &runner;
    s.tools.data_folder = "/data/";
  };
  MainWindow& w = rig.build();
  w.show();
  QApplication::setActiveWindow(&w);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  w.select_tab(static_cast<int>(shell::MainPage::Ping));
  auto* ping = qobject_cast<CommandToolPage*>(w.page(shell::MainPage::Ping));
  ASSERT_NE(ping, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(ping));

  ping->output()->setFocus();
  QTest::keyClick(ping->output(), Qt::Key_Escape);
  EXPECT_FALSE(w.is_shut_down());
  QTest::keyClick(ping->bar()->hosts()->lineEdit(), Qt::Key_Escape);
  EXPECT_FALSE(w.is_shut_down());

  QComboBox* hosts = ping->bar()->hosts();
  hosts->showPopup();
  ASSERT_TRUE(QTest::qWaitFor([&] { return hosts->view()->isVisible(); }, 5000));
  QTest::keyClick(hosts->view(), Qt::Key_Escape);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !hosts->view()->isVisible(); }, 5000));
  EXPECT_FALSE(w.is_shut_down());
  EXPECT_EQ(rig.confirmations, 0);

  // Elsewhere Escape still ends the program.
  w.select_tab(0);
  QTest::keyClick(&w, Qt::Key_Escape);
  EXPECT_TRUE(w.is_shut_down());
}

TEST(MainWindow, ResumeRestartsOnlyWhenTheSuccessorStarted) {
  {
    Rig rig;
    rig.profile.write_int("Settings", "ExitConfirmationDialog", 1);
    MainWindow& w = rig.build();
    w.start();
    rig.launch_ok = false;  // no successor: this process goes on
    w.on_resume();
    EXPECT_EQ(rig.launches, 1);
    EXPECT_FALSE(w.is_shut_down());
    rig.launch_ok = true;
    w.on_resume();  // a successor waits for us: closes without the question
    EXPECT_EQ(rig.launches, 2);
    EXPECT_EQ(rig.confirmations, 0);
    EXPECT_TRUE(w.is_shut_down());
  }
  {
    // The restarting close leaves the Report log's End-Log entry to nobody:
    // the successor writes Start-Log, the suspend already wrote End-Log.
    Rig rig;
    rig.profile.write_int("Report", "LogCheck", 1);
    MainWindow& w = rig.build();
    w.start();
    auto logs = [&rig] {
      auto files = rig.files.files;
      files.erase(rig.profile.path());
      return files;
    };
    w.on_suspend();
    const auto at_suspend = logs();
    ASSERT_FALSE(at_suspend.empty());
    ASSERT_NE(at_suspend.begin()->second.find("End-Log"), std::string::npos) << at_suspend.begin()->second;
    w.on_resume();
    EXPECT_TRUE(w.is_shut_down());
    EXPECT_EQ(logs(), at_suspend);
  }
}

TEST(MainWindow, SnapshotOnePerSecondWithItsName) {
  Rig rig;
  MainWindow& w = rig.build();
  const QString dir = rig.folder.path() + "/";

  // The graph's own frame is the default picture.
  w.traffic_page()->graph()->resize(320, 200);
  w.traffic_page()->graph()->render();
  rig.clock.set_wall({2024, 3, 7, 9, 5, 1});
  EXPECT_EQ(w.take_snapshot(), MainWindow::SnapshotResult::Written);
  const QString first = dir + "tarnix_snap20240307_090501.png";
  QImage saved(first);
  ASSERT_FALSE(saved.isNull());
  EXPECT_EQ(saved.size(), QSize(320, 200));
  EXPECT_FALSE(QFileInfo::exists(dir + "tarnix_snap20240307_090501.tmp"));

  // The same second again: silently skipped, the first picture untouched.
  w.set_snapshot_source([] { return QImage(10, 10, QImage::Format_RGB32); });
  EXPECT_EQ(w.take_snapshot(), MainWindow::SnapshotResult::Skipped);
  EXPECT_EQ(QImage(first).size(), QSize(320, 200));
  // A leftover temporary file of that second counts as well.
  rig.clock.set_wall({2024, 3, 7, 9, 5, 2});
  QFile tmp(dir + "tarnix_snap20240307_090502.tmp");
  ASSERT_TRUE(tmp.open(QIODevice::WriteOnly));
  tmp.close();
  EXPECT_EQ(w.take_snapshot(), MainWindow::SnapshotResult::Skipped);
  EXPECT_FALSE(QFileInfo::exists(dir + "tarnix_snap20240307_090502.png"));

  rig.clock.set_wall({2024, 3, 7, 9, 5, 3});
  EXPECT_EQ(w.take_snapshot(), MainWindow::SnapshotResult::Written);
  EXPECT_EQ(QImage(dir + "tarnix_snap20240307_090503.png").size(), QSize(10, 10));

  w.set_snapshot_source([] { return QImage(); });
  rig.clock.set_wall({2024, 3, 7, 9, 5, 4});
  EXPECT_EQ(w.take_snapshot(), MainWindow::SnapshotResult::NoFrame);
}

TEST(MainWindow, SnapshotGoesToAValidLogRootFolder) {
  Rig rig;
  QTemporaryDir logs;
  rig.profile.write_string("Settings", "LogRootFolder", (logs.path() + "/").toStdString());
  MainWindow& w = rig.build();
  w.set_snapshot_source([] { return QImage(8, 8, QImage::Format_RGB32); });
  EXPECT_EQ(w.take_snapshot(), MainWindow::SnapshotResult::Written);
  EXPECT_TRUE(QFileInfo::exists(logs.path() + "/tarnix_snap20240506_070809.png"));
  EXPECT_FALSE(QFileInfo::exists(rig.folder.path() + "/tarnix_snap20240506_070809.png"));
}

TEST(MainWindow, PlacementRestoredAndWrittenBackUnchanged) {
  Rig rig;
  rig.profile.write_placement("Position", {0, 1, -1, -1, -1, -1, 40, 30, 820, 330});
  MainWindow& w = rig.build();
  w.start();
  EXPECT_EQ(w.pos(), QPoint(40, 30));
  EXPECT_EQ(w.size(), QSize(780, 300));
  w.resize(500, 100);  // below the minimum client size: refused
  EXPECT_EQ(w.size(), QSize(770, 200));
  w.resize(780, 300);
  w.shut_down();
  std::array<int, 10> back{};
  ASSERT_TRUE(rig.profile.read_placement("Position", back));
  EXPECT_EQ(back, (std::array<int, 10>{0, 1, -1, -1, -1, -1, 40, 30, 820, 330}));
  EXPECT_EQ(rig.profile.read_int("Settings", "IsZoomed", -1), 0);
  EXPECT_EQ(rig.profile.read_int("Settings", "MainWindow", -1), 1);
  // The pages are gone after the shut-down.
  EXPECT_EQ(w.page(shell::MainPage::TrafficMonitor), nullptr);
}

TEST(MainWindow, MenuSwitchesAreStoredAtOnce) {
  Rig rig;
  MainWindow& w = rig.build();
  w.start();
  w.toggle_topmost();
  w.toggle_status_icon();
  w.toggle_notice_box();
  w.toggle_mini_monitor();
  // Written before any shut-down: a crash later keeps the user's choice.
  EXPECT_EQ(rig.profile.read_int("Settings", "WindowTopMost", -1), 1);
  EXPECT_EQ(rig.profile.read_int("Settings", "TaskTrayIcon", -1), 0);
  EXPECT_EQ(rig.profile.read_int("Settings", "NoticeBox", -1), 1);
  EXPECT_EQ(rig.profile.read_int("Settings", "MiniMonitor", -1), 1);
  w.toggle_mini_monitor();
  w.toggle_topmost();
  EXPECT_EQ(rig.profile.read_int("Settings", "MiniMonitor", -1), 0);
  EXPECT_EQ(rig.profile.read_int("Settings", "WindowTopMost", -1), 0);
  w.shut_down();
}

TEST(MainWindow, StartsMinimisedWhenStoredHiddenAndNoTrayExists) {
  Rig rig;
  rig.profile.write_int("Settings", "MainWindow", 0);
  MainWindow& w = rig.build();
  w.start();
  EXPECT_TRUE(w.windowState() & Qt::WindowMinimized);
  EXPECT_TRUE(w.main_window_shown());  // reachable: not hidden away
}

TEST(MainWindow, NoticeOnlyWhileHiddenAtTheIntervalMinute) {
  auto notices = [] {
    int n = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
      if (qobject_cast<NoticeDialog*>(top) && !top->property("counted").toBool()) {
        top->setProperty("counted", true);
        ++n;
      }
    return n;
  };
  Rig rig;
  rig.profile.write_int("Settings", "NoticeBox", 1);
  rig.profile.write_int("Settings", "NoticeBoxInterval", 10);
  MainWindow& w = rig.build();
  rig.clock.set_wall({2024, 1, 1, 12, 10, 1});
  w.notice_tick();
  EXPECT_EQ(notices(), 0);
  rig.clock.set_wall({2024, 1, 1, 12, 10, 0});
  w.notice_tick();  // never shown: hidden
  EXPECT_EQ(notices(), 1);
  w.show();
  w.notice_tick();
  EXPECT_EQ(notices(), 0);
}

TEST(MainWindow, CommandsFromTheChannelReachTheTrafficMonitor) {
  Rig rig;
  MainWindow& w = rig.build();
  const std::string path = rig.folder.path().toStdString() + "/cmd.sock";
  auto server = platform::CommandServer::listen(path);
  ASSERT_TRUE(server.ok()) << server.error().message();
  w.serve_commands(server->get());
  QSignalSpy restarts(w.traffic_page()->graph(), &TrafficGraph::statisticsRestarted);
  ASSERT_TRUE(platform::send_command(path, "tarnix.trafficmonitor /init ").ok());  // not a command
  ASSERT_TRUE(platform::send_command(path, "tarnix.trafficmonitor /init").ok());
  ASSERT_TRUE(restarts.wait(5000));
  QCoreApplication::processEvents();
  ASSERT_EQ(restarts.count(), 1);
  EXPECT_EQ(restarts.at(0).at(0).toInt(), static_cast<int>(traffic::RestartMode::Restart));
}

// Work a feature registers with the runtime runs from the window's event loop
// as it does in tarnixd's poll loop, on the runtime's clock, and stops with
// the shut-down, which runs the window's steps among the runtime's.
TEST(MainWindow, RuntimeTimersRunFromTheEventLoopUntilTheShutDown) {
  Rig rig;
  MainWindow& w = rig.build();
  int refreshes = 0;
  rig.runtime->add_timer(20, [] { return std::uint32_t{500}; }, [&] { ++refreshes; });
  std::vector<std::string> steps;
  rig.runtime->add_shutdown_step(app::shutdown_step::kStopSampling, [&](bool) { steps.push_back("sampler"); });
  rig.runtime->add_shutdown_step(app::shutdown_step::kSaveTotals, [&](bool) {
    steps.push_back(rig.profile.read_string("Settings", "Position", "").empty() ? "no placement" : "placement");
  });
  w.start();
  QTest::qWait(30);
  EXPECT_EQ(refreshes, 0) << "not due on the runtime's clock";
  rig.clock.advance_ms(500);
  EXPECT_TRUE(QTest::qWaitFor([&] { return refreshes == 1; }, 5000));

  w.shut_down();
  EXPECT_EQ(steps, (std::vector<std::string>{"sampler", "placement"}));
  rig.clock.advance_ms(5000);
  QTest::qWait(30);
  EXPECT_EQ(refreshes, 1);
}

TEST(MainWindow, OptionsOkReloadsTheShellSettings) {
  Rig rig;
  MainWindow& w = rig.build();
  EXPECT_FALSE(w.shell().exit_confirmation_dialog);
  rig.profile.write_int("Settings", "ExitConfirmationDialog", 1);
  QTimer::singleShot(0, [] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<OptionsDialog*>(top)) d->accept();
  });
  w.open_options();
  EXPECT_TRUE(w.shell().exit_confirmation_dialog);
}

// The Session Monitor tab follows the runtime's refreshes, hands Ctrl+Tab to
// the window, and its pane height is what the shut-down writes, even after
// the options dialog re-read the shell's keys.
TEST(MainWindow, SessionTabFollowsTheRuntimeAndKeepsItsPaneHeight) {
  platform::FakeSocketTable sockets;
  platform::FakeProcessTable processes;
  platform::FakeConnectionKiller killer;
  platform::FakeReverseResolver resolver;
  platform::FakeLookupWorkers workers;
  shared::HostNameCache hosts{resolver, workers};
  shared::FlowKeyTable keys;
  sessions::ProcessNameCache names{processes};
  platform::SocketRow row;
  row.local_address = *shared::parse_address("10.0.0.1");
  row.local_port = 40000;
  row.remote_address = *shared::parse_address("192.0.2.7");
  row.remote_port = 443;
  row.state = 5;
  sockets.tcp = {row};
  std::unique_ptr<sessions::SessionMonitor> monitor;
  std::unique_ptr<app::SessionFeature> feature;

  Rig rig;
  rig.profile.write_int("Session", "SplitSize", 150);
  rig.configure = [&](app::Runtime& runtime, MainWindowServices& s) {
    monitor = std::make_unique<sessions::SessionMonitor>(
        sessions::SessionMonitorDeps{sockets, processes, killer, rig.clock, rig.files, hosts, keys, names},
        sessions::SessionMonitorConfig{}, sessions::load_session_settings(rig.profile),
        sessions::load_autoblock_settings(rig.profile));
    feature = std::make_unique<app::SessionFeature>(runtime, *monitor, "", true);
    s.sessions = feature.get();
  };
  MainWindow& w = rig.build();
  SessionMonitorPage* page = w.session_page();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(w.tab_widget()->widget(2), static_cast<QWidget*>(page));
  EXPECT_EQ(page->split_size(), 150);
  EXPECT_EQ(page->model()->rowCount(), 0);
  rig.runtime->start();
  rig.runtime->fire_timer(app::kTimerSessionRefresh);
  EXPECT_EQ(page->model()->rowCount(), 1);
  EXPECT_EQ(page->connections_label()->text(), " Connections (Max) :    1 (   1)");

  w.show();
  QApplication::setActiveWindow(&w);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  w.select_tab(2);
  page->list()->setFocus();
  QTest::keyClick(page->list(), Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(w.current_tab(), 3);
  w.select_tab(2);
  page->list()->setFocus();
  QTest::keyClick(page->list(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(w.current_tab(), 1);

  emit page->splitSizeChanged(300);
  QTimer::singleShot(0, [] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<OptionsDialog*>(top)) d->accept();
  });
  w.open_options();
  w.shut_down();
  EXPECT_EQ(rig.profile.read_int("Session", "SplitSize", 0), 300);
  workers.run_all();  // the lookups the refresh started, before the cache goes
}

}  // namespace
}  // namespace tw::ui
