#include "ui/models/session_list_model.h"

#include <array>
#include <string_view>
#include <utility>

#include "ui/colorref.h"
#include "ui/common/qt_text.h"

namespace tw::ui {
namespace {

// A typical full text of each column (English, Japanese where it differs),
// so that the list starts wide enough to show it.
constexpr std::array<std::pair<std::string_view, std::string_view>, sessions::kColumnCount> kSamples = {{
    {"255.255.255.255", ""}, {"(255.255.255.255)", ""}, {"65535", ""},
    {"255.255.255.255", ""}, {"(255.255.255.255)", ""}, {"65535", ""},
    {"CLOSE WAIT", ""}, {"12h 34m 56s", "12時間 34分 56秒"}, {"firefox-esr(123456)", ""},
}};

const std::array<shell::ListColumn, sessions::kColumnCount>& list_columns() {
  static const std::array<shell::ListColumn, sessions::kColumnCount> columns = [] {
    std::array<shell::ListColumn, sessions::kColumnCount> out{};
    const auto& src = sessions::session_columns();
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] = {src[i].header_en, src[i].header_ja, src[i].default_width,
                src[i].align_right ? shell::ColumnAlign::Right : shell::ColumnAlign::Left, kSamples[i].first,
                kSamples[i].second};
    return out;
  }();
  return columns;
}

QColor colour(shared::Colour c) { return from_colorref(c); }

bool is_address_or_host(int column) {
  return column == sessions::kLocalAddress || column == sessions::kLocalHost ||
         column == sessions::kRemoteAddress || column == sessions::kRemoteHost;
}

}  // namespace

SessionListModel::SessionListModel(Language lang, QObject* parent)
    : ListModelBase(list_columns(), lang, parent), colours_(shared::default_list_colours()) {}

void SessionListModel::set_colours(const shared::ListColours& colours) {
  colours_ = colours;
  // Every cell takes the new colours.
  std::vector<ListRow> rows;
  rows.reserve(shown_.size());
  for (const auto& r : shown_) rows.push_back(make_row(r));
  replace_rows(std::move(rows));
}

ListRow SessionListModel::make_row(const sessions::RowTexts& texts) const {
  ListRow row(sessions::kColumnCount);
  for (int c = 0; c < sessions::kColumnCount; ++c) {
    const std::string& t = texts[static_cast<std::size_t>(c)];
    ListCell& cell = row[static_cast<std::size_t>(c)];
    cell.text = qs(t);
    if (is_address_or_host(c))
      cell.foreground = colour(shared::cell_colour(colours_, t));
    else if (c == sessions::kStatus)
      cell.foreground = colour(colours_.get(shared::status_colour_key(t)));
    else
      cell.foreground = colour(colours_.get(shared::ColourKey::Text));
  }
  return row;
}

void SessionListModel::show(const std::vector<sessions::RowTexts>& rows) {
  std::vector<ListRow> out;
  out.reserve(rows.size());
  // A row whose texts did not change keeps its cells: most of a refresh is
  // the Time column moving on.
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i < shown_.size() && shown_[i] == rows[i])
      out.push_back(row(static_cast<int>(i)));
    else
      out.push_back(make_row(rows[i]));
  }
  shown_ = rows;
  replace_rows(std::move(out));
}

QVariant SessionListModel::cell_data(const QModelIndex& index, int role) const {
  if (role != Qt::ToolTipRole || !index.isValid() || !is_address_or_host(index.column()) ||
      index.row() >= rowCount())
    return {};
  const QString t = text(index.row(), index.column());
  if (!t.contains(QLatin1Char(':'))) return {};
  return t;
}

void SessionListModel::show_sort(const sessions::SortState& sort) {
  set_sort_state(shell::SortState{sort.column, sort.descending});
}

}  // namespace tw::ui
