#pragma once
// The "Packet Filter" tab: the rule grid with its cell cursor and three cell
// editors, the START/STOP, Reload and Edit buttons and the grid's context
// menu. The page is thin: every change goes to the FilterController, which
// the runtime's feature shares (it serves the commands and restores
// filtering at start), and the grid shows what the controller holds.
//
// Keys on the grid: arrows move the cell cursor; Home, End, Page Up/Down move
// its row (to the first, the last, a page up or down) and keep its column;
// Enter toggles the Action, steps the Protocol or opens a cell's editor with
// its text selected (a double click is an Enter); a digit opens an address,
// mask or port editor holding that digit; Ctrl+Up/Down move the rule; Insert
// adds a default rule before the cursor row, Delete deletes the cursor row.
// In an editor Enter commits and Escape leaves the cell as it was; a text
// that is no complete address, range or number is not committed: the editor
// stays open, marked red. "All Action set to ..." commits an open editor
// first. Below the grid, what is wrong with the rule file (it cannot be read
// or written, rows kept that are no rules) or with the last change.
//
// Threads: the UI thread only. The controller and the profile must outlive
// the page.
#include <QWidget>

#include <array>
#include <memory>

#include "base/language.h"
#include "packetfilter/filter_controller.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace tw::settings {
class Profile;
}

namespace tw::ui {

class ColumnWidthPersister;
class PacketFilterModel;

class PacketFilterPage : public QWidget {
  Q_OBJECT
 public:
  PacketFilterPage(packetfilter::FilterController& filter, settings::Profile& profile, Language lang,
                   QWidget* parent = nullptr);
  ~PacketFilterPage() override;

  QTableView* grid() const { return view_; }
  QPushButton* start_button() const { return start_; }
  QPushButton* reload_button() const { return reload_; }
  QPushButton* edit_button() const { return edit_; }
  // The rule file's report below the grid (hidden when there is none).
  QLabel* file_report() const { return report_; }
  // The editor that is open, null when none.
  QLineEdit* open_editor() const;

  // Where the Edit button opens the file; tests replace it. Returns false
  // when the file could not be opened.
  std::function<bool(const QString& path)> open_file;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum Editor { kAddressEditor, kPortEditor, kMemoEditor };
  void follow_controller();
  void show_context_menu(const QPoint& pos);
  bool grid_key(int key, Qt::KeyboardModifiers mods, const QString& text);
  void enter_on_cell();
  void open_editor_later(Editor which, const QString& initial, bool select_all);
  // False when the text is refused (the editor stays open, marked).
  bool commit_editor();
  void hide_editors();
  void mark_invalid(QLineEdit* editor, bool invalid);
  void set_all_actions(bool drop);
  int rows_per_page() const;
  void insert_row();
  void delete_row();
  void edit_file();
  void set_cursor(int row, int column);
  int cursor_row() const;
  int cursor_column() const;

  packetfilter::FilterController& filter_;
  settings::Profile& profile_;
  Language lang_;
  PacketFilterModel* model_ = nullptr;
  QTableView* view_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* reload_ = nullptr;
  QPushButton* edit_ = nullptr;
  QLabel* report_ = nullptr;
  std::array<QLineEdit*, 3> editors_{};
  int editing_row_ = -1, editing_column_ = -1;
  std::unique_ptr<ColumnWidthPersister> widths_;
};

}  // namespace tw::ui
