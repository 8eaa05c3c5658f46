#include "ui/models/list_model_base.h"

#include <algorithm>
#include <utility>

#include "ui/common/qt_text.h"

namespace tw::ui {
namespace {

Qt::Alignment alignment_of(shell::ColumnAlign align) {
  return (align == shell::ColumnAlign::Right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
}

}  // namespace

ListModelBase::ListModelBase(std::span<const shell::ListColumn> columns, Language lang, QObject* parent)
    : QAbstractTableModel(parent), columns_(columns), lang_(lang) {}

int ListModelBase::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ListModelBase::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant ListModelBase::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const ListCell& cell = rows_[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
  switch (role) {
    case Qt::DisplayRole:
      return cell.text;
    case Qt::ForegroundRole:
      return cell.foreground.isValid() ? QVariant(cell.foreground) : QVariant();
    case Qt::BackgroundRole:
      return cell.background.isValid() ? QVariant(cell.background) : QVariant();
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(alignment_of(columns_[static_cast<std::size_t>(index.column())].align));
    default:
      return cell_data(index, role);
  }
}

QVariant ListModelBase::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  const shell::ListColumn& c = columns_[static_cast<std::size_t>(section)];
  if (role == Qt::DisplayRole) return qs(shell::column_header(c, lang_));
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(alignment_of(c.align));
  return {};
}

QVariant ListModelBase::cell_data(const QModelIndex&, int) const { return {}; }

QString ListModelBase::text(int r, int column) const {
  if (r < 0 || r >= rowCount() || column < 0 || column >= columnCount()) return {};
  return rows_[static_cast<std::size_t>(r)][static_cast<std::size_t>(column)].text;
}

void ListModelBase::fit(ListRow& row) const { row.resize(columns_.size()); }

void ListModelBase::replace_rows(std::vector<ListRow> rows) {
  for (ListRow& r : rows) fit(r);
  const std::size_t common = std::min(rows.size(), rows_.size());

  // Runs of changed rows, each announced once with the union of its changed
  // columns: a refresh that changes only the time column of every row costs
  // one signal and one repaint of that strip.
  std::size_t run_start = 0;
  int first_col = 0;
  int last_col = -1;
  auto flush = [&](std::size_t end) {
    if (last_col < 0) return;
    emit dataChanged(index(static_cast<int>(run_start), first_col), index(static_cast<int>(end) - 1, last_col));
    last_col = -1;
  };
  for (std::size_t r = 0; r < common; ++r) {
    int lo = -1;
    int hi = -1;
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      if (rows_[r][c] == rows[r][c]) continue;
      if (lo < 0) lo = static_cast<int>(c);
      hi = static_cast<int>(c);
    }
    if (lo < 0) {
      flush(r);
      continue;
    }
    rows_[r] = std::move(rows[r]);
    if (last_col < 0) {
      run_start = r;
      first_col = lo;
      last_col = hi;
    } else {
      first_col = std::min(first_col, lo);
      last_col = std::max(last_col, hi);
    }
  }
  flush(common);

  if (rows.size() > rows_.size()) {
    beginInsertRows({}, static_cast<int>(rows_.size()), static_cast<int>(rows.size()) - 1);
    std::move(rows.begin() + static_cast<std::ptrdiff_t>(common), rows.end(), std::back_inserter(rows_));
    endInsertRows();
  } else if (rows.size() < rows_.size()) {
    beginRemoveRows({}, static_cast<int>(rows.size()), static_cast<int>(rows_.size()) - 1);
    rows_.resize(rows.size());
    endRemoveRows();
  }
}

void ListModelBase::insert_rows(int position, std::vector<ListRow> rows) {
  if (rows.empty()) return;
  for (ListRow& r : rows) fit(r);
  position = std::clamp(position, 0, rowCount());
  beginInsertRows({}, position, position + static_cast<int>(rows.size()) - 1);
  rows_.insert(rows_.begin() + position, std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
  endInsertRows();
}

void ListModelBase::remove_rows(int position, int count) {
  const int first = std::max(position, 0);
  const long long end = std::min<long long>(static_cast<long long>(position) + count, rowCount());
  if (count <= 0 || first >= end) return;
  beginRemoveRows({}, first, static_cast<int>(end) - 1);
  rows_.erase(rows_.begin() + first, rows_.begin() + static_cast<std::ptrdiff_t>(end));
  endRemoveRows();
}

void ListModelBase::set_row(int r, ListRow row) {
  if (r < 0 || r >= rowCount()) return;
  fit(row);
  auto& old = rows_[static_cast<std::size_t>(r)];
  if (old == row) return;
  old = std::move(row);
  emit dataChanged(index(r, 0), index(r, columnCount() - 1));
}

void ListModelBase::set_sort_state(shell::SortState state) {
  if (state.column < 0 || state.column >= columnCount()) state.column = -1;
  if (state == sort_) return;
  sort_ = state;
  emit sort_state_changed(sort_);
}

}  // namespace tw::ui
