#include "ui/main/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace tw::ui {
namespace {

QPixmap draw_icon(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  // Tile in the graph's "Background graph" blue with a lighter rim.
  p.setPen(QPen(QColor(0x40, 0x60, 0xD0), s / 16));
  p.setBrush(QColor(0x20, 0x30, 0xA0));
  p.drawRoundedRect(QRectF(s / 32, s / 32, s - s / 16, s - s / 16), s / 6, s / 6);
  // Two bars rising from the bottom: send (red) and receive (green), on
  // sixteenths of the size as in data/icons/tarnix.svg, so that their edges
  // fall on whole pixels at 16 px.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xFF, 0x40, 0x30));
  p.drawRect(QRectF(s * 3 / 16, s * 6 / 16, s * 4 / 16, s * 7 / 16));
  p.setBrush(QColor(0x40, 0xFF, 0x30));
  p.drawRect(QRectF(s * 9 / 16, s * 3 / 16, s * 4 / 16, s * 10 / 16));
  return pm;
}

}  // namespace

const QIcon& application_icon() {
  static const QIcon icon = [] {
    QIcon i;
    for (int size : {16, 22, 24, 32, 48, 64, 128}) i.addPixmap(draw_icon(size));
    return i;
  }();
  return icon;
}

}  // namespace tw::ui
