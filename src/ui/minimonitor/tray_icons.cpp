#include "ui/minimonitor/tray_icons.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTransform>

#include "traffic/mini_monitor_logic.h"
#include "ui/minimonitor/mini_colors.h"

namespace tw::ui {
namespace {

// Lit arrow colours: the default send and receive colours of the program.
constexpr std::uint32_t kSendLit = 0x3040FF;
constexpr std::uint32_t kRecvLit = 0x30FF40;
constexpr std::uint32_t kArrowIdle = 0x707070;
constexpr std::uint32_t kArrowOutline = 0x202020;

// The arrows on a 16-unit grid: up (send) on the left, down (receive) on the right.
QPainterPath up_arrow() {
  QPainterPath p;
  p.moveTo(4.0, 1.0);
  p.lineTo(7.5, 6.0);
  p.lineTo(5.25, 6.0);
  p.lineTo(5.25, 14.5);
  p.lineTo(2.75, 14.5);
  p.lineTo(2.75, 6.0);
  p.lineTo(0.5, 6.0);
  p.closeSubpath();
  return p;
}

// The receive arrow is the send arrow upside down (y -> 16 - y), moved to
// the right half (x + 8): one outline to keep right, not two.
QPainterPath down_arrow() { return QTransform(1.0, 0.0, 0.0, -1.0, 8.0, 16.0).map(up_arrow()); }

QImage blank(int size) {
  QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  return img;
}

QIcon icon_of(const QImage& img) { return QIcon(QPixmap::fromImage(img)); }

}  // namespace

TrayIcons::TrayIcons(const shell::TrayIconSettings& settings) : settings_(settings) {}

void TrayIcons::set_settings(const shell::TrayIconSettings& settings) {
  settings_ = settings;
  monitor_valid_ = false;
}

int TrayIcons::picture_size() const { return settings_.high_dpi ? 32 : 16; }

QImage TrayIcons::status_image(int state, int size) {
  if (state < 0 || state > 3) state = 0;
  QImage img = blank(size);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  QPen outline(from_colorref(kArrowOutline));
  outline.setWidthF(0.8);
  outline.setJoinStyle(Qt::MiterJoin);
  p.setPen(outline);
  p.setBrush(from_colorref((state & 1) ? kSendLit : kArrowIdle));
  p.drawPath(up_arrow());
  p.setBrush(from_colorref((state & 2) ? kRecvLit : kArrowIdle));
  p.drawPath(down_arrow());
  return img;
}

QImage TrayIcons::monitor_image(const QString& send, const QString& recv, const shell::TrayIconSettings& s, int size) {
  QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
  img.fill(from_colorref(static_cast<std::uint32_t>(s.color_background)));
  QPainter p(&img);
  p.setRenderHint(QPainter::TextAntialiasing);
  QFont font(QString::fromLatin1(traffic::tray_font_face(s.font)));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(size / 2 + 1);
  // The "for High DPI" face is drawn heavier so it stays legible when scaled.
  font.setBold(s.font == 2 || s.high_dpi != 0);
  p.setFont(font);
  const QFontMetricsF fm(font);
  const double half = size / 2.0;
  auto draw = [&](const QString& text, std::uint32_t color, double top) {
    // Right-aligned; squeezed horizontally when the figure is wider than the icon.
    const double w = fm.horizontalAdvance(text);
    const double sx = w > size ? size / w : 1.0;
    p.save();
    p.translate(size, top + (half - fm.height()) / 2.0 + fm.ascent());
    p.scale(sx, 1.0);
    p.setPen(from_colorref(color));
    p.drawText(QPointF(-w, 0), text);
    p.restore();
  };
  draw(send, static_cast<std::uint32_t>(s.color_send), 0);
  draw(recv, static_cast<std::uint32_t>(s.color_receive), half);
  return img;
}

QImage TrayIcons::error_image(int size) {
  QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
  img.fill(from_colorref(kErrorFace));
  QPainter p(&img);
  const int edge = size >= 32 ? 2 : 1;
  const QColor light = from_colorref(kErrorLightEdge), dark = from_colorref(kErrorDarkEdge);
  // Raised: light along the top and left, dark along the bottom and right.
  p.fillRect(0, 0, size, edge, light);
  p.fillRect(0, 0, edge, size, light);
  p.fillRect(0, size - edge, size, edge, dark);
  p.fillRect(size - edge, 0, edge, size, dark);
  return img;
}

QIcon TrayIcons::status_icon(int state) {
  if (state < 0 || state > 3) state = 0;
  QIcon& icon = status_[static_cast<std::size_t>(state)];
  if (icon.isNull()) {
    icon.addPixmap(QPixmap::fromImage(status_image(state, 16)));
    icon.addPixmap(QPixmap::fromImage(status_image(state, 32)));
  }
  return icon;
}

QIcon TrayIcons::monitor_icon(std::int64_t send, std::int64_t recv, bool* changed) {
  const QString s = QString::fromStdString(traffic::tray_figure_text(traffic::tray_figure_value(send, settings_.unit)));
  const QString r = QString::fromStdString(traffic::tray_figure_text(traffic::tray_figure_value(recv, settings_.unit)));
  const bool redraw = !monitor_valid_ || s != monitor_send_ || r != monitor_recv_;
  if (redraw) {
    monitor_ = icon_of(monitor_image(s, r, settings_, picture_size()));
    monitor_send_ = s;
    monitor_recv_ = r;
    monitor_valid_ = true;
  }
  if (changed) *changed = redraw;
  return monitor_;
}

QIcon TrayIcons::error_icon() {
  if (error_.isNull()) {
    error_.addPixmap(QPixmap::fromImage(error_image(16)));
    error_.addPixmap(QPixmap::fromImage(error_image(32)));
  }
  return error_;
}

}  // namespace tw::ui
