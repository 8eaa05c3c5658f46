#include "ui/options/color_list.h"

#include <QEvent>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cmath>

#include "ui/colorref.h"
#include "ui/options/page_support.h"

namespace tw::ui {

namespace {

// Where a row keeps its colour (the colour column shows no text).
constexpr int kSwatchRole = Qt::UserRole;

// Paints the colour column as a framed swatch over the cell's usual
// background, so that a colour like the list's own (white on a light list,
// black on a dark one) still shows, and the selection stays visible around
// it; the frame's colour is chosen per swatch (swatch_frame_color).
class SwatchDelegate : public QStyledItemDelegate {
 public:
  SwatchDelegate(int color_column, QObject* parent) : QStyledItemDelegate(parent), column_(color_column) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    if (index.column() != column_) return;
    const QVariant color = index.data(kSwatchRole);
    if (!color.isValid()) return;
    const QRect swatch = option.rect.adjusted(3, 2, -4, -3);
    if (swatch.width() <= 0 || swatch.height() <= 0) return;
    painter->save();
    painter->fillRect(swatch, color.value<QColor>());
    const bool selected = option.state.testFlag(QStyle::State_Selected);
    const QColor cell = option.palette.color(selected ? QPalette::Highlight : QPalette::Base);
    painter->setPen(swatch_frame_color(color.value<QColor>(), cell));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(swatch);
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    // Rows tall enough for a swatch that reads as a colour, not as a line.
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), option.fontMetrics.height() + 4));
    return size;
  }

 private:
  int column_;
};

}  // namespace

QColor swatch_frame_color(const QColor& swatch, const QColor& cell) {
  // Perceived lightness (ITU-R BT.601 weights), 0..255.
  const auto lightness = [](const QColor& c) { return 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue(); };
  const double a = lightness(swatch), b = lightness(cell);
  QColor best;
  double best_gap = -1;
  for (const QColor candidate : {QColor(Qt::black), QColor(128, 128, 128), QColor(Qt::white)}) {
    const double l = lightness(candidate);
    const double gap = std::min(std::abs(l - a), std::abs(l - b));
    if (gap > best_gap) {
      best_gap = gap;
      best = candidate;
    }
  }
  return best;
}

ColorList::ColorList(Layout layout, const Columns& columns, QWidget* parent)
    : QTreeWidget(parent),
      color_col_(layout == Layout::ColorFirst ? 0 : 1),
      name_col_(layout == Layout::ColorFirst ? 1 : 0) {
  setColumnCount(2);
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setAllColumnsShowFocus(true);
  QStringList headers;
  headers.resize(2);
  headers[color_col_] = columns.color_header;
  headers[name_col_] = columns.name_header;
  setHeaderLabels(headers);
  header()->setStretchLastSection(true);
  setColumnWidth(color_col_, columns.color_width);
  setColumnWidth(name_col_, columns.name_width);
  name_width_ = columns.name_width;
  setItemDelegate(new SwatchDelegate(color_col_, this));
  connect(this, &QTreeWidget::itemActivated, this, [this] { choose_for_selected_rows(); });
}

void ColorList::set_names(const QStringList& names) {
  clear();
  colors_.assign(static_cast<std::size_t>(names.size()), 0);
  for (const QString& name : names) {
    auto* item = new QTreeWidgetItem(this);
    item->setText(name_col_, name);
    paint_row(item, 0);
  }
  fit_name_column();
}

void ColorList::fit_name_column() {
  // The given width is a minimum: names in another language or a wider face
  // must not be cut. The last column stretches over the rest anyway.
  if (name_col_ == columnCount() - 1) return;
  const QFontMetrics fm(font());
  // Item views keep this margin either side of a cell's text.
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  int widest = header()->sectionSizeHint(name_col_);
  for (int row = 0; row < topLevelItemCount(); ++row)
    widest = std::max(widest, fm.horizontalAdvance(topLevelItem(row)->text(name_col_)) + 2 * margin + 2);
  setColumnWidth(name_col_, std::max(name_width_, widest));
}

void ColorList::changeEvent(QEvent* event) {
  QTreeWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) fit_name_column();
}

void ColorList::set_colors(const std::vector<std::uint32_t>& colors) {
  for (std::size_t i = 0; i < colors.size() && i < colors_.size(); ++i) {
    colors_[i] = colors[i] & 0xFFFFFF;
    paint_row(topLevelItem(static_cast<int>(i)), colors_[i]);
  }
}

std::vector<std::uint32_t> ColorList::colors() const { return colors_; }

std::uint32_t ColorList::color(int row) const {
  if (row < 0 || static_cast<std::size_t>(row) >= colors_.size()) return 0;
  return colors_[static_cast<std::size_t>(row)];
}

void ColorList::choose_for_selected_rows() {
  // Row order, not click order, so a multi-row edit is predictable.
  for (int row = 0; row < topLevelItemCount(); ++row) {
    QTreeWidgetItem* item = topLevelItem(row);
    if (!item->isSelected()) continue;
    auto chosen = choose_color(this, from_colorref(colors_[static_cast<std::size_t>(row)]));
    if (!chosen) continue;
    colors_[static_cast<std::size_t>(row)] = to_colorref(*chosen);
    paint_row(item, colors_[static_cast<std::size_t>(row)]);
  }
}

void ColorList::paint_row(QTreeWidgetItem* item, std::uint32_t color) {
  item->setData(color_col_, kSwatchRole, from_colorref(color));
  item->setText(color_col_, QString());
}

}  // namespace tw::ui
