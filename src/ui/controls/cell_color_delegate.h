#pragma once
// Paints one cell of a report list the way the monitors' lists look: the
// cell's BackgroundRole colour filled over the whole cell, its text in the
// ForegroundRole colour, aligned by TextAlignmentRole and cut with "…" when
// the column is too narrow. Cells without a colour use the view's palette
// (Base is already painted by the view, Text for the text). Every cell of a
// selected row uses the palette's Highlight and HighlightedText instead, so a
// selection stays readable whatever colours the user picked.
//
// The delegate paints by itself rather than through the style because styles
// are free to ignore the colour roles (several desktop themes do), and the
// users choose these colours precisely to tell domains and states apart.
//
// Threads: the UI thread only.
#include <QStyledItemDelegate>

namespace tw::ui {

class CellColorDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  // Blank space left and right of the text, in pixels.
  static constexpr int kTextMargin = 4;

  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace tw::ui
