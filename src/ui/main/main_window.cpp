#include "ui/main/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/core.h"
#include "shell/edge_snap.h"
#include "shell/notice_logic.h"
#include "app/startup.h"
#include "platform/clock.h"
#include "platform/linux/command_socket.h"
#include "settings/profile.h"
#include "traffic/mini_monitor_logic.h"
#include "traffic/traffic_monitor.h"
#include "ui/main/app_icon.h"
#include "ui/minimonitor/mini_monitor.h"
#include "ui/minimonitor/tray_icons.h"
#include "ui/notice/notice_dialog.h"
#include "ui/options/options_dialog.h"
#include "ui/pages/interface_page.h"
#include "ui/pixel_rect_qt.h"
#include "ui/traffic/traffic_monitor_page.h"

#ifndef TW_VERSION
#define TW_VERSION "0"
#endif

namespace tw::ui {
namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

const QString& product_name() {
  static const QString name = qs(shell::kProductName);
  return name;
}

// What the tray icon shows, so that the 100 ms refresh hands the desktop a
// picture only when it changes.
constexpr qint64 kTrayOwnIcon = -1;
constexpr qint64 kTrayError = -2;
constexpr qint64 kTrayMonitor = -3;

// The Options page of the Mini Monitor's menu item: General / Mini Monitor.
constexpr int kMiniMonitorOptionsGroup = 0;
constexpr int kMiniMonitorOptionsTab = 3;

}  // namespace

MainWindow::MainWindow(MainWindowServices s, QWidget* parent)
    : QWidget(parent),
      profile_(*s.profile),
      traffic_(*s.traffic),
      core_(*s.core),
      clock_(*s.clock),
      lang_(s.lang),
      data_folder_(s.data_folder),
      stop_sampling_(s.stop_sampling),
      release_status_block_(s.release_status_block),
      launch_successor_(s.launch_successor),
      use_system_tray_(s.use_system_tray) {
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

  tray_icons_ = std::make_unique<TrayIcons>(shell_.tray_icon);
  create_menus();
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

  // Timer 1 must see second 0 of a minute: a precise timer keeps its ticks a
  // second apart instead of letting them wander across the boundary.
  notice_timer_.setTimerType(Qt::PreciseTimer);
  notice_timer_.setInterval(1000);
  connect(&notice_timer_, &QTimer::timeout, this, &MainWindow::notice_tick);
  monitor_timer_.setInterval(100);
  connect(&monitor_timer_, &QTimer::timeout, this, &MainWindow::monitor_tick);
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
      traffic_page_ = new TrafficMonitorPage(traffic_, profile_, lang_);
      connect(traffic_page_, &TrafficMonitorPage::snapshotRequested, this, [this] { take_snapshot(); });
      w = traffic_page_;
    } else if (page == shell::MainPage::Interface && s.network_info && s.info_links) {
      w = new InterfacePage(profile_, *s.network_info, *s.info_links, lang_);
    } else {
      // The monitors and tools of later releases: the tab is there, empty.
      w = new QWidget;
    }
    w->setObjectName(QStringLiteral("page%1").arg(i));
    pages_[static_cast<std::size_t>(i)] = w;
  }
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
// Menus and keys

void MainWindow::create_menus() {
  using shell::TrayMenuItem;
  using shell::WindowMenuItem;

  window_menu_ = new QMenu(this);
  status_icon_action_ = window_menu_->addAction(qs(shell::window_menu_text(lang_, WindowMenuItem::StatusIcon)));
  notice_action_ = window_menu_->addAction(qs(shell::window_menu_text(lang_, WindowMenuItem::NoticeDialog)));
  mini_action_ = window_menu_->addAction(qs(shell::window_menu_text(lang_, WindowMenuItem::MiniMonitor)));
  window_menu_->addSeparator();
  center_mini_action_ = window_menu_->addAction(qs(shell::window_menu_text(lang_, WindowMenuItem::CenterMiniMonitor)));
  window_menu_->addSeparator();
  QAction* options = window_menu_->addAction(qs(shell::window_menu_text(lang_, WindowMenuItem::Options)));
  QAction* about = window_menu_->addAction(qs(shell::window_menu_text(lang_, WindowMenuItem::About)));
  for (QAction* a : {status_icon_action_, notice_action_, mini_action_}) a->setCheckable(true);
  connect(status_icon_action_, &QAction::triggered, this, &MainWindow::toggle_status_icon);
  connect(notice_action_, &QAction::triggered, this, &MainWindow::toggle_notice_box);
  connect(mini_action_, &QAction::triggered, this, &MainWindow::toggle_mini_monitor);
  connect(center_mini_action_, &QAction::triggered, this, &MainWindow::center_mini_monitor);
  // Menu actions run after the menu has closed, so that a modal dialog they
  // open does not start inside the menu's own event handling.
  connect(options, &QAction::triggered, this, [this] { QTimer::singleShot(0, this, &MainWindow::open_options); });
  connect(about, &QAction::triggered, this, [this] { QTimer::singleShot(0, this, &MainWindow::show_about); });
  connect(window_menu_, &QMenu::aboutToShow, this, &MainWindow::update_menu_checks);

  // Reached from the tab row: a button at its right end and a right click on
  // the tabs.
  auto* corner = new QToolButton(tabs_);
  corner->setAutoRaise(true);
  corner->setPopupMode(QToolButton::InstantPopup);
  corner->setMenu(window_menu_);
  corner->setArrowType(Qt::DownArrow);
  corner->setToolTip(product_name());
  corner->setObjectName(QStringLiteral("windowMenuButton"));
  tabs_->setCornerWidget(corner, Qt::TopRightCorner);
  tabs_->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(tabs_->tabBar(), &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { window_menu_->popup(tabs_->tabBar()->mapToGlobal(pos)); });

  tray_menu_ = new QMenu(this);
  for (TrayMenuItem item : shell::kTrayMenuItems) {
    QAction* a = tray_menu_->addAction(qs(shell::tray_menu_text(lang_, item)));
    switch (item) {
      case TrayMenuItem::BackToOriginalSize:
        tray_menu_->setDefaultAction(a);
        connect(a, &QAction::triggered, this, &MainWindow::back_to_original_size);
        break;
      case TrayMenuItem::StatusIcon:
        tray_status_icon_action_ = a;
        connect(a, &QAction::triggered, this, &MainWindow::toggle_status_icon);
        break;
      case TrayMenuItem::NoticeDialog:
        tray_notice_action_ = a;
        connect(a, &QAction::triggered, this, &MainWindow::toggle_notice_box);
        break;
      case TrayMenuItem::MiniMonitor:
        tray_mini_action_ = a;
        connect(a, &QAction::triggered, this, &MainWindow::toggle_mini_monitor);
        break;
      case TrayMenuItem::Options:
        connect(a, &QAction::triggered, this, [this] { QTimer::singleShot(0, this, &MainWindow::open_options); });
        break;
      case TrayMenuItem::About:
        connect(a, &QAction::triggered, this, [this] { QTimer::singleShot(0, this, &MainWindow::show_about); });
        break;
      case TrayMenuItem::Exit:
        connect(a, &QAction::triggered, this, [this] { QTimer::singleShot(0, this, &MainWindow::command_exit); });
        break;
    }
    if (a != tray_menu_->defaultAction() && item != TrayMenuItem::Options && item != TrayMenuItem::About &&
        item != TrayMenuItem::Exit)
      a->setCheckable(true);
  }
  connect(tray_menu_, &QMenu::aboutToShow, this, &MainWindow::update_menu_checks);
}

void MainWindow::update_menu_checks() {
  for (QAction* a : {status_icon_action_, tray_status_icon_action_}) a->setChecked(shell_.task_tray_icon);
  for (QAction* a : {notice_action_, tray_notice_action_}) a->setChecked(shell_.notice_box);
  for (QAction* a : {mini_action_, tray_mini_action_}) a->setChecked(shell_.mini_monitor);
  center_mini_action_->setEnabled(mini_ != nullptr);
}

void MainWindow::create_shortcuts() {
  // Window shortcuts act before the focused page sees the key, wherever the
  // focus is inside the window.
  auto add = [this](QKeySequence keys, void (MainWindow::*slot)()) {
    auto* sc = new QShortcut(keys, this);
    sc->setContext(Qt::WindowShortcut);
    connect(sc, &QShortcut::activated, this, slot);
  };
  add(QKeySequence(Qt::SHIFT | Qt::Key_Escape), &MainWindow::command_exit);
  add(QKeySequence(Qt::Key_Escape), &MainWindow::command_exit);
  add(QKeySequence(Qt::ALT | Qt::Key_F10), &MainWindow::open_options);
  add(QKeySequence(Qt::CTRL | Qt::Key_PageDown), &MainWindow::tab_left);
  add(QKeySequence(Qt::CTRL | Qt::Key_PageUp), &MainWindow::tab_right);
}

// ---------------------------------------------------------------------------
// Start-up

void MainWindow::start() {
  if (started_ || shut_down_) return;
  started_ = true;
  core_.start();  // the logs' settings and the Report log's Start-Log entry

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
  restack(shell::StackingEvent::StartedUp);
  start_timers();
}

void MainWindow::restore_placement() {
  std::array<int, 10> list{};
  if (!profile_.read_placement("Position", list)) return;
  const shell::WindowPlacement stored = shell::WindowPlacement::from_list(list);
  std::vector<tw::PixelRect> areas;
  if (QScreen* primary = QGuiApplication::primaryScreen()) areas.push_back(to_pixel_rect(primary->availableGeometry()));
  for (QScreen* sc : QGuiApplication::screens())
    if (sc != QGuiApplication::primaryScreen()) areas.push_back(to_pixel_rect(sc->availableGeometry()));
  const tw::PixelRect r = shell::bring_on_screen(stored.normal, areas, shell::kMinClientWidth, shell::kMinClientHeight);
  placing_ = true;
  move(r.left, r.top);
  resize(r.width(), r.height());
  placing_ = false;
  normal_rect_ = r;
  have_normal_rect_ = true;
  // Checked again once the window is on screen and its frame is known.
  pending_placement_ = r;
}

shell::FrameMargins MainWindow::frame_margins() const {
  const QRect frame = frameGeometry();
  const QRect client = geometry();
  return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
          frame.bottom() - client.bottom()};
}

void MainWindow::settle_placement() {
  // The first time the window is on screen its frame is known: the stored
  // corner is the frame's, so the client area goes inside it. A window
  // system that placed the client area there instead is corrected once.
  if (!pending_placement_ || windowState() != Qt::WindowNoState) return;
  const tw::PixelRect want = shell::client_rect_for(*pending_placement_, frame_margins());
  pending_placement_.reset();
  if (to_pixel_rect(geometry()) == want) return;
  placing_ = true;
  setGeometry(want.left, want.top, want.width(), want.height());
  placing_ = false;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Expose && watched == windowHandle() && windowHandle()->isExposed()) {
    settle_placement();
    if (raise_mini_on_expose_) {
      raise_mini_on_expose_ = false;
      if (mini_) mini_->raise();
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The native window exists from the first show on; switching "topmost"
  // may replace it.
  if (QWindow* native = windowHandle(); native && native != watched_native_) {
    native->installEventFilter(this);
    watched_native_ = native;
  }
}

void MainWindow::restack(shell::StackingEvent event) {
  const shell::StackingOrder order = shell::stacking_after(event, mini_ != nullptr, isVisible() && !isMinimized());
  if (order.activate_main) {
    raise();
    activateWindow();
  }
  if (!order.raise_mini || !mini_) return;
  mini_->raise();
  if (order.activate_mini) mini_->activateWindow();
  // A main window that is only being mapped lands on top of the stack when
  // the window manager gets to it, which may well be after this raise: the
  // Mini Monitor goes up once more when the main window is on screen.
  if (isVisible() && (!windowHandle() || !windowHandle()->isExposed())) raise_mini_on_expose_ = true;
}

void MainWindow::create_tray() {
  if (!use_system_tray_ || tray_) return;
  tray_ = new QSystemTrayIcon(application_icon(), this);
  tray_->setToolTip(product_name());
  tray_tip_ = product_name();
  tray_->setContextMenu(tray_menu_);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) back_to_original_size();
  });
  last_status_icon_ = -1;
  tray_icon_key_ = kTrayOwnIcon;
  tray_->show();
}

bool MainWindow::tray_usable() const { return tray_ && QSystemTrayIcon::isSystemTrayAvailable(); }

void MainWindow::start_timers() {
  notice_timer_.start();
  monitor_timer_.start();
  rearm_core_timers();
}

void MainWindow::rearm_core_timers() {
  const std::vector<app::CoreTimer> wanted_timers = core_.timers();
  for (auto it = core_timers_.begin(); it != core_timers_.end();) {
    const bool wanted = std::any_of(wanted_timers.begin(), wanted_timers.end(), [&](const app::CoreTimer& s) { return s.id == it->first; });
    if (wanted) {
      ++it;
    } else {
      delete it->second;
      it = core_timers_.erase(it);
    }
  }
  for (const app::CoreTimer& timer : wanted_timers) {
    QTimer*& t = core_timers_[timer.id];
    if (!t) {
      t = new QTimer(this);
      const int id = timer.id;
      connect(t, &QTimer::timeout, this, [this, id] { core_.on_timer(id); });
    }
    const int period = static_cast<int>(std::min<std::uint32_t>(timer.period_ms, INT32_MAX));
    if (!t->isActive() || t->interval() != period) t->start(period);
  }
}

// ---------------------------------------------------------------------------
// Commands

void MainWindow::command_exit() {
  force_close_ = false;
  close();
}

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
  restack(shell::StackingEvent::MainWindowRestored);
}

void MainWindow::hide_to_tray() {
  hide();
  setWindowState(windowState() & ~Qt::WindowMinimized);  // shown again as it was before
  shown_ = false;
  if (tray_) {
    set_tray(application_icon(), product_name());
    tray_icon_key_ = kTrayOwnIcon;
    last_status_icon_ = -1;
    tray_->show();
  }
}

void MainWindow::tab_left() { select_tab(shell::tab_to_the_left(tab_)); }
void MainWindow::tab_right() { select_tab(shell::tab_to_the_right(tab_)); }
void MainWindow::next_tab() { select_tab(shell::next_tab_wrapping(tab_)); }
void MainWindow::previous_tab() { select_tab(shell::previous_tab_wrapping(tab_)); }

void MainWindow::apply_topmost() {
  const bool want = shell_.window_top_most;
  if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == want) return;
  const bool visible = isVisible();
  placing_ = true;
  setWindowFlag(Qt::WindowStaysOnTopHint, want);  // re-creates the native window, hidden
  if (visible) show();
  placing_ = false;
}

void MainWindow::toggle_topmost() {
  shell_.window_top_most = !shell_.window_top_most;
  apply_topmost();
  restack(shell::StackingEvent::TopmostFromMainWindow);
  profile_.write_int("Settings", "WindowTopMost", shell_.window_top_most ? 1 : 0);
}

void MainWindow::toggle_status_icon() {
  shell_.task_tray_icon = !shell_.task_tray_icon;
  if (!shell_.task_tray_icon && tray_) {
    set_tray(application_icon(), product_name());
    tray_icon_key_ = kTrayOwnIcon;
  }
  last_status_icon_ = -1;
  profile_.write_int("Settings", "TaskTrayIcon", shell_.task_tray_icon ? 1 : 0);
}

void MainWindow::toggle_notice_box() {
  shell_.notice_box = !shell_.notice_box;
  profile_.write_int("Settings", "NoticeBox", shell_.notice_box ? 1 : 0);
}

void MainWindow::toggle_mini_monitor() {
  shell_.mini_monitor = !shell_.mini_monitor;
  profile_.write_int("Settings", "MiniMonitor", shell_.mini_monitor ? 1 : 0);
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
  mini_ = new MiniMonitor(traffic_, profile_, lang_, this);
  connect(mini_, &MiniMonitor::close_requested, this, [this] {
    if (!shell_.mini_monitor) return;
    toggle_mini_monitor();
  });
  connect(mini_, &MiniMonitor::exit_requested, this, &MainWindow::command_exit);
  connect(mini_, &MiniMonitor::options_requested, this, [this] {
    profile_.write_int("Settings", "ConfigSel", kMiniMonitorOptionsGroup);
    profile_.write_int("Settings", "ConfigTab", kMiniMonitorOptionsTab);
    open_options();
  });
  connect(mini_, &MiniMonitor::top_most_changed, this, [this](bool on) {
    shell_.window_top_most = on;
    apply_topmost();
    restack(shell::StackingEvent::TopmostFromMiniMonitor);
  });
  mini_->refresh();
  mini_->show();
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

void MainWindow::open_options() {
  if (shut_down_) return;
  if (auto* open = findChild<OptionsDialog*>(QString(), Qt::FindDirectChildrenOnly)) {
    open->raise();
    open->activateWindow();
    return;
  }
  OptionsDialog dialog(profile_, lang_, this);
  const int result = dialog.exec();
  if (shut_down_) return;  // the program ended while the dialog was open
  if (result == QDialog::Accepted) apply_options();
}

void MainWindow::apply_options() {
  const int tab = tab_;
  const bool mini = shell_.mini_monitor;
  shell_ = shell::load_shell_settings(profile_);
  shell_.tab_cur_sel = tab;
  shell_.mini_monitor = mini;
  apply_topmost();
  restack(shell::StackingEvent::TopmostFromMainWindow);
  if (!shell_.task_tray_icon && tray_) {
    set_tray(application_icon(), product_name());
    tray_icon_key_ = kTrayOwnIcon;
  }
  if (traffic_page_) traffic_page_->reload_settings();
  if (auto* p = qobject_cast<InterfacePage*>(page(shell::MainPage::Interface))) p->reload_settings();
  core_.reload_settings();
  rearm_core_timers();
  // The tray pictures are drawn again with the new colours on the next tick.
  tray_icons_->set_settings(shell_.tray_icon);
  last_status_icon_ = -1;
  if (tray_icon_key_ != kTrayOwnIcon) tray_icon_key_ = -4;
  if (mini_) mini_->reload_settings();
}

void MainWindow::show_about() {
  if (shut_down_) return;
  QMessageBox::about(this, qs(shell::about_title(lang_)), qs(shell::about_text(lang_, TW_VERSION)));
}

void MainWindow::handle_command(const std::string& text) {
  if (shut_down_) return;
  core_.handle_command(text);
}

void MainWindow::serve_commands(platform::CommandServer* server) {
  if (!server || command_notifier_ || shut_down_) return;
  command_server_ = server;
  command_notifier_ = new QSocketNotifier(server->fd(), QSocketNotifier::Read, this);
  connect(command_notifier_, &QSocketNotifier::activated, this, [this] {
    if (!command_server_ || shut_down_) return;
    for (const std::string& text : command_server_->receive_pending()) handle_command(text);
  });
}

MainWindow::SnapshotResult MainWindow::take_snapshot() {
  if (shut_down_) return SnapshotResult::NoFrame;
  const QImage frame = snapshot_source_ ? snapshot_source_() : QImage();
  if (frame.isNull()) return SnapshotResult::NoFrame;
  const shell::SnapshotPaths paths =
      shell::snapshot_paths(data_folder_, app::kProgramBaseName, shell_.log_root_folder, clock_.local_now());
  const QString tmp = QString::fromStdString(paths.temporary);
  const QString png = QString::fromStdString(paths.image);
  // One picture per second: a second request within it finds one of the two.
  if (QFileInfo::exists(tmp) || QFileInfo::exists(png)) return SnapshotResult::Skipped;

  QFile file(tmp);
  // NewOnly: another instance taking its snapshot in the same second wins,
  // this one is skipped instead of writing into the same file.
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
    return file.exists() ? SnapshotResult::Skipped : SnapshotResult::Failed;
  const bool written = frame.convertToFormat(QImage::Format_RGB888).save(&file, "PNG");
  file.close();
  // The picture appears under its name only when complete, and never
  // replaces an existing one (rename refuses an existing target).
  if (!written || file.error() != QFileDevice::NoError || !QFile::rename(tmp, png)) {
    QFile::remove(tmp);
    return SnapshotResult::Failed;
  }
  QApplication::alert(this, 500);  // the acknowledgement: the window asks for attention briefly
  return SnapshotResult::Written;
}

// ---------------------------------------------------------------------------
// Power events

void MainWindow::on_suspend() {
  if (shut_down_) return;
  core_.suspend();
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
// Timers

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

void MainWindow::monitor_tick() {
  if (shut_down_) return;
  if (mini_) mini_->refresh();
  if (shell_.task_tray_icon) refresh_tray();
}

void MainWindow::set_tray(const QIcon& icon, const QString& tip) {
  if (!tray_) return;
  tray_->setIcon(icon);
  if (tip != tray_tip_) {
    tray_tip_ = tip;
    tray_->setToolTip(tip);
  }
}

void MainWindow::refresh_tray() {
  if (!tray_) return;
  if (traffic_.interface_state() == traffic::InterfaceState::Changed) {
    if (tray_icon_key_ != kTrayError) set_tray(tray_icons_->error_icon(), qs(traffic::tray_error_tip(lang_)));
    tray_icon_key_ = kTrayError;
    last_status_icon_ = -1;
    return;
  }
  const traffic::TrafficFigures f = traffic_.figures();
  if (!shell_.task_tray_monitor) {
    const int state = traffic::transfer_state(f.latest_send, f.latest_recv);
    if (state != last_status_icon_ || tray_icon_key_ != state) {
      set_tray(tray_icons_->status_icon(state), product_name());
      last_status_icon_ = state;
      tray_icon_key_ = state;
    }
    return;
  }
  bool changed = false;
  const QIcon icon = tray_icons_->monitor_icon(f.smoothed_send, f.smoothed_recv, &changed);
  const QString tip = qs(traffic::tray_monitor_tip(lang_, f.capture_ms, f.smoothed_send, f.smoothed_recv,
                                                   shell_.tray_icon.unit));
  if (changed || tray_icon_key_ != kTrayMonitor) tray_->setIcon(icon);
  if (tip != tray_tip_) {
    tray_tip_ = tip;
    tray_->setToolTip(tip);
  }
  tray_icon_key_ = kTrayMonitor;
  last_status_icon_ = -1;
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

void MainWindow::remember_normal_geometry() {
  if (!isVisible() || (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) return;
  normal_rect_ = shell::stored_normal_rect(to_pixel_rect(geometry()), frame_margins());
  have_normal_rect_ = true;
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (!placing_ && shell_.window_stretch && isVisible() && windowState() == Qt::WindowNoState) snap_to_edges();
  remember_normal_geometry();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  remember_normal_geometry();
}

void MainWindow::snap_to_edges() {
  QScreen* sc = screen();
  if (!sc) return;
  // The snapping lines are the screen's own edges: work in coordinates
  // relative to the screen the window is on, so a second monitor behaves
  // like the first.
  const QRect screen_rect = sc->geometry();
  const QPoint origin = screen_rect.topLeft();
  const QRect frame = frameGeometry().translated(-origin);
  const QRect work = sc->availableGeometry().translated(-origin);
  const QPoint cursor = QCursor::pos(sc) - origin;
  const tw::PixelRect proposed = to_pixel_rect(frame);
  const tw::PixelRect snapped =
      shell::shared_edge_snap().snap(proposed, {cursor.x(), cursor.y()}, to_pixel_rect(work));
  if (snapped.left == proposed.left && snapped.top == proposed.top) return;
  placing_ = true;
  move(snapped.left + origin.x(), snapped.top + origin.y());
  placing_ = false;
}

// ---------------------------------------------------------------------------
// Shut-down

void MainWindow::shut_down(bool restarting) {
  if (shut_down_) return;
  shut_down_ = true;

  // Timers 13, 12, 11, 10, 4, 3, then 2 and 1; no command is taken any more.
  for (auto it = core_timers_.rbegin(); it != core_timers_.rend(); ++it) it->second->stop();
  monitor_timer_.stop();
  notice_timer_.stop();
  delete command_notifier_;
  command_notifier_ = nullptr;
  command_server_ = nullptr;
  // Sampling ends before the totals are saved, so they hold every byte counted.
  if (stop_sampling_) stop_sampling_();

  app::ShutdownHooks hooks;
  hooks.window_state = [this] {
    const bool tray_present = tray_ && tray_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
    shell::save_window_state(profile_, tab_, shown_, tray_present, shell_.session_split_size);
    if (tray_) {
      tray_->hide();
      tray_->deleteLater();  // its menu may be the caller
      tray_ = nullptr;
    }
  };
  hooks.window_placement = [this] {
    const bool zoomed = isMaximized();
    profile_.write_int("Settings", "IsZoomed", zoomed ? 1 : 0);
    remember_normal_geometry();
    const tw::PixelRect normal =
        have_normal_rect_ ? normal_rect_ : shell::stored_normal_rect(to_pixel_rect(geometry()), frame_margins());
    profile_.write_placement("Position", shell::placement_for(normal, zoomed).to_list());
  };
  hooks.release_status_block = release_status_block_;
  core_.shutdown(restarting, hooks);

  close_mini_monitor();
  // The pages go in page order; the Traffic Monitor page writes its
  // interface choice as it goes.
  for (auto& p : pages_) delete p.data();
  traffic_page_ = nullptr;
  emit finished();
}

}  // namespace tw::ui
