#include "ui/controls/cell_color_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

namespace tw::ui {

void CellColorDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);

  const bool selected = opt.state.testFlag(QStyle::State_Selected);
  const QPalette::ColorGroup group = !opt.state.testFlag(QStyle::State_Enabled) ? QPalette::Disabled
                                     : opt.state.testFlag(QStyle::State_Active) ? QPalette::Active
                                                                                 : QPalette::Inactive;
  QColor text_color;
  painter->save();
  if (selected) {
    painter->fillRect(opt.rect, opt.palette.brush(group, QPalette::Highlight));
    text_color = opt.palette.color(group, QPalette::HighlightedText);
  } else {
    // initStyleOption() has put BackgroundRole into backgroundBrush and
    // ForegroundRole into the palette's Text.
    if (opt.backgroundBrush.style() != Qt::NoBrush) painter->fillRect(opt.rect, opt.backgroundBrush);
    text_color = opt.palette.color(group, QPalette::Text);
  }

  if (!opt.text.isEmpty()) {
    const QRect text_rect = opt.rect.adjusted(kTextMargin, 0, -kTextMargin, 0);
    painter->setFont(opt.font);
    painter->setPen(text_color);
    const QString shown = opt.fontMetrics.elidedText(opt.text, Qt::ElideRight, text_rect.width());
    painter->drawText(text_rect, static_cast<int>(opt.displayAlignment | Qt::TextSingleLine), shown);
  }

  if (opt.state.testFlag(QStyle::State_HasFocus)) {
    QStyleOptionFocusRect focus;
    focus.QStyleOption::operator=(opt);
    focus.backgroundColor = selected ? opt.palette.color(group, QPalette::Highlight) : opt.palette.color(group, QPalette::Base);
    const QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, opt.widget);
  }
  painter->restore();
}

}  // namespace tw::ui
