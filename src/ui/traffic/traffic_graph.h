#pragma once
// The traffic graph: the owner-drawn control that fills the Traffic Monitor
// page. Every redraw tick it reads the monitor's figures and lets its
// GraphPainter draw what changed into the frame (an off-screen image at the
// screen's device pixel ratio), then copies the changed part to the screen.
//
// Use: TrafficGraph(monitor, profile, lang, clock, parent). The graph reads its
// display settings from section "Traffic", writes the ones its menu, wheel and
// middle button change (through GraphMenu), and starts its redraw timer at once:
// (View-Responce + 1) x 50 ms. frame() is the last drawn frame (the snapshot
// command saves it). The context menu's "Take a Snapshot" only emits
// snapshotRequested(): the file belongs to the main window. Ticks while the
// graph cannot be seen (hidden, its window minimised or not exposed) draw
// nothing.
//
// Colour slots ("Traffic"/"Color00".."Color19"): "Background" fills the
// control and shades the panel; "Background graph" fills the graph area and
// is the dark end of the bar gradients, halos and companion lines; "Grid"
// draws a horizontal line every 40 pixels up from the graph's base; "Scale
// chart" and "Scale chart 2" the time lines; "Text" the labels and panel
// lines, "Background Text" their shadow; "Other Text" the notices; slots 12
// to 18 the report columns.
//
// The graph owns the monitor's restart listener (set_restart_listener) for its
// lifetime: after a Full or Restart restart it re-reads its display settings;
// after a Restart it also starts a new, empty frame and re-arms the timer.
// Others learn of restarts from statisticsRestarted().
//
// Threads: UI thread only. The monitor's readers take the sampler lock and
// copy out, so drawing never holds the lock. The monitor, the profile and the
// clock must outlive the graph.
#include <QAction>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/language.h"
#include "traffic/graph_logic.h"
#include "traffic/traffic_monitor.h"
#include "ui/traffic/graph_menu.h"
#include "ui/traffic/graph_painter.h"

class QMenu;
class QPainter;

namespace tw::platform {
class Clock;
}
namespace tw::settings {
class Profile;
}

namespace tw::ui {

class TrafficGraph : public QWidget {
  Q_OBJECT
 public:
  // `clock` is the one the monitor reads: its tick_ms readings are compared
  // with the monitor's last-activity time, and time the notices and frames.
  TrafficGraph(traffic::TrafficMonitor& monitor, settings::Profile& profile, Language lang,
               platform::Clock& clock, QWidget* parent = nullptr);
  ~TrafficGraph() override;

  // The last drawn frame, RGB32, the size of the control when it was drawn
  // in device pixels (its ratio set); null before the first frame.
  QImage frame() const { return painter_.frame(); }

  // Display flags (not saved): bits 0x01..0x40 show report lists 0..6 as
  // columns, 0x80 hides the graph layer.
  std::uint8_t display_flags() const { return flags_; }
  void set_display_flags(std::uint8_t flags);
  void toggle_display_flags(std::uint8_t bits);

  const traffic::GraphSettings& settings() const { return settings_; }
  // The device pixel ratio the frame is drawn at.
  qreal frame_ratio() const { return painter_.dpr(); }
  // Re-reads the display settings and fonts; re-arms the timer when the
  // redraw period changed. Called after the options dialog's OK, and by the
  // graph itself after each change it writes.
  void reload_settings();

  // The Yes/No question before the gross totals are reset; by default a
  // message box. Tests answer it themselves.
  void set_confirm(std::function<bool(const QString& question)> confirm);

  // ---- what the redraw timer does; tests call these directly -------------
  // One timer tick: the frame-skip budget and, when the control can be
  // seen, one frame. The visible maxima come from the monitor (the graph passes it
  // its width), the automatic-reset countdown from the monitor's last
  // auto_reset_tick(), which the program's core runs.
  void tick();
  // Draws one frame now, visible or not.
  void render();
  // Frames drawn by tick(); a tick whose frame would look exactly like the
  // last one draws nothing (an idle link redraws about once a second).
  std::uint64_t frames_drawn() const { return frames_drawn_; }

  std::int64_t scale() const { return next_.scale; }
  int panel_height() const { return panel_height_; }
  int redraw_interval_ms() const { return timer_.interval(); }
  bool timer_active() const { return timer_.isActive(); }
  // The transient notice on screen now ("Font-Size: 24px", ...), or empty.
  std::string current_notice();

  // ---- commands -----------------------------------------------------------
  void reset_graph();  // statistics restart, Restart mode
  // Asks first; true when the gross totals were reset.
  bool reset_gross();
  // The transfer information text, with LF line ends, on the clipboard.
  void copy_transfer_information();

  // The context menu, freshly checked from the current settings. The report
  // actions (Ctrl+1..Ctrl+7, Ctrl+0) are report_actions(): the page adds
  // them to itself so that the shortcuts work anywhere on the page.
  QMenu* create_context_menu(QWidget* parent);
  const std::vector<QAction*>& report_actions() const { return menu_.report_actions(); }

 signals:
  void snapshotRequested();
  void statisticsRestarted(int mode);  // traffic::RestartMode as int

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void on_restart(traffic::RestartMode mode);
  void rebuild_surfaces();
  void restart_timer();
  void prepare();  // panel slide, figures for the next frame
  bool can_be_seen() const;
  void setting_written(std::optional<traffic::GraphFlag> flipped);
  void show_notice(std::string text);

  traffic::TrafficMonitor& monitor_;
  settings::Profile& profile_;
  const Language lang_;
  platform::Clock* clock_;
  std::function<bool(const QString&)> confirm_;

  traffic::GraphSettings settings_;
  GraphPainter painter_;
  GraphMenu menu_;
  std::vector<int> font_sizes_;
  int thread_responce_ = 0;
  std::uint8_t flags_ = 0;
  int wheel_position_ = 0;
  int wheel_accumulated_ = 0;

  QTimer timer_;
  traffic::FrameSkipBudget budget_;
  traffic::TransientNotice notice_;
  int panel_height_ = traffic::kPanelClosedHeight;
  GraphFrame next_;  // the figures of the next frame; its vectors keep their capacity
  std::uint64_t frames_drawn_ = 0;
};

}  // namespace tw::ui
