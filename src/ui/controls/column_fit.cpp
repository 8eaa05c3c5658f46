#include "ui/controls/column_fit.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QStyleOptionViewItem>
#include <QTableView>

#include <algorithm>

#include "ui/controls/cell_color_delegate.h"

namespace tw::ui {
namespace {

// What QHeaderView asks of the style for a section (it measures the text in
// bold, as a highlighted section shows it); with the sort mark the style
// adds the mark's room.
int header_need(const QHeaderView& header, int section, bool sort_mark) {
  const QAbstractItemModel* model = header.model();
  if (!model) return 0;
  QStyleOptionHeader opt;
  opt.initFrom(&header);
  opt.orientation = Qt::Horizontal;
  opt.section = section;
  opt.text = model->headerData(section, Qt::Horizontal, Qt::DisplayRole).toString();
  opt.textAlignment = header.defaultAlignment();
  opt.iconAlignment = Qt::AlignVCenter;
  QFont bold = header.font();
  bold.setBold(true);
  opt.fontMetrics = QFontMetrics(bold);
  if (sort_mark) opt.sortIndicator = QStyleOptionHeader::SortDown;
  return header.style()->sizeFromContents(QStyle::CT_HeaderSection, &opt, QSize(), &header).width();
}

// The larger of what the style asks for the cell and what CellColorDelegate
// needs to draw the text without cutting it.
int cell_need(const QAbstractItemView& view, const ColumnSample& sample) {
  if (sample.text.isEmpty()) return 0;
  QStyleOptionViewItem opt;
  opt.initFrom(&view);
  opt.font = view.font();
  opt.fontMetrics = QFontMetrics(view.font());
  opt.text = sample.text;
  opt.features = QStyleOptionViewItem::HasDisplay;
  opt.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
  opt.textElideMode = view.textElideMode();
  opt.widget = &view;
  if (sample.icon) {
    const int pm = view.style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, &view);
    opt.features |= QStyleOptionViewItem::HasDecoration;
    opt.decorationSize = view.iconSize().isValid() ? view.iconSize() : QSize(pm, pm);
    opt.decorationPosition = QStyleOptionViewItem::Left;
  }
  int need = view.style()->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), &view).width();
  // The grid line takes a pixel of a table's cell.
  if (const auto* table = qobject_cast<const QTableView*>(&view); table && table->showGrid()) ++need;
  if (!sample.icon)
    need = std::max(need, opt.fontMetrics.horizontalAdvance(sample.text) + 2 * CellColorDelegate::kTextMargin + 1);
  return need;
}

}  // namespace

std::vector<int> fitted_column_widths(const QAbstractItemView& view, const QHeaderView& header,
                                      std::span<const int> described, std::span<const ColumnSample> samples,
                                      bool sort_mark) {
  std::vector<int> out;
  const int sections = header.count();
  for (int i = 0; i < sections; ++i) {
    const auto u = static_cast<std::size_t>(i);
    int width = u < described.size() ? described[u] : 0;
    width = std::max(width, header_need(header, i, sort_mark));
    if (u < samples.size()) width = std::max(width, cell_need(view, samples[u]));
    out.push_back(width);
  }
  return out;
}

}  // namespace tw::ui
