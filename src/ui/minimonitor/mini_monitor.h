#pragma once
// The Mini Monitor: a small top-level window that shows the Traffic Monitor's
// speeds (and, by its format, maxima and totals) over a small traffic graph,
// while the main window is hidden or covered.
//
// Ownership and use (main thread only):
//   - The main window creates it when "MiniMonitor" is set or the user opens
//     it, calls show(), and deletes it to close it. The destructor writes the
//     placement ("Settings"/"MiniMonitorPos"); call save_placement() yourself
//     when the session ends without the destructor running.
//   - refresh() every 100 ms (the main window's monitor timer), whether or not
//     the Traffic Monitor tab is visible.
//   - reload_settings() after the options dialog closed with OK.
//   - center_on_screen() for the system-menu item "Move to center Mini-Monitor".
//   - A window-manager close (the frame's close button) does not close the
//     window: it emits close_requested() so that the main window clears
//     "MiniMonitor" and deletes it, as for the menu item.
// The Mini Monitor is always a window of its own (a tool window: no taskbar
// entry), also when a parent is given, so hiding the main window into the
// tray leaves it on screen. It never samples anything itself: it reads the
// monitor's figures and speed histories.
//
// "Always on topmost" belongs to both windows: with an owner connected to
// top_most_requested() the menu item only asks, and the owner switches the
// main window first and then this one (set_top_most), so that this window is
// shown again after the main window's native window (which X11 makes anew
// when "topmost" changes) and the window manager takes the new one as its
// owner. Without an owner the item switches this window itself.
//
// Where the window system does not let a program place its windows
// (Wayland, `places_windows` false) the window is dragged by the compositor
// (QWindow::startSystemMove), its position is neither set nor written back
// (the platform cannot tell it), and "Always on topmost" shows as unavailable.
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/language.h"
#include "settings/profile.h"
#include "traffic/mini_monitor_logic.h"
#include "traffic/traffic_monitor.h"
#include "ui/minimonitor/mini_text.h"

class QMenu;

namespace tw::ui {

class MiniMonitor : public QWidget {
  Q_OBJECT
 public:
  // Reads the "MiniMonitor" block and the keys it follows, builds the fonts,
  // places the window from "MiniMonitorPos" (a window found off every screen
  // comes back with its top-left corner at the centre of the primary screen;
  // without a stored placement it opens centred) and applies topmost, frame
  // and translucency. Does not show the window.
  MiniMonitor(traffic::TrafficMonitor& monitor, settings::Profile& profile, Language lang,
              QWidget* parent = nullptr, bool places_windows = true);
  ~MiniMonitor() override;

  // Copies the statistics and the histories, steps the message alerts and
  // repaints when visible.
  void refresh();
  // Re-reads the settings; fonts, style and size follow (the window takes its
  // natural size again when the format or the fonts changed it).
  void reload_settings();
  // Centres the window on the primary screen.
  void center_on_screen();
  // Writes "Settings"/"MiniMonitorPos" (not where the position is unknown).
  void save_placement();
  // Applies "topmost" to this window (the key is the caller's to write);
  // true when the window was restyled, which shows it anew.
  bool set_top_most(bool on);
  bool places_windows() const { return places_windows_; }

  // The context menu, as the right button opens it; the caller owns it. Its
  // actions act on this window and on the settings file at once.
  QMenu* create_context_menu(QWidget* parent = nullptr);

  // The window's natural size for the current format and fonts.
  QSize natural_size() const;
  const traffic::MiniMonitorSettings& mini_settings() const { return settings_; }
  // Draws the current picture (for snapshots and benchmarks), as the window
  // shows it on a screen of device pixel ratio `dpr` (0: the window's own).
  QImage render_image(qreal dpr = 0);

 signals:
  // Emitted after the context menu has closed (queued), so a receiver may
  // open a modal dialog or delete this window.
  void options_requested();  // open the options at the Mini Monitor page
  void close_requested();    // close the Mini Monitor ("MiniMonitor" 0)
  void exit_requested();     // exit the program (the exit confirmation applies)
  // "Always on topmost" was chosen: the owner writes "Settings"/"WindowTopMost",
  // applies it to the main window and then calls set_top_most().
  void top_most_requested(bool on);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void build_fonts();
  void apply_window_style();
  void place_from_settings();
  // Draws the picture into frame_ at the device pixel ratio `dpr`.
  void draw_frame(qreal dpr);
  void toggle_top_most();
  void toggle_frame();
  void choose_opacity(int index);
  std::uint32_t now_ms() const;
  traffic::TrafficMonitor& monitor_;
  settings::Profile& profile_;
  const Language lang_;
  traffic::MiniMonitorSettings settings_;
  QFont small_font_, large_font_;
  // The figures' text at the ratio of the last picture.
  MiniText text_;
  // The window's picture in device pixels, drawn whole and copied to the
  // window: the text is laid straight into it. Kept for its buffer.
  QImage frame_;
  QSize natural_;

  traffic::TrafficFigures figures_;
  std::vector<traffic::MiniLine> lines_;
  std::vector<std::uint32_t> send_history_, recv_history_;
  std::vector<std::uint32_t> next_send_, next_recv_;  // the next refresh's, kept to spare allocations
  // The graph's columns of one colour and their rectangles, kept for their capacity.
  std::vector<int> bar_heights_;
  std::vector<std::pair<int, int>> bar_steps_;
  QList<QRect> bar_rects_;
  int blink_ = -1;  // the alert's blink phase last shown, -1 none
  traffic::MessageAlert alert_;
  QElapsedTimer clock_;

  const bool places_windows_;
  bool dragging_ = false;
  QPoint drag_offset_;  // cursor minus the window's top-left corner
};

}  // namespace tw::ui
