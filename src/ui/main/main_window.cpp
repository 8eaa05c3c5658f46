#include "ui/main/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/runtime.h"
#include "app/session_feature.h"
#include "platform/clock.h"
#include "settings/profile.h"
#include "traffic/traffic_monitor.h"
#include "ui/main/app_icon.h"
#include "ui/main/main_window_parts.h"
#include "ui/main/tray_controller.h"
#include "ui/main/window_system.h"
#include "ui/minimonitor/mini_monitor.h"
#include "ui/options/general_pages.h"
#include "ui/options/options_dialog.h"
#include "ui/packets/packet_monitor_page.h"
#include "ui/packetfilter/packet_filter_page.h"
#include "ui/pages/interface_page.h"
#include "ui/sessions/netstat_page.h"
#include "ui/sessions/session_monitor_page.h"
#include "ui/tools/tool_page_factory.h"
#include "ui/traffic/traffic_monitor_page.h"

#ifndef TW_VERSION
#define TW_VERSION "0"
#endif

namespace tw::ui {

using namespace main_window_parts;

MainWindow::MainWindow(MainWindowServices s, QWidget* parent)
    : QWidget(parent),
      profile_(*s.profile),
      traffic_(*s.traffic),
      runtime_(*s.runtime),
      clock_(*s.clock),
      lang_(s.lang),
      data_folder_(s.data_folder),
      launch_successor_(s.launch_successor),
      use_system_tray_(s.use_system_tray),
      places_windows_(s.places_windows ? *s.places_windows : window_placement_available()),
      note_(s.note),
      driver_(*s.runtime, *s.clock) {
  setWindowTitle(product_name());
  setWindowIcon(application_icon());

  shell_ = shell::load_shell_settings(profile_);
  tab_ = shell::clamp_main_tab(shell_.tab_cur_sel);

  tabs_ = new QTabWidget(this);
  tabs_->setDocumentMode(true);
  tabs_->tabBar()->setStyleSheet(QStringLiteral(
      "QTabBar::tab { padding: 3px 4px; border: 1px solid transparent; border-bottom: none; }"
      "QTabBar::tab:selected { background: palette(base); border-color: palette(mid); }"
      "QTabBar::tab:hover:!selected { background: palette(midlight); }"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(tabs_);

  create_pages(s);
  for (int t = 0; t < shell::kMainTabCount; ++t) {
    const shell::MainPage p = shell::kTabOrder[static_cast<std::size_t>(t)];
    tabs_->addTab(pages_[static_cast<std::size_t>(p)], qs(shell::page_label(lang_, p)));
  }
  tabs_->setCurrentIndex(tab_);
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (index >= 0) tab_ = shell::clamp_main_tab(index);
  });

  tray_ = new TrayController(lang_, shell_.tray_icon, this);
  connect(tray_, &TrayController::triggered, this, &MainWindow::back_to_original_size);
  create_menus();
  if (!places_windows_) {
    // After the menu's own update (connections run in order): greyed, and why.
    connect(window_menu_, &QMenu::aboutToShow, this, [this] {
      center_mini_action_->setEnabled(false);
      center_mini_action_->setToolTip(qs(shell::placement_unavailable_reason(lang_)));
    });
    window_menu_->setToolTipsVisible(true);
  }
  fit_tab_labels();
  create_shortcuts();

  setMinimumSize(shell::kMinClientWidth, shell::kMinClientHeight);
  placing_ = true;
  resize(shell::kDefaultClientWidth, shell::kDefaultClientHeight);
  placing_ = false;

  confirm_exit_ = [this] {
    return QMessageBox::question(this, product_name(), qs(shell::exit_question(lang_)),
                                 QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
  };
  snapshot_source_ = [this] { return traffic_page_ ? traffic_page_->frame() : QImage(); };

  // The notice timer must see second 0 of a minute: a precise timer keeps its
  // ticks a second apart instead of letting them wander across the boundary.
  notice_timer_.setTimerType(Qt::PreciseTimer);
  notice_timer_.setInterval(1000);
  connect(&notice_timer_, &QTimer::timeout, this, &MainWindow::notice_tick);
  monitor_timer_.setInterval(100);
  connect(&monitor_timer_, &QTimer::timeout, this, &MainWindow::monitor_tick);

  // The window's keys at their places in the runtime's shut-down.
  runtime_.add_shutdown_step(app::shutdown_step::kWindowState, [this](bool) { save_window_state(); });
  runtime_.add_shutdown_step(app::shutdown_step::kWindowPlacement, [this](bool) { save_placement(); });
}

MainWindow::~MainWindow() {
  // Destroying the window is an end like any other.
  shut_down(false);
}

void MainWindow::create_pages(const MainWindowServices& s) {
  for (int i = 0; i < shell::kMainPageCount; ++i) {
    const auto page = static_cast<shell::MainPage>(i);
    QWidget* w = nullptr;
    if (page == shell::MainPage::TrafficMonitor) {
      traffic_page_ = new TrafficMonitorPage(traffic_, profile_, lang_, clock_);
      connect(traffic_page_, &TrafficMonitorPage::snapshotRequested, this, [this] { take_snapshot(); });
      w = traffic_page_;
    } else if (page == shell::MainPage::PacketMonitor && s.packets) {
      w = new PacketMonitorPage(*s.packets, profile_, lang_);
    } else if (page == shell::MainPage::Interface && s.network_info && s.info_links) {
      w = new InterfacePage(profile_, *s.network_info, *s.info_links, lang_);
    } else if (page == shell::MainPage::SessionMonitor && s.sessions) {
      w = create_session_page(*s.sessions);
    } else if (page == shell::MainPage::Netstat && s.netstat.sockets && s.netstat.processes && s.netstat.names &&
               s.netstat.hosts && s.netstat.services) {
      w = new NetstatPage(profile_, s.netstat, lang_);
    } else if (ToolPage* tool = create_tool_page(page, profile_, s.tools, lang_)) {
      connect(tool, &ToolPage::optionsRequested, this, [this] { QTimer::singleShot(0, this, &MainWindow::open_options); });
      w = tool;
    } else if (page == shell::MainPage::PacketFilter && s.packet_filter) {
      w = new PacketFilterPage(*s.packet_filter, profile_, lang_);
      packet_filter_ = s.packet_filter;
    } else {
      // The monitors and tools of later releases: the tab is there, empty.
      w = new QWidget;
    }
    w->setObjectName(QStringLiteral("page%1").arg(i));
    pages_[static_cast<std::size_t>(i)] = w;
  }
  connect_list_commands();
}

void MainWindow::fit_tab_labels() {
  // Eleven tabs share the minimum client width. The faces differ between
  // desktops (the Japanese labels are wider still), so the tab font is made
  // smaller, half a point at a time, until the row fits without scroll
  // buttons; it never goes below 7 points.
  QTabBar* bar = tabs_->tabBar();
  const QWidget* corner = tabs_->cornerWidget(Qt::TopRightCorner);
  const int available = shell::kMinClientWidth - 8 - (corner ? corner->sizeHint().width() : 0);
  QFont font = bar->font();
  if (font.pointSizeF() <= 0) return;  // a pixel-sized face: leave it
  for (qreal size = font.pointSizeF(); size >= 7.0; size -= 0.5) {
    font.setPointSizeF(size);
    bar->setFont(font);
    int total = 0;
    for (int i = 0; i < bar->count(); ++i) total += bar->tabRect(i).width();
    if (total <= available) return;
  }
}

QWidget* MainWindow::create_session_page(app::SessionFeature& feature) {
  auto* p = new SessionMonitorPage(feature.monitor(), profile_, lang_, shell_.session_split_size);
  connect(p, &SessionMonitorPage::nextTabRequested, this, &MainWindow::next_tab);
  connect(p, &SessionMonitorPage::previousTabRequested, this, &MainWindow::previous_tab);
  connect(p, &SessionMonitorPage::splitSizeChanged, this, [this](int h) { shell_.session_split_size = h; });
  // The page follows every refresh the runtime runs, for as long as it exists.
  feature.set_changed_listener([page = QPointer<SessionMonitorPage>(p)] {
    if (page) page->show_monitor();
  });
  return p;
}

SessionMonitorPage* MainWindow::session_page() const {
  return qobject_cast<SessionMonitorPage*>(page(shell::MainPage::SessionMonitor));
}

NetstatPage* MainWindow::netstat_page() const { return qobject_cast<NetstatPage*>(page(shell::MainPage::Netstat)); }

QWidget* MainWindow::page(shell::MainPage page) const {
  const auto i = static_cast<std::size_t>(page);
  return i < pages_.size() ? pages_[i].data() : nullptr;
}

TrafficMonitorPage* MainWindow::traffic_page() const { return traffic_page_; }

MiniMonitor* MainWindow::mini_monitor() const { return mini_; }

void MainWindow::select_tab(int tab) {
  tab_ = shell::clamp_main_tab(tab);
  tabs_->setCurrentIndex(tab_);
}

// ---------------------------------------------------------------------------
// Start-up

void MainWindow::start() {
  if (started_ || shut_down_) return;
  started_ = true;
  runtime_.start();  // the logs' settings and the Report log's Start-Log entry

  const bool start_hidden = !shell_.main_window || shell_.minimized;
  // The placement first: a window without its native window yet is placed
  // by its frame's corner. The Mini Monitor hangs on this window and would
  // create it, and a native window placed before its frame is known lands
  // with its client area where the frame was meant to be.
  restore_placement();
  apply_topmost();
  if (shell_.mini_monitor) open_mini_monitor();
  create_tray();

  if (start_hidden && tray_usable()) {
    shown_ = false;  // straight into the tray: the window is never mapped
  } else if (start_hidden) {
    showMinimized();  // no tray to hide in: keep it reachable from the task bar
  } else if (shell_.is_zoomed) {
    showMaximized();
  } else {
    show();
  }
  reattach_mini();
  restack(shell::StackingEvent::StartedUp);
  notice_timer_.start();
  monitor_timer_.start();
  driver_.start();
}

// ---------------------------------------------------------------------------
// Commands

void MainWindow::command_exit() {
  force_close_ = false;
  close();
}

void MainWindow::tab_left() { select_tab(shell::tab_to_the_left(tab_)); }

void MainWindow::tab_right() { select_tab(shell::tab_to_the_right(tab_)); }

void MainWindow::next_tab() { select_tab(shell::next_tab_wrapping(tab_)); }

void MainWindow::previous_tab() { select_tab(shell::previous_tab_wrapping(tab_)); }

void MainWindow::open_options() {
  if (shut_down_) return;
  if (auto* open = findChild<OptionsDialog*>(QString(), Qt::FindDirectChildrenOnly)) {
    open->raise();
    open->activateWindow();
    return;
  }
  OptionsDialog dialog(profile_, data_folder_, lang_, this);
  if (auto* view = qobject_cast<GeneralViewPage*>(dialog.page(shell::OptionsPageId::GeneralView)))
    view->set_placement_available(places_windows_);
  const int result = dialog.exec();
  if (shut_down_) return;  // the program ended while the dialog was open
  if (result == QDialog::Accepted) apply_options();
}

void MainWindow::apply_options() {
  const int tab = tab_;
  const bool mini = shell_.mini_monitor;
  const int split = shell_.session_split_size;  // kept in memory until the end
  shell_ = shell::load_shell_settings(profile_);
  shell_.tab_cur_sel = tab;
  shell_.mini_monitor = mini;
  shell_.session_split_size = split;
  follow_topmost(shell::StackingEvent::TopmostFromMainWindow);
  if (!shell_.task_tray_icon) tray_->show_own_icon();
  if (traffic_page_) traffic_page_->reload_settings();
  if (auto* p = qobject_cast<InterfacePage*>(page(shell::MainPage::Interface))) p->reload_settings();
  if (auto* p = session_page()) p->reload_settings();
  if (auto* p = netstat_page()) p->reload_settings();
  if (auto* p = qobject_cast<PacketMonitorPage*>(page(shell::MainPage::PacketMonitor))) p->reload_settings();
  for (auto& p : pages_)
    if (auto* tool = qobject_cast<ToolPage*>(p.data())) tool->reload_settings();
  runtime_.reload_settings();  // the driver follows the new periods
  // The tray pictures are drawn again with the new colours on the next tick.
  tray_->set_settings(shell_.tray_icon);
  if (mini_) mini_->reload_settings();
}

void MainWindow::show_about() {
  if (shut_down_) return;
  QMessageBox::about(this, qs(shell::about_title(lang_)), qs(shell::about_text(lang_, TW_VERSION)));
}

void MainWindow::handle_command(const std::string& text) {
  if (shut_down_) return;
  runtime_.handle_command(text);
}

void MainWindow::serve_commands(platform::CommandServer* server) {
  if (shut_down_) return;
  driver_.serve_commands(server);
}

// ---------------------------------------------------------------------------
// Power events

void MainWindow::on_suspend() {
  if (shut_down_) return;
  runtime_.suspend();
}

void MainWindow::on_resume() {
  if (shut_down_ || restarting_) return;
  traffic_.restart(traffic::RestartMode::Restart);
  if (!launch_successor_ || !launch_successor_()) return;
  restarting_ = true;
  force_close_ = true;
  close();
}

// ---------------------------------------------------------------------------
// Window events

void MainWindow::closeEvent(QCloseEvent* event) {
  if (shut_down_) {
    event->accept();
    return;
  }
  if (shell::exit_needs_confirmation(force_close_, shell_.exit_confirmation_dialog)) {
    const bool ok = confirm_exit_ ? confirm_exit_() : true;
    if (!ok && !shut_down_) {
      event->ignore();
      return;
    }
  }
  event->accept();
  shut_down(restarting_);
}

void MainWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  // Minimising means hiding into the tray, when there is one. Done after
  // the state change has been handled by the window system.
  if (isMinimized() && started_ && !shut_down_ && tray_usable()) {
    QTimer::singleShot(0, this, [this] {
      if (isMinimized() && !shut_down_) hide_to_tray();
    });
  }
}

// ---------------------------------------------------------------------------
// Shut-down

void MainWindow::shut_down(bool restarting) {
  if (shut_down_) return;
  shut_down_ = true;

  // The runtime's timers and the command channel, then the monitor and the
  // notice timer.
  driver_.stop();
  monitor_timer_.stop();
  notice_timer_.stop();
  runtime_.shutdown(restarting);

  close_mini_monitor();
  // The pages go in page order; the Traffic Monitor page writes its
  // interface choice as it goes.
  for (auto& p : pages_) delete p.data();
  traffic_page_ = nullptr;
  emit finished();
}

void MainWindow::save_window_state() {
  const bool tray_present = tray_->usable() && tray_->icon()->isVisible();
  shell::save_window_state(profile_, tab_, shown_, tray_present, shell_.session_split_size);
  tray_->remove();
}

}  // namespace tw::ui
