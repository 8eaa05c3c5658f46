#pragma once
// The options dialog: a tree of the twelve option groups on the left, a row
// of tabs for the pages of the selected group, the selected page below them,
// and OK / Cancel.
//
// Usage (main window, UI thread):
//   OptionsDialog dialog(profile, data_folder, lang, this);
//   if (dialog.exec() == QDialog::Accepted) { reload the shell settings ... }
// Every page has written its keys before exec() returns Accepted; after Cancel
// no page has written anything. The last group and tab are written on every
// close (shell::save_options_position), so the next dialog opens where this
// one was left. To open at a given page, save that position first (the Mini
// Monitor's "Options" item opens at group 0, tab 3).
//
// One dialog serves one opening: create a new one each time.
#include <QDialog>

#include <array>
#include <string>

#include "base/language.h"
#include "shell/options_model.h"
#include "settings/profile.h"

class QPushButton;
class QStackedWidget;
class QTabBar;
class QTreeWidget;

namespace tw::ui {

class OptionsPage;

class OptionsDialog : public QDialog {
  Q_OBJECT
 public:
  // `profile` must outlive the dialog; its file store keeps the files the
  // pages edit (rule file, WHOIS table), which lie in `data_folder` (ends in
  // '/'). Creates all pages (each loads its keys) and selects the stored group
  // and tab.
  OptionsDialog(settings::Profile& profile, const std::string& data_folder, Language lang,
                QWidget* parent = nullptr);
  ~OptionsDialog() override;

  // OK sets every page's apply flag, anything else clears them; then the
  // selection is written and the pages with their flag set save themselves.
  void done(int result) override;

  // Selects a group in the tree (nothing happens for a number outside 0..11)
  // and, when `tab` is given, a tab of it, as the user would.
  void select_group(int group);
  void select_tab(int tab);

  const shell::OptionsFrame& frame() const { return frame_; }
  OptionsPage* page(shell::OptionsPageId id) const;
  // The page on view, or nullptr when the right side is empty.
  OptionsPage* visible_page() const;
  QTreeWidget* tree() const { return tree_; }
  QTabBar* tab_bar() const { return tabs_; }
  QPushButton* ok_button() const { return ok_; }
  QPushButton* cancel_button() const { return cancel_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void apply_tree_colors();
  void on_tree_selection();
  void on_tab_changed(int index);
  void rebuild_tabs();
  void show_page();
  void finish();

  settings::Profile& profile_;
  const Language lang_;
  shell::OptionsFrame frame_;
  std::array<OptionsPage*, shell::kOptionsPageCount> pages_{};
  QTreeWidget* tree_ = nullptr;
  QTabBar* tabs_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  QWidget* blank_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  bool finished_ = false;
};

}  // namespace tw::ui
