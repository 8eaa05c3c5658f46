#pragma once
// The pictures of the tray icon, drawn in code: the four status icons, the
// two-number picture of the tray-icon monitor and the error picture. The main
// window owns the QSystemTrayIcon and asks this class what to show:
//
//   state Changed (interface gone) -> error_icon(), tip traffic::tray_error_tip()
//   "TaskTrayMonitor" off           -> status_icon(traffic::transfer_state(latest send, latest recv))
//   "TaskTrayMonitor" on            -> monitor_icon(smoothed send, smoothed recv, &changed),
//                                      tip traffic::tray_monitor_tip(...)
//
// Main (GUI) thread only: pixmaps belong to the GUI thread. Nothing is drawn
// before the first call, so the object may be created before the tray exists.
#include <QIcon>
#include <QImage>
#include <QString>

#include <array>
#include <cstdint>

#include "shell/shell_settings.h"

namespace tw::ui {

class TrayIcons {
 public:
  explicit TrayIcons(const shell::TrayIconSettings& settings = {});

  // New "TaskTrayIcon" settings (after the options dialog): the monitor
  // picture is drawn again on its next request.
  void set_settings(const shell::TrayIconSettings& settings);
  const shell::TrayIconSettings& settings() const { return settings_; }

  // 0 idle, 1 sending, 2 receiving, 3 both; anything else shows idle. Two
  // arrows, up for send and down for receive, lit while data moves.
  QIcon status_icon(int transfer_state);

  // The tray-icon monitor: the send figure over the receive figure
  // (traffic::tray_figure_text) in the send and receive colours on the
  // background colour, in the chosen font and unit. Speeds in bytes/s. The
  // picture is drawn again only when a figure text changed; `changed` (when
  // given) says whether it did, so the caller can skip handing the same
  // picture to the tray ten times a second.
  QIcon monitor_icon(std::int64_t send, std::int64_t recv, bool* changed = nullptr);

  // While the interface state is Changed: a filled square with a raised frame.
  QIcon error_icon();

  // The side of the tray pictures in pixels: 16, or 32 with "HighDPI".
  int picture_size() const;

  // The pictures alone, for tests and for looking at them.
  static QImage status_image(int transfer_state, int size = 16);
  static QImage monitor_image(const QString& send, const QString& recv, const shell::TrayIconSettings& settings,
                              int size = 16);
  static QImage error_image(int size = 16);

  // Edge colours of the error picture (0x00BBGGRR).
  static constexpr std::uint32_t kErrorLightEdge = 0x606060;
  static constexpr std::uint32_t kErrorDarkEdge = 0x303030;
  static constexpr std::uint32_t kErrorFace = 0x484848;

 private:
  shell::TrayIconSettings settings_;
  std::array<QIcon, 4> status_;
  QIcon error_;
  QIcon monitor_;
  QString monitor_send_, monitor_recv_;
  bool monitor_valid_ = false;
};

}  // namespace tw::ui
