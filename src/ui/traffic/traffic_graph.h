#pragma once
// The traffic graph: the owner-drawn control that fills the Traffic Monitor
// page. Every redraw tick it draws one frame into an off-screen image of its
// own size (bars scrolling from the speed histories, time grid, MAX and
// average lines, labels with a halo, the latest-speed line, notices, the
// detailed-information panel and the report columns) and copies it to the
// screen in one operation.
//
// Use: TrafficGraph(monitor, profile, lang, parent). The graph reads its
// display settings from section "Traffic", writes the ones its menu, wheel and
// middle button change (through GraphMenu), and starts its redraw timer at once:
// (View-Responce + 1) x 50 ms. frame() is the last drawn frame (the snapshot
// command saves it). The context menu's "Take a Snapshot" only emits
// snapshotRequested(): the file belongs to the main window.
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
#include <QRegion>
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
#include "ui/traffic/detail_panel.h"
#include "ui/traffic/graph_menu.h"
#include "ui/traffic/label_image_cache.h"
#include "ui/traffic/label_text.h"

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
  TrafficGraph(traffic::TrafficMonitor& monitor, settings::Profile& profile, Language lang,
               QWidget* parent = nullptr);
  ~TrafficGraph() override;

  // The last drawn frame, RGB32, the size of the control when it was drawn;
  // null before the first frame.
  QImage frame() const { return frame_; }

  // Display flags (not saved): bits 0x01..0x40 show report lists 0..6 as
  // columns, 0x80 hides the graph layer.
  std::uint8_t display_flags() const { return flags_; }
  void set_display_flags(std::uint8_t flags);
  void toggle_display_flags(std::uint8_t bits);

  const traffic::GraphSettings& settings() const { return settings_; }
  // Re-reads the display settings and fonts; re-arms the timer when the
  // redraw period changed. Called after the options dialog's OK, and by the
  // graph itself after each change it writes.
  void reload_settings();

  // The clock the monitor reads (its tick_ms readings are compared with the
  // monitor's last-activity time). By default the system clock.
  void set_clock(platform::Clock& clock);
  // The Yes/No question before the gross totals are reset; by default a
  // message box. Tests answer it themselves.
  void set_confirm(std::function<bool(const QString& question)> confirm);

  // ---- what the redraw timer does; tests call these directly -------------
  // One timer tick: the frame-skip budget and, when the control is visible,
  // one frame. The visible maxima come from the monitor (the graph passes it
  // its width), the automatic-reset countdown from the monitor's last
  // auto_reset_tick(), which the program's core runs.
  void tick();
  // Draws one frame now, visible or not.
  void render();
  // Frames drawn by tick(); a tick whose frame would look exactly like the
  // last one draws nothing (an idle link redraws about once a second).
  std::uint64_t frames_drawn() const { return frames_drawn_; }

  std::int64_t scale() const { return scale_; }
  int panel_height() const { return panel_height_; }
  const traffic::FrameSkipBudget& frame_budget() const { return budget_; }
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
  // The graph's faces: the large and small ones of the settings, and four
  // fixed sizes (panel and report lines, notices, the interface warning).
  enum FontId { kLarge, kSmall, kFont12, kFont14, kFont20, kFont40, kFontCount };

  void on_restart(traffic::RestartMode mode);
  void rebuild_surfaces();
  void restart_timer();
  void prepare();  // surfaces, panel slide, figures for the next frame
  void update_figures();
  void make_key();
  void setting_written(std::optional<traffic::GraphFlag> flipped);
  void show_notice(std::string text);

  // Drawing, in frame order.
  void paint_frame();
  void draw_grid(int top, int height);
  void draw_bars(int top, int height);
  void draw_polyline(QPainter& p, const std::vector<std::uint32_t>& h, traffic::ColorRef c, int top, int height);
  void draw_hline(int y, traffic::ColorRef c, int top, int height);
  void draw_labels(QPainter& p);
  void draw_speed_strip(QPainter& p, int top);
  void draw_notices(QPainter& p, int top, int height);
  void draw_panel(QPainter& p);
  bool panel_visible() const;
  void draw_reports(QPainter& p);
  // A label with its halo, a darker mix of the text and field colours.
  void draw_halo_text(QPainter& p, FontId font, int x, int top, const QString& s, traffic::ColorRef c);
  void draw_speed_label(QPainter& p, int x, int top, int integer_end, const char* label, std::int64_t speed,
                        int unit);

  traffic::TrafficMonitor& monitor_;
  settings::Profile& profile_;
  const Language lang_;
  platform::Clock* clock_;
  std::function<bool(const QString&)> confirm_;

  traffic::GraphSettings settings_;
  LabelImageCache labels_;  // faces by FontId
  GraphMenu menu_;
  std::vector<int> font_sizes_;
  int thread_responce_ = 0;
  std::uint8_t flags_ = 0;
  int wheel_position_ = 0;
  int wheel_accumulated_ = 0;

  QImage frame_;  // the frame, RGB32
  // Frame rows under the panel are not cleared between frames: the panel
  // keeps what it drew there.
  DetailPanel panel_;
  QRegion dirty_;  // what the last frame changed, for update()
  QTimer timer_;
  traffic::FrameSkipBudget budget_;
  traffic::TransientNotice notice_;
  std::optional<std::uint32_t> countdown_;
  int panel_height_ = traffic::kPanelClosedHeight;

  // Copied from the monitor each frame; the vectors keep their capacity.
  std::vector<std::uint32_t> send_history_, recv_history_;
  traffic::TrafficFigures figures_;
  traffic::SpeedMaxima maxima_;
  std::int64_t scale_ = traffic::kBaseScale;
  traffic::InterfaceSnapshot snapshot_;
  std::vector<std::string> transfer_lines_;  // the panel's right-hand lines

  // Everything a frame shows, to tell whether the next frame would differ.
  struct FrameKey {
    int width = 0, height = 0, panel_height = 0;
    std::uint8_t flags = 0;
    std::uint64_t generation = 0;  // settings and fonts
    std::int64_t scale = 0, max_send = 0, max_recv = 0;
    std::int64_t latest_send = 0, latest_recv = 0, smoothed_send = 0, smoothed_recv = 0;
    int state = 0;
    std::int64_t idle_s = -1, countdown = -1;
    std::string notice;
    std::vector<std::string> texts;  // panel lines and the interface snapshot
    std::vector<std::uint32_t> send, recv;  // the visible entries
    std::array<std::vector<std::string>, traffic::kReportListCount> reports;
    bool operator==(const FrameKey&) const = default;
  };
  FrameKey key_, last_key_;
  bool last_key_valid_ = false;
  std::uint64_t generation_ = 0;
  SpeedLabelGrid label_grid_;
  std::uint64_t label_grid_generation_ = 0;  // generation_ starts at 1
  std::uint64_t frames_drawn_ = 0;
};

}  // namespace tw::ui
