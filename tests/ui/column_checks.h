#pragma once
// Checks that a list shows its headers and typical cells whole at the widths
// it has: the header's own size hint (with the sort mark when it shows one)
// and the view's size hint for a column holding the typical texts.
#include <QAbstractItemView>
#include <QHeaderView>
#include <QString>

#include <gtest/gtest.h>

#include <functional>

#include "ui/controls/cell_color_delegate.h"

namespace tw::ui::test {

inline void expect_headers_whole(QHeaderView& header, bool sort_mark) {
  header.setSortIndicatorShown(sort_mark);
  for (int c = 0; c < header.count(); ++c) {
    header.setSortIndicator(c, Qt::AscendingOrder);
    EXPECT_LE(header.sectionSizeHint(c), header.sectionSize(c))
        << "header " << header.model()->headerData(c, Qt::Horizontal).toString().toStdString();
  }
}

// `view` holds rows of typical texts; `text(c)` is the widest text of column c.
inline void expect_cells_whole(const QAbstractItemView& view, int columns, const std::function<QString(int)>& text,
                               const std::function<int(int)>& width) {
  const QFontMetrics fm(view.font());
  for (int c = 0; c < columns; ++c) {
    const QString t = text(c);
    if (t.isEmpty()) continue;
    EXPECT_LE(view.sizeHintForColumn(c), width(c)) << "column " << c << ": " << t.toStdString();
    // What the list's own delegate needs to draw it without "…".
    EXPECT_LE(fm.horizontalAdvance(t) + 2 * CellColorDelegate::kTextMargin, width(c))
        << "column " << c << ": " << t.toStdString();
  }
}

}  // namespace tw::ui::test
