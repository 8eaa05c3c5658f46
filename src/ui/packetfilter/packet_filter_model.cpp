#include "ui/packetfilter/packet_filter_model.h"

#include <QColor>
#include <QPainter>
#include <QPixmap>

#include "ui/common/qt_text.h"

namespace tw::ui {
namespace {

// The two 16 x 16 images of the Action column: a hollow ring that lets
// traffic through, a filled bar that stops it.
QIcon action_icon(bool drop) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  if (drop) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 40, 40));
    p.drawEllipse(1, 1, 14, 14);
    p.setBrush(Qt::white);
    p.drawRect(4, 7, 8, 2);
  } else {
    p.setPen(QPen(QColor(40, 160, 40), 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(2, 2, 12, 12);
  }
  return QIcon(pm);
}

}  // namespace

QColor action_colour(const QString& action) {
  if (action == qs(packetfilter::kDrop)) return QColor(96, 255, 96);
  return QColor(255, 224, 32);
}

PacketFilterModel::PacketFilterModel(packetfilter::FilterController& filter, QObject* parent)
    : QAbstractTableModel(parent), filter_(filter), forward_icon_(action_icon(false)), drop_icon_(action_icon(true)) {}

int PacketFilterModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(filter_.grid().size());
}

int PacketFilterModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : packetfilter::kColumnCount;
}

QVariant PacketFilterModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= packetfilter::kColumnCount) return {};
  const QString text = qs(filter_.grid()[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())]);
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return text;
    case Qt::DecorationRole:
      if (index.column() == packetfilter::kAction) return text == qs(packetfilter::kDrop) ? drop_icon_ : forward_icon_;
      return {};
    case Qt::ForegroundRole:
      if (index.column() == packetfilter::kAction) return action_colour(text);
      return {};
    default:
      return {};
  }
}

QVariant PacketFilterModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= packetfilter::kColumnCount)
    return {};
  return qs(packetfilter::kColumnTitles[static_cast<std::size_t>(section)]);
}

void PacketFilterModel::refresh() {
  beginResetModel();
  endResetModel();
}

}  // namespace tw::ui
