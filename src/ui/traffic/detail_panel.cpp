#include "ui/traffic/detail_panel.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "traffic/info_report.h"
#include "ui/colorref.h"
#include "ui/traffic/label_image_cache.h"

namespace tw::ui {
namespace {

namespace tr = traffic;

// Frame of the panel while the interface at the selected position changed.
constexpr tr::ColorRef kChangedFrame = 0x3030FF;

}  // namespace

bool DetailPanel::visible(QSize frame, int height) {
  return std::min(height, frame.height()) >= 8 && frame.width() >= 16;
}

namespace {

// Logical pixels to device pixels of an image with ratio `dpr`, rounding the
// edges the same way everywhere, so that neighbouring areas meet exactly.
int device(int v, qreal dpr) { return dpr == 1 ? v : static_cast<int>(std::floor(v * dpr + 0.5)); }
QRect device(const QRect& r, qreal dpr) {
  if (dpr == 1) return r;
  const int l = device(r.left(), dpr), t = device(r.top(), dpr);
  return QRect(l, t, device(r.left() + r.width(), dpr) - l, device(r.top() + r.height(), dpr) - t);
}

}  // namespace

void DetailPanel::draw_chrome(QSize frame, qreal dpr, int height, int left_width, bool changed, tr::ColorRef bg) {
  const int w = frame.width();
  const int ph = std::min(height, frame.height());
  const std::array<int, 6> key = {w, ph, left_width, changed ? 1 : 0, static_cast<int>(bg),
                                  static_cast<int>(dpr * 64)};
  if (key == chrome_key_ && !chrome_.isNull()) return;
  chrome_key_ = key;
  // As many device rows as the frame has below the panel's top edge.
  const int y0 = device(frame.height() - ph, dpr);
  chrome_ = QImage(device(w, dpr), device(frame.height(), dpr) - y0, QImage::Format_RGB32);
  chrome_.setDevicePixelRatio(dpr);
  chrome_.fill(rgb_from_colorref(bg));
  QPainter p(&chrome_);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(from_colorref(changed ? kChangedFrame : tr::brighten(bg, 64)), changed ? 2 : 1));
  p.setBrush(from_colorref(tr::brighten(bg, 20)));
  p.drawRoundedRect(QRectF(3.5, 2.5, w - 7, ph - 5), 7, 7);
  if (left_width > 0) {
    // Two inner boxes: the interface on the left, the transfer figures on the right.
    const int box_bottom = ph - 8;
    p.setPen(QPen(from_colorref(tr::brighten(bg, 44)), 1));
    p.setBrush(from_colorref(tr::brighten(bg, 8)));
    p.drawRoundedRect(QRectF(10.5, 8.5, left_width, box_bottom - 8), 5, 5);
    p.drawRoundedRect(QRectF(16.5 + left_width, 8.5, w - 28 - left_width, box_bottom - 8), 5, 5);
  }
}

namespace {

// The device rectangle `r` in logical pixels, rounded outwards.
QRect logical(const QRect& r, qreal dpr) {
  if (dpr == 1) return r;
  const int l = static_cast<int>(std::floor(r.left() / dpr)), t = static_cast<int>(std::floor(r.top() / dpr));
  const int right = static_cast<int>(std::ceil((r.right() + 1) / dpr));
  const int bottom = static_cast<int>(std::ceil((r.bottom() + 1) / dpr));
  return QRect(l, t, right - l, bottom - t);
}

// `s` into `q`, in place for ASCII: the buffer serves frame after frame.
void assign(QString& q, const std::string& s) {
  if (!std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    q = QString::fromStdString(s);
    return;
  }
  q.resize(static_cast<qsizetype>(s.size()));
  QChar* d = q.data();
  for (std::size_t i = 0; i < s.size(); ++i) d[i] = QChar(static_cast<char16_t>(s[i]));
}

bool same_stats(const tr::PanelInterfaceStats& a, const tr::PanelInterfaceStats& b) {
  return a.speed_bps == b.speed_bps && a.oper_status == b.oper_status && a.ucast_sent == b.ucast_sent &&
         a.nucast_sent == b.nucast_sent && a.ucast_received == b.ucast_received &&
         a.nucast_received == b.nucast_received;
}

}  // namespace

void DetailPanel::put(std::size_t i, const QRect& clip, int x, int y, const std::string& text) {
  if (next_.size() <= i) next_.resize(i + 1);
  Line& l = next_[i];
  l.clip = clip;
  l.x = x;
  l.y = y;
  if (l.text != text || l.shown.isNull()) {
    l.text = text;
    assign(l.shown, text);
  }
}

void DetailPanel::update_left(const Content& content, LabelImageCache& labels, int face) {
  const tr::InterfaceSnapshot& snap = *content.snapshot;
  tr::PanelInterfaceStats stats;
  stats.speed_bps = snap.link_speed_bps;
  stats.oper_status = snap.oper_status;
  stats.ucast_sent = snap.out_ucast_pkts;
  stats.nucast_sent = snap.out_nucast_pkts;
  stats.ucast_received = snap.in_ucast_pkts;
  stats.nucast_received = snap.in_nucast_pkts;
  const bool new_widths = widths_generation_ != content.generation || widths_face_ != face || left_widths_.empty();
  widths_generation_ = content.generation;
  widths_face_ = face;
  if (!stats_valid_ || !same_stats(stats, stats_) || stats_lang_ != content.label_lang || left_.empty()) {
    const std::vector<std::string> lines = tr::interface_statistics_lines(stats, content.label_lang);
    left_.resize(lines.size() + 1);
    left_widths_.resize(left_.size(), -1);
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (left_[i + 1] != lines[i]) {
        left_[i + 1] = lines[i];
        left_widths_[i + 1] = -1;
      }
    stats_ = stats;
    stats_lang_ = content.label_lang;
    stats_valid_ = true;
  }
  if (left_[0] != snap.description) {
    left_[0] = snap.description;
    left_widths_[0] = -1;
  }
  for (std::size_t i = 0; i < left_.size(); ++i)
    if (left_widths_[i] < 0 || new_widths) {
      assign(scratch_, left_[i]);
      left_widths_[i] = labels.text_width(face, scratch_);
    }
}

void DetailPanel::draw(QImage& frame, QSize size, LabelImageCache& labels, int face, const Content& content,
                       QRegion& dirty) {
  const qreal dpr = labels.dpr();
  const int w = size.width();
  const int h = size.height();
  const int ph = std::min(content.height, h);
  if (!visible(size, content.height)) {
    valid_ = false;
    return;
  }
  const int y0 = h - ph;
  const bool changed = content.interface_changed;
  if (line_height_generation_ != content.generation || line_height_face_ != face || line_height_ <= 0) {
    line_height_ = QFontMetrics(labels.font(face)).height();
    line_height_generation_ = content.generation;
    line_height_face_ = face;
  }
  const int line_h = line_height_;
  count_ = 0;
  const auto add_lines = [&](const QRect& clip, int x, int y, const auto& lines, int bottom) {
    for (const std::string& s : lines) {
      if (y + line_h > bottom) break;
      put(count_++, clip, x, y, s);
      y += line_h;
    }
  };

  const tr::InterfaceSnapshot& snap = *content.snapshot;
  const std::vector<std::string>& transfer = *content.transfer_lines;
  if (ph < 3 * line_h + 16) {
    // Closed: one line with the interface and the capture time.
    draw_chrome(size, dpr, content.height, 0, changed, content.background);
    closed_.assign(snap.description).append("   ").append(transfer.front());
    if (y0 + (ph - line_h) / 2 + line_h <= h)
      put(count_++, QRect(4, y0 + 3, w - 8, ph - 6), 12, y0 + (ph - line_h) / 2, closed_);
  } else {
    update_left(content, labels, face);
    int left_w = 0;
    for (int width : left_widths_) left_w = std::max(left_w, width);
    left_w = std::min(left_w + 14, (w - 24) / 2);
    draw_chrome(size, dpr, content.height, left_w, changed, content.background);
    const int box_top = y0 + 8, box_bottom = h - 8;
    add_lines(QRect(12, y0 + 3, left_w - 3, ph - 6), 17, box_top + 5, left_, box_bottom - 2);
    add_lines(QRect(18 + left_w, y0 + 3, w - 32 - left_w, ph - 6), 23 + left_w, box_top + 5, transfer, box_bottom - 2);
  }

  // The rows of a line's image (text, shadow, a pixel to spare either side).
  const auto rows = [&](const Line& l) { return QRect(l.clip.left(), l.y - 2, l.clip.width(), line_h + 4); };
  const QRgb fore = rgb_from_colorref(content.text), shadow = rgb_from_colorref(content.shadow);
  const auto draw_line = [&](const Line& l, const QRect& clip) {
    labels.draw_label(frame, clip, face, l.x, l.y, l.shown, fore, shadow, LabelStyle::Shadow);
  };
  bool same_layout = valid_ && drawn_key_ == chrome_key_ && drawn_y0_ == y0 &&
                     drawn_generation_ == content.generation && drawn_count_ == count_;
  for (std::size_t i = 0; same_layout && i < count_; ++i)
    same_layout = drawn_[i].clip == next_[i].clip && drawn_[i].x == next_[i].x && drawn_[i].y == next_[i].y;
  const int dy0 = device(y0, dpr);
  const auto restore_chrome = [&](const QRect& r) {  // r in device pixels, inside the panel
    const QRect d = r & QRect(0, dy0, chrome_.width(), chrome_.height());
    for (int y = d.top(); y <= d.bottom(); ++y)
      std::memcpy(frame.scanLine(y) + d.left() * 4, chrome_.constScanLine(y - dy0) + d.left() * 4,
                  static_cast<std::size_t>(d.width()) * 4);
  };
  if (!same_layout) {
    restore_chrome(QRect(0, dy0, chrome_.width(), chrome_.height()));
    for (std::size_t i = 0; i < count_; ++i) draw_line(next_[i], device(next_[i].clip, dpr));
    dirty += QRect(0, y0, w, ph);
  } else {
    // The frame still holds last frame's panel: only the pixels a changed
    // line's new characters can change (mostly the figure's last digits)
    // get their chrome back, and every line reaching into them is drawn
    // again there, in order, so they come out as a full redraw would make
    // them. Copying the whole panel, or redrawing whole lines, was the
    // dearest part of a frame.
    QRect mended;  // one rectangle: a region of many small ones costs more to build than it saves
    for (std::size_t i = 0; i < count_; ++i) {
      const Line& l = next_[i];
      if (drawn_[i].text == l.text) continue;
      const QRect r = labels.label_change(face, l.x, l.y, drawn_[i].shown, l.shown, fore, shadow, LabelStyle::Shadow) &
                      device(l.clip, dpr);
      if (r.isEmpty()) continue;
      restore_chrome(r);
      mended |= r;
      for (std::size_t j = 0; j < count_; ++j) {
        const Line& m = next_[j];
        if (!device(rows(m) & m.clip, dpr).intersects(r)) continue;
        draw_line(m, r & device(m.clip, dpr));
      }
    }
    if (!mended.isEmpty()) dirty += logical(mended, dpr);
  }
  std::swap(drawn_, next_);
  drawn_count_ = count_;
  valid_ = true;
  drawn_key_ = chrome_key_;
  drawn_y0_ = y0;
  drawn_generation_ = content.generation;
}

}  // namespace tw::ui
