// The window menu (tab-row button and right click), the tray menu and the
// window's keys.
#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include "ui/main/main_window.h"
#include "ui/main/main_window_parts.h"
#include "ui/minimonitor/mini_monitor.h"

namespace tw::ui {
namespace {

// Escape is the Exit command, but only where no tab takes it first: it is
// caught when it reaches the main window itself, after the focused widget and
// the pages between have had it. A tool tab takes it (a run under way is not
// ended by a key pressed in its field), and an open drop-down list, a window
// of its own, closes on it and passes it nowhere.
class EscapeToExit : public QObject {
 public:
  explicit EscapeToExit(MainWindow* window) : QObject(window), window_(window) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::KeyPress) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
        window_->command_exit();
        return true;
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  MainWindow* window_;
};

}  // namespace

using namespace main_window_parts;

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
  // The accelerators act before the focused page sees the key, wherever the
  // focus is inside the window. Plain Escape is no accelerator: see
  // EscapeToExit.
  auto add = [this](QKeySequence keys, void (MainWindow::*slot)()) {
    auto* sc = new QShortcut(keys, this);
    sc->setContext(Qt::WindowShortcut);
    connect(sc, &QShortcut::activated, this, slot);
  };
  add(QKeySequence(Qt::SHIFT | Qt::Key_Escape), &MainWindow::command_exit);
  installEventFilter(new EscapeToExit(this));
  add(QKeySequence(Qt::ALT | Qt::Key_F10), &MainWindow::open_options);
  add(QKeySequence(Qt::CTRL | Qt::Key_PageDown), &MainWindow::tab_left);
  add(QKeySequence(Qt::CTRL | Qt::Key_PageUp), &MainWindow::tab_right);
}

}  // namespace tw::ui
