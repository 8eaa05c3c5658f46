#include "ui/controls/list_copy.h"

#include <QAbstractItemView>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>

#include <algorithm>

namespace tw::ui {

std::vector<int> selected_rows(const QAbstractItemView& view) {
  std::vector<int> rows;
  const QItemSelectionModel* selection = view.selectionModel();
  if (!selection) return rows;
  // Ranges, not selectedRows(): that one lists a row only when every column
  // is selected, which hidden columns and cell selections break.
  for (const QItemSelectionRange& range : selection->selection()) {
    if (range.parent().isValid()) continue;
    for (int r = range.top(); r <= range.bottom(); ++r) rows.push_back(r);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

QString copy_text(const QAbstractItemView& view, const shell::CopyItems& items) {
  const QAbstractItemModel* model = view.model();
  if (!model) return {};
  const std::vector<int> rows = selected_rows(view);
  const std::vector<int> columns = shell::copy_columns(items, model->columnCount());
  const std::string text = shell::build_copy_text(rows, columns, [model](int row, int column) {
    return model->index(row, column).data(Qt::DisplayRole).toString().toStdString();
  });
  return QString::fromStdString(text);
}

bool copy_selected_rows(const QAbstractItemView& view, const shell::CopyItems& items, QClipboard* clipboard) {
  if (selected_rows(view).empty()) return false;
  if (!clipboard) clipboard = QGuiApplication::clipboard();
  clipboard->setText(copy_text(view, items));
  return true;
}

}  // namespace tw::ui
