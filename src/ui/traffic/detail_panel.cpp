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
  const int line_h = QFontMetrics(labels.font(face)).height();
  next_.clear();
  const auto add_lines = [&](const QRect& clip, int x, int y, const std::vector<std::string>& lines, int bottom) {
    for (const std::string& s : lines) {
      if (y + line_h > bottom) break;
      next_.push_back({clip, x, y, s});
      y += line_h;
    }
  };

  const tr::InterfaceSnapshot& snap = *content.snapshot;
  const std::vector<std::string>& transfer = *content.transfer_lines;
  if (ph < 3 * line_h + 16) {
    // Closed: one line with the interface and the capture time.
    draw_chrome(size, dpr, content.height, 0, changed, content.background);
    add_lines(QRect(4, y0 + 3, w - 8, ph - 6), 12, y0 + (ph - line_h) / 2, {snap.description + "   " + transfer.front()},
              h);
  } else {
    tr::PanelInterfaceStats stats;
    stats.speed_bps = snap.link_speed_bps;
    stats.oper_status = snap.oper_status;
    stats.ucast_sent = snap.out_ucast_pkts;
    stats.nucast_sent = snap.out_nucast_pkts;
    stats.ucast_received = snap.in_ucast_pkts;
    stats.nucast_received = snap.in_nucast_pkts;
    std::vector<std::string> left = tr::interface_statistics_lines(stats, content.label_lang);
    left.insert(left.begin(), snap.description);

    int left_w = 0;
    for (const std::string& s : left) left_w = std::max(left_w, labels.text_width(face, QString::fromStdString(s)));
    left_w = std::min(left_w + 14, (w - 24) / 2);
    draw_chrome(size, dpr, content.height, left_w, changed, content.background);
    const int box_top = y0 + 8, box_bottom = h - 8;
    add_lines(QRect(12, y0 + 3, left_w - 3, ph - 6), 17, box_top + 5, left, box_bottom - 2);
    add_lines(QRect(18 + left_w, y0 + 3, w - 32 - left_w, ph - 6), 23 + left_w, box_top + 5, transfer, box_bottom - 2);
  }

  // The rows of a line's image (text, shadow, a pixel to spare either side).
  const auto rows = [&](const Line& l) { return QRect(l.clip.left(), l.y - 2, l.clip.width(), line_h + 4); };
  const QRgb fore = rgb_from_colorref(content.text), shadow = rgb_from_colorref(content.shadow);
  const auto draw_line = [&](const Line& l, const QRect& clip) {
    labels.draw_label(frame, device(clip, dpr), face, l.x, l.y, QString::fromStdString(l.text), fore, shadow,
                      LabelStyle::Shadow);
  };
  bool same_layout = valid_ && drawn_key_ == chrome_key_ && drawn_y0_ == y0 &&
                     drawn_generation_ == content.generation && drawn_.size() == next_.size();
  for (std::size_t i = 0; same_layout && i < next_.size(); ++i)
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
    for (const Line& l : next_) draw_line(l, l.clip);
    dirty += QRect(0, y0, w, ph);
  } else {
    // The frame still holds last frame's panel: only the rows of lines whose
    // text changed get their chrome back, and every line reaching into those
    // rows is drawn again there, in order, so they come out as a full redraw
    // would make them. The copy of the whole panel is the dearest part of an
    // unchanged panel.
    for (std::size_t i = 0; i < next_.size(); ++i) {
      if (drawn_[i].text == next_[i].text) continue;
      const QRect r = rows(next_[i]) & next_[i].clip;
      if (r.isEmpty()) continue;
      restore_chrome(device(r, dpr));
      dirty += r;
      for (const Line& l : next_) {
        const QRect c = r & l.clip & rows(l);
        if (!c.isEmpty()) draw_line(l, c);
      }
    }
  }
  std::swap(drawn_, next_);
  valid_ = true;
  drawn_key_ = chrome_key_;
  drawn_y0_ = y0;
  drawn_generation_ = content.generation;
}

}  // namespace tw::ui
