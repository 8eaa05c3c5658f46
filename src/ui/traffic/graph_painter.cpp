#include "ui/traffic/graph_painter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/format.h"
#include "ui/colorref.h"
#include "ui/common/qt_text.h"

namespace tw::ui {
namespace {

using traffic::ColorRef;
namespace tr = traffic;

// Half of each channel of two opaque pixels: a 50 % blend in one step.
inline QRgb blend_half(QRgb a, QRgb b) { return 0xFF000000u | (((a & 0xFEFEFEu) >> 1) + ((b & 0xFEFEFEu) >> 1)); }

// Walks a vertical gradient of `n` rows from `top` to `bottom` one row at a
// time, in 16.16 fixed point.
class GradientWalk {
 public:
  GradientWalk(ColorRef top, ColorRef bottom, int n) {
    const int d = n > 1 ? n - 1 : 1;
    const int from[3] = {tr::color_red(top), tr::color_green(top), tr::color_blue(top)};
    const int to[3] = {tr::color_red(bottom), tr::color_green(bottom), tr::color_blue(bottom)};
    for (int i = 0; i < 3; ++i) {
      v_[i] = from[i] << 16;
      step_[i] = ((to[i] - from[i]) << 16) / d;
    }
  }
  QRgb next() {
    const QRgb c = qRgb(v_[0] >> 16, v_[1] >> 16, v_[2] >> 16);
    for (int i = 0; i < 3; ++i) v_[i] += step_[i];
    return c;
  }
  // Row j of the walk, as next() gives it the (j + 1)-th time: the steps add
  // up exactly in fixed point.
  QRgb at(int j) const {
    return qRgb((v_[0] + j * step_[0]) >> 16, (v_[1] + j * step_[1]) >> 16, (v_[2] + j * step_[2]) >> 16);
  }

 private:
  int v_[3];
  int step_[3];
};

// Faces are asked for by name; where one is not installed the monospace hint
// lets fontconfig choose the system's monospace face, so columns still line up.
// A font "height" here is the height of its text line (ascent plus descent),
// as the sizes in the settings file were chosen for, not the em size: the
// em is shrunk until a line fits.
QFont make_font(const std::string& face, int pixels, bool bold) {
  QFont f(qs(face));
  f.setStyleHint(QFont::Monospace);
  f.setFixedPitch(true);
  f.setBold(bold);
  const int want = std::max(pixels, 1);
  f.setPixelSize(want);
  const int line = QFontMetrics(f).height();
  if (line > want) f.setPixelSize(std::max(1, (want * want + line / 2) / line));
  return f;
}

QRgb* row(QImage& img, int y) { return reinterpret_cast<QRgb*>(img.bits() + img.bytesPerLine() * y); }

}  // namespace

// ---------------------------------------------------------------------------
// The figures of a frame

void read_graph_frame(traffic::TrafficMonitor& monitor, const traffic::GraphSettings& settings, QSize size,
                      int panel_height, std::uint8_t flags, std::uint32_t now_ms, Language lang, GraphFrame& out) {
  out.flags = flags;
  out.panel_height = panel_height;
  monitor.copy_speed_histories(out.send, out.recv, static_cast<std::size_t>(tr::visible_bar_count(size.width())));
  out.figures = monitor.figures();
  out.maxima = {out.figures.max_send, out.figures.max_recv};
  const int area = tr::graph_area_height(size.height(), panel_height, settings.font_size);
  out.scale = tr::vertical_scale(settings, out.maxima.overall(), area);
  out.snapshot = monitor.snapshot();
  out.transfer_lines = tr::panel_transfer_lines(out.figures, settings, out.scale, lang);
  out.now_ms = now_ms;
  out.auto_reset = monitor.auto_reset_enabled();
  const std::optional<std::uint32_t> countdown = monitor.auto_reset_countdown();
  out.reset_seconds = countdown ? *countdown : monitor.auto_reset_seconds();
  for (int i = 0; i < tr::kReportListCount; ++i) {
    auto& r = out.reports[static_cast<std::size_t>(i)];
    if (flags & (1u << i))
      r = monitor.report_list(i);
    else
      r.clear();
  }
}

// ---------------------------------------------------------------------------
// Settings and size

GraphPainter::GraphPainter(Language lang) : lang_(lang), settings_(tr::default_graph_settings(lang)) {
  rebuild_fonts();
}

void GraphPainter::set_settings(const traffic::GraphSettings& settings, int thread_responce) {
  settings_ = settings;
  thread_responce_ = thread_responce;
  rebuild_fonts();
}

void GraphPainter::rebuild_fonts() {
  const std::string fixed_face = lang_ == Language::Japanese ? "ＭＳ ゴシック" : "Lucida Console";
  std::vector<QFont> fonts(kFontCount);
  fonts[kLarge] = make_font(settings_.font_name, settings_.font_size, settings_.large_font_emphasis);
  fonts[kSmall] = make_font(settings_.font_name2, settings_.font_size2, false);
  fonts[kFont12] = make_font(fixed_face, 12, false);
  fonts[kFont14] = make_font(fixed_face, 14, false);
  fonts[kFont20] = make_font(fixed_face, 20, false);
  fonts[kFont40] = make_font(fixed_face, 40, false);
  small_line_height_ = QFontMetrics(fonts[kSmall]).height();
  labels_.set_fonts(std::move(fonts), dpr_);
  label_grid_valid_ = false;
  ++generation_;
}

void GraphPainter::resize(QSize size, qreal dpr) {
  if (dpr <= 0) dpr = 1;
  const bool new_ratio = dpr != dpr_;
  size_ = size;
  dpr_ = dpr;
  if (size.isEmpty()) {
    frame_ = QImage();
  } else {
    frame_ = QImage(dev(size.width()), dev(size.height()), QImage::Format_RGB32);
    frame_.setDevicePixelRatio(dpr_);
    frame_.fill(rgb_from_colorref(settings_.color(tr::kColorBackground)));
  }
  area_offset_ = 0;
  // The glyphs are drawn for one ratio.
  if (new_ratio) rebuild_fonts();
  ++generation_;
  area_valid_ = false;
  panel_.invalidate();
  valid_ = false;
}

QRect GraphPainter::dev(const QRect& r) const {
  if (dpr_ == 1) return r;
  const int l = dev(r.left()), t = dev(r.top());
  return QRect(l, t, dev(r.left() + r.width()) - l, dev(r.top() + r.height()) - t);
}

void GraphPainter::fill_rows(int y0, int y1, QRgb color) {
  y0 = std::max(y0, 0);
  y1 = std::min(y1, frame_.height());
  for (int y = y0; y < y1; ++y) std::fill_n(row(frame_, y), frame_.width(), color);
}

// ---------------------------------------------------------------------------
// The frame

void GraphPainter::build_labels(const GraphFrame& f, int top, int area) {
  const int w = size_.width();
  const tr::GraphLabels& l = tr::graph_labels(lang_, settings_.english_labels);
  band_.clear();
  strip_.clear();
  area_key_.lines.clear();
  area_key_.overlay.clear();

  const int fs = settings_.font_size;
  if (fs > 0) {
    // Two rows in the band above the graph: the maxima, then the smoothed
    // speeds. Their places depend only on the face and the labels.
    if (!label_grid_valid_) {
      label_grid_ = speed_label_grid(
          labels_.font(kLarge), fs, 8, {{{qs(l.send_max), qs(l.recv_max)}, {qs(l.send_ave), qs(l.recv_ave)}}},
          [this](const QString& s) { return labels_.advance_width(kLarge, s); },
          QLatin1String(tw::kAutoSpeedIntegerTemplate), QStringLiteral("0000.000 0000 0000"));
      label_grid_valid_ = true;
    }
    const SpeedLabelGrid& g = label_grid_;
    // "<label> <integer>.<fraction> <unit>", the integer right-aligned in
    // four digits so that the fractions of consecutive frames stay in place.
    const auto speed_label = [&](int column, int row_index, const char* label, std::int64_t speed, int unit) {
      const int x = g.column_x[static_cast<std::size_t>(column)];
      const int end = g.integer_end[static_cast<std::size_t>(column)];
      const int row_top = g.row_top[static_cast<std::size_t>(row_index)];
      const tw::SpeedParts parts = tw::auto_speed_parts(speed, unit);
      std::string integer = std::to_string(parts.integer);
      char tail[32];
      std::snprintf(tail, sizeof tail, ".%03ld %s", static_cast<long>(std::abs(parts.fraction)),
                    tw::unit_name(parts.unit));
      band_.push_back({kLarge, x, row_top, std::string(label) + ' ', tr::kColorText});
      const int integer_x = end - labels_.advance_width(kLarge, qs(integer));
      band_.push_back({kLarge, integer_x, row_top, std::move(integer), tr::kColorText});
      band_.push_back({kLarge, end, row_top, tail, tr::kColorText});
    };
    if (settings_.max_line_mode) {
      speed_label(0, 0, l.send_max, f.maxima.send, settings_.max_unit);
      speed_label(1, 0, l.recv_max, f.maxima.recv, settings_.max_unit);
    }
    speed_label(0, 1, l.send_ave, f.figures.smoothed_send, settings_.ave_unit);
    speed_label(1, 1, l.recv_ave, f.figures.smoothed_recv, settings_.ave_unit);
  }

  // The latest speeds below the graph, and the idle time at the right.
  const int text_top = top + area + (tr::kSpeedStripHeight - small_line_height_) / 2;
  strip_.push_back({kSmall, 8, text_top,
                    tw::overlay_speeds_text(l.send_speed, f.figures.latest_send, l.recv_speed, f.figures.latest_recv,
                                            settings_.ave_unit),
                    tr::kColorText});
  if (tr::inactive(f.now_ms, f.figures.last_activity_ms)) {
    std::string idle = tw::idle_time_text(l.inactivity, f.now_ms - f.figures.last_activity_ms);
    const int x = w - 11 - labels_.advance_width(kSmall, qs(idle));
    strip_.push_back({kSmall, x, text_top, std::move(idle), tr::kColorOtherText});
  }

  // Over the graph: the transient notice and the interface warning.
  if (!f.notice.empty()) {
    const int x = (w - QFontMetrics(labels_.font(kFont20)).horizontalAdvance(qs(f.notice))) / 2;
    area_key_.overlay.push_back({kFont20, x, top + 8, f.notice, tr::kColorOtherText});
  }
  if (f.figures.state == tr::InterfaceState::Changed) {
    std::string s = tr::reset_warning_text(l, f.auto_reset, f.reset_seconds);
    const QString text = qs(s);
    // The largest of the fixed faces that fits the width.
    FontId font = kFont12;
    for (FontId candidate : {kFont40, kFont20})
      if (QFontMetrics(labels_.font(candidate)).horizontalAdvance(text) + 16 <= w) {
        font = candidate;
        break;
      }
    const QFontMetrics fm(labels_.font(font));
    area_key_.overlay.push_back({font, std::max(8, (w - fm.horizontalAdvance(text)) / 2),
                                 top + (area - fm.height()) / 2, std::move(s), tr::kColorOtherText});
  }

  // The horizontal lines over the bars.
  const bool hidden = f.flags & tr::kGraphHiddenFlag;
  area_key_.scale = hidden ? 0 : f.scale;
  if (!hidden && area > 0 && fs > 0) {
    const auto line = [&](std::int64_t v, int slot) {
      if (auto y = tr::speed_line_y(v, f.scale, top, area)) {
        area_key_.lines.push_back(*y);
        area_key_.lines.push_back(slot);
      }
    };
    if (settings_.max_line_mode) {
      line(f.maxima.send, tr::kColorMaxLine);
      line(f.maxima.recv, tr::kColorMaxLine);
    }
    line(f.figures.smoothed_send, tr::kColorAverageSend);
    line(f.figures.smoothed_recv, tr::kColorAverageRecv);
  }
}

bool GraphPainter::paint(const GraphFrame& f) {
  dirty_ = QRegion();
  if (frame_.isNull()) return false;
  const int w = size_.width();
  const int h = size_.height();
  const int top = tr::label_band_height(settings_.font_size);
  const int area = tr::graph_area_height(h, f.panel_height, settings_.font_size);
  const bool hidden = f.flags & tr::kGraphHiddenFlag;
  const bool reports = f.flags & tr::kReportBitsMask;
  const int panel_top = DetailPanel::visible(size_, f.panel_height) ? h - std::min(f.panel_height, h) : h;

  build_labels(f, top, area);
  panel_texts_.assign(f.transfer_lines.begin(), f.transfer_lines.end());
  panel_texts_.push_back(f.snapshot.description);
  for (std::uint64_t v : {std::uint64_t{f.snapshot.oper_status}, f.snapshot.link_speed_bps, f.snapshot.out_ucast_pkts,
                          f.snapshot.out_nucast_pkts, f.snapshot.in_ucast_pkts, f.snapshot.in_nucast_pkts})
    panel_texts_.push_back(std::to_string(v));
  panel_texts_.push_back(f.figures.state == tr::InterfaceState::Changed ? "changed" : "");

  const bool same_geometry = valid_ && drawn_generation_ == generation_ && drawn_top_ == top && drawn_area_ == area &&
                             drawn_panel_height_ == f.panel_height && drawn_flags_ == f.flags;
  const bool same_bars = hidden || (area_valid_ && f.send == area_send_ && f.recv == area_recv_);
  bool redraw_area = !same_geometry || !same_bars || area_key_ != drawn_area_key_;
  bool redraw_band = !same_geometry || band_ != drawn_band_;
  bool redraw_strip = !same_geometry || strip_ != drawn_strip_;
  const bool panel_changed = !same_geometry || panel_texts_ != drawn_panel_texts_;
  if (!redraw_area && !redraw_band && !redraw_strip && !panel_changed && (!reports || f.reports == drawn_reports_))
    return false;
  // The report columns lie over everything and are blended with what is
  // under them: a frame with them is drawn whole.
  if (reports) redraw_area = redraw_band = redraw_strip = true;

  // Labels whose halo reaches into the graph area are drawn over it: the
  // two go together.
  const auto reach = [&](const std::vector<Label>& labels, int& first, int& last) {
    first = INT_MAX;
    last = INT_MIN;
    for (const Label& l : labels) {
      first = std::min(first, l.top - 1);
      last = std::max(last, l.top - 1 + labels_.label_height(l.face, qs(l.text)));
    }
  };
  int band_first = 0, band_last = 0, strip_first = 0, strip_last = 0;
  reach(band_, band_first, band_last);
  reach(strip_, strip_first, strip_last);
  const bool band_over_area = band_last > top && band_first < top + area;
  const bool strip_over_area = strip_first < top + area && strip_last > top;
  // Whether the bars may move by turning the area's offset: nothing is drawn
  // over the area this frame but the field, the bars, the time lines, whole
  // rows and labels (draw_label puts them at their turned places), and the
  // samples move by whole logical pixels.
  ring_ok_ = same_geometry && !hidden && !reports && !settings_.polyline && area_key_.overlay.empty() &&
             dpr_ == std::floor(dpr_) && dev(top + area) <= dev(panel_top);
  if (area_offset_ != 0 && !ring_ok_) unrotate_area();
  for (int pass = 0; pass < 2; ++pass) {
    if (band_over_area && (redraw_band || redraw_area)) redraw_band = redraw_area = true;
    if (strip_over_area && (redraw_strip || redraw_area)) redraw_strip = redraw_area = true;
  }

  const QRgb back = rgb_from_colorref(settings_.color(tr::kColorBackground));
  const QRect clip(0, 0, frame_.width(), dev(panel_top));  // the panel is drawn last, over its own rows
  const int strip_top = std::min(top + area, panel_top);
  // Usually only the figures of a label or two changed (the smoothed
  // speeds, every frame): in the band's and the strip's own rows only those
  // are drawn again over the background, not the rows whole, and only they
  // are copied to the screen. The parts of the band's labels that reach into
  // the graph area are drawn again whenever it is, as they were. Report
  // columns lie over everything; the polyline may stray a device pixel out
  // of the area at fractional ratios.
  const bool in_parts = same_geometry && !reports && !settings_.polyline;
  const bool band_in_parts = in_parts && redraw_band && top <= panel_top && band_.size() == drawn_band_.size();
  if (in_parts && redraw_strip && !strip_over_area &&
      redraw_changed_labels(drawn_strip_, strip_, QRect(0, strip_top, w, panel_top - strip_top), back))
    redraw_strip = false;
  if (redraw_band && !band_in_parts) {
    fill_rows(0, dev(std::min(top, panel_top)), back);
    dirty_ += QRect(0, 0, w, std::min(top, panel_top));
  }
  if (redraw_area && area > 0) {
    // The report columns of the last frame lie over the area: no scrolling.
    if (!same_geometry || reports) area_valid_ = false;
    draw_area(f, top, area, panel_top);
    dirty_ += QRect(0, top, w, area);
  }
  if (redraw_strip) {
    fill_rows(dev(strip_top), dev(panel_top), back);
    dirty_ += QRect(0, strip_top, w, panel_top - strip_top);
  }
  if (band_in_parts) {
    redraw_changed_labels(drawn_band_, band_, QRect(0, 0, w, top), back);
    // Below the band the area was just drawn anew (it always is with the band
    // reaching into it).
    if (band_over_area) {
      const QRect below(0, dev(top), frame_.width(), dev(panel_top) - dev(top));
      for (const Label& l : band_)
        if (l.top - 1 + labels_.label_height(l.face, qs(l.text)) > top) draw_label(l, below);
    }
  } else if (redraw_band) {
    draw_label_list(band_, clip);
    dirty_ += QRect(0, band_first, w, band_last - band_first) & QRect(0, 0, w, panel_top);
  }
  if (redraw_strip) draw_label_list(strip_, clip);
  if (redraw_area && area > 0) {
    draw_label_list(area_key_.overlay, clip);
    // The labels reaching into the area lie over its field from now on.
    for (auto [first, last] : {std::pair{band_first, band_last}, std::pair{strip_first, strip_last}}) {
      first = std::max(first, top);
      last = std::min(last, top + area);
      if (first < last) area_covered_.emplace_back(dev(first), dev(last));
    }
  }

  draw_panel(f);
  if (reports) {
    draw_reports(f);
    panel_.invalidate();  // the columns lie over the panel
    dirty_ = QRegion(0, 0, w, h);
  }

  valid_ = true;
  drawn_generation_ = generation_;
  drawn_top_ = top;
  drawn_area_ = area;
  drawn_panel_height_ = f.panel_height;
  drawn_flags_ = f.flags;
  std::swap(drawn_area_key_, area_key_);
  std::swap(drawn_band_, band_);
  std::swap(drawn_strip_, strip_);
  std::swap(drawn_panel_texts_, panel_texts_);
  drawn_reports_ = f.reports;
  return true;
}

// ---------------------------------------------------------------------------
// The graph area

const QImage& GraphPainter::frame() const {
  if (area_offset_ != 0) unrotate_area();
  return frame_;
}

void GraphPainter::unrotate_area() const {
  const int w = frame_.width();
  uchar* bits = frame_.bits();
  for (int y = ring_y0_; y < ring_y1_; ++y) {
    QRgb* line = reinterpret_cast<QRgb*>(bits + frame_.bytesPerLine() * y);
    std::rotate(line, line + area_offset_, line + w);
  }
  area_offset_ = 0;
}

void GraphPainter::copy_to(QPainter& p, const QRect& r) const {
  if (area_offset_ == 0) {
    if (dpr_ == 1)
      p.drawImage(r.topLeft(), frame_, r);
    else
      p.drawImage(QRectF(r), frame_, QRectF(r.x() * dpr_, r.y() * dpr_, r.width() * dpr_, r.height() * dpr_));
    return;
  }
  // The offset turns only at whole ratios: every piece starts and ends on a
  // logical pixel.
  for (const auto& [d, shift] : placed_parts(dev(r) & frame_.rect())) {
    if (d.isEmpty()) continue;
    const QRect source = d.translated(shift, 0);
    if (dpr_ == 1)
      p.drawImage(d.topLeft(), frame_, source);
    else
      p.drawImage(QRectF(d.x() / dpr_, d.y() / dpr_, d.width() / dpr_, d.height() / dpr_), frame_, QRectF(source));
  }
}

std::array<std::pair<QRect, int>, 2> GraphPainter::turned_parts(const QRect& r) const {
  // Picture columns [0, cut) lie at [offset, width), the rest at [0, offset).
  const int w = frame_.width(), cut = w - area_offset_;
  return {{{r & QRect(0, r.top(), cut, r.height()), area_offset_},
           {r & QRect(cut, r.top(), w - cut, r.height()), area_offset_ - w}}};
}

std::array<std::pair<QRect, int>, 4> GraphPainter::placed_parts(const QRect& r) const {
  if (area_offset_ == 0) return {{{r, 0}, {}, {}, {}}};
  const int w = frame_.width();
  const auto [first, second] = turned_parts(r & QRect(0, ring_y0_, w, ring_y1_ - ring_y0_));
  const QRect above(0, 0, w, ring_y0_), below(0, ring_y1_, w, frame_.height() - ring_y1_);
  return {{{r & above, 0}, {r & below, 0}, first, second}};
}

void GraphPainter::draw_area(const GraphFrame& f, int top, int area, int panel_top) {
  const int y0 = dev(top), y1 = dev(top + area);
  if (f.flags & tr::kGraphHiddenFlag) {
    fill_rows(y0, y1, rgb_from_colorref(settings_.color(tr::kColorBackgroundGraph)));
    area_valid_ = false;
    return;
  }
  const bool overlay = settings_.polyline || !area_key_.overlay.empty();
  if (overlay || area_overlay_ || !scroll_area(f, top, area)) {
    area_offset_ = 0;  // every column is drawn anew
    prepare_area(top, area);
    draw_field(f, QRect(0, y0, frame_.width(), y1 - y0));
  }
  area_valid_ = true;
  area_send_ = f.send;
  area_recv_ = f.recv;
  area_scale_ = f.scale;
  area_overlay_ = overlay;
  draw_time_lines(f, top, area);

  if (settings_.polyline) {
    draw_polyline(f.send, f.scale, settings_.color(tr::kColorGraphSend), top, area, panel_top);
    draw_polyline(f.recv, f.scale, settings_.color(tr::kColorGraphRecv), top, area, panel_top);
  }
  area_covered_.clear();
  const std::vector<int>& lines = area_key_.lines;
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
    draw_hline(lines[i], settings_.color(lines[i + 1]), top, area);
    area_covered_.emplace_back(dev(lines[i]), dev(std::min(lines[i] + 2, top + area)));
  }
}

void GraphPainter::prepare_area(int top, int area) {
  area_top_ = top;
  area_height_ = area;
  area_generation_ = generation_;
  const int y0 = dev(top), rows = dev(top + area) - y0;
  // Horizontal grid lines every 40 pixels up from the graph's base.
  row_base_.assign(static_cast<std::size_t>(rows), rgb_from_colorref(settings_.color(tr::kColorBackgroundGraph)));
  const QRgb grid = rgb_from_colorref(settings_.color(tr::kColorGrid));
  for (int y = top + area - 1 - tr::kHorizontalGridSpacing; y > top; y -= tr::kHorizontalGridSpacing)
    for (int r = dev(y) - y0; r < dev(y + 1) - y0; ++r) row_base_[static_cast<std::size_t>(r)] = grid;
  // Gradient time lines fade into the field towards the top.
  const ColorRef field = settings_.color(tr::kColorBackgroundGraph);
  for (int major = 0; major < 2; ++major) {
    const ColorRef c = settings_.color(major ? tr::kColorScaleChart2 : tr::kColorScaleChart);
    GradientWalk g(settings_.gradient_mode ? field : c, c, rows);
    auto& colors = time_line_colors_[static_cast<std::size_t>(major)];
    colors.resize(static_cast<std::size_t>(rows));
    for (QRgb& px : colors) px = g.next();
  }
}

bool GraphPainter::scroll_area(const GraphFrame& f, int top, int area) {
  if (!area_valid_ || area_generation_ != generation_ || area_top_ != top || area_height_ != area ||
      area_scale_ != f.scale)
    return false;
  // The number of samples that came in: the shift k under which the new
  // entries repeat the ones the area shows. Any k that fits gives exactly
  // the picture a whole redraw would, so the first is taken.
  const std::size_t n = static_cast<std::size_t>(tr::visible_bar_count(size_.width()));
  const auto fits = [n](const std::vector<std::uint32_t>& now, const std::vector<std::uint32_t>& shown,
                        std::size_t k) {
    if (now.size() != std::min(n, shown.size() + k)) return false;
    return std::equal(now.begin() + static_cast<std::ptrdiff_t>(k), now.end(), shown.begin());
  };
  constexpr std::size_t kMaxShift = 32;  // more than a second of samples behind: draw anew
  std::size_t k = 0;
  while (k <= kMaxShift && !(fits(f.send, area_send_, k) && fits(f.recv, area_recv_, k))) ++k;
  if (k > kMaxShift) return false;
  // Only whole device pixels move: at ratios where a bar is a fraction of a
  // device pixel wide the bars are drawn anew.
  const qreal pitch = tr::kBarWidth * dpr_;
  if (pitch != std::floor(pitch)) return false;
  const int shift = static_cast<int>(k) * static_cast<int>(pitch);
  const int w = frame_.width();
  if (shift >= w) return false;
  const int y0 = dev(top), y1 = dev(top + area);

  if (shift > 0) {
    if (ring_ok_) {
      // The picture moves `shift` columns towards its older edge: what it
      // shows at x it showed at x + shift (x - shift reversed).
      area_offset_ = (area_offset_ + (settings_.reverse ? w - shift : shift)) % w;
      ring_y0_ = y0;
      ring_y1_ = y1;
    } else {
      const std::size_t keep = static_cast<std::size_t>(w - shift) * 4;
      for (int y = y0; y < y1; ++y) {
        QRgb* line = row(frame_, y);
        if (settings_.reverse)
          std::memmove(line + shift, line, keep);
        else
          std::memmove(line, line + shift, keep);
      }
    }
    // The new bars, and the field where the time lines were (they stay at
    // their places while the bars move).
    draw_field(f, settings_.reverse ? QRect(0, y0, shift, y1 - y0) : QRect(w - shift, y0, shift, y1 - y0));
    const int spacing = tr::time_grid_spacing(thread_responce_);
    const int lw = size_.width();
    for (int line = 1;; ++line) {
      const int x = settings_.reverse ? line * spacing - 1 : lw - line * spacing;
      if (x < 0 || x >= lw) break;
      const int moved = settings_.reverse ? dev(x) + shift : dev(x) - shift;
      draw_field(f, QRect(moved, y0, dev(x + 1) - dev(x), y1 - y0) & QRect(0, y0, w, y1 - y0));
    }
  }
  // The rows the last frame's lines and labels covered, but for those this
  // frame's lines fill whole (most of them: the lines move seldom).
  line_rows_.assign(static_cast<std::size_t>(y1 - y0), 0);
  const std::vector<int>& lines = area_key_.lines;
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
    const int y = lines[i];
    // draw_hline's rows: the line, and its companion below while inside the area
    const int last = dev(std::min(y + 2, top + area));
    for (int r = std::max(dev(y), y0); r < std::min(last, y1); ++r) line_rows_[static_cast<std::size_t>(r - y0)] = 1;
  }
  for (const auto& [a, b] : area_covered_) {
    int r = std::max(a, y0);
    const int end = std::min(b, y1);
    while (r < end) {
      if (line_rows_[static_cast<std::size_t>(r - y0)]) {
        ++r;
        continue;
      }
      int run = r + 1;
      while (run < end && !line_rows_[static_cast<std::size_t>(run - y0)]) ++run;
      draw_field(f, QRect(0, r, w, run - r));
      r = run;
    }
  }
  return true;
}

void GraphPainter::draw_field(const GraphFrame& f, const QRect& r) {
  for (const auto& [part, shift] : turned_parts(r))
    if (!part.isEmpty()) draw_field_at(f, part, shift);
}

void GraphPainter::draw_field_at(const GraphFrame& f, const QRect& r, int shift) {
  const int w = size_.width();
  const int top = area_top_, height = area_height_;
  const int y0 = dev(top);
  uchar* bits = frame_.bits();
  const qsizetype bpl = frame_.bytesPerLine();
  // Pixel x of the picture's row y.
  const auto px = [&](int y, int x) -> QRgb& { return reinterpret_cast<QRgb*>(bits + bpl * y)[x + shift]; };
  const int x0 = r.left(), x1 = r.right() + 1, r0 = r.top(), r1 = r.bottom() + 1;

  for (int y = r0; y < r1; ++y) std::fill_n(&px(y, x0), x1 - x0, row_base_[static_cast<std::size_t>(y - y0)]);

  const int n = tr::visible_bar_count(w);
  const int base_row = dev(top + height);  // one past the bars' bottom row
  const ColorRef base = tr::brighten(settings_.color(tr::kColorBackgroundGraph), tr::kBarShade);
  // The entries whose bars may reach into the columns: those of the logical
  // columns around them.
  const int lx0 = static_cast<int>(std::floor(x0 / dpr_)) - 1, lx1 = static_cast<int>(std::ceil(x1 / dpr_)) + 1;
  const int first_entry = std::max(0, (settings_.reverse ? lx0 : w - lx1) / tr::kBarWidth - 1);
  const int last_entry = (settings_.reverse ? lx1 : w - lx0) / tr::kBarWidth + 1;
  for (int dir = 0; dir < 2; ++dir) {
    const auto& hist = dir == 0 ? f.send : f.recv;
    const ColorRef c = settings_.color(dir == 0 ? tr::kColorGraphSend : tr::kColorGraphRecv);
    const ColorRef c_top = tr::brighten(c, tr::kBarShade);
    const QRgb solid = rgb_from_colorref(c);
    const int count = std::min({n, static_cast<int>(hist.size()), last_entry + 1});
    for (int i = first_entry; i < count; ++i) {
      const int left = tr::bar_left(i, 0, w, settings_.reverse);
      const int xa = std::max(dev(left), x0), xb = std::min(dev(left + tr::kBarWidth), x1);
      if (xa >= xb) continue;
      const int bh = tr::bar_height(hist[static_cast<std::size_t>(i)], f.scale, height);
      if (bh <= 0) continue;
      const int first = dev(top + height - bh);
      if (first >= r1) continue;
      // In the blending routine the receive bars let the send bars show
      // through where the two overlap.
      int overlap_first = base_row;
      if (dir == 1 && settings_.report_mode && static_cast<std::size_t>(i) < f.send.size()) {
        const int sh = tr::bar_height(f.send[static_cast<std::size_t>(i)], f.scale, height);
        if (sh > 0) overlap_first = dev(top + height - sh);
      }
      const GradientWalk g(c_top, base, base_row - first);
      for (int y = std::max(first, r0); y < std::min(base_row, r1); ++y) {
        const QRgb shade = settings_.gradient_mode ? g.at(y - first) : solid;
        QRgb* l = &px(y, xa);
        if (y >= overlap_first)
          for (int x = 0; x < xb - xa; ++x) l[x] = blend_half(l[x], shade);
        else
          std::fill_n(l, xb - xa, shade);
      }
    }
  }
}

void GraphPainter::draw_time_lines(const GraphFrame& f, int top, int area) {
  // One line per second of sampling, static against the newest edge. The
  // bars lie over the lines: a line shows above the taller bar of its column.
  const int w = size_.width();
  const int y0 = dev(top);
  const int spacing = tr::time_grid_spacing(thread_responce_);
  const auto height_at = [&](const std::vector<std::uint32_t>& h, int i) {
    return i < static_cast<int>(h.size()) ? tr::bar_height(h[static_cast<std::size_t>(i)], f.scale, area) : 0;
  };
  uchar* bits = frame_.bits();
  const qsizetype bpl = frame_.bytesPerLine();
  const int frame_w = frame_.width();
  for (int k = 1;; ++k) {
    const int x = settings_.reverse ? k * spacing - 1 : w - k * spacing;
    if (x < 0 || x >= w) break;
    const int i = settings_.reverse ? x / tr::kBarWidth : (w - 1 - x) / tr::kBarWidth;
    const int bh = i < tr::visible_bar_count(w) ? std::max(height_at(f.send, i), height_at(f.recv, i)) : 0;
    const std::vector<QRgb>& colors = time_line_colors_[tr::time_grid_major(k) ? 1 : 0];
    const int y_end = dev(top + area - bh);
    for (int dx = dev(x); dx < dev(x + 1); ++dx) {
      const int col = (dx + area_offset_) % frame_w;  // where the area keeps the picture's column
      for (int y = y0; y < y_end; ++y)
        reinterpret_cast<QRgb*>(bits + bpl * y)[col] = colors[static_cast<std::size_t>(y - y0)];
    }
  }
}

void GraphPainter::draw_polyline(const std::vector<std::uint32_t>& h, std::int64_t scale, ColorRef c, int top, int height,
                                 int panel_top) {
  const int w = size_.width();
  const int n = std::min<int>(tr::visible_bar_count(w), static_cast<int>(h.size()));
  if (n < 2) return;
  const int bottom = top + height - 1;
  QPolygon points(n);
  for (int i = 0; i < n; ++i) {
    const int bh = tr::bar_height(h[static_cast<std::size_t>(i)], scale, height);
    points.setPoint(i, tr::bar_left(i, 0, w, settings_.reverse) + 1, bh > 0 ? bottom - bh + 1 : bottom);
  }
  QPainter p(&frame_);
  p.setClipRect(QRect(0, 0, w, panel_top));
  // One logical pixel wide at every ratio.
  p.setPen(QPen(from_colorref(c), dpr_ == 1 ? 0 : 1));
  p.drawPolyline(points);
}

void GraphPainter::draw_hline(int y, ColorRef c, int top, int height) {
  fill_rows(dev(y), dev(y + 1), rgb_from_colorref(c));
  if (y + 1 < top + height)
    fill_rows(dev(y + 1), dev(y + 2),
              rgb_from_colorref(tr::companion_color(c, settings_.color(tr::kColorBackgroundGraph))));
}

// ---------------------------------------------------------------------------
// Text

void GraphPainter::draw_label(const Label& l, const QRect& clip) {
  const ColorRef field = settings_.color(tr::kColorBackgroundGraph);
  const QString text = qs(l.text);
  const QRgb ink = rgb_from_colorref(settings_.color(l.color));
  const QRgb halo = rgb_from_colorref(tr::halo_color(settings_.color(l.color), field));
  // The part over the turned rows goes where they keep its columns; a shift
  // is a whole number of logical pixels (see copy_to).
  for (const auto& [part, shift] : placed_parts(clip))
    if (!part.isEmpty())
      labels_.draw_label(frame_, part.translated(shift, 0), l.face, l.x + static_cast<int>(shift / dpr_), l.top, text,
                         ink, halo, LabelStyle::Halo);
}

void GraphPainter::draw_label_list(const std::vector<Label>& list, const QRect& clip) {
  for (const Label& l : list) draw_label(l, clip);
}

QRect GraphPainter::label_extent(const Label& l) {
  // The image starts a margin (at most a logical pixel and a bit) left of and
  // above the text and ends four pixels right of it and one below, each
  // edge rounded out to device pixels: a pixel more either way is safe.
  const QString s = qs(l.text);
  return QRect(l.x - 2, l.top - 2, labels_.text_width(l.face, s) + 8, labels_.label_height(l.face, s) + 2);
}

bool GraphPainter::redraw_changed_labels(const std::vector<Label>& before, const std::vector<Label>& now,
                                         const QRect& bounds, QRgb back) {
  if (before.size() != now.size()) return false;
  // Changed labels whose images touch (a figure and its unit) are one piece:
  // the background goes under both, then each label reaching there is laid
  // over it again in the list's order, as the whole redraw lays them.
  std::vector<QRect> pieces;
  for (std::size_t i = 0; i < now.size(); ++i) {
    if (before[i] == now[i]) continue;
    QRect r = (label_extent(before[i]) | label_extent(now[i])) & bounds;
    if (r.isEmpty()) continue;
    for (auto it = pieces.begin(); it != pieces.end();) {
      if (it->intersects(r)) {
        r |= *it;
        pieces.erase(it);
        it = pieces.begin();  // the grown piece may reach others now
      } else {
        ++it;
      }
    }
    pieces.push_back(r);
  }
  if (pieces.empty()) return true;
  extents_.clear();
  for (const Label& l : now) extents_.push_back(label_extent(l));
  for (const QRect& piece : pieces) {
    const QRect d = dev(piece);
    for (int y = d.top(); y <= d.bottom(); ++y) std::fill_n(row(frame_, y) + d.left(), d.width(), back);
    for (std::size_t i = 0; i < now.size(); ++i)
      if (extents_[i].intersects(piece)) draw_label(now[i], d);
    dirty_ += piece;
  }
  return true;
}

void GraphPainter::draw_panel(const GraphFrame& f) {
  DetailPanel::Content c;
  c.height = f.panel_height;
  c.interface_changed = f.figures.state == tr::InterfaceState::Changed;
  c.label_lang = tr::label_language(lang_, settings_.english_labels);
  c.background = settings_.color(tr::kColorBackground);
  c.text = settings_.color(tr::kColorText);
  c.shadow = settings_.color(tr::kColorBackgroundText);
  c.snapshot = &f.snapshot;
  c.transfer_lines = &f.transfer_lines;
  c.generation = generation_;
  panel_.draw(frame_, size_, labels_, kFont12, c, dirty_);
}

void GraphPainter::draw_reports(const GraphFrame& f) {
  const int h = size_.height();
  const int col_h = h - 2 * tr::kReportMargin;
  if (col_h <= 0) return;
  const QFontMetrics fm(labels_.font(kFont12));
  const QRgb shadow = rgb_from_colorref(settings_.color(tr::kColorBackgroundText));
  const QRgb backdrop = rgb_from_colorref(settings_.color(tr::kColorBackground));
  QPainter p(&frame_);
  for (const tr::ReportColumn& col : tr::report_columns(f.flags, lang_)) {
    const QRect r = QRect(col.x, tr::kReportMargin, col.width, col_h).intersected(QRect(QPoint(0, 0), size_));
    if (r.isEmpty()) continue;
    // The blending routine lays the column over a backdrop of the frame mixed
    // half and half with the background colour, so the lines stay readable
    // over bright bars; the plain routine writes them straight on the frame.
    if (settings_.report_mode) {
      const QRect d = dev(r);
      for (int y = d.top(); y <= d.bottom(); ++y) {
        QRgb* line = row(frame_, y);
        for (int x = d.left(); x <= d.right(); ++x) line[x] = blend_half(line[x], backdrop);
      }
    }
    p.setClipRect(r);
    const QRgb c = rgb_from_colorref(settings_.color(tr::kColorReportFirst + col.list));
    int y = r.top() + 2;
    for (const std::string& line : f.reports[static_cast<std::size_t>(col.list)]) {
      if (y > r.bottom()) break;
      const QString t = qs(line);
      labels_.draw_text(p, kFont12, r.left() + 5, y + 1, t, shadow);
      labels_.draw_text(p, kFont12, r.left() + 4, y, t, c);
      y += fm.height();
    }
  }
}

}  // namespace tw::ui
