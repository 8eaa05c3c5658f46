#pragma once
// The pages of the Session Monitor group and NETSTAT's "View":
//   - Auto Kill Session: whether blocked connections are logged, the blocked
//     log's file name, and the auto-block rule file itself;
//   - Color: the 37 colours of the session and packet lists (one page object
//     that the Packet Monitor group shows too);
//   - Copy Items: which columns "Clipboard Copy" takes (a page for any list
//     with a "CopyItem" key);
//   - Log File: a log block with its template (a page for any of the logs);
//   - NETSTAT View: the twelve TCP states the listing shows.
#include <string>
#include <vector>

#include "logging/log_engine.h"
#include "sessions/session_settings.h"
#include "shared/domain_colours.h"
#include "shell/list_columns.h"
#include "ui/options/color_slot_page.h"
#include "ui/options/options_page.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QSpinBox;

namespace tw::ui {

class AutoKillSessionPage : public OptionsPage {
  Q_OBJECT
 public:
  // The rule file is read and written through the profile's file store.
  AutoKillSessionPage(settings::Profile& profile, const std::string& data_folder, Language lang, QWidget* parent);
  void load() override;
  void save() override;

  // Where the rules are: in the data folder.
  const std::string& rule_file_path() const { return rule_path_; }
  QPlainTextEdit* rules_editor() const { return rules_; }

 private:
  std::string rule_path_;
  QCheckBox* blocked_log_ = nullptr;
  QLineEdit* file_name_ = nullptr;
  QPlainTextEdit* rules_ = nullptr;
  QLabel* rules_problem_ = nullptr;
  sessions::AutoBlockSettings loaded_;
  // The rule file could be read (or is not there yet): only then may the
  // editor's text replace it.
  bool rules_writable_ = false;
  bool rules_existed_ = false;
};

// The colours of the session and packet lists, section "Surveil".
class MonitorColorPage : public ColorSlotPage {
  Q_OBJECT
 public:
  MonitorColorPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;

 private:
  shared::ListColours loaded_;
};

// "CopyItem" of one list: a check box per column, in column order. The
// fields beyond the list's columns keep what the file holds.
class CopyItemsPage : public OptionsPage {
  Q_OBJECT
 public:
  CopyItemsPage(shell::OptionsPageId id, std::string section, std::vector<shell::ListColumn> columns,
                settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;

  QCheckBox* column_box(int column) const;

 private:
  std::string section_;
  std::vector<QCheckBox*> boxes_;
  shell::CopyItems loaded_{};
};

// One log's block: "LogCheck", the file name, the period, the sound, the
// write mode and the entry template with its "Default" button.
class LogFilePage : public OptionsPage {
  Q_OBJECT
 public:
  LogFilePage(shell::OptionsPageId id, logging::LogKind kind, const QString& check_text, settings::Profile& profile,
              Language lang, QWidget* parent);
  void load() override;
  void save() override;

 private:
  void update_enabled();

  logging::LogKind kind_;
  QCheckBox* log_check_ = nullptr;
  QCheckBox* sound_ = nullptr;
  QCheckBox* overwrite_ = nullptr;
  QLineEdit* file_name_ = nullptr;
  QSpinBox* cycle_ = nullptr;
  QPlainTextEdit* format_ = nullptr;
  QList<QWidget*> dependents_;
  logging::LogBlock loaded_;
};

// NETSTAT / View: "Netstat"/"Filter".
class NetstatViewPage : public OptionsPage {
  Q_OBJECT
 public:
  NetstatViewPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;

  QListWidget* states() const { return states_; }

 private:
  QListWidget* states_ = nullptr;
};

// The Session Monitor group's columns for its Copy Items page.
std::vector<shell::ListColumn> session_copy_columns();

}  // namespace tw::ui
