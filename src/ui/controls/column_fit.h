#pragma once
// The widths a list starts with when the settings file holds none: the
// described width, widened where the header or a typical cell text would be
// cut with "…" in the fonts and style of this desktop (and in Japanese,
// whose headers are wider). Stored widths are never changed by this: they
// are the user's.
//
// Threads: the UI thread only.
#include <QString>

#include <span>
#include <vector>

class QAbstractItemView;
class QHeaderView;

namespace tw::ui {

struct ColumnSample {
  QString text;       // a typical full cell text; empty: none
  bool icon = false;  // the cells show an icon before the text
};

// For every section of `header` (the horizontal header of `view`, whose
// model gives the header texts): the largest of described[i], the header's
// need (with room for the sort mark when `sort_mark`) and the need of
// samples[i] in the view's font, as the view's delegate and style would draw
// it. Sections beyond `described` keep 0 as their described width.
std::vector<int> fitted_column_widths(const QAbstractItemView& view, const QHeaderView& header,
                                      std::span<const int> described, std::span<const ColumnSample> samples,
                                      bool sort_mark);

}  // namespace tw::ui
