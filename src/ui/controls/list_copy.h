#pragma once
// "Clipboard Copy" of the report lists: the chosen columns ("CopyItem") of
// the selected rows, in list order, each cell followed by a blank and each
// row by CR LF, taken from the model's display texts.
//
// Threads: the UI thread only.
#include <QString>

#include <vector>

#include "shell/list_columns.h"

class QAbstractItemView;
class QClipboard;

namespace tw::ui {

// Selected rows of the view, ascending.
std::vector<int> selected_rows(const QAbstractItemView& view);

QString copy_text(const QAbstractItemView& view, const shell::CopyItems& items);

// Puts copy_text() on `clipboard` (the application's when null). With no row
// selected the clipboard is left as it is and false is returned: replacing
// the user's clipboard with nothing would only lose what was there.
bool copy_selected_rows(const QAbstractItemView& view, const shell::CopyItems& items, QClipboard* clipboard = nullptr);

}  // namespace tw::ui
