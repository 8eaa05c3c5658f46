// The tray icon and its pictures, the Mini Monitor and the traffic notice:
// what the window shows besides itself.
#include "ui/main/main_window_tray.h"

#include <QSystemTrayIcon>

#include "platform/clock.h"
#include "settings/profile.h"
#include "shell/notice_logic.h"
#include "traffic/mini_monitor_logic.h"
#include "traffic/traffic_monitor.h"
#include "ui/main/app_icon.h"
#include "ui/main/main_window.h"
#include "ui/main/main_window_parts.h"
#include "ui/minimonitor/mini_monitor.h"
#include "ui/minimonitor/tray_icons.h"
#include "ui/notice/notice_dialog.h"

namespace tw::ui {

using namespace main_window_parts;

namespace {

// The Options page of the Mini Monitor's menu item: General / Mini Monitor.
constexpr int kMiniMonitorOptionsGroup = 0;
constexpr int kMiniMonitorOptionsTab = 3;

}  // namespace

// ---------------------------------------------------------------------------
// The tray icon

TrayController::TrayController(Language lang, const shell::TrayIconSettings& settings, QObject* parent)
    : QObject(parent), lang_(lang), settings_(settings), pictures_(std::make_unique<TrayIcons>(settings)) {}

TrayController::~TrayController() = default;

bool TrayController::create(QMenu* menu) {
  if (icon_) return true;
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
  icon_ = new QSystemTrayIcon(application_icon(), this);
  icon_->setContextMenu(menu);
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) emit triggered();
  });
  tip_.clear();
  show_own_icon();
  icon_->show();
  return true;
}

bool TrayController::usable() const { return icon_ && QSystemTrayIcon::isSystemTrayAvailable(); }

void TrayController::remove() {
  if (!icon_) return;
  icon_->hide();
  icon_->deleteLater();  // its menu may be the caller
  icon_ = nullptr;
  picture_ = Picture::Unknown;
}

void TrayController::set(const QIcon& icon, const QString& tip) {
  if (!icon_) return;
  icon_->setIcon(icon);
  if (tip != tip_) {
    tip_ = tip;
    icon_->setToolTip(tip);
  }
}

void TrayController::show_own_icon() {
  set(application_icon(), product_name());
  picture_ = Picture::OwnIcon;
}

void TrayController::show() {
  if (icon_) icon_->show();
}

void TrayController::set_settings(const shell::TrayIconSettings& settings) {
  settings_ = settings;
  pictures_->set_settings(settings);
  if (picture_ != Picture::OwnIcon) picture_ = Picture::Unknown;
}

void TrayController::refresh(traffic::InterfaceState state, const traffic::TrafficFigures& f, bool tray_monitor) {
  if (!icon_) return;
  if (state == traffic::InterfaceState::Changed) {
    if (picture_ != Picture::Error) set(pictures_->error_icon(), qs(traffic::tray_error_tip(lang_)));
    picture_ = Picture::Error;
    return;
  }
  if (!tray_monitor) {
    const int index = traffic::transfer_state(f.latest_send, f.latest_recv);
    if (picture_ != Picture::Status || status_ != index) set(pictures_->status_icon(index), product_name());
    picture_ = Picture::Status;
    status_ = index;
    return;
  }
  bool changed = false;
  const QIcon icon = pictures_->monitor_icon(f.smoothed_send, f.smoothed_recv, &changed);
  const QString tip =
      qs(traffic::tray_monitor_tip(lang_, f.capture_ms, f.smoothed_send, f.smoothed_recv, settings_.unit));
  if (changed || picture_ != Picture::Monitor) icon_->setIcon(icon);
  if (tip != tip_) {
    tip_ = tip;
    icon_->setToolTip(tip);
  }
  picture_ = Picture::Monitor;
}

// ---------------------------------------------------------------------------
// The window's use of it

void MainWindow::create_tray() {
  if (!use_system_tray_ || tray_->icon()) return;
  if (!tray_->create(tray_menu_)) {
    // Said once: minimising is then an ordinary minimise.
    if (note_) note_("no system tray on this desktop: Tarnwatch runs without a tray icon");
    return;
  }
}

bool MainWindow::tray_usable() const { return tray_->usable(); }

void MainWindow::back_to_original_size() {
  if (shut_down_) return;
  if (isVisible() && !isMinimized()) {
    if (tray_usable()) hide_to_tray();
    else showMinimized();
    return;
  }
  shown_ = true;
  apply_topmost();
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  reattach_mini();
  restack(shell::StackingEvent::MainWindowRestored);
}

void MainWindow::hide_to_tray() {
  hide();
  setWindowState(windowState() & ~Qt::WindowMinimized);  // shown again as it was before
  shown_ = false;
  tray_->show_own_icon();
  tray_->show();
}

void MainWindow::toggle_status_icon() {
  shell_.task_tray_icon = !shell_.task_tray_icon;
  if (!shell_.task_tray_icon) tray_->show_own_icon();
  shell::save_shell_flag(profile_, shell::ShellFlag::TaskTrayIcon, shell_.task_tray_icon);
}

void MainWindow::monitor_tick() {
  if (shut_down_) return;
  if (mini_) mini_->refresh();
  if (shell_.task_tray_icon && tray_->icon())
    tray_->refresh(traffic_.interface_state(), traffic_.figures(), shell_.task_tray_monitor);
}

QSystemTrayIcon* MainWindow::tray_icon() const { return tray_->icon(); }

QString MainWindow::tray_tip() const { return tray_->tip(); }

// ---------------------------------------------------------------------------
// Mini Monitor

void MainWindow::toggle_mini_monitor() {
  shell_.mini_monitor = !shell_.mini_monitor;
  shell::save_shell_flag(profile_, shell::ShellFlag::MiniMonitor, shell_.mini_monitor);
  if (shell_.mini_monitor) open_mini_monitor();
  else close_mini_monitor();
}

void MainWindow::center_mini_monitor() {
  if (!mini_) return;
  mini_->center_on_screen();
  restack(shell::StackingEvent::MiniMonitorCentred);
}

void MainWindow::open_mini_monitor() {
  if (mini_ || shut_down_) return;
  mini_ = new MiniMonitor(traffic_, profile_, lang_, this, places_windows_);
  connect(mini_, &MiniMonitor::close_requested, this, [this] {
    if (!shell_.mini_monitor) return;
    toggle_mini_monitor();
  });
  connect(mini_, &MiniMonitor::exit_requested, this, &MainWindow::command_exit);
  connect(mini_, &MiniMonitor::options_requested, this, [this] {
    shell::save_options_position(profile_, kMiniMonitorOptionsGroup, kMiniMonitorOptionsTab);
    open_options();
  });
  connect(mini_, &MiniMonitor::top_most_requested, this,
          [this](bool on) { set_topmost(on, shell::StackingEvent::TopmostFromMiniMonitor); });
  mini_->refresh();
  mini_->show();
  if (isVisible()) mini_owner_stale_ = false;  // shown under the main window's native window of now
  restack(shell::StackingEvent::MiniMonitorOpened);
}

void MainWindow::close_mini_monitor() {
  // Deleted later: the request may come from the Mini Monitor's own menu.
  // The placement is written now, not only by the destructor then, so that a
  // Mini Monitor opened again before that starts where this one was.
  if (!mini_) return;
  MiniMonitor* m = mini_;
  mini_ = nullptr;
  m->hide();
  m->save_placement();
  m->deleteLater();
}

// ---------------------------------------------------------------------------
// Notice

void MainWindow::toggle_notice_box() {
  shell_.notice_box = !shell_.notice_box;
  shell::save_shell_flag(profile_, shell::ShellFlag::NoticeBox, shell_.notice_box);
}

void MainWindow::notice_tick() {
  if (shut_down_) return;
  const bool hidden = !isVisible() || isMinimized();
  if (!shell::notice_due(hidden, shell_.notice_box, shell_.notice_box_interval, clock_.local_now())) return;
  notice_timer_.stop();
  QString text = QString::fromStdString(traffic_.transfer_information_text());
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  while (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  NoticeDialog::show_traffic_notice(text, shell_.notice, lang_);
  notice_timer_.start();
}

}  // namespace tw::ui
