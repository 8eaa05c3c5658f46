#pragma once
// The main window's notification-area icon: the application icon with the
// product name, the four status icons, the error picture or the tray-icon
// monitor with its tip. The main window owns it and gives it the figures and
// the menu; the icon itself knows nothing of the window.
//
// It is made only when the desktop has a tray to show it in
// (QSystemTrayIcon::isSystemTrayAvailable): a QSystemTrayIcon made without one
// falls back to the X11 embedding protocol, which on Wayland (or under a
// session without a status-notifier host) only prints warnings. Without a
// tray the program runs without an icon; create() tells the caller so.
//
// refresh() runs every 100 ms; the desktop gets a new picture only when what
// the icon shows changes (a tray host redraws on every picture it is handed).
//
// Threads: UI thread only.
#include <QIcon>
#include <QObject>
#include <QString>

#include <memory>

#include "base/language.h"
#include "shell/shell_settings.h"
#include "traffic/traffic_monitor.h"

class QMenu;
class QSystemTrayIcon;

namespace tw::ui {

class TrayIcons;

class TrayController : public QObject {
  Q_OBJECT
 public:
  // What the icon shows.
  enum class Picture {
    Unknown,  // nothing yet, or forgotten: the next refresh draws what is due
    OwnIcon,  // the application icon and the product name
    Error,    // the interface at the chosen position changed
    Status,   // one of the four status icons (status_index())
    Monitor,  // the tray-icon monitor's two figures
  };

  TrayController(Language lang, const shell::TrayIconSettings& settings, QObject* parent = nullptr);
  ~TrayController() override;

  // Makes and shows the icon (the application icon, `menu` on its right
  // button) when the desktop has a tray; false when it has none.
  bool create(QMenu* menu);
  // The icon exists and the tray is still there.
  bool usable() const;
  QSystemTrayIcon* icon() const { return icon_; }
  // Hides the icon and lets it go (deleted later: its menu may be running).
  void remove();

  // The application icon and the product name, as after a minimise.
  void show_own_icon();
  // Shown again (after a minimise the desktop may have dropped it).
  void show();
  // One tick of the 100 ms refresh while "TaskTrayIcon" is set: the error
  // picture while the interface changed, else the status icon of the latest
  // speeds, or with "TaskTrayMonitor" the monitor picture and its tip.
  void refresh(traffic::InterfaceState state, const traffic::TrafficFigures& figures, bool tray_monitor);
  // New "TaskTrayIcon" colours, font or unit: the next refresh draws anew.
  void set_settings(const shell::TrayIconSettings& settings);

  Picture picture() const { return picture_; }
  int status_index() const { return status_; }
  QString tip() const { return tip_; }

 signals:
  // The icon was clicked with the left button.
  void triggered();

 private:
  void set(const QIcon& icon, const QString& tip);

  const Language lang_;
  shell::TrayIconSettings settings_;
  std::unique_ptr<TrayIcons> pictures_;
  QSystemTrayIcon* icon_ = nullptr;
  Picture picture_ = Picture::Unknown;
  int status_ = -1;  // the status icon shown, 0..3
  QString tip_;
};

}  // namespace tw::ui
