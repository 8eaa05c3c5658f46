#include "ui/main/tray_controller.h"

#include <QSystemTrayIcon>

#include "traffic/mini_monitor_logic.h"
#include "ui/main/app_icon.h"
#include "ui/main/main_window_parts.h"
#include "ui/minimonitor/tray_icons.h"

namespace tw::ui {

using namespace main_window_parts;

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

}  // namespace tw::ui
