#pragma once
// Options pages of the tools: NSLOOKUP "NS Record" (record types and the
// resolver choice), WHOIS "WHOIS Server" (the server table and its editor),
// PING "PING" and TRACERT "TRACERT" (the program's options).
#include <QString>

#include <array>
#include <functional>
#include <string>

#include "tools/tool_settings.h"
#include "ui/options/options_page.h"

class QCheckBox;
class QLineEdit;
class QTreeWidget;

namespace tw::ui {

class NsRecordPage : public OptionsPage {
  Q_OBJECT
 public:
  NsRecordPage(settings::Profile& profile, Language lang, QWidget* parent);
  void load() override;
  void save() override;

 private:
  std::array<QCheckBox*, 10> types_{};
  QCheckBox* direct_ = nullptr;
};

// The table is read (and, when there is none, written with the default
// servers) through the profile's file store; a file that cannot be read is
// shown as an empty table and left as it is.
class WhoisServerPage : public OptionsPage {
  Q_OBJECT
 public:
  WhoisServerPage(settings::Profile& profile, const std::string& data_folder, Language lang, QWidget* parent);
  // Fills the table from the file again.
  void load() override;
  // The Edit button: writes the default table when there is none and opens
  // the file in the desktop's editor; says so when it cannot be opened.
  void edit();

  QTreeWidget* table() const { return table_; }
  // The server table file in the data folder.
  const std::string& table_path() const { return table_path_; }

  // Where Edit opens the file; tests replace it. False when the file could
  // not be opened.
  std::function<bool(const QString& path)> open_file;

 private:
  std::string table_path_;
  QTreeWidget* table_ = nullptr;
};

class CommandOptionsPage : public OptionsPage {
  Q_OBJECT
 public:
  CommandOptionsPage(const tools::CommandToolKind& kind, shell::OptionsPageId id, settings::Profile& profile,
                     Language lang, QWidget* parent);
  void load() override;
  void save() override;

 private:
  const tools::CommandToolKind& kind_;
  QLineEdit* options_ = nullptr;
};

}  // namespace tw::ui
