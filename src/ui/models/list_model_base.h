#pragma once
// Base of the monitors' report-list models: a table of display texts with
// optional per-cell text and background colours, the header texts in the
// user-interface language, and the sort mark the header shows.
//
// A subclass defines its column enum and a matching shell::ListColumn table,
// turns its records into ListRows and hands them over with the row updates
// below. The updates are made for lists that refresh often (the session list
// every 500 ms, the packet list one row per display tick): they never reset
// the model, so the view keeps its scroll position, and selections follow row
// positions, not records.
//
// Roles: DisplayRole the text, ForegroundRole / BackgroundRole the cell's
// colours when set (no value otherwise: the view's own colours apply),
// TextAlignmentRole the column's alignment (also for the header). Anything
// else goes to cell_data().
//
// Threads: the UI thread only.
#include <QAbstractTableModel>
#include <QColor>
#include <QString>

#include <span>
#include <vector>

#include "base/language.h"
#include "shell/list_columns.h"

namespace tw::ui {

struct ListCell {
  QString text;
  QColor foreground;  // invalid: the list's text colour
  QColor background;  // invalid: the list's background
  friend bool operator==(const ListCell&, const ListCell&) = default;
};
using ListRow = std::vector<ListCell>;

class ListModelBase : public QAbstractTableModel {
  Q_OBJECT
 public:
  // `columns` must outlive the model (a static table of the subclass).
  ListModelBase(std::span<const shell::ListColumn> columns, Language lang, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  std::span<const shell::ListColumn> columns() const { return columns_; }
  Language language() const { return lang_; }
  std::vector<int> default_widths() const { return shell::default_column_widths(columns_); }

  const ListRow& row(int r) const { return rows_[static_cast<std::size_t>(r)]; }
  QString text(int r, int column) const;

  // Makes the model hold exactly `rows`, compared by position with what it
  // holds: changed rows are announced with dataChanged (one signal per run of
  // changed rows, spanning the changed columns), rows beyond the old count are
  // inserted at the end, surplus rows removed from the end. Unchanged rows
  // emit nothing. Rows are cut or padded to the column count.
  void replace_rows(std::vector<ListRow> rows);
  // Inserts before `position` (clamped to 0..rowCount()).
  void insert_rows(int position, std::vector<ListRow> rows);
  // Removes up to `count` rows from `position`; out-of-range parts are ignored.
  void remove_rows(int position, int count);
  void set_row(int r, ListRow row);

  // The sort mark; column -1 shows none. Emits sort_state_changed on change.
  shell::SortState sort_state() const { return sort_; }
  void set_sort_state(shell::SortState state);

 signals:
  void sort_state_changed(shell::SortState state);

 protected:
  // Roles the base does not serve (icons, tool tips …). Default: nothing.
  virtual QVariant cell_data(const QModelIndex& index, int role) const;

 private:
  void fit(ListRow& row) const;

  std::span<const shell::ListColumn> columns_;
  Language lang_;
  std::vector<ListRow> rows_;
  shell::SortState sort_;
};

}  // namespace tw::ui
