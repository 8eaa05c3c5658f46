#pragma once
// The list control of the Session Monitor, Packet Monitor and Packet Filter
// pages: a flat, grid-less report list with full-row selection (several rows
// with Shift and Ctrl), per-cell colours (CellColorDelegate), column widths
// kept in the settings file (ColumnWidthPersister) and the sort mark of a
// ListModelBase in its header.
//
// Header clicks are reported through header_clicked(); the owner decides
// what a click means (the session list re-sorts and moves the mark, the
// filter grid never sorts), and the mark always shows the model's sort state.
// Ctrl+C copies the "CopyItem" columns of the selected rows.
//
// Use: ReportListView view(parent); view.set_list_model(model);
// view.keep_column_widths(profile, "Session"); … the widths are written when
// the view is destroyed, or earlier with save_column_widths().
//
// Threads: the UI thread only. The profile must outlive the view.
#include <QPointer>
#include <QTreeView>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/list_columns.h"
#include "ui/models/list_model_base.h"

namespace tw::settings {
class Profile;
}

namespace tw::ui {

class ColumnWidthPersister;

class ReportListView : public QTreeView {
  Q_OBJECT
 public:
  explicit ReportListView(QWidget* parent = nullptr);
  ~ReportListView() override;

  // Shows `model` (not owned; it may be destroyed first): the list font of
  // its language (list_font()), default column widths fitted to the headers
  // and typical texts (fitted_column_widths()), header alignment and the
  // model's sort mark. `sorted_by_header`: the owner sorts on header clicks,
  // so every header keeps room for the sort mark.
  void set_list_model(ListModelBase* model, bool sorted_by_header = false);
  // The widths the columns start with when none are stored.
  const std::vector<int>& default_widths() const { return default_widths_; }
  ListModelBase* list_model() const { return model_; }

  // Loads the widths of `section`/"ColnmWidth" now and writes them back when
  // the view is destroyed. Call after set_list_model().
  void keep_column_widths(settings::Profile& profile, std::string section);
  // Writes the widths now; false when no settings are kept or the write failed.
  bool save_column_widths();

  // The list's own colours (settings "Color_TextBk" and "Color_Text"):
  // 0x00BBGGRR values; nullopt keeps the style's colour.
  void set_base_colors(std::optional<std::uint32_t> background, std::optional<std::uint32_t> text);

  void set_copy_items(const shell::CopyItems& items) { copy_items_ = items; }
  const shell::CopyItems& copy_items() const { return copy_items_; }
  // "Clipboard Copy": false when no row is selected (the clipboard is kept).
  bool copy_selection();

 signals:
  void header_clicked(int column);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void show_sort_mark(shell::SortState state);

  QPointer<ListModelBase> model_;
  std::vector<int> default_widths_;
  std::unique_ptr<ColumnWidthPersister> widths_;
  shell::CopyItems copy_items_ = shell::kDefaultCopyItems;
};

}  // namespace tw::ui
