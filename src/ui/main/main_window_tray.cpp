// The tray icon and its pictures, the Mini Monitor and the traffic notice:
// what the window shows besides itself.
#include "ui/main/main_window.h"

#include <QSystemTrayIcon>

#include "platform/clock.h"
#include "settings/profile.h"
#include "shell/notice_logic.h"
#include "traffic/mini_monitor_logic.h"
#include "traffic/traffic_monitor.h"
#include "ui/main/app_icon.h"
#include "ui/main/main_window_parts.h"
#include "ui/main/tray_controller.h"
#include "ui/minimonitor/mini_monitor.h"
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
