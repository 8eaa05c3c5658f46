#include "ui/options/color_list.h"

#include <QHeaderView>

#include "ui/options/page_support.h"

namespace tw::ui {

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
  const QColor c = from_colorref(color);
  item->setBackground(color_col_, c);
  // The swatch stays visible while the row is highlighted by the selection.
  item->setData(color_col_, Qt::DecorationRole, c);
  item->setText(color_col_, QString());
}

}  // namespace tw::ui
