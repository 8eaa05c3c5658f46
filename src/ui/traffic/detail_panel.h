#pragma once
// The detailed-information panel at the bottom of the traffic graph: a
// rounded box in the background colour with the interface's statistics on
// the left and the transfer figures on the right, or, while it is closed (or
// too low for three lines), one line with the interface and the capture time.
//
// The panel draws itself into the graph's frame and keeps what it drew:
// when the next frame's panel has the same chrome and layout, only the lines
// whose text changed are drawn again, so the frame rows under the panel must
// not be touched between frames unless invalidate() is called.
//
// Use: draw() once a frame, after everything else that lies under the panel;
// invalidate() when something was drawn over the panel (the report columns).
// The panel's geometry is in logical pixels; the frame may have more device
// pixels than that (its device pixel ratio, the same as the label cache's).
//
// Threads: UI thread only.
#include <QImage>
#include <QRect>
#include <QRegion>
#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/language.h"
#include "traffic/graph_logic.h"
#include "traffic/info_report.h"
#include "traffic/traffic_monitor.h"


namespace tw::ui {

class LabelImageCache;

class DetailPanel {
 public:
  // What one frame's panel shows.
  struct Content {
    int height = 0;  // the panel's current height; the frame's height caps it
    bool interface_changed = false;  // framed in red while the interface changed
    Language label_lang = Language::English;
    traffic::ColorRef background = 0, text = 0, shadow = 0;
    const traffic::InterfaceSnapshot* snapshot = nullptr;
    const std::vector<std::string>* transfer_lines = nullptr;  // never empty
    // Changes when the faces or colours change: the kept lines no longer fit.
    std::uint64_t generation = 0;
  };

  // The panel is drawn at all in a frame of this logical size.
  static bool visible(QSize frame, int height);

  // Draws the panel into `frame` (logical size `size`) in face `face` of
  // `labels`, adding what it changed to `dirty` (logical pixels).
  void draw(QImage& frame, QSize size, LabelImageCache& labels, int face, const Content& content, QRegion& dirty);
  void invalidate() { valid_ = false; }

 private:
  struct Line {
    QRect clip;
    int x = 0, y = 0;
    std::string text;
    QString shown;  // the text as drawn, converted only when it changes
  };
  // Sets line `i` of the next frame, keeping the buffers of the line that
  // held that place two frames ago.
  void put(std::size_t i, const QRect& clip, int x, int y, const std::string& text);
  // The interface's lines (its name, then its statistics) and their widths
  // in the face, made again only when they change.
  void update_left(const Content& content, LabelImageCache& labels, int face);
  void draw_chrome(QSize frame, qreal dpr, int height, int left_width, bool changed, traffic::ColorRef background);

  // The rounded boxes, drawn again only when the panel's size, state or
  // colour changes: antialiased outlines are the dearest part of a frame.
  QImage chrome_;
  std::array<int, 6> chrome_key_{};
  // The lines as the frame holds them, and the next frame's.
  std::vector<Line> drawn_, next_;
  std::size_t count_ = 0, drawn_count_ = 0;  // lines in next_ this frame and in drawn_
  std::vector<std::string> left_;
  std::vector<int> left_widths_;
  traffic::PanelInterfaceStats stats_{};
  Language stats_lang_ = Language::English;
  bool stats_valid_ = false;
  std::uint64_t widths_generation_ = 0;
  int widths_face_ = -1;
  std::string closed_;  // the closed panel's one line
  QString scratch_;     // a line being measured
  int line_height_ = 0;
  std::uint64_t line_height_generation_ = 0;
  int line_height_face_ = -1;
  bool valid_ = false;
  std::array<int, 6> drawn_key_{};
  int drawn_y0_ = 0;
  std::uint64_t drawn_generation_ = 0;
};

}  // namespace tw::ui
