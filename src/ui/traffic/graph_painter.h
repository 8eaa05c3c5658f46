#pragma once
// Draws the traffic graph's frames into an image: bars scrolling from the
// speed histories, time grid, MAX and average lines, labels with a halo, the
// latest-speed line, notices, the detailed-information panel and the report
// columns. The widget (TrafficGraph) copies the frame to the screen; the
// benchmark and the snapshot use the image itself.
//
// A frame is drawn from a GraphFrame (the figures of one instant, read from
// the monitor by read_graph_frame) and keeps what the last one drew: parts
// whose figures did not change are left as they are, the bars are scrolled
// in the frame by the samples that came in instead of being drawn again
// (only the new bars, and the pixels the last frame's lines and labels
// covered, are drawn anew under this frame's), and text already drawn once
// is a copy of a kept image. What a frame changed is dirty() (logical
// pixels), for the widget's update().
//
// Sizes are logical pixels (the settings' sizes and the graph's fixed layout); the
// image has `dpr` device pixels per logical pixel (2 at 200 % scaling), so
// lines and glyphs are drawn at the screen's resolution, not scaled up.
//
// Use: GraphPainter(lang); set_settings() (and again after every change of
// the display settings); resize() with the control's size and ratio;
// paint() once a frame.
//
// Threads: UI thread only (QPainter on images).
#include <QImage>
#include <QRegion>
#include <QSize>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/language.h"
#include "traffic/graph_logic.h"
#include "traffic/traffic_monitor.h"
#include "ui/traffic/detail_panel.h"
#include "ui/traffic/label_image_cache.h"
#include "ui/traffic/label_text.h"

class QPainter;

namespace tw::ui {

// Everything one frame shows. The vectors keep their capacity from frame to
// frame when the same object is read into again.
struct GraphFrame {
  std::uint8_t flags = 0;  // report bits 0x01..0x40, 0x80 hides the graph layer
  int panel_height = traffic::kPanelClosedHeight;
  std::int64_t scale = traffic::kBaseScale;
  traffic::TrafficFigures figures;
  traffic::SpeedMaxima maxima;
  // The visible entries of the speed histories, newest first.
  std::vector<std::uint32_t> send, recv;
  traffic::InterfaceSnapshot snapshot;
  std::vector<std::string> transfer_lines;  // the panel's right-hand lines
  std::uint32_t now_ms = 0;                 // Clock::tick_ms of the frame
  std::string notice;                       // the transient notice, or empty
  bool auto_reset = false;                  // "InterfaceAutoReset"
  std::uint32_t reset_seconds = 0;          // left before the automatic reset
  std::array<std::vector<std::string>, traffic::kReportListCount> reports;  // the lists of the set bits
};

// Reads the figures of the next frame from the monitor into `out`: the
// histories as far as a graph `size` wide shows them, the maxima, the scale
// for its area, the panel lines. `panel_height` and `flags` are the widget's.
void read_graph_frame(traffic::TrafficMonitor& monitor, const traffic::GraphSettings& settings, QSize size,
                      int panel_height, std::uint8_t flags, std::uint32_t now_ms, Language lang, GraphFrame& out);

class GraphPainter {
 public:
  explicit GraphPainter(Language lang);

  // The display settings and the sampling period's index ("Thread-Responce",
  // which spaces the time grid); rebuilds the faces. Everything is drawn
  // anew with the next frame.
  void set_settings(const traffic::GraphSettings& settings, int thread_responce);
  const traffic::GraphSettings& settings() const { return settings_; }
  // A new, empty frame of `size` logical pixels at `dpr` device pixels each.
  void resize(QSize size, qreal dpr);
  QSize size() const { return size_; }
  qreal dpr() const { return dpr_; }

  // Draws the frame for `f`: only what differs from the last one. Returns
  // false (and draws nothing) when the frame would look exactly like the last.
  bool paint(const GraphFrame& f);
  // The next paint() draws everything: the bars, the panel, every label.
  void invalidate() {
    valid_ = false;
    area_valid_ = false;
    panel_.invalidate();
  }
  // What the last paint() changed, in logical pixels.
  const QRegion& dirty() const { return dirty_; }
  // The frame: RGB32, size() x dpr() device pixels, its ratio set; null
  // while the size is empty. Puts the graph area's columns in order first
  // (see area_offset_): for snapshots and tests, not for every frame.
  const QImage& frame() const;
  bool has_frame() const { return !frame_.isNull(); }
  // Lays the part `r` (logical pixels) of the frame over `p` at the same
  // place, as drawing frame() there would, without putting the area in order.
  void copy_to(QPainter& p, const QRect& r) const;
  // The large label face (the widget measures the notices with it).
  const QFont& label_font() const { return labels_.font(kLarge); }

 private:
  // The graph's faces: the large and small ones of the settings, and four
  // fixed sizes (panel and report lines, notices, the interface warning).
  enum FontId { kLarge, kSmall, kFont12, kFont14, kFont20, kFont40, kFontCount };

  // A label to draw in the frame: text at logical (x, top), in a face and a
  // colour, with a halo.
  struct Label {
    int face = kLarge;
    int x = 0, top = 0;
    std::string text;
    traffic::ColorRef color = 0;
    bool operator==(const Label&) const = default;
  };
  // The figures the graph layer shows, to tell whether it must be drawn again.
  struct AreaKey {
    std::int64_t scale = 0;
    std::vector<int> lines;       // rows of the MAX and average lines, each followed by its colour slot
    std::vector<Label> overlay;   // the notice and the interface warning over the graph
    bool operator==(const AreaKey&) const = default;
  };

  void rebuild_fonts();
  // Logical to device pixels, rounding every edge the same way, so that
  // neighbouring areas meet exactly.
  int dev(int v) const { return dpr_ == 1 ? v : static_cast<int>(std::floor(v * dpr_ + 0.5)); }
  QRect dev(const QRect& r) const;
  void fill_rows(int y0, int y1, QRgb color);  // device rows [y0, y1)

  void build_labels(const GraphFrame& f, int top, int area);
  void draw_area(const GraphFrame& f, int top, int area, int panel_top);
  void prepare_area(int top, int area);
  // The field with its grid and the bars in `r` (device pixels of the
  // picture inside the area), at their rotated places.
  void draw_field(const GraphFrame& f, const QRect& r);
  // The same for a part that is not cut by the rotation, its columns stored
  // `shift` columns to the right of the picture's.
  void draw_field_at(const GraphFrame& f, const QRect& r, int shift);
  // Turns the area's columns back into place (area_offset_ 0).
  void unrotate_area() const;
  // The parts of `r` (device pixels of the picture in the turned rows) that
  // lie in one run of the area's columns, each with how many columns right
  // of the picture's the area keeps it (one part is empty while the offset is 0).
  std::array<std::pair<QRect, int>, 2> turned_parts(const QRect& r) const;
  // The same for any device rectangle of the picture: the rows above and
  // below the turned ones are where the picture has them (shift 0).
  std::array<std::pair<QRect, int>, 4> placed_parts(const QRect& r) const;
  bool scroll_area(const GraphFrame& f, int top, int area);
  void draw_time_lines(const GraphFrame& f, int top, int area);
  void draw_polyline(const std::vector<std::uint32_t>& h, std::int64_t scale, traffic::ColorRef c, int top, int height,
                     int panel_top);
  void draw_hline(int y, traffic::ColorRef c, int top, int height);
  // A label with its halo, inside `clip` (device pixels).
  void draw_label(const Label& l, const QRect& clip);
  void draw_label_list(const std::vector<Label>& labels, const QRect& clip);
  // Logical pixels a label's image may cover: its text with the halo round it.
  QRect label_extent(const Label& l);
  // Where `now` differs from `before` (label by label, the same count), the
  // background under both, then every label of `now` reaching there, inside
  // `bounds` (logical): the pixels a whole redraw of the list gives. False
  // (nothing drawn) when the lists do not pair up.
  bool redraw_changed_labels(const std::vector<Label>& before, const std::vector<Label>& now, const QRect& bounds,
                             QRgb back);
  void draw_panel(const GraphFrame& f);
  void draw_reports(const GraphFrame& f);

  const Language lang_;
  traffic::GraphSettings settings_;
  int thread_responce_ = 0;
  LabelImageCache labels_;  // faces by FontId
  int small_line_height_ = 0;
  SpeedLabelGrid label_grid_;
  bool label_grid_valid_ = false;
  std::uint64_t generation_ = 1;  // settings, faces, size

  QSize size_;
  qreal dpr_ = 1;
  // The graph area's rows hold their columns rotated: the picture's device
  // column x lies at column (x + area_offset_) mod width. A new sample then
  // moves the bars by turning the offset instead of moving the area's
  // megabyte; copy_to() puts the columns in place on their way to the
  // screen. Only the field, the bars, the time lines, whole rows (the
  // horizontal lines) and labels reaching in (at their turned places) are
  // drawn there while the offset is turned; anything else over the area
  // (notices, the polyline, report columns, the panel, a fractional ratio)
  // puts the columns in order first. frame() does too, which is why the two
  // are mutable.
  mutable QImage frame_;
  mutable int area_offset_ = 0;
  int ring_y0_ = 0, ring_y1_ = 0;  // the rotated device rows
  bool ring_ok_ = false;           // this frame may turn the offset
  QRegion dirty_;
  bool valid_ = false;

  // The graph area as the frame holds it: the field, its grid and the bars
  // of these entries at this scale, with the time lines drawn over them and
  // the horizontal lines and labels in `area_covered_` (device rows).
  bool area_valid_ = false;
  std::vector<std::uint32_t> area_send_, area_recv_;
  std::int64_t area_scale_ = 0;
  int area_top_ = -1, area_height_ = -1;
  std::uint64_t area_generation_ = 0;
  bool area_overlay_ = false;  // a notice, the warning or the polyline lies over it
  std::vector<std::pair<int, int>> area_covered_;
  std::vector<std::uint8_t> line_rows_;  // 1 for the area's rows this frame's lines fill, kept for its capacity
  // Down the area's device rows: the field or grid colour, and the time
  // lines' colours (minor, major).
  std::vector<QRgb> row_base_;
  std::array<std::vector<QRgb>, 2> time_line_colors_;

  // Frame rows under the panel are not cleared between frames: the panel
  // keeps what it drew there.
  DetailPanel panel_;

  // What the last frame drew, to tell what the next one must draw again.
  int drawn_top_ = -1, drawn_area_ = -1, drawn_panel_height_ = -1;
  std::uint8_t drawn_flags_ = 0;
  std::uint64_t drawn_generation_ = 0;
  AreaKey drawn_area_key_, area_key_;
  std::vector<Label> drawn_band_, band_;    // the labels above the graph and inside it
  std::vector<Label> drawn_strip_, strip_;  // the latest-speed line and the idle time
  std::vector<QRect> extents_;              // label_extent() of a list, kept for its capacity
  std::vector<std::string> drawn_panel_texts_, panel_texts_;
  std::array<std::vector<std::string>, traffic::kReportListCount> drawn_reports_;
};

}  // namespace tw::ui
